#include "appdelegate.h"

#include <crashreporting.h>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent) {}

void AppDelegate::applicationDidFinishLaunching()
{
    // The status item and the text-action pipeline behind it are created here
    // once the menu-bar controller exists; until then launching ends here.
    Q_EMIT didFinishLaunching();
}

void AppDelegate::applicationWillTerminate() {}
