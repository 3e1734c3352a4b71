#pragma once

#include <QString>

#include <memory>
#include <optional>

// A range of user-perceived characters.
struct CharacterRange
{
    qsizetype location = 0;
    qsizetype length = 0;
    friend bool operator==(const CharacterRange &, const CharacterRange &) = default;
};

// The text element of this program that has the keyboard focus.
class AccessibilityElement
{
public:
    virtual ~AccessibilityElement() = default;

    // The element's whole text.
    virtual std::optional<QString> value() const = 0;
    virtual std::optional<QString> selectedText() const = 0;
    virtual void setSelectedTextRange(const CharacterRange &range) = 0;
    virtual void setValue(const QString &value) = 0;
};

class AccessibilityHandling
{
public:
    virtual ~AccessibilityHandling() = default;

    // This program's focused text element, or none.
    virtual std::shared_ptr<AccessibilityElement> focusedElement() = 0;
    // Checks that this session lets us reach other applications and tells
    // the user once when it does not.
    virtual void requestAccessibilityPermission() = 0;
    // Records where text sits in the focused element's value.
    virtual void updateActiveInputRange(const QString &text) = 0;
    // Replaces the recorded range of the focused element's value.
    virtual void replaceSelectedText(const QString &text) = 0;
};

class AccessibilityHandler : public AccessibilityHandling
{
public:
    std::shared_ptr<AccessibilityElement> focusedElement() override;
    void requestAccessibilityPermission() override;
    void updateActiveInputRange(const QString &text) override;
    void replaceSelectedText(const QString &text) override;

    // Where the captured text sits, in characters of the focused value.
    std::optional<CharacterRange> activeInputRange;
};
