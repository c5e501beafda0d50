#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

namespace vortan
{

// The parts of a long recording or frame trace: "name.csv", then "name-2.csv", "name-3.csv", …
// A new part begins at local midnight and before a part would grow past the size limit, so a
// day's file opens in any editor. A number whose file already exists is skipped: no part ever
// replaces a file.
class FileParts
{
public:
    static constexpr qint64 DefaultSplitBytes = 100LL * 1000 * 1000;

    void setSplitBytes(qint64 bytes) { m_splitBytes = bytes; }
    // Starts over with `path`, already open as the first part.
    void start(const QString &path);
    // Whether the next entry, bringing the part to `partBytes` at `now` (ms since the epoch),
    // belongs in a new part. A part's day is that of its first entry; a part that holds no entry
    // yet is never left for a new one, it takes the new day instead.
    bool due(qint64 now, qint64 partBytes, bool partHasEntries);
    // Creates the next part in `file` (write-only plus `extra`), never over an existing file;
    // false when it cannot be created.
    bool openNext(QFile &file, qint64 now, QIODevice::OpenMode extra = {});

    QStringList files() const { return m_files; }

private:
    QString m_basePath;
    QStringList m_files;
    int m_part = 0;
    qint64 m_splitBytes = DefaultSplitBytes;
    qint64 m_nextMidnight = 0; // 0: the day is taken from the next entry
};

} // namespace vortan
