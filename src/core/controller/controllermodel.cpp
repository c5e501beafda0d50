#include "controller/controllermodel.h"
#include "format/logging.h"

#include "format/formatting.h"
#include "modbus/exchangecycle.h"
#include "params/paramtransfer.h"

#include <QLoggingCategory>

namespace vortan
{

namespace
{

// Address, function, byte count, the priority-change register, CRC.
constexpr int PriorityReplyLength = 7;
// cmb_priority holds the entries "0".."7".
constexpr int PriorityEntries = 8;
constexpr int PriorityCodeMarker = 0xA5;

QString IncompleteNote(const RxBuffer &rx)
{
    return QStringLiteral(" Неполный ответ: %1 байт").arg(rx.count);
}

} // namespace

ControllerModel::ControllerModel(RequestQueue &queue, QObject *parent)
    : QObject(parent), m_queue(queue)
{
}

void ControllerModel::setControlState(const ControlState &state)
{
    if (state == m_control)
        return;
    m_control = state;
    emit controlStateChanged(m_control);
}

void ControllerModel::DecodeReply(const RxBuffer &rx)
{
    if (rx.count < 3)
        return;
    const int function = rx.byte(1);
    if (function == FnReadInput) {
        DecodeStatusBlock(rx);
    } else if (function == FnReadWrite) {
        DecodePriorityCode(rx);
    } else if (function == FnParamRead || function == FnParamWrite) {
        ApplyParamReply(rx);
    } else if (function >= ExceptionFlag) {
        emit statusNote(QStringLiteral(" Нарушение протокола, код: ") +
                        QString::number(rx.byte(2)));
    }
}

void ControllerModel::DecodeStatusBlock(const RxBuffer &rx)
{
    // A short block would show whatever an earlier reply left in the buffer as live values.
    if (!HoldsStatusBlock(rx)) {
        emit statusNote(IncompleteNote(rx));
        return;
    }
    m_snapshot = vortan::DecodeStatusBlock(rx);
    m_hasSnapshot = true;
    emit statusDecoded(m_snapshot);
}

void ControllerModel::DecodePriorityCode(const RxBuffer &rx)
{
    // A reply too short to carry the register would read its own CRC as a priority code.
    if (rx.count < PriorityReplyLength) {
        emit statusNote(IncompleteNote(rx));
        return;
    }
    const int code = rx.RxWord(3);
    m_priorityCode = code;
    emit priorityCodeRead(code);
    if (ByteOf(code, 1) != PriorityCodeMarker)
        return;

    const int entry = ByteOf(code, 0);
    if (entry >= PriorityEntries) {
        emit statusNote(QStringLiteral(" Неверный код смены приоритета: ") + HexPadded(code, 4));
        return;
    }
    ControlState state = m_control;
    state.priority = entry;
    setControlState(state);
    if (!EnqueuePriorityDone(m_queue))
        qCWarning(lcMonitor) << "request queue full: priority change not acknowledged";
}

void ControllerModel::ApplyParamReply(const RxBuffer &rx)
{
    const QVector<ParamValue> values = DecodeParamReply(rx, m_params.table());
    const bool written = rx.byte(1) == FnParamWrite;
    m_params.apply(values);
    for (const ParamValue &v : values) {
        QString &reported = m_reported[size_t(v.index)];
        const QString before = reported.isEmpty() ? QStringLiteral("-") : reported;
        reported = v.text;
        if (written)
            emit paramWritten(v.index, before, v.text);
    }
}

} // namespace vortan
