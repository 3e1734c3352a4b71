#pragma once

// What the in-process benchmarks share.

#include <analyticscollecting.h>

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>
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

// Runs the event loop for that long.
inline void settle(int ms)
{
    runUntil([] { return false; }, ms);
}

inline double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A window opened and closed over and over: the milliseconds to each showing
// and the resident memory along the way.
struct Openings
{
    double first = -1;
    std::vector<double> later;
    double afterFirstMb = 0;
    double beforeCyclesMb = 0;
    double afterCyclesMb = 0;
};

// open() gives the milliseconds to the window shown, or a negative number
// when it did not show; then close() closes it. The first opening, 20 more
// timed, then cycles more for the memory. None when an opening failed.
inline std::optional<Openings> measureOpenings(const std::function<double()> &open,
                                               const std::function<void()> &close, int cycles)
{
    Openings o;
    o.first = open();
    close();
    settle(1000);
    o.afterFirstMb = residentMegabytes();
    for (int i = 0; i < 20; ++i) {
        o.later.push_back(open());
        close();
    }
    settle(1000);
    o.beforeCyclesMb = residentMegabytes();
    for (int i = 0; i < cycles; ++i) {
        if (open() < 0)
            return std::nullopt;
        close();
    }
    settle(1500);
    o.afterCyclesMb = residentMegabytes();
    if (o.first < 0 || std::any_of(o.later.begin(), o.later.end(), [](double t) { return t < 0; }))
        return std::nullopt;
    return o;
}

} // namespace bench
