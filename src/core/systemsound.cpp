#include "systemsound.h"

#include <QCoreApplication>
#include <QSoundEffect>
#include <QUrl>

SystemSound &SystemSound::zorble()
{
    static auto *sound = new SystemSound(QStringLiteral("qrc:/sounds/zorble.wav"));
    return *sound;
}

SystemSound::SystemSound(const QString &resource) : m_resource(resource)
{
    // Lives as long as the application object; the effect is made on first use.
    if (auto *app = QCoreApplication::instance())
        setParent(app);
}

void SystemSound::play()
{
    if (!m_effect) {
        m_effect = new QSoundEffect(this);
        m_effect->setSource(QUrl(m_resource));
    }
    m_effect->play();
    Q_EMIT played();
}
