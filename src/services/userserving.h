#pragma once

#include "records.h"

#include <QCoro/QCoroTask>

// The signed-in account; an authenticated request.
class UserServing
{
public:
    virtual ~UserServing() = default;
    virtual QCoro::Task<User> fetchProfile() = 0;
};
