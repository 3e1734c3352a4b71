// Synthetic keystrokes into real applications: a chord while the user still
// holds other modifiers, and the paragraph-start selection in mousepad, a
// QTextEdit and a QML TextArea.

#include "desktophelpers.h"
#include "physicalkeyboard.h"
#include "platform.h"

#include <QKeyEvent>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QTextEdit>

#include <memory>

namespace {

const QString document = QStringLiteral("First paragraph here.\n\nThird paragraph has words.\nLast.");
const QString marker = QStringLiteral("<nothing copied>");

bool press(Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    for (int i = 0; i < times; ++i)
        if (!platform::postKeyChord(modifiers, key))
            return false;
    return true;
}

// Mousepad in front, its caret at line, column, and the marker on the clipboard.
bool openAt(testing::Mousepad &mousepad, int line, int column)
{
    const bool ok = mousepad.started() && mousepad.waitUntilActive() && press(Qt::Key_Home, 1, Qt::ControlModifier)
        && press(Qt::Key_Down, line) && press(Qt::Key_Right, column);
    testing::setClipboardMarker(marker);
    return ok;
}

std::optional<QString> copied()
{
    if (!platform::postKeyChord(Qt::ControlModifier, Qt::Key_C)
        || !testing::waitFor([] { return testing::clipboardText() != marker; }))
        return std::nullopt;
    return testing::clipboardText();
}

bool xdotool(const QStringList &arguments) { return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0; }

// Counts the releases of one key reaching an object.
class KeyReleaseCounter : public QObject
{
public:
    KeyReleaseCounter(QObject *target, int key) : m_key(key) { target->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyRelease && static_cast<QKeyEvent *>(event)->key() == m_key)
            ++count;
        return false;
    }

private:
    int m_key;
};

// Records the presses of other than modifier keys reaching it.
class KeyRecorder : public QWidget
{
public:
    KeyRecorder() { setFocusPolicy(Qt::StrongFocus); }
    QList<std::pair<int, Qt::KeyboardModifiers>> presses;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const int key = event->key();
        if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt && key != Qt::Key_Meta)
            presses.append({key, event->modifiers()});
    }
};

constexpr xcb_keysym_t keysymControlL = 0xffe3;

} // namespace

