#pragma once

#include "records.h"

#include <QCoro/QCoroTask>
#include <QString>

// Opens and closes the signed-in session with the backend. The signed-in
// flag itself lives in the token store.
class UserAuthentication
{
public:
    virtual ~UserAuthentication() = default;

    // Exchanges a provider's identity for tokens and stores them.
    virtual QCoro::Task<corvane::AuthenticationResponse> login(OauthProviderUser user) = 0;
    // Asks the backend to mail a one-time password.
    virtual QCoro::Task<void> requestOTP(QString email) = 0;
    // Exchanges the one-time password for tokens and stores them.
    virtual QCoro::Task<corvane::AuthenticationResponse> verifyOTP(QString email, QString otp) = 0;
    // Signs out at the backend; the local session ends whatever the answer.
    virtual QCoro::Task<void> logout() = 0;
};
