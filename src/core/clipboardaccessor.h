#pragma once

#include <QByteArray>
#include <QClipboard>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>

#include <chrono>
#include <optional>
#include <utility>

class QMimeData;

class ClipboardAccess
{
public:
    virtual ~ClipboardAccess() = default;

    // The clipboard's plain text, or none (empty, or only other kinds of data).
    virtual std::optional<QString> readString() = 0;
    // Replaces the clipboard's contents with the text.
    virtual void writeString(const QString &text) = 0;
    virtual void clear() = 0;

    // Keeps what the clipboard holds now, every format it offers (within a sane size), to put back later.
    virtual void save() = 0;
    // Puts back what save() kept and forgets it: once the text we wrote last was taken by the application
    // pasting it (or the hand-over wait of clear() ran out). An empty clipboard was kept as empty. Nothing
    // happens when nothing was saved.
    virtual void restore() = 0;
    // The PRIMARY selection's plain text (terminals like xterm copy by selecting), and writing text to it.
    virtual std::optional<QString> readPrimaryString() = 0;
    virtual void writePrimaryString(const QString &text) = 0;
};

// The desktop's clipboard (the X11 CLIPBOARD selection, and PRIMARY for
// terminals). While we own it we must answer the applications that paste
// from it, so clearing and restoring wait until the text we wrote has been
// taken.
class ClipboardAccessor : public ClipboardAccess
{
public:
    // How long clear() and restore() wait for an application to take text
    // we wrote and nobody has asked for yet.
    static constexpr std::chrono::milliseconds kHandOverTimeout{1000};
    // What save() keeps: no single format above kSavedFormatLimit, and no
    // more than kSavedTotalLimit in all, text formats counted first. Enough
    // for a large screenshot as PNG next to its text; a bigger clipboard
    // keeps what fits rather than stalling every capture on copying it.
    static constexpr qsizetype kSavedFormatLimit = 8 * 1024 * 1024;
    static constexpr qsizetype kSavedTotalLimit = 16 * 1024 * 1024;
    // How long save() may take over another application's clipboard; what
    // it read by then is what it keeps.
    static constexpr std::chrono::milliseconds kSaveDeadline{500};

    ClipboardAccessor();

    std::optional<QString> readString() override;
    void writeString(const QString &text) override;
    void clear() override;

    // A second save() before restore() keeps the first: a write-back can
    // start before the capture has put the user's clipboard back, and what
    // it would keep then is our own text, not what the user copied.
    void save() override;
    void restore() override;
    std::optional<QString> readPrimaryString() override;
    void writePrimaryString(const QString &text) override;

    // True once an application asked for the text of the last writeString
    // or writePrimaryString.
    bool writtenTextWasTaken() const;

    QClipboard *const pasteboard;

private:
    struct Saved
    {
        QList<std::pair<QString, QByteArray>> formats;
        // An image our own application put there as a picture, not bytes.
        QImage image;
    };

    std::optional<QString> readText(QClipboard::Mode mode) const;
    void writeText(const QString &text, QClipboard::Mode mode);
    void waitForHandOver();

    QPointer<QMimeData> m_written;
    QClipboard::Mode m_writtenMode = QClipboard::Clipboard;
    std::optional<Saved> m_saved;
};
