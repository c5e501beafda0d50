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

// One exchange per 40 ms tick: judge what arrived since the last tick, then send the next request.
class ExchangeCycle
{
public:
    ExchangeCycle(RequestQueue &queue, RxBuffer &rx, SerialLink &link, CycleHost &host,
                  PollPolicy &policy);

    // Observers see every closed exchange after the verdict and the dispatch, before the next
    // request goes out. They must outlive the cycle or be removed first.
    void addObserver(ExchangeObserver *observer);
    void removeObserver(ExchangeObserver *observer);

    void ExchangeTick();
    // A whole frame that answers nothing, taken off the line between ticks by a driver that
    // looks at the line more often than the tick: observers see it once, with no request.
    void reportStray(const QByteArray &frame);
    // Sends nothing on a closed port or while the slave address is not a byte (no selection).
    void SendNextRequest();

    const QByteArray &lastFrame() const { return m_txFrame; }

private:
    void report(Verdict verdict, int received);
    void notify(const ExchangeRecord &record);

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
};

// Queue producers. Each returns false (and queues nothing) when the ring is full.
bool EnqueuePriorityDone(RequestQueue &queue);
bool EnqueueParamRead(RequestQueue &queue, qint32 address, int n);
bool EnqueueParamWrite(RequestQueue &queue, qint32 address, qint32 value, int n);
// Operator command: the word is ParseNumber of the button's tag ("&HCBD0"). A word that does not
// fit the 16-bit command register (-32768..65535) is refused rather than cut.
bool EnqueueCommand(RequestQueue &queue, const QString &tag);

} // namespace vortan
