#include <applicationstatemenubarelement.h>

#include <QFile>
#include <QGuiApplication>
#include <QTest>

using Element = ApplicationStateMenuBarElement;
using State = Element::State;
using Phase = Element::AnimationPhase;
using Style = UserPreferences::MenuBarIconStyle;

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Phase)
Q_DECLARE_METATYPE(Style)

namespace {

QImage base()
{
    return Element::loadImage(Element::kBaseImageName);
}

// Images compared by their pixels, whatever format they were drawn in.
bool samePixels(const QImage &a, const QImage &b)
{
    return !a.isNull() && !b.isNull()
        && a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestMenuBarIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resourcesAreCompiledIn()
    {
        for (const char *path : {":/icons/menuBarIcon.svg", ":/icons/hourglass.tophalf.filled.svg",
                                 ":/icons/hourglass.bottomhalf.filled.svg", ":/icons/exclamationmark.circle.svg",
                                 ":/icons/checkmark.svg", ":/sounds/zorble.wav"})
            QVERIFY2(QFile::exists(QString::fromLatin1(path)), path);
        const QImage icon = base();
        QCOMPARE(icon.size(), QSize(Element::kImageSize, Element::kImageSize));
        // Something is drawn, and the corners stay transparent.
        QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
        QVERIFY(icon != QImage(icon.size(), icon.format()));
        QVERIFY(Element::loadImage(QStringLiteral("no.such.symbol")).isNull());
    }

    void tintMultipliesAndKeepsAlpha()
    {
        QImage sample(4, 1, QImage::Format_ARGB32);
        sample.setPixelColor(0, 0, QColor(255, 255, 255, 255));
        sample.setPixelColor(1, 0, QColor(0, 0, 0, 0));
        sample.setPixelColor(2, 0, QColor(0, 0, 0, 255));
        sample.setPixelColor(3, 0, QColor(255, 255, 255, 128));
        const QColor green(69, 229, 95);
        const QImage tinted = tint(sample, green).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(tinted.size(), sample.size());
        QCOMPARE(tinted.pixelColor(0, 0), green);
        QCOMPARE(tinted.pixelColor(1, 0).alpha(), 0);
        QCOMPARE(tinted.pixelColor(2, 0), QColor(0, 0, 0, 255));
        const QColor half = tinted.pixelColor(3, 0);
        QCOMPARE(half.alpha(), 128);
        QVERIFY(qAbs(half.red() - green.red()) <= 2 && qAbs(half.green() - green.green()) <= 2
                && qAbs(half.blue() - green.blue()) <= 2);
        // The input is left as it was.
        QCOMPARE(sample.pixelColor(0, 0), QColor(255, 255, 255, 255));
    }

    void frames_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<State>("state");
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QImage>("expected");
        QTest::addColumn<QString>("description");
        const QImage b = base();
        const auto p1 = Phase::phase1;
        const auto p2 = Phase::phase2;
        for (auto style : {Style::colored, Style::minimal}) {
            QTest::addRow("%d idle 1", int(style)) << style << State::idle << p1 << b << QString();
            QTest::addRow("%d idle 2", int(style)) << style << State::idle << p2 << b << QString();
        }
        QTest::newRow("colored inProgress 1") << Style::colored << State::inProgress << p1 << tint(b, QColor(36, 150, 229)) << QString();
        QTest::newRow("colored error 1") << Style::colored << State::error << p1 << tint(b, QColor(220, 57, 45)) << QString();
        QTest::newRow("colored success 1") << Style::colored << State::success << p1 << tint(b, QColor(69, 229, 95)) << QString();
        for (auto state : {State::inProgress, State::error, State::success})
            QTest::addRow("colored %d 2", int(state)) << Style::colored << state << p2 << b << QString();
        const auto symbol = [](const char *name) { return Element::loadImage(QString::fromLatin1(name)); };
        QTest::newRow("minimal inProgress 1") << Style::minimal << State::inProgress << p1
                                              << symbol("hourglass.tophalf.filled") << QStringLiteral("in progress phase 1");
        QTest::newRow("minimal inProgress 2") << Style::minimal << State::inProgress << p2
                                              << symbol("hourglass.bottomhalf.filled") << QStringLiteral("in progress phase 2");
        QTest::newRow("minimal error 1") << Style::minimal << State::error << p1 << symbol("exclamationmark.circle")
                                         << QStringLiteral("error phase 1");
        QTest::newRow("minimal error 2") << Style::minimal << State::error << p2 << b << QString();
        QTest::newRow("minimal success 1") << Style::minimal << State::success << p1 << symbol("checkmark")
                                           << QStringLiteral("success phase 1");
        QTest::newRow("minimal success 2") << Style::minimal << State::success << p2 << b << QString();
    }

    void frames()
    {
        QFETCH(Style, style);
        QFETCH(State, state);
        QFETCH(Phase, phase);
        QFETCH(QImage, expected);
        QFETCH(QString, description);
        const QImage frame = Element{state, style, phase}.image();
        QVERIFY(samePixels(frame, expected));
        QCOMPARE(frame.text(QStringLiteral("Description")), description);
    }

    void statesMapToAnimations_data()
    {
        QTest::addColumn<ApplicationState>("appState");
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("intervalMs"); // 0: still
        QTest::newRow("idle") << ApplicationState::idle() << State::idle << 0;
        QTest::newRow("unauthenticated") << ApplicationState::unauthenticated() << State::idle << 0;
        QTest::newRow("inProgress") << ApplicationState::inProgress() << State::inProgress << 200;
        QTest::newRow("success") << ApplicationState::success() << State::success << 1000;
        QTest::newRow("api error") << ApplicationState::error(ApplicationStateError::ApiError) << State::error << 500;
        QTest::newRow("session expired") << ApplicationState::error(ApplicationStateError::SessionExpired)
                                         << State::error << 500;
        QTest::newRow("requires update") << ApplicationState::error(ApplicationStateError::AppRequiresUpdate)
                                         << State::error << 500;
    }

    void statesMapToAnimations()
    {
        QFETCH(ApplicationState, appState);
        QFETCH(State, state);
        QFETCH(int, intervalMs);
        const MenuBarIconAnimation animation = menuBarIconAnimation(appState);
        QCOMPARE(animation.state, state);
        if (intervalMs == 0)
            QVERIFY(!animation.blinkInterval);
        else
            QCOMPARE(animation.blinkInterval, std::optional(std::chrono::milliseconds(intervalMs)));
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestMenuBarIcon test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_menubaricon.moc"
