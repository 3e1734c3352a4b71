#pragma once

#include <QLockFile>

#include <functional>
#include <memory>

// One program per user configuration: the program holds a lock beside its
// preferences for as long as it runs. A later start finds it held, asks the
// holder (SIGUSR1) to open its settings window, and ends. The lock of a copy
// that died without letting go counts as free, since its process is gone.
class SingleInstance
{
public:
    // The lock file: <preferences folder>/<application>.lock.
    static QString lockFileName();

    // Takes the lock and, from then on, calls openSettings whenever a later
    // start asks. False when another copy holds it; that copy has been asked.
    bool acquire(std::function<void()> openSettings);

private:
    std::unique_ptr<QLockFile> m_lock;
};
