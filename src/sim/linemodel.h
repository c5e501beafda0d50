#pragma once

#include "sim/faultplan.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <deque>
#include <optional>

namespace vortan::sim
{

// How the line between the PC and the controller behaves. All off: a pseudo-terminal, where a
// whole frame moves at once.
struct LineSettings {
    bool pace = false;       // bytes take their time on the wire, 11 bits at 115200
    int usbLatencyMs = -1;   // -1: no USB converter; else its latency timer
    int turnaroundMs = 0;    // the controller's pause between a request and its answer
    bool echo = false;       // a 2-wire adapter hears its own requests
    int gatewayDelayMs = -1; // -1: none; else the whole reply is handed on this late, at once

    bool active() const
    {
        return pace || usbLatencyMs >= 0 || turnaroundMs > 0 || echo || gatewayDelayMs >= 0;
    }
};

// ideal, usb, slow, echo, gateway; false for any other name.
bool ParseLinePreset(const QString &name, LineSettings *line);

// Nanoseconds that `bytes` bytes take on a 115200 8E1 line (start, 8 data, parity, stop bits).
constexpr qint64 WireNs(qint64 bytes)
{
    return bytes * 11 * 1000000000LL / 115200;
}

// An FTDI-type converter hands the bytes it received to the PC in USB packets of this many.
constexpr int UsbPacketBytes = 62;

// The half-duplex bus and the converter at the PC, on the relay's clock in nanoseconds. The
// relay hands in what the PC wrote and what the controller sends; advance() says what reaches
// each side by then, and nextEvent() when to ask again, so nothing ever blocks.
//
// A request and a reply on the bus at the same time collide: the controller, hearing another
// driver, breaks off its frame there (the PC gets the bytes sent before, nothing after, nor any
// later piece of that frame), and it does not answer the request it missed the start of. A
// reply counts as being on the bus from its first byte until its last one has gone, pauses
// inside the frame included.
class LineModel
{
public:
    LineModel(const LineSettings &settings, SimCounters &counters)
        : m_settings(settings), m_counters(counters)
    {
    }

    bool active() const { return m_settings.active(); }

    // Bytes the PC wrote, read by the relay at `now`.
    void request(const QByteArray &bytes, qint64 now);
    // One piece of a reply as the controller sends it; `more` when the frame goes on in a later
    // piece. `completesReply` and `intactReply` are reported once the piece has reached the PC.
    void reply(const QByteArray &bytes, qint64 now, bool more, bool completesReply,
               const QByteArray &intactReply);

    struct Output {
        QByteArray toServer;
        QByteArray toClient;
        quint64 replies = 0;      // reply frames whose last byte reached the PC
        QList<QByteArray> intact; // of those, the unaltered ones
    };
    Output advance(qint64 now);
    // When something is next due; nullopt while the line is idle.
    std::optional<qint64> nextEvent() const;
    // The PC has gone: what was under way on its behalf is forgotten.
    void clear();

private:
    struct Request {
        QByteArray bytes;
        qint64 start;
        qint64 end;
        bool collided = false;
    };
    struct Reply {
        int id;
        qint64 start;
        qint64 end;
        bool open; // more pieces of the frame to come
        bool cut = false;
    };
    // Bytes on their way to the PC: an echo (reply -1) or a piece of a reply.
    struct Piece {
        QByteArray bytes;
        qsizetype taken = 0;
        qint64 start;        // the first byte starts on the wire
        qint64 burstAt = -1; // a gateway hands all of it on at once then
        int reply = -1;
        bool completesReply = false;
        QByteArray intactReply;
    };
    struct Mark {
        quint64 position; // the byte count on the PC side that completes the reply
        QByteArray intactReply;
    };

    qint64 wire(qsizetype bytes) const { return m_settings.pace ? WireNs(bytes) : 0; }
    qint64 arrival(const Piece &p, qsizetype i) const;
    void collide(Request &request, Reply &reply);
    void handOver(const QByteArray &bytes, Output &out);
    std::optional<qint64> usbDeadline() const;
    std::optional<size_t> nextByte() const; // the piece whose next byte arrives first

    LineSettings m_settings;
    SimCounters &m_counters;
    std::deque<Request> m_requests; // on the wire, not yet whole at the controller
    std::deque<Reply> m_replies;    // on the wire or still to come
    std::deque<Piece> m_stream;
    std::deque<Mark> m_marks;
    qint64 m_pcFreeAt = 0;
    qint64 m_controllerFreeAt = 0;
    std::optional<qint64> m_answeredEnd; // the last byte of the request the controller heard last
    int m_nextReply = 0;
    quint64 m_arrived = 0; // bytes that reached the PC's converter
    quint64 m_handed = 0;  // bytes that reached the PC
    QByteArray m_usbBuffer;
    qint64 m_usbFirst = 0;
    std::optional<qint64> m_usbLastHandOver;
};

} // namespace vortan::sim
