#pragma once

// A client of Sentry's envelope protocol. Fatal signals write a report with
// a backtrace into the program's data folder; the next start sends each
// pending report and deletes it once the ingest accepted it.

#include <QString>

#include <functional>

class QNetworkAccessManager;

namespace sentry {

inline constexpr char kClientName[] = "wugg.crashreporting";
inline constexpr char kClientVersion[] = "1.0.0";

// What the pass over pending reports after start() did.
struct DeliverySummary
{
    int delivered = 0; // accepted by the ingest and deleted
    int kept = 0;      // left for the next start (ingest unreachable or refusing)
    int setAside = 0;  // corrupt or rejected as malformed, moved out of the queue
};

struct Options
{
    // https://<public key>@<ingest host>/<project id>; HTTP only on loopback.
    QString dsn;
    // Kept and reported with each event; this client sends no transactions.
    bool enableTracing = false;
    double tracesSampleRate = 0.0;
    bool enableTimeToFullDisplayTracing = false;
    bool swiftAsyncStacktraces = false;

    // Filled with defaults by start() when left empty.
    QString releaseName;  // "<application name>@<application version>"
    QString databasePath; // folder of pending reports
    QString environment;  // "production"
    QNetworkAccessManager *network = nullptr; // one of our own when null

    // Called on the event loop once the pending reports have been handled.
    std::function<void(const DeliverySummary &)> onPendingReportsHandled;
};

class SentrySDK
{
public:
    // Starts crash reporting once; a second call is ignored. Needs a
    // QCoreApplication to send pending reports; the alternate signal stack
    // (for stack overflows) covers the calling thread.
    static void start(const std::function<void(Options &)> &configure);
    // True when the DSN is usable: crashes are recorded and sent.
    static bool isEnabled();
    static const Options &options();
};

} // namespace sentry
