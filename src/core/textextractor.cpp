#include "textextractor.h"

#include "accessibilityhandler.h"
#include "clipboardaccessor.h"
#include "keyboardeventsimulator.h"
#include "textsegments.h"

#include <platform.h>

#include <QGuiApplication>

TextExtractor::TextExtractor() = default;

bool TextExtractor::ownApplicationIsInFront()
{
    return platform::frontmostApplicationIdentifier() == platform::ownApplicationIdentifier();
}

std::optional<QString> TextExtractor::extractSelectedText()
{
    // An empty clipboard first, so a stale one is never taken for a copy.
    resetCapture();
    if (ownApplicationIsInFront()) {
        m_source = Source{true, QGuiApplication::focusObject(), 0};
        return extractFromOwnInput();
    }
    m_source = Source{false, nullptr, platform::activeWindow()};
    return extractFromOtherApplication();
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
    resetCapture();
    m_source.reset();
    return true;
}

void TextExtractor::forgetCapture()
{
    currentInput.reset();
    currentSelection.reset();
    m_source.reset();
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
