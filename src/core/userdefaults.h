#pragma once

#include "datastoring.h"

#include <QSettings>

// The user's preferences in ~/.config/<organisation>/<application>.conf.
class UserDefaults : public DataStoring
{
public:
    UserDefaults();
    // A store in the given file; for tests and tools.
    explicit UserDefaults(const QString &fileName);

    std::optional<QString> string(const QString &key) const override;
    void setValue(const std::optional<QString> &value, const QString &key) override;

private:
    mutable QSettings m_settings;
};
