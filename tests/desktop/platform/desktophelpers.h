#pragma once

// What the desktop tests of libs/platform share: a mousepad of their own,
// the clipboard as another client sees it, and waiting for the server.

#include "platform.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QClipboard>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace testing {

inline bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

// A selection ("clipboard", "primary") read by xclip, as the product's
// backend would find it after the paste target copied. Run without blocking
// the event loop: when this process owns the selection, it has to answer
// xclip itself.
inline std::optional<QString> selectionText(const QString &selection)
{
    QProcess xclip; // killed by its destructor if it hangs
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), selection});
    if (!waitFor([&] { return xclip.state() == QProcess::NotRunning; }, 5000) || xclip.exitStatus() != QProcess::NormalExit
        || xclip.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

inline std::optional<QString> clipboardText() { return selectionText(QStringLiteral("clipboard")); }

// Puts a marker on the clipboard, owned by this process, so that "nothing
// was copied" can be told from "the empty string was copied".
inline void setClipboardMarker(const QString &marker)
{
    QGuiApplication::clipboard()->setText(marker);
    waitFor([&] { return clipboardText() == marker; }, 3000);
}

// A mousepad of the test's own, on a file of its own, killed on every path.
class Mousepad
{
public:
    explicit Mousepad(const QString &content)
    {
        const QString file = m_dir.filePath(QStringLiteral("document.txt"));
        QFile f(file);
        if (f.open(QIODevice::WriteOnly))
            f.write(content.toUtf8());
        f.close();
        // Its own instance: a running mousepad would otherwise open the file.
        m_process.start(QStringLiteral("mousepad"), {QStringLiteral("--disable-server"), file});
    }
    ~Mousepad()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill(); // and QProcess waits for it
    }
    Mousepad(const Mousepad &) = delete;
    Mousepad &operator=(const Mousepad &) = delete;

    bool started() { return m_process.waitForStarted(5000); }
    // The mousepad window once it is in front, 0 if it never got there.
    quint32 waitUntilActive()
    {
        quint32 window = 0;
        waitFor([&] {
            if (platform::frontmostApplicationIdentifier() != QStringLiteral("Mousepad"))
                return false;
            window = platform::activeWindow();
            return true;
        }, 15000);
        // GTK maps the window before its text view takes keyboard focus.
        if (window)
            QTest::qWait(500);
        return window;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace testing
