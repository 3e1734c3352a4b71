#include "clipboardaccessor.h"

#include <platform.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMimeData>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

namespace {

// Plain text that notes when another application asks for it.
class HandedOverText : public QMimeData
{
public:
    bool taken = false;
    // Set while we copy it ourselves, which is not a hand-over.
    bool peeking = false;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        if (!peeking)
            const_cast<HandedOverText *>(this)->taken = true;
        return QMimeData::retrieveData(mimeType, type);
    }
};

// Plain text first, then other text, then the rest: what the caps leave out
// should never be the text.
int savingRank(const QString &format)
{
    if (format == QLatin1String("text/plain"))
        return 0;
    return format.startsWith(QLatin1String("text/")) ? 1 : 2;
}

// Qt lists the X11 targets of another owner as they are: besides the MIME
// types (the string targets already show as text/plain) there are
// TARGETS, MULTIPLE, TIMESTAMP and the like, which are the protocol's, not
// data. application/x-qt-image is made up by Qt when an image/* format is
// on offer; the image/* formats themselves are kept byte for byte.
bool isSavedFormat(const QString &format)
{
    return format.contains(QLatin1Char('/')) && format != QLatin1String("application/x-qt-image");
}

} // namespace

ClipboardAccessor::ClipboardAccessor() : pasteboard(QGuiApplication::clipboard()) {}

std::optional<QString> ClipboardAccessor::readText(QClipboard::Mode mode) const
{
    const QMimeData *data = pasteboard->mimeData(mode);
    if (!data || !data->hasText())
        return std::nullopt;
    // GTK hands text/plain out with CRLF line ends (its UTF8_STRING has plain
    // LF, as the editor holds it): read them back as the editor holds them.
    QString text = data->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::optional<QString> ClipboardAccessor::readString()
{
    return readText(QClipboard::Clipboard);
}

std::optional<QString> ClipboardAccessor::readPrimaryString()
{
    return readText(QClipboard::Selection);
}

void ClipboardAccessor::writeText(const QString &text, QClipboard::Mode mode)
{
    pasteboard->clear(mode);
    auto *data = new HandedOverText;
    data->setText(text);
    m_written = data;
    m_writtenMode = mode;
    // The clipboard owns the data from here on.
    pasteboard->setMimeData(data, mode);
}

void ClipboardAccessor::writeString(const QString &text)
{
    writeText(text, QClipboard::Clipboard);
}

void ClipboardAccessor::writePrimaryString(const QString &text)
{
    writeText(text, QClipboard::Selection);
}

bool ClipboardAccessor::writtenTextWasTaken() const
{
    const auto *data = static_cast<const HandedOverText *>(m_written.data());
    return data && data->taken;
}

void ClipboardAccessor::waitForHandOver()
{
    // Text we wrote that nobody took yet may still be on its way to the
    // application that was told to paste it: give it a moment.
    if (!m_written || pasteboard->mimeData(m_writtenMode) != m_written || writtenTextWasTaken())
        return;
    const QDeadlineTimer deadline(kHandOverTimeout);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!m_written || writtenTextWasTaken() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(10);
    loop.exec();
}

void ClipboardAccessor::clear()
{
    waitForHandOver();
    m_written = nullptr;
    pasteboard->clear(QClipboard::Clipboard);
}

void ClipboardAccessor::save()
{
    if (m_saved)
        return;
    Saved saved;
    const QMimeData *data = pasteboard->mimeData(QClipboard::Clipboard);
    if (data) {
        const bool own = pasteboard->ownsClipboard();
        auto *written = own && data == m_written ? static_cast<HandedOverText *>(m_written.data()) : nullptr;
        if (written)
            written->peeking = true;
        const auto unpeek = qScopeGuard([written] {
            if (written)
                written->peeking = false;
        });

        // Another application's clipboard is read past Qt, against one
        // deadline for all of it: an owner that never delivers would hold
        // the program for Qt's 5 s per format.
        const QDeadlineTimer deadline(kSaveDeadline);
        std::unique_ptr<platform::SelectionReader> reader;
        if (!own)
            reader = platform::SelectionReader::clipboard(deadline);
        QStringList formats = reader ? reader->formats() : data->formats();
        std::stable_sort(formats.begin(), formats.end(),
                         [](const QString &a, const QString &b) { return savingRank(a) < savingRank(b); });
        qsizetype total = 0;
        for (const QString &format : std::as_const(formats)) {
            if (!isSavedFormat(format))
                continue;
            if (reader && deadline.hasExpired())
                break; // what was read so far is kept
            QByteArray bytes = reader ? reader->data(format, deadline, kSavedFormatLimit).value_or(QByteArray())
                                      : data->data(format);
            if (bytes.isEmpty() || bytes.size() > kSavedFormatLimit)
                continue;
            if (total + bytes.size() > kSavedTotalLimit)
                break;
            total += bytes.size();
            saved.formats.append({format, std::move(bytes)});
        }
        // Our own application may have put a picture there rather than bytes.
        if (own && data->hasImage()) {
            const QImage image = qvariant_cast<QImage>(data->imageData());
            if (!image.isNull() && total + image.sizeInBytes() <= kSavedTotalLimit)
                saved.image = image;
        }
    }
    m_saved = std::move(saved);
}

void ClipboardAccessor::restore()
{
    if (!m_saved)
        return;
    waitForHandOver();
    m_written = nullptr;
    const Saved saved = std::move(*m_saved);
    m_saved.reset();
    if (saved.formats.isEmpty() && saved.image.isNull()) {
        pasteboard->clear(QClipboard::Clipboard);
        return;
    }
    auto *data = new QMimeData;
    for (const auto &[format, bytes] : saved.formats)
        data->setData(format, bytes);
    if (!saved.image.isNull())
        data->setImageData(saved.image);
    pasteboard->setMimeData(data, QClipboard::Clipboard);
}
