#include "sim/ptyrelay.h"

#include <QList>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vortan::sim
{

Q_DECLARE_LOGGING_CATEGORY(lcSim)

namespace
{

constexpr int MaxUndelivered = 65536;

// minBytes 1 makes a non-blocking read of an idle line fail with EAGAIN instead of returning 0,
// so that 0 keeps meaning a hang-up.
termios rawLine(bool evenParity, bool oddFlag, int minBytes)
{
    termios t{};
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    if (evenParity)
        t.c_cflag |= PARENB;
    if (oddFlag)
        t.c_cflag |= PARODD;
    t.c_cc[VMIN] = cc_t(minBytes);
    t.c_cc[VTIME] = 0;
    return t;
}

void setFlags(int fd, bool nonBlocking)
{
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    if (nonBlocking)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString slavePath(int master)
{
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0)
        return {};
    return QString::fromLocal8Bit(name);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Writes as much of buffer as the descriptor takes now; false on a hard error.
bool writeSome(int fd, QByteArray &buffer)
{
    while (!buffer.isEmpty()) {
        const ssize_t n = ::write(fd, buffer.constData(), size_t(buffer.size()));
        if (n > 0) {
            buffer.remove(0, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
    return true;
}

} // namespace

PtyRelay::PtyRelay(FaultPlan &plan, SimCounters &counters, const LineSettings &line,
                   QObject *parent)
    : QObject(parent), m_plan(plan), m_counters(counters), m_line(line, counters)
{
    m_clock.start();
    m_dueTimer.setSingleShot(true);
    m_dueTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_dueTimer, &QTimer::timeout, this, &PtyRelay::sendDue);
    m_lineTimer.setSingleShot(true);
    m_lineTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_lineTimer, &QTimer::timeout, this, &PtyRelay::runLine);
    m_partialTimer.setSingleShot(true);
    connect(&m_partialTimer, &QTimer::timeout, this, [this] { takeReplies(true); });
    m_armTimer.setInterval(200);
    connect(&m_armTimer, &QTimer::timeout, this, &PtyRelay::keepClientSideUsable);
    m_clientRetryTimer.setSingleShot(true);
    m_clientRetryTimer.setInterval(100);
    connect(&m_clientRetryTimer, &QTimer::timeout, this, [this] {
        if (m_clientRead)
            m_clientRead->setEnabled(true);
    });
}

PtyRelay::~PtyRelay()
{
    for (QSocketNotifier *n :
         {m_serverRead, m_serverWrite, m_clientRead, m_clientWrite, m_clientEvents}) {
        if (n)
            n->setEnabled(false);
    }
    closeFd(m_inotifyFd);
    closeFd(m_clientFd);
    closeFd(m_keeperFd);
    closeFd(m_serverMaster);
    closeFd(m_serverSlave);
}

bool PtyRelay::openServerSide(QString *error)
{
    termios t = rawLine(false, false, 0);
    if (::openpty(&m_serverMaster, &m_serverSlave, nullptr, &t, nullptr) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(systemError());
        return false;
    }
    // Our own hold on the server's end keeps the relay from seeing a hang-up should the server
    // ever close its port.
    setFlags(m_serverMaster, true);
    setFlags(m_serverSlave, false);
    m_serverPath = slavePath(m_serverMaster);
    m_serverRead = new QSocketNotifier(m_serverMaster, QSocketNotifier::Read, this);
    connect(m_serverRead, &QSocketNotifier::activated, this, &PtyRelay::readFromServer);
    m_serverWrite = new QSocketNotifier(m_serverMaster, QSocketNotifier::Write, this);
    m_serverWrite->setEnabled(false);
    connect(m_serverWrite, &QSocketNotifier::activated, this, &PtyRelay::flushToServer);
    return true;
}

bool PtyRelay::openPseudoTerminalPair(QString *error)
{
    if (!openServerSide(error))
        return false;
    termios t = rawLine(false, true, 0);
    if (::openpty(&m_clientFd, &m_keeperFd, nullptr, &t, nullptr) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(systemError());
        return false;
    }
    setFlags(m_clientFd, true);
    setFlags(m_keeperFd, false);
    m_clientPath = slavePath(m_clientFd);
    watchClientSide();
    m_clientRead = new QSocketNotifier(m_clientFd, QSocketNotifier::Read, this);
    connect(m_clientRead, &QSocketNotifier::activated, this, &PtyRelay::readFromClient);
    m_clientWrite = new QSocketNotifier(m_clientFd, QSocketNotifier::Write, this);
    m_clientWrite->setEnabled(false);
    connect(m_clientWrite, &QSocketNotifier::activated, this, &PtyRelay::flushToClient);
    m_armTimer.start();
    return true;
}

bool PtyRelay::openDevice(const QString &path, QString *error)
{
    if (!openServerSide(error))
        return false;
    const QByteArray native = path.toLocal8Bit();
    m_clientFd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_clientFd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, systemError());
        return false;
    }
    if (!::isatty(m_clientFd)) {
        *error = QStringLiteral("%1 is not a serial device").arg(path);
        return false;
    }
    ::ioctl(m_clientFd, TIOCEXCL);
    // Parity goes in a second step: a pseudo-terminal refuses a request whose only effect would
    // be the parity, and the rest must not fail with it.
    termios t = rawLine(false, false, 1);
    if (::tcsetattr(m_clientFd, TCSANOW, &t) != 0) {
        *error = QStringLiteral("cannot set 115200 8N1 raw on %1: %2").arg(path, systemError());
        return false;
    }
    t.c_cflag |= PARENB;
    if (::tcsetattr(m_clientFd, TCSANOW, &t) != 0)
        qCWarning(lcSim).noquote() << "cannot set even parity on" << path << "-" << systemError()
                                   << "(expected for a pseudo-terminal)";
    ::tcflush(m_clientFd, TCIOFLUSH);
    m_clientIsDevice = true;
    m_clientPath = path;
    m_clientRead = new QSocketNotifier(m_clientFd, QSocketNotifier::Read, this);
    connect(m_clientRead, &QSocketNotifier::activated, this, &PtyRelay::readFromClient);
    m_clientWrite = new QSocketNotifier(m_clientFd, QSocketNotifier::Write, this);
    m_clientWrite->setEnabled(false);
    connect(m_clientWrite, &QSocketNotifier::activated, this, &PtyRelay::flushToClient);
    return true;
}

void PtyRelay::watchClientSide()
{
    m_clientOpens = -1;
    m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotifyFd < 0) {
        qCDebug(lcSim) << "no inotify; clients are not tracked:" << systemError();
        return;
    }
    const QByteArray native = m_clientPath.toLocal8Bit();
    if (::inotify_add_watch(m_inotifyFd, native.constData(),
                            IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        qCDebug(lcSim) << "cannot watch" << m_clientPath << systemError();
        closeFd(m_inotifyFd);
        return;
    }
    m_clientOpens = 0;
    m_clientEvents = new QSocketNotifier(m_inotifyFd, QSocketNotifier::Read, this);
    connect(m_clientEvents, &QSocketNotifier::activated, this, &PtyRelay::readClientEvents);
}

void PtyRelay::readClientEvents()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotifyFd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += ssize_t(sizeof(inotify_event) + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                m_clientOpens = -1;
            } else if (m_clientOpens >= 0 && (event.mask & IN_OPEN)) {
                ++m_clientOpens;
            } else if (m_clientOpens > 0 && (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE))) {
                // At once, not after the batch: a successor's open may follow in it.
                if (--m_clientOpens == 0)
                    forgetClient();
            }
        }
    }
    keepClientSideUsable();
}

