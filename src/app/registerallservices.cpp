#include "registerallservices.h"

#include <analyticscollector.h>
#include <applicationstateobserver.h>
#include <crashreporter.h>
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

    resolver.register_<UserDefaults>([] { return std::make_shared<UserDefaults>(); }).implements<DataStoring>();

    resolver.register_<ApplicationStateObserver>([] { return std::make_shared<ApplicationStateObserver>(); })
        .implements<ApplicationStateObservable>()
        .scope(Scope::Shared);

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
