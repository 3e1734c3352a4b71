#pragma once

#include <QApplication>

#include <memory>

class AppDelegate;

// The application object: owns the Qt application and the delegate. It
// declares no window; every window is made in code later.
class MendoraApp
{
public:
    MendoraApp(int &argc, char **argv);
    ~MendoraApp();

    int exec();
    AppDelegate *appDelegate() const { return m_appDelegate.get(); }

private:
    QApplication m_application;
    std::unique_ptr<AppDelegate> m_appDelegate;
};
