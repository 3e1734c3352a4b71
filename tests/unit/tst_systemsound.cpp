// The feedback sound goes to the desktop's player, as a file it can open.
#include <systemsound.h>

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestSystemSound : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A player that writes what it was given to play, beside itself.
    void installPlayer(const QString &name)
    {
        QFile script(m_dir.filePath(QStringLiteral("bin/") + name));
        QVERIFY(script.open(QIODevice::WriteOnly));
        // PATH holds only the fake players: the script names its tools in full.
        script.write("#!/bin/sh\nd=$(/usr/bin/dirname \"$0\")\n"
                     "printf '%s\\n' \"$0\" \"$@\" > \"$d/played.tmp\"\n/bin/mv \"$d/played.tmp\" \"$d/played\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QStringList played()
    {
        QFile record(m_dir.filePath(QStringLiteral("bin/played")));
        if (!QTest::qWaitFor([&] { return record.exists(); }, 5000) || !record.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(record.readAll()).split(u'\n', Qt::SkipEmptyParts);
        record.remove();
        return lines;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("bin")));
        qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
    }

    void playsTheResourceThroughTheFirstPlayerFound()
    {
        QSignalSpy sounds(&SystemSound::zorble(), &SystemSound::played);
        // No player at all: silent, but the sound still counts as asked for.
        SystemSound::zorble().play();
        QCOMPARE(sounds.count(), 1);

        installPlayer(QStringLiteral("aplay"));
        installPlayer(QStringLiteral("paplay"));
        SystemSound::zorble().play();
        const QStringList call = played();
        QCOMPARE(call.size(), 2);
        QVERIFY2(call.first().endsWith(QLatin1String("/paplay")), qPrintable(call.first()));

        QFile resource(QStringLiteral(":/sounds/zorble.wav"));
        QFile file(call.last());
        QVERIFY(resource.open(QIODevice::ReadOnly) && file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), resource.readAll());

        // A damaged copy on disk is written again before the next sound.
        file.close();
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("RIFF");
        file.close();
        SystemSound::zorble().play();
        const QStringList again = played();
        QCOMPARE(again.value(1), call.last());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.size(), resource.size());
        QCOMPARE(sounds.count(), 3);
    }
};

QTEST_GUILESS_MAIN(TestSystemSound)
#include "tst_systemsound.moc"
