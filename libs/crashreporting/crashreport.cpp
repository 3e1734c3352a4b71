#include "crashreport.h"

#include "sentrysdk.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include "dsn.h"

#include <boost/stacktrace/frame.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>

namespace sentry::detail {

namespace {

using json = nlohmann::json;

bool parseHex(const QByteArray &text, quint64 *value)
{
    if (!text.startsWith("0x"))
        return false;
    bool ok = false;
    *value = text.mid(2).toULongLong(&ok, 16);
    return ok;
}

QString hexString(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

const MapEntry *findEntry(const std::vector<MapEntry> &maps, quint64 address)
{
    for (const MapEntry &e : maps)
        if (address >= e.start && address < e.end)
            return &e;
    return nullptr;
}

quint64 imageBase(const std::vector<MapEntry> &maps, const MapEntry &entry)
{
    quint64 base = entry.start - entry.offset;
    for (const MapEntry &e : maps)
        if (e.path == entry.path && e.inode == entry.inode && e.offset == 0)
            base = std::min(base, e.start);
    return base;
}

const char *signalDescription(int signal)
{
    switch (signal) {
    case SIGSEGV: return "Segmentation fault";
    case SIGBUS: return "Bus error";
    case SIGFPE: return "Floating-point exception";
    case SIGILL: return "Illegal instruction";
    case SIGABRT: return "Aborted";
    default: return "Fatal signal";
    }
}

QString codeName(int signal, int code)
{
    if (code == SI_USER) return QStringLiteral("SI_USER");
    if (code == SI_TKILL) return QStringLiteral("SI_TKILL");
    if (code == SI_QUEUE) return QStringLiteral("SI_QUEUE");
    switch (signal) {
    case SIGSEGV:
        if (code == SEGV_MAPERR) return QStringLiteral("SEGV_MAPERR");
        if (code == SEGV_ACCERR) return QStringLiteral("SEGV_ACCERR");
        break;
    case SIGBUS:
        if (code == BUS_ADRALN) return QStringLiteral("BUS_ADRALN");
        if (code == BUS_ADRERR) return QStringLiteral("BUS_ADRERR");
        if (code == BUS_OBJERR) return QStringLiteral("BUS_OBJERR");
        break;
    case SIGFPE:
        if (code == FPE_INTDIV) return QStringLiteral("FPE_INTDIV");
        if (code == FPE_INTOVF) return QStringLiteral("FPE_INTOVF");
        if (code == FPE_FLTDIV) return QStringLiteral("FPE_FLTDIV");
        break;
    case SIGILL:
        if (code == ILL_ILLOPC) return QStringLiteral("ILL_ILLOPC");
        if (code == ILL_ILLOPN) return QStringLiteral("ILL_ILLOPN");
        break;
    default:
        break;
    }
    return {};
}

// Signals raised by a fault carry the faulting address; sent ones don't.
bool hasFaultAddress(int signal, int code)
{
    return code > 0 && signal != SIGABRT;
}

} // namespace

std::vector<MapEntry> parseMaps(const QByteArray &text)
{
    // start-end perms offset dev inode [path]; the path may contain spaces.
    std::vector<MapEntry> maps;
    for (const QByteArray &line : text.split('\n')) {
        QByteArray fields[5];
        qsizetype pos = 0;
        for (QByteArray &field : fields) {
            while (pos < line.size() && line[pos] == ' ')
                ++pos;
            const qsizetype begin = pos;
            while (pos < line.size() && line[pos] != ' ')
                ++pos;
            field = line.mid(begin, pos - begin);
        }
        const qsizetype dash = fields[0].indexOf('-');
        if (dash < 0 || fields[4].isEmpty())
            continue;
        MapEntry e;
        bool ok1 = false, ok2 = false, ok3 = false, ok4 = false;
        e.start = fields[0].left(dash).toULongLong(&ok1, 16);
        e.end = fields[0].mid(dash + 1).toULongLong(&ok2, 16);
        e.offset = fields[2].toULongLong(&ok3, 16);
        e.device = fields[3];
        e.inode = fields[4].toULongLong(&ok4, 10);
        if (!ok1 || !ok2 || !ok3 || !ok4 || e.end <= e.start)
            continue;
        e.path = QFile::decodeName(line.mid(pos).trimmed());
        maps.push_back(std::move(e));
    }
    return maps;
}

std::vector<MapEntry> currentProcessMaps()
{
    QFile file(QStringLiteral("/proc/self/maps"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseMaps(file.readAll());
}

std::optional<CrashReport> parseReport(const QByteArray &data, QString *error)
{
    auto fail = [error](const QString &reason) -> std::optional<CrashReport> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    static const QByteArray kTrailer = "end-of-report\n";
    if (!data.startsWith("wugg-crash 1\n"))
        return fail(QStringLiteral("not a crash report"));
    if (!data.endsWith(kTrailer))
        return fail(QStringLiteral("the report is truncated"));
    const qsizetype mapsAt = data.indexOf("\nmaps\n");
    if (mapsAt < 0)
        return fail(QStringLiteral("the report has no module list"));

    CrashReport report;
    const qsizetype mapsBegin = mapsAt + 6;
    report.maps = parseMaps(data.mid(mapsBegin, data.size() - kTrailer.size() - mapsBegin));

    const QList<QByteArray> lines = data.left(mapsAt).split('\n');
    bool haveSignal = false, haveTime = false, haveFrames = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = space < 0 ? line : line.left(space);
        const QByteArray value = space < 0 ? QByteArray() : line.mid(space + 1);
        bool ok = true;
        if (key == "event_id") report.eventId = QString::fromUtf8(value);
        else if (key == "release") report.release = QString::fromUtf8(value);
        else if (key == "environment") report.environment = QString::fromUtf8(value);
        else if (key == "executable") report.executable = QFile::decodeName(value);
        else if (key == "os_release") report.osRelease = QString::fromUtf8(value);
        else if (key == "os_version") report.osVersion = QString::fromUtf8(value);
        else if (key == "machine") report.machine = QString::fromUtf8(value);
        else if (key == "started_ms") report.startedMs = value.toLongLong(&ok);
        else if (key == "time_ms") { report.timeMs = value.toLongLong(&ok); haveTime = ok; }
        else if (key == "pid") report.pid = value.toULongLong(&ok);
        else if (key == "signal") { report.signal = value.toInt(&ok); haveSignal = ok && report.signal > 0; }
        else if (key == "code") report.code = value.toInt(&ok);
        else if (key == "address") ok = parseHex(value, &report.faultAddress);
        else if (key == "pc") ok = parseHex(value, &report.pc);
        else if (key == "frames") {
            const qsizetype count = value.toLongLong(&ok);
            if (!ok || count < 0 || i + count >= lines.size())
                return fail(QStringLiteral("the frame list is incomplete"));
            for (qsizetype f = 0; f < count; ++f) {
                quint64 address = 0;
                if (!parseHex(lines[++i], &address))
                    return fail(QStringLiteral("bad frame address \"%1\"").arg(QString::fromLatin1(lines[i])));
                report.frames.push_back(address);
            }
            haveFrames = true;
        }
        if (!ok)
            return fail(QStringLiteral("bad value for \"%1\"").arg(QString::fromLatin1(key)));
    }
    if (!isLowerHex(report.eventId, 32))
        return fail(QStringLiteral("the report has no event id"));
    if (!haveSignal || !haveTime || !haveFrames)
        return fail(QStringLiteral("the report lacks the signal, time or frames"));
    return report;
}

std::vector<SymbolisedFrame> symbolise(const CrashReport &report,
                                       const std::vector<MapEntry> &currentMaps)
{
    // Drop the handler's own frames: start where the signal interrupted.
    auto first = report.frames.begin();
    if (report.pc != 0) {
        const auto at = std::find(report.frames.begin(), report.frames.end(), report.pc);
        if (at != report.frames.end())
            first = at;
    }

    std::vector<SymbolisedFrame> frames;
    for (auto it = first; it != report.frames.end(); ++it) {
        SymbolisedFrame frame;
        frame.instructionAddress = *it;
        const MapEntry *crashed = findEntry(report.maps, *it);
        if (!crashed || crashed->path.isEmpty() || !crashed->path.startsWith(u'/')) {
            frames.push_back(std::move(frame));
            continue;
        }
        frame.package = crashed->path;
        frame.imageAddress = imageBase(report.maps, *crashed);
        frame.inApp = !report.executable.isEmpty() && crashed->path == report.executable;

        const quint64 fileOffset = *it - crashed->start + crashed->offset;
        for (const MapEntry &current : currentMaps) {
            if (current.path != crashed->path || current.inode != crashed->inode
                || current.device != crashed->device || fileOffset < current.offset
                || fileOffset >= current.offset + (current.end - current.start))
                continue;
            quint64 address = current.start + (fileOffset - current.offset);
            // Return addresses point after the call; look up the call itself.
            if (it != first || report.pc == 0)
                address -= 1;
            const boost::stacktrace::frame symbol(reinterpret_cast<const void *>(address));
            frame.function = QString::fromStdString(symbol.name());
            frame.sourceFile = QString::fromStdString(symbol.source_file());
            frame.line = static_cast<int>(symbol.source_line());
            break;
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

QString signalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return QStringLiteral("SIGSEGV");
    case SIGBUS: return QStringLiteral("SIGBUS");
    case SIGFPE: return QStringLiteral("SIGFPE");
    case SIGILL: return QStringLiteral("SIGILL");
    case SIGABRT: return QStringLiteral("SIGABRT");
    default: return QStringLiteral("SIG%1").arg(signal);
    }
}

QByteArray buildEvent(const CrashReport &report, const std::vector<SymbolisedFrame> &frames,
                      const Options &options)
{
    json stackFrames = json::array();
    // Sentry lists frames oldest first, the crashing one last.
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        json f = {{"instruction_addr", hexString(it->instructionAddress).toStdString()}};
        if (!it->package.isEmpty()) {
            f["package"] = it->package.toStdString();
            f["image_addr"] = hexString(it->imageAddress).toStdString();
            f["in_app"] = it->inApp;
        }
        if (!it->function.isEmpty())
            f["function"] = it->function.toStdString();
        if (!it->sourceFile.isEmpty()) {
            f["abs_path"] = it->sourceFile.toStdString();
            f["filename"] = QFileInfo(it->sourceFile).fileName().toStdString();
        }
        if (it->line > 0)
            f["lineno"] = it->line;
        stackFrames.push_back(std::move(f));
    }

    const QString name = signalName(report.signal);
    QString value = QString::fromLatin1(signalDescription(report.signal));
    if (hasFaultAddress(report.signal, report.code))
        value += QStringLiteral(" at address ") + hexString(report.faultAddress);

    json signalMeta = {{"number", report.signal}, {"code", report.code}, {"name", name.toStdString()}};
    if (const QString cn = codeName(report.signal, report.code); !cn.isEmpty())
        signalMeta["code_name"] = cn.toStdString();

    const QString release = report.release.isEmpty() ? options.releaseName : report.release;
    const QString environment = report.environment.isEmpty() ? options.environment : report.environment;

    json event = {
        {"event_id", report.eventId.toStdString()},
        {"timestamp", QDateTime::fromMSecsSinceEpoch(report.timeMs, Qt::UTC)
                          .toString(Qt::ISODateWithMs)
                          .toStdString()},
        {"platform", "native"},
        {"level", "fatal"},
        {"release", release.toStdString()},
        {"environment", environment.toStdString()},
        {"sdk", {{"name", kClientName}, {"version", kClientVersion}}},
        {"contexts",
         {{"os",
           {{"type", "os"},
            {"name", "Linux"},
            {"version", report.osRelease.toStdString()},
            {"kernel_version", report.osVersion.toStdString()}}},
          {"device", {{"type", "device"}, {"arch", report.machine.toStdString()}}}}},
        {"exception",
         {{"values",
           json::array({{{"type", name.toStdString()},
                         {"value", value.toStdString()},
                         {"mechanism",
                          {{"type", "signalhandler"},
                           {"handled", false},
                           {"meta", {{"signal", signalMeta}}}}},
                         {"stacktrace", {{"frames", stackFrames}}}}})}}},
        {"extra",
         {{"pid", report.pid},
          {"uptime_ms", report.startedMs > 0 ? report.timeMs - report.startedMs : 0},
          // Configured only; this client sends no transactions.
          {"sdk_options",
           {{"enable_tracing", options.enableTracing},
            {"traces_sample_rate", options.tracesSampleRate},
            {"enable_time_to_full_display_tracing", options.enableTimeToFullDisplayTracing},
            {"swift_async_stacktraces", options.swiftAsyncStacktraces}}}}},
    };
    return QByteArray::fromStdString(event.dump());
}

QByteArray buildEnvelope(const QByteArray &event, const QString &eventId, const QString &dsn,
                         const QDateTime &sentAt)
{
    const json header = {
        {"event_id", eventId.toStdString()},
        {"dsn", dsn.toStdString()},
        {"sent_at", sentAt.toUTC().toString(Qt::ISODateWithMs).toStdString()},
    };
    const json item = {{"type", "event"}, {"length", event.size()}, {"content_type", "application/json"}};
    QByteArray envelope = QByteArray::fromStdString(header.dump());
    envelope += '\n';
    envelope += QByteArray::fromStdString(item.dump());
    envelope += '\n';
    envelope += event;
    envelope += '\n';
    return envelope;
}

} // namespace sentry::detail
