#pragma once

#include "singleinstance.h"

#include <QApplication>

#include <memory>
#include <optional>

class AppDelegate;

// The application object: owns the Qt application and the delegate. It
// declares no window; every window is made in code later.
class MendoraApp
{
public:
    MendoraApp(int &argc, char **argv);
    ~MendoraApp();

    // --help and --version, answered before anything starts (no display
    // needed); the exit status, or none to start the program.
    static std::optional<int> answerCommandLine(int argc, char **argv);

    // Runs the program; ends at once with 0 when another copy was running.
    int exec();
    AppDelegate *appDelegate() const { return m_appDelegate.get(); }

private:
    void openSettings();

    QApplication m_application;
    SingleInstance m_singleInstance;
    // Another copy runs and was asked to open its settings.
    bool m_anotherCopyRuns = false;
    std::unique_ptr<AppDelegate> m_appDelegate;
};
