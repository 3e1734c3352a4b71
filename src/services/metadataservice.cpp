#include "metadataservice.h"

#include <resolver.h>

MetadataService::MetadataService() : MetadataService(Resolver::main().resolve<corvane::HTTPServing>()) {}

MetadataService::MetadataService(std::shared_ptr<corvane::HTTPServing> http) : httpService(std::move(http)) {}

QCoro::Task<Metadata> MetadataService::fetchMetadata()
{
    return httpService->request<Metadata>(false, Config::info());
}
