#include "modbus/linksession.h"

#include "format/logging.h"

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

void BufferedLink::close()
{
    discard();
    m_line.close();
}

void BufferedLink::pull()
{
    if (m_read > 0 && m_read == m_buffer.size()) {
        m_buffer.clear();
        m_read = 0;
    }
    // Bounded like the tick's own drain: a line that never stops talking cannot hold us.
    for (int n = 0; n < (1 << 16) && m_line.bytesWaiting() > 0; ++n) {
        const int b = m_line.readByte();
        if (b < 0)
            break;
        m_buffer.append(char(b));
    }
}

int BufferedLink::bytesWaiting()
{
    pull();
    return int(m_buffer.size() - m_read);
}

int BufferedLink::readByte()
{
    if (m_read >= m_buffer.size())
        return -1;
    return quint8(m_buffer.at(m_read++));
}

bool BufferedLink::holdsWholeReply()
{
    pull();
    const QByteArray waiting = m_buffer.mid(m_read);
    const int expected = ExpectedReplyLength(waiting);
    return expected > 0 && waiting.size() >= expected;
}

void BufferedLink::discard()
{
    pull();
    m_buffer.clear();
    m_read = 0;
}

int ExpectedReplyLength(const QByteArray &start)
{
    const auto at = [&start](int i) { return i < start.size() ? quint8(start.at(i)) : -1; };
    const int function = at(1);
    if (function < 0)
        return 0;
    if (function & ExceptionFlag)
        return 5;
    switch (function) {
    case FnWriteSingle:
        return 8;
    case FnReadInput:
    case FnReadWrite:
        return at(2) < 0 ? 0 : 3 + at(2) + 2;
    case FnParamRead:
    case FnParamWrite:
        return at(4) < 0 ? 0 : 5 + at(4) + 2;
    default:
        return 0;
    }
}

void LinkSession::waitForReply(const QElapsedTimer &clock, qint64 deadline)
{
    // Short naps with the event loop turning, so the port's notifiers run; the reply is looked
    // at after each.
    QEventLoop loop;
    while (clock.elapsed() < deadline && !m_link.holdsWholeReply()) {
        QTimer::singleShot(1, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

LinkSession::Outcome LinkSession::run(const std::function<void(const RxBuffer &)> &onReply,
                                      const std::function<void(int)> &progress)
{
    Outcome outcome;
    // Bytes left from an earlier, late reply would be judged as the answer to the first request.
    m_link.discard();

    m_onReply = onReply;
    m_answered = 0;
    m_exceptionCode = -1;
    int failures = 0;
    qint64 failingSince = -1;
    QElapsedTimer clock;
    clock.start();
    m_cycle.SendNextRequest();
    if (!m_firstFrameLogged && !m_cycle.lastFrame().isEmpty()) {
        m_firstFrameLogged = true;
        qCInfo(lcCtl) << "first frame sent";
    }
    while (!m_queue.isEmpty()) {
        const qint64 sentAt = clock.elapsed();
        if (m_silenceMs > 0) {
            waitForReply(clock, sentAt + m_silenceMs);
            if (m_link.bytesWaiting() > 0)
                waitForReply(clock, sentAt + TickMs);
        } else {
            waitForReply(clock, sentAt + TickMs);
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
            failingSince = -1;
            if (progress)
                progress(m_answered);
            continue;
        }
        if (failingSince < 0)
            failingSince = sentAt;
        ++failures;
        const bool givenUp =
            m_attempts > 0 ? failures >= m_attempts : clock.elapsed() - failingSince >= GiveUpMs;
        if (givenUp) {
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

} // namespace vortan
