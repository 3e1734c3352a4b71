#include <userdefaults.h>
#include <userpreferences.h>

#include <QTemporaryDir>
#include <QTest>

using UserPreferences::MenuBarIconStyle;

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void iconStyleRawValues_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("style"); // -1: no value
        QTest::newRow("colored") << QStringLiteral("colored") << int(MenuBarIconStyle::colored);
        QTest::newRow("minimal") << QStringLiteral("minimal") << int(MenuBarIconStyle::minimal);
        QTest::newRow("capitalised") << QStringLiteral("Colored") << -1;
        QTest::newRow("empty") << QString() << -1;
    }

    void iconStyleRawValues()
    {
        QFETCH(QString, raw);
        QFETCH(int, style);
        const auto parsed = UserPreferences::menuBarIconStyleFromRawValue(raw);
        QCOMPARE(parsed.has_value(), style >= 0);
        if (parsed) {
            QCOMPARE(int(*parsed), style);
            QCOMPARE(UserPreferences::rawValue(*parsed), raw);
        }
    }

    void storesAndRemovesValues()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("prefs.conf"));
        UserDefaults store(file);
        QCOMPARE(store.string(QStringLiteral("usageCounterKey")), std::nullopt);

        store.setValue(QStringLiteral("3"), QStringLiteral("usageCounterKey"));
        store.setValue(QStringLiteral("minimal"), QString::fromLatin1(UserPreferences::kMenuBarIconStyleKey));
        // A second store on the same file sees what the first wrote (written at once).
        UserDefaults reopened(file);
        QCOMPARE(reopened.string(QStringLiteral("menuBarIconStylePreferenceKey")), QStringLiteral("minimal"));

        QCOMPARE(reopened.string(QStringLiteral("usageCounterKey")), QStringLiteral("3"));
        // Counted at every action, so kept out of the preferences file.
        QCOMPARE(QSettings(file, QSettings::IniFormat).contains(QStringLiteral("usageCounterKey")), false);
        store.setValue(std::nullopt, QStringLiteral("usageCounterKey"));
        QCOMPARE(UserDefaults(file).string(QStringLiteral("usageCounterKey")), std::nullopt);
    }

    void aCounterInThePreferencesMovesOut()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("prefs.conf"));
        QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("usageCounterKey"), QStringLiteral("7"));
        UserDefaults store(file);
        QCOMPARE(store.string(QStringLiteral("usageCounterKey")), QStringLiteral("7"));
        store.setValue(QStringLiteral("8"), QStringLiteral("usageCounterKey"));
        QCOMPARE(UserDefaults(file).string(QStringLiteral("usageCounterKey")), QStringLiteral("8"));
        QCOMPARE(QSettings(file, QSettings::IniFormat).contains(QStringLiteral("usageCounterKey")), false);
    }

    void valuesOfTheWrongFormReadAsTheyShould()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("prefs.conf"));
        {
            QSettings raw(file, QSettings::IniFormat);
            raw.setValue(QStringLiteral("list"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
            raw.setValue(QStringLiteral("number"), 42);
            raw.setValue(QStringLiteral("fraction"), 1.5);
            raw.setValue(QStringLiteral("map"), QVariantMap{{QStringLiteral("k"), 1}});
        }
        UserDefaults store(file);
        QCOMPARE(store.string(QStringLiteral("list")), std::nullopt);
        QCOMPARE(store.string(QStringLiteral("map")), std::nullopt);
        QCOMPARE(store.string(QStringLiteral("number")), QStringLiteral("42"));
        QCOMPARE(store.string(QStringLiteral("fraction")), QStringLiteral("1.5"));
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
