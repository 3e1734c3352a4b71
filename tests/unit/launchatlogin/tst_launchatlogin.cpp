#include <launchatlogin.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString AppId = QStringLiteral("wuggit-test");

QStringList linesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n') : QStringList();
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

} // namespace

class TestLaunchAtLogin : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    QString autostart() const { return m_config.path() + QStringLiteral("/autostart"); }
    QString entry() const { return autostart() + QLatin1Char('/') + AppId + QStringLiteral(".desktop"); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        qunsetenv("APPIMAGE");
    }

    void init()
    {
        QFileInfo info(autostart());
        if (info.isDir())
            QVERIFY(QDir(autostart()).removeRecursively());
        else if (info.exists())
            QVERIFY(QFile::remove(autostart()));
    }

    void enablingWritesAnEntryForThisExecutable()
    {
        LaunchAtLogin launch(AppId);
        QVERIFY(!launch.isEnabled());
        QSignalSpy changed(&launch, &LaunchAtLogin::isEnabledChanged);
        launch.setEnabled(true);
        launch.setEnabled(true); // no second signal
        QVERIFY(launch.isEnabled());
        // execValueStartsTheProgram checks that this Exec value starts exactly this file.
        const QStringList lines = linesOf(entry());
        QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
        QVERIFY(lines.contains(QStringLiteral("Exec=") + LaunchAtLogin::execValue(QCoreApplication::applicationFilePath())));
        QVERIFY(LaunchAtLogin(AppId).isEnabled());

        launch.setEnabled(false);
        launch.setEnabled(false);
        QVERIFY(!launch.isEnabled() && !QFile::exists(entry()));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(0).at(0).toBool(), true);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
    }

    void entryOnDiskDecides_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Wugg it!\nExec=/usr/bin/true\n";
        QTest::newRow("plain") << head << true;
        QTest::newRow("hidden") << head + "Hidden=true\n" << false;
        QTest::newRow("hidden false") << head + "Hidden=false\n" << true;
        QTest::newRow("gnome switched off") << head + "X-GNOME-Autostart-enabled=false\n" << false;
        QTest::newRow("hidden in another group") << head + "[Desktop Action x]\nHidden=true\n" << true;
    }

    void entryOnDiskDecides()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, enabled);
        QVERIFY(QDir().mkpath(autostart()));
        writeFile(entry(), contents);
        LaunchAtLogin launch(AppId);
        QCOMPARE(launch.isEnabled(), enabled);

        // A change made outside the program shows on refresh.
        QSignalSpy changed(&launch, &LaunchAtLogin::isEnabledChanged);
        QVERIFY(QFile::remove(entry()));
        launch.refresh();
        QVERIFY(!launch.isEnabled());
        QCOMPARE(changed.count(), enabled ? 1 : 0);

        // Enabling replaces a hidden entry with a working one.
        launch.setEnabled(true);
        QVERIFY(launch.isEnabled());
        QVERIFY(!linesOf(entry()).join(u'\n').contains(QStringLiteral("Hidden")));
    }

    // The program enables itself at every start; an entry that is already
    // right must not be saved again.
    void enablingAgainRewritesOnlyADifferentEntry_data()
    {
        QTest::addColumn<QByteArray>("from"); // what to change in the entry first; empty: nothing
        QTest::addColumn<QByteArray>("to");
        QTest::newRow("same") << QByteArray() << QByteArray();
        QTest::newRow("hidden by the user") << QByteArray("Terminal=false\n")
                                            << QByteArray("Terminal=false\nHidden=true\n");
        QTest::newRow("other program") << QByteArray("Exec=") << QByteArray("Exec=/opt/old/");
        QTest::newRow("edited") << QByteArray("Name=Wugg it!") << QByteArray("Name=Wugg it");
    }

    void enablingAgainRewritesOnlyADifferentEntry()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        LaunchAtLogin launch(AppId);
        launch.setEnabled(true);
        const QByteArray written = contentsOf(entry());
        QVERIFY(written.startsWith("[Desktop Entry]\n"));
        if (!from.isEmpty()) {
            QByteArray changed = written;
            QVERIFY(changed.replace(from, to) != written);
            writeFile(entry(), changed);
        }
        {
            // An hour back, so that a rewrite shows in the modification time.
            QFile file(entry());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
        }
        struct stat before = {};
        QCOMPARE(::stat(QFile::encodeName(entry()).constData(), &before), 0);

        launch.setEnabled(true);
        QVERIFY(launch.isEnabled());
        QCOMPARE(contentsOf(entry()), written);
        struct stat after = {};
        QCOMPARE(::stat(QFile::encodeName(entry()).constData(), &after), 0);
        const bool rewritten = after.st_ino != before.st_ino || after.st_mtim.tv_sec != before.st_mtim.tv_sec
            || after.st_mtim.tv_nsec != before.st_mtim.tv_nsec;
        QCOMPARE(rewritten, !from.isEmpty());
    }

    void unwritablePlaceKeepsItOff_data()
    {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QString>("warning");
        // Both hold for root as well, unlike file modes.
        QTest::newRow("autostart is a file") << "" << "cannot create";
        QTest::newRow("entry is a directory") << AppId + QStringLiteral(".desktop") << "cannot write";
    }

    void unwritablePlaceKeepsItOff()
    {
        QFETCH(QString, blocked);
        QFETCH(QString, warning);
        if (blocked.isEmpty())
            writeFile(autostart(), "not a directory");
        else
            QVERIFY(QDir().mkpath(autostart() + u'/' + blocked + QStringLiteral("/inside")));
        LaunchAtLogin launch(AppId);
        QSignalSpy changed(&launch, &LaunchAtLogin::isEnabledChanged);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("launch at login: ") + warning));
        launch.setEnabled(true);
        QVERIFY(!launch.isEnabled());
        QCOMPARE(changed.count(), 0);
    }

    // A desktop launcher (GLib's) starts the file at awkward paths from the Exec value.
    void execValueStartsTheProgram_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("space") << QStringLiteral("my programs");
        QTest::newRow("shell characters") << QStringLiteral("a$HOME `b` 'c' \"d\" (e);f&g|h*?#~<>");
        QTest::newRow("backslash") << QStringLiteral("a\\b\\\\c");
        QTest::newRow("non-ASCII") << QStringLiteral("Programme für Ünïcödé");
    }

    void execValueStartsTheProgram()
    {
        QFETCH(QString, folder);
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty())
            QSKIP("gio (libglib2.0-bin) is not installed");

        QTemporaryDir sandbox;
        const QString marker = sandbox.path() + QStringLiteral("/started");
        const QString program = sandbox.path() + QLatin1Char('/') + folder + QStringLiteral("/run");
        QVERIFY(QDir().mkpath(QFileInfo(program).path()));
        writeFile(program, "#!/bin/sh\nprintf %s \"$0\" > '" + QFile::encodeName(marker) + "'\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        const QString desktop = sandbox.path() + QStringLiteral("/test.desktop");
        writeFile(desktop, "[Desktop Entry]\nType=Application\nName=Test\nExec="
                               + LaunchAtLogin::execValue(program).toUtf8() + "\n");
        QCOMPARE(QProcess::execute(gio, {QStringLiteral("launch"), desktop}), 0);
        QTRY_VERIFY(QFileInfo(marker).size() > 0);
        QCOMPARE(linesOf(marker), QStringList{program});
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
