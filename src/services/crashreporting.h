#pragma once

// Resolving the crash reporter is what starts crash reporting.
class CrashReporting
{
public:
    virtual ~CrashReporting() = default;
};
