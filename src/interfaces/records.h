#pragma once

// The records that travel as JSON between the program and the backend.
// Keys equal the field names; every field is required when decoding.

#include <corvane.h>

#include <nlohmann/json.hpp>

#include <string>

// The transformed text of a content request.
struct ContentResponseDTO
{
    std::string output;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ContentResponseDTO, output)

// An identity provider's user, as sent to the backend for a sign-in.
struct OauthProviderUser
{
    std::string name;
    std::string idToken;
    std::string email;
    corvane::LoginMethod provider = corvane::LoginMethod::google;

    friend bool operator==(const OauthProviderUser &, const OauthProviderUser &) = default;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(OauthProviderUser, name, idToken, email, provider)

// The signed-in account.
struct User
{
    corvane::LoginMethod provider = corvane::LoginMethod::email;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(User, provider)

// The versions the backend supports and publishes.
struct Metadata
{
    std::string minVersion;
    std::string latestVersion;
};

inline void from_json(const nlohmann::json &j, Metadata &m)
{
    j.at("minVersion").get_to(m.minVersion);
    j.at("latestVersion").get_to(m.latestVersion);
}
