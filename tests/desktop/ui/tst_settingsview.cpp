// The settings window as the program shows it: the real router makes it
// with the real QML content, whose models talk to the loopback backend, and
// the test types and clicks into it.

#include "uienvironment.h"
#include "../viewfixture.h"

#include <approuter.h>
#include <keyboardshortcuts.h>
#include <launchatlogin.h>
#include <windowcontent.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

using namespace viewfixture;

class TestSettingsView : public QObject
{
    Q_OBJECT

    UiEnvironment m_env;
    QTemporaryDir m_config;
    std::shared_ptr<WindowContent> m_content = std::make_shared<WindowContent>();
    std::unique_ptr<AppRouter> m_router;
    QQuickWindow *m_window = nullptr;

    QQuickItem *item(const QString &name) const { return findItem(m_window->contentItem(), name); }
    QQuickItem *root() const { return m_window->contentItem()->childItems().value(0); }
    QObject *model() const { return root()->property("viewModel").value<QObject *>(); }
    QObject *loginModel() const
    {
        QQuickItem *form = item(QStringLiteral("loginLoader"))->property("item").value<QQuickItem *>();
        return form ? form->property("viewModel").value<QObject *>() : nullptr;
    }
    bool signedInContent() const { return root()->property("signedIn").toBool(); }
    QStringList titleLines() const
    {
        QStringList lines;
        const QList<QQuickItem *> texts = item(QStringLiteral("headerTitle"))->childItems();
        for (QQuickItem *text : texts)
            if (text->property("text").isValid())
                lines << text->property("text").toString();
        return lines;
    }

    void click(QQuickItem *target)
    {
        QTest::mouseClick(m_window, Qt::LeftButton, {}, sceneRect(target).center().toPoint());
    }
    void type(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(m_window, c.toLatin1());
    }
    QString fieldText() const { return item(QStringLiteral("inputField"))->property("text").toString(); }
    QString shownPlaceholder() const
    {
        QQuickItem *placeholder = findItem(item(QStringLiteral("inputField")), QStringLiteral("placeholder"));
        return shown(placeholder) ? placeholder->property("text").toString() : QString();
    }

    // Opens the window and waits for the refresh it starts to settle the flow.
    bool open(bool signedIn)
    {
        m_router->openSettingsWindow();
        m_window = m_router->settingsWindow();
        if (!m_window || !QTest::qWaitForWindowExposed(m_window))
            return false;
        return QTest::qWaitFor([&] { return signedInContent() == signedIn && !model()->property("loading").toBool(); },
                               10000);
    }

