// Without an X11 display (here: offscreen) the desktop calls answer
// none / 0 / false instead of touching a connection that is not there.

#include "platform.h"

#include <QGuiApplication>
#include <QTest>
#include <QWindow>

class TestWithoutX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersNothing()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        QWindow window; // a window exists, but carries no WM_CLASS
        window.show();
        QCOMPARE(platform::activeWindow(), 0u);
        QCOMPARE(platform::frontmostApplicationIdentifier(), std::nullopt);
        QCOMPARE(platform::ownApplicationIdentifier(), std::nullopt);
        QCOMPARE(platform::applicationIdentifier(quint32(window.winId())), std::nullopt);
        QVERIFY(!platform::activateWindow(quint32(window.winId())));
        QVERIFY(!platform::canPostSyntheticEvents());
        QVERIFY(!platform::postKeyChord(Qt::ControlModifier, Qt::Key_C));
        QVERIFY(!platform::postSelectToParagraphStart());
    }
};

QTEST_MAIN(TestWithoutX11)
#include "tst_withoutx11.moc"
