// The program's own start-up, instrumented: prints the monotonic clock once
// the event loop has finished launching and is about to block for the first
// time, then idles like the real program until it is told to quit.
#include <mendoraapp.h>

#include <QAbstractEventDispatcher>
#include <QTimer>

#include <cstdio>
#include <ctime>

int main(int argc, char **argv)
{
    MendoraApp app(argc, argv);
    QTimer::singleShot(0, [] {
        auto *dispatcher = QAbstractEventDispatcher::instance();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [connection] {
            QObject::disconnect(*connection);
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("idle %lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
            std::fflush(stdout);
        });
    });
    return app.exec();
}
