#pragma once

#include <QString>

#include <optional>

// The preference store. Callers store strings only.
class DataStoring
{
public:
    virtual ~DataStoring() = default;

    // The value under the key read as a string; none when the key is missing
    // or holds something that is not a string or a number.
    virtual std::optional<QString> string(const QString &key) const = 0;
    // Stores the value under the key; no value removes the key.
    virtual void setValue(const std::optional<QString> &value, const QString &key) = 0;
};
