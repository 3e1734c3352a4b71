#include "userdefaults.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString countersFileBeside(const QString &preferences)
{
    const QFileInfo file(preferences);
    return file.path() + QLatin1Char('/') + file.completeBaseName() + QStringLiteral("-counters.conf");
}

} // namespace

UserDefaults::UserDefaults()
    : m_settings(QCoreApplication::organizationName(), QCoreApplication::applicationName())
    , m_counters(countersFileBeside(m_settings.fileName()), QSettings::IniFormat)
{
}

UserDefaults::UserDefaults(const QString &fileName)
    : m_settings(fileName, QSettings::IniFormat)
    , m_counters(countersFileBeside(fileName), QSettings::IniFormat)
{
}

bool UserDefaults::isCounter(const QString &key)
{
    return key == QLatin1String("usageCounterKey");
}

QSettings &UserDefaults::settingsFor(const QString &key) const
{
    return isCounter(key) ? m_counters : m_settings;
}

std::optional<QString> UserDefaults::string(const QString &key) const
{
    QSettings &settings = settingsFor(key);
    // Another process (or the user) may have changed the file since we read it.
    settings.sync();
    QVariant value = settings.value(key);
    if (!value.isValid() && isCounter(key)) {
        // Counted in the preferences by earlier versions: read from there
        // until the next count moves it.
        m_settings.sync();
        value = m_settings.value(key);
    }
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
    QSettings &settings = settingsFor(key);
    if (value)
        settings.setValue(key, *value);
    else
        settings.remove(key);
    // Written at once: nothing is saved at termination.
    settings.sync();
    if (isCounter(key) && m_settings.contains(key)) {
        // Moved out of the preferences, which are rewritten this once.
        m_settings.remove(key);
        m_settings.sync();
    }
}
