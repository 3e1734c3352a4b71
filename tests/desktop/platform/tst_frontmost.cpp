// The window in front and activating windows, against mousepad and a window
// of the test itself, under the session's window manager.

#include "desktophelpers.h"
#include "platform.h"

#include <QRasterWindow>
#include <QTest>

class TestFrontmost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ownIdentifierMatchesWhatOurWindowsCarry();
    void mousepadInFrontAndBack();
};

void TestFrontmost::ownIdentifierMatchesWhatOurWindowsCarry()
{
    QVERIFY(QGuiApplication::allWindows().isEmpty());
    // Before any window exists it can only be worked out the way Qt does.
    const std::optional<QString> predicted = platform::ownApplicationIdentifier();
    QVERIFY(predicted.has_value());

    QRasterWindow window;
    window.resize(300, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto id = quint32(window.winId());
    QCOMPARE(platform::applicationIdentifier(id), predicted);
    QVERIFY(testing::waitFor([&] { return platform::activeWindow() == id; }));
    QCOMPARE(platform::frontmostApplicationIdentifier(), predicted);

    // Qt fixes WM_CLASS at its first window; a later rename does not reach
    // the windows, and the identifier has to follow the windows.
    const QString oldName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("RenamedAfterFirstWindow"));
    const std::optional<QString> afterRename = platform::ownApplicationIdentifier();
    QCoreApplication::setApplicationName(oldName);
    QCOMPARE(afterRename, predicted);
}

void TestFrontmost::mousepadInFrontAndBack()
{
    QRasterWindow own;
    own.resize(300, 200);
    own.show();
    QVERIFY(QTest::qWaitForWindowExposed(&own));
    const auto ownId = quint32(own.winId());
    QVERIFY(testing::waitFor([&] { return platform::activeWindow() == ownId; }));

    testing::Mousepad mousepad(QStringLiteral("some text\n"));
    QVERIFY(mousepad.started());
    const quint32 mousepadWindow = mousepad.waitUntilActive();
    QVERIFY(mousepadWindow != 0);
    QVERIFY(mousepadWindow != ownId);
    QCOMPARE(platform::frontmostApplicationIdentifier(), QStringLiteral("Mousepad"));

    QVERIFY(platform::activateWindow(ownId));
    QVERIFY(testing::waitFor([&] { return platform::activeWindow() == ownId; }, 5000));
    QCOMPARE(platform::frontmostApplicationIdentifier(), platform::ownApplicationIdentifier());

    QVERIFY(platform::activateWindow(mousepadWindow));
    QVERIFY(testing::waitFor([&] { return platform::activeWindow() == mousepadWindow; }, 5000));
    QCOMPARE(platform::frontmostApplicationIdentifier(), QStringLiteral("Mousepad"));

    QVERIFY(!platform::activateWindow(0));
}

QTEST_MAIN(TestFrontmost)
#include "tst_frontmost.moc"
