#pragma once

#include <resolver.h>

#include <QObject>

#include <memory>

class CrashReporting;
class MenuBarController;

// The application delegate: starts crash reporting when constructed and
// brings up the status item once launching has finished.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationSupportsSecureRestorableState() const { return true; }

Q_SIGNALS:
    void didFinishLaunching();

private:
    Injected<CrashReporting> m_crashReporter;
    // Made once launching has finished; kept for the life of the process.
    std::unique_ptr<MenuBarController> m_menuBarController;

public:
    MenuBarController *menuBarController() const { return m_menuBarController.get(); }
};
