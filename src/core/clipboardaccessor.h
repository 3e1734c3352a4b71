#pragma once

#include <QPointer>
#include <QString>

#include <chrono>
#include <optional>

class QClipboard;
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
};

// The desktop's clipboard (the X11 CLIPBOARD selection). While we own it we
// must answer the applications that paste from it, so clearing waits until
// the text we wrote has been taken.
class ClipboardAccessor : public ClipboardAccess
{
public:
    // How long clear() waits for an application to take text we wrote and
    // nobody has asked for yet.
    static constexpr std::chrono::milliseconds kHandOverTimeout{1000};

    ClipboardAccessor();

    std::optional<QString> readString() override;
    void writeString(const QString &text) override;
    void clear() override;

    // True once an application asked for the text of the last writeString.
    bool writtenTextWasTaken() const;

    QClipboard *const pasteboard;

private:
    QPointer<QMimeData> m_written;
};
