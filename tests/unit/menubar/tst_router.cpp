#include <approuter.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace {

// Counts its refreshes where the test can read them after the window is gone.
class CountingRoot : public QQuickItem, public RefreshableContent
{
public:
    explicit CountingRoot(int *refreshes) : m_refreshes(refreshes) {}
    void refreshContent() override { ++*m_refreshes; }
    int *m_refreshes;
};

} // namespace

class TestRouter : public QObject
{
    Q_OBJECT

    using W = AppRouter::Window;
    Resolver m_resolver;
    std::unique_ptr<AppRouter> m_router;
    QMap<W, int> m_made;
    QMap<W, int> m_refreshes;

private Q_SLOTS:
    void initTestCase()
    {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        m_resolver.setRegistrationRoutine(
            [](Resolver &r) { r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); }); });
    }
    void init()
    {
        m_made.clear();
        m_refreshes.clear();
        m_router = std::make_unique<AppRouter>(m_resolver, [this](W which) -> QQuickItem * {
            ++m_made[which];
            return new CountingRoot(&m_refreshes[which]);
        });
    }
    void cleanup() { m_router.reset(); }

    void settingsWindowIsKeptAndRefreshedWhenShown()
    {
        m_router->openSettingsWindow();
        QQuickWindow *window = m_router->settingsWindow();
        QCOMPARE(m_refreshes[W::Settings], 1);
        m_router->openSettingsWindow(); // already visible
        QCOMPARE(m_refreshes[W::Settings], 1);
        window->close();
        m_router->openSettingsWindow();
        QCOMPARE(m_router->settingsWindow(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(m_refreshes[W::Settings], 2);
        QCOMPARE(m_made[W::Settings], 1);
    }

    void onboardingRefreshesOneSecondLater()
    {
        QElapsedTimer clock;
        clock.start();
        m_router->openOnboardingWindow();
        QTest::qWait(700);
        QCOMPARE(m_refreshes[W::Onboarding], 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_refreshes[W::Onboarding], 1, 2000);
        QVERIFY(clock.elapsed() >= 950);
        // Dropped within its second: no refresh; each opening makes a new one.
        m_router->closeOnboardingWindow();
        QVERIFY(!m_router->onboardingWindow());
        m_router->openOnboardingWindow();
        m_router->closeOnboardingWindow();
        QTest::qWait(1300);
        QCOMPARE(m_refreshes[W::Onboarding], 1);
        QCOMPARE(m_made[W::Onboarding], 2);
    }

    void floatingMenuIsMadePerOpening()
    {
        m_router->toggleFloatingMenuWindow();
        QPointer<QQuickWindow> first = m_router->floatingMenuWindow();
        m_router->toggleFloatingMenuWindow();
        QVERIFY(!m_router->floatingMenuWindow() && !first->isVisible());
        m_router->toggleFloatingMenuWindow();
        QQuickWindow *second = m_router->floatingMenuWindow();
        QCOMPARE(m_made[W::FloatingMenu], 2);
        // The dropped window reports late: the open menu stays.
        first->show();
        first->hide();
        QCOMPARE(m_router->floatingMenuWindow(), second);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);
    }

    void floatingMenuClosesWhenNoLongerVisible()
    {
        for (bool minimise : {false, true}) {
            m_router->toggleFloatingMenuWindow();
            QQuickWindow *menu = m_router->floatingMenuWindow();
            minimise ? menu->showMinimized() : menu->hide();
            QVERIFY(!m_router->floatingMenuWindow());
            QTest::qWait(50); // and not reopened by its own hiding
            QVERIFY(!m_router->floatingMenuWindow());
        }
    }
};

QTEST_MAIN(TestRouter)
#include "tst_router.moc"
