// Tracks events with the analytics client in a process of its own, then
// either waits (to be killed) or quits like the program does.
//   analytics_child_helper <server url> <storage> <token> <count> hang|quit <flush seconds>

#include "mixpanel.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUuid>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 7) {
        std::fputs("usage: analytics_child_helper url storage token count hang|quit seconds\n",
                   stderr);
        return 2;
    }
    mixpanel::Mixpanel::Configuration configuration;
    configuration.serverUrl = QUrl(args.at(1));
    configuration.storageDirectory = args.at(2);
    auto *instance = mixpanel::Mixpanel::initialize(args.at(3), QUuid::createUuid().toString(),
                                                    false, args.at(6).toInt(), configuration);
    const int count = args.at(4).toInt();
    for (int i = 0; i < count; ++i)
        instance->track(QStringLiteral("Child event"), {{QStringLiteral("index"), QString::number(i)}});

    std::printf("tracked %s\n", qPrintable(instance->distinctId()));
    std::fflush(stdout);

    if (args.at(5) == QLatin1String("quit"))
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
