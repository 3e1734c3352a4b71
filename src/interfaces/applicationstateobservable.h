#pragma once

#include "applicationstate.h"

#include <streams.h>

// What the program is doing, for everyone who shows it or changes it.
class ApplicationStateObservable
{
public:
    virtual ~ApplicationStateObservable() = default;

    // A new subscriber receives the current state at once, then every later one.
    virtual streams::AnyPublisher<ApplicationState> applicationStatePublisher() const = 0;
    // Sets a new state; success and errors schedule their own return to rest.
    virtual void updateState(const ApplicationState &state) = 0;
};
