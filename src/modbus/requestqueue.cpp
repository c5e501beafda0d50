#include "modbus/requestqueue.h"

#include <QLoggingCategory>

#include <algorithm>

namespace vortan
{

namespace
{
Q_LOGGING_CATEGORY(lcQueue, "vortan.modbus")
}

bool RequestQueue::enqueue(const RequestSlot &request)
{
    if (!request.isValid()) {
        qCWarning(lcQueue) << "request refused: last index" << request.last << "out of range";
        return false;
    }
    if (!hasRoomFor(1)) {
        qCWarning(lcQueue) << "request refused: ring full," << waiting() << "requests waiting";
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
