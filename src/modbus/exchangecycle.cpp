#include "modbus/exchangecycle.h"

#include <QLoggingCategory>

namespace vortan
{

namespace
{
Q_LOGGING_CATEGORY(lcCycle, "vortan.modbus")

// Far more than one 40 ms period can carry at 115200 baud: the limit only guarantees that a link
// which never stops reporting bytes cannot hold the tick.
constexpr int MaxBytesDrainedPerTick = 1 << 16;
} // namespace

const char *const StatusNoReply = "Ошибка обмена: Нет ответа от контроллера Вортан";
const char *const StatusBadCrc = "Ошибка обмена: Несовпадение КС";
const char *const StatusGood = "Связь с контроллером Вортан установлена";

ExchangeCycle::ExchangeCycle(RequestQueue &queue, RxBuffer &rx, SerialLink &link, CycleHost &host)
    : m_queue(queue), m_rx(rx), m_link(link), m_host(host)
{
}

void ExchangeCycle::ExchangeTick()
{
    m_rx.count = 0;
    for (int drained = 0; drained < MaxBytesDrainedPerTick && m_link.bytesWaiting() > 0;
         ++drained) {
        const int b = m_link.readByte();
        if (b < 0)
            break;
        if (m_rx.count < RxBuffer::MaxCount)
            m_rx.bytes[size_t(m_rx.count++)] = quint8(b);
    }

    if (m_rx.count < 3) {
        m_host.setStatusText(QString::fromUtf8(StatusNoReply));
    } else if (!m_rx.crcGood()) {
        m_host.setStatusText(QString::fromUtf8(StatusBadCrc));
    } else {
        m_host.setStatusText(QString::fromUtf8(StatusGood));
        m_queue.AdvanceReadIndex();
        m_host.decodeReply();
    }
    SendNextRequest();
}

void ExchangeCycle::SendNextRequest()
{
    if (m_queue.isEmpty()) {
        const bool controlStateTurn = m_pollToggle;
        m_pollToggle = !m_pollToggle;
        m_queue.enqueue(controlStateTurn ? ControlStateRequest(m_host.controlState())
                                         : StatusPollRequest());
    }

    const int address = m_host.slaveAddress();
    if (address < 0 || address > 255) {
        // No address selected: a frame to a made-up address could reach another device.
        if (!m_addressWarned)
            qCWarning(lcCycle) << "no request sent: slave address" << address << "is not a byte";
        m_addressWarned = true;
        m_txFrame.clear();
        return;
    }
    m_addressWarned = false;
    m_txFrame = BuildTxFrame(m_queue.inFlight(), quint8(address));
    if (!m_link.isOpen() || m_txFrame.isEmpty())
        return;
    m_link.write(m_txFrame);
}

} // namespace vortan
