#include "modbus/linksession.h"

#include "format/logging.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace vortan
{

LinkSession::LinkSession(SerialLink &link, QObject *parent)
    : QObject(parent), m_link(link), m_cycle(m_queue, m_rx, m_link, *this, m_poll)
{
    m_cycle.addObserver(this);
}

void LinkSession::decodeReply()
{
    if (m_onReply && !(m_rx.byte(1) & ExceptionFlag))
        m_onReply(m_rx);
}

void BufferedLink::close()
{
    discard();
    m_line.close();
}

void BufferedLink::pull()
{
    if (m_read > 0 && m_read == m_buffer.size()) {
        m_buffer.clear();
        m_arrivals.clear();
        if (m_cut >= 0)
            m_cut = qMax<qsizetype>(0, m_cut - m_read);
        m_read = 0;
    }
    const qsizetype before = m_buffer.size();
    // Bounded like the tick's own drain: a line that never stops talking cannot hold us.
    for (int n = 0; n < (1 << 16) && m_line.bytesWaiting() > 0; ++n) {
        const int b = m_line.readByte();
        if (b < 0)
            break;
        m_buffer.append(char(b));
    }
    if (m_buffer.size() > before)
        m_arrivals.append({m_buffer.size(), m_line.timing().lastArrivalUs});
}

void BufferedLink::passed(bool handedOn)
{
    while (!m_arrivals.isEmpty() && m_arrivals.first().first < m_read)
        m_arrivals.removeFirst();
    if (handedOn && !m_arrivals.isEmpty())
        m_handedArrivalUs = m_arrivals.first().second;
}

int BufferedLink::bytesWaiting()
{
    pull();
    const qsizetype end = m_cut >= 0 ? qMin(m_cut, m_buffer.size()) : m_buffer.size();
    return int(qMax<qsizetype>(0, end - m_read));
}

int BufferedLink::readByte()
{
    if (m_read >= m_buffer.size() || (m_cut >= 0 && m_read >= m_cut))
        return -1;
    const int b = quint8(m_buffer.at(m_read++));
    passed(true);
    return b;
}

LinkTiming BufferedLink::timing() const
{
    LinkTiming t = m_line.timing();
    if (m_handedArrivalUs >= 0)
        t.lastArrivalUs = m_handedArrivalUs;
    return t;
}

int BufferedLink::headFrameLength()
{
    pull();
    const QByteArray waiting =
        QByteArray::fromRawData(m_buffer.constData() + m_read, m_buffer.size() - m_read);
    const int expected = ExpectedReplyLength(waiting);
    return expected > 0 && waiting.size() >= expected ? expected : 0;
}

QByteArray BufferedLink::headFrame()
{
    const int n = headFrameLength();
    return n > 0 ? m_buffer.mid(m_read, n) : QByteArray();
}

void BufferedLink::drop(qsizetype n)
{
    m_read = qMin(m_buffer.size(), m_read + qMax<qsizetype>(0, n));
    passed(false);
}

void BufferedLink::setFrameCut(bool on)
{
    const int n = on ? headFrameLength() : 0;
    m_cut = n > 0 ? m_read + n : -1;
}

void BufferedLink::discard()
{
    pull();
    m_buffer.clear();
    m_arrivals.clear();
    m_read = 0;
    m_cut = -1;
}

bool BufferedLink::dropEcho(const QByteArray &request, bool lineEchoes)
{
    pull();
    const int n = EchoLength(reinterpret_cast<const quint8 *>(m_buffer.constData() + m_read),
                             int(m_buffer.size() - m_read), request, lineEchoes);
    if (n > 0)
        drop(n);
    return n > 0;
}

void LinkSession::setSilenceLimitMs(int ms)
{
    m_silenceMs = qBound(0, ms, TickMs);
    m_cycle.setShortestWaitMs(m_silenceMs);
}

void LinkSession::waitForReply(const QElapsedTimer &clock, qint64 deadline, bool untilReply)
{
    // Short naps with the event loop turning, so the port's notifiers run; the reply is looked
    // at after each.
    QEventLoop loop;
    while (clock.elapsed() < deadline) {
        dropStrays();
        if (untilReply && m_link.holdsWholeReply() && !mayBeEcho())
            break;
        QTimer::singleShot(1, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

bool LinkSession::mayBeEcho()
{
    // A lone copy of a write on a line not yet known: the echo, or the reply. The tick on time
    // tells them apart (a second copy behind it), so the next write does not go out into the
    // controller's answer.
    const QByteArray &request = m_cycle.lastFrame();
    return m_cycle.lineEcho() == ExchangeCycle::Echo::Unknown && !m_echoDropped &&
           RepliesWithCopy(request) && m_link.headFrame() == request;
}

void LinkSession::dropStrays()
{
    // A reply that repeats its request (6, 101) could be taken for a second echo.
    if (!m_echoDropped &&
        m_link.dropEcho(m_cycle.lastFrame(), m_cycle.lineEcho() == ExchangeCycle::Echo::Heard)) {
        m_echoDropped = true;
        m_cycle.echoTaken();
    }
    for (QByteArray frame = m_link.headFrame(); !frame.isEmpty(); frame = m_link.headFrame()) {
        if (!CrcGood(frame) || CheckReply(frame, m_cycle.lastFrame()) != ReplyMatch::Stray)
            return;
        m_link.drop(frame.size());
        m_cycle.reportStray(frame);
    }
}

void LinkSession::tick()
{
    dropStrays();
    m_link.setFrameCut(true);
    m_cycle.ExchangeTick();
    m_link.setFrameCut(false);
    if (!m_cycle.waiting())
        m_echoDropped = false;
}

LinkSession::Outcome LinkSession::run(const std::function<void(const RxBuffer &)> &onReply,
                                      const std::function<void(int)> &progress)
{
    Outcome outcome;
    // Bytes left from an earlier, late reply would be judged as the answer to the first request.
    m_link.discard();

    m_onReply = onReply;
    m_progress = progress;
    m_answered = 0;
    m_failures = 0;
    m_failingSince = -1;
    m_outcome = Outcome();
    m_clock.start();
    m_echoDropped = false;
    m_cycle.SendNextRequest();
    if (!m_firstFrameLogged && !m_cycle.lastFrame().isEmpty()) {
        m_firstFrameLogged = true;
        qCInfo(lcCtl) << "first frame sent";
    }
    qint64 due = 0;
    while (!m_queue.isEmpty()) {
        if (m_cycle.waiting()) {
            // A reply still coming in, or silence the cycle still waits out: another tick.
            due += TickMs;
            waitForReply(m_clock, due);
        } else {
            m_sentAt = m_clock.elapsed();
            due = m_sentAt + TickMs;
            if (m_silenceMs > 0) {
                waitForReply(m_clock, m_sentAt + m_silenceMs);
                if (m_link.bytesWaiting() > 0)
                    waitForReply(m_clock, due);
            } else {
                waitForReply(m_clock, due);
            }
        }
        tick();
    }
    m_queue.clear();
    m_onReply = nullptr;
    m_progress = nullptr;
    m_outcome.answered = m_answered;
    return m_outcome;
}

void LinkSession::exchanged(const ExchangeRecord &record)
{
    // A frame that answered nothing, dropped while the wait for the real reply went on.
    if (record.verdict == Verdict::Stray && record.request.isEmpty())
        return;
    // Runs between the verdict and the next send, so a transfer that stops here puts nothing
    // more on the line.
    const auto stop = [this, &record](Verdict verdict) {
        m_outcome.ok = false;
        m_outcome.failed = record.request.isEmpty()
                               ? BuildTxFrame(m_queue.inFlight(), quint8(qBound(0, m_address, 255)))
                               : record.request;
        m_outcome.lastVerdict = verdict;
        m_queue.clear();
    };
    if (record.verdict == Verdict::Exception) {
        m_outcome.exceptionCode = record.exceptionCode();
        stop(Verdict::Exception);
        return;
    }
    if (m_polling) {
        // A recording keeps polling whatever the line does; it only counts the replies.
        if (record.verdict == Verdict::Good)
            ++m_answered;
        return;
    }
    if (record.verdict == Verdict::Good) {
        ++m_answered;
        m_failures = 0;
        m_failingSince = -1;
        if (m_progress)
            m_progress(m_answered);
        return;
    }
    if (m_queue.isEmpty())
        return;
    if (m_failingSince < 0)
        m_failingSince = m_sentAt;
    ++m_failures;
    if (m_attempts > 0 ? m_failures >= m_attempts : m_clock.elapsed() - m_failingSince >= GiveUpMs)
        stop(record.verdict);
}

int LinkSession::poll(PollPolicy &policy, const std::function<void(const RxBuffer &)> &onReply,
                      const std::function<bool()> &keepGoing)
{
    m_link.discard();

    m_onReply = onReply;
    m_answered = 0;
    m_polling = true;
    m_poll.target = &policy;
    QElapsedTimer clock;
    clock.start();
    m_echoDropped = false;
    m_cycle.SendNextRequest();
    qint64 due = TickMs;
    bool last = false;
    while (!last || m_cycle.waiting()) {
        waitForReply(clock, due, false);
        if (!last)
            last = !keepGoing();
        if (last)
            m_poll.target = nullptr; // the last tick judges the reply and sends nothing new
        tick();
        // A late tick must not cut the controller's time to answer the request it just sent.
        due = qMax(due + TickMs, clock.elapsed() + TickMs * 3 / 4);
    }
    m_queue.clear();
    m_onReply = nullptr;
    m_polling = false;
    return m_answered;
}

} // namespace vortan
