#pragma once

#include "backend.h"
#include "userserving.h"

#include <functional>
#include <memory>

class UserService : public UserServing
{
public:
    class Config : public backend::Endpoint
    {
    public:
        enum class Case { profile };
        static Config profile() { return Config(); }

        Case kind() const { return Case::profile; }
        QString path() const override { return QStringLiteral("user/profile"); }
        corvane::HTTPMethod method() const override { return corvane::HTTPMethod::GET; }
        corvane::Parameters parameters() const override { return corvane::Parameters::object(); }
        std::optional<corvane::Headers> headers() const override { return corvane::Headers{}; }

        friend bool operator==(const Config &a, const Config &b) { return a.kind() == b.kind(); }
    };

    UserService(); // resolves the HTTP service from the container
    explicit UserService(std::shared_ptr<corvane::HTTPServing> http);

    QCoro::Task<User> fetchProfile() override;

    const std::shared_ptr<corvane::HTTPServing> httpService;
};

template<>
struct std::hash<UserService::Config>
{
    size_t operator()(const UserService::Config &c) const noexcept { return size_t(c.kind()); }
};
