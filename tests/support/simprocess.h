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
        m_process.start(QDir(binDir()).filePath(QStringLiteral("vortan-sim")),
                        QStringList{QStringLiteral("--link"), m_device} + extraArguments);
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
        m_firstLine = readLine(10000);
        return !m_firstLine.isEmpty() && QFile::exists(m_device);
    }

    // SIGTERM; after a clean exit, the one JSON line of what the simulator saw on the line, else
    // empty. A simulator that is no longer running gets no signal: pid 0 would be our own group.
    QJsonObject stop()
    {
        if (m_process.state() != QProcess::Running)
            return {};
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000) || m_process.exitStatus() != QProcess::NormalExit ||
            m_process.exitCode() != 0)
            return {};
        const QList<QByteArray> lines = m_process.readAllStandardOutput().trimmed().split('\n');
        return QJsonDocument::fromJson(lines.last()).object();
    }

    // The next line the simulator prints, without its line end; empty when none comes in time.
    QString readLine(int timeoutMs = 3000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine() && !deadline.hasExpired() &&
               m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        return m_process.canReadLine() ? QString::fromUtf8(m_process.readLine()).trimmed()
                                       : QString();
    }

    // Writes one command line (a one-shot fault, `scenario NAME`); true when the simulator
    // answered "ok <command>".
    bool send(const QString &command)
    {
        m_process.write(command.toUtf8() + '\n');
        return readLine() == QStringLiteral("ok ") + command.simplified();
    }

    // A command answered by one line of JSON (`status`, `stats`); empty when the answer was an
    // error or did not come in time.
    QJsonObject query(const QString &command)
    {
        m_process.write(command.toUtf8() + '\n');
        return QJsonDocument::fromJson(readLine().toUtf8()).object();
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
