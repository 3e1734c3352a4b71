// Display text, the stored form of a choice, and what getShortcut reads back,
// also from a fresh process. Runs offscreen: no X11 connection.

#include "keyboardshortcuts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace KeyboardShortcuts;

namespace {

QSettings settings() { return QSettings(QCoreApplication::organizationName(), QCoreApplication::applicationName()); }
QVariant storedValue(const QString &raw) { return settings().value(QStringLiteral("KeyboardShortcuts_") + raw); }
void storeRaw(const QString &raw, const QVariant &value) { settings().setValue(QStringLiteral("KeyboardShortcuts_") + raw, value); }

// The child: prints what getShortcut gives for a name with a default.
int printShortcut(const QString &raw)
{
    const Name name(raw, Shortcut(Qt::Key_D, Qt::ControlModifier));
    const auto shortcut = getShortcut(name);
    std::printf("%s\n", shortcut ? qPrintable(shortcut->description()) : "<none>");
    return 0;
}

} // namespace

class TestStorage : public QObject
{
    Q_OBJECT

    QString readInChild(const QString &raw)
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-shortcut"), raw});
        if (!child.waitForFinished(20000) || child.exitCode() != 0)
            return QStringLiteral("<child failed: %1>").arg(QString::fromLocal8Bit(child.readAllStandardError()));
        return QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    }

private Q_SLOTS:
    void descriptionText_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::newRow("ctrl shift f5") << int(Qt::Key_F5) << int(Qt::ControlModifier | Qt::ShiftModifier) << QStringLiteral("Ctrl+Shift+F5");
        QTest::newRow("meta alt space") << int(Qt::Key_Space) << int(Qt::MetaModifier | Qt::AltModifier) << QStringLiteral("Meta+Alt+Space");
        QTest::newRow("keypad flag dropped") << int(Qt::Key_1) << int(Qt::ControlModifier | Qt::KeypadModifier) << QStringLiteral("Ctrl+1");
    }

    void descriptionText()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        const Shortcut shortcut{static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers)};
        QCOMPARE(shortcut.description(), text);
        QCOMPARE(Shortcut::fromPortableText(shortcut.portableText()), std::optional<Shortcut>(shortcut));
    }

    void unreadableText()
    {
        for (const QString &text : {QString(), QStringLiteral("not a shortcut"), QStringLiteral("Ctrl+A, Ctrl+B"),
                                    QStringLiteral("Ctrl+Shift")})
            QVERIFY2(!Shortcut::fromPortableText(text), qPrintable(text));
    }

    void storedFormAndNoKeysAreNotTheDefault()
    {
        const Name name(QStringLiteral("noKeys"), Shortcut(Qt::Key_D, Qt::ControlModifier));
        QCOMPARE(getShortcut(name)->description(), QStringLiteral("Ctrl+D"));
        QVERIFY(!storedValue(QStringLiteral("noKeys")).isValid());
        QCOMPARE(setShortcut(Shortcut(Qt::Key_F, Qt::ControlModifier | Qt::AltModifier), name), GrabResult::Deferred);
        QCOMPARE(storedValue(QStringLiteral("noKeys")), QVariant(QStringLiteral("Ctrl+Alt+F")));

        QCOMPARE(setShortcut(std::nullopt, name), GrabResult::NoKeys);
        QCOMPARE(storedValue(QStringLiteral("noKeys")), QVariant(QString()));
        QVERIFY(!getShortcut(name));

        reset(name);
        QVERIFY(!storedValue(QStringLiteral("noKeys")).isValid());
        QCOMPARE(getShortcut(name)->description(), QStringLiteral("Ctrl+D"));
    }

    void unparsableStoredValueReadsAsDefault()
    {
        const Name name(QStringLiteral("garbled"), Shortcut(Qt::Key_D, Qt::ControlModifier));
        storeRaw(QStringLiteral("garbled"), QStringLiteral("Ctrl+Banana"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Ctrl\\+Banana.*default")));
        QCOMPARE(getShortcut(name)->description(), QStringLiteral("Ctrl+D"));

        storeRaw(QStringLiteral("garbled"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not text.*default")));
        QCOMPARE(getShortcut(name)->description(), QStringLiteral("Ctrl+D"));
    }

    void readBackAfterRestart()
    {
        const Name name(QStringLiteral("restart"), Shortcut(Qt::Key_D, Qt::ControlModifier));
        QCOMPARE(readInChild(QStringLiteral("restart")), QStringLiteral("Ctrl+D"));
        setShortcut(Shortcut(Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier), name);
        QCOMPARE(readInChild(QStringLiteral("restart")), QStringLiteral("Ctrl+Shift+F9"));
        setShortcut(std::nullopt, name);
        QCOMPARE(readInChild(QStringLiteral("restart")), QStringLiteral("<none>"));
        reset(name);
        QCOMPARE(readInChild(QStringLiteral("restart")), QStringLiteral("Ctrl+D"));
    }

    void changesAreAnnounced()
    {
        const Name name(QStringLiteral("announced"));
        QSignalSpy changed(notifier(), &Notifier::shortcutChanged);
        setShortcut(Shortcut(Qt::Key_E, Qt::ControlModifier), name);
        setShortcut(std::nullopt, name);
        reset(name);
        QCOMPARE(changed.count(), 3);
        for (const auto &arguments : changed)
            QCOMPARE(arguments.at(0).toString(), QStringLiteral("announced"));
    }

    void withoutX11ItWarnsOnceAndHoldsNothing()
    {
        const Name first(QStringLiteral("offscreenFirst"), Shortcut(Qt::Key_J, Qt::ControlModifier));
        const Name second(QStringLiteral("offscreenSecond"), Shortcut(Qt::Key_K, Qt::ControlModifier));
        QSignalSpy failed(notifier(), &Notifier::grabFailed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no X11 connection")));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        onKeyUp(first, [] {});
        onKeyUp(second, [] {});
        QCOMPARE(setShortcut(Shortcut(Qt::Key_L, Qt::ControlModifier), first), GrabResult::NoX11);
        QCOMPARE(failed.count(), 0);
        removeHandlers(first);
        removeHandlers(second);
    }
};

int main(int argc, char **argv)
{
    // Our own preferences folder, shared with the child processes.
    QTemporaryDir config;
    if (!qEnvironmentVariableIsSet("WUGG_TEST_CONFIG"))
        qputenv("WUGG_TEST_CONFIG", config.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", qgetenv("WUGG_TEST_CONFIG"));

    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("WuggTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_keyboardshortcuts_storage"));
    if (argc == 3 && qstrcmp(argv[1], "--print-shortcut") == 0)
        return printShortcut(QString::fromLocal8Bit(argv[2]));
    TestStorage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keyboardshortcuts_storage.moc"
