// Global shortcuts on a real X server: keys typed through XTest by a second
// client reach the handlers, once per key-up.

#include "fakekeyboard.h"
#include "keyboardshortcuts.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

#include <xcb/xcb.h>

#define XK_MISCELLANY
#define XK_LATIN1
#include <X11/keysymdef.h>

using namespace KeyboardShortcuts;

namespace {

const Shortcut ctrlAltK(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

// Counts the key presses of one key code, auto-repeated ones included.
class PressCounter : public QAbstractNativeEventFilter
{
public:
    explicit PressCounter(xcb_keycode_t keycode) : m_keycode(keycode) { qGuiApp->installNativeEventFilter(this); }
    ~PressCounter() override { qGuiApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
    {
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS
            && reinterpret_cast<const xcb_key_press_event_t *>(event)->detail == m_keycode)
            ++presses;
        return false;
    }
    int presses = 0;

private:
    xcb_keycode_t m_keycode;
};

} // namespace

class TestGrab : public QObject
{
    Q_OBJECT

    FakeKeyboard m_keyboard;
    int m_fired = 0;
    QStringList m_registered; // names to drop after each test, failed or not

    void countInto(const Name &name)
    {
        m_registered.append(name.rawValue());
        onKeyUp(name, [this] { ++m_fired; });
    }
    Name registerCounting(const QString &raw, Shortcut keys = ctrlAltK)
    {
        const Name name(raw);
        setShortcut(keys, name);
        countInto(name);
        return name;
    }
    void tapCtrlAlt(std::uint32_t keysym) { m_keyboard.tap({XK_Control_L, XK_Alt_L, keysym}); }
    void pressCtrlAltK()
    {
        for (std::uint32_t keysym : {XK_Control_L, XK_Alt_L, XK_k})
            m_keyboard.pressKeysym(keysym);
    }
    // Nothing more arrives: the count is final.
    void settle() { QTest::qWait(200); }
    // Ctrl+Alt+K is not held by us: another client can grab it.
    bool ctrlAltKIsFree()
    {
        const xcb_keycode_t k = m_keyboard.keycode(XK_k);
        const bool free = m_keyboard.grab(k, kCtrlAlt);
        m_keyboard.ungrab(k, kCtrlAlt);
        return free;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_keyboard.isValid(), "no X server");
        QCoreApplication::setOrganizationName(QStringLiteral("WuggTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_keyboardshortcuts_grab"));
    }

    void init() { m_fired = 0; }

    void cleanup()
    {
        for (const QString &raw : std::as_const(m_registered))
            removeHandlers(Name(raw));
        m_registered.clear();
    }

    void firesOnKeyUpWithExactModifiersOnly()
    {
        registerCounting(QStringLiteral("upNotDown"));
        pressCtrlAltK();
        settle();
        QCOMPARE(m_fired, 0);
        m_keyboard.releaseKeysym(XK_k);
        QTRY_COMPARE(m_fired, 1);
        m_keyboard.releaseKeysym(XK_Alt_L);
        m_keyboard.releaseKeysym(XK_Control_L);

        m_keyboard.tap({XK_Control_L, XK_k});
        m_keyboard.tap({XK_Control_L, XK_Shift_L, XK_Alt_L, XK_k});
        settle();
        QCOMPARE(m_fired, 1);
    }

    void heldKeyFiresOnce()
    {
        registerCounting(QStringLiteral("held"));
        PressCounter counter(m_keyboard.keycode(XK_k));
        pressCtrlAltK();
        QTest::qWait(1500);
        const int presses = counter.presses;
        m_keyboard.releaseKeysym(XK_k);
        m_keyboard.releaseKeysym(XK_Alt_L);
        m_keyboard.releaseKeysym(XK_Control_L);
        QTRY_COMPARE(m_fired, 1);
        settle();
        QCOMPARE(m_fired, 1);
        if (presses < 2)
            QSKIP("the X server did not auto-repeat the held key");
    }

    void firesWithLockOn_data()
    {
        QTest::addColumn<std::vector<std::uint32_t>>("locks");
        QTest::newRow("Num Lock") << std::vector<std::uint32_t>{XK_Num_Lock};
        QTest::newRow("Caps Lock") << std::vector<std::uint32_t>{XK_Caps_Lock};
        QTest::newRow("both") << std::vector<std::uint32_t>{XK_Num_Lock, XK_Caps_Lock};
    }

