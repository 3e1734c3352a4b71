#pragma once

#include "analyticscollecting.h"
#include "googleauthhandling.h"

#include <googlesignin.h>

#include <memory>
#include <stdexcept>

// Google finished without an error but without a profile or an ID token.
class IncompleteGoogleUserError : public std::runtime_error
{
public:
    IncompleteGoogleUserError();
};

class GoogleAuthHandler : public GoogleAuthHandling
{
public:
    GoogleAuthHandler(); // resolves both fields from the container
    GoogleAuthHandler(std::shared_ptr<GoogleSignIn> handler, std::shared_ptr<AnalyticsCollecting> analyticsCollector);

    // Throws the library's GoogleSignInError, or IncompleteGoogleUserError.
    QCoro::Task<OauthProviderUser> signIn(QWindow *presenting, QString hint) override;
    void signOut() override;

    const std::shared_ptr<GoogleSignIn> handler;
    const std::shared_ptr<AnalyticsCollecting> analyticsCollector;
};
