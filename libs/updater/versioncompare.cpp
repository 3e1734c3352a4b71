#include "versioncompare.h"

#include <QStringList>

namespace {

QStringList splitRuns(const QString &version)
{
    QStringList runs;
    QString current;
    bool currentIsDigit = false;
    for (const QChar c : version) {
        const bool digit = c.isDigit();
        if (!current.isEmpty() && digit != currentIsDigit) {
            runs.append(current);
            current.clear();
        }
        current.append(c);
        currentIsDigit = digit;
    }
    if (!current.isEmpty())
        runs.append(current);
    return runs;
}

bool isDigitRun(const QString &run)
{
    return !run.isEmpty() && run.front().isDigit();
}

// Numbers of any length: strip leading zeros, then longer is larger.
int compareNumbers(QString a, QString b)
{
    while (a.size() > 1 && a.front() == QLatin1Char('0'))
        a.remove(0, 1);
    while (b.size() > 1 && b.front() == QLatin1Char('0'))
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// Letters after a release mark a pre-release ("1.0b" is older than "1.0").
bool isLetterRun(const QString &run)
{
    return !run.isEmpty() && run.front().isLetter();
}

} // namespace

int compareVersions(const QString &a, const QString &b)
{
    const QStringList left = splitRuns(a);
    const QStringList right = splitRuns(b);
    const qsizetype count = qMax(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        if (i >= left.size())
            return isLetterRun(right.at(i)) ? 1 : -1;
        if (i >= right.size())
            return isLetterRun(left.at(i)) ? -1 : 1;
        const QString &l = left.at(i);
        const QString &r = right.at(i);
        int result = 0;
        if (isDigitRun(l) && isDigitRun(r))
            result = compareNumbers(l, r);
        else if (isDigitRun(l) != isDigitRun(r))
            result = isDigitRun(l) ? 1 : -1; // "1.0.1" is newer than "1.0b"
        else if (isLetterRun(l) != isLetterRun(r))
            result = isLetterRun(l) ? -1 : 1; // "1.0.1" is newer than "1.0b"
        else
            result = l.compare(r);
        if (result != 0)
            return result < 0 ? -1 : 1;
    }
    return 0;
}
