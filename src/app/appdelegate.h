#pragma once

#include <resolver.h>

#include <QObject>

class CrashReporting;

// The application delegate: starts crash reporting when constructed and
// brings up the status item once launching has finished.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    explicit AppDelegate(QObject *parent = nullptr);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationSupportsSecureRestorableState() const { return true; }

Q_SIGNALS:
    void didFinishLaunching();

private:
    Injected<CrashReporting> m_crashReporter;
};
