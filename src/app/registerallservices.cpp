#include "registerallservices.h"

#include <accessibilityhandler.h>
#include <analyticscollector.h>
#include <applicationstateobserver.h>
#include <authservice.h>
#include <backend.h>
#include <clipboardaccessor.h>
#include <contentservice.h>
#include <corvane.h>
#include <crashreporter.h>
#include <googleauthhandler.h>
#include <googlesignin.h>
#include <hotkeylistener.h>
#include <keyboardeventsimulator.h>
#include <keychainoperator.h>
#include <metadataservice.h>
#include <promptexecutor.h>
#include <resolver.h>
#include <textextractor.h>
#include <tokenrefresher.h>
#include <tokenstorage.h>
#include <userdefaults.h>
#include <userservice.h>
#include <windowsmodule.h>
#include <worker.h>


#include <QNetworkAccessManager>

void registerAllServices(Resolver &resolver)
{
    using Scope = Resolver::Scope;

    resolver.register_<Worker>([] { return std::make_shared<Worker>(); });

    // One network access manager for the whole process, made on first use and
    // released with the registrations, before the application object goes.
    resolver.register_<QNetworkAccessManager>([shared = std::make_shared<std::shared_ptr<QNetworkAccessManager>>()] {
        if (!*shared)
            *shared = std::make_shared<QNetworkAccessManager>();
        return *shared;
    });

    // The common headers are built once per process, when the first HTTP
    // service is made; the distinct id in them stays as read then.
    resolver.register_<corvane::HTTPService>([&resolver, headers = std::make_shared<std::optional<corvane::Headers>>()] {
                auto refresher = resolver.resolve<corvane::TokenRefreshing>();
                auto tokens = resolver.resolve<corvane::TokenStoring>();
                if (!*headers)
                    *headers = backend::commonHeaders(*resolver.resolve<AnalyticsCollecting>());
                return std::make_shared<corvane::HTTPService>(
                    refresher, tokens, **headers,
                    corvane::HTTPService::NetworkSource([&resolver] { return resolver.resolve<QNetworkAccessManager>(); }));
            })
        .implements<corvane::HTTPServing>();

    // The windows load with the first of them.
    resolver.register_<DeferredRouter>([] { return std::make_shared<DeferredRouter>(Resolver::main()); })
        .implements<AppRouting>()
        .scope(Scope::Shared);

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

    resolver.register_<AuthService>([] { return std::make_shared<AuthService>(); }).implements<UserAuthentication>();

    // The library's shared instance already carries the built-in client id.
    resolver.register_<GoogleSignIn>([] { return GoogleSignIn::shared(); });

    resolver.register_<GoogleAuthHandler>([] { return std::make_shared<GoogleAuthHandler>(); })
        .implements<GoogleAuthHandling>();

    resolver.register_<TokenRefresher>([] { return std::make_shared<TokenRefresher>(); })
        .implements<corvane::TokenRefreshing>();

    resolver.register_<KeychainOperator>([] { return std::make_shared<KeychainOperator>(); })
        .implements<KeychainOperating>();

    resolver.register_<TokenStorage>([] { return std::make_shared<TokenStorage>(); })
        .implements<corvane::TokenStoring>()
        .scope(Scope::Application);

    resolver.register_<ContentService>([] { return std::make_shared<ContentService>(); }).implements<ContentServing>();

    resolver.register_<UserService>([] { return std::make_shared<UserService>(); }).implements<UserServing>();

    resolver.register_<MetadataService>([] { return std::make_shared<MetadataService>(); })
        .implements<MetadataServing>();

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
