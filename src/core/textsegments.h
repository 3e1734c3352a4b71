#pragma once

// Text measured in user-perceived characters (grapheme clusters), as the
// user sees it, rather than in UTF-16 code units.

#include <QString>
#include <QStringList>

#include <optional>

namespace TextSegments {

// Number of user-perceived characters in text.
qsizetype characterCount(const QString &text);

// UTF-16 offset of the position count characters from the start; none when
// text has fewer characters.
std::optional<qsizetype> offsetOfCharacter(const QString &text, qsizetype count);

// UTF-16 offset of the first case-sensitive occurrence of needle in haystack
// that starts and ends on character boundaries (so "e" is not found inside
// an "e" with a combining accent); none when there is none.
std::optional<qsizetype> firstOccurrence(const QString &haystack, const QString &needle);

} // namespace TextSegments

// Splits text into sentence-like segments: ".", "!" or "?" followed by white
// space (or the end) ends one, a tab ends one, a line feed joins lines with a
// space, and a bullet drops what came before it. Segments are trimmed and may
// be empty.
QStringList splitIntoSentences(const QString &text);