class TestChords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(platform::canPostSyntheticEvents()); }

    void heldModifiersAreReleasedFirst()
    {
        testing::Mousepad mousepad(document);
        QVERIFY(openAt(mousepad, 0, 0));
        QVERIFY(press(Qt::Key_End, 1, Qt::ShiftModifier));

        // The user's fingers still on a Ctrl+Alt shortcut. Let go on every path.
        const auto letGo = qScopeGuard([] { xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl"), QStringLiteral("alt")}); });
        QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl"), QStringLiteral("alt")}));
        QVERIFY(testing::waitFor([] {
            return QGuiApplication::queryKeyboardModifiers() == (Qt::ControlModifier | Qt::AltModifier);
        }));
        QCOMPARE(copied(), QStringLiteral("First paragraph here."));
        // Held through XTest, not on a keyboard: they stay released.
        QCOMPARE(QGuiApplication::queryKeyboardModifiers(), Qt::NoModifier);
    }

    void physicallyHeldModifierCountsAgain_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("key");
        QTest::newRow("Ctrl+C, the held modifier in the chord") << int(Qt::ControlModifier) << int(Qt::Key_C);
        QTest::newRow("F12, the held modifier not in it") << int(Qt::NoModifier) << int(Qt::Key_F12);
    }

    // The user still holds Ctrl of the shortcut on the keyboard when the chord
    // is sent, and taps another key with it afterwards.
    void physicallyHeldModifierCountsAgain()
    {
        QFETCH(int, modifiers);
        QFETCH(int, key);

        KeyRecorder recorder;
        recorder.resize(200, 100);
        recorder.show();
        QVERIFY(QTest::qWaitForWindowExposed(&recorder));
        QVERIFY(platform::activateWindow(quint32(recorder.winId())));
        QVERIFY(QTest::qWaitForWindowActive(&recorder));

        testing::PhysicalKeyboard keyboard;
        QVERIFY2(keyboard.isValid(), "no XInput device \"Xvfb keyboard\"");
        const auto letGo = qScopeGuard([&] { keyboard.release(keysymControlL); });
        QVERIFY(keyboard.press(keysymControlL));
        QVERIFY(keyboard.isDownForApplications(keysymControlL));

        QVERIFY(platform::postKeyChord(Qt::KeyboardModifiers(modifiers), Qt::Key(key)));
        QVERIFY2(keyboard.isDownForApplications(keysymControlL), "Ctrl up while the user holds it");
        QVERIFY(testing::waitFor([&] { return recorder.presses.contains({key, Qt::KeyboardModifiers(modifiers)}); }));
        recorder.presses.clear();
        QVERIFY(keyboard.tap('f'));
        QVERIFY(testing::waitFor([&] { return !recorder.presses.isEmpty(); }));
        QCOMPARE(recorder.presses.constFirst(), std::pair(int(Qt::Key_F), Qt::KeyboardModifiers(Qt::ControlModifier)));

        // Let go on the keyboard: no Ctrl of ours stays down, and the next
        // chord's own Ctrl still counts.
        QVERIFY(keyboard.release(keysymControlL));
        QVERIFY(!keyboard.isDownForApplications(keysymControlL));
        recorder.presses.clear();
        QVERIFY(platform::postKeyChord(Qt::ControlModifier, Qt::Key_X));
        QVERIFY(!keyboard.isDownForApplications(keysymControlL));
        QVERIFY(testing::waitFor([&] { return !recorder.presses.isEmpty(); }));
        QCOMPARE(recorder.presses.constFirst(), std::pair(int(Qt::Key_X), Qt::KeyboardModifiers(Qt::ControlModifier)));
    }

    void paragraphStartInMousepad_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("expected"); // the marker: nothing selected
        // To tell "nothing selected" from "keys not handled yet": a selection
        // made afterwards from the same caret, and what it copies.
        QTest::addColumn<int>("checkKey");
        QTest::addColumn<QString>("checkCopy");
        QTest::newRow("inside a paragraph") << 2 << 6 << QStringLiteral("Third ") << 0 << QString();
        QTest::newRow("end of the first paragraph") << 0 << 21 << QStringLiteral("First paragraph here.") << 0 << QString();
        QTest::newRow("start of an empty paragraph") << 1 << 0 << marker << int(Qt::Key_Down) << QStringLiteral("\n");
        QTest::newRow("start of a paragraph") << 2 << 0 << marker << int(Qt::Key_End)
                                              << QStringLiteral("Third paragraph has words.");
    }

    void paragraphStartInMousepad()
    {
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, expected);
        QFETCH(int, checkKey);
        QFETCH(QString, checkCopy);

        testing::Mousepad mousepad(document);
        QVERIFY(openAt(mousepad, line, column));
        QVERIFY(platform::postSelectToParagraphStart());
        if (expected != marker) {
            QCOMPARE(copied(), expected);
            return;
        }
        // Give mousepad the time a copy takes, then the clipboard must be as it was.
        QVERIFY(platform::postKeyChord(Qt::ControlModifier, Qt::Key_C));
        QTest::qWait(800);
        QCOMPARE(testing::clipboardText(), marker);
        QVERIFY(press(Qt::Key(checkKey), 1, Qt::ShiftModifier));
        QCOMPARE(copied(), checkCopy);
    }

    void paragraphStartInQt_data()
    {
        QTest::addColumn<bool>("quick");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("expected");
        for (const bool quick : {false, true}) {
            const char *kind = quick ? "TextArea" : "QTextEdit";
            QTest::addRow("%s, inside a paragraph", kind) << quick << 29 << QStringLiteral("Third ");
            QTest::addRow("%s, end of a paragraph", kind) << quick << 49 << QStringLiteral("Third paragraph has words.");
            QTest::addRow("%s, start of an empty paragraph", kind) << quick << 22 << QString();
            QTest::addRow("%s, start of a paragraph", kind) << quick << 23 << QString();
        }
    }

    void paragraphStartInQt()
    {
        QFETCH(bool, quick);
        QFETCH(int, caret);
        QFETCH(QString, expected);

        QTextEdit edit;
        QQmlEngine engine;
        QQuickWindow quickWindow;
        std::unique_ptr<QQuickItem> area;
        QWindow *window = &quickWindow;
        QObject *input = nullptr;
        if (quick) {
            QQmlComponent component(&engine);
            component.setData("import QtQuick.Controls\nTextArea { width: 600; height: 300 }", QUrl());
            area.reset(qobject_cast<QQuickItem *>(component.create()));
            QVERIFY2(area, qPrintable(component.errorString()));
            area->setProperty("text", document);
            area->setProperty("cursorPosition", caret);
            area->setParentItem(quickWindow.contentItem());
            area->forceActiveFocus();
            quickWindow.resize(600, 300);
            quickWindow.show();
            input = area.get();
        } else {
            edit.setPlainText(document);
            QTextCursor cursor = edit.textCursor();
            cursor.setPosition(caret);
            edit.setTextCursor(cursor);
            edit.resize(600, 300);
            edit.show();
            QVERIFY(QTest::qWaitForWindowExposed(&edit));
            window = edit.windowHandle();
            input = &edit;
        }
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(platform::activateWindow(quint32(window->winId())));
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(testing::waitFor([&] { return QGuiApplication::focusObject() == input; }));

        // F12, which text inputs ignore, after the chord: once it arrived, every
        // key of the chord before it has been handled.
        KeyReleaseCounter sentinel(input, Qt::Key_F12);
        QVERIFY(platform::postSelectToParagraphStart());
        QVERIFY(platform::postKeyChord(Qt::NoModifier, Qt::Key_F12));
        QVERIFY(testing::waitFor([&] { return sentinel.count == 1; }));

        const platform::FocusedTextInput focused;
        QCOMPARE(focused.object(), input);
        QCOMPARE(focused.selectedText(), expected);
        QCOMPARE(focused.selection(), (platform::TextRange{caret - expected.size(), expected.size()}));
    }
};

QTEST_MAIN(TestChords)
#include "tst_chords.moc"
