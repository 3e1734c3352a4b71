#include <applicationstatemenubarelement.h>

#include <QGuiApplication>
#include <QTest>

using Element = ApplicationStateMenuBarElement;
using State = Element::State;
using Phase = Element::AnimationPhase;
using Style = UserPreferences::MenuBarIconStyle;

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Phase)
Q_DECLARE_METATYPE(Style)

class TestMenuBarIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tintMultipliesAndKeepsAlpha()
    {
        QImage sample(3, 1, QImage::Format_ARGB32);
        sample.setPixelColor(0, 0, QColor(255, 255, 255, 255));
        sample.setPixelColor(1, 0, QColor(0, 0, 0, 0));
        sample.setPixelColor(2, 0, QColor(255, 255, 255, 128));
        const QColor green(69, 229, 95);
        const QImage tinted = tint(sample, green).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(tinted.pixelColor(0, 0), green);
        QCOMPARE(tinted.pixelColor(1, 0).alpha(), 0);
        const QColor half = tinted.pixelColor(2, 0);
        QCOMPARE(half.alpha(), 128);
        QVERIFY(qAbs(half.red() - green.red()) <= 2 && qAbs(half.green() - green.green()) <= 2
                && qAbs(half.blue() - green.blue()) <= 2);
        QCOMPARE(sample.pixelColor(0, 0), QColor(255, 255, 255, 255)); // input untouched
        QVERIFY(Element::loadImage(QStringLiteral("no.such.symbol")).isNull());
    }

    // Phase 2 of a blink shows the plain icon, except the minimal hourglass.
    void frames_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<State>("state");
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QImage>("expected");
        const QImage b = Element::loadImage(Element::kBaseImageName);
        const auto symbol = [](const char *name) { return Element::loadImage(QString::fromLatin1(name)); };
        QVERIFY(!b.isNull() && b.pixelColor(0, 0).alpha() == 0);
        for (auto style : {Style::colored, Style::minimal})
            QTest::addRow("%d idle 2", int(style)) << style << State::idle << Phase::phase2 << b;
        QTest::newRow("colored error 1") << Style::colored << State::error << Phase::phase1 << tint(b, QColor(220, 57, 45));
        QTest::newRow("colored success 2") << Style::colored << State::success << Phase::phase2 << b;
        QTest::newRow("minimal inProgress 2") << Style::minimal << State::inProgress << Phase::phase2
                                              << symbol("hourglass.bottomhalf.filled");
        QTest::newRow("minimal error 1") << Style::minimal << State::error << Phase::phase1 << symbol("exclamationmark.circle");
        QTest::newRow("minimal error 2") << Style::minimal << State::error << Phase::phase2 << b;
    }
    void frames()
    {
        QFETCH(Style, style);
        QFETCH(State, state);
        QFETCH(Phase, phase);
        QFETCH(QImage, expected);
        const QImage frame = Element{state, style, phase}.image();
        QVERIFY(!frame.isNull() && !expected.isNull());
        QCOMPARE(frame.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32));
    }

    // Every error kind blinks as an error; a signed-out user sees the still icon.
    void statesMapToAnimations()
    {
        for (auto e : {ApplicationStateError::ApiError, ApplicationStateError::SessionExpired,
                       ApplicationStateError::AppRequiresUpdate}) {
            const MenuBarIconAnimation a = menuBarIconAnimation(ApplicationState::error(e));
            QCOMPARE(a.state, State::error);
            QCOMPARE(a.blinkInterval, std::optional(std::chrono::milliseconds(500)));
        }
        const MenuBarIconAnimation out = menuBarIconAnimation(ApplicationState::unauthenticated());
        QCOMPARE(out.state, State::idle);
        QVERIFY(!out.blinkInterval);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestMenuBarIcon test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_menubaricon.moc"
