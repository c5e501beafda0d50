#pragma once

#include "params/paramtable.h"

#include <QStringList>
#include <QVector>

namespace vortan
{

class RequestQueue;
struct RxBuffer;

enum class TransferStatus {
    Queued,
    RingFull, // the request ring cannot take the whole set; nothing was queued
    NoNumber, // a box holds no number; nothing was queued
};

// How a value text reads as parameter `index`. The window and vortanctl both judge texts here.
struct ParamText {
    // The text starts with a number as ParseNumber reads it ("12,5 ", "-3", "&H1F"; not "-",
    // "", "abc"). The window writes such a text; one without a number would go out as raw 0.
    bool holdsNumber = false;
    // What a write sends: the number divided by the scale, rounded, limited to the width's range.
    qint32 raw = 0;
    // The text is a plain decimal number (digits, at most one comma or point with digits after
    // it, blanks around) that the controller stores exactly as raw: a whole multiple of the
    // scale within the width's range, and for the device address a unicast address. A restore
    // writes nothing unless every value is such a text.
    bool ok = false;
    QString reason; // why not ok, in the engineer's words
};

ParamText ParseParamText(const ParamTable &table, int index, const QString &text);

// Queues one function-100 read per contiguous run (20 for the table), all or none.
TransferStatus ReadAllParams(RequestQueue &queue, const ParamTable &table);

struct WriteAllResult {
    TransferStatus status = TransferStatus::Queued;
    QVector<int> emptyBoxes; // indices whose text holds no number (status NoNumber)
};

// Queues a function-101 write per run (parameter 41 in none) and then parameter 41 alone.
// `texts` are the 111 box texts. Nothing is queued unless every text holds a number and the
// ring has room for every request.
WriteAllResult WriteAllParams(RequestQueue &queue, const ParamTable &table,
                              const QStringList &texts);

// Queues the write of parameter `index` from its box text.
TransferStatus WriteOneParam(RequestQueue &queue, const ParamTable &table, int index,
                             const QString &text);

struct ParamValue {
    int index = 0;
    qint32 raw = 0;
    QString text; // FormatScaled(raw, 2, scale, ""): locale decimal separator, one blank
};

// The values a function-100/101 reply carries, from the entry at the reply's address on through
// its run. Only bytes that arrived before the CRC and lie within the announced count are used;
// a value cut short, a surplus beyond entry 110 or beyond the run is ignored.
QVector<ParamValue> DecodeParamReply(const RxBuffer &rx, const ParamTable &table);

} // namespace vortan
