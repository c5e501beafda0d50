#include "status/statussnapshot.h"

#include "format/formatting.h"

#include <cmath>
#include <limits>

namespace vortan
{

bool HoldsStatusBlock(const RxBuffer &rx)
{
    return rx.count >= StatusReplyLength;
}

StatusSnapshot DecodeStatusBlock(const RxBuffer &rx)
{
    StatusSnapshot s;
    for (int n = 0; n < StatusRegisters; ++n)
        s.registers[size_t(n)] = quint16(rx.RxWord(RegByteIndex(n)));
    const auto word = [&s](int n) { return s.registers[size_t(n)]; };
    const auto dword = [&s](int n) {
        return quint32(s.registers[size_t(n)]) << 16 | s.registers[size_t(n + 1)];
    };

    s.measValidity = word(StatusOffset::MeasValidity);
    const RegisterMap map = StatusRegisterMap();
    s.fields.reserve(map.count);
    for (const RegisterField &f : map) {
        FieldReading r;
        switch (f.type) {
        case FieldType::S16:
            r.raw = qint16(word(f.offset));
            break;
        case FieldType::Hex32:
            r.raw = dword(f.offset);
            break;
        default:
            r.raw = word(f.offset);
            break;
        }
        r.valid = f.validity == 0 || (s.measValidity & f.validity) == f.validity;
        s.fields.push_back(r);
    }

    s.nodeConflict = word(StatusOffset::NodeConflict) & 0x0001;
    s.discreteInputs = word(StatusOffset::DiscreteInputs);
    s.controlFlags = dword(StatusOffset::ControlFlags);
    s.alarms = dword(StatusOffset::Alarms);
    s.warnings = dword(StatusOffset::Warnings);
    s.alarms1 = dword(StatusOffset::Alarms1);
    s.warnings1 = dword(StatusOffset::Warnings1);
    // A set bit leaves the unit's row at the default colour; a clear bit paints it green.
    const quint16 colours = word(StatusOffset::UnitColours);
    for (int i = 0; i < StatusUnits; ++i) {
        UnitReading &u = s.units[size_t(i)];
        u.maxPower = qint16(word(StatusOffset::UnitMaxPower + i));
        u.activePower = qint16(word(StatusOffset::UnitActivePower + i));
        u.state = word(StatusOffset::UnitState + i);
        u.green = !(colours & (1u << i));
    }
    return s;
}

QString StatusSnapshot::fieldText(int i) const
{
    const RegisterMap map = StatusRegisterMap();
    if (i < 0 || size_t(i) >= map.count || size_t(i) >= fields.size())
        return QString();
    const RegisterField &f = map.first[i];
    const FieldReading &r = fields[size_t(i)];
    if (!r.valid)
        return QStringLiteral("?");
    const QString unit = QString::fromLatin1(f.unit);
    switch (f.type) {
    case FieldType::Version:
        return VersionText(int(r.raw >> 8), int(r.raw & 0xFF));
    case FieldType::U16:
    case FieldType::S16:
        return FormatScaled(double(r.raw), f.decimals, f.factor, unit);
    case FieldType::Hex16:
        return QString::fromLatin1(f.prefix) + HexPadded(r.raw, 4);
    case FieldType::Hex32:
        return QString::fromLatin1(f.prefix) + HexPadded(r.raw, 8);
    }
    return QString();
}

double StatusSnapshot::fieldNumber(int i) const
{
    const RegisterMap map = StatusRegisterMap();
    if (i < 0 || size_t(i) >= map.count || size_t(i) >= fields.size())
        return std::numeric_limits<double>::quiet_NaN();
    const RegisterField &f = map.first[i];
    const FieldReading &r = fields[size_t(i)];
    if (!r.valid || !f.isNumber())
        return std::numeric_limits<double>::quiet_NaN();
    // The shown text is the one source of truth for rounding (ties to even at the shown digits).
    const double scale = std::pow(10.0, f.decimals);
    const double shown = std::nearbyint(double(r.raw) * f.factor * scale) / scale;
    return shown;
}

bool StatusSnapshot::inputOn(int lamp) const
{
    return lamp >= 0 && lamp < DiscreteInputLamps && (discreteInputs >> lamp) & 1u;
}

bool StatusSnapshot::flagOn(int lamp) const
{
    if (lamp < 0 || lamp >= ControlFlagLamps)
        return false;
    const int bit = lamp < LowControlFlags ? lamp : lamp + HighControlFlagShift;
    return (controlFlags >> bit) & 1u;
}

int StatusSnapshot::alarmLevel(int lamp, bool second) const
{
    if (lamp < 0 || lamp >= (second ? Alarm1Lamps : AlarmLamps))
        return 0;
    const quint32 alarm = second ? alarms1 : alarms;
    const quint32 warning = second ? warnings1 : warnings;
    if ((alarm >> lamp) & 1u)
        return 2;
    return ((warning >> lamp) & 1u) ? 1 : 0;
}

QString UnitPowerText(qint16 tenths)
{
    return FormatScaled(tenths, 1, 0.1, QString());
}

} // namespace vortan
