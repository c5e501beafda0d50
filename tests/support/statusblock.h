#pragma once

#include "modbus/frames.h"

#include <QByteArray>

#include <map>

namespace vortan::test
{

// Registers 2000..2071 by offset; those not given read 0.
using StatusRegisters = std::map<int, quint16>;

// A full function-4 reply from slave 1 in the receive buffer, CRC included.
inline RxBuffer StatusBlock(const StatusRegisters &regs)
{
    QByteArray bytes("\x01\x04\x90", 3);
    for (int n = 0; n < 72; ++n) {
        const auto it = regs.find(n);
        const quint16 v = it == regs.end() ? 0 : it->second;
        bytes += char(v >> 8);
        bytes += char(v & 0xFF);
    }
    const quint16 crc = Crc16Modbus(bytes);
    bytes += char(crc & 0xFF);
    bytes += char(crc >> 8);
    RxBuffer rx;
    for (int i = 0; i < bytes.size(); ++i)
        rx.bytes[size_t(i)] = quint8(bytes[i]);
    rx.count = int(bytes.size());
    return rx;
}

} // namespace vortan::test
