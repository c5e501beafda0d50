#include "journal/journalfile.h"

#include "format/logging.h"
#include "record/statuscolumns.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vortan
{

namespace
{

constexpr char Bom[] = "\xEF\xBB\xBF";
constexpr char LineEnd[] = "\r\n";

QByteArray Lead()
{
    return QByteArray(Bom) + JournalFile::headerLine().toUtf8() + LineEnd;
}

QByteArray Row(const JournalEvent &event)
{
    QStringList cells = event.cells();
    for (QString &c : cells)
        c = CsvQuoted(c);
    return cells.join(QLatin1Char(';')).toUtf8() + LineEnd;
}

QString CannotCreate(const QString &path)
{
    return QStringLiteral("Невозможно создать файл «%1» (нет такой папки, нет прав на запись или "
                          "носитель только для чтения).")
        .arg(QDir::toNativeSeparators(path));
}

// A journal of ours: it begins with the byte-order mark and our header.
bool OursToContinue(const QString &path)
{
    QFile file(path);
    const QByteArray lead = Lead();
    return file.open(QIODevice::ReadOnly) && file.read(lead.size()) == lead;
}

} // namespace

QString JournalFile::dailyFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/vortan/journal/");
}

QString JournalFile::headerLine()
{
    return JournalHeadings().join(QLatin1Char(';'));
}

QByteArray JournalFile::contents(const QList<JournalEvent> &events)
{
    QByteArray all = Lead();
    for (const JournalEvent &e : events)
        all += Row(e);
    return all;
}

JournalFile::~JournalFile()
{
    stop();
}

QString JournalFile::refusal(const QString &path) const
{
    const QFileInfo info(path);
    if (info.exists())
        return QStringLiteral("Файл «%1» уже существует; журнал не начат, файл не изменён.")
            .arg(QDir::toNativeSeparators(path));
    return info.absoluteDir().exists() ? QString() : CannotCreate(path);
}

bool JournalFile::startSingle(const QString &path)
{
    stop();
    m_folder.clear();
    m_failed = false;
    m_rows = 0;
    m_error.clear();
    if (const QString why = refusal(path); !why.isEmpty())
        return fail(why);
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        qCWarning(lcRecord) << "cannot create" << path << m_file.errorString();
        return fail(CannotCreate(path));
    }
    return write(Lead());
}

bool JournalFile::startDaily(const QString &folder)
{
    stop();
    m_failed = false;
    m_rows = 0;
    m_error.clear();
    m_day.clear();
    m_folder = folder;
    if (!QDir().mkpath(folder))
        return fail(CannotCreate(QDir(folder).filePath(QStringLiteral("*.csv"))));
    return true;
}

bool JournalFile::openDay(qint64 msecs)
{
    const QString day = QDateTime::fromMSecsSinceEpoch(msecs).date().toString(Qt::ISODate);
    if (m_file.isOpen() && day == m_day)
        return true;
    m_file.close();
    m_day = day;
    const QDir dir(m_folder);
    for (int n = 1;; ++n) {
        const QString name =
            n == 1 ? day + QStringLiteral(".csv") : QStringLiteral("%1-%2.csv").arg(day).arg(n);
        const QString path = dir.filePath(name);
        const bool exists = QFileInfo::exists(path);
        if (exists && !OursToContinue(path))
            continue;
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered |
                         (exists ? QIODevice::Append : QIODevice::NewOnly))) {
            qCWarning(lcRecord) << "cannot open" << path << m_file.errorString();
            return fail(CannotCreate(path));
        }
        if (!exists)
            return write(Lead());
        // A row cut short by a power loss stays a row of its own; new ones start on a line.
        QFile last(path);
        const bool whole =
            last.open(QIODevice::ReadOnly) && last.seek(last.size() - 1) && last.read(1) == "\n";
        return whole || write(LineEnd);
    }
}

bool JournalFile::append(const JournalEvent &event)
{
    if (m_failed)
        return false;
    if (!m_folder.isEmpty() && !openDay(event.msecsSinceEpoch))
        return false;
    if (!m_file.isOpen())
        return false;
    if (!write(Row(event)))
        return false;
    ++m_rows;
    return true;
}

bool JournalFile::write(const QByteArray &bytes)
{
    const qint64 before = m_file.size();
    if (m_file.write(bytes) == bytes.size())
        return true;
    qCWarning(lcRecord) << "write failed on" << m_file.fileName() << m_file.errorString();
    // A row cut in half would be read as another event; the file ends on its last whole row.
    m_file.resize(before);
    return fail(QStringLiteral("Журнал остановлен: не удалось записать файл «%1» (диск заполнен "
                               "или носитель недоступен). Записано событий: %2.")
                    .arg(QDir::toNativeSeparators(m_file.fileName()))
                    .arg(m_rows));
}

bool JournalFile::fail(const QString &message)
{
    m_file.close();
    m_failed = true;
    m_error = message;
    return false;
}

void JournalFile::stop()
{
    m_file.close();
}

} // namespace vortan
