#pragma once

#include "journal/journalevent.h"

#include <QFile>
#include <QList>
#include <QString>

#include <functional>

namespace vortan
{

// Writes journal rows as a ";"-separated file a spreadsheet opens as it is, like a recording:
// UTF-8 with a byte-order mark, CR LF line ends, the header Время;Событие;Группа;Сигнал;
// Первопричина. Each row is handed to the system as it comes (rows are few), so a crash loses
// nothing written before it.
//
// Daily mode (the window): one file per local day, "2026-12-07.csv" in a folder; a day's file
// that exists is continued when its header is this one, else left alone and the next free name
// ("2026-12-07-2.csv", ...) is used. Single mode (the command line): one new file; an existing
// file is refused and never touched.
class JournalFile
{
public:
    // Where the window's daily files go: $XDG_DATA_HOME/vortan/journal.
    static QString dailyFolder();
    static QString headerLine();
    // A whole file of `events` (the window's "Сохранить как...").
    static QByteArray contents(const QList<JournalEvent> &events);

    JournalFile() = default;
    ~JournalFile();
    JournalFile(const JournalFile &) = delete;
    JournalFile &operator=(const JournalFile &) = delete;

    // Why startSingle() would refuse `path` without touching it; empty when it would not.
    QString refusal(const QString &path) const;
    // False with error() set when refused or the file cannot be created.
    bool startSingle(const QString &path);
    // Files are opened by the day of the first row written into them; false when the folder
    // cannot be created.
    bool startDaily(const QString &folder = dailyFolder());
    // False when the row could not be written (error()); the file then ends on its last whole
    // row and takes no more.
    bool append(const JournalEvent &event);
    void stop();

    bool isOpen() const { return m_file.isOpen(); }
    QString currentFile() const { return m_file.fileName(); }
    qint64 rows() const { return m_rows; }
    QString error() const { return m_error; }

private:
    bool openDay(qint64 msecs);
    bool write(const QByteArray &bytes);
    bool fail(const QString &message);

    QFile m_file;
    QString m_folder; // daily mode; empty in single mode
    QString m_day;    // "yyyy-MM-dd" of the open daily file
    bool m_failed = false;
    qint64 m_rows = 0;
    QString m_error;
};

} // namespace vortan
