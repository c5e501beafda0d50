#pragma once

// Drives a real vortan-sim process and talks to it through its pseudo-terminal with raw bytes.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vortan::simtest
{

// Our own CRC-16/MODBUS, independent of both the simulator (Qt's) and the service program's.
inline quint16 Crc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

inline QByteArray WithCrc(QByteArray frame)
{
    const quint16 crc = Crc(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

inline QByteArray Frame(std::initializer_list<int> bytes)
{
    QByteArray f;
    for (int b : bytes)
        f.append(char(b));
    return WithCrc(f);
}

inline bool CrcGood(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const quint16 crc = Crc(frame.left(frame.size() - 2));
    return quint8(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           quint8(frame.at(frame.size() - 1)) == (crc >> 8);
}

inline quint16 Word(const QByteArray &bytes, int i)
{
    return quint16(quint8(bytes.at(i)) << 8 | quint8(bytes.at(i + 1)));
}

// Status register n of a function-4 reply.
inline quint16 StatusWord(const QByteArray &reply, int n)
{
    return Word(reply, 3 + 2 * n);
}

inline quint32 StatusDWord(const QByteArray &reply, int n)
{
    return quint32(StatusWord(reply, n)) << 16 | StatusWord(reply, n + 1);
}

inline const QByteArray StatusPoll = QByteArray::fromHex("010407D00048F0B1");
inline const QByteArray ResetAlarms = QByteArray::fromHex("01060FA1CBD08D90");

inline QString BinDir()
{
    return qEnvironmentVariable("VORTAN_BIN_DIR");
}

// The client's end of the line, opened the way a POSIX program opens a serial port: raw,
// 115200 8E1, all in one tcsetattr before any byte moves.
class Line
{
public:
    Line() = default;
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    ~Line() { close(); }

    // flush = false keeps whatever the line already holds for the reader.
    bool open(const QString &path, QString *error = nullptr, bool flush = true)
    {
        close();
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) {
            if (error)
                *error = QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        termios t{};
        ::tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        t.c_cflag |= CS8 | CREAD | CLOCAL | PARENB;
        t.c_cflag &= ~(PARODD | CSTOPB);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (::tcsetattr(m_fd, TCSANOW, &t) != 0) {
            if (error)
                *error = QStringLiteral("tcsetattr: %1").arg(strerror(errno));
            close();
            return false;
        }
        if (flush)
            ::tcflush(m_fd, TCIOFLUSH);
        return true;
    }
    // Bytes waiting to be read, without reading them.
    int pending() const
    {
        int n = -1;
        ::ioctl(m_fd, FIONREAD, &n);
        return n;
    }
    // Whether the terminal refuses further opens (TIOCEXCL).
    bool exclusive() const
    {
        int on = 0;
        ::ioctl(m_fd, TIOCGEXCL, &on);
        return on != 0;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool write(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Bytes until `want` have arrived or the deadline passes.
    QByteArray read(int want, int timeoutMs)
    {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < want && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
                continue;
            char buffer[512];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, qsizetype(n));
        }
        return got;
    }
    QByteArray exchange(const QByteArray &request, int want, int timeoutMs = 2000)
    {
        if (!write(request))
            return {};
        return read(want, timeoutMs);
    }

private:
    int m_fd = -1;
};

// One simulator process: its client path, its command channel and its counters at the end.
class Sim
{
public:
    ~Sim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start(const QStringList &args = {})
    {
        m_process.start(BinDir() + QStringLiteral("/vortan-sim"), args);
        if (!m_process.waitForStarted(10000))
            return false;
        m_path = readLine(10000);
        return !m_path.isEmpty();
    }
    QString path() const { return m_path; }
    QProcess &process() { return m_process; }

    QString readLine(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine() && !deadline.hasExpired() &&
               m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        if (!m_process.canReadLine())
            return {};
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    // A command on standard input, answered on standard output before it takes effect.
    QString command(const QString &line)
    {
        m_process.write((line + QLatin1Char('\n')).toUtf8());
        m_process.waitForBytesWritten(5000);
        return readLine(5000);
    }
    // SIGTERM, then the counters it printed last.
    QJsonObject terminate()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000))
            return {};
        const QList<QByteArray> lines = m_process.readAllStandardOutput().trimmed().split('\n');
        return QJsonDocument::fromJson(lines.last()).object();
    }

private:
    QProcess m_process;
    QString m_path;
};

} // namespace vortan::simtest
