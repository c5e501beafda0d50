#include "modbus/exchangecycle.h"

#include "format/logging.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cstring>

namespace vortan
{

namespace
{

// Far more than one 40 ms period can carry at 115200 baud: the limit only guarantees that a link
// which never stops reporting bytes cannot hold the tick.
constexpr int MaxBytesDrainedPerTick = 1 << 16;

// The status line's texts, converted once: one of them is set on every exchange.
struct StatusTexts {
    QString noReply = QString::fromUtf8(StatusNoReply);
    QString badCrc = QString::fromUtf8(StatusBadCrc);
    QString good = QString::fromUtf8(StatusGood);
    QString stray = QString::fromUtf8(StatusStray);
    QString incomplete = QString::fromUtf8(StatusIncomplete);
};

const StatusTexts &Texts()
{
    static const StatusTexts texts;
    return texts;
}

} // namespace

const char *const StatusNoReply = "Ошибка обмена: Нет ответа от контроллера Вортан";
const char *const StatusBadCrc = "Ошибка обмена: Несовпадение КС";
const char *const StatusGood = "Связь с контроллером Вортан установлена";
const char *const StatusStray = "Ошибка обмена: Ответ не соответствует запросу";
const char *const StatusIncomplete = "Ошибка обмена: Неполный ответ";

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

void ExchangeCycle::setShortestWaitMs(int ms)
{
    m_shortestWaitUs = qint64(ms > 0 ? qMin(ms, TickMs) : TickMs) * 1000;
    m_waitUs = m_shortestWaitUs;
    m_fastReplies = 0;
}

void ExchangeCycle::ExchangeTick()
{
    const bool recording = !m_observers.empty();
    if (!m_holding) {
        m_rx.count = 0;
        m_replyOverflow.clear();
        m_received = 0;
    }
    ++m_ticksSinceSend;
    // In batches: a status reply is 149 bytes, one call each would cost more than the reply.
    std::array<quint8, 256> batch;
    for (int drained = 0; drained < MaxBytesDrainedPerTick && m_link.bytesWaiting() > 0;) {
        const int n = m_link.readBytes(batch.data(),
                                       qMin(int(batch.size()), MaxBytesDrainedPerTick - drained));
        if (n <= 0)
            break;
        for (int i = 0; i < n; ++i) {
            const quint8 b = batch[size_t(i)];
            if (m_rx.count < RxBuffer::MaxCount)
                m_rx.bytes[size_t(m_rx.count++)] = b;
            else if (recording && m_received < ExchangeRecord::MaxReplyBytes)
                m_replyOverflow.append(char(b));
            ++m_received;
        }
        drained += n;
    }

    int echo = 0;
    const Reading reading = m_txFrame.isEmpty() ? Reading::Other : read(echo);
    if (reading != Reading::Whole && !m_txFrame.isEmpty()) {
        // Only a whole reply is judged before its time: a tick that comes early (the window was
        // held up and its timer catches up) must not cut the controller's answer short.
        const qint64 age = sinceRequestUs();
        const bool due = reading == Reading::Started
                             ? age >= ReplyBoundMs * 1000 || m_rx.count >= RxBuffer::MaxCount
                             : age >= m_waitUs - TickWorkMs * 1000;
        m_holding = !due;
        if (m_holding)
            return;
    }
    m_holding = false;
    if (echo > 0) {
        std::memmove(m_rx.bytes.data(), m_rx.bytes.data() + echo, size_t(m_rx.count - echo));
        m_rx.count -= echo;
    }

    Verdict verdict = Verdict::NoReply;
    if (reading == Reading::Started) {
        verdict = Verdict::Short;
        m_host.setStatusText(Texts().incomplete);
    } else if (m_rx.count < 3) {
        verdict = m_rx.count == 0 ? Verdict::NoReply : Verdict::Short;
        m_host.setStatusText(Texts().noReply);
    } else if (!m_rx.crcGood()) {
        verdict = Verdict::BadCrc;
        m_host.setStatusText(Texts().badCrc);
    } else if (const ReplyMatch match = CheckReply(m_rx, m_txFrame); match == ReplyMatch::Stray) {
        // Judged like a bad reply: the request stays in flight and goes out again.
        verdict = Verdict::Stray;
        m_host.setStatusText(Texts().stray);
    } else {
        verdict = match == ReplyMatch::Exception ? Verdict::Exception : Verdict::Good;
        m_host.setStatusText(Texts().good);
        m_queue.AdvanceReadIndex();
        m_host.decodeReply();
    }

    qint64 replyTimeUs = -1;
    if (m_rx.count > 0 && !m_txFrame.isEmpty()) {
        const LinkTiming t = m_link.timing();
        if (t.requestSentUs >= 0 && t.lastArrivalUs >= t.requestSentUs)
            replyTimeUs = t.lastArrivalUs - t.requestSentUs;
    }
    if (verdict == Verdict::Good || verdict == Verdict::Exception)
        shortenWait(replyTimeUs);
    if (recording)
        report(verdict, m_received, replyTimeUs);
    if (!m_txFrame.isEmpty())
        m_previousFailed = verdict != Verdict::Good && verdict != Verdict::Exception;
    SendNextRequest();
}

ExchangeCycle::Reading ExchangeCycle::read(int &echo)
{
    for (;;) {
        const quint8 *bytes = m_rx.bytes.data();
        const int count = m_rx.count;
        const int sent = int(m_txFrame.size());
        // Where a driver took the echo away already, a copy left is the reply.
        const int found =
            EchoLength(bytes, count, m_txFrame, m_lineEcho == Echo::Heard && !m_echoTaken);
        if (found > 0 && echoIsProof())
            m_lineEcho = Echo::Heard;
        if (found < 0) {
            // The request's own bytes and more on the way: its echo, or a reply that starts
            // like it. The echo alone is silence.
            echo = count == sent ? sent : 0;
            return count == sent ? Reading::Nothing : Reading::Started;
        }
        echo = found;
        const quint8 *rest = bytes + echo;
        const int n = count - echo;
        if (n == 0)
            return Reading::Nothing;
        if (echo == 0 && n < sent && std::memcmp(rest, m_txFrame.constData(), size_t(n)) == 0)
            return Reading::Started; // the echo is still coming in
        const bool lengthDefined = n < 2 || ReplyLengthDefined(rest[1]);
        if (StartsReply(rest, n, m_txFrame)) {
            if (!lengthDefined)
                return Reading::Other;
            const int whole = ExpectedReplyLength(rest, n);
            if (whole <= 0 || n < whole)
                return Reading::Started;
            // A reply with no echo before it, to a request whose answer differs from its copy:
            // this line does not echo (another adapter now).
            if (echo == 0 && !m_echoTaken && !RepliesWithCopy(m_txFrame))
                m_lineEcho = Echo::None;
            return Reading::Whole;
        }
        // The answer to the request before, late: waited for while it comes in, then set aside.
        if (lengthDefined && StartsReply(rest, n, m_previousTx)) {
            const int whole = ExpectedReplyLength(rest, n);
            if (whole == 0 || n < whole)
                return Reading::Started;
            if (CrcGood(rest, whole) &&
                CheckReply(rest, whole, m_previousTx) != ReplyMatch::Stray) {
                setAsideLate(echo, whole);
                continue;
            }
        }
        return Reading::Other;
    }
}

void ExchangeCycle::setAsideLate(int at, int length)
{
    quint8 *bytes = m_rx.bytes.data();
    const QByteArray frame(reinterpret_cast<const char *>(bytes + at), length);
    // Untimed, it came at the latest now: the wait grows to cover that, and the replies timed
    // while it is above its shortest bring it back down.
    const qint64 arrivedUs = m_link.timing().lastArrivalUs;
    lengthenWait(arrivedUs >= 0 ? arrivedUs : m_link.nowUs());
    std::memmove(bytes + at, bytes + at + length, size_t(m_rx.count - at - length));
    m_rx.count -= length;
    m_received = qMax(0, m_received - length);
    notifyStray(frame);
}

void ExchangeCycle::lengthenWait(qint64 arrivedUs)
{
    // The line answers later than the wait allowed: wait that long (and a margin) from now on, so
    // the next request does not go out while the controller is still answering.
    if (m_previousSentUs >= 0 && arrivedUs > m_previousSentUs) {
        const qint64 tickUs = TickMs * 1000;
        const qint64 lateUs = arrivedUs - m_previousSentUs + WaitMarginMs * 1000;
        const qint64 wantedUs = (lateUs + tickUs - 1) / tickUs * tickUs;
        m_waitUs = qMin<qint64>(ReplyBoundMs * 1000, qMax(m_waitUs, wantedUs));
    }
    m_fastReplies = 0;
}

qint64 ExchangeCycle::sinceRequestUs() const
{
    const qint64 sent = m_link.timing().requestSentUs;
    const qint64 now = m_link.nowUs();
    if (sent >= 0 && now >= sent)
        return now - sent;
    return qint64(m_ticksSinceSend) * TickMs * 1000;
}

void ExchangeCycle::shortenWait(qint64 replyTimeUs)
{
    const qint64 tickUs = TickMs * 1000;
    if (replyTimeUs < 0 || m_waitUs <= m_shortestWaitUs ||
        replyTimeUs + WaitMarginMs * 1000 > m_waitUs - tickUs) {
        m_fastReplies = 0;
        return;
    }
    if (++m_fastReplies < FastRepliesPerStep)
        return;
    m_fastReplies = 0;
    m_waitUs = qMax(m_shortestWaitUs, m_waitUs - tickUs);
}

void ExchangeCycle::report(Verdict verdict, int received, qint64 replyTimeUs)
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
    record.replyTimeUs = replyTimeUs;
    record.waitMs = waitMs();
    notify(record);
}

