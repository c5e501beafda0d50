#include "modbus/frames.h"

#include <array>
#include <cstring>

namespace vortan
{

namespace
{

constexpr int ParamReadMaxBytes = 80;
constexpr int ParamWriteMaxBytes = 4;
constexpr int ParamRunMaxBytes = 80;
constexpr quint16 PriorityCodeRegister = 4010;
constexpr quint16 ControlWordRegister = 4002;
constexpr quint16 ControlRegisterCount = 5;

class SlotWriter
{
public:
    explicit SlotWriter(quint8 function)
    {
        m_slot.bytes[0] = 0;
        m_slot.last = 0;
        put(function);
    }

    void put(quint8 b)
    {
        if (m_slot.last + 1 >= RequestSlot::Capacity)
            return;
        ++m_slot.last;
        m_slot.bytes[size_t(m_slot.last)] = b;
    }
    void putWord(qint64 value)
    {
        put(ByteOf(value, 1));
        put(ByteOf(value, 0));
    }

    RequestSlot slot() const { return m_slot; }

private:
    RequestSlot m_slot;
};

// The reflected polynomial 0xA001 applied to every byte value once, so a status reply's CRC costs
// a table look-up a byte rather than eight shifts.
constexpr std::array<quint16, 256> CrcTable = [] {
    std::array<quint16, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned crc = b;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1u ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[b] = quint16(crc);
    }
    return table;
}();

} // namespace

quint16 Crc16Modbus(const quint8 *bytes, int count)
{
    quint16 crc = 0xFFFF;
    if (!bytes)
        return crc;
    for (int i = 0; i < count; ++i)
        crc = quint16((crc >> 8) ^ CrcTable[(crc ^ bytes[i]) & 0xFFu]);
    return crc;
}

quint16 Crc16Modbus(const QByteArray &bytes)
{
    return Crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size()));
}

quint8 ByteOf(qint64 value, int k)
{
    if (k < 0 || k > 3)
        return 0;
    // Going through unsigned keeps the low 32 bits of any value, negative ones included.
    const quint32 pattern = quint32(quint64(value));
    return quint8((pattern >> (8 * k)) & 0xFFu);
}

int RxBuffer::RxWord(int i) const
{
    return RxUInt(i, 2);
}

int RxBuffer::RxSignedWord(int i) const
{
    const int w = RxWord(i);
    return w >= 32768 ? w - 65536 : w;
}

double RxBuffer::RxDWord(int i) const
{
    return double(RxDWordBits(i));
}

quint32 RxBuffer::RxDWordBits(int i) const
{
    return quint32(RxUInt(i, 4));
}

qint32 RxBuffer::RxUInt(int start, int n) const
{
    n = qBound(1, n, 4);
    quint32 v = 0;
    for (int k = 0; k < n; ++k) {
        const qint64 index = qint64(start) + k;
        const quint8 b = (index >= 0 && index < Capacity) ? bytes[size_t(index)] : 0;
        v = (v << 8) | b;
    }
    return qint32(v);
}

bool CrcGood(const quint8 *frame, int count)
{
    if (!frame || count < 3)
        return false;
    const quint16 sent = quint16(frame[count - 2] | (frame[count - 1] << 8));
    return Crc16Modbus(frame, count - 2) == sent;
}

bool CrcGood(const QByteArray &frame)
{
    return CrcGood(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()));
}

bool RxBuffer::crcGood() const
{
    return count <= MaxCount && CrcGood(bytes.data(), count);
}

bool StartsReply(const quint8 *bytes, int count, const QByteArray &request)
{
    // Address, function, at least one byte of body, CRC: the shortest request this tool sends.
    if (!bytes || count < 1 || request.size() < 5)
        return false;
    const auto asked = [&request](int i) { return i < request.size() ? quint8(request.at(i)) : 0; };
    const quint8 function = asked(1);
    if (bytes[0] != asked(0))
        return false;
    if (count < 2 || (bytes[1] == quint8(function | ExceptionFlag) && !(function & ExceptionFlag)))
        return true;
    if (bytes[1] != function)
        return false;
    switch (function) {
    case FnReadInput:
    case FnReadWrite:
        // Registers asked: bytes 4-5 of both requests (the read count of function 23).
        return count < 3 || bytes[2] == 2 * (asked(4) * 256 + asked(5));
    case FnWriteSingle:
        return std::memcmp(bytes, request.constData(),
                           size_t(qMin<qsizetype>(count, request.size()))) == 0;
    case FnParamRead:
    case FnParamWrite:
        for (int i = 2; i <= 4 && i < count; ++i) {
            if (bytes[i] != asked(i))
                return false;
        }
        return true;
    default:
        // A function whose answer this controller does not define is matched by address and
        // function alone.
        return true;
    }
}

ReplyMatch CheckReply(const quint8 *frame, int count, const QByteArray &request)
{
    if (count < 3 || !StartsReply(frame, count, request))
        return ReplyMatch::Stray;
    const quint8 function = quint8(request.at(1));
    if (frame[1] != function)
        return count == 5 ? ReplyMatch::Exception : ReplyMatch::Stray;
    if (!ReplyLengthDefined(function))
        return ReplyMatch::Reply;
    const int whole =
        function == FnWriteSingle ? int(request.size()) : ExpectedReplyLength(frame, count);
    return count == whole ? ReplyMatch::Reply : ReplyMatch::Stray;
}

