#include "spuupdater.h"

#include <hostlookup.h>

#include "packageinstaller.h"
#include "versioncompare.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSettings>

#include <climits>

namespace {

// Why a check found no feed, in the words the user sees.
QString unreachable(const QString &why)
{
    return QStringLiteral("Wugg it! could not reach the update server (%1). Try again later.").arg(why);
}

const QString LastCheckKey = QStringLiteral("Updater/lastCheckTime");
const QString SkippedVersionKey = QStringLiteral("Updater/skippedVersion");
constexpr int TransferTimeoutMs = 60000;

// Plain http is only acceptable for the loopback servers tests run.
bool isAllowedUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    if (url.host() == QLatin1String("localhost"))
        return true;
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

void relaunchAppImage(const QString &appImage)
{
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    // The new copy waits for this one to let go of the program's lock
    // instead of deferring to it.
    qputenv("WUGGIT_REPLACING", "1");
    QProcess::startDetached(appImage, arguments);
    QCoreApplication::quit();
}

} // namespace

SPUUpdater::SPUUpdater(SPUUpdaterOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    if (!m_options.clock)
        m_options.clock = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_options.relaunch)
        m_options.relaunch = relaunchAppImage;
    m_settings = m_options.settingsPath.isEmpty()
        ? std::make_unique<QSettings>()
        : std::make_unique<QSettings>(m_options.settingsPath, QSettings::IniFormat);
    m_network = m_options.network ? m_options.network : new QNetworkAccessManager(this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SPUUpdater::checkForUpdatesInBackground);
}

SPUUpdater::~SPUUpdater()
{
    if (m_feedLookup)
        m_feedLookup->cancel();
    // Disconnected first so the aborts don't call back into a dying object.
    for (QNetworkReply *reply : {m_feedReply.data(), m_downloadReply.data()}) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
        }
    }
}

void SPUUpdater::startUpdater()
{
    m_started = true;
    schedule();
}

void SPUUpdater::setAutomaticallyChecksForUpdates(bool enabled)
{
    m_automaticChecks = enabled;
    schedule();
}

void SPUUpdater::setAutomaticallyDownloadsUpdates(bool enabled)
{
    m_automaticDownloads = enabled;
}

QDateTime SPUUpdater::lastUpdateCheckDate() const
{
    return QDateTime::fromString(m_settings->value(LastCheckKey).toString(), Qt::ISODateWithMs);
}

QString SPUUpdater::skippedVersion() const
{
    return m_settings->value(SkippedVersionKey).toString();
}

void SPUUpdater::skipVersion(const QString &version)
{
    m_settings->setValue(SkippedVersionKey, version);
    m_settings->sync();
}

void SPUUpdater::schedule()
{
    m_timer.stop();
    m_nextCheck = {};
    if (!m_started || !m_automaticChecks)
        return;

    const QDateTime now = m_options.clock();
    const QDateTime earliest = now.addMSecs(m_options.firstCheckDelay.count());
    QDateTime last = lastUpdateCheckDate();
    if (last.isValid() && last > now)
        last = now; // the clock went back; don't wait longer than one interval
    QDateTime due = last.isValid() ? last.addMSecs(m_options.checkInterval.count()) : earliest;
    if (due < earliest)
        due = earliest;
    m_nextCheck = due;
    m_timer.start(int(qBound<qint64>(0, now.msecsTo(due), qint64(INT_MAX))));
}

void SPUUpdater::checkForUpdates()
{
    runCheck(true);
}

void SPUUpdater::checkForUpdatesInBackground()
{
    runCheck(false);
}

QString SPUUpdater::feedProblem() const
{
    if (!isAllowedUrl(m_options.feedUrl))
        return QStringLiteral("The update server address is not a secure (https) address, so Wugg it! did not check for updates.");
    return {};
}

void SPUUpdater::runCheck(bool userInitiated)
{
    if (m_feedReply) {
        m_feedReply->disconnect(this);
        m_feedReply->abort();
    }
    if (m_feedLookup) {
        m_feedLookup->cancel();
        m_feedLookup.reset();
    }
    // Stored before the answer so a failing server is not asked again at once.
    m_settings->setValue(LastCheckKey, m_options.clock().toUTC().toString(Qt::ISODateWithMs));
    m_settings->sync();
    schedule();

    const QString problem = feedProblem();
    if (!problem.isEmpty()) {
        Q_EMIT checkFinished(Outcome::Failed, problem, userInitiated);
        return;
    }
    const QString host = m_options.feedUrl.host();
    if (!HostLookup::isNeeded(host))
        return requestFeed(userInitiated);
    m_feedLookup = HostLookup::start(host, this, [this, host, userInitiated](bool found) {
        m_feedLookup.reset();
        if (found)
            return requestFeed(userInitiated);
        Q_EMIT checkFinished(Outcome::Failed, unreachable(QStringLiteral("Host %1 not found").arg(host)),
                             userInitiated);
    });
}

void SPUUpdater::requestFeed(bool userInitiated)
{
    QNetworkRequest request(m_options.feedUrl);
    request.setTransferTimeout(TransferTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    m_feedReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated] {
        feedArrived(reply, userInitiated);
    });
}

