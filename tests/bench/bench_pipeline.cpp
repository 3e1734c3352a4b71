// The text action's own cost beyond the fixed pauses: from the key-up of the
// shortcut to the request at the backend, and from the backend's answer to
// the paste. The real worker, capture and HTTP client, a selection in
// mousepad and the loopback backend answering at once. Run inside a desktop
// session.
#include "benchsupport.h"
#include "../desktop/desktopsession.h"

#include <backendstandin.h>
#include <memorykeychain.h>

#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <approuting.h>
#include <backend.h>
#include <contentservice.h>
#include <hotkeylistener.h>
#include <promptexecutor.h>
#include <shortcutnames.h>
#include <tokenrefresher.h>
#include <tokenstorage.h>
#include <userdefaults.h>
#include <worker.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using bench::median;
using bench::QuietAnalytics;
using bench::runUntil;

// The benchmark shows no windows; only the pipeline's own path is measured.
class SilentRouter : public AppRouting
{
public:
    QSystemTrayIcon *statusItem() const override { return nullptr; }
    void setStatusItem(QSystemTrayIcon *) override {}
    void openSettingsWindow() override {}
    void toggleFloatingMenuWindow() override {}
    void openOnboardingWindow() override {}
    void showToast(const QString &, std::function<void()>, std::chrono::milliseconds) override {}
    void closeOnboardingWindow() override {}
};

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 15;

    BackendStandIn backend;
    if (!backend.listen())
        return 1;
    qputenv("WUGGIT_BACKEND_URL", backend.url().toString().toUtf8());

    auto network = std::make_shared<QNetworkAccessManager>();
    auto tokens = std::make_shared<TokenStorage>(std::make_shared<MemoryKeychain>());
    const auto issued = backend.issueTokens();
    tokens->saveTokens({issued.accessToken.toStdString(), issued.refreshToken.toStdString(), corvane::LoginMethod::email});
    auto state = std::make_shared<ApplicationStateObserver>();

    Resolver::main().setRegistrationRoutine([&](Resolver &r) {
        desktop::registerCaptureServices(r);
        r.register_<QNetworkAccessManager>([network] { return network; });
        r.register_<corvane::HTTPService>([&] {
             auto refresher = std::make_shared<TokenRefresher>(tokens, std::make_shared<QuietAnalytics>(), state);
             QuietAnalytics analytics;
             return std::make_shared<corvane::HTTPService>(refresher, tokens, backend::commonHeaders(analytics), network);
         }).implements<corvane::HTTPServing>();
        r.register_<SilentRouter>([] { return std::make_shared<SilentRouter>(); }).implements<AppRouting>();
        r.register_<PromptExecutor>([] { return std::make_shared<PromptExecutor>(); })
            .implements<PromptExecution>()
            .scope(Resolver::Scope::Shared);
        r.register_<HotkeyListener>([] { return std::make_shared<HotkeyListener>(); })
            .implements<HotkeyListening>()
            .scope(Resolver::Scope::Shared);
        r.register_<UserDefaults>([] { return std::make_shared<UserDefaults>(); }).implements<DataStoring>();
        r.register_<TokenStorage>([tokens] { return tokens; }).implements<corvane::TokenStoring>();
        r.register_<ContentService>([] { return std::make_shared<ContentService>(); }).implements<ContentServing>();
        r.register_<ApplicationStateObserver>([state] { return state; });
        r.register_<QuietAnalytics>([] { return std::make_shared<QuietAnalytics>(); }).implements<AnalyticsCollecting>();
    });

    auto worker = std::make_shared<Worker>();
    auto hotkeys = Resolver::main().resolve<HotkeyListener>();

    QElapsedTimer clock;
    clock.start();
    qint64 requestAt = -1;
    qint64 answeredAt = -1;
    qint64 pastedAt = -1;
    QObject::connect(&backend, &BackendStandIn::requestReceived, [&](const QString &path) {
        if (path == QLatin1String("content/fix"))
            requestAt = clock.nsecsElapsed();
    });
    QObject::connect(&backend, &BackendStandIn::requestAnswered, [&](const QString &, const QString &path, int) {
        if (path == QLatin1String("content/fix"))
            answeredAt = clock.nsecsElapsed();
    });
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, [&] {
        if (answeredAt >= 0 && pastedAt < 0 && QGuiApplication::clipboard()->ownsClipboard()
            && !QGuiApplication::clipboard()->text().isEmpty())
            pastedAt = clock.nsecsElapsed();
    });

    desktop::Mousepad editor;
    if (!editor.open(QStringLiteral("I recieve teh letter untill Monday.\n"), 1, 0)) {
        std::fprintf(stderr, "mousepad did not open\n");
        return 1;
    }

    const double pauseMs = double(KeyboardEventSimulator::kSettleTime.count());
    std::vector<double> toRequest;
    std::vector<double> toPaste;
    for (int i = 0; i < runs; ++i) {
        desktop::xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
        requestAt = answeredAt = pastedAt = -1;
        const qint64 keyUpAt = clock.nsecsElapsed();
        hotkeys->keyUp(ShortcutNames::typoFix(), TriggeredKeyboardShortcut::typoFix, QStringLiteral("typoFixTriggered"));
        if (!runUntil([&] { return pastedAt >= 0; }, 10000)) {
            std::fprintf(stderr, "run %d: the answer was not pasted\n", i);
            return 1;
        }
        toRequest.push_back(double(requestAt - keyUpAt) / 1e6 - pauseMs);
        toPaste.push_back(double(pastedAt - answeredAt) / 1e6);
        // Let the write-back finish its pause and clear the clipboard.
        runUntil([] { return false; }, 1500);
    }

    std::printf("key-up to request at the backend, beyond the %.0f ms pause after the copy: median %.2f ms over %d "
                "runs (target < 10 ms)\n",
                pauseMs, median(toRequest), runs);
    std::printf("answer sent to paste on its way: median %.2f ms (target < 10 ms)\n", median(toPaste));
    return 0;
}
