#pragma once

#include <QtGlobal>

namespace vortan
{

// Background states of an indicator.
enum class Lamp { Default, Green, Red, Yellow };

// A row of indicators the painters colour by index; the windows plug their labels in.
class LampRow
{
public:
    virtual ~LampRow() = default;
    virtual int size() const = 0;
    virtual void setLamp(int index, Lamp lamp) = 0;
};

// Member i (first..last) green when bit i+offset of mask is set, else default.
// Members the row lacks and bits above 31 are skipped / read as clear.
void ShowBitsGreen(quint32 mask, LampRow &row, int first, int last, int offset);

// Member i red when the alarm mask has bit i+offset, else yellow when the warning mask has it,
// else default. Members the row lacks are skipped.
void ShowBitsAlarm(quint32 warning, quint32 alarm, LampRow &row, int first, int last, int offset);

} // namespace vortan
