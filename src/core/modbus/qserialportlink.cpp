#include "qserialportlink.h"
#include "format/logging.h"

#include <QFileInfo>
#include <QLoggingCategory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <cstring>
#include <linux/serial.h>
#endif

namespace vortan
{

namespace
{

// The path to open and to lock: symbolic links (by-id names, the simulator's --link) resolved,
// so two programs reaching one device by different names still see each other's lock.
QString resolveDevice(const QString &device)
{
#ifdef Q_OS_UNIX
    if (device.isEmpty())
        return {};
    return QFileInfo(device).canonicalFilePath();
#else
    return device;
#endif
}

// A refused open of a device we may read and write means another program holds it.
bool accessibleToUs(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(path);
    return true;
#endif
}

#ifdef Q_OS_LINUX
// An FTDI converter holds a short last packet back for its latency timer (16 ms by default, longer
// than a reply takes on the wire); low latency makes its driver set the timer to 1 ms. Ports
// without the setting (pseudo-terminals) refuse it, and that changes nothing.
void requestLowLatency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        const int error = errno;
        qCDebug(lcSerial) << "no low latency setting:" << std::strerror(error);
        return;
    }
    if (serial.flags & ASYNC_LOW_LATENCY)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) {
        const int error = errno;
        qCDebug(lcSerial) << "low latency refused:" << std::strerror(error);
    }
}
#endif

} // namespace

QSerialPortLink::QSerialPortLink(DeviceOf deviceOf, QObject *parent)
    : QObject(parent), m_deviceOf(std::move(deviceOf)), m_serial(this)
{
    m_serial.setReadBufferSize(ReadBufferBytes);
    m_clock.start();
    m_reopenTimer.setInterval(ReopenIntervalMs);
    connect(&m_reopenTimer, &QTimer::timeout, this, &QSerialPortLink::tryReopen);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &QSerialPortLink::onError);
    connect(&m_serial, &QSerialPort::readyRead, this, &QSerialPortLink::stampArrival);
    connect(&m_serial, &QSerialPort::bytesWritten, this, &QSerialPortLink::stampSent);
}

QSerialPortLink::~QSerialPortLink()
{
    m_reopenTimer.stop();
    disconnect(&m_serial, nullptr, this, nullptr);
    if (m_serial.isOpen())
        m_serial.close();
}

void QSerialPortLink::selectPort(int n)
{
    m_port = n;
}

OpenResult QSerialPortLink::open()
{
    settleLoss();
    if (m_serial.isOpen())
        return OpenResult::Unavailable;
    m_reopenTimer.stop();
    m_lost = false;
    return openDevice();
}

OpenResult QSerialPortLink::openDevice()
{
    const QString wanted = m_deviceOf ? m_deviceOf(m_port) : QString();
    const QString path = resolveDevice(wanted);
    if (path.isEmpty()) {
        qCDebug(lcSerial) << "port" << m_port << "has no device" << wanted;
        return OpenResult::Unavailable;
    }
    m_serial.setPortName(path);
    // Line settings before open(): once open, a pseudo-terminal refuses a change to even parity.
    m_serial.setBaudRate(QSerialPort::Baud115200);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::EvenParity);
    m_serial.setStopBits(QSerialPort::OneStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    if (m_serial.open(QIODevice::ReadWrite)) {
        m_device = wanted;
        m_openedPath = path;
        m_lost = false;
#ifdef Q_OS_LINUX
        requestLowLatency(int(m_serial.handle()));
#endif
        m_adapter = readAdapterInfo(path);
        applyArrivalStamps();
        qCInfo(lcSerial) << "port" << m_port << "open on" << path;
        emit adapterChanged();
        return OpenResult::Ok;
    }
    const QSerialPort::SerialPortError error = m_serial.error();
    const QString reason = m_serial.errorString();
    m_serial.clearError();
    if (m_serial.isOpen())
        m_serial.close();
    qCInfo(lcSerial) << "port" << m_port << "on" << path << "refused:" << reason;
    if (error == QSerialPort::PermissionError)
        return accessibleToUs(path) ? OpenResult::InUse : OpenResult::Forbidden;
    return OpenResult::Unavailable;
}

