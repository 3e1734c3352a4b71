// Against the session's window manager and tray: a toast never takes the
// focus, and the floating menu hands it back when it closes.

#include "../desktopsession.h"

#include <approuter.h>
#include <platform.h>
#include <resolver.h>

#include <QApplication>
#include <QPixmap>
#include <QQuickView>
#include <QQuickWindow>
#include <QRasterWindow>
#include <QSystemTrayIcon>

using namespace std::chrono_literals;

class TestMenuBarFocus : public QObject
{
    Q_OBJECT

private:
    Resolver m_resolver;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<AppRouter> m_router;

    static bool becomesActive(quint32 window)
    {
        return QTest::qWaitFor([window] { return platform::activeWindow() == window; }, 5000);
    }
    // One of our own windows, shown and in front.
    static bool showInFront(QRasterWindow &window)
    {
        window.resize(300, 200);
        window.show();
        return QTest::qWaitForWindowExposed(&window) && platform::activateWindow(quint32(window.winId()))
            && becomesActive(quint32(window.winId()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        m_resolver.setRegistrationRoutine(
            [](Resolver &r) { r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); }); });
        m_router = std::make_unique<AppRouter>(m_resolver);
        QPixmap pixmap(22, 22);
        pixmap.fill(Qt::darkGreen);
        m_tray = std::make_unique<QSystemTrayIcon>(QIcon(pixmap));
        m_tray->show();
        // The tray embeds the icon a moment later; then it has a place.
        QTRY_VERIFY_WITH_TIMEOUT(!m_tray->geometry().isEmpty(), 10000);
        m_router->setStatusItem(m_tray.get());
    }

    void cleanupTestCase() { m_router.reset(); }

    void toastUnderTrayLeavesFocusAlone()
    {
        desktop::Mousepad mousepad;
        QVERIFY(mousepad.open(QStringLiteral("typed: \n"), 1, 7));
        const quint32 editor = platform::activeWindow();
        QCOMPARE(platform::applicationIdentifier(editor), QStringLiteral("Mousepad"));

        int taps = 0;
        m_router->showToast(QStringLiteral("Please log in to continue."), [&] { ++taps; }, 8000ms);
        QQuickView *toast = m_router->toastDispatcher()->popover();
        QVERIFY(QTest::qWaitForWindowExposed(toast));
        QTest::qWait(500);
        QCOMPARE(platform::activeWindow(), editor);

        // Under the icon.
        const QRect icon = m_tray->geometry();
        const QRect placed = toast->geometry();
        QVERIFY(placed.top() > icon.bottom() && placed.top() - icon.bottom() < 20);
        QVERIFY(placed.left() <= icon.center().x() && icon.center().x() <= placed.right());

        desktop::xdotool({"type", "--delay", "30", "abc"}); // still goes to the editor
        // A click runs the action and closes the toast, leaving the focus alone.
        desktop::xdotool({"mousemove", QString::number(placed.center().x()), QString::number(placed.center().y()),
                          "click", "1"});
        QTRY_COMPARE(taps, 1);
        QTRY_VERIFY(!toast->isVisible());
        QTest::qWait(300);
        QCOMPARE(platform::activeWindow(), editor);
        QCOMPARE(mousepad.contents(), QStringLiteral("typed: abc\n"));
    }

    void floatingMenuGivesFocusBack()
    {
        desktop::Mousepad mousepad;
        QVERIFY(mousepad.open(QStringLiteral("some text\n")));
        const quint32 editor = platform::activeWindow();

        m_router->toggleFloatingMenuWindow();
        QQuickWindow *menu = m_router->floatingMenuWindow();
        QVERIFY(menu && becomesActive(quint32(menu->winId())));
        QCOMPARE(m_router->previousActiveApplicationIdentifier(), QStringLiteral("Mousepad"));

        // Left to itself, the window manager would keep the focus here.
        QRasterWindow elsewhere;
        QVERIFY(showInFront(elsewhere));

        m_router->toggleFloatingMenuWindow();
        QVERIFY(!m_router->floatingMenuWindow());
        QVERIFY(becomesActive(editor));
    }

    void goneWindowFallsBackToAnotherOfTheSameApplication()
    {
        // Focus order, latest first: first, the editor, second. Once first
        // is gone, the window manager on its own would pick the editor.
        QRasterWindow second;
        QVERIFY(showInFront(second));
        desktop::Mousepad mousepad;
        QVERIFY(mousepad.open(QStringLiteral("some text\n")));
        auto first = std::make_unique<QRasterWindow>();
        QVERIFY(showInFront(*first));

        m_router->toggleFloatingMenuWindow();
        QVERIFY(becomesActive(quint32(m_router->floatingMenuWindow()->winId())));
        QCOMPARE(m_router->previousActiveApplicationIdentifier(), platform::ownApplicationIdentifier());
        first.reset();
        QTest::qWait(300);

        m_router->toggleFloatingMenuWindow();
        QVERIFY(becomesActive(quint32(second.winId())));
        QTest::qWait(500); // and stays
        QCOMPARE(platform::activeWindow(), quint32(second.winId()));
    }
};

QTEST_MAIN(TestMenuBarFocus)
#include "tst_menubar_focus.moc"
