#include "menubarcontroller.h"

#include "approuting.h"
#include "windowsmodule.h"

#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <buildconfig.h>
#include <datastoring.h>
#include <hotkeylistener.h>
#include <metadataserving.h>
#include <versioncompare.h>
#include <worker.h>

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPixmap>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <charconv>
#include <cmath>

namespace {

using Element = ApplicationStateMenuBarElement;
using Style = UserPreferences::MenuBarIconStyle;

const QDateTime kReferenceDate(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);

// The stored check time, when the text is a finite number in full.
std::optional<double> parseSeconds(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    const char *begin = bytes.constData();
    const char *end = begin + bytes.size();
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void setFrame(QSystemTrayIcon *statusItem, const Element &element)
{
    // A tray icon has no title beside its image, so only the image changes.
    if (!statusItem)
        return;
    const QImage image = element.image();
    statusItem->setIcon(image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
    // Shown with its first image: an icon-less tray entry would be an empty gap.
    if (!image.isNull() && !statusItem->isVisible())
        statusItem->show();
}

// Qt looks for an action's shortcut only through a focused widget, and a
// tray menu is nobody's submenu: the keys shown beside its entries would
// never fire. The open menu, which holds the keyboard, takes them here.
class MenuKeys : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *menu = qobject_cast<QMenu *>(watched);
        if (!menu || event->type() != QEvent::KeyPress)
            return false;
        const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
        for (QAction *action : menu->actions()) {
            if (action->isEnabled() && !action->shortcut().isEmpty() && action->shortcut() == pressed) {
                // Closed first, as a click on the entry would.
                menu->close();
                action->trigger();
                return true;
            }
        }
        return false;
    }
};

QCoro::Task<void> checkForNewVersion(QPointer<MenuBarController> controller,
                                     std::shared_ptr<MetadataServing> metadataService,
                                     std::optional<QString> appVersion,
                                     std::function<void(MenuBarController *)> offerUpdate)
{
    // Started first so it runs while the version is looked up.
    QCoro::Task<Metadata> request = metadataService->fetchMetadata();
    if (!appVersion || appVersion->isEmpty())
        co_return; // the answer is ignored
    Metadata metadata;
    try {
        metadata = co_await std::move(request);
    } catch (...) {
        // Tried again with the next due check.
        co_return;
    }
    if (compareVersions(QString::fromStdString(metadata.latestVersion), *appVersion) <= 0)
        co_return;
    if (controller)
        offerUpdate(controller);
}

} // namespace

MenuBarController::Environment MenuBarController::defaultEnvironment()
{
    Environment environment;
    environment.clock = [] { return QDateTime::currentDateTimeUtc(); };
    environment.appVersion = QString::fromLatin1(BuildConfig::kShortVersion);
    environment.communityLink = QString::fromUtf8(BuildConfig::kCommunityUrl);
    environment.supportLink = QStringLiteral("mailto:") + QString::fromUtf8(BuildConfig::kSupportEmail);
    environment.updaterOptions.feedUrl = QUrl(QString::fromUtf8(BuildConfig::kUpdateFeedUrl));
    environment.updaterOptions.currentVersion = QString::fromLatin1(BuildConfig::kShortVersion);
    environment.updaterOptions.publicEdKey = QString::fromLatin1(BuildConfig::kUpdatePublicKey);
    environment.updaterOptions.cacheFolder =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/updates");
    environment.updaterOptions.makeWindows = [](UpdateWindowModel *model) -> std::unique_ptr<QObject> {
        const WindowsModule::Entries *windows = WindowsModule::load();
        return std::unique_ptr<QObject>(windows ? windows->makeUpdateWindows(model) : nullptr);
    };
    return environment;
}

MenuBarController::MenuBarController() : MenuBarController(defaultEnvironment()) {}

