#pragma once

#include <resolver.h>

#include <QString>

#include <optional>

class AccessibilityHandling;
class ClipboardAccess;
class KeyboardEventSimulating;

class TextExtraction
{
public:
    virtual ~TextExtraction() = default;

    // The text to send for the application in front, or none when there is nothing.
    virtual std::optional<QString> extractSelectedText() = 0;
    // Writes the answer in place of what was captured, then forgets the capture.
    virtual void replaceSelectedText(const QString &text) = 0;
};

// Reads the selection of the application in front and writes answers back:
// in other applications by synthetic copy and paste through the clipboard,
// in this program through its focused text input.
class TextExtractor : public TextExtraction
{
public:
    TextExtractor();

    std::optional<QString> extractSelectedText() override;
    void replaceSelectedText(const QString &text) override;

    // Forgets the capture and empties the clipboard.
    void resetCapture();

    // True when this program's own window is in front.
    static bool ownApplicationIsInFront();

    LazyInjected<ClipboardAccess> clipboardAccessor;
    Injected<KeyboardEventSimulating> keyboardEventSimulator;
    Injected<AccessibilityHandling> accessibilityHandler;
    // What is sent: the selection, the copied span, or the last sentence.
    std::optional<QString> currentInput;
    // What was captured: the selection, the copied span, or the whole value.
    std::optional<QString> currentSelection;

private:
    std::optional<QString> extractFromOtherApplication();
    std::optional<QString> extractFromOwnInput();
    void paste(const QString &text);
};
