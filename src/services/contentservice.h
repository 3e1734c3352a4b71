#pragma once

#include "backend.h"
#include "contentserving.h"

#include <memory>

class ContentService : public ContentServing
{
public:
    class Config : public backend::Endpoint
    {
    public:
        enum class Case { fix, rephrase, translate };

        static Config fix(QString input);
        // No instruction is sent as "".
        static Config rephrase(QString input, std::optional<QString> customPrompt);
        // The language goes under "customPrompt"; there is no language key.
        static Config translate(QString input, QString targetLanguage);

        Case kind() const { return m_case; }
        QString path() const override;
        corvane::HTTPMethod method() const override { return corvane::HTTPMethod::POST; }
        corvane::Parameters parameters() const override;
        std::optional<corvane::Headers> headers() const override { return corvane::Headers{}; }

    private:
        Config(Case c, QString input, QString prompt);
        Case m_case;
        QString m_input;
        QString m_prompt;
    };

    ContentService(); // resolves the HTTP service from the container
    explicit ContentService(std::shared_ptr<corvane::HTTPServing> http);

    QCoro::Task<ContentResponseDTO> fix(QString input) override;
    QCoro::Task<ContentResponseDTO> rephrase(QString input, std::optional<QString> customPrompt) override;
    QCoro::Task<ContentResponseDTO> translate(QString input, QString targetLanguage) override;

    const std::shared_ptr<corvane::HTTPServing> httpService;
};
