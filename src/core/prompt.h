#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

// One requested text action.
class Prompt
{
public:
    enum class Kind {
        rephrase,
        translate,
        typoFix,
    };

    static Prompt rephrase(std::optional<QString> customPrompt = std::nullopt)
    {
        return Prompt(Kind::rephrase, std::move(customPrompt));
    }
    static Prompt translate(const QString &language) { return Prompt(Kind::translate, language); }
    static Prompt typoFix() { return Prompt(Kind::typoFix, std::nullopt); }

    Prompt() = default;

    Kind kind() const { return m_kind; }
    // The free-form instruction of a rephrase; absent when it came from the shortcut.
    const std::optional<QString> &customPrompt() const { return m_payload; }
    // The target language of a translation, as the user typed it.
    QString language() const { return m_kind == Kind::translate ? m_payload.value_or(QString()) : QString(); }

    friend bool operator==(const Prompt &a, const Prompt &b)
    {
        return a.m_kind == b.m_kind && a.m_payload == b.m_payload;
    }

private:
    Prompt(Kind kind, std::optional<QString> payload) : m_kind(kind), m_payload(std::move(payload)) {}

    Kind m_kind = Kind::typoFix;
    std::optional<QString> m_payload;
};

// Which global shortcut fired.
enum class TriggeredKeyboardShortcut {
    typoFix,
    rephrase,
    floatingMenu,
};

Q_DECLARE_METATYPE(Prompt)
