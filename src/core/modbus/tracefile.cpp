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
    m_pending = TraceHeader().toUtf8() + '\n';
    flush();
    return m_file.isOpen();
}

void TraceFile::exchanged(const ExchangeRecord &record)
{
    if (!m_file.isOpen())
        return;
    if (!record.idle()) {
        m_pending += TraceLine(record).toLatin1();
        m_pending += '\n';
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
