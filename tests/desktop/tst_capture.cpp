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
        QStringList args{QStringLiteral("key"), QStringLiteral("--clearmodifiers")};
        for (int i = 0; i < times; ++i)
            args << key;
        return args;
    }

    // A QML text field of this program, focused and in front.
    struct OwnField
    {
        QQmlApplicationEngine engine;
        QQuickWindow *window = nullptr;
        QQuickItem *field = nullptr;
    };

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

    void selectionInAnotherApplicationIsCapturedAndReplaced()
    {
        Mousepad editor;
        QVERIFY(editor.open(QStringLiteral("Hello brave new w\u00f6rld \U0001F30D\n"), 1, 6));
        QVERIFY(!TextExtractor::ownApplicationIsInFront());
        xdotool(keys(QStringLiteral("shift+Right"), 5));

        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::optional<QString>(QStringLiteral("brave")));
        capture->replaceSelectedText(QStringLiteral("bold \u05e9\u05dc\u05d5\u05dd"));
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(editor.contents(), QStringLiteral("Hello bold \u05e9\u05dc\u05d5\u05dd new w\u00f6rld \U0001F30D\n"));
    }

    void withoutSelectionTheParagraphUpToTheCaretIsUsed()
    {
        Mousepad editor;
        QVERIFY(editor.open(QStringLiteral("First paragraph stays.\nSecond one is here and goes on\n"), 2, 18));
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::optional<QString>(QStringLiteral("Second one is here")));
        capture->replaceSelectedText(QStringLiteral("The second one was"));
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(editor.contents(), QStringLiteral("First paragraph stays.\nThe second one was and goes on\n"));
    }

    void emptyParagraphCapturesNothing()
    {
        Mousepad editor;
        QVERIFY(editor.open(QStringLiteral("Above.\n\nBelow.\n"), 2, 0));
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::nullopt);
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        capture->resetCapture();
        QCOMPARE(editor.contents(), QStringLiteral("Above.\n\nBelow.\n"));
    }

    void largeSelectionRoundTrips()
    {
        QString big;
        while (big.size() < 100000)
            big += QStringLiteral("Caf\u00e9 \U0001F600 and \u05e9\u05dc\u05d5\u05dd, line of text.\n");
        Mousepad editor;
        QVERIFY(editor.open(big, 1, 0));
        xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::optional<QString>(big));
        capture->replaceSelectedText(QStringLiteral("short"));
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(editor.contents(), QStringLiteral("short"));
    }

    void ownFieldSelectionIsSentAndReplacedInPlace()
    {
        OwnField own;
        QVERIFY(showOwnField(own, QStringLiteral("Two or w\u00f6rld. Two again.")));
        // Select the second "Two": the range is recorded at the first occurrence.
        QMetaObject::invokeMethod(own.field, "select", Q_ARG(int, 14), Q_ARG(int, 17));
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::optional<QString>(QStringLiteral("Two")));
        auto handler = std::static_pointer_cast<AccessibilityHandler>(Resolver::main().resolve<AccessibilityHandling>());
        QCOMPARE(handler->activeInputRange, std::optional<CharacterRange>(CharacterRange{0, 3}));
        capture->replaceSelectedText(QStringLiteral("One"));
        QCOMPARE(own.field->property("text").toString(), QStringLiteral("One or w\u00f6rld. Two again."));
    }

    void ownFieldWithoutSelectionSendsTheLastSentence()
    {
        OwnField own;
        QVERIFY(showOwnField(own, QStringLiteral("One. Tw\u00f6. Three")));
        own.field->setProperty("cursorPosition", 15);
        auto capture = extractor();
        QCOMPARE(capture->extractSelectedText(), std::optional<QString>(QStringLiteral("Three")));
        auto handler = std::static_pointer_cast<AccessibilityHandler>(Resolver::main().resolve<AccessibilityHandling>());
        QCOMPARE(handler->activeInputRange, std::optional<CharacterRange>(CharacterRange{10, 5}));
        capture->replaceSelectedText(QStringLiteral("3"));
        QCOMPARE(own.field->property("text").toString(), QStringLiteral("One. Tw\u00f6. 3"));
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

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestCapture test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_capture.moc"
