#pragma once

#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "params/paramtable.h"

#include <QByteArray>

#include <algorithm>
#include <array>

namespace vortan::test
{

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

inline QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = Crc16Modbus(frame);
    return frame + bytes({crc & 0xFF, crc >> 8});
}

// A parameter reply from slave 1 as it lies in the receive buffer after `cutAfter` bytes (all
// when negative); the bytes beyond it stand for an earlier, longer reply that must not be read.
inline RxBuffer ParamReply(int function, int address, int count, const QByteArray &data,
                           int cutAfter = -1)
{
    const QByteArray frame =
        withCrc(bytes({1, function, address >> 8, address & 0xFF, count}) + data);
    RxBuffer rx;
    rx.bytes.fill(0xEE);
    rx.count = cutAfter >= 0 ? qMin(cutAfter, int(frame.size())) : int(frame.size());
    std::copy(frame.begin(), frame.begin() + rx.count, rx.bytes.begin());
    return rx;
}

// The controller's parameter memory: answers function 100 with the bytes asked for, stores the
// data of function 101 and echoes it; no answer to anything else.
struct FakeParamMemory {
    std::array<quint8, 147> bytes{};

    QByteArray answer(const QByteArray &request)
    {
        if (request.size() < 7)
            return {};
        const int function = quint8(request.at(1));
        const int address = quint8(request.at(2)) * 256 + quint8(request.at(3));
        const int n = quint8(request.at(4));
        QByteArray data = request.mid(5, n);
        if (function == FnParamRead) {
            data = QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()))
                       .mid(address, n);
        } else if (function == FnParamWrite) {
            for (int k = 0; k < data.size() && address + k < int(bytes.size()); ++k)
                bytes[size_t(address + k)] = quint8(data.at(k));
        } else {
            return {};
        }
        return withCrc(request.left(4) + char(data.size()) + data);
    }
};

inline QByteArray slotBytes(const RequestSlot &slot)
{
    return QByteArray(reinterpret_cast<const char *>(slot.bytes.data()),
                      qBound(0, slot.last + 1, RequestSlot::Capacity));
}

} // namespace vortan::test
