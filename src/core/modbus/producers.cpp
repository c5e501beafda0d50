#include "format/formatting.h"
#include "format/logging.h"
#include "modbus/exchangecycle.h"

#include <QLoggingCategory>

namespace vortan
{

bool EnqueuePriorityDone(RequestQueue &queue)
{
    return queue.enqueue(WriteRegisterRequest(CommandRegister, PriorityDoneWord));
}

bool EnqueueParamRead(RequestQueue &queue, qint32 address, int n)
{
    return queue.enqueue(ParamReadRequest(address, n));
}

bool EnqueueParamWrite(RequestQueue &queue, qint32 address, qint32 value, int n)
{
    return queue.enqueue(ParamWriteRequest(address, value, n));
}

bool EnqueueCommand(RequestQueue &queue, const QString &tag)
{
    const qint32 word = RoundHalfAway(ParseNumber(tag));
    if (word < -32768 || word > 65535) {
        qCWarning(lcModbus) << "command refused: tag" << tag << "is not a 16-bit word";
        return false;
    }
    return queue.enqueue(WriteRegisterRequest(CommandRegister, word));
}

} // namespace vortan
