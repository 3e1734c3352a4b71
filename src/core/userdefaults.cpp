#include "userdefaults.h"

#include <QCoreApplication>

UserDefaults::UserDefaults()
    : m_settings(QCoreApplication::organizationName(), QCoreApplication::applicationName())
{
}

UserDefaults::UserDefaults(const QString &fileName) : m_settings(fileName, QSettings::IniFormat) {}

std::optional<QString> UserDefaults::string(const QString &key) const
{
    // Another process (or the user) may have changed the file since we read it.
    m_settings.sync();
    const QVariant value = m_settings.value(key);
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return value.toString();
    default:
        // Missing, or a list or other structure that has no string reading.
        return std::nullopt;
    }
}

void UserDefaults::setValue(const std::optional<QString> &value, const QString &key)
{
    if (value)
        m_settings.setValue(key, *value);
    else
        m_settings.remove(key);
    // Written at once: nothing is saved at termination.
    m_settings.sync();
}
