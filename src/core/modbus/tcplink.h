#pragma once

#include "modbus/rfc2217.h"
#include "modbus/seriallink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <optional>

namespace vortan
{

// A serial-to-network gateway in the port table, named as pyserial names them:
// "tcp://HOST:PORT" carries the RTU bytes over a plain TCP connection (a device server in
// "TCP server" mode, ser2net's raw mode); "rfc2217://HOST:PORT" is Telnet with COM-port control,
// where the program itself sets the far end's line to 115200 8E1.
struct NetworkAddress {
    enum class Kind { Raw, Rfc2217 };
    Kind kind = Kind::Raw;
    QString host;
    quint16 port = 0;

    // True for a device string with one of the two schemes, well formed or not.
    static bool isNetwork(const QString &device);
    // The address of a well-formed device string: a host name or IPv4 address (IPv6 in
    // brackets) and a port 1..65535.
    static std::optional<NetworkAddress> parse(const QString &device);
    QString hostAndPort() const;
};

// SerialLink over a TCP connection. open() only starts the name look-up and the connect and
// returns; the link counts as open once connected (for RFC 2217, once the far end has confirmed
// the line settings or declined to take them), and sends nothing before. A failed connect and a
// lost connection are retried about once a second until close().
class NetworkLink : public QObject, public SerialLink
{
    Q_OBJECT
public:
    using DeviceOf = std::function<QString(int)>;

    static constexpr int ReconnectIntervalMs = 1000;
    static constexpr int ConnectTimeoutMs = 3000;
    // How long an RFC 2217 server may take to confirm the line settings before data flows anyway.
    static constexpr int SettingsTimeoutMs = 1000;
    static constexpr int ReadBufferBytes = 1024;

    explicit NetworkLink(DeviceOf deviceOf, QObject *parent = nullptr);
    ~NetworkLink() override;

    void selectPort(int n) override { m_port = n; }
    int selectedPort() const override { return m_port; }
    // Unavailable for a malformed address or when already open; Ok once the connect started.
    OpenResult open() override;
    void close() override;
    bool isOpen() const override { return m_ready; }
    int bytesWaiting() override;
    int readByte() override;
    void write(const QByteArray &frame) override;
    LinkTiming timing() const override { return m_timing; }
    qint64 nowUs() const override { return m_clock.nsecsElapsed() / 1000; }

    // Opened and not yet (or no longer) connected: a connect is under way or due.
    bool isConnecting() const { return m_active && !m_ready; }
    QString deviceName() const { return m_device; }
    // Why the latest connect failed, with the host and port; empty after success.
    QString lastError() const { return m_lastError; }
    const rfc2217::FarLine &farLine() const { return m_telnet.farLine(); }

    // For a program without a window: runs the event loop until the link is open or the first
    // connect failed, at most `timeoutMs`. True when open.
    bool waitForOpen(int timeoutMs);

signals:
    void linkUp(const QString &device);
    // A connect failed or an open connection was lost; `reason` names the host and port.
    void linkDown(const QString &device, const QString &reason);

private:
    void connectNow();
    void onConnected();
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void connectTimedOut();
    void fail(const QString &reason);
    void becomeReady();
    void pull();

    DeviceOf m_deviceOf;
    QTcpSocket m_socket;
    QTimer m_reconnectTimer;
    QTimer m_connectTimer;
    QTimer m_settingsTimer;
    int m_port = 1;
    QString m_device;
    NetworkAddress m_address;
    bool m_active = false;
    bool m_ready = false;
    bool m_settingsSent = false;
    QString m_lastError;
    rfc2217::TelnetReader m_telnet;
    QByteArray m_rx;
    int m_rxPos = 0;
    QElapsedTimer m_clock;
    LinkTiming m_timing;
    bool m_sending = false;
};

} // namespace vortan
