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

qint64 NextLocalMidnight(qint64 msecs)
{
    const QDate today = QDateTime::fromMSecsSinceEpoch(msecs).date();
    return QDateTime(today.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
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

bool CsvRecorder::start(const QString &path)
{
    stop();
    m_basePath = path;
    m_files.clear();
    m_part = 1;
    m_rows = 0;
    m_committedRows = 0;
    m_partFirstRow = 0;
    m_error.clear();
    const QString point = QLocale().decimalPoint();
    m_point = point.isEmpty() ? QLatin1Char('.') : point.at(0);
    m_cachedSecond = -1;
    return openPart(path, m_clock());
}

bool CsvRecorder::openPart(const QString &path, qint64 now)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        qCWarning(lcRecord) << "cannot create" << path << m_file.errorString();
        return fail(QStringLiteral("Невозможно создать файл «%1» (нет такой папки, нет прав на "
                                   "запись или носитель только для чтения).")
                        .arg(QDir::toNativeSeparators(path)));
    }
    m_files << path;
    m_written = 0;
    m_pending = QByteArray(Bom) + headerLine().toUtf8() + LineEnd;
    m_lastFlush = now;
    m_nextMidnight = NextLocalMidnight(now);
    return writePending();
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

    const bool partHoldsRows = m_rows > m_partFirstRow;
    const bool full = m_written + m_pending.size() + row.size() > m_splitBytes;
    if (now >= m_nextMidnight || full) {
        if (partHoldsRows) {
            if (!writePending())
                return false;
            m_file.close();
            if (!openPart(nextPartPath(), now))
                return false;
            m_partFirstRow = m_rows;
        } else {
            m_nextMidnight = NextLocalMidnight(now);
        }
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
    return ok;
}

QString CsvRecorder::nextPartPath()
{
    const QFileInfo base(m_basePath);
    const QString suffix = base.suffix().isEmpty() ? QString() : QLatin1Char('.') + base.suffix();
    const QString stem = base.suffix().isEmpty() ? base.fileName() : base.completeBaseName();
    QString path;
    do {
        ++m_part;
        path = base.dir().filePath(QStringLiteral("%1-%2%3").arg(stem).arg(m_part).arg(suffix));
    } while (QFileInfo::exists(path));
    return path;
}

} // namespace vortan
