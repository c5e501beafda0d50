#include "modbus/tracefile.h"

#include "format/logging.h"

namespace vortan
{

TraceFile::TraceFile(const QString &path) : m_file(path) {}

TraceFile::~TraceFile()
{
    flush();
}

QString TraceFile::failureText() const
{
    return QStringLiteral("Файл трассировки %1 не записывается").arg(m_file.fileName());
}

bool TraceFile::open()
{
    if (m_file.isOpen())
        return true;
    if (m_failed || !m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail();
        return false;
    }
    m_parts.start(m_file.fileName());
    m_written = m_file.size();
    m_partLines = 0;
    m_pending = TraceHeader().toUtf8() + '\n';
    flush();
    return m_file.isOpen();
}

void TraceFile::exchanged(const ExchangeRecord &record)
{
    if (!m_file.isOpen())
        return;
    if (!record.idle()) {
        const QByteArray line = TraceLine(record).toLatin1() + '\n';
        const qint64 at = record.msecsSinceEpoch;
        if (m_parts.due(at, m_written + m_pending.size() + line.size(), m_partLines > 0)) {
            flush();
            if (!m_file.isOpen())
                return;
            m_file.close();
            if (!m_parts.openNext(m_file, at)) {
                fail();
                return;
            }
            m_written = 0;
            m_partLines = 0;
            m_pending = TraceHeader().toUtf8() + '\n';
        }
        m_pending += line;
        ++m_partLines;
    }
    if (!m_sinceFlush.isValid() || m_sinceFlush.hasExpired(FlushIntervalMs))
        flush();
}

void TraceFile::flush()
{
    m_sinceFlush.start();
    if (!m_file.isOpen() || m_pending.isEmpty())
        return;
    if (m_file.write(m_pending) != m_pending.size() || !m_file.flush()) {
        fail();
        return;
    }
    m_written += m_pending.size();
    m_pending.clear();
}

void TraceFile::fail()
{
    qCWarning(lcModbus) << "trace file" << m_file.fileName()
                        << "not written:" << m_file.errorString();
    m_pending.clear();
    if (m_file.isOpen())
        m_file.close();
    if (m_failed)
        return;
    m_failed = true;
    if (onFailure)
        onFailure(failureText());
}

} // namespace vortan
