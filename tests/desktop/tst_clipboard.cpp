// What the user copied survives a capture and a write-back, with xclip as
// the other application that owns and pastes from the clipboard.
#include "desktopsession.h"

#include <clipboardaccessor.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QProcess>

namespace {

const QString kClipboard = QStringLiteral("clipboard");
const QString kPrimary = QStringLiteral("primary");
const QString kText = QStringLiteral("UTF8_STRING");

// A selection's data of one target as another application gets it.
QByteArray seen(const QString &target, const QString &selection = kClipboard)
{
    return desktop::run(QStringLiteral("xclip"),
                        {QStringLiteral("-selection"), selection, QStringLiteral("-o"), QStringLiteral("-t"), target});
}

// xclip takes the selection with data of one target, as a copy in another
// application does, and serves it until someone else takes the selection.
bool xclipOwns(const QByteArray &bytes, const QString &target, const QString &selection = kClipboard)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), selection, QStringLiteral("-i"), QStringLiteral("-t"), target});
    xclip.write(bytes);
    xclip.closeWriteChannel();
    return QTest::qWaitFor([&xclip] { return xclip.state() == QProcess::NotRunning; }, 5000)
        && seen(target, selection) == bytes;
}

// Starts an application pasting from a selection; it asks once it is up.
void startPasting(QProcess &paster, const QString &selection = kClipboard)
{
    paster.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), selection, QStringLiteral("-o")});
}

QByteArray pngImage()
{
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(4, 4, 40, 20, QColor(200, 30, 90, 180));
    painter.drawEllipse(20, 10, 30, 30);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

class TestClipboard : public QObject
{
    Q_OBJECT

    ClipboardAccessor clipboard;

private Q_SLOTS:
    // Nobody owns the clipboard at the start; a leftover xclip gives up.
    void init() { clipboard.clear(); }
    void cleanup()
    {
        clipboard.restore();
        clipboard.clear();
    }

    void copySurvivesCaptureAndWriteBack_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << kText << QStringLiteral("Gr\u00fc\u00dfe \U0001F30D\nzweite Zeile").toUtf8();
        QTest::newRow("text/plain") << QStringLiteral("text/plain") << QByteArray("plain\ttext\n");
        QTest::newRow("text/html") << QStringLiteral("text/html")
                                   << QStringLiteral("<p><b>fett</b> und gr\u00fcn</p>").toUtf8();
        QTest::newRow("image/png") << QStringLiteral("image/png") << pngImage();
    }

    void copySurvivesCaptureAndWriteBack()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, bytes);
        QVERIFY(xclipOwns(bytes, target));
        // The capture clears first, so that an empty copy means no selection.
        clipboard.save();
        clipboard.clear();
        QCOMPARE(seen(target), QByteArray());
        clipboard.restore();
        QCOMPARE(seen(target), bytes);
        // The write-back, with the copy now held by this program.
        clipboard.save();
        clipboard.writeString(QStringLiteral("answer"));
        QCOMPARE(seen(kText), QByteArray("answer"));
        clipboard.restore();
        QCOMPARE(seen(target), bytes);
    }

    void emptyClipboardStaysEmpty()
    {
        clipboard.save();
        clipboard.writeString(QStringLiteral("answer"));
        QCOMPARE(seen(kText), QByteArray("answer"));
        clipboard.restore();
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(clipboard.readString(), std::nullopt);
    }

    // The write-back saves while the capture's save is still pending: what
    // comes back is the user's copy, not our text; and only once.
    void pendingSaveKeepsTheFirst()
    {
        QVERIFY(xclipOwns("original", kText));
        clipboard.save();
        clipboard.clear();
        clipboard.writeString(QStringLiteral("answer"));
        clipboard.save();
        QCOMPARE(seen(kText), QByteArray("answer"));
        clipboard.restore();
        QCOMPARE(seen(kText), QByteArray("original"));

        clipboard.writeString(QStringLiteral("next"));
        QCOMPARE(seen(kText), QByteArray("next"));
        clipboard.restore();
        QCOMPARE(seen(kText), QByteArray("next"));
    }

    // Restoring right after the paste was sent: the pasting application
    // still gets the answer, the copy comes back afterwards.
    void restoreWaitsForThePaste()
    {
        QVERIFY(xclipOwns("original", kText));
        clipboard.save();
        clipboard.clear();
        clipboard.writeString(QStringLiteral("answer"));
        QProcess paster;
        startPasting(paster);
        clipboard.restore();
        QTRY_COMPARE_WITH_TIMEOUT(paster.state(), QProcess::NotRunning, 5000);
        QCOMPARE(paster.readAllStandardOutput(), QByteArray("answer"));
        QCOMPARE(seen(kText), QByteArray("original"));
    }

    // Terminals copy by selecting and paste PRIMARY.
    void primarySelection()
    {
        QVERIFY(xclipOwns("one\r\ntwo", kText, kPrimary));
        QCOMPARE(clipboard.readPrimaryString(), std::optional<QString>(QStringLiteral("one\ntwo")));

        // The hand-over wait covers PRIMARY when that was written last: the
        // terminal gets the answer, not what the next write puts there.
        QVERIFY(xclipOwns("original", kText));
        clipboard.save();
        clipboard.writePrimaryString(QStringLiteral("answer"));
        QProcess paster;
        startPasting(paster, kPrimary);
        clipboard.restore();
        clipboard.writePrimaryString(QStringLiteral("next"));
        QTRY_COMPARE_WITH_TIMEOUT(paster.state(), QProcess::NotRunning, 5000);
        QCOMPARE(paster.readAllStandardOutput(), QByteArray("answer"));
        QCOMPARE(seen(kText), QByteArray("original"));
        QCOMPARE(seen(kText, kPrimary), QByteArray("next"));
    }
};

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
