#pragma once

#include "applicationstatemenubarelement.h"

#include <resolver.h>
#include <spustandardupdatercontroller.h>
#include <streams.h>

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AnalyticsCollecting;
class AppRouting;
class ApplicationStateObservable;
class DataStoring;
class HotkeyListening;
class MetadataServing;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class Worker;

// The program's surface in the tray: the icon that shows the application
// state, its menu, the updater, and the daily check for a newer version.
// Made once when launching has finished and kept until the process ends.
class MenuBarController : public QObject, public SPUUpdaterDelegate, public SPUStandardUserDriverDelegate
{
    Q_OBJECT

public:
    // What the controller takes from outside besides its services; tests
    // replace parts of it.
    struct Environment
    {
        std::function<QDateTime()> clock;
        // The running program's version; none means it cannot be told.
        std::optional<QString> appVersion;
        QString communityLink;
        QString supportLink;
        SPUUpdaterOptions updaterOptions;
    };

    static constexpr const char *kVersionCheckKey = "versionCheckPollingInterval";
    // One version check per day at most: the stored time must be more than
    // this many seconds back.
    static constexpr double kVersionCheckMinimumAge = 86399.0;
    static constexpr std::chrono::milliseconds kVersionCheckTimerInterval{std::chrono::hours(4)};
    static constexpr std::chrono::milliseconds kUpdateToastDuration{3000};
    static inline const QString kUpdateToastMessage =
        QStringLiteral("A new version of Wugg it! is available. Please check for updates.");

    // The built-in values: the real clock, links, version and update feed.
    static Environment defaultEnvironment();

    MenuBarController();
    explicit MenuBarController(Environment environment);
    ~MenuBarController() override;

    // Seconds since 1 January 2001, 00:00:00 UTC, the unit of the stored check time.
    static double secondsSinceReferenceDate(const QDateTime &time);
    // The shortest decimal text that reads back as the same double.
    static QString decimalText(double value);

    // SPUStandardUserDriverDelegate
    bool supportsGentleScheduledUpdateReminders() const override;
    void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const SUAppcastItem &update,
                                                   const SPUUserUpdateState &state) override;

    QSystemTrayIcon *statusItem() const { return m_statusItem.get(); }
    QMenu *statusItemMenu() const { return m_statusItemMenu.get(); }
    SPUStandardUpdaterController *updaterController() const { return m_updaterController; }
    // The running blink timer; null while the icon stands still.
    QTimer *iconRefreshTimer() const { return m_iconRefreshTimer.get(); }
    QTimer *versionCheckTimer() const { return m_versionCheckTimer.get(); }

public Q_SLOTS:
    void showSettings();
    void showOnboarding();
    void joinCommunity();
    void contactSupport();
    // The daily version check; runs at construction and every four hours.
    void pollVersion();

private:
    void bindApplicationState();
    void buildMenu();
    // At the icon, or at the pointer when the tray does not tell where that is.
    void openMenu();
    void updateStatusIcon(const ApplicationState &state, UserPreferences::MenuBarIconStyle style);
    void showUpdateAvailableToast();
    void openLink(const QString &text, const QString &event);

    Environment m_environment;

    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    std::unique_ptr<QMenu> m_statusItemMenu;
    streams::Cancellables m_cancellables;
    Injected<HotkeyListening> m_hotkeyListener;
    Injected<Worker> m_worker;
    Injected<ApplicationStateObservable> m_applicationStateObserver;
    Injected<AnalyticsCollecting> m_analytics;
    Injected<DataStoring> m_dataStore;
    Injected<AppRouting> m_appRouter;
    Injected<MetadataServing> m_metadataService;
    std::unique_ptr<QTimer> m_iconRefreshTimer;
    QPointer<SPUStandardUpdaterController> m_updaterController;
    std::unique_ptr<QTimer> m_versionCheckTimer;
};
