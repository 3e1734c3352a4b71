#pragma once

// A client of Sentry's envelope protocol. Fatal signals write a report with
// a backtrace into the program's data folder; the next start sends each
// pending report and deletes it once the ingest accepted it.

#include <QString>

#include <functional>

class QNetworkAccessManager;

namespace sentry {

struct Options
{
    // https://<public key>@<ingest host>/<project id>; HTTP only on loopback.
    QString dsn;
    bool enableTracing = false;
    double tracesSampleRate = 0.0;
    bool enableTimeToFullDisplayTracing = false;
    bool swiftAsyncStacktraces = false;

    // Filled with defaults by start() when left empty.
    QString releaseName;  // "<app id>@<version>+<build>"
    QString databasePath; // folder of pending reports
    QNetworkAccessManager *network = nullptr;
};

class SentrySDK
{
public:
    // Starts crash reporting once; a second call is ignored.
    static void start(const std::function<void(Options &)> &configure);
    static bool isEnabled();
    static const Options &options();
};

} // namespace sentry
