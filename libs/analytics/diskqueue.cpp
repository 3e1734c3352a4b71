#include "diskqueue.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <nlohmann/json.hpp>

#include <unistd.h>

namespace mixpanel::detail {

DiskQueue::DiskQueue(QString path, Validator validator)
    : m_path(std::move(path))
    , m_validator(std::move(validator))
{
}

void DiskQueue::load()
{
    m_records.clear();
    m_needsRewrite = false;

    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("analytics: cannot read the queue %s: %s", qPrintable(m_path),
                 qPrintable(file.errorString()));
        return;
    }
    const QByteArray content = file.readAll();
    file.close();

    int bad = 0;
    const QList<QByteArray> lines = content.split('\n');
    for (const QByteArray &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const auto record = nlohmann::json::parse(line.cbegin(), line.cend(), nullptr, false);
        if (record.is_discarded() || !m_validator(record)) {
            ++bad;
            continue;
        }
        m_records.append(line.trimmed());
    }
    // A last line without its newline was cut short by a crash, even when it parses.
    const bool unterminated = !content.isEmpty() && !content.endsWith('\n');

    if (bad == 0 && !unterminated)
        return;

    const QString aside = m_path + QStringLiteral(".corrupt-")
            + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
    qWarning("analytics: the queue %s holds %d unreadable record(s); set aside as %s, "
             "keeping %d good record(s)",
             qPrintable(m_path), bad, qPrintable(aside), int(m_records.size()));
    if (!QFile::rename(m_path, aside)) {
        qWarning("analytics: cannot set aside %s; dropping it", qPrintable(m_path));
        QFile::remove(m_path);
    }
    rewrite();
}

bool DiskQueue::append(const QByteArray &record)
{
    m_records.append(record);
    if (m_needsRewrite)
        return rewrite();

    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qWarning("analytics: cannot open the queue %s: %s", qPrintable(m_path),
                 qPrintable(file.errorString()));
        return false;
    }
    const QByteArray line = record + '\n';
    const bool written = file.write(line) == line.size() && file.flush()
            && ::fsync(file.handle()) == 0;
    if (!written) {
        qWarning("analytics: cannot write the queue %s: %s", qPrintable(m_path),
                 qPrintable(file.errorString()));
        m_needsRewrite = true;
    }
    return written;
}

QList<QByteArray> DiskQueue::head(int count) const
{
    return m_records.mid(0, count);
}

void DiskQueue::removeHead(int count)
{
    count = qMin(count, int(m_records.size()));
    if (count <= 0)
        return;
    m_records.remove(0, count);
    rewrite();
}

void DiskQueue::clear()
{
    m_records.clear();
    m_needsRewrite = false;
    if (QFile::exists(m_path) && !QFile::remove(m_path))
        rewrite();
}

bool DiskQueue::rewrite()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // QSaveFile replaces the file in one rename, so a crash leaves the old or the new queue.
    QSaveFile file(m_path);
    bool ok = file.open(QIODevice::WriteOnly);
    for (const QByteArray &record : std::as_const(m_records)) {
        if (!ok)
            break;
        ok = file.write(record) == record.size() && file.write("\n", 1) == 1;
    }
    if (!ok && file.isOpen())
        file.cancelWriting();
    // commit() syncs the data to disk before the rename.
    ok = file.commit() && ok;
    if (!ok) {
        // Records removed from memory may come back at the next start; the
        // service drops repeats by their insert id.
        qWarning("analytics: cannot rewrite the queue %s: %s", qPrintable(m_path),
                 qPrintable(file.errorString()));
    }
    m_needsRewrite = !ok;
    return ok;
}

} // namespace mixpanel::detail
