#include "modbus/linksession.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace vortan
{

namespace
{
constexpr int ExceptionFlag = 0x80;
} // namespace

LinkSession::LinkSession(SerialLink &link, QObject *parent)
    : QObject(parent), m_link(link), m_cycle(m_queue, m_rx, m_link, *this, m_poll)
{
}

void LinkSession::decodeReply()
{
    ++m_answered;
    if (m_rx.count >= 3 && (m_rx.byte(1) & ExceptionFlag)) {
        m_exceptionCode = m_rx.byte(2);
        return;
    }
    if (m_onReply)
        m_onReply(m_rx);
}

void LinkSession::waitFor(qint64 msecs)
{
    // The serial port's notifiers need the event loop; nothing else runs meanwhile.
    if (msecs <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(int(msecs), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

LinkSession::Outcome LinkSession::run(const std::function<void(const RxBuffer &)> &onReply,
                                      const std::function<void(int)> &progress)
{
    Outcome outcome;
    // Bytes left from an earlier, late reply would be judged as the answer to the first request.
    for (int n = 0; n < RxBuffer::MaxCount * 4 && m_link.bytesWaiting() > 0; ++n)
        m_link.readByte();

    m_onReply = onReply;
    m_answered = 0;
    m_exceptionCode = -1;
    int failures = 0;
    QElapsedTimer clock;
    clock.start();
    m_cycle.SendNextRequest();
    while (!m_queue.isEmpty()) {
        const qint64 sentAt = clock.elapsed();
        if (m_silenceMs > 0) {
            waitFor(sentAt + m_silenceMs - clock.elapsed());
            if (m_link.bytesWaiting() > 0)
                waitFor(sentAt + TickMs - clock.elapsed());
        } else {
            waitFor(sentAt + TickMs - clock.elapsed());
        }
        const QByteArray inFlight = m_cycle.lastFrame();
        const int before = m_answered;
        m_cycle.ExchangeTick();
        if (m_exceptionCode >= 0) {
            outcome.ok = false;
            outcome.failed = inFlight;
            outcome.lastVerdict = Verdict::Exception;
            outcome.exceptionCode = m_exceptionCode;
            break;
        }
        if (m_answered != before) {
            failures = 0;
            if (progress)
                progress(m_answered);
            continue;
        }
        if (++failures >= m_attempts) {
            outcome.ok = false;
            outcome.failed = inFlight.isEmpty() ? BuildTxFrame(m_queue.inFlight(),
                                                               quint8(qBound(0, m_address, 255)))
                                                : inFlight;
            outcome.lastVerdict = m_rx.count == 0  ? Verdict::NoReply
                                  : m_rx.count < 3 ? Verdict::Short
                                                   : Verdict::BadCrc;
            break;
        }
    }
    outcome.answered = m_answered - (outcome.exceptionCode >= 0 ? 1 : 0);
    m_queue.clear();
    m_onReply = nullptr;
    return outcome;
}

int LinkSession::poll(PollPolicy &policy, const std::function<void(const RxBuffer &)> &onReply,
                      const std::function<bool()> &keepGoing)
{
    for (int n = 0; n < RxBuffer::MaxCount * 4 && m_link.bytesWaiting() > 0; ++n)
        m_link.readByte();

    m_onReply = onReply;
    m_answered = 0;
    m_poll.target = &policy;
    QElapsedTimer clock;
    clock.start();
    m_cycle.SendNextRequest();
    qint64 due = TickMs;
    bool last = false;
    while (!last) {
        waitFor(due - clock.elapsed());
        last = !keepGoing();
        if (last)
            m_poll.target = nullptr; // the last tick judges the reply and sends nothing new
        m_cycle.ExchangeTick();
        // A late tick must not cut the controller's time to answer the request it just sent.
        due = qMax(due + TickMs, clock.elapsed() + TickMs * 3 / 4);
    }
    m_queue.clear();
    m_onReply = nullptr;
    return m_answered;
}

} // namespace vortan
