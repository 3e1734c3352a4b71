// The prompt menu: from the key-up of its shortcut to the menu window shown
// with the keyboard focus, at the first opening after start and later, and
// the resident memory the menu costs: after the first opening, and after
// opening and closing it 200 times. The real worker, router, window content
// and scene graph of the program. Run inside a desktop session.
#include "benchsupport.h"
#include <memorykeychain.h>

#include <accessibilityhandler.h>
#include <analyticscollecting.h>
#include <applicationstateobserver.h>
#include <approuter.h>
#include <contentservice.h>
#include <hotkeylistener.h>
#include <promptexecutor.h>
#include <shortcutnames.h>
#include <textextractor.h>
#include <toastdispatcher.h>
#include <tokenstorage.h>
#include <userdefaults.h>
#include <windowcontent.h>
#include <worker.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using bench::median;
using bench::residentMegabytes;
using bench::settle;
using bench::QuietAnalytics;
using bench::runUntil;

// Nothing is captured: only the menu is measured.
class NoCapture : public TextExtraction
{
public:
    std::optional<QString> extractSelectedText() override { return std::nullopt; }
    bool replaceSelectedText(const QString &) override { return false; }
    void forgetCapture() override {}
};

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    WindowContent::chooseSceneGraph();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int cycles = argc > 1 ? std::max(10, atoi(argv[1])) : 200;

    auto tokens = std::make_shared<TokenStorage>(std::make_shared<MemoryKeychain>());
    auto state = std::make_shared<ApplicationStateObserver>();
    auto content = std::make_shared<WindowContent>();
    Resolver::main().setRegistrationRoutine([&](Resolver &r) {
        r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); });
        r.register_<AppRouter>([content] {
             return std::make_shared<AppRouter>(Resolver::main(),
                                                [content](AppRouter::Window which) { return content->make(which); });
         })
            .implements<AppRouting>()
            .scope(Resolver::Scope::Shared);
        r.register_<PromptExecutor>([] { return std::make_shared<PromptExecutor>(); })
            .implements<PromptExecution>()
            .scope(Resolver::Scope::Shared);
        r.register_<HotkeyListener>([] { return std::make_shared<HotkeyListener>(); })
            .implements<HotkeyListening>()
            .scope(Resolver::Scope::Shared);
        r.register_<UserDefaults>([] { return std::make_shared<UserDefaults>(); }).implements<DataStoring>();
        r.register_<TokenStorage>([tokens] { return tokens; }).implements<corvane::TokenStoring>();
        r.register_<ContentService>([] { return std::shared_ptr<ContentService>(); }).implements<ContentServing>();
        r.register_<ApplicationStateObserver>([state] { return state; });
        r.register_<NoCapture>([] { return std::make_shared<NoCapture>(); }).implements<TextExtraction>();
        r.register_<AccessibilityHandler>([] { return std::make_shared<AccessibilityHandler>(); })
            .implements<AccessibilityHandling>();
        r.register_<QuietAnalytics>([] { return std::make_shared<QuietAnalytics>(); }).implements<AnalyticsCollecting>();
    });

    auto worker = std::make_shared<Worker>();
    auto hotkeys = Resolver::main().resolve<HotkeyListener>();
    auto router = std::static_pointer_cast<AppRouter>(Resolver::main().resolve<AppRouting>());
    settle(1500);
    const double idleMb = residentMegabytes();

    QElapsedTimer clock;
    // Key-up to the menu on screen (a frame drawn) with the keyboard focus.
    const auto open = [&]() -> double {
        bool drawn = false;
        clock.start();
        hotkeys->keyUp(ShortcutNames::floatingMenu(), TriggeredKeyboardShortcut::floatingMenu,
                       QStringLiteral("floatingMenuTriggered"));
        QQuickWindow *window = router->floatingMenuWindow();
        if (!window)
            return -1;
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [&drawn] { drawn = true; });
        if (!runUntil([&] { return drawn && QGuiApplication::focusWindow() == window; }, 5000))
            return -1;
        return double(clock.nsecsElapsed()) / 1e6;
    };
    const auto close = [&] {
        hotkeys->keyUp(ShortcutNames::floatingMenu(), TriggeredKeyboardShortcut::floatingMenu,
                       QStringLiteral("floatingMenuTriggered"));
        // The window goes with deleteLater.
        settle(30);
    };

    const auto openings = bench::measureOpenings(open, close, cycles);
    if (!openings) {
        std::fprintf(stderr, "the menu did not show with the focus\n");
        return 1;
    }
    std::printf("prompt menu, key-up to shown with the focus: first opening %.1f ms (target < 100 ms), later "
                "median %.1f ms over %zu (target < 30 ms)\n",
                openings->first, median(openings->later), openings->later.size());
    std::printf("prompt menu, resident memory: %.1f MB idle, +%.1f MB after the first opening (target < 25 MB), "
                "+%.2f MB after %d more openings (target < 2 MB)\n",
                idleMb, openings->afterFirstMb - idleMb, openings->afterCyclesMb - openings->beforeCyclesMb, cycles);
    return 0;
}
