#pragma once

#include "crashreporting.h"

namespace sentry {
struct Options;
}

class CrashReporter : public CrashReporting
{
public:
    // The options crash reporting starts with.
    static void configure(sentry::Options &options);
    // Starts crash reporting with those options.
    static void start();
};
