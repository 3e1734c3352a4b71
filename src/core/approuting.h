#pragma once

#include <QString>

#include <chrono>
#include <functional>

class QSystemTrayIcon;

// Opens and closes the program's windows and shows toasts under the tray icon.
class AppRouting
{
public:
    virtual ~AppRouting() = default;

    // The tray icon, once the menu-bar controller made it; null before.
    virtual QSystemTrayIcon *statusItem() const = 0;
    virtual void setStatusItem(QSystemTrayIcon *item) = 0;

    // Brings the settings window forward, making it on first use.
    virtual void openSettingsWindow() = 0;
    // Closes the floating menu if it is open (the focus goes back to where
    // it was before), else opens it.
    virtual void toggleFloatingMenuWindow() = 0;
    // Brings the onboarding window forward, making it on first use.
    virtual void openOnboardingWindow() = 0;
    // A toast under the tray icon; dropped while there is none. A click on
    // the toast runs onTap once and closes it.
    virtual void showToast(const QString &message, std::function<void()> onTap,
                           std::chrono::milliseconds duration) = 0;
    // Closes the onboarding window for good: the next opening makes a new one.
    virtual void closeOnboardingWindow() = 0;
};

// What the root item of the settings and onboarding windows implements to
// reload what it shows when its window comes into view. A QML root without
// a C++ backing can define a function refreshContent() instead.
class RefreshableContent
{
public:
    virtual ~RefreshableContent() = default;
    virtual void refreshContent() = 0;
};
