#pragma once

#include <QByteArray>
#include <QString>

namespace sentry::detail {

// File names of reports in the database folder.
inline constexpr char kReportSuffix[] = ".crash";
inline constexpr char kPartialSuffix[] = ".crash.tmp";

struct CrashHandlerSetup
{
    QString directory; // must exist
    QByteArray eventId;
    QByteArray release;
    QByteArray environment;
};

// Installs the fatal-signal handlers for the process and an alternate signal
// stack for the calling thread. Everything the handler needs is prepared here.
bool installCrashHandlers(const CrashHandlerSetup &setup, QString *error);

} // namespace sentry::detail
