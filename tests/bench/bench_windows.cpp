// The settings window: from the tray's "Settings" to the window on screen (a
// frame drawn), the first time and later, and the resident memory that
// opening and closing it costs. The onboarding window: the processor time it
// takes while its video plays, and the resident memory while it is open and
// after "Start using" let it go. The real router, window content, models,
// video playback and scene graph, signed in against the loopback backend, so
// that every showing refreshes as it does for a user. Run inside a desktop
// session.
#include "benchsupport.h"
#include "uienvironment.h"

#include <approuter.h>
#include <toastdispatcher.h>
#include <windowcontent.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <vector>

using bench::median;
using bench::residentMegabytes;
using bench::runUntil;
using bench::settle;

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    WindowContent::chooseSceneGraph();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int cycles = argc > 1 ? std::max(10, atoi(argv[1])) : 100;

    UiEnvironment env;
    if (!env.start()) {
        std::fprintf(stderr, "the stand-ins could not listen\n");
        return 1;
    }
    auto content = std::make_shared<WindowContent>();
    env.moreServices = [](Resolver &r) {
        r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); });
    };
    env.reset();
    env.signIn();
    AppRouter router(Resolver::main(), [content](AppRouter::Window which) { return content->make(which); });
    settle(1000);
    const double idleMb = residentMegabytes();

    QElapsedTimer clock;
    const auto open = [&]() -> double {
        bool drawn = false;
        clock.start();
        router.openSettingsWindow();
        QQuickWindow *window = router.settingsWindow();
        if (!window)
            return -1;
        const auto connection =
            QObject::connect(window, &QQuickWindow::frameSwapped, window, [&drawn] { drawn = true; });
        const bool shown = runUntil([&] { return drawn && window->isExposed(); }, 5000);
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        QObject::disconnect(connection);
        // The refresh that the showing started ends before the next close.
        runUntil([&] { return false; }, 60);
        return shown ? elapsed : -1;
    };
    // The title bar's close button: the router keeps the window.
    const auto close = [&] {
        router.settingsWindow()->close();
        settle(30);
    };

    const auto openings = bench::measureOpenings(open, close, cycles);
    if (!openings) {
        std::fprintf(stderr, "the settings window did not show\n");
        return 1;
    }
    std::printf("settings window, \"Settings\" to shown: first %.1f ms (target < 150 ms), later median %.1f ms "
                "over %zu (target < 30 ms)\n",
                openings->first, median(openings->later), openings->later.size());
    std::printf("settings window, resident memory: %.1f MB idle, +%.1f MB after the first opening, +%.2f MB after "
                "%d more openings and closings (target < 2 MB)\n",
                idleMb, openings->afterFirstMb - idleMb, openings->afterCyclesMb - openings->beforeCyclesMb, cycles);

    // The tour: its first page plays the first video.
    settle(1500);
    const double beforeTourMb = residentMegabytes();
    const auto cpuSeconds = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    };
    std::vector<double> cpuShares;
    double openMb = 0;
    for (int round = 0; round < 3; ++round) {
        router.openOnboardingWindow();
        if (!router.onboardingWindow() || !runUntil([&] { return router.onboardingWindow()->isExposed(); }, 5000)) {
            std::fprintf(stderr, "the onboarding window did not show\n");
            return 1;
        }
        settle(2000); // the video has started
        const double cpuStart = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        settle(5000);
        cpuShares.push_back((cpuSeconds() - cpuStart) / (double(wall.nsecsElapsed()) / 1e9) * 100);
        openMb = std::max(openMb, residentMegabytes());
        router.closeOnboardingWindow(); // what "Start using" does
        settle(2000);
    }
    const double afterTourMb = residentMegabytes();
    std::printf("onboarding window, processor while its video plays: median %.1f %% of one core over 3 showings "
                "of 5 s\n",
                median(cpuShares));
    std::printf("onboarding window, resident memory: %.1f MB before, %.1f MB open, %.1f MB after \"Start using\" "
                "three times (%+.1f MB; target within 10 MB)\n",
                beforeTourMb, openMb, afterTourMb, afterTourMb - beforeTourMb);
    return 0;
}
