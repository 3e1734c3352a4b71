#include "sentrysdk.h"

#include "crashhandler.h"
#include "dsn.h"
#include "reportuploader.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QStandardPaths>
#include <QUuid>

namespace sentry {

namespace {

struct State
{
    bool started = false;
    bool enabled = false;
    Options options;
};

State &state()
{
    static State s;
    return s;
}

void fillDefaults(Options &options)
{
    if (options.releaseName.isEmpty())
        options.releaseName = QCoreApplication::applicationName() + u'@'
                              + QCoreApplication::applicationVersion();
    if (options.databasePath.isEmpty())
        options.databasePath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                               + QStringLiteral("/crashreports");
    if (options.environment.isEmpty())
        options.environment = QStringLiteral("production");
}

} // namespace

void SentrySDK::start(const std::function<void(Options &)> &configure)
{
    State &s = state();
    if (s.started) {
        qWarning("crash reporting: SentrySDK::start() was already called; ignoring this call");
        return;
    }
    s.started = true;
    if (configure)
        configure(s.options);
    fillDefaults(s.options);

    QString error;
    const std::optional<Dsn> dsn = Dsn::parse(s.options.dsn, &error);
    if (!dsn) {
        qWarning("crash reporting disabled: %s", qPrintable(error));
        return;
    }
    if (!QDir().mkpath(s.options.databasePath)) {
        qWarning("crash reporting disabled: cannot create %s", qPrintable(s.options.databasePath));
        return;
    }

    // One process crashes at most once; its event id is fixed now so a
    // report re-sent after a lost answer is deduplicated by the ingest.
    detail::CrashHandlerSetup setup;
    setup.directory = s.options.databasePath;
    setup.eventId = QUuid::createUuid().toByteArray(QUuid::Id128);
    setup.release = s.options.releaseName.toUtf8();
    setup.environment = s.options.environment.toUtf8();
    if (!detail::installCrashHandlers(setup, &error))
        qWarning("crash reporting: crashes will not be recorded: %s", qPrintable(error));
    s.enabled = true;

    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        qWarning("crash reporting: no QCoreApplication; pending reports are not sent");
        return;
    }
    auto *uploader = new ReportUploader(*dsn, s.options, s.options.network, app);
    QObject::connect(uploader, &ReportUploader::finished, uploader, [](const DeliverySummary &summary) {
        if (state().options.onPendingReportsHandled)
            state().options.onPendingReportsHandled(summary);
    });
    // Reading and symbolising reports is not for the start-up path.
    QMetaObject::invokeMethod(uploader, &ReportUploader::start, Qt::QueuedConnection);
}

bool SentrySDK::isEnabled()
{
    return state().enabled;
}

const Options &SentrySDK::options()
{
    return state().options;
}

} // namespace sentry
