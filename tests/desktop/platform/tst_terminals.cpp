// Whether a selection made in xterm is its PRIMARY: a PRIMARY owned by
// anyone else is an old selection, never the terminal's. (The transfer each
// terminal gets is tested end to end with the real program.)

#include "desktophelpers.h"
#include "platform.h"

#include <QProcess>
#include <QTest>

namespace {

// The words a terminal shows on its first line.
const QString shown = QStringLiteral("terminal words");

QByteArray output(const QString &program, const QStringList &arguments)
{
    QProcess process; // killed by its destructor if it hangs
    process.start(program, arguments);
    if (!testing::waitFor([&] { return process.state() == QProcess::NotRunning; }, 5000))
        return {};
    return process.readAllStandardOutput();
}

std::optional<QString> primaryText() { return testing::selectionText(QStringLiteral("primary")); }

// A terminal of the test's own showing the words, killed on every path.
class Terminal
{
public:
    Terminal(const QString &program, const QStringList &arguments) { m_process.start(program, arguments); }
    ~Terminal()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Its client window once mapped, 0 if it never was.
    quint32 window()
    {
        if (!m_window && m_process.waitForStarted(5000)) {
            const QString pid = QString::number(m_process.processId());
            testing::waitFor([&] {
                m_window = output(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                              QStringLiteral("--pid"), pid})
                               .split('\n')
                               .value(0)
                               .toUInt();
                return m_window != 0;
            }, 15000);
        }
        return m_window;
    }

    // Double-clicks the first word until PRIMARY holds it (the terminal may
    // not have drawn it yet).
    bool selectFirstWord()
    {
        const QString id = QString::number(window());
        return testing::waitFor([&] {
            output(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"), id,
                                               QStringLiteral("15"), QStringLiteral("10"), QStringLiteral("click"),
                                               QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("1")});
            return primaryText() == shown.section(QLatin1Char(' '), 0, 0);
        }, 15000);
    }

private:
    QProcess m_process;
    quint32 m_window = 0;
};

Terminal xterm() { return Terminal(QStringLiteral("xterm"), {QStringLiteral("-hold"), QStringLiteral("-e"), QStringLiteral("echo"), shown}); }

} // namespace

class TestTerminals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void primarySelectionOwner()
    {
        Terminal terminal = xterm();
        QVERIFY(terminal.window());
        QVERIFY(terminal.selectFirstWord());
        QVERIFY(platform::primarySelectionOwnedBy(terminal.window()));

        // Another terminal's window does not own it.
        Terminal other = xterm();
        QVERIFY(other.window());
        QVERIFY(!platform::primarySelectionOwnedBy(other.window()));

        // xclip takes PRIMARY; in the foreground until killed with the test.
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("primary")});
        QVERIFY(xclip.waitForStarted(5000));
        xclip.write("from xclip");
        xclip.closeWriteChannel();
        QVERIFY(testing::waitFor([] { return primaryText() == QStringLiteral("from xclip"); }));
        QVERIFY(!platform::primarySelectionOwnedBy(terminal.window()));

        // Selected in the terminal again, it is the terminal's once more.
        QVERIFY(terminal.selectFirstWord());
        QVERIFY(platform::primarySelectionOwnedBy(terminal.window()));
    }
};

QTEST_MAIN(TestTerminals)
#include "tst_terminals.moc"
