#pragma once

#include "format/fileparts.h"
#include "modbus/exchangerecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <functional>

namespace vortan
{

// The frame trace (--trace FILE): one TraceLine per exchange appended to the file, written out
// at least once a second so a crash loses little and `tail -f` follows the line. The trace is
// split like a recording (FileParts), by the time of each exchange; every part starts with the
// column line. A file that cannot be written is reported once through onFailure and tracing
// stops; the exchange with the controller goes on either way.
class TraceFile : public ExchangeObserver
{
public:
    static constexpr int FlushIntervalMs = 1000;

    explicit TraceFile(const QString &path);
    ~TraceFile() override;

    void setSplitBytes(qint64 bytes) { m_parts.setSplitBytes(bytes); }

    // Opens the file for appending and writes the column line; false when it cannot be written.
    bool open();
    void exchanged(const ExchangeRecord &record) override;
    bool wantsEveryReplyTime() const override { return true; }
    // Hands what is buffered to the system.
    void flush();

    bool isWriting() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); } // the part written now
    QStringList files() const { return m_parts.files(); }
    // The one message of a failure: "Файл трассировки … не записывается".
    QString failureText() const;

    std::function<void(const QString &message)> onFailure;

private:
    void fail();

    QFile m_file;
    FileParts m_parts;
    QByteArray m_pending;
    qint64 m_written = 0; // bytes of the current part handed to the system
    qint64 m_partLines = 0;
    QElapsedTimer m_sinceFlush;
    bool m_failed = false;
};

} // namespace vortan
