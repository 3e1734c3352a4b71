#pragma once

#include "records.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

// The text transformations of the backend. Every operation is one
// authenticated request; errors of the HTTP client reach the caller unchanged.
class ContentServing
{
public:
    virtual ~ContentServing() = default;

    virtual QCoro::Task<ContentResponseDTO> fix(QString input) = 0;
    virtual QCoro::Task<ContentResponseDTO> rephrase(QString input, std::optional<QString> customPrompt) = 0;
    virtual QCoro::Task<ContentResponseDTO> translate(QString input, QString targetLanguage) = 0;
};
