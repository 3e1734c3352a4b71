#pragma once

#include "records.h"

#include <QCoro/QCoroTask>

// The versions the backend supports; an unauthenticated request.
class MetadataServing
{
public:
    virtual ~MetadataServing() = default;
    virtual QCoro::Task<Metadata> fetchMetadata() = 0;
};
