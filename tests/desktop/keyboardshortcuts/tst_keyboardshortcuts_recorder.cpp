// The Recorder control in a real window: what it shows, what it records
// from key events, and that recording keeps global shortcuts quiet.

#include "fakekeyboard.h"
#include "shortcutrecorder.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTest>

#include <memory>

#define XK_MISCELLANY
#define XK_LATIN1
#include <X11/keysymdef.h>

using namespace KeyboardShortcuts;

class TestRecorder : public QObject
{
    Q_OBJECT

    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    QQuickItem *m_recorder = nullptr;

    const Name recorded{QStringLiteral("recorded")};

    static QString stored()
    {
        return QSettings(QCoreApplication::organizationName(), QCoreApplication::applicationName())
            .value(QStringLiteral("KeyboardShortcuts_recorded"), QStringLiteral("<unset>"))
            .toString();
    }

    QString displayText() const { return m_recorder->property("displayText").toString(); }
    bool recording() const { return m_recorder->property("recording").toBool(); }

    void clickRecorder()
    {
        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier,
                          m_recorder->mapToScene(QPointF(20, m_recorder->height() / 2)).toPoint());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("WuggTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_keyboardshortcuts_recorder"));
        QSettings(QCoreApplication::organizationName(), QCoreApplication::applicationName()).clear();
        registerQmlModule();
    }

    void init()
    {
        QQmlComponent component(&m_engine);
        component.setData(R"(
            import QtQuick
            import KeyboardShortcuts
            Window {
                width: 320; height: 120; visible: true
                Recorder { objectName: "recorder"; name: "recorded"; anchors.centerIn: parent; width: 240 }
            }
        )", QUrl(QStringLiteral("qrc:/recordertest.qml")));
        m_window.reset(qobject_cast<QQuickWindow *>(component.create()));
        QVERIFY2(m_window, qPrintable(component.errorString()));
        m_recorder = m_window->findChild<QQuickItem *>(QStringLiteral("recorder"));
        QVERIFY(m_recorder);
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset();
        m_recorder = nullptr;
        QVERIFY(globalShortcutsEnabled());
    }

    void showsPlaceholderStoredKeysOrDefault()
    {
        reset(recorded);
        QCOMPARE(displayText(), QStringLiteral("Record Shortcut"));
        QVERIFY(!m_recorder->property("hasShortcut").toBool());
        setShortcut(Shortcut(Qt::Key_F, Qt::ControlModifier), recorded);
        QCOMPARE(displayText(), QStringLiteral("Ctrl+F"));
        QVERIFY(m_recorder->property("hasShortcut").toBool());

        // Once the name is declared with a default, that is what it shows.
        m_recorder->setProperty("name", QStringLiteral("withDefault"));
        QCOMPARE(displayText(), QStringLiteral("Record Shortcut"));
        getShortcut(Name(QStringLiteral("withDefault"), Shortcut(Qt::Key_D, Qt::ControlModifier | Qt::AltModifier)));
        m_recorder->setProperty("name", QStringLiteral("recorded"));
        m_recorder->setProperty("name", QStringLiteral("withDefault"));
        QCOMPARE(displayText(), QStringLiteral("Ctrl+Alt+D"));
    }

    void recordsCancelsAndClears()
    {
        reset(recorded);
        clickRecorder();
        QVERIFY(recording());
        QVERIFY(!globalShortcutsEnabled());
        // A key without modifier would take it from typing: ignored.
        QTest::keyClick(m_window.get(), Qt::Key_K);
        QVERIFY(recording());
        QCOMPARE(stored(), QStringLiteral("<unset>"));
        QTest::keyClick(m_window.get(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!recording());
        QVERIFY(globalShortcutsEnabled());
        QCOMPARE(stored(), QStringLiteral("Ctrl+Alt+K"));
        QCOMPARE(displayText(), QStringLiteral("Ctrl+Alt+K"));

        clickRecorder();
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QVERIFY(!recording());
        QCOMPARE(stored(), QStringLiteral("Ctrl+Alt+K"));

        clickRecorder();
        QTest::keyClick(m_window.get(), Qt::Key_Backspace);
        QVERIFY(!recording());
        QCOMPARE(stored(), QString());
        QVERIFY(!getShortcut(Name(QStringLiteral("recorded"), Shortcut(Qt::Key_F, Qt::ControlModifier))));
        QCOMPARE(displayText(), QStringLiteral("Record Shortcut"));
    }

    void recordingKeepsGlobalShortcutsQuiet()
    {
        FakeKeyboard keyboard;
        QVERIFY2(keyboard.isValid(), "no X server");
        int fired = 0;
        const Name global(QStringLiteral("globalWhileRecording"));
        setShortcut(Shortcut(Qt::Key_J, Qt::ControlModifier | Qt::AltModifier), global);
        onKeyUp(global, [&fired] { ++fired; });
        const auto drop = qScopeGuard([&] { removeHandlers(global); });

        keyboard.tap({XK_Control_L, XK_Alt_L, XK_j});
        QTRY_COMPARE(fired, 1);

        // While recording the same keys reach the window, not the handler;
        // they are the other name's, so they are refused, saying whose.
        setShortcut(Shortcut(Qt::Key_L, Qt::ControlModifier | Qt::AltModifier), recorded);
        clickRecorder();
        QVERIFY(recording());
        keyboard.tap({XK_Control_L, XK_Alt_L, XK_j});
        QTRY_VERIFY(!recording());
        QTest::qWait(200);
        QCOMPARE(fired, 1);
        QCOMPARE(stored(), QStringLiteral("Ctrl+Alt+L"));
        QCOMPARE(m_recorder->property("errorText").toString(),
                 QStringLiteral("Ctrl+Alt+J is already used by \u201cglobalWhileRecording\u201d."));

        keyboard.tap({XK_Control_L, XK_Alt_L, XK_j});
        QTRY_COMPARE(fired, 2);

        // Keys another program holds: the working ones stay, and it says so.
        onKeyUp(recorded, [] {});
        const auto dropRecorded = qScopeGuard([&] { removeHandlers(recorded); });
        const xcb_keycode_t g = keyboard.keycode(XK_g);
        QVERIFY(keyboard.grab(g, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
        const auto ungrab = qScopeGuard([&] { keyboard.ungrab(g, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1); });
        clickRecorder();
        QTest::keyClick(m_window.get(), Qt::Key_G, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!recording());
        QCOMPARE(stored(), QStringLiteral("Ctrl+Alt+L"));
        QCOMPARE(m_recorder->property("errorText").toString(),
                 QStringLiteral("Ctrl+Alt+G is not available; another application may be using it."));
    }
};

QTEST_MAIN(TestRecorder)
#include "tst_keyboardshortcuts_recorder.moc"
