// Reading and writing this program's own focused text input, offscreen:
// QML inputs through their properties, widgets through input-method events.

#include "platform.h"

#include <QLineEdit>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QTextEdit>

#include <memory>

using platform::FocusedTextInput;
using platform::TextRange;

class TestFocusedTextInput : public QObject
{
    Q_OBJECT

    // A QML item shown and focused in a window of its own.
    struct Scene { QQmlEngine engine; QQuickWindow window; std::unique_ptr<QQuickItem> item; };
    static bool show(Scene &scene, const QByteArray &qml)
    {
        QQmlComponent component(&scene.engine);
        component.setData(qml, QUrl());
        scene.item.reset(qobject_cast<QQuickItem *>(component.create()));
        if (!scene.item)
            return false;
        scene.item->setParentItem(scene.window.contentItem());
        scene.item->setSize(QSizeF(300, 100));
        scene.window.resize(300, 100);
        scene.window.show();
        scene.window.requestActivate();
        if (!QTest::qWaitForWindowActive(&scene.window))
            return false;
        scene.item->forceActiveFocus();
        return QGuiApplication::focusObject() == scene.item.get();
    }

private Q_SLOTS:
    void noneWithoutAFocusedTextInput()
    {
        QCOMPARE(QGuiApplication::focusObject(), nullptr);
        FocusedTextInput input;
        QVERIFY(!input.isValid());
        QCOMPARE(input.text(), std::nullopt);
        QCOMPARE(input.selectedText(), std::nullopt);
        QVERIFY(!input.setSelection(0, 0));
        QVERIFY(!input.setText(QStringLiteral("x")));

        // A focused button is no text input either.
        Scene scene;
        QVERIFY(show(scene, "import QtQuick.Controls\nButton { text: \"OK\"; focusPolicy: Qt.StrongFocus }"));
        FocusedTextInput button;
        QCOMPARE(button.object(), scene.item.get());
        QVERIFY(!button.isValid());
        QCOMPARE(button.text(), std::nullopt);
    }

    void quickTextField()
    {
        Scene scene;
        // An emoji is two UTF-16 code units: ranges count those.
        QVERIFY(show(scene, "import QtQuick.Controls\nTextField { text: \"say \\u{1F600} twice\" }"));
        QQuickItem *field = scene.item.get();
        QMetaObject::invokeMethod(field, "select", Q_ARG(int, 4), Q_ARG(int, 6));

        FocusedTextInput input;
        QCOMPARE(input.object(), field);
        QVERIFY(input.isValid());
        QCOMPARE(input.text(), QStringLiteral("say \U0001F600 twice"));
        QCOMPARE(input.selectedText(), QStringLiteral("\U0001F600"));
        QCOMPARE(input.selection(), (TextRange{4, 2}));

        QVERIFY(input.setSelection(7, 5));
        QCOMPARE(field->property("selectedText").toString(), QStringLiteral("twice"));
        QVERIFY(!input.setSelection(7, 6)); // past the end
        QVERIFY(input.setSelection(3, 0));
        QCOMPARE(input.selectedText(), QString());
        QCOMPARE(field->property("cursorPosition").toInt(), 3);

        QVERIFY(input.setText(QStringLiteral("new words")));
        QCOMPARE(field->property("text").toString(), QStringLiteral("new words"));

        // Bound to the item, not to whatever has focus later; gone with it.
        scene.item.reset();
        QVERIFY(!input.isValid());
        QCOMPARE(input.text(), std::nullopt);
    }

    void quickRichTextAreaGivesPlainText()
    {
        Scene scene;
        QVERIFY(show(scene, "import QtQuick\nimport QtQuick.Controls\n"
                            "TextArea { textFormat: TextEdit.RichText; text: \"<b>bold</b> and plain\" }"));
        QMetaObject::invokeMethod(scene.item.get(), "select", Q_ARG(int, 0), Q_ARG(int, 4));
        FocusedTextInput input;
        QCOMPARE(input.text(), QStringLiteral("bold and plain"));
        QCOMPARE(input.selectedText(), QStringLiteral("bold"));
        QCOMPARE(input.selection(), (TextRange{0, 4}));
    }

    void textEditAcrossParagraphs()
    {
        QTextEdit edit;
        edit.setPlainText(QStringLiteral("First line.\nSecond line here.\nThird."));
        edit.show();
        QApplication::setActiveWindow(&edit);
        QVERIFY(QTest::qWaitForWindowActive(&edit));
        edit.setFocus();
        QCOMPARE(QGuiApplication::focusObject(), &edit);

        // Caret in the second paragraph, anchor in the first: input methods
        // count from the caret's paragraph, the range from the document start.
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(6);
        cursor.setPosition(19, QTextCursor::KeepAnchor);
        edit.setTextCursor(cursor);

        FocusedTextInput input;
        QCOMPARE(input.text(), edit.toPlainText());
        QCOMPARE(input.selection(), (TextRange{6, 13}));
        QCOMPARE(input.selectedText(), QStringLiteral("line.\nSecond "));

        QVERIFY(input.setSelection(30, 5));
        QCOMPARE(edit.textCursor().selectedText(), QStringLiteral("Third"));

        QVERIFY(input.setText(QStringLiteral("Replaced.\nTwo.")));
        QCOMPARE(edit.toPlainText(), QStringLiteral("Replaced.\nTwo."));
    }

    void lineEdit()
    {
        QLineEdit edit(QStringLiteral("hello wide world"));
        edit.show();
        QApplication::setActiveWindow(&edit);
        QVERIFY(QTest::qWaitForWindowActive(&edit));
        edit.setFocus();
        edit.setSelection(11, -5); // caret at 6, anchor at 11
        FocusedTextInput input;
        QCOMPARE(input.text(), QStringLiteral("hello wide world"));
        QCOMPARE(input.selection(), (TextRange{6, 5}));
        QCOMPARE(input.selectedText(), QStringLiteral("wide "));

        QVERIFY(input.setSelection(0, 5));
        QCOMPARE(edit.selectedText(), QStringLiteral("hello"));
    }
};

QTEST_MAIN(TestFocusedTextInput)
#include "tst_focusedtextinput.moc"
