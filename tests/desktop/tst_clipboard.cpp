// What the user copied survives a capture and a write-back, with xclip as
// the other application that owns and pastes from the clipboard.
#include "desktopsession.h"

#include <clipboardaccessor.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>

#include <xcb/xcb.h>

#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <thread>

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

// Owns the clipboard from a thread of its own, answering TARGETS and its text
// but never the twenty other formats it lists, as a hung application does.
class SilentOwner
{
public:
    explicit SilentOwner(const QByteArray &text)
    {
        c = xcb_connect(nullptr, nullptr);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        QList<xcb_atom_t> targets{atom("TARGETS"), atom("UTF8_STRING")};
        for (int i = 0; i < 20; ++i)
            targets << atom(QByteArray(i % 2 ? "text/x-silent-" : "application/x-silent-") + QByteArray::number(i));
        xcb_set_selection_owner(c, window, atom("CLIPBOARD"), XCB_CURRENT_TIME);
        xcb_flush(c);
        m_thread = std::thread([this, targets, text] {
            while (!m_stop) {
                pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
                ::poll(&fd, 1, 50);
                while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
                    if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST)
                        answer(*reinterpret_cast<xcb_selection_request_event_t *>(event), targets, text);
                    std::free(event);
                }
            }
        });
    }
    ~SilentOwner()
    {
        m_stop = true;
        m_thread.join();
        xcb_disconnect(c);
    }

private:
    xcb_atom_t atom(const QByteArray &name)
    {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(name.size()), name.constData()), nullptr);
        const xcb_atom_t a = reply->atom;
        std::free(reply);
        return a;
    }
    void answer(const xcb_selection_request_event_t &request, const QList<xcb_atom_t> &targets, const QByteArray &text)
    {
        if (request.target == targets[0])
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, XCB_ATOM_ATOM, 32,
                                targets.size(), targets.constData());
        else if (request.target == targets[1])
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, targets[1], 8,
                                text.size(), text.constData());
        else
            return; // never
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = request.property;
        xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&notify));
        xcb_flush(c);
    }

    xcb_connection_t *c = nullptr;
    xcb_window_t window = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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

    // An owner that never delivers most of its formats: saving stops at its
    // deadline, well within one of Qt's 5 s waits, and keeps what it read.
    void silentOwnerCostsOneDeadline()
    {
        {
            QSignalSpy changed(QGuiApplication::clipboard(), &QClipboard::dataChanged);
            SilentOwner owner("original");
            // Seen as the program sees a copy elsewhere (which also gives it
            // the owner's time, which taking the clipboard back needs).
            QVERIFY(changed.wait(5000));
            QElapsedTimer clock;
            clock.start();
            clipboard.save();
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            clipboard.writeString(QStringLiteral("answer"));
        }
        clipboard.restore();
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
