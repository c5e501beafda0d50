#pragma once

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
// that. A recording is split into parts at 100 MB and at local midnight: "name.csv", then
// "name-2.csv", "name-3.csv" (a number already taken is skipped, so no part replaces an older
// file). A part that cannot be created or written ends the recording; what was written stays,
// cut back to its last whole row.
class CsvRecorder
{
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch
    static constexpr qint64 DefaultSplitBytes = 100LL * 1000 * 1000;
    static constexpr qint64 FlushMs = 1000;

    explicit CsvRecorder(Clock clock = {});
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder &) = delete;
    CsvRecorder &operator=(const CsvRecorder &) = delete;

    void setSplitBytes(qint64 bytes) { m_splitBytes = bytes; }

    // Creates the first part (replacing a file of that name) with its header. False, with
    // error() set, when it cannot be created.
    bool start(const QString &path);
    // One row stamped now. False when the recording has ended on a write failure (error()).
    bool append(const StatusSnapshot &snapshot);
    // Hands waiting rows to the system once the last hand-over is a second old; called on
    // every exchange tick so rows are not held while the controller is silent.
    bool flushIfDue();
    // Writes what waits and closes the part. False when that last write failed.
    bool stop();

    bool isRecording() const { return m_file.isOpen(); }
    qint64 rows() const { return m_rows; } // rows accepted in all parts
    QString currentFile() const { return m_file.fileName(); }
    QStringList files() const { return m_files; }
    QString error() const { return m_error; }

    // The header line and one row, without line end (for tests and benchmarks).
    QString headerLine() const;
    QString rowLine(qint64 msecsSinceEpoch, const StatusSnapshot &snapshot);

private:
    bool openPart(const QString &path, qint64 now);
    bool writePending();
    bool fail(const QString &message);
    QString nextPartPath();
    void appendTime(QString &row, qint64 msecs);

    Clock m_clock;
    QFile m_file;
    QString m_basePath;
    QStringList m_files;
    int m_part = 0;
    qint64 m_splitBytes = DefaultSplitBytes;
    QByteArray m_pending;
    qint64 m_written = 0; // bytes of whole rows in the current part
    qint64 m_rows = 0;
    qint64 m_committedRows = 0; // rows handed to the system
    qint64 m_partFirstRow = 0;
    qint64 m_lastFlush = 0;
    qint64 m_nextMidnight = 0;
    QChar m_point = QLatin1Char('.');
    QString m_row;
    qint64 m_cachedSecond = -1;
    QString m_cachedPrefix;
    QString m_error;
};

} // namespace vortan
