#include "userservice.h"

#include <resolver.h>

UserService::UserService() : UserService(Resolver::main().resolve<corvane::HTTPServing>()) {}

UserService::UserService(std::shared_ptr<corvane::HTTPServing> http) : httpService(std::move(http)) {}

QCoro::Task<User> UserService::fetchProfile()
{
    return httpService->request<User>(true, Config::profile());
}
