#pragma once

#include "modbus/frames.h"
#include "modbus/pollpolicy.h"
#include "params/paramset.h"
#include "params/paramtable.h"
#include "status/statussnapshot.h"

#include <QObject>
#include <QString>

#include <array>

namespace vortan
{

class RequestQueue;

// What the program knows of one controller, without a window: the last status block, the
// operator's inputs that the control-state poll writes, the priority handshake and the
// parameter set. Every good reply goes through DecodeReply; the windows only show and edit this.
class ControllerModel : public QObject
{
    Q_OBJECT
public:
    // `queue` takes the priority acknowledgement; it outlives the model.
    explicit ControllerModel(RequestQueue &queue, QObject *parent = nullptr);

    // Routes a good reply by its function code: the status block, the priority-change code,
    // parameter replies and exception replies.
    void DecodeReply(const RxBuffer &rx);

    const StatusSnapshot &snapshot() const { return m_snapshot; }
    bool hasSnapshot() const { return m_hasSnapshot; }
    quint16 MeasValidity() const { return m_snapshot.measValidity; }

    // The operator's check boxes and lists as the control-state poll sends them.
    const ControlState &controlState() const { return m_control; }
    void setControlState(const ControlState &state);
    // The operator's traffic when nothing is queued: the status block and the control-state
    // exchange in turn, the latter built from controlState() when it is queued.
    AlternatingPoll &operatorPoll() { return m_poll; }
    const AlternatingPoll &operatorPoll() const { return m_poll; }

    // The last priority-change code read (register 4010); -1 before the first.
    int priorityCode() const { return m_priorityCode; }

    ParamSet &paramSet() { return m_params; }
    const ParamSet &paramSet() const { return m_params; }

signals:
    // A full status block was decoded into snapshot().
    void statusDecoded(const vortan::StatusSnapshot &snapshot);
    // A priority-change code was read (shown in lbl_setpr).
    void priorityCodeRead(int code);
    // controlState() changed, by the operator or by the priority handshake.
    void controlStateChanged(const vortan::ControlState &state);
    // A note for the end of the status line: exception replies, short replies, a priority entry
    // that does not exist.
    void statusNote(const QString &note);
    // The controller confirmed writing parameter `index`: `oldText` is the value it reported
    // before (its last read or confirmed write; "-" when none came), `newText` the value
    // written, both as the parameters window shows them.
    void paramWritten(int index, const QString &oldText, const QString &newText);

private:
    void DecodeStatusBlock(const RxBuffer &rx);
    void DecodePriorityCode(const RxBuffer &rx);
    void ApplyParamReply(const RxBuffer &rx);

    RequestQueue &m_queue;
    StatusSnapshot m_snapshot;
    bool m_hasSnapshot = false;
    ControlState m_control;
    AlternatingPoll m_poll{[this] { return m_control; }};
    int m_priorityCode = -1;
    ParamSet m_params;
    // What the controller last reported for each parameter; empty until it has.
    std::array<QString, ParamTable::Count> m_reported;
};

} // namespace vortan
