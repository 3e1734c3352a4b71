// The accessibility handler on a focused QML field of this program: where a
// captured text is recorded, and what a write-back does with the range.
#include <accessibilityhandler.h>

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

class TestAccessibility : public QObject
{
    Q_OBJECT

private:
    struct Scene
    {
        QQmlEngine engine;
        QQuickWindow window;
        std::unique_ptr<QQuickItem> field;
    };

    static bool show(Scene &scene, const QString &text)
    {
        QQmlComponent component(&scene.engine);
        component.setData("import QtQuick\nTextInput { width: 300; height: 40 }", QUrl());
        scene.field.reset(qobject_cast<QQuickItem *>(component.create()));
        if (!scene.field)
            return false;
        scene.field->setProperty("text", text);
        scene.field->setParentItem(scene.window.contentItem());
        scene.window.resize(300, 40);
        scene.window.show();
        scene.window.requestActivate();
        if (!QTest::qWaitForWindowActive(&scene.window))
            return false;
        scene.field->forceActiveFocus();
        return QGuiApplication::focusObject() == scene.field.get();
    }

private Q_SLOTS:
    void rangesCountCharacters_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("captured");
        QTest::addColumn<qsizetype>("location");
        QTest::addColumn<qsizetype>("length");
        QTest::newRow("combining mark") << QStringLiteral("Hello wo\u0308rld. Bye.") << QStringLiteral("Bye.")
                                        << qsizetype(13) << qsizetype(4);
        QTest::newRow("emoji inside") << QStringLiteral("\U0001F44B\U0001F3FD hi \U0001F1E9\U0001F1EA ok")
                                      << QStringLiteral("\U0001F1E9\U0001F1EA ok") << qsizetype(5) << qsizetype(4);
        QTest::newRow("first of two") << QStringLiteral("same and same") << QStringLiteral("same") << qsizetype(0)
                                      << qsizetype(4);
    }

    void rangesCountCharacters()
    {
        QFETCH(QString, value);
        QFETCH(QString, captured);
        QFETCH(qsizetype, location);
        QFETCH(qsizetype, length);
        Scene scene;
        QVERIFY(show(scene, value));
        AccessibilityHandler handler;
        handler.updateActiveInputRange(captured);
        QCOMPARE(handler.activeInputRange, std::optional<CharacterRange>(CharacterRange{location, length}));

        // Text that is not in the value leaves the earlier range as it was.
        handler.updateActiveInputRange(QStringLiteral("not there"));
        QCOMPARE(handler.activeInputRange, std::optional<CharacterRange>(CharacterRange{location, length}));

        handler.replaceSelectedText(QStringLiteral("\u00e9t\u00e9"));
        QString expected = value;
        const qsizetype at = value.indexOf(captured);
        expected.replace(at, captured.size(), QStringLiteral("\u00e9t\u00e9"));
        QCOMPARE(scene.field->property("text").toString(), expected);
        // The range stays for a later write-back.
        QCOMPARE(handler.activeInputRange, std::optional<CharacterRange>(CharacterRange{location, length}));
    }

    void writeBackWithoutRangeOrFieldChangesNothing()
    {
        AccessibilityHandler handler;
        Scene scene;
        QVERIFY(show(scene, QStringLiteral("untouched")));
        handler.replaceSelectedText(QStringLiteral("x")); // no range recorded
        QCOMPARE(scene.field->property("text").toString(), QStringLiteral("untouched"));

        handler.activeInputRange = CharacterRange{3, 20}; // reaches past the end
        handler.replaceSelectedText(QStringLiteral("x"));
        QCOMPARE(scene.field->property("text").toString(), QStringLiteral("untouched"));

        handler.activeInputRange = CharacterRange{0, 2};
        scene.window.close();
        scene.field->setFocus(false);
        QTRY_VERIFY(QGuiApplication::focusObject() != scene.field.get());
        QVERIFY(!handler.focusedElement());
        handler.replaceSelectedText(QStringLiteral("x")); // nothing focused
        QCOMPARE(scene.field->property("text").toString(), QStringLiteral("untouched"));
    }

    void sessionNoticeIsShownOncePerStart()
    {
        // Offscreen there is no X11 display to post synthetic keys to.
        AccessibilityHandler handler;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot reach other applications")));
        handler.requestAccessibilityPermission();
        QTest::failOnWarning(QRegularExpression(QStringLiteral("cannot reach other applications")));
        AccessibilityHandler().requestAccessibilityPermission();
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
