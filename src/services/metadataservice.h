#pragma once

#include "backend.h"
#include "metadataserving.h"

#include <functional>
#include <memory>

class MetadataService : public MetadataServing
{
public:
    class Config : public backend::Endpoint
    {
    public:
        enum class Case { info };
        static Config info() { return Config(); }

        Case kind() const { return Case::info; }
        QString path() const override { return QStringLiteral("metadata/info"); }
        corvane::HTTPMethod method() const override { return corvane::HTTPMethod::GET; }
        corvane::Parameters parameters() const override { return corvane::Parameters::object(); }
        std::optional<corvane::Headers> headers() const override { return corvane::Headers{}; }

        friend bool operator==(const Config &a, const Config &b) { return a.kind() == b.kind(); }
    };

    MetadataService(); // resolves the HTTP service from the container
    explicit MetadataService(std::shared_ptr<corvane::HTTPServing> http);

    QCoro::Task<Metadata> fetchMetadata() override;

    const std::shared_ptr<corvane::HTTPServing> httpService;
};

template<>
struct std::hash<MetadataService::Config>
{
    size_t operator()(const MetadataService::Config &c) const noexcept { return size_t(c.kind()); }
};
