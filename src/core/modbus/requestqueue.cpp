#include "modbus/requestqueue.h"
#include "format/logging.h"

#include <QLoggingCategory>

#include <algorithm>

namespace vortan
{

bool RequestQueue::enqueue(const RequestSlot &request)
{
    if (!request.isValid()) {
        qCWarning(lcModbus) << "request refused: last index" << request.last << "out of range";
        return false;
    }
    if (!hasRoomFor(1)) {
        qCWarning(lcModbus) << "request refused: ring full," << waiting() << "requests waiting";
        return false;
    }
    RequestSlot &slot = m_slots[m_write];
    std::copy(request.bytes.begin(), request.bytes.begin() + request.last + 1, slot.bytes.begin());
    slot.bytes[0] = 0;
    slot.last = request.last;
    AdvanceWriteIndex();
    return true;
}

} // namespace vortan
