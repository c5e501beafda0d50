#pragma once

// Raw bytes to and from a real vortan-sim process through its pseudo-terminal.

#include "simprocess.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vortan::simtest
{

// Our own CRC-16/MODBUS, independent of both the simulator (Qt's) and the service program's.
inline QByteArray WithCrc(QByteArray frame)
{
    quint16 crc = 0xFFFF;
    for (char c : std::as_const(frame)) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return frame.append(char(crc & 0xFF)).append(char(crc >> 8));
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
    return frame.size() >= 3 && WithCrc(frame.chopped(2)) == frame;
}

// The big-endian word at byte i; -1 when the bytes end before it.
inline int Word(const QByteArray &bytes, int i)
{
    return i >= 0 && i + 1 < bytes.size() ? quint8(bytes.at(i)) << 8 | quint8(bytes.at(i + 1)) : -1;
}

// Status register n of a function-4 reply.
inline int StatusWord(const QByteArray &reply, int n)
{
    return Word(reply, 3 + 2 * n);
}

// Command-line arguments written as one line.
inline QStringList Args(const char *line)
{
    return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

inline const QByteArray StatusPoll = QByteArray::fromHex("010407D00048F0B1");
inline const QByteArray ResetAlarms = QByteArray::fromHex("01060FA1CBD08D90");

// The client's end of the line, opened the way a POSIX program opens a serial port: raw,
// 115200 8E1, all in one tcsetattr before any byte moves.
class Line
{
public:
    Line() = default;
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    ~Line() { close(); }

    bool open(const QString &path)
    {
        close();
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (m_fd < 0 || ::tcgetattr(m_fd, &t) != 0)
            return false;
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        t.c_cflag = (t.c_cflag & ~(PARODD | CSTOPB)) | CS8 | CREAD | CLOCAL | PARENB;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (::tcsetattr(m_fd, TCSANOW, &t) != 0)
            return false;
        ::tcflush(m_fd, TCIOFLUSH);
        return true;
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
        return write(request) ? read(want, timeoutMs) : QByteArray();
    }

private:
    int m_fd = -1;
};

} // namespace vortan::simtest
