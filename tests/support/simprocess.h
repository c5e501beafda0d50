#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace vortan::test {

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
