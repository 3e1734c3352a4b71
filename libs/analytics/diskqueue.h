#pragma once

// An append-only queue of JSON records, one per line, kept on disk. Every
// append is on disk before it returns; records leave only from the front.

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

#include <nlohmann/json_fwd.hpp>

namespace mixpanel::detail {

class DiskQueue
{
public:
    using Validator = std::function<bool(const nlohmann::json &)>;

    DiskQueue(QString path, Validator validator);

    // Reads the file. Lines that are not valid records are set aside with the
    // original file (renamed "*.corrupt-<time>"); the good records are kept.
    void load();

    // Appends one compact JSON record (no newline) and syncs it to disk.
    // Returns false if the disk refused it; the record is still kept in memory.
    bool append(const QByteArray &record);

    QList<QByteArray> head(int count) const;
    void removeHead(int count);
    void clear();

    int size() const { return int(m_records.size()); }
    bool isEmpty() const { return m_records.isEmpty(); }
    QString path() const { return m_path; }

private:
    bool rewrite();

    QString m_path;
    Validator m_validator;
    QList<QByteArray> m_records;
    // A failed write may have left half a line behind; the next write
    // rewrites the whole file instead of appending to it.
    bool m_needsRewrite = false;
};

} // namespace mixpanel::detail
