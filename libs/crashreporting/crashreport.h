#pragma once

// Reading the reports the signal handler leaves behind and turning them into
// Sentry events.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace sentry {
struct Options;
}

namespace sentry::detail {

// One line of /proc/<pid>/maps.
struct MapEntry
{
    quint64 start = 0;
    quint64 end = 0;
    quint64 offset = 0;
    QByteArray device;
    quint64 inode = 0;
    QString path;
};

std::vector<MapEntry> parseMaps(const QByteArray &text);
std::vector<MapEntry> currentProcessMaps();

struct CrashReport
{
    QString eventId;
    QString release;
    QString environment;
    QString executable;
    QString osRelease;
    QString osVersion;
    QString machine;
    qint64 startedMs = 0;
    qint64 timeMs = 0;
    quint64 pid = 0;
    int signal = 0;
    int code = 0;
    quint64 faultAddress = 0;
    quint64 pc = 0;
    std::vector<quint64> frames; // innermost first, as unwound
    std::vector<MapEntry> maps;  // of the crashed process
};

std::optional<CrashReport> parseReport(const QByteArray &data, QString *error);

struct SymbolisedFrame
{
    quint64 instructionAddress = 0; // in the crashed process
    quint64 imageAddress = 0;       // load address of its module there
    QString package;                // module path, empty when unmapped
    QString function;
    QString sourceFile;
    int line = 0;
    bool inApp = false;
};

// Innermost first, starting at the interrupted instruction. Frames are named
// only when their module is the same file in this process.
std::vector<SymbolisedFrame> symbolise(const CrashReport &report,
                                       const std::vector<MapEntry> &currentMaps);

QString signalName(int signal);

// The event payload (JSON) for a report.
QByteArray buildEvent(const CrashReport &report, const std::vector<SymbolisedFrame> &frames,
                      const Options &options);

// A single-item envelope carrying the event.
QByteArray buildEnvelope(const QByteArray &event, const QString &eventId, const QString &dsn,
                         const QDateTime &sentAt);

} // namespace sentry::detail
