#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace vortan
{

// How a tick judged what arrived for the request sent on the tick before.
enum class Verdict {
    Good,      // a good CRC, and the frame answers the request in flight (CheckReply)
    BadCrc,    // at least 3 bytes, CRC mismatch
    NoReply,   // nothing arrived
    Short,     // 1 or 2 bytes: shown as no reply
    Exception, // good CRC, function code with the exception flag; byte 2 is the code
    Stray,     // good CRC, but the frame answers no request in flight: never a value
};

// One closed exchange: the request of the previous tick and what came back for it.
struct ExchangeRecord {
    // More than the line carries in one 40 ms tick at 115200 baud (about 420 bytes).
    static constexpr int MaxReplyBytes = 512;

    qint64 msecsSinceEpoch = 0; // when the tick judged the reply
    QByteArray request;         // frame sent on the previous tick; empty when nothing was sent
    QByteArray reply;           // bytes drained this tick, the first MaxReplyBytes of them
    int bytesReceived = 0;      // every byte drained this tick
    Verdict verdict = Verdict::NoReply;
    bool repeat = false; // the request is the same frame as the one before it (sent again)
    int queueDepth = 0;  // requests waiting, the one in flight included, after the verdict
    int port = 0;        // the port ("COM" n) the exchange went through
    // From the last request byte handed to the driver to the arrival of the last reply byte;
    // -1 when nothing arrived or the link cannot stamp its bytes.
    qint64 replyTimeUs = -1;
    // How long silence is now waited for before it counts as no reply; 0 when not told.
    int waitMs = 0;

    int exceptionCode() const { return verdict == Verdict::Exception ? quint8(reply.at(2)) : -1; }
    // The request's function code; -1 when nothing was sent.
    int function() const { return request.size() >= 2 ? quint8(request.at(1)) : -1; }
    // A tick that sent nothing and heard nothing (port closed, no address).
    bool idle() const { return request.isEmpty() && bytesReceived == 0; }
};

// A short word for a verdict: good, crc, noreply, short, exception:N, stray.
QString VerdictWord(Verdict verdict, int exceptionCode = -1);
// One line of a frame trace, fields separated by tabs: local time (ISO 8601 with milliseconds
// and UTC offset), request bytes in hex ("-" for none), reply bytes in hex ("-"), verdict,
// reply time in milliseconds with a decimal point ("-" when unknown), "repeat" or "-".
QString TraceLine(const ExchangeRecord &record);
// The column names of TraceLine, as a comment line starting with "#".
QString TraceHeader();

// Statistics, traffic views, traces and command-line drivers watch the cycle through this.
class ExchangeObserver
{
public:
    virtual ~ExchangeObserver() = default;
    virtual void exchanged(const ExchangeRecord &record) = 0;
    // True for a view of each exchange (a traffic log, a trace): every reply is then timed, not
    // only a sample of them.
    virtual bool wantsEveryReplyTime() const { return false; }
};

} // namespace vortan