ReplyMatch CheckReply(const RxBuffer &reply, const QByteArray &request)
{
    return CheckReply(reply.bytes.data(), qMin(reply.count, RxBuffer::MaxCount), request);
}

ReplyMatch CheckReply(const QByteArray &frame, const QByteArray &request)
{
    return CheckReply(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()),
                      request);
}

bool ReplyLengthDefined(quint8 function)
{
    switch (function) {
    case FnReadInput:
    case FnReadWrite:
    case FnWriteSingle:
    case FnParamRead:
    case FnParamWrite:
        return true;
    default:
        return (function & ExceptionFlag) != 0;
    }
}

int ExpectedReplyLength(const quint8 *bytes, int count)
{
    if (!bytes || count < 2)
        return 0;
    const quint8 function = bytes[1];
    if (function & ExceptionFlag)
        return 5;
    switch (function) {
    case FnWriteSingle:
        return 8;
    case FnReadInput:
    case FnReadWrite:
        return count < 3 ? 0 : 3 + bytes[2] + 2;
    case FnParamRead:
    case FnParamWrite:
        return count < 5 ? 0 : 5 + bytes[4] + 2;
    default:
        return 0;
    }
}

int ExpectedReplyLength(const QByteArray &start)
{
    return ExpectedReplyLength(reinterpret_cast<const quint8 *>(start.constData()),
                               int(start.size()));
}

int EchoLength(const quint8 *bytes, int count, const QByteArray &request, bool lineEchoes)
{
    const int len = int(request.size());
    if (!bytes || len < 5 || count < len ||
        std::memcmp(bytes, request.constData(), size_t(len)) != 0)
        return 0;
    if (lineEchoes)
        return len;
    const quint8 *behind = bytes + len;
    const int after = ExpectedReplyLength(behind, count - len);
    if (after > 0 && count - len >= after && CrcGood(behind, after))
        return len;
    const int whole = ExpectedReplyLength(bytes, count);
    if (whole == len)
        return count > len ? len : 0;
    if (whole > len && StartsReply(bytes, count, request)) {
        if (count < whole)
            return -1;
        if (CrcGood(bytes, whole))
            return 0;
    }
    return len;
}

bool RepliesWithCopy(const QByteArray &request)
{
    if (request.size() < 2)
        return false;
    const quint8 function = quint8(request.at(1));
    return function == FnWriteSingle || function == FnParamWrite;
}

QByteArray BuildTxFrame(const RequestSlot &slot, quint8 slaveAddress)
{
    if (!slot.isValid())
        return {};
    const int last = slot.last;
    QByteArray frame(last + 3, '\0');
    frame[0] = char(slaveAddress);
    for (int i = 1; i <= last; ++i)
        frame[i] = char(slot.bytes[size_t(i)]);
    const quint16 crc = Crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), last + 1);
    frame[last + 1] = char(ByteOf(crc, 0));
    frame[last + 2] = char(ByteOf(crc, 1));
    return frame;
}

RequestSlot StatusPollRequest()
{
    SlotWriter w(FnReadInput);
    w.putWord(StatusStartRegister);
    w.putWord(StatusRegisterCount);
    return w.slot();
}

RequestSlot WriteRegisterRequest(quint16 reg, qint32 value)
{
    SlotWriter w(FnWriteSingle);
    w.putWord(reg);
    w.putWord(value);
    return w.slot();
}

RequestSlot ControlStateRequest(const ControlState &s)
{
    SlotWriter w(FnReadWrite);
    w.putWord(PriorityCodeRegister);
    w.putWord(1);
    w.putWord(ControlWordRegister);
    w.putWord(ControlRegisterCount);
    w.put(quint8(2 * ControlRegisterCount));
    w.putWord(s.controlWord);
    w.put(quint8(qBound(0, s.nextSection, 15) * 16 + qBound(0, s.section, 15)));
    w.put(quint8(qBound(0, s.priority, 255)));
    w.putWord(s.bdn);
    w.putWord(s.flr);
    w.putWord(s.iflr);
    return w.slot();
}

RequestSlot ParamReadRequest(qint32 address, int n)
{
    SlotWriter w(FnParamRead);
    w.putWord(address);
    w.put(quint8(qBound(1, n, ParamReadMaxBytes)));
    return w.slot();
}

RequestSlot ParamWriteRequest(qint32 address, qint32 value, int n)
{
    n = qBound(1, n, ParamWriteMaxBytes);
    SlotWriter w(FnParamWrite);
    w.putWord(address);
    w.put(quint8(n));
    for (int k = n - 1; k >= 0; --k)
        w.put(ByteOf(value, k));
    return w.slot();
}

RequestSlot ParamRunWriteRequest(qint32 address, const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    const int n = int(qMin<qsizetype>(data.size(), ParamRunMaxBytes));
    SlotWriter w(FnParamWrite);
    w.putWord(address);
    w.put(quint8(n));
    for (int k = 0; k < n; ++k)
        w.put(quint8(data[k]));
    return w.slot();
}

} // namespace vortan
