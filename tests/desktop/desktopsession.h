#pragma once

// Helpers for tests that drive real applications in the headless session.

#include <accessibilityhandler.h>
#include <clipboardaccessor.h>
#include <keyboardeventsimulator.h>
#include <resolver.h>
#include <textextractor.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace desktop {

// Runs a command to its end and gives its standard output; none when it
// did not finish in time. The event loop keeps running meanwhile: while this
// process owns the clipboard it has to answer the command itself.
inline std::optional<QByteArray> runToEnd(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, arguments);
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

inline QByteArray run(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
{
    return runToEnd(program, arguments, timeoutMs).value_or(QByteArray());
}

inline void xdotool(const QStringList &arguments)
{
    run(QStringLiteral("xdotool"), arguments);
    // Give the application a moment to handle what it was sent.
    QTest::qWait(150);
}

// The clipboard's text as another client sees it: empty when nobody owns
// it, none when the owner did not answer in time.
inline std::optional<QByteArray> clipboardAsSeenByOthers()
{
    return runToEnd(QStringLiteral("xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}, 5000);
}

// The services a capture and a write-back use, with the program's scopes.
inline void registerCaptureServices(Resolver &r)
{
    r.register_<ClipboardAccessor>([] { return std::make_shared<ClipboardAccessor>(); })
        .implements<ClipboardAccess>()
        .scope(Resolver::Scope::Application);
    r.register_<AccessibilityHandler>([] { return std::make_shared<AccessibilityHandler>(); })
        .implements<AccessibilityHandling>()
        .scope(Resolver::Scope::Shared);
    r.register_<KeyboardEventSimulator>([] { return std::make_shared<KeyboardEventSimulator>(); })
        .implements<KeyboardEventSimulating>();
    r.register_<TextExtractor>([] { return std::make_shared<TextExtractor>(); }).implements<TextExtraction>();
}

// A mousepad window editing a file of its own, closed when this goes.
class Mousepad
{
public:
    // Opens text with the caret on line (1-based) at column (0-based).
    bool open(const QString &text, int line = 1, int column = 0)
    {
        m_path = m_dir.filePath(QStringLiteral("note.txt"));
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(text.toUtf8());
        file.close();
        m_process.start(QStringLiteral("mousepad"),
                        {QStringLiteral("--disable-server"), QStringLiteral("--line=%1").arg(line),
                         QStringLiteral("--column=%1").arg(column), m_path});
        if (!m_process.waitForStarted(5000))
            return false;
        const QString pid = QString::number(m_process.processId());
        for (int i = 0; i < 100 && m_window.isEmpty(); ++i) {
            m_window = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                       QStringLiteral("--pid"), pid})
                           .trimmed()
                           .split('\n')
                           .value(0);
            if (m_window.isEmpty())
                QTest::qWait(100);
        }
        if (m_window.isEmpty())
            return false;
        activate();
        QTest::qWait(300);
        return true;
    }

    void activate()
    {
        run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                        QString::fromLatin1(m_window)});
        QTest::qWait(100);
    }

    // Saves and reads back what the editor holds.
    QString contents()
    {
        const QDateTime before = QFileInfo(m_path).lastModified();
        xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+s")});
        for (int i = 0; i < 50 && QFileInfo(m_path).lastModified() == before; ++i)
            QTest::qWait(100);
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll());
    }

    ~Mousepad()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000)) {
                m_process.kill();
                m_process.waitForFinished(3000);
            }
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QProcess m_process;
    QByteArray m_window;
};

} // namespace desktop
