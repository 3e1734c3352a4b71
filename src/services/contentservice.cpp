#include "contentservice.h"

#include <resolver.h>

ContentService::Config::Config(Case c, QString input, QString prompt)
    : m_case(c), m_input(std::move(input)), m_prompt(std::move(prompt))
{
}

ContentService::Config ContentService::Config::fix(QString input)
{
    return Config(Case::fix, std::move(input), {});
}

ContentService::Config ContentService::Config::rephrase(QString input, std::optional<QString> customPrompt)
{
    return Config(Case::rephrase, std::move(input), customPrompt.value_or(QString()));
}

ContentService::Config ContentService::Config::translate(QString input, QString targetLanguage)
{
    return Config(Case::translate, std::move(input), std::move(targetLanguage));
}

QString ContentService::Config::path() const
{
    switch (m_case) {
    case Case::fix:
        return QStringLiteral("content/fix");
    case Case::rephrase:
        return QStringLiteral("content/rephrase");
    case Case::translate:
        return QStringLiteral("content/translate");
    }
    Q_UNREACHABLE();
    return {};
}

corvane::Parameters ContentService::Config::parameters() const
{
    corvane::Parameters body = {{"input", m_input.toStdString()}};
    if (m_case != Case::fix)
        body["customPrompt"] = m_prompt.toStdString();
    return body;
}

ContentService::ContentService() : ContentService(Resolver::main().resolve<corvane::HTTPServing>()) {}

ContentService::ContentService(std::shared_ptr<corvane::HTTPServing> http) : httpService(std::move(http)) {}

QCoro::Task<ContentResponseDTO> ContentService::fix(QString input)
{
    return httpService->request<ContentResponseDTO>(true, Config::fix(std::move(input)));
}

QCoro::Task<ContentResponseDTO> ContentService::rephrase(QString input, std::optional<QString> customPrompt)
{
    return httpService->request<ContentResponseDTO>(true, Config::rephrase(std::move(input), std::move(customPrompt)));
}

QCoro::Task<ContentResponseDTO> ContentService::translate(QString input, QString targetLanguage)
{
    return httpService->request<ContentResponseDTO>(true, Config::translate(std::move(input), std::move(targetLanguage)));
}
