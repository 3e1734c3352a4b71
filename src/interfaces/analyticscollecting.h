#pragma once

#include <QMap>
#include <QString>

// The analytics sink: usage events with string properties.
class AnalyticsCollecting
{
public:
    virtual ~AnalyticsCollecting() = default;

    virtual void track(const QString &event) = 0;
    virtual void track(const QString &event, const QMap<QString, QString> &properties) = 0;
    // The installation's identity, sent along with backend requests.
    virtual QString distinctId() const = 0;
};
