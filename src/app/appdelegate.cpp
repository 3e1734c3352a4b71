#include "appdelegate.h"

#include <crashreporting.h>
#include <menubarcontroller.h>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    // The controller brings up the status item and, through the worker, the
    // whole text-action pipeline.
    if (!m_menuBarController)
        m_menuBarController = std::make_unique<MenuBarController>();
    Q_EMIT didFinishLaunching();
}

void AppDelegate::applicationWillTerminate() {}
