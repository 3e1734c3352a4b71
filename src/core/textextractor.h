#pragma once

#include <resolver.h>

#include <QPointer>
#include <QString>

#include <optional>

namespace platform {
enum class TextTransfer;
}

class AccessibilityHandling;
class ClipboardAccess;
class KeyboardEventSimulating;

class TextExtraction
{
public:
    virtual ~TextExtraction() = default;

    // The text to send for the application in front, or none when there is nothing.
    virtual std::optional<QString> extractSelectedText() = 0;
    // Writes the answer in place of what was captured, then forgets the
    // capture. Writes nothing, and answers false, when the window or field
    // the text was taken from is no longer in front.
    virtual bool replaceSelectedText(const QString &text) = 0;
    // Forgets the capture when no answer will be written back.
    virtual void forgetCapture() = 0;
    // Another application's window in front; 0 when ours is in front, or none.
    virtual quint32 otherApplicationWindowInFront() const { return 0; }
};

// Reads the selection of the application in front and writes answers back:
// in other applications by synthetic copy and paste through the clipboard,
// in this program through its focused text input.
class TextExtractor : public TextExtraction
{
public:
    TextExtractor();

    std::optional<QString> extractSelectedText() override;
    bool replaceSelectedText(const QString &text) override;
    void forgetCapture() override;
    quint32 otherApplicationWindowInFront() const override;

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
    // Where the text was taken from; the answer goes there or nowhere.
    struct Source
    {
        bool ownField = false;
        QPointer<QObject> field; // ours: the focused input
        quint32 window = 0;      // another application's: its active window
        platform::TextTransfer transfer{}; // ours: the plain clipboard
    };
    bool sourceIsInFront() const;

    std::optional<QString> extractFromOtherApplication();
    std::optional<QString> extractFromOwnInput();
    void paste(const QString &text);

    std::optional<Source> m_source;
};
