#pragma once

#include "modbus/adapterinfo.h"
#include "modbus/seriallink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>

namespace vortan
{

// SerialLink over QSerialPort, 115200 8E1. An adapter that vanishes while open closes the port
// quietly and the link tries the same port again about once a second, so plugging it back in
// resumes the exchange without a restart; an explicit close() ends those attempts.
class QSerialPortLink : public QObject, public SerialLink
{
    Q_OBJECT
public:
    // Maps a port number to its device path (empty: no such port).
    using DeviceOf = std::function<QString(int)>;

    static constexpr int ReopenIntervalMs = 1000;
    static constexpr int ReadBufferBytes = 1024;

    explicit QSerialPortLink(DeviceOf deviceOf, QObject *parent = nullptr);
    ~QSerialPortLink() override;

    void selectPort(int n) override;
    int selectedPort() const override { return m_port; }
    OpenResult open() override;
    void close() override;
    bool isOpen() const override { return m_serial.isOpen() && !m_lost; }
    int bytesWaiting() override;
    int readByte() override;
    int readBytes(quint8 *dst, int max) override;
    void write(const QByteArray &frame) override;
    LinkTiming timing() const override { return m_timing; }
    qint64 nowUs() const override { return m_clock.nsecsElapsed() / 1000; }
    // Off: the port's read notifier is kept quiet (no wake-up per reply) and the tick takes the
    // bytes straight from the driver; the arrival of a reply is then not stamped.
    void setArrivalStamps(bool on) override;

    // True while the link waits for a vanished device to come back.
    bool isReopening() const { return m_reopenTimer.isActive(); }
    // The device the port was last opened on.
    QString deviceName() const { return m_device; }
    // The converter behind the open port, read from the system as the port opens.
    const AdapterInfo &adapter() const { return m_adapter; }

signals:
    void adapterChanged();
    void deviceLost(const QString &device);
    void deviceBack(const QString &device);

private:
    OpenResult openDevice();
    void onError(QSerialPort::SerialPortError error);
    bool deviceGone() const;
    // One zero-time poll of the device: its revents, -1 when the poll failed.
    int lookAtDriver(short events) const;
    bool driverHoldsBytes() const;
    int driverBytes();
    int readDriver(quint8 *dst, int max);
    void driverFailed();
    void loseDevice();
    void applyArrivalStamps();
    void settleLoss();
    void tryReopen();
    void stampSent();
    void stampArrival();

    DeviceOf m_deviceOf;
    // A child of the link, so a test can reach it and raise its error notification.
    QSerialPort m_serial;
    QTimer m_reopenTimer;
    QString m_device;
    // The resolved device node (portName() is only its short name, "ttyUSB0", "pts/3").
    QString m_openedPath;
    AdapterInfo m_adapter;
    int m_port = 1;
    bool m_lost = false;
    QElapsedTimer m_clock;
    LinkTiming m_timing;
    bool m_sending = false; // a request's bytes are still on their way to the driver
    bool m_stampArrivals = true;
    // The port's own read notifier (found among its children once it is open).
    QPointer<QSocketNotifier> m_readNotifier;
};

} // namespace vortan
