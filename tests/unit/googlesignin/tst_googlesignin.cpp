#include <googleauthstandin.h>
#include <settledtask.h>

#include <analyticscollecting.h>
#include <googleauthhandler.h>
#include <googlesignin.h>

#include <QCoro/QCoroTask>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QFile>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QTest>
#include <QWindow>

#include <optional>

using namespace std::chrono_literals;

namespace {

const QString ClientId = QStringLiteral("1234-standin.apps.googleusercontent.com");

// Each event as "name" or "name key=value".
struct RecordingAnalytics : AnalyticsCollecting
{
    QStringList events;
    void track(const QString &event) override { events << event; }
    void track(const QString &event, const QMap<QString, QString> &p) override
    {
        events << event + u' ' + p.firstKey() + u'=' + p.first();
    }
    QString distinctId() const override { return QStringLiteral("test"); }
};

// systemDefault: the library's own way, here a stand-in xdg-open that finds no browser.
enum class Browser { followsRedirect, neverComesBack, cannotOpen, systemDefault };

struct Outcome
{
    std::optional<OauthProviderUser> user;
    int code = -2; // the library's error; -1: the incomplete-user failure
    QString message;
};

Outcome run(QCoro::Task<OauthProviderUser> task)
{
    const auto settled = settle(std::move(task), 20000);
    Outcome outcome;
    outcome.user = settled.value;
    if (!settled.failure)
        return outcome;
    try {
        std::rethrow_exception(settled.failure);
    } catch (const GoogleSignInError &e) {
        outcome.code = int(e.code());
        outcome.message = e.description();
    } catch (const IncompleteGoogleUserError &e) {
        outcome.code = -1;
        outcome.message = QString::fromUtf8(e.what());
    }
    return outcome;
}

} // namespace

Q_DECLARE_METATYPE(GoogleAuthStandIn::Script)
Q_DECLARE_METATYPE(Browser)

class TestGoogleSignIn : public QObject
{
    Q_OBJECT

private:
    GoogleAuthStandIn m_google{ClientId};
    QNetworkAccessManager m_browserNetwork;
    QList<QUrl> m_opened;
    QList<QNetworkReply::NetworkError> m_pages; // what the browser got back
    std::shared_ptr<RecordingAnalytics> m_analytics;
    QTemporaryDir m_bin;

    // The browser: follows Google's redirect to the program's loopback listener.
    void visit(const QUrl &url)
    {
        QNetworkReply *reply = m_browserNetwork.get(QNetworkRequest(url));
        connect(reply, &QNetworkReply::finished, this, [this, reply] {
            m_pages << reply->error();
            reply->deleteLater();
        });
    }

    GoogleSignIn::Configuration configuration(Browser browser, std::chrono::milliseconds timeout = 10s)
    {
        GoogleSignIn::Configuration c;
        c.clientId = ClientId;
        c.authorizationEndpoint = m_google.authorizationEndpoint();
        c.tokenEndpoint = m_google.tokenEndpoint();
        c.timeout = timeout;
        if (browser == Browser::systemDefault)
            return c;
        c.openBrowser = [this, browser](const QUrl &url) {
            m_opened << url;
            if (browser == Browser::followsRedirect)
                visit(url);
            return browser != Browser::cannotOpen;
        };
        return c;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_google.listen());
        // xdg-open as it answers on a desktop without a browser.
        QVERIFY(m_bin.isValid());
        QFile script(m_bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho 'xdg-open: no method available for opening' >&2\nexit 3\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        qputenv("PATH", m_bin.path().toUtf8() + ':' + qgetenv("PATH"));
    }

