#include "tcplink.h"
#include "format/logging.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QSignalBlocker>
#include <QUrl>

namespace vortan
{

namespace
{

const QLatin1String RawScheme("tcp");
const QLatin1String TelnetScheme("rfc2217");

} // namespace

bool NetworkAddress::isNetwork(const QString &device)
{
    const QString d = device.trimmed();
    return d.startsWith(RawScheme + QLatin1String("://"), Qt::CaseInsensitive) ||
           d.startsWith(TelnetScheme + QLatin1String("://"), Qt::CaseInsensitive);
}

std::optional<NetworkAddress> NetworkAddress::parse(const QString &device)
{
    if (!isNetwork(device))
        return std::nullopt;
    const QUrl url(device.trimmed(), QUrl::StrictMode);
    const int port = url.port();
    if (!url.isValid() || url.host().isEmpty() || port < 1 || port > 65535 ||
        !url.userInfo().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/")) ||
        url.hasQuery() || url.hasFragment())
        return std::nullopt;
    NetworkAddress address;
    address.kind = url.scheme() == TelnetScheme ? Kind::Rfc2217 : Kind::Raw;
    address.host = url.host();
    address.port = quint16(port);
    return address;
}

QString NetworkAddress::hostAndPort() const
{
    const bool v6 = QHostAddress(host).protocol() == QAbstractSocket::IPv6Protocol;
    return (v6 ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(port);
}

NetworkLink::NetworkLink(DeviceOf deviceOf, QObject *parent)
    : QObject(parent), m_deviceOf(std::move(deviceOf)), m_socket(this)
{
    m_clock.start();
    m_socket.setReadBufferSize(ReadBufferBytes);
    m_reconnectTimer.setInterval(ReconnectIntervalMs);
    m_reconnectTimer.setSingleShot(true);
    m_connectTimer.setInterval(ConnectTimeoutMs);
    m_connectTimer.setSingleShot(true);
    m_settingsTimer.setInterval(SettingsTimeoutMs);
    m_settingsTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &NetworkLink::connectNow);
    connect(&m_connectTimer, &QTimer::timeout, this, &NetworkLink::connectTimedOut);
    connect(&m_settingsTimer, &QTimer::timeout, this, [this] {
        qCWarning(lcSerial) << m_device << "did not confirm the line settings; sending anyway";
        becomeReady();
    });
    connect(&m_socket, &QTcpSocket::connected, this, &NetworkLink::onConnected);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &NetworkLink::onError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &NetworkLink::onDisconnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &NetworkLink::pull);
    connect(&m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_sending && m_socket.bytesToWrite() == 0) {
            m_sending = false;
            m_timing.requestSentUs = m_clock.nsecsElapsed() / 1000;
        }
    });
}

NetworkLink::~NetworkLink()
{
    disconnect(&m_socket, nullptr, this, nullptr);
    m_socket.abort();
}

OpenResult NetworkLink::open()
{
    if (m_ready)
        return OpenResult::Unavailable;
    close();
    m_device = m_deviceOf ? m_deviceOf(m_port) : QString();
    const std::optional<NetworkAddress> address = NetworkAddress::parse(m_device);
    if (!address) {
        m_lastError = QStringLiteral("Неверный адрес %1: нужен tcp://УЗЕЛ:ПОРТ или "
                                     "rfc2217://УЗЕЛ:ПОРТ")
                          .arg(m_device);
        qCInfo(lcSerial) << "port" << m_port << "has a malformed address" << m_device;
        return OpenResult::Unavailable;
    }
    m_address = *address;
    m_active = true;
    m_lastError.clear();
    connectNow();
    return OpenResult::Ok;
}

void NetworkLink::connectNow()
{
    if (!m_active)
        return;
    {
        // A fresh start, not a loss to report.
        const QSignalBlocker quiet(&m_socket);
        m_socket.abort();
    }
    m_rx.clear();
    m_rxPos = 0;
    m_settingsSent = false;
    qCDebug(lcSerial) << "port" << m_port << "connecting to" << m_address.hostAndPort();
    // The name look-up and the connect both run in the background; connected() or
    // errorOccurred() says how they ended.
    m_socket.connectToHost(m_address.host, m_address.port);
    m_connectTimer.start();
}

void NetworkLink::onConnected()
{
    m_connectTimer.stop();
    // A request is one small write; Nagle's delay would add to every exchange.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_address.kind == NetworkAddress::Kind::Raw) {
        becomeReady();
        return;
    }
    m_socket.write(m_telnet.start());
    m_settingsTimer.start();
}

void NetworkLink::becomeReady()
{
    m_settingsTimer.stop();
    if (m_ready || !m_active)
        return;
    m_ready = true;
    m_lastError.clear();
    if (m_address.kind == NetworkAddress::Kind::Rfc2217) {
        const rfc2217::FarLine &far = m_telnet.farLine();
        if (m_telnet.comPortRefused())
            qCWarning(lcSerial) << m_device << "refuses COM-port control; its own settings apply";
        else if (far.complete() && !far.isControllerLine())
            qCWarning(lcSerial) << m_device << "set its line to" << far.text()
                                << "instead of 115200 8E1";
        else if (far.complete())
            qCInfo(lcSerial) << m_device << "line set to" << far.text();
    }
    qCInfo(lcSerial) << "port" << m_port << "connected to" << m_device;
    emit linkUp(m_device);
}

