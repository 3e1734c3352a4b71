#include "analyticscollector.h"

#include <buildconfig.h>
#include <mixpanel.h>

#include <QUuid>

namespace {

mixpanel::MixpanelInstance *startAnalytics()
{
    mixpanel::Mixpanel::Configuration configuration;
    configuration.serverUrl = QUrl(QString::fromLatin1(BuildConfig::kAnalyticsUrl));
    const QString instanceName = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    auto *instance = mixpanel::Mixpanel::initialize(QString::fromLatin1(BuildConfig::kAnalyticsToken),
                                                    instanceName, false, 60, configuration);
    mixpanel::Mixpanel::mainInstance()->identify(instance->distinctId(), true);
    return instance;
}

} // namespace

AnalyticsCollector::AnalyticsCollector() : mixpanel(startAnalytics()) {}

AnalyticsCollector::AnalyticsCollector(mixpanel::MixpanelInstance *instance) : mixpanel(instance) {}

void AnalyticsCollector::track(const QString &event)
{
    mixpanel->track(event);
}

void AnalyticsCollector::track(const QString &event, const QMap<QString, QString> &properties)
{
    mixpanel->track(event, properties);
}

QString AnalyticsCollector::distinctId() const
{
    return mixpanel->distinctId();
}
