#include "record/csvrecorder.h"

#include "format/logging.h"
#include "record/statuscolumns.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace vortan
{

namespace
{

constexpr char Bom[] = "\xEF\xBB\xBF";
constexpr char LineEnd[] = "\r\n";
// Rows wait at most a second; a burst beyond this is written at once to bound the memory.
constexpr int MaxPendingBytes = 64 * 1024;

QString CannotCreate(const QString &path)
{
    return QStringLiteral("Невозможно создать файл «%1» (нет такой папки, нет прав на запись или "
                          "носитель только для чтения).")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace

CsvRecorder::CsvRecorder(Clock clock) : m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

CsvRecorder::~CsvRecorder()
{
    stop();
}

QString CsvRecorder::refusal(const QString &path, Mode mode) const
{
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!info.exists())
        return info.absoluteDir().exists() ? QString() : CannotCreate(path);
    if (mode == Mode::Create)
        return QStringLiteral("Файл «%1» уже существует; запись не начата, файл не изменён. "
                              "Дописать строки в него можно с параметром --append.")
            .arg(shown);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Файл «%1» не читается; запись в него не начата.").arg(shown);
    const QByteArray header = QByteArray(Bom) + headerLine().toUtf8() + LineEnd;
    if (file.read(header.size()) != header)
        return QStringLiteral("В файле «%1» другая строка заголовка (другие столбцы); строки в "
                              "него не дописаны, файл не изменён.")
            .arg(shown);
    return QString();
}

bool CsvRecorder::start(const QString &path, Mode mode)
{
    stop();
    m_rows = 0;
    m_committedRows = 0;
    m_partFirstRow = 0;
    m_createdFirst = false;
    m_removedEmpty = false;
    m_error.clear();
    const QString point = QLocale().decimalPoint();
    m_point = point.isEmpty() ? QLatin1Char('.') : point.at(0);
    m_cachedSecond = -1;
    if (const QString why = refusal(path, mode); !why.isEmpty())
        return fail(why);

    const bool append = QFileInfo::exists(path);
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered |
                     (append ? QIODevice::Append : QIODevice::NewOnly))) {
        qCWarning(lcRecord) << "cannot open" << path << m_file.errorString();
        return fail(CannotCreate(path));
    }
    m_createdFirst = !append;
    const qint64 now = m_clock();
    m_parts.start(path);
    QByteArray lead = QByteArray(Bom) + headerLine().toUtf8() + LineEnd;
    if (append) {
        // A row cut short by a power loss stays a row of its own; the new ones start on a line.
        QFile last(path);
        const bool whole =
            last.open(QIODevice::ReadOnly) && last.seek(last.size() - 1) && last.read(1) == "\n";
        lead = whole ? QByteArray() : QByteArray(LineEnd);
    }
    beginPart(now, lead);
    return writePending();
}

void CsvRecorder::beginPart(qint64 now, QByteArray lead)
{
    m_written = m_file.size();
    m_pending = std::move(lead);
    m_lastFlush = now;
}

QString CsvRecorder::headerLine() const
{
    QString line = QStringLiteral("Время");
    for (const StatusColumn &c : StatusColumns()) {
        line += QLatin1Char(';');
        line += CsvQuoted(c.heading);
    }
    return line;
}

void CsvRecorder::appendTime(QString &row, qint64 msecs)
{
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != m_cachedSecond) {
        m_cachedSecond = second;
        m_cachedPrefix = QDateTime::fromMSecsSinceEpoch(second * 1000)
                             .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    const int ms = int(msecs - second * 1000);
    row += m_cachedPrefix;
    row += m_point;
    row += QLatin1Char(char('0' + ms / 100));
    row += QLatin1Char(char('0' + ms / 10 % 10));
    row += QLatin1Char(char('0' + ms % 10));
}

QString CsvRecorder::rowLine(qint64 msecsSinceEpoch, const StatusSnapshot &snapshot)
{
    m_row.clear();
    appendTime(m_row, msecsSinceEpoch);
    for (const StatusColumn &c : StatusColumns()) {
        m_row += QLatin1Char(';');
        AppendCell(m_row, snapshot, c, m_point);
    }
    return m_row;
}

bool CsvRecorder::append(const StatusSnapshot &snapshot)
{
    if (!isRecording())
        return false;
    const qint64 now = m_clock();
    QByteArray row = rowLine(now, snapshot).toUtf8();
    row += LineEnd;

    if (m_parts.due(now, m_written + m_pending.size() + row.size(), m_rows > m_partFirstRow)) {
        if (!writePending())
            return false;
        m_file.close();
        if (!m_parts.openNext(m_file, now, QIODevice::Unbuffered)) {
            qCWarning(lcRecord) << "cannot create" << m_file.fileName() << m_file.errorString();
            return fail(CannotCreate(m_file.fileName()));
        }
        beginPart(now, QByteArray(Bom) + headerLine().toUtf8() + LineEnd);
        m_partFirstRow = m_rows;
    }

    m_pending += row;
    ++m_rows;
    if (now - m_lastFlush >= FlushMs || m_pending.size() >= MaxPendingBytes) {
        m_lastFlush = now;
        return writePending();
    }
    return true;
}

bool CsvRecorder::flushIfDue()
{
    if (!isRecording() || m_pending.isEmpty())
        return isRecording();
    const qint64 now = m_clock();
    if (now - m_lastFlush < FlushMs)
        return true;
    m_lastFlush = now;
    return writePending();
}

bool CsvRecorder::writePending()
{
    if (m_pending.isEmpty())
        return true;
    const qint64 n = m_file.write(m_pending);
    if (n != m_pending.size()) {
        qCWarning(lcRecord) << "write failed on" << m_file.fileName() << m_file.errorString();
        // A row cut in half would read as a wrong value; the file ends on its last whole row.
        m_file.resize(m_written);
        m_file.close();
        m_pending.clear();
        m_rows = m_committedRows;
        return fail(QStringLiteral("Запись остановлена: не удалось записать файл «%1» (диск "
                                   "заполнен или носитель недоступен). Сохранено строк: %2.")
                        .arg(QDir::toNativeSeparators(m_file.fileName()))
                        .arg(m_committedRows));
    }
    m_written += n;
    m_committedRows = m_rows;
    m_pending.clear();
    return true;
}

bool CsvRecorder::fail(const QString &message)
{
    if (m_file.isOpen())
        m_file.close();
    m_error = message;
    return false;
}

bool CsvRecorder::stop()
{
    if (!isRecording())
        return true;
    const bool ok = writePending();
    m_file.close();
    // Only the header: nothing worth keeping, and no file of the user's is touched.
    if (ok && m_createdFirst && m_rows == 0)
        m_removedEmpty = m_file.remove();
    return ok;
}

} // namespace vortan