void NetworkLink::onError(QAbstractSocket::SocketError error)
{
    // The zero-time look in bytesWaiting() reports a time-out when nothing came: no fault. The
    // connect's own time-out is connectTimedOut().
    if (error == QAbstractSocket::SocketTimeoutError || !m_active || m_reconnectTimer.isActive())
        return;
    fail(m_socket.errorString());
}

void NetworkLink::onDisconnected()
{
    if (!m_active || m_reconnectTimer.isActive())
        return;
    fail(QStringLiteral("соединение закрыто"));
}

void NetworkLink::connectTimedOut()
{
    if (!m_active || m_ready)
        return;
    {
        const QSignalBlocker quiet(&m_socket);
        m_socket.abort();
    }
    fail(QStringLiteral("нет ответа за %1 с").arg(ConnectTimeoutMs / 1000));
}

void NetworkLink::fail(const QString &reason)
{
    const bool wasReady = m_ready;
    const bool firstFailure = m_lastError.isEmpty();
    m_ready = false;
    m_connectTimer.stop();
    m_settingsTimer.stop();
    m_lastError = QStringLiteral("Нет соединения с %1 (%2): %3")
                      .arg(m_address.hostAndPort(), m_device, reason);
    // Once per outage in the log; the retries every second stay quiet.
    if (wasReady || firstFailure)
        qCWarning(lcSerial).noquote() << "port" << m_port << m_lastError;
    m_reconnectTimer.start();
    emit linkDown(m_device, m_lastError);
}

void NetworkLink::close()
{
    m_active = false;
    m_ready = false;
    m_reconnectTimer.stop();
    m_connectTimer.stop();
    m_settingsTimer.stop();
    m_socket.abort();
    m_rx.clear();
    m_rxPos = 0;
    m_sending = false;
}

void NetworkLink::pull()
{
    while (m_socket.bytesAvailable() > 0 && m_rx.size() - m_rxPos < ReadBufferBytes) {
        const QByteArray chunk = m_socket.read(ReadBufferBytes);
        if (chunk.isEmpty())
            break;
        if (m_address.kind == NetworkAddress::Kind::Raw) {
            m_rx.append(chunk);
        } else {
            QByteArray reply;
            const int before = m_rx.size();
            m_telnet.feed(chunk, m_rx, reply);
            if (m_telnet.comPortAgreed() && !m_settingsSent) {
                m_settingsSent = true;
                reply.append(rfc2217::lineSettings());
            }
            if (!reply.isEmpty())
                m_socket.write(reply);
            if (!m_ready && (m_telnet.farLine().complete() || m_telnet.comPortRefused()))
                becomeReady();
            // Telnet talk alone is no arrival on the controller's line.
            if (m_rx.size() == before)
                continue;
        }
        m_timing.lastArrivalUs = m_clock.nsecsElapsed() / 1000;
    }
    // Bytes that came before the line was ready answer nothing we sent.
    if (!m_ready) {
        m_rx.clear();
        m_rxPos = 0;
    }
}

int NetworkLink::bytesWaiting()
{
    if (!m_ready)
        return 0;
    if (m_rxPos == m_rx.size()) {
        m_rx.clear();
        m_rxPos = 0;
        // One non-blocking look at the socket, so a tick sees what arrived even when no event
        // loop turn has run since the request went out.
        if (m_socket.bytesAvailable() == 0 && m_socket.state() == QAbstractSocket::ConnectedState)
            m_socket.waitForReadyRead(0);
        pull();
        if (!m_ready)
            return 0;
    }
    return int(m_rx.size() - m_rxPos);
}

int NetworkLink::readByte()
{
    if (bytesWaiting() == 0)
        return -1;
    return quint8(m_rx.at(m_rxPos++));
}

void NetworkLink::write(const QByteArray &frame)
{
    if (!m_ready)
        return;
    m_timing.requestSentUs = -1;
    m_sending = true;
    m_socket.write(m_address.kind == NetworkAddress::Kind::Raw ? frame : rfc2217::escape(frame));
    // Hand the bytes to the system now rather than on the next event loop turn; never waits.
    m_socket.flush();
    if (m_socket.bytesToWrite() == 0) {
        m_sending = false;
        m_timing.requestSentUs = m_clock.nsecsElapsed() / 1000;
    }
}

bool NetworkLink::waitForOpen(int timeoutMs)
{
    if (m_ready || !m_active)
        return m_ready;
    QEventLoop loop;
    const auto up = connect(this, &NetworkLink::linkUp, &loop, &QEventLoop::quit);
    const auto down = connect(this, &NetworkLink::linkDown, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(up);
    disconnect(down);
    if (!m_ready && m_lastError.isEmpty())
        m_lastError = QStringLiteral("Нет соединения с %1 (%2): нет ответа за %3 мс")
                          .arg(m_address.hostAndPort(), m_device)
                          .arg(timeoutMs);
    return m_ready;
}

} // namespace vortan
