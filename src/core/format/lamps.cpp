#include "format/lamps.h"

#include <algorithm>

namespace vortan
{

namespace
{

bool bitSet(quint32 mask, qint64 bit)
{
    return bit >= 0 && bit <= 31 && ((mask >> bit) & 1u) != 0;
}

// Members outside the row are skipped, so only the part of first..last the row has is walked;
// this also keeps a wild range from looping over billions of indices.
template <typename Paint>
void forEachMember(const LampRow &row, qint64 first, qint64 last, Paint paint)
{
    const qint64 from = std::max<qint64>(first, 0);
    const qint64 to = std::min<qint64>(last, qint64(row.size()) - 1);
    for (qint64 i = from; i <= to; ++i)
        paint(int(i));
}

} // namespace

void ShowBitsGreen(quint32 mask, LampRow &row, int first, int last, int offset)
{
    forEachMember(row, first, last, [&](int i) {
        row.setLamp(i, bitSet(mask, qint64(i) + offset) ? Lamp::Green : Lamp::Default);
    });
}

void ShowBitsAlarm(quint32 warning, quint32 alarm, LampRow &row, int first, int last, int offset)
{
    qint64 top = last;
    if (top + offset > 31)
        top = 31 - qint64(offset);
    forEachMember(row, first, top, [&](int i) {
        const qint64 bit = qint64(i) + offset;
        if (bitSet(alarm, bit))
            row.setLamp(i, Lamp::Red);
        else if (bitSet(warning, bit))
            row.setLamp(i, Lamp::Yellow);
        else
            row.setLamp(i, Lamp::Default);
    });
}

} // namespace vortan
