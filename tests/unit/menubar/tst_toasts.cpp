#include <toastdispatcher.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

using namespace std::chrono_literals;

class TestToasts : public QObject
{
    Q_OBJECT

    std::unique_ptr<QSystemTrayIcon> m_tray;
    ToastDispatcher *m_toasts = nullptr;

    QString shown() const
    {
        return m_toasts->isShowing() ? m_toasts->popover()->rootObject()->property("message").toString() : QString();
    }
    void show(const char *message, std::chrono::milliseconds duration, std::function<void()> onTap = {})
    {
        m_toasts->showToast(QString::fromLatin1(message), m_tray.get(), std::move(onTap), duration);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QPixmap icon(16, 16);
        icon.fill(Qt::red);
        m_tray = std::make_unique<QSystemTrayIcon>(QIcon(icon));
        m_tray->show();
    }
    void init() { m_toasts = new ToastDispatcher(this); }
    void cleanup() { delete m_toasts; }

    void timersBelongToTheirToast()
    {
        QElapsedTimer clock;
        clock.start();
        const auto at = [&](qint64 ms) { QTest::qWait(int(std::max<qint64>(0, ms - clock.elapsed()))); };
        show("A", 1500ms);
        at(300);
        show("B", 900ms);
        QCOMPARE(shown(), QStringLiteral("B"));
        at(1000);
        QCOMPARE(shown(), QStringLiteral("B"));
        at(1350);
        QVERIFY(!m_toasts->isShowing());
        show("C", 5000ms);
        at(1750); // A's timer has fired
        QCOMPARE(shown(), QStringLiteral("C"));
    }

    void clickRunsActionOnceAndCloses()
    {
        int taps = 0;
        show("Please log in to continue.", 400ms, [&] { ++taps; });
        QQuickView *window = m_toasts->popover();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QPoint centre(window->width() / 2, window->height() / 2);
        QTest::mouseClick(window, Qt::LeftButton, {}, centre);
        QTest::mouseClick(window, Qt::LeftButton, {}, centre, 20);
        QTRY_VERIFY(!m_toasts->isShowing());
        QTest::qWait(50);
        QCOMPARE(taps, 1);
        show("next", 3000ms);
        QTest::qWait(600);
        QCOMPARE(shown(), QStringLiteral("next"));
    }

    void withoutAnchorNothingShows()
    {
        QSystemTrayIcon hidden;
        for (QSystemTrayIcon *anchor : {static_cast<QSystemTrayIcon *>(nullptr), &hidden})
            m_toasts->showToast(QStringLiteral("dropped"), anchor, {}, 100ms);
        QTest::qWait(50);
        QVERIFY(!m_toasts->isShowing());
    }

    void longMessageWrapsAt400()
    {
        const QString message = QStringLiteral("A new version of Wugg it! is available. Please update. ").repeated(4);
        m_toasts->showToast(message, m_tray.get(), {}, 3000ms);
        const QSize text = ToastDispatcher::measure(message);
        const QFontMetrics metrics(ToastDispatcher::messageFont());
        QVERIFY(text.width() <= 400 && text.width() > 340);
        QVERIFY(text.height() >= metrics.lineSpacing() * ((metrics.horizontalAdvance(message) + 399) / 400));

        QQuickView *window = m_toasts->popover();
        // Laid out as measured: all of it fits.
        auto *label = window->rootObject()->findChild<QQuickItem *>(QStringLiteral("toastMessage"));
        QVERIFY(label && label->property("contentHeight").toReal() <= text.height());
        // No tray geometry offscreen: under the top-right corner, on screen.
        const QRect screen = window->screen()->availableGeometry();
        QVERIFY(screen.contains(window->geometry()));
        QVERIFY(screen.right() - window->geometry().right() < 10 && window->y() - screen.top() < 10);
    }
};

QTEST_MAIN(TestToasts)
#include "tst_toasts.moc"
