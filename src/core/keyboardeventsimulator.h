#pragma once

#include <Qt>

#include <chrono>

class KeyboardEventSimulating
{
public:
    virtual ~KeyboardEventSimulating() = default;

    virtual void simulateCopy() = 0;
    virtual void simulatePaste() = 0;
    // Extends the selection from the caret to the start of its paragraph.
    virtual void simulateSelectParagraphBackward() = 0;
    // Terminals: Ctrl+C there interrupts the running command.
    virtual void simulateTerminalCopy() = 0;
    virtual void simulateTerminalPaste() = 0;
    // Pastes the PRIMARY selection (terminals without a clipboard chord).
    virtual void simulatePasteSelection() = 0;
};

// Synthetic keystrokes to the application in front. Each one is followed by
// a pause so the application has handled it before we read the clipboard or
// send the next one; the pause runs the event loop, because while we own the
// clipboard we have to answer the application that pastes from it.
class KeyboardEventSimulator : public KeyboardEventSimulating
{
public:
    static constexpr std::chrono::milliseconds kSettleTime{200};

    void simulateCopy() override;
    void simulatePaste() override;
    void simulateSelectParagraphBackward() override;
    void simulateTerminalCopy() override;
    void simulateTerminalPaste() override;
    void simulatePasteSelection() override;

    // Control plus the key (the desktop's copy and paste modifier), then the pause.
    void postCommandKeyPress(Qt::Key key);

    // The pause after a keystroke.
    static void settle();
};
