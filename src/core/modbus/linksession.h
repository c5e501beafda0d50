#pragma once

#include "modbus/exchangecycle.h"

#include <QElapsedTimer>
#include <QObject>

#include <QList>
#include <QPair>

#include <functional>

namespace vortan
{

// Runs the exchange cycle without a window: what is queued goes out one request per tick and
// nothing else (no polls, no operator inputs). A tick is the window's 40 ms at most, but comes as
// soon as the reply is complete by its own length, so a transfer runs at the controller's pace.
// Unlike the window, a request is not repeated forever: after `attempts` ticks without a good
// reply the transfer ends and says which request failed.
// The session's view of the line: everything the port holds is taken into a buffer at once,
// so the session can see whether a whole reply has arrived before the tick reads it.
class BufferedLink : public SerialLink
{
public:
    explicit BufferedLink(SerialLink &line) : m_line(line) {}
    void selectPort(int n) override { m_line.selectPort(n); }
    int selectedPort() const override { return m_line.selectedPort(); }
    OpenResult open() override { return m_line.open(); }
    void close() override;
    bool isOpen() const override { return m_line.isOpen(); }
    int bytesWaiting() override;
    int readByte() override;
    void write(const QByteArray &frame) override { m_line.write(frame); }
    qint64 nowUs() const override { return m_line.nowUs(); }
    // The line's own stamps; the arrival is that of the batch which brought the last byte
    // handed on, not of bytes that came after it and still wait in the buffer.
    LinkTiming timing() const override;

    // Takes what the port holds; the whole frame at the head of the buffer by its own length,
    // or nothing while none is complete.
    QByteArray headFrame();
    bool holdsWholeReply() { return headFrameLength() > 0; }
    // Forgets the first n bytes of the buffer (a frame that answers nothing).
    void drop(qsizetype n);
    // Forgets the echo of `request` at the head of the buffer once it is sure to be one.
    bool dropEcho(const QByteArray &request, bool lineEchoes);
    // While on, a reader sees only the whole frame at the head (every byte when none is whole),
    // so a frame that came right behind the reply is judged on its own, not glued to it.
    void setFrameCut(bool on);
    void discard();

private:
    void pull();
    int headFrameLength();
    void passed(bool handedOn);

    SerialLink &m_line;
    QByteArray m_buffer;
    qsizetype m_read = 0;
    qsizetype m_cut = -1;
    // Each batch taken from the line: where it ends in the buffer and when it arrived.
    QList<QPair<qsizetype, qint64>> m_arrivals;
    qint64 m_handedArrivalUs = -1;
};

class LinkSession : public QObject, private CycleHost, private ExchangeObserver
{
    Q_OBJECT
public:
    static constexpr int TickMs = ExchangeCycle::TickMs;
    // Without a set number of attempts a request is given up after one second of silence or
    // bad replies.
    static constexpr int GiveUpMs = 1000;

    explicit LinkSession(SerialLink &link, QObject *parent = nullptr);

    void setSlaveAddress(int address) { m_address = address; }
    int slaveAddress() const override { return m_address; }
    // What the line has shown of its echo so far.
    ExchangeCycle::Echo lineEcho() const { return m_cycle.lineEcho(); }
    // Tries per request; 0 means "for one second".
    void setAttempts(int attempts) { m_attempts = qMax(0, attempts); }
    // A request that has drawn no byte at all after this long is judged unanswered at once
    // instead of at the end of the tick (a bus scan; a controller starts its answer within
    // a few milliseconds). 0 waits the whole tick.
    void setSilenceLimitMs(int ms);
    int attempts() const { return m_attempts; }

    RequestQueue &queue() { return m_queue; }
    ExchangeCycle &cycle() { return m_cycle; }

    struct Outcome {
        int answered = 0;  // requests that got their good reply
        bool ok = true;    // every queued request answered
        QByteArray failed; // the frame that got no good reply (when !ok)
        Verdict lastVerdict = Verdict::Good;
        int exceptionCode = -1; // the controller refused the request (exception reply)
    };

    // Sends what is queued, in order; every good reply is handed to `onReply` while it lies in
    // the receive buffer. An exception reply ends the transfer as a failure. `progress` is told
    // after each answered request.
    Outcome run(const std::function<void(const RxBuffer &)> &onReply,
                const std::function<void(int answered)> &progress = {});

    // Keeps the line busy with `policy`'s polls, one exchange per 40 ms tick, until `keepGoing`
    // (asked before every tick) returns false. Every good reply goes to `onReply` while it lies
    // in the receive buffer; silence and bad replies do not end it. The request in flight when
    // it stops is still judged, so the controller's last answer is not lost. Returns the number
    // of good replies.
    int poll(PollPolicy &policy, const std::function<void(const RxBuffer &)> &onReply,
             const std::function<bool()> &keepGoing);

private:
    void setStatusText(const QString &) override {}
    void decodeReply() override;
    void exchanged(const ExchangeRecord &record) override;
    // Waits until `deadline` on `clock`, or until the bytes waiting form a whole reply.
    void waitForReply(const QElapsedTimer &clock, qint64 deadline, bool untilReply = true);
    // The echo of the request in flight, and whole frames with a good CRC at the head of the
    // buffer that answer nothing in flight (a late reply to an earlier request, reported once),
    // are dropped, so the wait goes on for the real reply.
    void dropStrays();
    bool mayBeEcho();
    void tick();

    // Quiet for run(); the caller's policy during poll().
    class SessionPoll : public PollPolicy
    {
    public:
        PollPolicy *target = nullptr;
        bool nextPoll(RequestSlot &poll) override { return target && target->nextPoll(poll); }
    };

    BufferedLink m_link;
    RequestQueue m_queue;
    RxBuffer m_rx;
    SessionPoll m_poll;
    ExchangeCycle m_cycle;
    int m_address = 1;
    int m_attempts = 0;
    int m_silenceMs = 0;
    int m_answered = 0;
    int m_failures = 0;
    qint64 m_failingSince = -1;
    qint64 m_sentAt = 0;
    QElapsedTimer m_clock;
    Outcome m_outcome;
    std::function<void(int)> m_progress;
    bool m_firstFrameLogged = false;
    bool m_echoDropped = false; // the request in flight has had its echo taken away
    bool m_polling = false;
    std::function<void(const RxBuffer &)> m_onReply;
};

} // namespace vortan