void SPUUpdater::feedArrived(QNetworkReply *reply, bool userInitiated)
{
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
        Q_EMIT checkFinished(Outcome::Failed, unreachable(reply->errorString()), userInitiated);
        return;
    }
    const SUAppcast appcast = parseAppcast(reply->readAll());
    if (!appcast.error.isEmpty()) {
        Q_EMIT checkFinished(Outcome::Failed,
                             QStringLiteral("The update information from the server could not be read."),
                             userInitiated);
        return;
    }
    const SUAppcastItem *newest = newestItem(appcast);
    if (!newest || compareVersions(newest->version, m_options.currentVersion) <= 0) {
        Q_EMIT checkFinished(Outcome::UpToDate,
                             QStringLiteral("You have the newest version of Wugg it! (%1).").arg(m_options.currentVersion),
                             userInitiated);
        return;
    }
    if (!userInitiated && newest->version == skippedVersion()) {
        Q_EMIT checkFinished(Outcome::UpToDate,
                             QStringLiteral("Version %1 is available but was skipped.").arg(newest->displayVersion()),
                             userInitiated);
        return;
    }

    if (m_offered.version != newest->version)
        m_downloaded.clear();
    m_offered = *newest;
    Q_EMIT checkFinished(Outcome::UpdateAvailable,
                         QStringLiteral("Wugg it! %1 is available.").arg(m_offered.displayVersion()), userInitiated);
    if (!userInitiated && m_automaticDownloads && m_downloaded.isEmpty())
        download(false, false);
    else
        Q_EMIT updateFound(m_offered, userInitiated);
}

void SPUUpdater::installUpdate()
{
    if (m_offered.version.isEmpty()) {
        Q_EMIT updateFailed(QStringLiteral("There is no update to install."), true);
        return;
    }
    // Saves downloading something that could not be used anyway.
    if (qEnvironmentVariableIsEmpty("APPIMAGE")) {
        Q_EMIT updateFailed(
            QStringLiteral("This copy of Wugg it! was not installed as an AppImage and cannot update itself."), true);
        return;
    }
    if (!m_downloaded.isEmpty() && QFileInfo::exists(m_downloaded))
        finishInstall(true);
    else
        download(true, true);
}

void SPUUpdater::download(bool userInitiated, bool installAfter)
{
    if (m_downloadReply) {
        m_downloadReply->disconnect(this);
        m_downloadReply->abort();
    }
    if (!isAllowedUrl(m_offered.enclosureUrl)) {
        Q_EMIT updateFailed(QStringLiteral("The update's download address is not secure (https), so it was not downloaded."),
                            userInitiated);
        return;
    }
    QString name = QFileInfo(m_offered.enclosureUrl.path()).fileName();
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name = QStringLiteral("update.AppImage");
    if (!QDir().mkpath(m_options.cacheFolder)) {
        Q_EMIT updateFailed(QStringLiteral("The folder for downloads could not be created."), userInitiated);
        return;
    }
    m_downloadFile = std::make_unique<QFile>(QDir(m_options.cacheFolder).filePath(name + QStringLiteral(".part")));
    if (!m_downloadFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Q_EMIT updateFailed(QStringLiteral("The update could not be saved in the download folder."), userInitiated);
        return;
    }
    m_received = 0;
    Q_EMIT downloadStarted();

    QNetworkRequest request(m_offered.enclosureUrl);
    request.setTransferTimeout(TransferTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    m_downloadReply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        const QByteArray chunk = reply->readAll();
        m_received += chunk.size();
        // Larger than announced can never verify; stop wasting the bandwidth.
        if (m_offered.enclosureLength >= 0 && m_received > m_offered.enclosureLength) {
            reply->abort();
            return;
        }
        m_downloadFile->write(chunk);
    });
    connect(reply, &QNetworkReply::finished, this, [this, userInitiated, installAfter] {
        downloadFinished(userInitiated, installAfter);
    });
}

void SPUUpdater::downloadFinished(bool userInitiated, bool installAfter)
{
    QNetworkReply *reply = m_downloadReply;
    reply->deleteLater();
    const QString partPath = m_downloadFile->fileName();
    const bool tooLong = m_offered.enclosureLength >= 0 && m_received > m_offered.enclosureLength;
    if (reply->error() == QNetworkReply::NoError)
        m_downloadFile->write(reply->readAll());
    m_downloadFile->close();
    m_downloadFile.reset();

    if (tooLong || reply->error() != QNetworkReply::NoError) {
        QFile::remove(partPath);
        Q_EMIT updateFailed(tooLong ? QStringLiteral("The update download was larger than announced, so it was not installed.")
                                    : QStringLiteral("The update could not be downloaded (%1).").arg(reply->errorString()),
                            userInitiated);
        return;
    }

    const QString path = partPath.chopped(5); // drop ".part"
    QFile::remove(path);
    if (!QFile::rename(partPath, path)) {
        QFile::remove(partPath);
        Q_EMIT updateFailed(QStringLiteral("The update could not be saved in the download folder."), userInitiated);
        return;
    }
    const QString problem = verifyPackage(path, m_offered, m_options.publicEdKey);
    if (!problem.isEmpty()) {
        QFile::remove(path);
        Q_EMIT updateFailed(problem, userInitiated);
        return;
    }
    m_downloaded = path;
    Q_EMIT packageVerified(path);
    if (installAfter)
        finishInstall(userInitiated);
    else
        Q_EMIT updateFound(m_offered, userInitiated);
}

void SPUUpdater::finishInstall(bool userInitiated)
{
    // Checked again: the cached file may have changed since it was downloaded.
    QString problem = verifyPackage(m_downloaded, m_offered, m_options.publicEdKey);
    QString appImage;
    if (problem.isEmpty())
        problem = installAppImage(m_downloaded, &appImage);
    // Installed or not, this copy is done with: a copy that failed would fail
    // every later attempt too, so the next one downloads afresh.
    QFile::remove(m_downloaded);
    m_downloaded.clear();
    if (!problem.isEmpty()) {
        Q_EMIT updateFailed(problem, userInitiated);
        return;
    }
    Q_EMIT installed(appImage);
    m_options.relaunch(appImage);
}
