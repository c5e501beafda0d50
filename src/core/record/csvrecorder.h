#pragma once

#include "format/fileparts.h"
#include "status/statussnapshot.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

namespace vortan
{

// Writes every status block it is given as one row of a ";"-separated file that a spreadsheet
// opens as it is: UTF-8 with a byte-order mark, CR LF line ends, the user's decimal separator,
// local time with milliseconds first, then StatusColumns() under their headings.
//
// Rows are handed to the operating system at least once a second, so a crash loses at most
// that. A recording is split into parts at 100 MB and at local midnight (FileParts). An existing
// file is never truncated or removed: it is refused, or with Mode::Append continued when its
// header is the one written here. A part that cannot be created or written ends the recording;
// what was written stays, cut back to its last whole row.
class CsvRecorder
{
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch
    static constexpr qint64 FlushMs = 1000;
    enum class Mode {
        Create, // a new file; an existing one is refused
        Append, // rows go after those of an existing file with the same header
    };

    explicit CsvRecorder(Clock clock = {});
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder &) = delete;
    CsvRecorder &operator=(const CsvRecorder &) = delete;

    void setSplitBytes(qint64 bytes) { m_parts.setSplitBytes(bytes); }

    // Why start() would refuse `path` without touching it (an existing file, another header, a
    // missing folder); empty when it would not.
    QString refusal(const QString &path, Mode mode) const;
    // Opens the first part: a new file with its header, or an existing one to append to. False,
    // with error() set, when refused or it cannot be created.
    bool start(const QString &path, Mode mode = Mode::Create);
    // One row stamped now. False when the recording has ended on a write failure (error()).
    bool append(const StatusSnapshot &snapshot);
    // Hands waiting rows to the system once the last hand-over is a second old; called on
    // every exchange tick so rows are not held while the controller is silent.
    bool flushIfDue();
    // Writes what waits and closes the part; a file this recording created and that holds no row
    // is removed. False when that last write failed.
    bool stop();

    bool isRecording() const { return m_file.isOpen(); }
    qint64 rows() const { return m_rows; } // rows accepted in all parts
    QString currentFile() const { return m_file.fileName(); }
    QStringList files() const { return m_removedEmpty ? QStringList() : m_parts.files(); }
    QString error() const { return m_error; }

    // The header line and one row, without line end (for tests and benchmarks).
    QString headerLine() const;
    QString rowLine(qint64 msecsSinceEpoch, const StatusSnapshot &snapshot);

private:
    void beginPart(qint64 now, QByteArray lead);
    bool writePending();
    bool fail(const QString &message);
    void appendTime(QString &row, qint64 msecs);

    Clock m_clock;
    QFile m_file;
    FileParts m_parts;
    QByteArray m_pending;
    qint64 m_written = 0; // bytes of whole rows in the current part
    qint64 m_rows = 0;
    qint64 m_committedRows = 0; // rows handed to the system
    qint64 m_partFirstRow = 0;
    qint64 m_lastFlush = 0;
    bool m_createdFirst = false;
    bool m_removedEmpty = false;
    QChar m_point = QLatin1Char('.');
    QString m_row;
    qint64 m_cachedSecond = -1;
    QString m_cachedPrefix;
    QString m_error;
};

} // namespace vortan
