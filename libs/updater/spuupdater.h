#pragma once

#include "suappcastitem.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;
class QFile;

// Hooks for the application into the updater. Empty for now; kept so the
// controller's construction matches the other platforms.
class HostLookup;

class SPUUpdaterDelegate
{
public:
    virtual ~SPUUpdaterDelegate() = default;
};

struct SPUUserUpdateState
{
    bool userInitiated = false;
};

class SPUStandardUserDriverDelegate
{
public:
    virtual ~SPUStandardUserDriverDelegate() = default;
    // True: a scheduled update is shown without taking the focus.
    virtual bool supportsGentleScheduledUpdateReminders() const { return false; }
    // Sent just before an update is shown.
    virtual void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const SUAppcastItem &update,
                                                           const SPUUserUpdateState &state)
    {
        Q_UNUSED(handleShowingUpdate)
        Q_UNUSED(update)
        Q_UNUSED(state)
    }
};

class UpdateWindowModel;

struct SPUUpdaterOptions
{
    QUrl feedUrl;                 // https, or http on loopback
    QString currentVersion;       // compared with sparkle:version
    QString publicEdKey;          // base64 of the 32-byte ed25519 key
    QString settingsPath;         // INI file keeping last check time and skipped version
    QString cacheFolder;          // downloads land here
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    std::chrono::milliseconds firstCheckDelay = std::chrono::seconds(60);
    std::chrono::milliseconds checkInterval = std::chrono::hours(24);
    QNetworkAccessManager *network = nullptr; // optional; one is made when null
    // Starts the replaced AppImage and quits; tests swap it out.
    std::function<void(const QString &appImage)> relaunch;
    // False keeps the windows from being created (the model still updates).
    bool showWindows = true;
    // Makes the update offer and message windows bound to the model, and
    // owns them; without it no window is made.
    std::function<std::unique_ptr<QObject>(UpdateWindowModel *model)> makeWindows;
};

class SPUUpdater : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { UpToDate, UpdateAvailable, Failed };
    Q_ENUM(Outcome)

    explicit SPUUpdater(SPUUpdaterOptions options, QObject *parent = nullptr);
    ~SPUUpdater() override;

    // Begins scheduling; nothing happens before this.
    void startUpdater();
    bool isStarted() const { return m_started; }

    bool automaticallyChecksForUpdates() const { return m_automaticChecks; }
    void setAutomaticallyChecksForUpdates(bool enabled);
    bool automaticallyDownloadsUpdates() const { return m_automaticDownloads; }
    void setAutomaticallyDownloadsUpdates(bool enabled);

    // A check the user asked for: runs now and always reports.
    void checkForUpdates();
    // A check on the schedule's behalf; quiet unless there is an update.
    void checkForUpdatesInBackground();

    QDateTime lastUpdateCheckDate() const;
    QDateTime nextScheduledCheckDate() const { return m_nextCheck; }
    QString skippedVersion() const;
    void skipVersion(const QString &version);

    // Downloads (if not yet done), verifies and installs the offered update.
    void installUpdate();
    const SUAppcastItem &offeredUpdate() const { return m_offered; }
    QString downloadedPackage() const { return m_downloaded; }

Q_SIGNALS:
    void checkFinished(SPUUpdater::Outcome outcome, const QString &message, bool userInitiated);
    // An update is to be shown; for a background check its package is already verified.
    void updateFound(const SUAppcastItem &item, bool userInitiated);
    void downloadStarted();
    void packageVerified(const QString &path);
    void updateFailed(const QString &message, bool userInitiated);
    void installed(const QString &appImage);

private:
    void schedule();
    void runCheck(bool userInitiated);
    void requestFeed(bool userInitiated);
    void feedArrived(QNetworkReply *reply, bool userInitiated);
    void download(bool userInitiated, bool installAfter);
    void downloadFinished(bool userInitiated, bool installAfter);
    void finishInstall(bool userInitiated);
    QString feedProblem() const;

    SPUUpdaterOptions m_options;
    std::unique_ptr<QSettings> m_settings;
    QNetworkAccessManager *m_network = nullptr;
    QTimer m_timer;
    QDateTime m_nextCheck;
    bool m_started = false;
    bool m_automaticChecks = false;
    bool m_automaticDownloads = false;
    std::shared_ptr<HostLookup> m_feedLookup;
    QPointer<QNetworkReply> m_feedReply;
    QPointer<QNetworkReply> m_downloadReply;
    std::unique_ptr<QFile> m_downloadFile;
    qint64 m_received = 0;
    SUAppcastItem m_offered;
    QString m_downloaded;
};
