#pragma once

#include "modbus/seriallink.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <deque>

namespace vortan::test
{

// In-memory serial line: records every frame written and plays scripted replies.
// Ports listed in `busyPorts` refuse with InUse, those in `forbiddenPorts` with Forbidden, ports
// not in `presentPorts` with Unavailable.
class FakeSerialLink : public SerialLink
{
public:
    QSet<int> presentPorts{1};
    QSet<int> busyPorts;
    QSet<int> forbiddenPorts;
    QList<QByteArray> written;
    QList<int> openedPorts; // every successful open, in order
    // Bytes that reach the port one at a time while the receiver is reading (one per byte read).
    QByteArray arrivingWhileRead;
    // A scripted clock in microseconds: while set (>= 0), write() and feed() stamp the timing
    // with it, as the real port does when bytes cross the driver.
    qint64 clockUs = -1;
    // As the real port: with arrival stamps off, bytes come in unstamped.
    bool stampArrivals = true;
    QList<bool> stampedWrites; // stampArrivals as each frame went out

    void selectPort(int n) override { m_port = n; }
    int selectedPort() const override { return m_port; }
    OpenResult open() override
    {
        if (m_open || !presentPorts.contains(m_port))
            return OpenResult::Unavailable;
        if (busyPorts.contains(m_port))
            return OpenResult::InUse;
        if (forbiddenPorts.contains(m_port))
            return OpenResult::Forbidden;
        m_open = true;
        openedPorts.append(m_port);
        return OpenResult::Ok;
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    int bytesWaiting() override { return m_open ? int(m_rx.size()) : 0; }
    int readByte() override
    {
        if (!m_open || m_rx.empty())
            return -1;
        const int b = m_rx.front();
        m_rx.pop_front();
        if (!arrivingWhileRead.isEmpty()) {
            m_rx.push_back(quint8(arrivingWhileRead.front()));
            arrivingWhileRead.remove(0, 1);
        }
        return b;
    }
    void write(const QByteArray &frame) override
    {
        if (!m_open)
            return;
        written.append(frame);
        stampedWrites.append(stampArrivals);
        m_timing.lastArrivalUs = -1;
        if (clockUs >= 0)
            m_timing.requestSentUs = clockUs;
    }
    void setArrivalStamps(bool on) override { stampArrivals = on; }
    LinkTiming timing() const override { return m_timing; }
    qint64 nowUs() const override { return clockUs; }

    // Bytes that the controller "sent"; they wait until the next tick drains them.
    void feed(const QByteArray &bytes)
    {
        for (char c : bytes)
            m_rx.push_back(quint8(c));
        if (clockUs >= 0 && !bytes.isEmpty() && stampArrivals)
            m_timing.lastArrivalUs = clockUs;
    }
    void setOpen(bool open) { m_open = open; }

private:
    int m_port = 1;
    bool m_open = false;
    std::deque<quint8> m_rx;
    LinkTiming m_timing;
};

} // namespace vortan::test
