#include "crashreporter.h"

#include <buildconfig.h>
#include <sentrysdk.h>

void CrashReporter::configure(sentry::Options &options)
{
    options.dsn = QString::fromLatin1(BuildConfig::kCrashDsn);
    options.enableTracing = true;
    options.tracesSampleRate = 0.5;
    options.enableTimeToFullDisplayTracing = true;
    options.swiftAsyncStacktraces = true;
}

void CrashReporter::start()
{
    sentry::SentrySDK::start(&CrashReporter::configure);
}