void QSerialPortLink::close()
{
    m_reopenTimer.stop();
    m_lost = false;
    if (m_serial.isOpen())
        m_serial.close();
    m_serial.clearError();
    if (m_adapter.known()) {
        m_adapter = {};
        emit adapterChanged();
    }
}

int QSerialPortLink::bytesWaiting()
{
    settleLoss();
    if (!isOpen())
        return 0;
    if (const qint64 buffered = m_serial.bytesAvailable(); buffered > 0)
        return int(buffered);
    if (!m_stampArrivals)
        return driverBytes();
    if (driverHoldsBytes()) {
        // A tick sees what arrived even when no event loop turn has run since the request went
        // out. The port's own zero-timeout wait is taken only when there is something to take:
        // finding nothing it sets and signals a timeout error, every tick.
        m_serial.waitForReadyRead(0);
        settleLoss();
        if (!isOpen())
            return 0;
    }
    return int(m_serial.bytesAvailable());
}

int QSerialPortLink::readByte()
{
    quint8 b = 0;
    return readBytes(&b, 1) == 1 ? b : -1;
}

int QSerialPortLink::readBytes(quint8 *dst, int max)
{
    settleLoss();
    if (!isOpen() || max <= 0)
        return 0;
    // What the port took in while its notifier was on comes first, then the driver's.
    const qint64 buffered = m_serial.bytesAvailable();
    if (buffered > 0 || m_stampArrivals) {
        const qint64 got = m_serial.read(reinterpret_cast<char *>(dst),
                                         m_stampArrivals ? max : qMin<qint64>(max, buffered));
        // Reading through the port switches its notifier back on.
        applyArrivalStamps();
        return got > 0 ? int(got) : 0;
    }
    return readDriver(dst, max);
}

void QSerialPortLink::write(const QByteArray &frame)
{
    settleLoss();
    if (!isOpen())
        return;
    m_timing.requestSentUs = -1;
    m_timing.lastArrivalUs = -1; // anything before belongs to the exchange closed already
    m_sending = true;
    qsizetype done = 0;
#ifdef Q_OS_UNIX
    // Straight to the driver when nothing is queued: a frame fits its buffer, and the port's own
    // queue would wake the event loop twice a tick for nothing. What it does not take (or an
    // error) goes through the port, which reports it.
    if (m_serial.bytesToWrite() == 0) {
        const ssize_t n = ::write(int(m_serial.handle()), frame.constData(), size_t(frame.size()));
        done = n > 0 ? qsizetype(n) : 0;
    }
#endif
    if (done < frame.size()) {
        m_serial.write(frame.constData() + done, frame.size() - done);
        // Hand the bytes to the driver now rather than on the next event loop turn; never waits.
        m_serial.waitForBytesWritten(0);
    }
    stampSent();
    settleLoss();
}

void QSerialPortLink::stampSent()
{
    if (m_sending && m_serial.bytesToWrite() == 0) {
        m_sending = false;
        m_timing.requestSentUs = m_clock.nsecsElapsed() / 1000;
    }
}

void QSerialPortLink::stampArrival()
{
    m_timing.lastArrivalUs = m_clock.nsecsElapsed() / 1000;
}

void QSerialPortLink::setArrivalStamps(bool on)
{
#ifndef Q_OS_UNIX
    // The tick reads the driver itself only where it knows how; elsewhere every reply is stamped.
    on = true;
#endif
    if (on == m_stampArrivals)
        return;
    m_stampArrivals = on;
    applyArrivalStamps();
}

