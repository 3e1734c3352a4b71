#pragma once

#include "records.h"

#include <QCoro/QCoroTask>
#include <QString>

class QWindow;

// The interactive Google sign-in. It yields the user to hand to the backend;
// it does not talk to the backend itself.
class GoogleAuthHandling
{
public:
    virtual ~GoogleAuthHandling() = default;

    // Presents the sign-in for the given window; the hint pre-fills the account.
    virtual QCoro::Task<OauthProviderUser> signIn(QWindow *presenting, QString hint) = 0;
    // Forgets the local Google session.
    virtual void signOut() = 0;
};
