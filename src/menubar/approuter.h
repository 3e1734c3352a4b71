#pragma once

#include "approuting.h"
#include "toastdispatcher.h"

#include <resolver.h>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWindow>

#include <functional>
#include <memory>
#include <optional>

class QQuickItem;
class QQuickWindow;


// The one place that opens and closes the settings, floating-menu and
// onboarding windows. It remembers which window had the focus when the
// floating menu opened and gives the focus back when the menu closes.
class AppRouter : public QObject, public AppRouting
{
    Q_OBJECT

public:
    enum class Window { Settings, FloatingMenu, Onboarding };
    // Makes the root item of a window's content; the router puts it into
    // the window, which then owns it. Null (or no factory) gives an empty
    // root on the window's background.
    using ContentFactory = std::function<QQuickItem *(Window window)>;

    static constexpr QSize kFloatingMenuSize{400, 200};
    // Settings and onboarding take their content's implicit size, this
    // when it has none.
    static constexpr QSize kDefaultWindowSize{480, 560};
    // How long the onboarding window is on screen before its content is
    // refreshed.
    static constexpr std::chrono::milliseconds kOnboardingRefreshDelay{1000};

    explicit AppRouter(Resolver &resolver = Resolver::main(), ContentFactory content = {});
    ~AppRouter() override;

    QSystemTrayIcon *statusItem() const override;
    void setStatusItem(QSystemTrayIcon *item) override;
    void openSettingsWindow() override;
    void toggleFloatingMenuWindow() override;
    void openOnboardingWindow() override;
    void showToast(const QString &message, std::function<void()> onTap,
                   std::chrono::milliseconds duration) override;
    void closeOnboardingWindow() override;

    static QString identifier(Window window);

    // The windows the router holds now; null when it holds none.
    QQuickWindow *settingsWindow() const { return m_settingsWindow.get(); }
    QQuickWindow *floatingMenuWindow() const { return m_floatingMenuWindow.get(); }
    QQuickWindow *onboardingWindow() const { return m_onboardingWindow.get(); }
    const std::optional<QString> &previousActiveApplicationIdentifier() const
    {
        return m_previousActiveApplicationIdentifier;
    }
    ToastDispatcher *toastDispatcher() const { return m_toastDispatcher.get().get(); }

private:
    // Windows are released with deleteLater: they may be dropped from one
    // of their own signals or from a click inside them.
    struct LaterDeleter
    {
        void operator()(QQuickWindow *window) const;
    };
    using WindowHolder = std::unique_ptr<QQuickWindow, LaterDeleter>;

    WindowHolder makeWindow(Window which);
    void openKeptWindow(WindowHolder &holder, Window which);
    void drop(WindowHolder &holder);
    void windowVisibilityChanged(QQuickWindow *window, QWindow::Visibility visibility);
    void reactivatePreviousApplication(quint32 closingWindow);
    static void refreshContent(QQuickWindow *window);

    QPointer<QSystemTrayIcon> m_statusItem;
    WindowHolder m_settingsWindow;
    Injected<ToastDispatcher> m_toastDispatcher;
    WindowHolder m_floatingMenuWindow;
    WindowHolder m_onboardingWindow;
    std::optional<QString> m_previousActiveApplicationIdentifier;
    // The window that had the focus then: on X11 an application is reached
    // through one of its windows.
    quint32 m_previousActiveWindow = 0;

    ContentFactory m_content;
    // Whether each window was last seen visible, so that only a change from
    // hidden or minimised counts as becoming visible.
    QHash<const QWindow *, bool> m_visible;
};
