#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace vortan
{

// How a tick judged what arrived for the request sent on the tick before.
enum class Verdict {
    Good,      // at least 3 bytes and a good CRC
    BadCrc,    // at least 3 bytes, CRC mismatch
    NoReply,   // nothing arrived
    Short,     // 1 or 2 bytes: shown as no reply
    Exception, // good CRC, function code with the exception flag; byte 2 is the code
};

// One closed exchange: the request of the previous tick and what came back for it.
struct ExchangeRecord {
    qint64 msecsSinceEpoch = 0; // when the tick judged the reply
    QByteArray request;         // frame sent on the previous tick; empty when nothing was sent
    QByteArray reply;           // bytes stored this tick (at most 260)
    Verdict verdict = Verdict::NoReply;
    bool repeat = false; // the request is the same frame as the one before it (sent again)
    int queueDepth = 0;  // requests waiting, the one in flight included, after the verdict
    int exceptionCode() const { return verdict == Verdict::Exception ? quint8(reply.at(2)) : -1; }
};

// A short word for a verdict: good, crc, noreply, short, exception:N.
QString VerdictWord(Verdict verdict, int exceptionCode = -1);
// One line of a frame trace, fields separated by tabs: local time (ISO 8601 with milliseconds),
// request bytes in hex ("-" for none), reply bytes in hex, verdict, "repeat" or "-".
QString TraceLine(const ExchangeRecord &record);

// Statistics, traffic views, traces and command-line drivers watch the cycle through this.
class ExchangeObserver
{
public:
    virtual ~ExchangeObserver() = default;
    virtual void exchanged(const ExchangeRecord &record) = 0;
};

} // namespace vortan
