#pragma once

#include <cstdio>
#include <ctime>

// The line a probe prints for bench_startup: what happened, and when, on the
// monotonic clock both processes share.
inline void printClock(const char *what)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("%s %lld.%09ld\n", what, static_cast<long long>(now.tv_sec), now.tv_nsec);
    std::fflush(stdout);
}
