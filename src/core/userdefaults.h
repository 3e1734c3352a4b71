#pragma once

#include "datastoring.h"

#include <QSettings>

// The user's preferences in ~/.config/<organisation>/<application>.conf.
// Counters that change with every text action live in a small file of their
// own beside it (<application>-counters.conf): writing one into the
// preferences would rewrite the whole file each time.
class UserDefaults : public DataStoring
{
public:
    UserDefaults();
    // A store in the given file; for tests and tools.
    explicit UserDefaults(const QString &fileName);

    std::optional<QString> string(const QString &key) const override;
    void setValue(const std::optional<QString> &value, const QString &key) override;

    // The keys kept in the counters file.
    static bool isCounter(const QString &key);

private:
    QSettings &settingsFor(const QString &key) const;

    mutable QSettings m_settings;
    mutable QSettings m_counters;
};
