#pragma once

#include <applicationstateobservable.h>

#include <streams.h>

#include <chrono>
#include <memory>

class ApplicationStateObserver : public ApplicationStateObservable,
                                 public std::enable_shared_from_this<ApplicationStateObserver>
{
public:
    // How long success and errors stay before the state returns to rest.
    static constexpr std::chrono::milliseconds kReturnDelay{3000};

    ApplicationStateObserver() = default;

    streams::AnyPublisher<ApplicationState> applicationStatePublisher() const override;
    void updateState(const ApplicationState &state) override;

    // Arranges updateState(target) on the main thread 3 s from now. The return
    // is never cancelled and does not look at the state at that time.
    void scheduleState(const ApplicationState &target);

    streams::CurrentValueSubject<ApplicationState> applicationStateSubject{ApplicationState::idle()};
};
