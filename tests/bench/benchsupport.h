#pragma once

// What the in-process benchmarks share.

#include <analyticscollecting.h>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace bench {

class QuietAnalytics : public AnalyticsCollecting
{
public:
    void track(const QString &) override {}
    void track(const QString &, const QMap<QString, QString> &) override {}
    QString distinctId() const override { return QStringLiteral("bench"); }
};

// Runs the event loop until done() holds or the time is up. QTest's waits
// sleep 10 ms between turns, which would be measured as the program's delay.
inline bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace bench
