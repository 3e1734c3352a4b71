#include "textsegments.h"

#include <QTextBoundaryFinder>

namespace {

// Calls visit(start, length) for each character of text, in order.
template<class F>
void forEachCharacter(const QString &text, F visit)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (start < text.size()) {
        finder.setPosition(start);
        qsizetype end = finder.toNextBoundary();
        if (end <= start)
            end = text.size();
        if (!visit(start, end - start))
            return;
        start = end;
    }
}

bool isBoundary(const QString &text, qsizetype offset)
{
    if (offset <= 0 || offset >= text.size())
        return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(offset);
    return finder.isAtBoundary();
}

// White space by the first code point of a character, line breaks included.
bool isWhiteSpace(QStringView character)
{
    if (character.isEmpty())
        return false;
    const char32_t first = character.toUcs4().value(0);
    return QChar::isSpace(first);
}

} // namespace

namespace TextSegments {

qsizetype characterCount(const QString &text)
{
    qsizetype count = 0;
    forEachCharacter(text, [&count](qsizetype, qsizetype) {
        ++count;
        return true;
    });
    return count;
}

std::optional<qsizetype> offsetOfCharacter(const QString &text, qsizetype count)
{
    if (count < 0)
        return std::nullopt;
    if (count == 0)
        return 0;
    qsizetype seen = 0;
    std::optional<qsizetype> offset;
    forEachCharacter(text, [&](qsizetype start, qsizetype length) {
        if (++seen == count) {
            offset = start + length;
            return false;
        }
        return true;
    });
    return offset;
}

std::optional<qsizetype> firstOccurrence(const QString &haystack, const QString &needle)
{
    if (needle.isEmpty())
        return std::nullopt;
    for (qsizetype from = 0;;) {
        const qsizetype at = haystack.indexOf(needle, from, Qt::CaseSensitive);
        if (at < 0)
            return std::nullopt;
        if (isBoundary(haystack, at) && isBoundary(haystack, at + needle.size()))
            return at;
        from = at + 1;
    }
}

} // namespace TextSegments

QStringList splitIntoSentences(const QString &text)
{
    static const QString bullet(QChar(0x2022));
    QStringList result;
    QString pending;
    auto flush = [&] {
        result << pending.trimmed();
        pending.clear();
    };

    // Characters with their spans, so that "the next character" is known.
    std::vector<QStringView> characters;
    forEachCharacter(text, [&](qsizetype start, qsizetype length) {
        characters.push_back(QStringView(text).mid(start, length));
        return true;
    });

    for (std::size_t i = 0; i < characters.size(); ++i) {
        const QStringView c = characters[i];
        if (c == bullet) {
            pending.clear();
        } else if (c == u"\n") {
            if (!pending.isEmpty())
                pending += QLatin1Char(' ');
        } else {
            pending += c;
            const bool last = i + 1 == characters.size();
            if (c == u"\t") {
                flush();
            } else if ((c == u"." || c == u"!" || c == u"?") && (last || isWhiteSpace(characters[i + 1]))) {
                flush();
            }
        }
    }
    if (!pending.isEmpty())
        flush();
    return result;
}