    void save(const QString &name)
    {
        const QImage image = m_window->grabWindow();
        QVERIFY(image.save(QDir::current().filePath(name)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QGuiApplication::setQuitOnLastWindowClosed(false);
        WindowContent::chooseSceneGraph();
        QCursor::setPos(0, 0);
        QVERIFY(m_env.start());
        m_env.moreServices = [](Resolver &r) {
            r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); });
        };
    }

    void init()
    {
        m_env.reset();
        m_router = std::make_unique<AppRouter>(Resolver::main(),
                                               [content = m_content](AppRouter::Window w) { return content->make(w); });
    }

    void cleanup()
    {
        m_router.reset();
        m_window = nullptr;
        QTest::qWait(50); // the window goes with deleteLater
    }

    void signedOutItShowsTheFormAndNoSignOut()
    {
        QVERIFY(open(false));
        QCOMPARE(m_window->width(), 400);
        // The window manager confirms the new height asynchronously.
        QTRY_COMPARE(m_window->height(), qRound(root()->implicitHeight()));
        QCOMPARE(titleLines(), (QStringList{QStringLiteral("  Welcome"), QStringLiteral("to Wugg it!")}));
        QVERIFY(!m_window->icon().isNull()); // the program's, not the desktop's generic one

        QQuickItem *form = item(QStringLiteral("loginLoader"));
        QQuickItem *header = item(QStringLiteral("headerTitle"))->parentItem();
        QVERIFY(shown(form));
        QCOMPARE(sceneRect(form).top() - sceneRect(header).bottom(), 48.0);
        // No button and no gap of its own: the footer follows the form.
        QVERIFY(!shown(item(QStringLiteral("signOutButton"))));
        QCOMPARE(sceneRect(item(QStringLiteral("footerText"))).top() - sceneRect(form).bottom(), 24.0);
        QVERIFY(!shown(item(QStringLiteral("shortcutsLoader"))));
        QVERIFY(!shown(item(QStringLiteral("launchAtStartupCard"))));

        // The first step: the field's placeholder, no hint and no way back.
        QCOMPARE(shownPlaceholder(), QStringLiteral("Enter your email"));
        QVERIFY(!shown(item(QStringLiteral("spamHint"))));
        QVERIFY(!shown(item(QStringLiteral("requestNewOTPButton"))));
        QVERIFY(item(QStringLiteral("inputField"))->hasActiveFocus());

        const QString version = item(QStringLiteral("versionLine"))->property("text").toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^v\\d+\\.\\d+\\.\\d+ \\(\\S*\\)$")).match(version).hasMatch(),
                 qPrintable(version));
        save(QStringLiteral("settings-signed-out.png"));
    }

    void theFormsTwoSteps()
    {
        QVERIFY(open(false));
        const QString email = QStringLiteral("reader@example.org");
        type(email.left(1));
        QCOMPARE(shownPlaceholder(), QString()); // the first character hides it
        type(email.mid(1));
        QCOMPARE(fieldText(), email);

        // Slow answer: Continue shows progress and ignores clicks, the field takes text.
        m_env.answer(QStringLiteral("auth/request-otp"), 200, "{}", 800);
        click(item(QStringLiteral("continueButton")));
        QTRY_VERIFY(loginModel()->property("loading").toBool());
        QQuickItem *continueButton = item(QStringLiteral("continueButton"));
        QVERIFY(!continueButton->isEnabled());
        QVERIFY(shown(findItem(continueButton, QStringLiteral("spinner"))));
        click(continueButton);
        QVERIFY(!item(QStringLiteral("googleButton"))->isEnabled());

        QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("spamHint"))->isVisible(), true, 10000);
        QCOMPARE(m_env.requestsTo("auth/request-otp"), 1);
        QCOMPARE(shownPlaceholder(), QStringLiteral("Enter the OTP sent to your email"));
        QVERIFY(shown(item(QStringLiteral("requestNewOTPButton"))));
        save(QStringLiteral("settings-otp.png"));

        // The password typed after clicking Continue lands in the field.
        type(QStringLiteral("12"));
        QCOMPARE(fieldText(), QStringLiteral("12"));
        // Starting over empties the field and sends nothing.
        click(item(QStringLiteral("requestNewOTPButton")));
        QTRY_VERIFY(!item(QStringLiteral("spamHint"))->isVisible());
        QCOMPARE(fieldText(), QString());
        QCOMPARE(shownPlaceholder(), QStringLiteral("Enter your email"));
        QCOMPARE(m_env.requestsTo("auth/request-otp"), 1);
        QCOMPARE(m_env.requestsTo("auth/verify-otp"), 0);
        // The window manager confirms the new height asynchronously.
        QTRY_COMPARE(m_window->height(), qRound(root()->implicitHeight()));
    }

    void aLongPastedAddressIsSentAsPasted()
    {
        QVERIFY(open(false));
        const QString pasted = QString(9988, QLatin1Char('a')) + QStringLiteral("\t@example.org");
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keyClick(m_window, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE(fieldText(), pasted);
        m_env.answer(QStringLiteral("auth/request-otp"), 422, R"({"error":"That is not an e-mail address."})");
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(m_env.requestsTo("auth/request-otp"), 1, 10000);
        QCOMPARE(m_env.backend.requestsTo(QStringLiteral("auth/request-otp")).value(0).json.value(
                     QStringLiteral("email")).toString(),
                 pasted);
        // Refused: the form stays in its first step, usable, with the text.
        QTRY_VERIFY_WITH_TIMEOUT(!loginModel()->property("loading").toBool(), 10000);
        QVERIFY(!item(QStringLiteral("spamHint"))->isVisible());
        QCOMPARE(fieldText(), pasted);
        QVERIFY(item(QStringLiteral("continueButton"))->isEnabled());
        QCOMPARE(m_window->width(), 400);
    }

    void signingInTurnsTheOpenWindowIntoTheSettings()
    {
        QVERIFY(open(false));
        // The window manager confirms the new height asynchronously.
        QTRY_COMPARE(m_window->height(), qRound(root()->implicitHeight()));
        const int signedOutHeight = m_window->height();
        const QString email = QStringLiteral("writer@example.org");
        type(email);
        QTest::keyClick(m_window, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("spamHint"))->isVisible(), 10000);
        type(m_env.backend.otpFor(email));
        click(item(QStringLiteral("continueButton")));

        QTRY_VERIFY_WITH_TIMEOUT(signedInContent(), 10000);
        QVERIFY(m_env.tokens->accessToken().has_value());
        QTRY_COMPARE(m_window->height(), qRound(root()->implicitHeight()));
        QVERIFY(m_window->height() != signedOutHeight);
        QCOMPARE(m_window->width(), 400);
    }

    void signedInItShowsShortcutsLaunchAndSignOutInOrder()
    {
        m_env.signIn();
        QVERIFY(open(true));
        QCOMPARE(titleLines(), (QStringList{QStringLiteral(" Wugg it!"), QStringLiteral("Settings")}));
        QVERIFY(!shown(item(QStringLiteral("loginLoader"))));

        const QStringList order{QStringLiteral("shortcutsHeader"), QStringLiteral("shortcutsLoader"),
                                QStringLiteral("launchAtStartupCard"), QStringLiteral("signOutButton"),
                                QStringLiteral("footerText"), QStringLiteral("versionLine")};
        qreal previousBottom = sceneRect(item(QStringLiteral("headerTitle"))->parentItem()).bottom();
        for (const QString &name : order) {
            QQuickItem *element = item(name);
            QVERIFY2(shown(element), qPrintable(name));
            QVERIFY2(sceneRect(element).top() >= previousBottom - 4, qPrintable(name));
            previousBottom = sceneRect(element).bottom();
        }
        QCOMPARE(sceneRect(item(QStringLiteral("shortcutsLoader"))).top()
                     - sceneRect(item(QStringLiteral("shortcutsHeader"))).bottom(),
                 8.0);

        // The three rows, in order, with recorders of their sizes.
        const QList<std::pair<QString, QSizeF>> recorders{{QStringLiteral("typoFix"), QSizeF(80, 25)},
                                                          {QStringLiteral("rephrase"), QSizeF(72, 25)},
                                                          {QStringLiteral("floatingMenu"), QSizeF(80, 25)}};
        qreal previousTop = -1;
        for (const auto &[name, size] : recorders) {
            QQuickItem *recorder = item(QStringLiteral("recorder_") + name);
            QVERIFY2(shown(recorder), qPrintable(name));
            QCOMPARE(sceneRect(recorder).size(), size);
            QVERIFY(sceneRect(recorder).top() > previousTop);
            previousTop = sceneRect(recorder).top();
        }
        // The window manager confirms the new height asynchronously.
        QTRY_COMPARE(m_window->height(), qRound(root()->implicitHeight()));
        save(QStringLiteral("settings-signed-in.png"));

        // Tab walks through the window: into a recorder without recording,
        // and on to the switch and Sign Out, which show where the focus is.
        const QStringList tabOrder{QStringLiteral("recorder_typoFix"), QStringLiteral("recorder_rephrase"),
                                   QStringLiteral("recorder_floatingMenu"), QStringLiteral("launchAtStartupSwitch"),
                                   QStringLiteral("signOutButton")};
        for (const QString &name : tabOrder) {
            QTest::keyClick(m_window, Qt::Key_Tab);
            QTRY_VERIFY2(item(name)->hasActiveFocus(), qPrintable(name));
            QVERIFY2(!item(name)->property("recording").toBool(), qPrintable(name));
            if (!name.startsWith(u"recorder"))
                QVERIFY2(shown(findItem(item(name), QStringLiteral("focusRing"))), qPrintable(name));
        }
        save(QStringLiteral("settings-focus-ring.png"));
    }

    void theSwitchWritesAndRemovesTheAutostartEntry()
    {
        m_env.signIn();
        LaunchAtLogin *launch = LaunchAtLogin::shared();
        launch->setEnabled(false);
        QVERIFY(open(true));
        QQuickItem *toggle = item(QStringLiteral("launchAtStartupSwitch"));
        QCOMPARE(toggle->property("checked").toBool(), false);

        click(toggle);
        QTRY_VERIFY(QFile::exists(launch->entryPath()));
        QVERIFY(launch->isEnabled());
        click(toggle);
        QTRY_VERIFY(!QFile::exists(launch->entryPath()));
        QCOMPARE(toggle->property("checked").toBool(), false);

        // Changed behind the window's back: it shows what the disk says.
        launch->setEnabled(true);
        QTRY_COMPARE(toggle->property("checked").toBool(), true);
        launch->setEnabled(false);
    }

    void signOutBringsTheFormBack()
    {
        m_env.signIn();
        QVERIFY(open(true));
        m_env.answer(QStringLiteral("auth/logout"), 200, "{}", 500);
        QQuickItem *signOut = item(QStringLiteral("signOutButton"));
        click(signOut);
        QTRY_VERIFY(model()->property("loading").toBool());
        QVERIFY(!signOut->isEnabled());
        QVERIFY(shown(findItem(signOut, QStringLiteral("spinner"))));

        QTRY_VERIFY_WITH_TIMEOUT(!signedInContent(), 10000);
        QCOMPARE(m_env.requestsTo("auth/logout"), 1);
        QVERIFY(!m_env.tokens->accessToken().has_value());
        QVERIFY(!shown(item(QStringLiteral("signOutButton"))));
        QTRY_VERIFY(shown(item(QStringLiteral("loginLoader"))));
        QCOMPARE(shownPlaceholder(), QStringLiteral("Enter your email"));
        // The window manager confirms the new height asynchronously.
        QTRY_COMPARE(m_window->height(), qRound(root()->implicitHeight()));

        // Closing the window gives up a Google sign-in still waiting for the browser.
        GoogleSignIn::Configuration google = m_env.googleSignIn->configuration();
        const auto followsRedirect = std::exchange(google.openBrowser, [](const QUrl &) { return true; });
        m_env.googleSignIn->setConfiguration(google);
        QMetaObject::invokeMethod(loginModel(), "signInWithGoogle");
        QVERIFY(m_env.googleSignIn->isSigningIn());
        m_window->close();
        QTRY_VERIFY(!m_env.googleSignIn->isSigningIn());
        google.openBrowser = followsRedirect;
        m_env.googleSignIn->setConfiguration(google);
        QVERIFY(open(false));

        // Back from Google's page in the browser, this window is in front again.
        QWindow browser;
        browser.setGeometry(0, 0, 300, 300);
        browser.show();
        browser.requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), &browser);
        QMetaObject::invokeMethod(loginModel(), "signInWithGoogle");
        QTRY_VERIFY_WITH_TIMEOUT(signedInContent(), 15000);
        QTRY_COMPARE(QGuiApplication::focusWindow(), m_window);
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