MenuBarController::MenuBarController(Environment environment)
    : m_environment(std::move(environment))
    , m_statusItem(std::make_unique<QSystemTrayIcon>())
    , m_statusItemMenu(std::make_unique<QMenu>())
{
    if (!m_environment.clock)
        m_environment.clock = [] { return QDateTime::currentDateTimeUtc(); };

    m_updaterController =
        new SPUStandardUpdaterController(true, this, this, m_environment.updaterOptions, this);
    m_updaterController->updater()->setAutomaticallyChecksForUpdates(true);
    m_updaterController->updater()->setAutomaticallyDownloadsUpdates(true);

    // From here on toasts hang under our tray icon.
    m_appRouter->setStatusItem(m_statusItem.get());

    bindApplicationState();
    buildMenu();

    m_versionCheckTimer = std::make_unique<QTimer>();
    m_versionCheckTimer->setInterval(kVersionCheckTimerInterval);
    connect(m_versionCheckTimer.get(), &QTimer::timeout, this, &MenuBarController::pollVersion);
    m_versionCheckTimer->start();
    pollVersion();
}

MenuBarController::~MenuBarController()
{
    // The router outlives us; it must not anchor toasts under a deleted icon.
    if (m_appRouter->statusItem() == m_statusItem.get())
        m_appRouter->setStatusItem(nullptr);
    m_cancellables.clear();
    m_statusItem->setContextMenu(nullptr);
}

double MenuBarController::secondsSinceReferenceDate(const QDateTime &time)
{
    return double(kReferenceDate.msecsTo(time)) / 1000.0;
}

QString MenuBarController::decimalText(double value)
{
    char buffer[64];
    // Fixed notation: a time of day reads as seconds, not as an exponent.
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc())
        return QString::number(value, 'g', 17);
    return QString::fromLatin1(buffer, ptr - buffer);
}

void MenuBarController::bindApplicationState()
{
    m_statusItem->setContextMenu(m_statusItemMenu.get());

    // Read once: a changed preference shows after the next start.
    const Style style = m_dataStore->string(QString::fromLatin1(UserPreferences::kMenuBarIconStyleKey))
            == QLatin1String("minimal")
        ? Style::minimal
        : Style::colored;

    QPointer<MenuBarController> self(this);
    m_applicationStateObserver->applicationStatePublisher()
        .receiveOnMain()
        .sink([self, style](const ApplicationState &state) {
            if (self)
                self->updateStatusIcon(state, style);
        })
        .store(m_cancellables);
}

void MenuBarController::buildMenu()
{
    QMenu *menu = m_statusItemMenu.get();
    // The keys are hints shown in the menu and work only while it is open;
    // they must never become shortcuts of the whole desktop.
    auto add = [menu](const QString &title, Qt::Key key, auto receiver, auto slot) {
        QAction *action = menu->addAction(title);
        action->setShortcut(QKeySequence(Qt::CTRL | key));
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, receiver, slot);
        return action;
    };
    add(QStringLiteral("Settings"), Qt::Key_S, this, &MenuBarController::showSettings);
    add(QStringLiteral("How to Use?"), Qt::Key_H, this, &MenuBarController::showOnboarding);
    add(QStringLiteral("Check for Updates"), Qt::Key_U, m_updaterController.data(),
        &SPUStandardUpdaterController::checkForUpdates);
    menu->addSeparator();
    add(QStringLiteral("Join Our Community"), Qt::Key_C, this, &MenuBarController::joinCommunity);
    add(QStringLiteral("Help"), Qt::Key_P, this, &MenuBarController::contactSupport);
    menu->addSeparator();
    add(QStringLiteral("Quit"), Qt::Key_Q, QCoreApplication::instance(), &QCoreApplication::quit);
    menu->installEventFilter(new MenuKeys(menu));

    // The tray shows the context menu on a right click only; a left click
    // (Activate, for a StatusNotifierItem host) opens it too.
    connect(m_statusItem.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            openMenu();
    });
}

