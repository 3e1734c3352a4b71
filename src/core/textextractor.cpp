#include "textextractor.h"

#include "accessibilityhandler.h"
#include "clipboardaccessor.h"
#include "keyboardeventsimulator.h"
#include "textsegments.h"

#include <platform.h>

TextExtractor::TextExtractor() = default;

bool TextExtractor::ownApplicationIsInFront()
{
    return platform::frontmostApplicationIdentifier() == platform::ownApplicationIdentifier();
}

std::optional<QString> TextExtractor::extractSelectedText()
{
    // An empty clipboard first, so a stale one is never taken for a copy.
    resetCapture();
    return ownApplicationIsInFront() ? extractFromOwnInput() : extractFromOtherApplication();
}

std::optional<QString> TextExtractor::extractFromOtherApplication()
{
    keyboardEventSimulator->simulateCopy();
    if (auto copied = clipboardAccessor->readString(); copied && !copied->isEmpty()) {
        currentSelection = copied;
        currentInput = copied;
        return currentInput;
    }

    // Nothing selected: take the paragraph up to the caret.
    keyboardEventSimulator->simulateSelectParagraphBackward();
    keyboardEventSimulator->simulateCopy();
    if (auto copied = clipboardAccessor->readString();
        copied && !copied->isEmpty() && !splitIntoSentences(*copied).isEmpty()) {
        currentSelection = copied;
        currentInput = copied;
    }
    return currentInput;
}

std::optional<QString> TextExtractor::extractFromOwnInput()
{
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

void TextExtractor::replaceSelectedText(const QString &text)
{
    if (ownApplicationIsInFront()) {
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
    resetCapture();
}

void TextExtractor::paste(const QString &text)
{
    clipboardAccessor->writeString(text);
    keyboardEventSimulator->simulatePaste();
}

void TextExtractor::resetCapture()
{
    currentInput.reset();
    currentSelection.reset();
    clipboardAccessor->clear();
}