void PtyRelay::forgetClient()
{
    qCDebug(lcSim) << "last client left" << m_clientPath;
    ::ioctl(m_keeperFd, TIOCNXCL);
    ::tcflush(m_keeperFd, TCIFLUSH);
    m_pending.clear();
    m_toClient.clear();
    m_dueTimer.stop();
    m_line.clear();
    m_lineTimer.stop();
    m_clientWrite->setEnabled(false);
}

void PtyRelay::keepClientSideUsable()
{
    if (m_keeperFd < 0)
        return;
    termios t{};
    if (::tcgetattr(m_keeperFd, &t) != 0 || (t.c_cflag & PARODD))
        return;
    t.c_cflag |= PARODD;
    ::tcsetattr(m_keeperFd, TCSANOW, &t);
}

void PtyRelay::readFromServer()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_serverMaster, buffer, sizeof buffer);
        if (n > 0) {
            m_fromServer.append(buffer, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        m_serverRead->setEnabled(false);
        emit failed(QStringLiteral("the Modbus server's line closed: %1")
                        .arg(n < 0 ? systemError() : QStringLiteral("end of file")));
        return;
    }
    takeReplies(false);
}

void PtyRelay::readFromClient()
{
    char buffer[4096];
    QByteArray received;
    for (;;) {
        const ssize_t n = ::read(m_clientFd, buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (m_clientIsDevice) {
            m_clientRead->setEnabled(false);
            emit failed(
                QStringLiteral("%1 closed: %2")
                    .arg(m_clientPath, n < 0 ? systemError() : QStringLiteral("end of file")));
            return;
        }
        // A pseudo-terminal master reads EIO while no one holds the other end; we do, so this
        // is only a pause.
        m_clientRead->setEnabled(false);
        m_clientRetryTimer.start();
        break;
    }
    if (received.isEmpty())
        return;
    keepClientSideUsable();
    if (m_line.active()) {
        m_line.request(received, m_clock.nsecsElapsed());
        runLine();
        return;
    }
    m_toServer += received;
    flushToServer();
}

void PtyRelay::flushToServer()
{
    if (!writeSome(m_serverMaster, m_toServer)) {
        qCWarning(lcSim) << "cannot pass a request to the Modbus server:" << systemError();
        m_toServer.clear();
    }
    m_serverWrite->setEnabled(!m_toServer.isEmpty());
}

void PtyRelay::flushToClient()
{
    if (!writeSome(m_clientFd, m_toClient)) {
        qCWarning(lcSim) << "cannot write to" << m_clientPath << systemError();
        m_toClient.clear();
    }
    if (m_toClient.size() > MaxUndelivered) {
        qCWarning(lcSim) << "no one reads" << m_clientPath << "- dropping" << m_toClient.size()
                         << "bytes";
        m_toClient.clear();
    }
    m_clientWrite->setEnabled(!m_toClient.isEmpty());
}

void PtyRelay::takeReplies(bool force)
{
    m_partialTimer.stop();
    const qint64 now = m_clock.elapsed();
    while (!m_fromServer.isEmpty()) {
        const int length = ReplyFrameLength(m_fromServer);
        if (length == 0 && !force) {
            m_partialTimer.start(PartialReplyMs);
            break;
        }
        if (length <= 0) {
            queue(m_fromServer, now, false);
            m_fromServer.clear();
            break;
        }
        scheduleReply(m_fromServer.left(length));
        m_fromServer.remove(0, length);
    }
    sendDue();
}

void PtyRelay::scheduleReply(QByteArray frame)
{
    const FaultDecision d = m_plan.nextReply();
    if (d.drop) {
        ++m_counters.drop;
        return;
    }
    const QByteArray intact = d.corrupt ? QByteArray() : frame;
    if (d.corrupt) {
        ++m_counters.corrupt;
        frame[frame.size() - 1] = char(quint8(frame.back()) ^ 0xFF);
    }
    qint64 due = m_clock.elapsed();
    if (d.delayMs >= 0) {
        ++m_counters.delay;
        due += d.delayMs;
    }
    if (d.splitMs >= 0 && frame.size() >= 2) {
        ++m_counters.split;
        const qsizetype half = frame.size() / 2;
        queue(frame.left(half), due, false, {}, true);
        queue(frame.mid(half), due + d.splitMs, true, intact);
    } else {
        queue(frame, due, true, intact);
    }
}

void PtyRelay::queue(const QByteArray &bytes, qint64 due, bool completesReply,
                     const QByteArray &intactReply, bool more)
{
    // Replies leave in the order the server gave them, however each one is held back.
    if (!m_pending.empty())
        due = qMax(due, m_pending.back().due);
    m_pending.push_back(Pending{bytes, due, completesReply, intactReply, more});
}

void PtyRelay::sendDue()
{
    const qint64 now = m_clock.elapsed();
    bool wrote = false;
    QList<QByteArray> delivered;
    while (!m_pending.empty() && m_pending.front().due <= now) {
        // A reply to a client that has gone would greet the next one as garbage.
        if (m_clientOpens != 0 && m_line.active()) {
            const Pending &p = m_pending.front();
            m_line.reply(p.bytes, m_clock.nsecsElapsed(), p.more, p.completesReply, p.intactReply);
        } else if (m_clientOpens != 0) {
            m_toClient += m_pending.front().bytes;
            if (m_pending.front().completesReply)
                ++m_counters.replies;
            if (!m_pending.front().intactReply.isEmpty())
                delivered.append(m_pending.front().intactReply);
            wrote = true;
        }
        m_pending.pop_front();
    }
    if (wrote)
        flushToClient();
    for (const QByteArray &frame : std::as_const(delivered))
        emit replyDelivered(frame);
    if (!m_pending.empty())
        m_dueTimer.start(int(qMax<qint64>(0, m_pending.front().due - now)));
    if (m_line.active())
        runLine();
}

void PtyRelay::runLine()
{
    const qint64 now = m_clock.nsecsElapsed();
    const LineModel::Output out = m_line.advance(now);
    if (!out.toServer.isEmpty()) {
        m_toServer += out.toServer;
        flushToServer();
    }
    if (!out.toClient.isEmpty() && m_clientOpens != 0) {
        m_toClient += out.toClient;
        m_counters.replies += out.replies;
        flushToClient();
        for (const QByteArray &frame : out.intact)
            emit replyDelivered(frame);
    }
    const std::optional<qint64> next = m_line.nextEvent();
    if (!next) {
        m_lineTimer.stop();
        return;
    }
    // Rounded up: a timer that fires before the byte is due would only spin.
    constexpr qint64 Ms = 1000000;
    m_lineTimer.start(int(qBound(qint64(0), (*next - now + Ms - 1) / Ms, qint64(60000))));
}

} // namespace vortan::sim
