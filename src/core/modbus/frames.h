#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <array>

namespace vortan
{

// CRC-16/MODBUS (poly 0xA001 reflected, start 0xFFFF, no final xor). Sent low byte first.
quint16 Crc16Modbus(const quint8 *bytes, int count);
quint16 Crc16Modbus(const QByteArray &bytes);

// True when the frame has at least 3 bytes and its last two are the CRC (low first) of the rest.
bool CrcGood(const quint8 *frame, int count);
bool CrcGood(const QByteArray &frame);

// Byte k (0 = bits 0-7 .. 3 = bits 24-31) of value taken as a signed 32-bit pattern (its low
// 32 bits); any other k gives 0.
quint8 ByteOf(qint64 value, int k);

// Byte index in a function-4/23 reply of the high byte of register n: 2n+3.
constexpr int RegByteIndex(int n)
{
    return 2 * n + 3;
}

// The reply of the current exchange. Readers are bounds-checked against the array (never
// against stale length assumptions): a byte outside 0..260 reads as 0.
struct RxBuffer {
    static constexpr int Capacity = 261;
    static constexpr int MaxCount = 260;
    std::array<quint8, Capacity> bytes{};
    int count = 0;

    quint8 byte(int i) const { return (i >= 0 && i < Capacity) ? bytes[size_t(i)] : 0; }
    int RxWord(int i) const;          // 0..65535
    int RxSignedWord(int i) const;    // -32768..32767
    double RxDWord(int i) const;      // 0..4294967295, first register high
    quint32 RxDWordBits(int i) const; // the same as a bit pattern
    // Big-endian, n clamped to 1..4. A 4-byte value of 2^31 or more comes back as its
    // two's-complement pattern (negative), never as undefined behaviour.
    qint32 RxUInt(int start, int n) const;
    // True when count >= 3 and the last two bytes are the CRC (low first) of the rest.
    bool crcGood() const;
    // True when bytes start..start+n-1 all arrived in this reply.
    bool holds(int start, int n) const
    {
        return start >= 0 && n >= 0 && qint64(start) + n <= qMin(count, MaxCount);
    }
};

// A queued request: bytes 0..last, byte 0 the slave-address place (stored as 0), no CRC.
struct RequestSlot {
    static constexpr int Capacity = 261;
    std::array<quint8, Capacity> bytes{};
    int last = -1;

    // A request has at least its function code and fits the slot.
    bool isValid() const { return last >= 1 && last < Capacity; }
};

// The frame on the wire: slave address, slot bytes 1..last, CRC low, CRC high (last+3 bytes).
// An invalid slot gives an empty frame.
QByteArray BuildTxFrame(const RequestSlot &slot, quint8 slaveAddress);

// The operator's inputs that the control-state exchange (function 23) writes to 4002..4006.
struct ControlState {
    quint16 controlWord = 0; // register 4002: one bit per status check box
    int section = 0;         // cmb_section index 0..7
    int nextSection = 0;     // cmb_sec_next index 0..7
    int priority = 0;        // cmb_priority index 0..7
    quint16 bdn = 0;         // register 4004: sum of checked chk_bdn tags
    quint16 flr = 0;         // register 4005: sum of checked chk_flr tags
    quint16 iflr = 0;        // register 4006: sum of checked chk_iflr tags
};

inline bool operator==(const ControlState &a, const ControlState &b)
{
    return a.controlWord == b.controlWord && a.section == b.section &&
           a.nextSection == b.nextSection && a.priority == b.priority && a.bdn == b.bdn &&
           a.flr == b.flr && a.iflr == b.iflr;
}
inline bool operator!=(const ControlState &a, const ControlState &b)
{
    return !(a == b);
}

// How a frame with a good CRC relates to the request in flight.
enum class ReplyMatch {
    Reply,     // the answer to it
    Exception, // the controller refused it: its function + 0x80 and a code, 5 bytes
    Stray,     // answers something else (a late reply to an earlier request, another slave)
};

// The one place that decides whether a frame answers the request in flight (`request`: the
// frame as sent, CRC included; empty when nothing was sent, and then nothing is answered). The
// slave address and function must be the request's, and the frame must have the shape of this
// function's answer: 4 and 23 two bytes per register asked; 6 the echo of the request; 100 and
// 101 the request's parameter address and count echoed, then that many data bytes.
ReplyMatch CheckReply(const quint8 *frame, int count, const QByteArray &request);
ReplyMatch CheckReply(const RxBuffer &reply, const QByteArray &request);
ReplyMatch CheckReply(const QByteArray &frame, const QByteArray &request);

// True when the bytes so far can grow into the answer to `request` (or are all of it): the same
// tests as CheckReply, on the bytes that have arrived.
bool StartsReply(const quint8 *bytes, int count, const QByteArray &request);

// Length of a reply of this controller judged from its first bytes: exception 5 bytes, functions
// 4 and 23 by their byte count, 6 eight bytes, 100 and 101 by their data count; 0 while unknown,
// and always for a function whose answer this controller does not define.
int ExpectedReplyLength(const quint8 *bytes, int count);
int ExpectedReplyLength(const QByteArray &start);
// The controller defines the length of this function's answer (the exception flag included).
bool ReplyLengthDefined(quint8 function);

// How many leading bytes are the echo of `request` that a 2-wire adapter hears from its own
// transmitter: request.size() or 0. The answers to 6 and 101 repeat their request, so one copy
// is the reply and a second copy behind it means echo and reply. A whole good reply that merely
// starts like its request (a parameter read whose first data bytes equal the request's CRC) is no
// echo; -1 while the bytes could still grow into one. On a line known to echo (`lineEchoes`) a
// copy at the head is always the echo: a lone copy of a 6 or 101 is not yet the reply.
int EchoLength(const quint8 *bytes, int count, const QByteArray &request, bool lineEchoes = false);

// The answer to this request is its own copy (6) or starts with it (101 write, echoed whole).
bool RepliesWithCopy(const QByteArray &request);

// Request layouts.
RequestSlot StatusPollRequest();                             // 4: start 2000, count 72
RequestSlot WriteRegisterRequest(quint16 reg, qint32 value); // 6
// 23: read 4010 x1, write 4002 x5. A list index outside its field (-1 for no selection) is
// limited to it: section and next section one nibble each, priority one byte.
RequestSlot ControlStateRequest(const ControlState &s);
RequestSlot ParamReadRequest(qint32 address, int n);                // 100: n cut to 1..80
RequestSlot ParamWriteRequest(qint32 address, qint32 value, int n); // 101: n cut to 1..4
// 101 with a run of data bytes (1..80; more are cut to 80). No data gives an invalid slot, which
// the queue refuses: padding it with a zero byte would overwrite a parameter.
RequestSlot ParamRunWriteRequest(qint32 address, const QByteArray &data);

constexpr quint16 StatusStartRegister = 2000;
constexpr quint16 StatusRegisterCount = 72;
constexpr int StatusReplyLength = 149;
constexpr quint16 CommandRegister = 4001;
constexpr quint16 PriorityDoneWord = 0xAD5E;
// Set in the function code of an exception reply.
constexpr quint8 ExceptionFlag = 0x80;
constexpr quint8 FnReadInput = 4;
constexpr quint8 FnWriteSingle = 6;
constexpr quint8 FnReadWrite = 23;
constexpr quint8 FnParamRead = 100;
constexpr quint8 FnParamWrite = 101;

} // namespace vortan
