#pragma once

#include "modbus/frames.h"
#include "status/registermap.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <vector>

namespace vortan
{

// One field of the status block as a number: the raw register value, and whether the controller
// marks its measurement valid.
struct FieldReading {
    qint64 raw = 0;
    bool valid = true;
};

struct UnitReading {
    qint16 maxPower = 0;    // tenths of kW
    qint16 activePower = 0; // tenths of kW
    quint16 state = 0;      // state bits 0..10 (letters)
    bool green = false;     // the unit's row is shown green
};

// A decoded status block (function-4 reply of registers 2000..2071) as plain data. The main
// window paints it, the command line prints it; both show the same texts through the functions
// below.
struct StatusSnapshot {
    std::array<quint16, StatusRegisters> registers{};
    std::vector<FieldReading> fields; // one per StatusRegisterMap() entry, in its order
    quint16 measValidity = 0;
    bool nodeConflict = false;
    quint16 discreteInputs = 0;
    quint32 controlFlags = 0;
    quint32 alarms = 0;
    quint32 warnings = 0;
    quint32 alarms1 = 0;
    quint32 warnings1 = 0;
    std::array<UnitReading, StatusUnits> units{};

    // The text the window shows for field i of the map ("?" for an invalid measurement).
    QString fieldText(int i) const;
    // The number the window shows for field i (rounded to its decimals); NaN when invalid or not
    // a number (versions and hexadecimal words).
    double fieldNumber(int i) const;
    // Lamp states the window shows by member index.
    bool inputOn(int lamp) const;
    bool flagOn(int lamp) const;
    // 2 alarm (red), 1 warning (yellow), 0 neither; `second` for the lbl_fl1 pair.
    int alarmLevel(int lamp, bool second = false) const;
};

// Number of bytes a full status reply has; a shorter one decodes to nothing.
bool HoldsStatusBlock(const RxBuffer &rx);
// Decodes a full function-4 reply (HoldsStatusBlock must be true).
StatusSnapshot DecodeStatusBlock(const RxBuffer &rx);

// Unit table texts: powers with one decimal, state letters.
QString UnitPowerText(qint16 tenths);

} // namespace vortan
