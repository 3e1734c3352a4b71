#include <textsegments.h>

#include <QTest>

class TestTextSegments : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitIntoSentences_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("segments");
        QTest::newRow("terminators with and without space") << QStringLiteral("Hello.World? Yes! No")
            << QStringList{QStringLiteral("Hello.World?"), QStringLiteral("Yes!"), QStringLiteral("No")};
        QTest::newRow("line feed joins") << QStringLiteral("Line one\nline two.")
                                         << QStringList{QStringLiteral("Line one line two.")};
        QTest::newRow("bullets drop what came before")
            << QStringLiteral("\u2022 first \u2022 second") << QStringList{QStringLiteral("second")};
        QTest::newRow("trailing space leaves an empty segment")
            << QStringLiteral("Done. ") << QStringList{QStringLiteral("Done."), QString()};
        QTest::newRow("empty") << QString() << QStringList{};
        QTest::newRow("double terminator only ends at the second")
            << QStringLiteral("Wait.. what") << QStringList{QStringLiteral("Wait.."), QStringLiteral("what")};
        QTest::newRow("terminator before a line feed")
            << QStringLiteral("One.\nTwo") << QStringList{QStringLiteral("One."), QStringLiteral("Two")};
        QTest::newRow("leading line feed adds nothing") << QStringLiteral("\nword") << QStringList{QStringLiteral("word")};
        // Characters, not code units: an emoji with a skin tone and a flag stay whole.
        QTest::newRow("emoji") << QStringLiteral("Hi \U0001F44B\U0001F3FD. Bye \U0001F1E9\U0001F1EA!")
                               << QStringList{QStringLiteral("Hi \U0001F44B\U0001F3FD."),
                                              QStringLiteral("Bye \U0001F1E9\U0001F1EA!")};
        // A dot carrying a combining mark is a different character, not a terminator.
        QTest::newRow("combining mark on a terminator")
            << QStringLiteral("a.\u0301 b") << QStringList{QStringLiteral("a.\u0301 b")};
        QTest::newRow("right to left") << QStringLiteral("\u05e9\u05dc\u05d5\u05dd. \u05e2\u05d5\u05dc\u05dd")
                                       << QStringList{QStringLiteral("\u05e9\u05dc\u05d5\u05dd."),
                                                      QStringLiteral("\u05e2\u05d5\u05dc\u05dd")};
    }

    void splitIntoSentences()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, segments);
        QCOMPARE(::splitIntoSentences(text), segments);
    }

    void characterCounting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("count");
        QTest::newRow("combining accent") << QStringLiteral("wo\u0308rld") << qsizetype(5);
        QTest::newRow("family emoji") << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467") << qsizetype(1);
        QTest::newRow("flag") << QStringLiteral("\U0001F1E9\U0001F1EA") << qsizetype(1);
        QTest::newRow("crlf is one character") << QStringLiteral("a\r\nb") << qsizetype(3);
    }

    void characterCounting()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, count);
        QCOMPARE(TextSegments::characterCount(text), count);
        QCOMPARE(TextSegments::offsetOfCharacter(text, count), std::optional<qsizetype>(text.size()));
        QCOMPARE(TextSegments::offsetOfCharacter(text, count + 1), std::nullopt);
    }

    void firstOccurrenceRespectsCharacterBoundaries()
    {
        // Counted in characters, "Bye." is at 13 either way.
        for (const QString &value : {QStringLiteral("Hello w\u00f6rld. Bye."), QStringLiteral("Hello wo\u0308rld. Bye.")}) {
            const auto at = TextSegments::firstOccurrence(value, QStringLiteral("Bye."));
            QVERIFY(at);
            QCOMPARE(TextSegments::characterCount(value.left(*at)), qsizetype(13));
        }
        // "o" is not found inside "o" + combining diaeresis, but after it.
        QCOMPARE(TextSegments::firstOccurrence(QStringLiteral("o\u0308 o"), QStringLiteral("o")),
                 std::optional<qsizetype>(3));
        QCOMPARE(TextSegments::firstOccurrence(QStringLiteral("o\u0308"), QStringLiteral("o")), std::nullopt);
        QCOMPARE(TextSegments::firstOccurrence(QStringLiteral("abc"), QString()), std::nullopt);
    }

    void largeTextIsHandledWhole()
    {
        QString big;
        const QString sentence = QStringLiteral("Ein Satz mit \u00fcml\u00e4uten und \U0001F600. ");
        while (big.size() < 1024 * 1024)
            big += sentence;
        big += QStringLiteral("Last one");
        const QStringList sentences = ::splitIntoSentences(big);
        QCOMPARE(sentences.last(), QStringLiteral("Last one"));
        QCOMPARE(sentences.first(), sentence.trimmed());
        QCOMPARE(TextSegments::firstOccurrence(big, QStringLiteral("Last one")),
                 std::optional<qsizetype>(big.size() - 8));
    }
};

QTEST_GUILESS_MAIN(TestTextSegments)
#include "tst_textsegments.moc"