    void init()
    {
        m_google.clear();
        m_opened.clear();
        m_pages.clear();
        m_analytics = std::make_shared<RecordingAnalytics>();
    }
    void signsInEndToEndWithPkce()
    {
        auto library = std::make_shared<GoogleSignIn>(configuration(Browser::followsRedirect));
        GoogleAuthHandler handler(library, m_analytics);
        QWindow presenting, browserStandIn;
        presenting.show();
        browserStandIn.show();
        browserStandIn.requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), &browserStandIn);

        const QString hint = QStringLiteral("ada+work@example.com");
        const Outcome outcome = run(handler.signIn(&presenting, hint));
        QVERIFY2(outcome.user, qPrintable(outcome.message));
        QCOMPARE(outcome.user->email, std::string("ada@example.com"));
        QCOMPARE(QString::fromStdString(outcome.user->idToken), m_google.issuedIdToken());
        QVERIFY(m_google.pkceVerified());

        const auto authorize = m_google.requests(QStringLiteral("/authorize"));
        QCOMPARE(authorize.size(), 1);
        QCOMPARE(authorize[0].fields.queryItemValue(QStringLiteral("login_hint"), QUrl::FullyDecoded), hint);
        QCOMPARE(m_google.requests(QStringLiteral("/token")).size(), 1);
        QCOMPARE(m_pages, QList{QNetworkReply::NoError});
        QTRY_COMPARE(QGuiApplication::focusWindow(), &presenting);
        QCOMPARE(m_analytics->events, QStringList{"googleAuthSuccessful"});

        QVERIFY(library->currentUser());
        handler.signOut();
        QVERIFY(!library->currentUser());
    }

    void failuresThrow_data()
    {
        QTest::addColumn<GoogleAuthStandIn::Script>("script");
        QTest::addColumn<Browser>("browser");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("code"); // -1: the incomplete-user failure
        QTest::addColumn<int>("tokenRequests");

        using S = GoogleAuthStandIn::Script;
        using C = GoogleSignInError::Code;
        QTest::newRow("denied") << S::deny << Browser::followsRedirect << 10000 << int(C::accessDenied) << 0;
        // Turned away: the sign-in waits on for its own redirect.
        QTest::newRow("wrong state") << S::wrongState << Browser::followsRedirect << 1000 << int(C::timedOut) << 0;
        QTest::newRow("token endpoint fails") << S::tokenFailure << Browser::followsRedirect << 10000
                                              << int(C::tokenExchangeFailed) << 1;
        QTest::newRow("no ID token") << S::noIdToken << Browser::followsRedirect << 10000 << -1 << 1;
        QTest::newRow("no profile") << S::idTokenWithoutProfile << Browser::followsRedirect << 10000 << -1 << 1;
        QTest::newRow("browser never returns") << S::grant << Browser::neverComesBack << 300 << int(C::timedOut) << 0;
        QTest::newRow("no browser") << S::grant << Browser::cannotOpen << 10000 << int(C::browserUnavailable) << 0;
        QTest::newRow("xdg-open finds none") << S::grant << Browser::systemDefault << 10000
                                             << int(C::browserUnavailable) << 0;
    }

    void failuresThrow()
    {
        QFETCH(GoogleAuthStandIn::Script, script);
        QFETCH(Browser, browser);
        QFETCH(int, timeoutMs);
        QFETCH(int, code);
        QFETCH(int, tokenRequests);
        m_google.setScript(script);
        auto library = std::make_shared<GoogleSignIn>(configuration(browser, std::chrono::milliseconds(timeoutMs)));
        GoogleAuthHandler handler(library, m_analytics);
        const Outcome outcome = run(handler.signIn(nullptr, QString()));
        QVERIFY(!outcome.user && !outcome.message.isEmpty());
        QCOMPARE(outcome.code, code);
        // A failed sign-in never gets as far as exchanging a code it should not trust.
        QCOMPARE(m_google.requests(QStringLiteral("/token")).size(), tokenRequests);
        QVERIFY(code < 0 || !library->currentUser());
        // The incomplete-user failure is the caller's to report.
        QCOMPARE(m_analytics->events, code < 0 ? QStringList() : QStringList{"googleAuthFailed error=" + outcome.message});
    }

    void secondSignInCancelsTheFirst()
    {
        auto library = std::make_shared<GoogleSignIn>(configuration(Browser::neverComesBack));
        GoogleAuthHandler handler(library, m_analytics);
        auto first = handler.signIn(nullptr, QStringLiteral("first@example.com"));
        QVERIFY(library->isSigningIn());

        library->setConfiguration(configuration(Browser::followsRedirect));
        const Outcome second = run(handler.signIn(nullptr, QString()));
        const Outcome cancelled = run(std::move(first));

        QVERIFY2(second.user, qPrintable(second.message));
        QCOMPARE(cancelled.code, int(GoogleSignInError::Code::canceled));
        QCOMPARE(m_opened.size(), 2);
        // An empty hint is left out of the request.
        QVERIFY(!QUrlQuery(m_opened[1]).hasQueryItem(QStringLiteral("login_hint")));
        QCOMPARE(m_analytics->events.size(), 2);
        QVERIFY(m_analytics->events[0].startsWith(u"googleAuthFailed") && m_analytics->events[1] == u"googleAuthSuccessful");
    }

    void completionArrivesExactlyOnce()
    {
        auto library = std::make_shared<GoogleSignIn>(configuration(Browser::neverComesBack, 200ms));
        QList<std::shared_ptr<const GoogleSignInError>> errors;
        int results = 0;
        const auto completion = [&](auto result, auto error) {
            results += result ? 1 : 0;
            errors << error;
        };

        // Time-out, then the browser comes back late to a closed listener.
        library->signIn(nullptr, QString(), completion);
        QVERIFY(errors.isEmpty()); // never from within the call
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors[0]->code(), GoogleSignInError::Code::timedOut);
        visit(m_opened.last());
        QTRY_COMPARE(m_pages, QList{QNetworkReply::ConnectionRefusedError}); // nobody listens any more

        // Sign-out while the browser is open. Before it, other local
        // processes knock: a few at a time, and not for long.
        library->setConfiguration(configuration(Browser::neverComesBack));
        library->signIn(nullptr, QString(), completion);
        const QUrl redirect(QUrlQuery(m_opened.last()).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
        std::vector<std::unique_ptr<QTcpSocket>> knocks;
        for (int i = 0; i < 17; ++i) {
            knocks.push_back(std::make_unique<QTcpSocket>());
            knocks.back()->connectToHost(QHostAddress::LocalHost, quint16(redirect.port()));
        }
        QTRY_COMPARE(knocks.back()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(knocks.front()->state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(knocks.front()->state(), QAbstractSocket::UnconnectedState, 10000);
        library->signOut();
        QVERIFY(!library->isSigningIn());
        QTRY_COMPARE(errors.size(), 2);
        QCOMPARE(errors[1]->code(), GoogleSignInError::Code::canceled);

        QTest::qWait(400);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(results, 0);
    }
};

QTEST_MAIN(TestGoogleSignIn)
#include "tst_googlesignin.moc"
