#pragma once

#include "modbus/exchangecycle.h"

#include <QObject>

#include <functional>

namespace vortan
{

// Runs the exchange cycle without a window: what is queued goes out one request per 40 ms tick
// and nothing else (no polls, no operator inputs). Unlike the window, a request is not repeated
// forever: after `attempts` ticks without a good reply the transfer ends and says which request
// failed.
class LinkSession : public QObject, private CycleHost
{
    Q_OBJECT
public:
    static constexpr int TickMs = 40;
    // One second of silence or bad replies on one request.
    static constexpr int DefaultAttempts = 1000 / TickMs;

    explicit LinkSession(SerialLink &link, QObject *parent = nullptr);

    void setSlaveAddress(int address) { m_address = address; }
    int slaveAddress() const override { return m_address; }
    void setAttempts(int attempts) { m_attempts = qMax(1, attempts); }
    // A request that has drawn no byte at all after this long is judged unanswered at once
    // instead of at the end of the tick (a bus scan; a controller starts its answer within
    // a few milliseconds). 0 waits the whole tick.
    void setSilenceLimitMs(int ms) { m_silenceMs = qBound(0, ms, TickMs); }
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
    void waitFor(qint64 msecs);

    // Quiet for run(); the caller's policy during poll().
    class SessionPoll : public PollPolicy
    {
    public:
        PollPolicy *target = nullptr;
        bool nextPoll(RequestSlot &poll) override { return target && target->nextPoll(poll); }
    };

    SerialLink &m_link;
    RequestQueue m_queue;
    RxBuffer m_rx;
    SessionPoll m_poll;
    ExchangeCycle m_cycle;
    int m_address = 1;
    int m_attempts = DefaultAttempts;
    int m_silenceMs = 0;
    int m_answered = 0;
    int m_exceptionCode = -1;
    std::function<void(const RxBuffer &)> m_onReply;
};

} // namespace vortan
