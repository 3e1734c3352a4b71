#include "applicationstate.h"

QDebug operator<<(QDebug debug, ApplicationStateError error)
{
    QDebugStateSaver saver(debug);
    switch (error) {
    case ApplicationStateError::SessionExpired:
        return debug.noquote() << "SessionExpired";
    case ApplicationStateError::AppRequiresUpdate:
        return debug.noquote() << "AppRequiresUpdate";
    case ApplicationStateError::ApiError:
        return debug.noquote() << "ApiError";
    }
    return debug;
}

QDebug operator<<(QDebug debug, const ApplicationState &state)
{
    QDebugStateSaver saver(debug);
    debug.nospace().noquote();
    switch (state.kind()) {
    case ApplicationState::Kind::error:
        return debug << "error(" << state.errorReason() << ")";
    case ApplicationState::Kind::unauthenticated:
        return debug << "unauthenticated";
    case ApplicationState::Kind::idle:
        return debug << "idle";
    case ApplicationState::Kind::inProgress:
        return debug << "inProgress";
    case ApplicationState::Kind::success:
        return debug << "success";
    }
    return debug;
}
