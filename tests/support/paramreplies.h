#pragma once

#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "params/paramtable.h"

#include <QByteArray>

#include <algorithm>

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

inline QByteArray slotBytes(const RequestSlot &slot)
{
    return QByteArray(reinterpret_cast<const char *>(slot.bytes.data()),
                      qBound(0, slot.last + 1, RequestSlot::Capacity));
}

} // namespace vortan::test
