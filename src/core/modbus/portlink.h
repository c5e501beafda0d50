#pragma once

#include "modbus/qserialportlink.h"
#include "modbus/tcplink.h"

#include <QObject>

namespace vortan
{

// The link the programs open: for each open() it looks at the selected port's device and talks
// through a gateway (tcp://, rfc2217://) or the serial device itself. Whoever holds it sees one
// SerialLink and never learns which transport is behind it.
class PortLink : public QObject, public SerialLink
{
    Q_OBJECT
public:
    using DeviceOf = std::function<QString(int)>;

    explicit PortLink(DeviceOf deviceOf, QObject *parent = nullptr);

    void selectPort(int n) override;
    int selectedPort() const override { return m_port; }
    OpenResult open() override;
    void close() override;
    bool isOpen() const override { return m_current->isOpen(); }
    int bytesWaiting() override { return m_current->bytesWaiting(); }
    int readByte() override { return m_current->readByte(); }
    int readBytes(quint8 *dst, int max) override { return m_current->readBytes(dst, max); }
    void write(const QByteArray &frame) override { m_current->write(frame); }
    LinkTiming timing() const override { return m_current->timing(); }
    qint64 nowUs() const override { return m_current->nowUs(); }
    void setArrivalStamps(bool on) override { m_serial.setArrivalStamps(on); }

    // The gateway side, for what only a network has: the connection's progress and its errors.
    NetworkLink &network() { return m_network; }
    // The serial side, for what only a device has: the converter behind it.
    QSerialPortLink &serial() { return m_serial; }
    bool usesNetwork() const { return m_current == &m_network; }

private:
    DeviceOf m_deviceOf;
    QSerialPortLink m_serial;
    NetworkLink m_network;
    SerialLink *m_current = &m_serial;
    int m_port = 1;
};

} // namespace vortan