void QSerialPortLink::applyArrivalStamps()
{
    if (!m_serial.isOpen())
        return;
    if (!m_readNotifier) {
        const auto notifiers =
            m_serial.findChildren<QSocketNotifier *>(QString(), Qt::FindDirectChildrenOnly);
        for (QSocketNotifier *n : notifiers) {
            if (n->type() == QSocketNotifier::Read)
                m_readNotifier = n;
        }
    }
    // Without it found, the port reads as it always does and every reply is stamped.
    if (m_readNotifier && m_readNotifier->isEnabled() != m_stampArrivals)
        m_readNotifier->setEnabled(m_stampArrivals);
}

int QSerialPortLink::driverBytes()
{
#ifdef Q_OS_UNIX
    const int revents = lookAtDriver(POLLIN);
    if (revents == 0)
        return 0;
    // The port's notifier found a hang-up or an error as it read; here the look finds it.
    if (revents < 0 || (revents & (POLLHUP | POLLERR | POLLNVAL))) {
        driverFailed();
        return 0;
    }
    int n = 0;
    if (::ioctl(int(m_serial.handle()), FIONREAD, &n) != 0) {
        driverFailed();
        return 0;
    }
    return n;
#else
    return 0;
#endif
}

int QSerialPortLink::readDriver(quint8 *dst, int max)
{
#ifdef Q_OS_UNIX
    const ssize_t n = ::read(int(m_serial.handle()), dst, size_t(max));
    if (n > 0)
        return int(n);
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        driverFailed();
#else
    Q_UNUSED(dst);
    Q_UNUSED(max);
#endif
    return 0;
}

void QSerialPortLink::driverFailed()
{
    if (!m_lost && m_serial.isOpen() && deviceGone())
        loseDevice();
}

int QSerialPortLink::lookAtDriver(short events) const
{
#ifdef Q_OS_UNIX
    pollfd fd{};
    fd.fd = int(m_serial.handle());
    fd.events = events;
    return ::poll(&fd, 1, 0) < 0 ? -1 : fd.revents;
#else
    Q_UNUSED(events);
    return -1;
#endif
}

bool QSerialPortLink::driverHoldsBytes() const
{
#ifdef Q_OS_UNIX
    // An error or hang-up is left to the port's own read to find and report.
    return lookAtDriver(POLLIN) != 0;
#else
    return true;
#endif
}

bool QSerialPortLink::deviceGone() const
{
    if (!m_serial.isOpen())
        return true;
#ifdef Q_OS_UNIX
    const int revents = lookAtDriver(POLLIN | POLLOUT);
    return revents < 0 || (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ||
           !QFileInfo::exists(m_openedPath);
#else
    return true;
#endif
}

void QSerialPortLink::onError(QSerialPort::SerialPortError error)
{
    if (m_lost || !m_serial.isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        // A pulled adapter or a hung-up terminal; but a read that merely found nothing
        // (EAGAIN after a spurious wake-up) is reported the same way and leaves the device alone.
        if (!deviceGone())
            return;
        break;
    default:
        return;
    }
    loseDevice();
}

void QSerialPortLink::loseDevice()
{
    qCWarning(lcSerial) << "port" << m_port << "lost: device" << m_device << "is gone";
    m_lost = true;
    m_reopenTimer.start();
    // QSerialPort may still be inside its own notification here; close once it has returned.
    QMetaObject::invokeMethod(this, &QSerialPortLink::settleLoss, Qt::QueuedConnection);
    emit deviceLost(m_device);
}

void QSerialPortLink::settleLoss()
{
    if (m_lost && m_serial.isOpen()) {
        m_serial.close();
        m_serial.clearError();
    }
}

void QSerialPortLink::tryReopen()
{
    settleLoss();
    if (openDevice() == OpenResult::Ok) {
        m_reopenTimer.stop();
        qCInfo(lcSerial) << "port" << m_port << "back on" << m_device;
        emit deviceBack(m_device);
    }
}

} // namespace vortan