    void firesWithLockOn()
    {
        QFETCH(std::vector<std::uint32_t>, locks);
        registerCounting(QStringLiteral("withLock"), Shortcut(Qt::Key_L, Qt::ControlModifier | Qt::AltModifier));
        const std::uint16_t before = m_keyboard.modifierState();
        for (std::uint32_t lock : locks)
            m_keyboard.tap({lock});
        const auto unlock = qScopeGuard([&] {
            for (std::uint32_t lock : locks)
                m_keyboard.tap({lock});
        });
        // Each lock shows as a modifier bit of its own.
        QCOMPARE(qPopulationCount(quint16(m_keyboard.modifierState() & ~before)), uint(locks.size()));
        tapCtrlAlt(XK_l);
        QTRY_COMPARE(m_fired, 1);
        settle();
        QCOMPARE(m_fired, 1);
    }

    void changedClearedAndDisabledShortcutsFreeTheKeys()
    {
        const Name name = registerCounting(QStringLiteral("moving"));
        tapCtrlAlt(XK_k);
        QTRY_COMPARE(m_fired, 1);

        QCOMPARE(setShortcut(Shortcut(Qt::Key_F8, Qt::ControlModifier | Qt::ShiftModifier), name), GrabResult::Grabbed);
        tapCtrlAlt(XK_k);
        settle();
        QCOMPARE(m_fired, 1);
        QVERIFY(ctrlAltKIsFree());
        m_keyboard.tap({XK_Control_L, XK_Shift_L, XK_F8});
        QTRY_COMPARE(m_fired, 2);

        QCOMPARE(setShortcut(std::nullopt, name), GrabResult::NoKeys);
        QVERIFY(!getShortcut(name));
        m_keyboard.tap({XK_Control_L, XK_Shift_L, XK_F8});
        settle();
        QCOMPARE(m_fired, 2);

        // Back to the default, which is held again.
        QCOMPARE(reset(Name(QStringLiteral("moving"), ctrlAltK)), GrabResult::Grabbed);
        QVERIFY(!ctrlAltKIsFree());

        disableGlobalShortcuts();
        {
            const auto enable = qScopeGuard([] { enableGlobalShortcuts(); });
            tapCtrlAlt(XK_k);
            settle();
            QCOMPARE(m_fired, 2);
            QVERIFY(ctrlAltKIsFree());
        }
        tapCtrlAlt(XK_k);
        QTRY_COMPARE(m_fired, 3);
    }

    void takenByAnotherClientIsReported()
    {
        const xcb_keycode_t g = m_keyboard.keycode(XK_g);
        QVERIFY(m_keyboard.grab(g, kCtrlAlt));
        auto ungrab = qScopeGuard([&] { m_keyboard.ungrab(g, kCtrlAlt); });

        const Name name(QStringLiteral("taken"));
        const Shortcut ctrlAltG(Qt::Key_G, Qt::ControlModifier | Qt::AltModifier);
        countInto(name);
        QSignalSpy failed(notifier(), &Notifier::grabFailed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Ctrl\\+Alt\\+G.*taken.*another application")));
        QCOMPARE(setShortcut(ctrlAltG, name), GrabResult::Taken);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("taken"));
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("Ctrl+Alt+G"));
        // The choice is kept; the keys are simply not ours.
        QCOMPARE(getShortcut(name)->description(), QStringLiteral("Ctrl+Alt+G"));
        tapCtrlAlt(XK_g);
        settle();
        QCOMPARE(m_fired, 0);

        ungrab.dismiss();
        m_keyboard.ungrab(g, kCtrlAlt);
        QCOMPARE(setShortcut(ctrlAltG, name), GrabResult::Grabbed);
        QCOMPARE(failed.count(), 1);
        tapCtrlAlt(XK_g);
        QTRY_COMPARE(m_fired, 1);
    }

    void keyboardMapChangeRegrabs()
    {
        if (m_keyboard.keycode(XK_F35))
            QSKIP("the keyboard map already has F35");
        const xcb_keycode_t spare = m_keyboard.unusedKeycode();
        if (!spare)
            QSKIP("no unused key code to map");

        const Name name(QStringLiteral("remapped"));
        setShortcut(Shortcut(Qt::Key_F35, Qt::ControlModifier), name);
        QSignalSpy failed(notifier(), &Notifier::grabFailed);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Ctrl\\+F35.*no key")));
        countInto(name);
        QCOMPARE(failed.count(), 1);

        m_keyboard.mapKeycode(spare, XK_F35);
        const auto unmap = qScopeGuard([&] { m_keyboard.mapKeycode(spare, 0); });
        // Grabbed after the notification: typing it fires.
        const xcb_keycode_t control = m_keyboard.keycode(XK_Control_L);
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     m_keyboard.press(control);
                                     m_keyboard.press(spare);
                                     m_keyboard.release(spare);
                                     m_keyboard.release(control);
                                     QTest::qWait(150);
                                     return m_fired > 0;
                                 }()),
                                 5000);
        QCOMPARE(failed.count(), 1);
    }
};

QTEST_MAIN(TestGrab)
#include "tst_keyboardshortcuts_grab.moc"
