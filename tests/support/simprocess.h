#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace vortan::test
{

inline QString binDir()
{
    return qEnvironmentVariable("VORTAN_BIN_DIR");
}

// The controller simulator on a pseudo-terminal whose client end is linked at `device()`.
class Simulator
{
public:
    explicit Simulator(const QStringList &extraArguments, const QString &device = {})
    {
        m_device = device.isEmpty() ? m_dir.filePath(QStringLiteral("ttyVortanSim")) : device;
        m_process.setProgram(QDir(binDir()).filePath(QStringLiteral("vortan-sim")));
        m_process.setArguments(QStringList{QStringLiteral("--link"), m_device} + extraArguments);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
    }
    ~Simulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // The first line of the simulator's output names its pseudo-terminal once it serves.
    bool waitReady()
    {
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired()) {
            if (!m_process.waitForReadyRead(100) && m_process.state() == QProcess::NotRunning)
                return false;
        }
        if (!m_process.canReadLine())
            return false;
        m_firstLine = QString::fromUtf8(m_process.readLine()).trimmed();
        return QFile::exists(m_device);
    }

    // SIGTERM; the simulator answers with one JSON line of what it saw on the line.
    QJsonObject stop()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000))
            return {};
        const QList<QByteArray> lines = m_process.readAllStandardOutput().split('\n');
        for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
            const QJsonDocument doc = QJsonDocument::fromJson(it->trimmed());
            if (doc.isObject())
                return doc.object();
        }
        return {};
    }

    // The next line the simulator prints, without its line end; empty when none comes in time.
    QString readLine(int timeoutMs = 3000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine() && !deadline.hasExpired()) {
            if (!m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) &&
                m_process.state() == QProcess::NotRunning)
                break;
        }
        if (!m_process.canReadLine())
            return {};
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    // Writes one command line (a one-shot fault, `scenario NAME`) and waits for its
    // "ok <command>" answer; false when it answered "error: ..." or not at all.
    bool send(const QString &command, int timeoutMs = 3000)
    {
        const QString ok = QStringLiteral("ok ") + command.simplified();
        m_process.write(command.toUtf8() + '\n');
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QString line = readLine(int(qMax<qint64>(1, deadline.remainingTime())));
            if (line == ok)
                return true;
            if (line.isEmpty() || line.startsWith(QStringLiteral("error:")) ||
                deadline.hasExpired())
                return false;
        }
    }

    // A command answered by one line of JSON (`status`, `stats`); empty when the answer was an
    // error or did not come in time.
    QJsonObject query(const QString &command, int timeoutMs = 3000)
    {
        m_process.write(command.toUtf8() + '\n');
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QString line = readLine(int(qMax<qint64>(1, deadline.remainingTime())));
            if (line.isEmpty() || line.startsWith(QStringLiteral("error:")))
                return {};
            const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8());
            if (doc.isObject())
                return doc.object();
            if (deadline.hasExpired())
                return {};
        }
    }

    QString device() const { return m_device; }
    QString firstLine() const { return m_firstLine; }
    QByteArray errors() { return m_process.readAllStandardError(); }

private:
    QTemporaryDir m_dir;
    QString m_device;
    QString m_firstLine;
    QProcess m_process;
};

inline int requests(const QJsonObject &counters, const char *function)
{
    return counters.value(QStringLiteral("requests")).toObject().value(function).toInt(-1);
}

} // namespace vortan::test
