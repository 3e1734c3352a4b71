// The HTTP client's own cost per request (building, headers, encoding,
// decoding), measured against the same requests sent straight through
// QNetworkAccessManager to a loopback server that answers at once.
#include <corvane.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Note
{
    std::string title;
    int words = 0;
    std::vector<std::string> tags;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Note, title, words, tags)

const QByteArray kAnswer = R"({"title":"A short draft","words":42,"tags":["mail","work","today"]})";
const QString kToken = QStringLiteral("bench-access-token-0123456789abcdef");

class Tokens : public corvane::TokenStoring
{
public:
    std::optional<QString> accessToken() const override { return kToken; }
    std::optional<QString> refreshToken() const override { return std::nullopt; }
    streams::AnyPublisher<streams::Void> tokensWiped() const override { return m_wiped.eraseToAnyPublisher(); }
    std::optional<corvane::LoginMethod> lastSocialLoginProvider() const override { return std::nullopt; }
    streams::AnyPublisher<bool> isLoggedIn() const override { return m_loggedIn.eraseToAnyPublisher(); }
    void wipeTokens() override {}
    void saveTokens(const corvane::AuthenticationResponse &) override {}

private:
    streams::PassthroughSubject<streams::Void> m_wiped;
    streams::CurrentValueSubject<bool> m_loggedIn{true};
};

// The server never asks for a renewal; one would make the numbers meaningless.
class NoRenewal : public corvane::TokenRefreshing
{
public:
    QCoro::Task<void> refresh() override
    {
        std::fprintf(stderr, "unexpected renewal\n");
        std::exit(1);
        co_return;
    }
    streams::AnyPublisher<streams::Void> tokenRefreshFailure() const override
    {
        return m_failure.eraseToAnyPublisher();
    }

private:
    streams::PassthroughSubject<streams::Void> m_failure;
};

class NoteConfig : public corvane::ConfigRequestConvertible
{
public:
    explicit NoteConfig(QUrl base) : m_base(std::move(base)) {}
    QUrl baseURL() const override { return m_base; }
    QString path() const override { return QStringLiteral("v1/notes"); }
    corvane::HTTPMethod method() const override { return corvane::HTTPMethod::POST; }
    corvane::Parameters parameters() const override
    {
        return {{"text", "Please rewrite this sentence so it reads better."}, {"tone", "friendly"}};
    }
    std::optional<corvane::Headers> headers() const override
    {
        return corvane::Headers{{QStringLiteral("x-request-kind"), QStringLiteral("bench")}};
    }

private:
    QUrl m_base;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

QString cpuModel()
{
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (!info.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown CPU");
    for (const QByteArray &line : info.readAll().split('\n'))
        if (line.startsWith("model name"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
    return QStringLiteral("unknown CPU");
}

// One request through the library; false on any failure.
bool viaLibrary(corvane::HTTPService &service, const NoteConfig &config)
{
    bool ok = false;
    bool done = false;
    QEventLoop loop;
    [](corvane::HTTPService &s, const NoteConfig &c, bool &okOut, bool &doneOut, QEventLoop &l) -> QCoro::Task<void> {
        try {
            const Note note = co_await s.request<Note>(true, c);
            okOut = note.words == 42;
        } catch (const corvane::CorvaneError &e) {
            std::fprintf(stderr, "library request failed: %s\n", e.what());
        }
        doneOut = true;
        l.quit();
    }(service, config, ok, done, loop);
    if (!done)
        loop.exec();
    return ok;
}

// The same request by hand: same URL, headers and body, no decoding.
bool viaRawNetwork(QNetworkAccessManager &network, const QUrl &url, const QByteArray &body)
{
    QNetworkRequest request(url);
    request.setRawHeader("x-client-type", "linux");
    request.setRawHeader("x-app-version", "1.0.0");
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("x-request-kind", "bench");
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("Authorization", "Bearer " + kToken.toUtf8());
    QNetworkReply *reply = network.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const bool ok = reply->error() == QNetworkReply::NoError && reply->readAll() == kAnswer;
    reply->deleteLater();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;

    QHttpServer server;
    server.setMissingHandler([](const QHttpServerRequest &, QHttpServerResponder &&responder) {
        responder.write(kAnswer, QByteArrayLiteral("application/json"));
    });
    const quint16 port = server.listen(QHostAddress::LocalHost, 0);
    if (port == 0) {
        std::fprintf(stderr, "could not listen on loopback\n");
        return 1;
    }
    const QUrl base(QStringLiteral("http://127.0.0.1:%1/api/").arg(port));
    const QUrl url = base.resolved(QUrl(QStringLiteral("v1/notes")));
    const NoteConfig config(base);
    const QByteArray body = QByteArray::fromStdString(config.parameters().dump());

    // One network for both, so both reuse the same kind of kept-alive connection.
    auto network = std::make_shared<QNetworkAccessManager>();
    auto service = std::make_shared<corvane::HTTPService>(
        std::make_shared<NoRenewal>(), std::make_shared<Tokens>(),
        corvane::Headers{{QStringLiteral("x-client-type"), QStringLiteral("linux")},
                         {QStringLiteral("x-app-version"), QStringLiteral("1.0.0")}},
        network);

    for (int i = 0; i < 100; ++i) {
        if (!viaLibrary(*service, config) || !viaRawNetwork(*network, url, body)) {
            std::fprintf(stderr, "warm-up request %d failed\n", i);
            return 1;
        }
    }

    // Interleaved, so drift in the machine's load hits both alike.
    std::vector<double> library, raw;
    library.reserve(n);
    raw.reserve(n);
    QElapsedTimer clock;
    for (int i = 0; i < n; ++i) {
        clock.start();
        if (!viaLibrary(*service, config))
            return 1;
        library.push_back(double(clock.nsecsElapsed()) / 1e3);
        clock.start();
        if (!viaRawNetwork(*network, url, body))
            return 1;
        raw.push_back(double(clock.nsecsElapsed()) / 1e3);
    }

    const double lib = median(library), plain = median(raw);
    std::printf("machine: %d cores, %s\n", QThread::idealThreadCount(), qPrintable(cpuModel()));
    std::printf("corvane request<T> (POST, small JSON record), %d requests over loopback:\n", n);
    std::printf("  through the library: %.1f us median\n", lib);
    std::printf("  raw QNetworkAccessManager: %.1f us median\n", plain);
    std::printf("  library's own cost: %.1f us per request (target < 1000 us)%s\n", lib - plain,
                lib - plain < 1000.0 ? "" : "  MISSED");
    return 0;
}
