#pragma once

#include "analyticscollecting.h"

namespace mixpanel {
class MixpanelInstance;
}

class AnalyticsCollector : public AnalyticsCollecting
{
public:
    // Starts the analytics client with the built-in project.
    AnalyticsCollector();
    // Uses an already started client instance.
    explicit AnalyticsCollector(mixpanel::MixpanelInstance *instance);

    void track(const QString &event) override;
    void track(const QString &event, const QMap<QString, QString> &properties) override;
    QString distinctId() const override;

    mixpanel::MixpanelInstance *const mixpanel;
};
