// A Secret Service that never answers: owns org.freedesktop.secrets on the
// session bus (DBUS_SESSION_BUS_ADDRESS) and leaves every call to it without
// a reply, as a hung keyring daemon does. Prints "ready" once it owns the
// name and runs until killed. With --replace it takes the name from its
// owner, if the owner allows that, instead of giving up.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>

#include <csignal>
#include <cstdio>

namespace {

const QString kName = QStringLiteral("org.freedesktop.secrets");

// Takes every message sent to any path and answers none of them.
class Swallower : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &, const QDBusConnection &) override { return true; }
};

void sayReady()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    std::signal(SIGINT, [](int) { std::_Exit(0); });
    const bool replace = app.arguments().contains(QStringLiteral("--replace"));

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "silentkeyring: no session bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    Swallower swallower;
    if (!bus.registerVirtualObject(QStringLiteral("/"), &swallower, QDBusConnection::SubPath)) {
        std::fprintf(stderr, "silentkeyring: cannot take the object tree\n");
        return 1;
    }

    QDBusConnectionInterface *names = bus.interface();
    QObject::connect(names, &QDBusConnectionInterface::serviceRegistered, &app, [](const QString &name) {
        if (name == kName)
            sayReady();
    });
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = names->registerService(
        kName, replace ? QDBusConnectionInterface::ReplaceExistingService : QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        std::fprintf(stderr, "silentkeyring: %s is taken%s\n", qPrintable(kName),
                     replace ? " and its owner does not give it up" : " (try --replace)");
        return 1;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
        sayReady();
    // Queued: "ready" comes with the name.
    return app.exec();
}
