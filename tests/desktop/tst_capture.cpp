// Capture and write-back against a real GTK editor and against this
// program's own text field, in the headless desktop session.
#include "desktopsession.h"

#include <accessibilityhandler.h>
#include <clipboardaccessor.h>
#include <keyboardeventsimulator.h>
#include <resolver.h>
#include <textextractor.h>

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>

using desktop::Mousepad;
using desktop::xdotool;

namespace {
// captured null: nothing is captured.
struct EditorCase { QString text; int line, column; QStringList selectKeys; QString captured, replacement, after; };
// selectFrom -1: no selection, the caret at selectTo.
struct FieldCase { QString text; int selectFrom, selectTo; QString captured; CharacterRange range; QString replacement, after; };
} // namespace
Q_DECLARE_METATYPE(EditorCase)
Q_DECLARE_METATYPE(FieldCase)

class TestCapture : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<TextExtractor> extractor()
    {
        return std::static_pointer_cast<TextExtractor>(Resolver::main().resolve<TextExtraction>());
    }

    static QStringList keys(const QString &key, int times)
    {
        return QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} + QStringList(times, key);
    }

    struct OwnField { QQmlApplicationEngine engine; QQuickWindow *window = nullptr; QQuickItem *field = nullptr; };

    bool showOwnField(OwnField &own, const QString &text)
    {
        own.engine.loadData(QByteArrayLiteral(R"(
            import QtQuick
            import QtQuick.Controls
            Window {
                width: 400; height: 80; visible: true; title: "practice"
                TextField { objectName: "field"; anchors.fill: parent; focus: true }
            })"));
        if (own.engine.rootObjects().isEmpty())
            return false;
        own.window = qobject_cast<QQuickWindow *>(own.engine.rootObjects().first());
        own.field = own.window->findChild<QQuickItem *>(QStringLiteral("field"));
        own.field->setProperty("text", text);
        own.window->requestActivate();
        own.field->forceActiveFocus();
        return QTest::qWaitForWindowActive(own.window) && QTest::qWaitFor([] {
                   return TextExtractor::ownApplicationIsInFront();
               }, 3000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        Resolver::main().setRegistrationRoutine(desktop::registerCaptureServices);
    }

    // In mousepad: the selection, else the paragraph up to the caret; the
    // write-back leaves the clipboard empty rather than holding our text.
    void anotherApplication_data()
    {
        QTest::addColumn<EditorCase>("c");
        QTest::newRow("selection, emoji and RTL") << EditorCase{
            QStringLiteral("Hello brave new w\u00f6rld \U0001F30D\n"), 1, 6, keys(QStringLiteral("shift+Right"), 5),
            QStringLiteral("brave"), QStringLiteral("bold \u05e9\u05dc\u05d5\u05dd"),
            QStringLiteral("Hello bold \u05e9\u05dc\u05d5\u05dd new w\u00f6rld \U0001F30D\n")};
        QTest::newRow("paragraph up to the caret") << EditorCase{
            QStringLiteral("First paragraph stays.\nSecond one is here and goes on\n"), 2, 18, {},
            QStringLiteral("Second one is here"), QStringLiteral("The second one was"),
            QStringLiteral("First paragraph stays.\nThe second one was and goes on\n")};
        QTest::newRow("empty paragraph") << EditorCase{QStringLiteral("Above.\n\nBelow.\n"), 2, 0, {}, {}, {},
                                                       QStringLiteral("Above.\n\nBelow.\n")};
        QString big;
        while (big.size() < 100000)
            big += QStringLiteral("Caf\u00e9 \U0001F600 and \u05e9\u05dc\u05d5\u05dd, line of text.\n");
        QTest::newRow("large selection")
            << EditorCase{big, 1, 0, keys(QStringLiteral("ctrl+a"), 1), big, QStringLiteral("short"), QStringLiteral("short")};
    }

    void anotherApplication()
    {
        QFETCH(EditorCase, c);
        Mousepad editor;
        QVERIFY(editor.open(c.text, c.line, c.column));
        QVERIFY(!TextExtractor::ownApplicationIsInFront());
        if (!c.selectKeys.isEmpty())
            xdotool(c.selectKeys);
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), c.captured.isNull() ? std::nullopt : std::optional<QString>(c.captured));
        if (c.captured.isNull())
            capture->resetCapture();
        else
            capture->replaceSelectedText(c.replacement);
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(editor.contents(), c.after);
    }

    // In our own field the range is recorded at the first occurrence of the
    // capture, counted in characters, and replaced in place.
    void ownField_data()
    {
        QTest::addColumn<FieldCase>("c");
        QTest::newRow("selection of a repeated word")
            << FieldCase{QStringLiteral("Two or w\u00f6rld. Two again."), 14, 17, QStringLiteral("Two"), {0, 3},
                         QStringLiteral("One"), QStringLiteral("One or w\u00f6rld. Two again.")};
        QTest::newRow("last sentence") << FieldCase{QStringLiteral("One. Tw\u00f6. Three"), -1, 15, QStringLiteral("Three"),
                                                    {10, 5}, QStringLiteral("3"), QStringLiteral("One. Tw\u00f6. 3")};
    }

    void ownField()
    {
        QFETCH(FieldCase, c);
        OwnField own;
        QVERIFY(showOwnField(own, c.text));
        if (c.selectFrom < 0)
            own.field->setProperty("cursorPosition", c.selectTo);
        else
            QMetaObject::invokeMethod(own.field, "select", Q_ARG(int, c.selectFrom), Q_ARG(int, c.selectTo));
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::optional<QString>(c.captured));
        auto handler = std::static_pointer_cast<AccessibilityHandler>(Resolver::main().resolve<AccessibilityHandling>());
        QCOMPARE(handler->activeInputRange, std::optional<CharacterRange>(c.range));
        capture->replaceSelectedText(c.replacement);
        QCOMPARE(own.field->property("text").toString(), c.after);
    }

    void ownFieldEditedMeanwhileWritesNothing()
    {
        OwnField own;
        QVERIFY(showOwnField(own, QStringLiteral("Alpha. Beta gamma")));
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::optional<QString>(QStringLiteral("Beta gamma")));
        // The user shortened the field while the request ran.
        own.field->setProperty("text", QStringLiteral("Alpha."));
        capture->replaceSelectedText(QStringLiteral("Delta"));
        QCOMPARE(own.field->property("text").toString(), QStringLiteral("Alpha."));
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