void MenuBarController::openMenu()
{
    QMenu *menu = m_statusItemMenu.get();
    // An Activate while it is open must not open it on top of itself.
    if (menu->isVisible())
        return;
    const QRect icon = m_statusItem->geometry();
    menu->popup(icon.isValid() ? icon.bottomLeft() : QCursor::pos());
}

void MenuBarController::updateStatusIcon(const ApplicationState &state, Style style)
{
    // Stopped before anything else, so only one timer ever blinks.
    m_iconRefreshTimer.reset();

    const MenuBarIconAnimation animation = menuBarIconAnimation(state);
    if (!animation.blinkInterval) {
        setFrame(m_statusItem.get(), Element{Element::State::idle, style, Element::AnimationPhase::phase1});
        return;
    }

    auto element = std::make_shared<Element>(Element{animation.state, style, Element::AnimationPhase::phase1});
    setFrame(m_statusItem.get(), *element);

    // Holds the frame and the icon, not the controller.
    m_iconRefreshTimer = std::make_unique<QTimer>();
    m_iconRefreshTimer->setInterval(*animation.blinkInterval);
    QPointer<QSystemTrayIcon> statusItem(m_statusItem.get());
    connect(m_iconRefreshTimer.get(), &QTimer::timeout, m_iconRefreshTimer.get(), [element, statusItem] {
        element->phase = Element::flipped(element->phase);
        setFrame(statusItem, *element);
    });
    m_iconRefreshTimer->start();
}

void MenuBarController::showSettings()
{
    m_appRouter->openSettingsWindow();
    m_analytics->track(QStringLiteral("showSettings"));
}

void MenuBarController::showOnboarding()
{
    m_appRouter->openOnboardingWindow();
    m_analytics->track(QStringLiteral("showOnboarding"));
}

void MenuBarController::joinCommunity()
{
    openLink(m_environment.communityLink, QStringLiteral("joinCommunity"));
}

void MenuBarController::contactSupport()
{
    openLink(m_environment.supportLink, QStringLiteral("contactSupport"));
}

void MenuBarController::openLink(const QString &text, const QString &event)
{
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        QDesktopServices::openUrl(url);
    else
        qWarning("MenuBarController: \"%s\" is not a valid link; nothing was opened", qPrintable(text));
    m_analytics->track(event);
}

void MenuBarController::pollVersion()
{
    const QString key = QString::fromLatin1(kVersionCheckKey);
    const double now = secondsSinceReferenceDate(m_environment.clock());

    if (const auto text = m_dataStore->string(key)) {
        // A clock set back makes the age negative: no check until it is a day old.
        if (const auto stored = parseSeconds(*text); stored && now - *stored <= kVersionCheckMinimumAge)
            return;
    }

    // Stored before asking, so a failed request still counts as today's check.
    m_dataStore->setValue(decimalText(now), key);

    checkForNewVersion(QPointer<MenuBarController>(this), m_metadataService.get(), m_environment.appVersion,
                       [](MenuBarController *controller) { controller->showUpdateAvailableToast(); });
}

void MenuBarController::showUpdateAvailableToast()
{
    QPointer<SPUStandardUpdaterController> updater = m_updaterController;
    m_appRouter->showToast(
        kUpdateToastMessage,
        [updater] {
            if (updater)
                updater->checkForUpdates();
        },
        kUpdateToastDuration);
}

bool MenuBarController::supportsGentleScheduledUpdateReminders() const
{
    return true;
}

void MenuBarController::standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate,
                                                                   const SUAppcastItem &update,
                                                                   const SPUUserUpdateState &state)
{
    Q_UNUSED(handleShowingUpdate)
    Q_UNUSED(update)
    // A tray program has no dock presence to switch on before the update
    // window appears; the updater's own window comes to the front by itself.
    if (!state.userInitiated)
        showUpdateAvailableToast();
}
