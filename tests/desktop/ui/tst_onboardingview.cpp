// The onboarding window as the program shows it: the real router makes it
// with the real QML content, whose settings model follows the token store
// and talks to the loopback backend.

#include "uienvironment.h"
#include "../viewfixture.h"

#include <approuter.h>
#include <keyboardshortcuts.h>
#include <shortcutnames.h>
#include <windowcontent.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace viewfixture;

class TestOnboardingView : public QObject
{
    Q_OBJECT

    UiEnvironment m_env;
    QTemporaryDir m_config;
    std::shared_ptr<WindowContent> m_content = std::make_shared<WindowContent>();
    std::shared_ptr<AppRouter> m_router;

    QQuickWindow *window() const { return m_router->onboardingWindow(); }
    QQuickItem *item(const QString &name) const { return findItem(window()->contentItem(), name); }
    QQuickItem *root() const { return window()->contentItem()->childItems().value(0); }
    bool signedInContent() const { return root()->property("signedIn").toBool(); }
    QString practiceText() const { return item(QStringLiteral("practiceField"))->property("text").toString(); }
    QString badge(const QString &name) const
    {
        return findItem(item(QStringLiteral("badge_") + name), QStringLiteral("badgeText"))->property("text").toString();
    }

    bool sizeSettled() const
    {
        return window()->size() == QSize(qRound(root()->implicitWidth()), qRound(root()->implicitHeight()));
    }

    // After the window has followed a change of its content's size.
    void click(QQuickItem *target)
    {
        QVERIFY2(QTest::qWaitFor([this] { return sizeSettled(); }, 5000), "the window never took its content's size");
        QTest::mouseClick(window(), Qt::LeftButton, {}, sceneRect(target).center().toPoint());
    }
    void type(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(window(), c.toLatin1());
    }

    bool open(bool signedIn)
    {
        m_router->openOnboardingWindow();
        if (!window() || !QTest::qWaitForWindowExposed(window()))
            return false;
        return QTest::qWaitFor([&] { return signedInContent() == signedIn; }, 10000);
    }

    // The page of the step shown, once it has the focus in its field.
    QString page() const
    {
        for (const QString &name : {QStringLiteral("demonstrationPage"), QStringLiteral("floatingMenuPage")}) {
            if (shown(item(name)))
                return name;
        }
        return {};
    }

