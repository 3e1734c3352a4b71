#include "clipboardaccessor.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

namespace {

// Plain text that notes when another application asks for it.
class HandedOverText : public QMimeData
{
public:
    bool taken = false;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        const_cast<HandedOverText *>(this)->taken = true;
        return QMimeData::retrieveData(mimeType, type);
    }
};

} // namespace

ClipboardAccessor::ClipboardAccessor() : pasteboard(QGuiApplication::clipboard()) {}

std::optional<QString> ClipboardAccessor::readString()
{
    const QMimeData *data = pasteboard->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    // GTK hands text/plain out with CRLF line ends (its UTF8_STRING has plain
    // LF, as the editor holds it): read them back as the editor holds them.
    QString text = data->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void ClipboardAccessor::writeString(const QString &text)
{
    pasteboard->clear(QClipboard::Clipboard);
    auto *data = new HandedOverText;
    data->setText(text);
    m_written = data;
    // The clipboard owns the data from here on.
    pasteboard->setMimeData(data, QClipboard::Clipboard);
}

bool ClipboardAccessor::writtenTextWasTaken() const
{
    const auto *data = static_cast<const HandedOverText *>(m_written.data());
    return data && data->taken;
}

void ClipboardAccessor::clear()
{
    // Text we wrote that nobody took yet may still be on its way to the
    // application that was told to paste it: give it a moment.
    if (m_written && pasteboard->mimeData(QClipboard::Clipboard) == m_written && !writtenTextWasTaken()) {
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
    m_written = nullptr;
    pasteboard->clear(QClipboard::Clipboard);
}
