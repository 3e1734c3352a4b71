// Version ordering and reading the appcast.

#include "suappcastitem.h"
#include "versioncompare.h"

#include <QTest>

class TestUpdaterVersions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("numeric not textual") << "1.10.0" << "1.9.2" << 1;
        QTest::newRow("shorter is older") << "2" << "2.0.1" << -1;
        QTest::newRow("leading zeros") << "1.02" << "1.2" << 0;
        QTest::newRow("long numbers") << "1.20260302001" << "1.20260302000" << 1;
        QTest::newRow("release beats suffix") << "1.0.1" << "1.0b" << 1;
        QTest::newRow("text runs") << "1.0b2" << "1.0b1" << 1;
        QTest::newRow("pre-release is older") << "1.0b" << "1.0" << -1;
    }

    void compare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(compareVersions(a, b), expected);
        QCOMPARE(compareVersions(b, a), -expected);
    }

    void readsTheNewestInstallableItem()
    {
        // Another namespace's "version" is not a version; an item without an
        // enclosure cannot be installed: neither is offered.
        const QByteArray xml = R"(<rss xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'
     xmlns:other='urn:other'><channel>
 <item><sparkle:version>1.9.2</sparkle:version><enclosure url='https://e.org/a' length='1'/></item>
 <item><sparkle:version>1.10.0</sparkle:version><sparkle:shortVersionString>1.10</sparkle:shortVersionString>
  <enclosure url='https://e.org/b' length='4242' sparkle:edSignature='c2lnbmF0dXJl'/></item>
 <item><sparkle:version>1.2</sparkle:version><enclosure url='https://e.org/c' length='1'/></item>
 <item><sparkle:version>9.0</sparkle:version></item>
 <item><other:version>99</other:version><enclosure url='https://e.org/d' length='1'/></item>
</channel></rss>)";
        const SUAppcast appcast = parseAppcast(xml);
        QVERIFY2(appcast.error.isEmpty(), qPrintable(appcast.error));
        QCOMPARE(appcast.items.size(), 3);
        const SUAppcastItem *newest = newestItem(appcast);
        QVERIFY(newest);
        QCOMPARE(newest->version, QStringLiteral("1.10.0"));
        QCOMPARE(newest->shortVersionString, QStringLiteral("1.10"));
        QCOMPARE(newest->enclosureUrl, QUrl(QStringLiteral("https://e.org/b")));
        QCOMPARE(newest->enclosureLength, 4242);
        QCOMPARE(newest->edSignature, QStringLiteral("c2lnbmF0dXJl"));
        QCOMPARE(newestItem(SUAppcast{}), nullptr);
    }

    void brokenFeedsReportAnError_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::newRow("not xml") << QByteArray("<html>Service unavailable");
        QTest::newRow("cut short") << QByteArray(
            R"(<rss xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel><item>)"
            R"(<sparkle:version>2</sparkle:version><enclosure url='https://e.org/a' length='1'/></item>)");
        QTest::newRow("no channel") << QByteArray("<rss></rss>");
    }

    void brokenFeedsReportAnError()
    {
        QFETCH(QByteArray, xml);
        const SUAppcast appcast = parseAppcast(xml);
        QVERIFY(!appcast.error.isEmpty());
        QVERIFY(appcast.items.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdaterVersions)
#include "tst_updater_versions.moc"
