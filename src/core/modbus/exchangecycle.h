#pragma once

#include "modbus/exchangerecord.h"
#include "modbus/frames.h"
#include "modbus/pollpolicy.h"
#include "modbus/requestqueue.h"
#include "modbus/seriallink.h"

#include <QString>

#include <vector>

namespace vortan
{

// What the exchange cycle needs from its owner (the main window, or a command-line driver).
class CycleHost
{
public:
    virtual ~CycleHost() = default;
    virtual void setStatusText(const QString &text) = 0; // lbl_sys_mes
    virtual void decodeReply() = 0;                      // dispatch of a good reply in RxBuffer
    virtual int slaveAddress() const = 0;                // cmb_slad index
};

extern const char *const StatusNoReply; // "Ошибка обмена: Нет ответа от контроллера Вортан"
extern const char *const StatusBadCrc; // "Ошибка обмена: Несовпадение КС"
extern const char *const StatusGood; // "Связь с контроллером Вортан установлена"
extern const char *const StatusStray; // "Ошибка обмена: Ответ не соответствует запросу"
extern const char *const StatusIncomplete; // "Ошибка обмена: Неполный ответ"

// One exchange per 40 ms tick: judge what arrived since the last tick, then send the next request.
// A reply that has started but is not whole by its own length is waited for, tick after tick, and
// so is silence until the wait has passed; such a tick judges and sends nothing. The echo of the
// request in front of the reply is skipped.
class ExchangeCycle
{
public:
    static constexpr int TickMs = 40;
    // A reply not whole this long after its request is judged incomplete; the wait for silence
    // never grows beyond it either.
    static constexpr int ReplyBoundMs = 1000;
    // Slack added to a late reply's delay before it sets the wait, for the line's jitter.
    static constexpr int WaitMarginMs = 10;
    // The request leaves at the end of its tick, so the next tick on time finds it a little less
    // than a tick old: silence is judged once the wait less this much has passed. No more: a
    // timer catching up after a late tick comes sooner, and judging silence then would send the
    // next request while a controller with a long turnaround starts its answer.
    static constexpr int TickWorkMs = 2;
    // Replies in a row that would have fitted a tick less before the wait is shortened by one.
    static constexpr int FastRepliesPerStep = 4;
    // Timing a reply as it arrives costs the program a wake-up per reply, as much as the tick
    // itself. Every reply is timed while the wait is above its shortest (it is being learnt) or
    // an observer shows each exchange; otherwise one exchange in this many, for the reply time
    // figures. Odd, so the sample takes status and control-state replies alike (they alternate).
    static constexpr int TimedEvery = 7;

    ExchangeCycle(RequestQueue &queue, RxBuffer &rx, SerialLink &link, CycleHost &host,
                  PollPolicy &policy);

    // Observers see every closed exchange after the verdict and the dispatch, before the next
    // request goes out. They must outlive the cycle or be removed first.
    void addObserver(ExchangeObserver *observer);
    void removeObserver(ExchangeObserver *observer);

    void ExchangeTick();
    // A whole frame that answers nothing, taken off the line between ticks by a driver that
    // looks at the line more often than the tick: observers see it once, with no request. A late
    // answer to the request before lengthens the wait, as when the tick sets one aside.
    void reportStray(const QByteArray &frame);
    // Sends nothing on a closed port or while the slave address is not a byte (no selection).
    void SendNextRequest();

    const QByteArray &lastFrame() const { return m_txFrame; }
    // True while the request in flight is still waited for (the last tick sent nothing).
    bool waiting() const { return m_holding; }
    // How long silence is waited for after a request before it counts as no reply: one tick, more
    // on a line whose replies came late.
    int waitMs() const { return int(m_waitUs / 1000); }
    // Whether the line hears its own requests (a 2-wire adapter's echo). Learnt from an echo in
    // front of a reply, or from a second copy of a 6 or 101 sent once whose first copy was taken
    // as the answer; from then on a lone copy of such a request is its echo, not the reply. A
    // reply with no echo in front of it (to a request whose answer is not its copy) shows a
    // line that does not echo.
    enum class Echo { Unknown, Heard, None };
    Echo lineEcho() const { return m_lineEcho; }
    // A driver that looks at the line between ticks took the echo of the request in flight away.
    void echoTaken();
    // The least wait: one tick by default; a bus scan judges silence sooner.
    void setShortestWaitMs(int ms);

private:
    enum class Reading { Nothing, Started, Whole, Other };
    Reading read(int &echo);
    bool echoIsProof() const;
    void setAsideLate(int at, int length);
    void lengthenWait(qint64 arrivedUs);
    void notifyStray(const QByteArray &frame);
    qint64 sinceRequestUs() const;
    void shortenWait(qint64 replyTimeUs);
    void report(Verdict verdict, int received, qint64 replyTimeUs);
    void notify(const ExchangeRecord &record);
    bool timeNextReply();

    RequestQueue &m_queue;
    RxBuffer &m_rx;
    SerialLink &m_link;
    CycleHost &m_host;
    PollPolicy &m_policy;
    std::vector<ExchangeObserver *> m_observers;
    bool m_addressWarned = false;
    QByteArray m_txFrame;       // sent this tick (empty: nothing went out)
    QByteArray m_previousTx;    // the request before it, to tell a repeat
    QByteArray m_replyOverflow; // bytes beyond the receive buffer, kept for observers only
    bool m_previousFailed = false;
    // The receive buffer keeps a reply in the making from tick to tick until it is judged.
    bool m_holding = false;
    int m_received = 0;           // every byte drained since the request went out
    int m_ticksSinceSend = 0;     // the request's age where the link cannot tell time
    qint64 m_previousSentUs = -1; // when the request before went out, to time a late answer
    qint64 m_waitUs = TickMs * 1000;
    qint64 m_shortestWaitUs = TickMs * 1000;
    int m_fastReplies = 0;
    int m_untimed = 0; // exchanges since one was timed
    Echo m_lineEcho = Echo::Unknown;
    bool m_echoTaken = false; // for the request in flight
    int m_txCopies = 0;       // times the request in flight went out in a row
    int m_previousCopies = 0; // and the request before it
};

// Queue producers. Each returns false (and queues nothing) when the ring is full.
bool EnqueuePriorityDone(RequestQueue &queue);
bool EnqueueParamRead(RequestQueue &queue, qint32 address, int n);
bool EnqueueParamWrite(RequestQueue &queue, qint32 address, qint32 value, int n);
// Operator command: the word is ParseNumber of the button's tag ("&HCBD0"). A word that does not
// fit the 16-bit command register (-32768..65535) is refused rather than cut.
bool EnqueueCommand(RequestQueue &queue, const QString &tag);

} // namespace vortan