    void save(const QString &name)
    {
        QVERIFY(window()->grabWindow().save(QDir::current().filePath(name)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QCoreApplication::setOrganizationName(QStringLiteral("Wugg"));
        QGuiApplication::setQuitOnLastWindowClosed(false);
        WindowContent::chooseSceneGraph();
        QCursor::setPos(0, 0);
        QVERIFY(m_env.start());
        m_env.moreServices = [this](Resolver &r) {
            r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); });
            // "Start using" reaches the router through the container.
            r.register_<AppRouter>([this] { return m_router; }).implements<AppRouting>();
        };
    }

    void init()
    {
        m_env.reset();
        m_router = std::make_shared<AppRouter>(Resolver::main(), [content = m_content](AppRouter::Window w) {
            return content->make(w);
        });
    }

    void cleanup()
    {
        m_router.reset();
        QTest::qWait(50); // the window goes with deleteLater
    }

    void signedOutItGreetsWithTheForm()
    {
        QVERIFY(open(false));
        QTRY_COMPARE(window()->width(), 400);
        QVERIFY(shown(item(QStringLiteral("loginLoader"))));
        QVERIFY(shown(item(QStringLiteral("legalNotice"))));
        QVERIFY(page().isEmpty());
        QVERIFY(!item(QStringLiteral("signOutButton")));
        QVERIFY(item(QStringLiteral("inputField"))->hasActiveFocus());
        save(QStringLiteral("onboarding-signed-out.png"));
    }

    void signingInTurnsTheOpenWindowIntoTheTour()
    {
        QVERIFY(open(false));
        QTRY_COMPARE(window()->width(), 400);
        const int centre = window()->x() + 200;
        m_env.signIn();
        QTRY_VERIFY_WITH_TIMEOUT(signedInContent(), 10000);
        QTRY_COMPARE(window()->width(), 550);
        // Wider on both sides, about the same centre.
        QTRY_COMPARE(window()->x() + 275, centre);
        QTRY_COMPARE(window()->height(), qRound(root()->implicitHeight()));
        QCOMPARE(page(), QStringLiteral("demonstrationPage"));
        QVERIFY(!shown(item(QStringLiteral("loginLoader"))));
        QTRY_VERIFY(item(QStringLiteral("practiceField"))->hasActiveFocus());

        // The video panels, 500 wide.
        QCOMPARE(sceneRect(item(QStringLiteral("videoPanel"))).size(), QSizeF(500, 185));
        click(item(QStringLiteral("nextButton")));
        QTRY_COMPARE(page(), QStringLiteral("floatingMenuPage"));
        QCOMPARE(sceneRect(item(QStringLiteral("videoPanel"))).size(), QSizeF(500, 230));
        QTRY_COMPARE(window()->height(), qRound(root()->implicitHeight()));
        QVERIFY(!item(QStringLiteral("nextButton")));
        QVERIFY(shown(item(QStringLiteral("backButton"))));
    }

    void closedTheWindowKeepsItsPageStartUsingLetsItGo()
    {
        m_env.signIn();
        QVERIFY(open(true));
        QTRY_VERIFY(item(QStringLiteral("practiceField"))->hasActiveFocus());
        type(QStringLiteral("Teh cat"));
        QCOMPARE(practiceText(), QStringLiteral("Teh cat"));

        // The text goes with the user from page to page.
        click(item(QStringLiteral("nextButton")));
        QTRY_COMPARE(page(), QStringLiteral("floatingMenuPage"));
        QCOMPARE(practiceText(), QStringLiteral("Teh cat"));
        QTRY_VERIFY(item(QStringLiteral("practiceField"))->hasActiveFocus());
        click(item(QStringLiteral("backButton")));
        QTRY_COMPARE(page(), QStringLiteral("demonstrationPage"));
        QCOMPARE(practiceText(), QStringLiteral("Teh cat"));
        click(item(QStringLiteral("nextButton")));
        QTRY_COMPARE(page(), QStringLiteral("floatingMenuPage"));

        // The close button: the same window, page and text come back.
        QQuickWindow *first = window();
        first->close();
        QTRY_VERIFY(!first->isVisible());
        QVERIFY(open(true));
        QCOMPARE(window(), first);
        QCOMPARE(page(), QStringLiteral("floatingMenuPage"));
        QCOMPARE(practiceText(), QStringLiteral("Teh cat"));

        // "Start using": the window goes; the next one starts afresh.
        click(item(QStringLiteral("startUsingButton")));
        QTRY_VERIFY(!m_router->onboardingWindow());
        QVERIFY(open(true));
        QCOMPARE(page(), QStringLiteral("demonstrationPage"));
        QCOMPARE(practiceText(), QString());
    }

    void badgesShowTheStoredKeys()
    {
        m_env.signIn();
        QVERIFY(open(true));
        QCOMPARE(badge(QStringLiteral("typoFix")), QStringLiteral("Ctrl+Alt+F"));
        QCOMPARE(badge(QStringLiteral("rephrase")), QStringLiteral("Ctrl+Alt+R"));

        // Changed in the settings: shown at once. No keys: an empty pill.
        KeyboardShortcuts::setShortcut(KeyboardShortcuts::Shortcut(Qt::Key_Y, Qt::ControlModifier | Qt::AltModifier),
                                       ShortcutNames::rephrase());
        QTRY_COMPARE(badge(QStringLiteral("rephrase")), QStringLiteral("Ctrl+Alt+Y"));
        KeyboardShortcuts::setShortcut(std::nullopt, ShortcutNames::typoFix());
        QTRY_COMPARE(badge(QStringLiteral("typoFix")), QString());
        QQuickItem *empty = item(QStringLiteral("badge_typoFix"));
        QVERIFY(shown(empty));
        QTRY_COMPARE(empty->width(), 8.0);

        click(item(QStringLiteral("nextButton")));
        QTRY_COMPARE(badge(QStringLiteral("floatingMenu")), QStringLiteral("Ctrl+Alt+O"));
        save(QStringLiteral("onboarding-page-2.png"));
        KeyboardShortcuts::reset(ShortcutNames::rephrase());
        KeyboardShortcuts::reset(ShortcutNames::typoFix());
    }

    void theContentRefreshesASecondAfterShowing()
    {
        m_env.signIn();
        QVERIFY(open(true));
        // The model's own refresh, when it saw the session, has run.
        QTRY_COMPARE_WITH_TIMEOUT(m_env.requestsTo("user/profile"), 1, 10000);
        QTest::qWait(1500);
        const int settled = m_env.requestsTo("user/profile");

        window()->close();
        QTRY_VERIFY(!window()->isVisible());
        m_router->openOnboardingWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        QTest::qWait(400);
        QCOMPARE(m_env.requestsTo("user/profile"), settled);
        QTRY_COMPARE_WITH_TIMEOUT(m_env.requestsTo("user/profile"), settled + 1, 10000);
    }
};

QTEST_MAIN(TestOnboardingView)
#include "tst_onboardingview.moc"