bool ExchangeCycle::echoIsProof() const
{
    // Two copies of a 6 or 101 sent twice may be two answers from a late controller.
    return m_txCopies == 1 || !RepliesWithCopy(m_txFrame);
}

void ExchangeCycle::echoTaken()
{
    if (echoIsProof())
        m_lineEcho = Echo::Heard;
    m_echoTaken = true;
}

void ExchangeCycle::reportStray(const QByteArray &frame)
{
    // Taken off the line as it came: a late answer to the request before teaches the wait too.
    if (CrcGood(frame) && CheckReply(frame, m_previousTx) != ReplyMatch::Stray)
        lengthenWait(m_link.nowUs());
    notifyStray(frame);
}

void ExchangeCycle::notifyStray(const QByteArray &frame)
{
    // A second copy of a request sent once and answered: the answer taken was the adapter's echo.
    if (!frame.isEmpty() && frame == m_previousTx && !m_previousFailed && m_previousCopies == 1)
        m_lineEcho = Echo::Heard;
    if (m_observers.empty())
        return;
    ExchangeRecord record;
    record.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    record.reply = frame.left(ExchangeRecord::MaxReplyBytes);
    record.bytesReceived = int(frame.size());
    record.verdict = Verdict::Stray;
    record.queueDepth = m_queue.waiting();
    record.port = m_link.selectedPort();
    record.waitMs = waitMs();
    notify(record);
}

