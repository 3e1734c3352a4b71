#include "approuter.h"

#include <look.h>
#include <platform.h>

#include <QCursor>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

#include <cstdio>

namespace {

bool isVisible(QWindow::Visibility visibility)
{
    return visibility != QWindow::Hidden && visibility != QWindow::Minimized;
}

void centre(QWindow *window)
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window->setScreen(screen);
    const QRect area = screen->availableGeometry();
    window->setPosition(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

// Where a visible window goes at a new size: its centre stays where it
// was (it grows or shrinks on both sides), and it moves back onto its screen
// where it would cross an edge; the window manager would otherwise cut its
// size instead. Position and width come from the same report of the window
// manager, which may not have confirmed the last request yet: mixing a
// stale position with a newer width would move the centre.
QRect placed(const QWindow *window, QSize size)
{
    const QRect now = window->geometry();
    QRect frame(now.topLeft() + QPoint((now.width() - size.width()) / 2, 0), size);
    QScreen *screen = window->screen();
    if (!screen)
        return frame;
    const QRect area = screen->availableGeometry();
    if (frame.right() > area.right())
        frame.moveRight(area.right());
    if (frame.bottom() > area.bottom())
        frame.moveBottom(area.bottom());
    frame.moveTopLeft(QPoint(std::max(frame.left(), area.left()), std::max(frame.top(), area.top())));
    return frame;
}

void bringForward(QWindow *window)
{
    window->show();
    window->raise();
    window->requestActivate();
}

} // namespace

void AppRouter::LaterDeleter::operator()(QQuickWindow *window) const
{
    window->deleteLater();
}

AppRouter::AppRouter(Resolver &resolver, ContentFactory content)
    : m_toastDispatcher(resolver)
    , m_content(std::move(content))
{
}

AppRouter::~AppRouter()
{
    // Nothing of ours may run for these windows any more, and there may be
    // no event loop left to delete them later.
    for (WindowHolder *holder : {&m_settingsWindow, &m_floatingMenuWindow, &m_onboardingWindow}) {
        if (QQuickWindow *window = holder->release()) {
            disconnect(window, nullptr, this, nullptr);
            delete window;
        }
    }
}

QString AppRouter::identifier(Window window)
{
    switch (window) {
    case Window::Settings: return QStringLiteral("SettingsWindow");
    case Window::FloatingMenu: return QStringLiteral("FloatingMenuWindow");
    case Window::Onboarding: return QStringLiteral("OnboardingWindow");
    }
    return {};
}

QSystemTrayIcon *AppRouter::statusItem() const
{
    return m_statusItem.data();
}

void AppRouter::setStatusItem(QSystemTrayIcon *item)
{
    m_statusItem = item;
}

AppRouter::WindowHolder AppRouter::makeWindow(Window which)
{
    WindowHolder window(new QQuickWindow);
    window->setObjectName(identifier(which));
    window->setColor(Look::primaryBackground());
    // The window manager draws a title bar of its own; the product's name is
    // what the task bar and window switcher then show.
    window->setTitle(QStringLiteral("Wugg it!"));
    if (which == Window::FloatingMenu) {
        // No title bar of the window manager: the menu is its content alone,
        // and closes through the router. It still takes the keyboard focus
        // when brought forward.
        window->setFlags(Qt::Dialog | Qt::FramelessWindowHint);
    }

    QQuickItem *root = m_content ? m_content(which) : nullptr;
    if (!root)
        root = new QQuickItem;
    root->setParent(window->contentItem());
    root->setParentItem(window->contentItem());

    QQuickWindow *raw = window.get();
    if (which == Window::FloatingMenu) {
        window->resize(kFloatingMenuSize);
        root->setSize(kFloatingMenuSize);
    } else {
        // The window is as large as its content, and follows it when the
        // content changes (signing in or out shows other controls).
        const auto fit = [raw, root] {
            QSize size(qRound(root->implicitWidth()), qRound(root->implicitHeight()));
            if (size.isEmpty())
                size = kDefaultWindowSize;
            if (size == raw->size() && size == raw->minimumSize())
                return;
            // The old limits go first: the window manager checks a resize
            // against the limits it knows.
            raw->setMinimumSize(QSize(0, 0));
            raw->setMaximumSize(QSize((1 << 24) - 1, (1 << 24) - 1));
            // One request for place and size: a resize of its own would
            // send the position last reported, undoing a move not yet
            // confirmed.
            if (raw->isVisible())
                raw->setGeometry(placed(raw, size));
            else
                raw->resize(size);
            raw->setMinimumSize(size);
            raw->setMaximumSize(size);
            root->setSize(size);
        };
        fit();
        // Width and height change together when the content changes: one
        // resize, on the next turn of the loop.
        auto *refit = new QTimer(raw);
        refit->setSingleShot(true);
        refit->setInterval(0);
        connect(refit, &QTimer::timeout, raw, fit);
        connect(root, &QQuickItem::implicitWidthChanged, refit, qOverload<>(&QTimer::start));
        connect(root, &QQuickItem::implicitHeightChanged, refit, qOverload<>(&QTimer::start));
    }
    connect(raw, &QWindow::widthChanged, root, [root](int width) { root->setWidth(width); });
    connect(raw, &QWindow::heightChanged, root, [root](int height) { root->setHeight(height); });
    centre(raw);

    m_visible.insert(raw, false);
    connect(raw, &QWindow::visibilityChanged, this,
            [this, raw](QWindow::Visibility visibility) { windowVisibilityChanged(raw, visibility); });
    return window;
}

void AppRouter::drop(WindowHolder &holder)
{
    if (!holder)
        return;
    // Taken out first: whatever the window still reports from here on
    // reaches nothing of the router.
    WindowHolder window = std::move(holder);
    disconnect(window.get(), nullptr, this, nullptr);
    m_visible.remove(window.get());
    window->hide();
}

void AppRouter::openKeptWindow(WindowHolder &holder, Window which)
{
    // A window the user closed stays with the router and comes back.
    if (!holder)
        holder = makeWindow(which);
    bringForward(holder.get());
}

void AppRouter::openSettingsWindow()
{
    openKeptWindow(m_settingsWindow, Window::Settings);
}

void AppRouter::openOnboardingWindow()
{
    openKeptWindow(m_onboardingWindow, Window::Onboarding);
}

void AppRouter::closeOnboardingWindow()
{
    drop(m_onboardingWindow);
}

void AppRouter::toggleFloatingMenuWindow()
{
    if (m_floatingMenuWindow) {
        const quint32 closing = m_floatingMenuWindow->handle() ? quint32(m_floatingMenuWindow->winId()) : 0;
        WindowHolder window = std::move(m_floatingMenuWindow);
        disconnect(window.get(), nullptr, this, nullptr);
        m_visible.remove(window.get());
        // Focus first, then hide: the window manager has no moment in which
        // to pick some other window for the focus.
        reactivatePreviousApplication(closing);
        window->hide();
        return;
    }

    // Read before this program takes the focus.
    m_previousActiveWindow = platform::activeWindow();
    m_previousActiveApplicationIdentifier =
        m_previousActiveWindow ? platform::applicationIdentifier(m_previousActiveWindow) : std::nullopt;

    m_floatingMenuWindow = makeWindow(Window::FloatingMenu);
    bringForward(m_floatingMenuWindow.get());
}

void AppRouter::showToast(const QString &message, std::function<void()> onTap, std::chrono::milliseconds duration)
{
    m_toastDispatcher->showToast(message, m_statusItem.data(), std::move(onTap), duration);
}

void AppRouter::windowVisibilityChanged(QQuickWindow *window, QWindow::Visibility visibility)
{
    const auto seen = m_visible.find(window);
    if (seen == m_visible.end())
        return;
    const bool visible = isVisible(visibility);
    const bool becameVisible = visible && !seen.value();
    seen.value() = visible;

    if (window == m_floatingMenuWindow.get()) {
        // Hidden or minimised by anyone but the router: close it properly,
        // which also gives the focus back.
        if (!visible)
            toggleFloatingMenuWindow();
        return;
    }
    if (!becameVisible)
        return;
    if (window == m_settingsWindow.get()) {
        refreshContent(window);
    } else if (window == m_onboardingWindow.get()) {
        QTimer::singleShot(kOnboardingRefreshDelay, this, [this, later = QPointer<QQuickWindow>(window)] {
            // Only the window the router still holds; the root is read now.
            if (later && later == m_onboardingWindow.get())
                refreshContent(later);
        });
    }
}

void AppRouter::refreshContent(QQuickWindow *window)
{
    const QList<QQuickItem *> items = window->contentItem()->childItems();
    QQuickItem *root = items.value(0);
    if (!root)
        return;
    if (auto *content = dynamic_cast<RefreshableContent *>(root))
        content->refreshContent();
    else if (root->metaObject()->indexOfMethod("refreshContent()") >= 0)
        QMetaObject::invokeMethod(root, "refreshContent");
}

void AppRouter::reactivatePreviousApplication(quint32 closingWindow)
{
    // There is no deactivating a program on X11 apart from focusing another
    // window; with no window to focus the window manager picks one when
    // the menu goes.
    if (!m_previousActiveApplicationIdentifier || m_previousActiveApplicationIdentifier->isEmpty())
        return;
    const QString &application = *m_previousActiveApplicationIdentifier;

    quint32 target = 0;
    if (m_previousActiveWindow && platform::applicationIdentifier(m_previousActiveWindow) == application) {
        target = m_previousActiveWindow;
    } else {
        // That window is gone: the application's topmost other window.
        const QList<quint32> windows = platform::clientWindows();
        for (const quint32 window : windows) {
            if (window != closingWindow && platform::applicationIdentifier(window) == application) {
                target = window;
                break;
            }
        }
    }
    if (!target)
        return;
    if (!platform::activateWindow(target)) {
        const QString description = QStringLiteral("the window manager could not be asked to focus window 0x%1 of %2")
                                        .arg(target, 0, 16)
                                        .arg(application);
        std::printf("Error opening application: %s\n", qPrintable(description));
        std::fflush(stdout);
    }
}
