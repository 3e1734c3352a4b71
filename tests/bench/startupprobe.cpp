// The program's own start-up, instrumented: prints the monotonic clock once
// the event loop has finished launching and is about to block for the first
// time, then once the tray has embedded the icon, then idles like the real
// program until it is told to quit. With --blink it keeps the icon blinking
// at its fastest (a text action in progress) instead of resting.
#include <appdelegate.h>
#include <applicationstateobserver.h>
#include <menubarcontroller.h>
#include <mendoraapp.h>
#include <resolver.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include "probeclock.h"

#include <cstring>

int main(int argc, char **argv)
{
    const bool blink = argc > 1 && std::strcmp(argv[1], "--blink") == 0;
    MendoraApp app(argc, argv);
    QTimer::singleShot(0, [&app, blink] {
        auto *dispatcher = QAbstractEventDispatcher::instance();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [connection] {
            QObject::disconnect(*connection);
            printClock("idle");
        });

        // The tray embeds the icon asynchronously; look until it has a place.
        auto *poll = new QTimer(QCoreApplication::instance());
        poll->setInterval(2);
        QObject::connect(poll, &QTimer::timeout, [&app, poll, blink] {
            auto *controller = app.appDelegate()->menuBarController();
            QSystemTrayIcon *tray = controller ? controller->statusItem() : nullptr;
            if (!tray || tray->geometry().isEmpty())
                return;
            poll->stop();
            poll->deleteLater();
            printClock("tray");
            if (blink) {
                auto observer = Resolver::main().resolve<ApplicationStateObserver>();
                observer->applicationStateSubject.send(ApplicationState::inProgress());
            }
        });
        poll->start();
    });
    return app.exec();
}