void ExchangeCycle::notify(const ExchangeRecord &record)
{
    for (ExchangeObserver *observer : m_observers)
        observer->exchanged(record);
}

bool ExchangeCycle::timeNextReply()
{
    if (++m_untimed >= TimedEvery) {
        m_untimed = 0;
        return true;
    }
    return m_waitUs > m_shortestWaitUs ||
           std::any_of(m_observers.begin(), m_observers.end(),
                       [](const ExchangeObserver *o) { return o->wantsEveryReplyTime(); });
}

void ExchangeCycle::SendNextRequest()
{
    if (m_queue.isEmpty()) {
        RequestSlot poll;
        if (m_policy.nextPoll(poll))
            m_queue.enqueue(poll);
    }
    if (!m_txFrame.isEmpty()) {
        m_previousTx = m_txFrame;
        m_previousCopies = m_txCopies;
        m_previousSentUs = m_link.timing().requestSentUs;
    }
    m_txFrame.clear();
    m_echoTaken = false;
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
    m_link.setArrivalStamps(timeNextReply());
    m_link.write(frame);
    m_txCopies = m_previousFailed && frame == m_previousTx ? m_previousCopies + 1 : 1;
    m_txFrame = std::move(frame);
    m_ticksSinceSend = 0;
}

} // namespace vortan
