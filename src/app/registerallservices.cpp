#include "registerallservices.h"

#include <accessibilityhandler.h>
#include <analyticscollector.h>
#include <applicationstateobserver.h>
#include <clipboardaccessor.h>
#include <crashreporter.h>
#include <hotkeylistener.h>
#include <keyboardeventsimulator.h>
#include <promptexecutor.h>
#include <textextractor.h>
#include <resolver.h>
#include <userdefaults.h>

#include <QNetworkAccessManager>

void registerAllServices(Resolver &resolver)
{
    using Scope = Resolver::Scope;

    // One network access manager for the whole process, made on first use and
    // released with the registrations, before the application object goes.
    resolver.register_<QNetworkAccessManager>([shared = std::make_shared<std::shared_ptr<QNetworkAccessManager>>()] {
        if (!*shared)
            *shared = std::make_shared<QNetworkAccessManager>();
        return *shared;
    });

    resolver.register_<PromptExecutor>([] { return std::make_shared<PromptExecutor>(); })
        .implements<PromptExecution>()
        .scope(Scope::Shared);

    resolver.register_<HotkeyListener>([] {
                auto listener = std::make_shared<HotkeyListener>();
                listener->listen();
                return listener;
            })
        .implements<HotkeyListening>()
        .scope(Scope::Shared);

    resolver.register_<ClipboardAccessor>([] { return std::make_shared<ClipboardAccessor>(); })
        .implements<ClipboardAccess>()
        .scope(Scope::Application);

    resolver.register_<UserDefaults>([] { return std::make_shared<UserDefaults>(); }).implements<DataStoring>();

    resolver.register_<ApplicationStateObserver>([] { return std::make_shared<ApplicationStateObserver>(); })
        .implements<ApplicationStateObservable>()
        .scope(Scope::Shared);

    resolver.register_<AccessibilityHandler>([] { return std::make_shared<AccessibilityHandler>(); })
        .implements<AccessibilityHandling>()
        .scope(Scope::Shared);

    resolver.register_<KeyboardEventSimulator>([] { return std::make_shared<KeyboardEventSimulator>(); })
        .implements<KeyboardEventSimulating>();

    resolver.register_<TextExtractor>([] { return std::make_shared<TextExtractor>(); }).implements<TextExtraction>();

    resolver.register_<CrashReporter>([] {
                auto reporter = std::make_shared<CrashReporter>();
                CrashReporter::start();
                return reporter;
            })
        .implements<CrashReporting>();

    resolver.register_<AnalyticsCollector>([] { return std::make_shared<AnalyticsCollector>(); })
        .implements<AnalyticsCollecting>()
        .scope(Scope::Application);
}
