#pragma once

#include <QDebug>
#include <QMetaType>

// Why a text action or the session failed.
enum class ApplicationStateError {
    SessionExpired,
    AppRequiresUpdate,
    ApiError,
};

// The one value that tells the whole program what it is doing.
class ApplicationState
{
public:
    enum class Kind {
        error,
        unauthenticated,
        idle,
        inProgress,
        success,
    };

    constexpr ApplicationState() = default;

    static constexpr ApplicationState idle() { return ApplicationState(Kind::idle); }
    static constexpr ApplicationState inProgress() { return ApplicationState(Kind::inProgress); }
    static constexpr ApplicationState success() { return ApplicationState(Kind::success); }
    static constexpr ApplicationState unauthenticated() { return ApplicationState(Kind::unauthenticated); }
    static constexpr ApplicationState error(ApplicationStateError reason)
    {
        return ApplicationState(Kind::error, reason);
    }

    constexpr Kind kind() const { return m_kind; }
    constexpr bool isError() const { return m_kind == Kind::error; }
    // Meaningful only for the error case.
    constexpr ApplicationStateError errorReason() const { return m_error; }

    friend constexpr bool operator==(const ApplicationState &a, const ApplicationState &b)
    {
        return a.m_kind == b.m_kind && (a.m_kind != Kind::error || a.m_error == b.m_error);
    }

private:
    constexpr explicit ApplicationState(Kind kind, ApplicationStateError reason = ApplicationStateError::ApiError)
        : m_kind(kind), m_error(reason)
    {
    }

    Kind m_kind = Kind::idle;
    ApplicationStateError m_error = ApplicationStateError::ApiError;
};

inline QDebug operator<<(QDebug debug, ApplicationStateError error)
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

inline QDebug operator<<(QDebug debug, const ApplicationState &state)
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

Q_DECLARE_METATYPE(ApplicationState)
