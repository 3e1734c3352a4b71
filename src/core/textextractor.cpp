#include "textextractor.h"

#include "accessibilityhandler.h"
#include "clipboardaccessor.h"
#include "keyboardeventsimulator.h"
#include "textsegments.h"

#include <platform.h>

#include <QGuiApplication>
#include <QInputMethodQueryEvent>

TextExtractor::TextExtractor() = default;

bool TextExtractor::ownApplicationIsInFront()
{
    return platform::frontmostApplicationIdentifier() == platform::ownApplicationIdentifier();
}

quint32 TextExtractor::otherApplicationWindowInFront() const
{
    return ownApplicationIsInFront() ? 0 : platform::activeWindow();
}

std::optional<QString> TextExtractor::extractSelectedText()
{
    // What the user had copied comes back once the copy has been read.
    clipboardAccessor->save();
    // An empty clipboard first, so a stale one is never taken for a copy.
    resetCapture();
    std::optional<QString> text;
    if (ownApplicationIsInFront()) {
        m_source = Source{true, QGuiApplication::focusObject(), 0, platform::TextTransfer::Clipboard};
        text = extractFromOwnInput();
    } else {
        const quint32 window = platform::activeWindow();
        m_source = Source{false, nullptr, window,
                          platform::textTransferFor(window ? platform::applicationIdentifier(window) : std::nullopt)};
        text = extractFromOtherApplication();
    }
    clipboardAccessor->restore();
    return text;
}

bool TextExtractor::sourceIsInFront() const
{
    if (!m_source)
        return false;
    if (m_source->ownField)
        return ownApplicationIsInFront() && m_source->field && QGuiApplication::focusObject() == m_source->field;
    return !ownApplicationIsInFront() && platform::activeWindow() == m_source->window;
}

std::optional<QString> TextExtractor::extractFromOtherApplication()
{
    std::optional<QString> copied;
    switch (m_source->transfer) {
    case platform::TextTransfer::PrimarySelection:
        // What the terminal shows selected is its PRIMARY selection; one
        // owned by another window is someone else's old selection.
        if (platform::primarySelectionOwnedBy(m_source->window))
            copied = clipboardAccessor->readPrimaryString();
        break;
    case platform::TextTransfer::TerminalClipboard:
        keyboardEventSimulator->simulateTerminalCopy();
        copied = clipboardAccessor->readString();
        break;
    case platform::TextTransfer::Clipboard:
        keyboardEventSimulator->simulateCopy();
        copied = clipboardAccessor->readString();
        break;
    }
    if (copied && !copied->isEmpty()) {
        currentSelection = copied;
        currentInput = copied;
        return currentInput;
    }
    // In a terminal nothing extends a selection: the keys would reach the
    // shell or the running command.
    if (m_source->transfer != platform::TextTransfer::Clipboard)
        return std::nullopt;

    // Nothing selected: take the paragraph up to the caret.
    keyboardEventSimulator->simulateSelectParagraphBackward();
    keyboardEventSimulator->simulateCopy();
    if (auto again = clipboardAccessor->readString();
        again && !again->isEmpty() && !splitIntoSentences(*again).isEmpty()) {
        currentSelection = again;
        currentInput = again;
    }
    return currentInput;
}

std::optional<QString> TextExtractor::extractFromOwnInput()
{
    // A field that asks the input method to keep its text to itself (the
    // sign-in form's) is never sent anywhere.
    if (QObject *focus = QGuiApplication::focusObject()) {
        QInputMethodQueryEvent query(Qt::ImHints);
        QCoreApplication::sendEvent(focus, &query);
        if (query.value(Qt::ImHints).toInt() & Qt::ImhSensitiveData)
            return std::nullopt;
    }
    const auto element = accessibilityHandler->focusedElement();
    const auto selected = element && element->value() ? element->selectedText() : std::nullopt;
    if (selected && !selected->isEmpty()) {
        currentSelection = selected;
        currentInput = selected;
    } else {
        currentSelection = element ? element->value() : std::nullopt;
        keyboardEventSimulator->simulateSelectParagraphBackward();
        if (currentSelection && !currentSelection->isEmpty()) {
            const QStringList sentences = splitIntoSentences(*currentSelection);
            if (!sentences.isEmpty())
                currentInput = sentences.last();
        }
    }
    if (currentInput)
        accessibilityHandler->updateActiveInputRange(*currentInput);
    return currentInput;
}

bool TextExtractor::replaceSelectedText(const QString &text)
{
    // The user moved on while the answer was on its way: writing it into
    // whatever is in front now would put it where it does not belong.
    if (!sourceIsInFront()) {
        forgetCapture();
        return false;
    }
    if (m_source->ownField) {
        accessibilityHandler->replaceSelectedText(text);
    } else if (!currentInput && !currentSelection) {
        paste(text);
    } else if (currentInput && currentSelection) {
        if (*currentInput == *currentSelection) {
            paste(text);
        } else if (const auto at = TextSegments::firstOccurrence(*currentSelection, *currentInput)) {
            QString replaced = *currentSelection;
            replaced.replace(*at, currentInput->size(), text);
            paste(replaced);
        }
    }
    // Only one of the two captured: nothing sensible to paste.
    forgetCapture();
    return true;
}

void TextExtractor::forgetCapture()
{
    currentInput.reset();
    currentSelection.reset();
    m_source.reset();
}

void TextExtractor::paste(const QString &pasted)
{
    QString text = pasted;
    if (m_source->transfer != platform::TextTransfer::Clipboard) {
        // A terminal pastes into the running command's input, or queues it
        // for the shell: a trailing line break there would run it.
        while (text.endsWith(u'\n') || text.endsWith(u'\r'))
            text.chop(1);
    }
    if (m_source->transfer == platform::TextTransfer::PrimarySelection) {
        // The terminal pastes PRIMARY on Shift+Insert; we keep owning it, so
        // the clipboard is not touched at all.
        clipboardAccessor->writePrimaryString(text);
        keyboardEventSimulator->simulatePasteSelection();
        return;
    }
    clipboardAccessor->save();
    clipboardAccessor->writeString(text);
    if (m_source->transfer == platform::TextTransfer::TerminalClipboard)
        keyboardEventSimulator->simulateTerminalPaste();
    else
        keyboardEventSimulator->simulatePaste();
    // Waits until the application has taken the answer.
    clipboardAccessor->restore();
}

void TextExtractor::resetCapture()
{
    currentInput.reset();
    currentSelection.reset();
    clipboardAccessor->clear();
}
