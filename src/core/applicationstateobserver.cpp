#include "applicationstateobserver.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

streams::AnyPublisher<ApplicationState> ApplicationStateObserver::applicationStatePublisher() const
{
    return applicationStateSubject.eraseToAnyPublisher();
}

void ApplicationStateObserver::updateState(const ApplicationState &state)
{
    if (state == ApplicationState::success()) {
        scheduleState(ApplicationState::idle());
    } else if (state.isError()) {
        scheduleState(state.errorReason() == ApplicationStateError::SessionExpired
                          ? ApplicationState::unauthenticated()
                          : ApplicationState::idle());
    }
    applicationStateSubject.send(state);
}

void ApplicationStateObserver::scheduleState(const ApplicationState &target)
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    // Held weakly: a pending return never keeps the observer alive.
    std::weak_ptr<ApplicationStateObserver> weakSelf = weak_from_this();
    auto arm = [weakSelf, target, app] {
        QTimer::singleShot(kReturnDelay, Qt::PreciseTimer, app, [weakSelf, target] {
            if (auto self = weakSelf.lock())
                self->updateState(target);
        });
    };
    if (QThread::currentThread() == app->thread())
        arm();
    else
        QMetaObject::invokeMethod(app, arm, Qt::QueuedConnection);
}
