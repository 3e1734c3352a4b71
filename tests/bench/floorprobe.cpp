// The floor of the stack: the least a Qt tray program of seven menu entries
// can be, built from the same packages as the program. Prints the same
// clock lines as the program's probe, so the two are measured alike.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include "probeclock.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QMenu menu;
    for (const char *entry : {"Settings", "How to Use?", "Check for Updates", "Version", "Send Feedback", "About", "Quit"})
        menu.addAction(QString::fromLatin1(entry));
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::black);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setContextMenu(&menu);
    tray.show();

    QTimer::singleShot(0, [&tray] {
        auto *dispatcher = QAbstractEventDispatcher::instance();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [connection] {
            QObject::disconnect(*connection);
            printClock("idle");
        });
        auto *poll = new QTimer(QCoreApplication::instance());
        poll->setInterval(2);
        QObject::connect(poll, &QTimer::timeout, [&tray, poll] {
            if (tray.geometry().isEmpty())
                return;
            poll->stop();
            poll->deleteLater();
            printClock("tray");
        });
        poll->start();
    });
    return app.exec();
}
