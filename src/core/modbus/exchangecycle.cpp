#include "modbus/exchangecycle.h"

#include "format/logging.h"

#include <QDateTime>

#include <algorithm>

namespace vortan
{

namespace
{

// Far more than one 40 ms period can carry at 115200 baud: the limit only guarantees that a link
// which never stops reporting bytes cannot hold the tick.
constexpr int MaxBytesDrainedPerTick = 1 << 16;

} // namespace

const char *const StatusNoReply = "Ошибка обмена: Нет ответа от контроллера Вортан";
const char *const StatusBadCrc = "Ошибка обмена: Несовпадение КС";
const char *const StatusGood = "Связь с контроллером Вортан установлена";
const char *const StatusStray = "Ошибка обмена: Ответ не соответствует запросу";

ExchangeCycle::ExchangeCycle(RequestQueue &queue, RxBuffer &rx, SerialLink &link, CycleHost &host,
                             PollPolicy &policy)
    : m_queue(queue), m_rx(rx), m_link(link), m_host(host), m_policy(policy)
{
}

void ExchangeCycle::addObserver(ExchangeObserver *observer)
{
    if (observer &&
        std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void ExchangeCycle::removeObserver(ExchangeObserver *observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

void ExchangeCycle::ExchangeTick()
{
    const bool recording = !m_observers.empty();
    m_rx.count = 0;
    m_replyOverflow.clear();
    int received = 0;
    for (; received < MaxBytesDrainedPerTick && m_link.bytesWaiting() > 0; ++received) {
        const int b = m_link.readByte();
        if (b < 0)
            break;
        if (m_rx.count < RxBuffer::MaxCount)
            m_rx.bytes[size_t(m_rx.count++)] = quint8(b);
        else if (recording && received < ExchangeRecord::MaxReplyBytes)
            m_replyOverflow.append(char(b));
    }

    Verdict verdict = Verdict::NoReply;
    if (m_rx.count < 3) {
        verdict = m_rx.count == 0 ? Verdict::NoReply : Verdict::Short;
        m_host.setStatusText(QString::fromUtf8(StatusNoReply));
    } else if (!m_rx.crcGood()) {
        verdict = Verdict::BadCrc;
        m_host.setStatusText(QString::fromUtf8(StatusBadCrc));
    } else if (const ReplyMatch match = CheckReply(m_rx, m_txFrame); match == ReplyMatch::Stray) {
        // Judged like a bad reply: the request stays in flight and goes out again.
        verdict = Verdict::Stray;
        m_host.setStatusText(QString::fromUtf8(StatusStray));
    } else {
        verdict = match == ReplyMatch::Exception ? Verdict::Exception : Verdict::Good;
        m_host.setStatusText(QString::fromUtf8(StatusGood));
        m_queue.AdvanceReadIndex();
        m_host.decodeReply();
    }

    if (recording)
        report(verdict, received);
    if (!m_txFrame.isEmpty())
        m_previousFailed = verdict != Verdict::Good && verdict != Verdict::Exception;
    SendNextRequest();
}

void ExchangeCycle::report(Verdict verdict, int received)
{
    ExchangeRecord record;
    record.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    record.request = m_txFrame;
    record.reply = QByteArray(reinterpret_cast<const char *>(m_rx.bytes.data()), m_rx.count);
    record.reply += m_replyOverflow;
    record.bytesReceived = received;
    record.verdict = verdict;
    record.repeat = m_previousFailed && !m_txFrame.isEmpty() && m_txFrame == m_previousTx;
    record.queueDepth = m_queue.waiting();
    record.port = m_link.selectedPort();
    if (received > 0 && !m_txFrame.isEmpty()) {
        const LinkTiming t = m_link.timing();
        if (t.requestSentUs >= 0 && t.lastArrivalUs >= t.requestSentUs)
            record.replyTimeUs = t.lastArrivalUs - t.requestSentUs;
    }
    notify(record);
}

void ExchangeCycle::reportStray(const QByteArray &frame)
{
    if (m_observers.empty())
        return;
    ExchangeRecord record;
    record.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    record.reply = frame.left(ExchangeRecord::MaxReplyBytes);
    record.bytesReceived = int(frame.size());
    record.verdict = Verdict::Stray;
    record.queueDepth = m_queue.waiting();
    record.port = m_link.selectedPort();
    notify(record);
}

void ExchangeCycle::notify(const ExchangeRecord &record)
{
    for (ExchangeObserver *observer : m_observers)
        observer->exchanged(record);
}

void ExchangeCycle::SendNextRequest()
{
    if (m_queue.isEmpty()) {
        RequestSlot poll;
        if (m_policy.nextPoll(poll))
            m_queue.enqueue(poll);
    }
    if (!m_txFrame.isEmpty())
        m_previousTx = m_txFrame;
    m_txFrame.clear();
    if (m_queue.isEmpty())
        return;

    const int address = m_host.slaveAddress();
    if (address < 0 || address > 255) {
        // No address selected: a frame to a made-up address could reach another device.
        if (!m_addressWarned)
            qCWarning(lcModbus) << "no request sent: slave address" << address << "is not a byte";
        m_addressWarned = true;
        return;
    }
    m_addressWarned = false;
    if (!m_link.isOpen())
        return;
    QByteArray frame = BuildTxFrame(m_queue.inFlight(), quint8(address));
    if (frame.isEmpty())
        return;
    m_link.write(frame);
    m_txFrame = std::move(frame);
}

} // namespace vortan
