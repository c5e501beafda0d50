#pragma once

#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "monitor/labellamprow.h"
#include "status/registermap.h"
#include "status/statussnapshot.h"

#include <QString>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QWidget;

namespace vortan
{

// Routes each good reply in RxBuffer by its function code and shows the controller's status
// block in frm_main. Every control it writes is looked up once, by objectName, when it is built.
class StatusMonitor
{
public:
    StatusMonitor(QWidget *frmMain, const RxBuffer &rx, RequestQueue &queue);

    void DecodeReply();

    // Set by the parameters window; called for function 100 and 101 replies.
    std::function<void()> applyParamReply;
    // Told of every full status block right after it is painted (recording, trends).
    std::function<void(const StatusSnapshot &)> snapshotDecoded;

    quint16 MeasValidity() const { return m_snapshot.measValidity; }
    // The last full status block shown.
    const StatusSnapshot &lastSnapshot() const { return m_snapshot; }
    // Paints a snapshot into frm_main; only labels whose text or colour changes are touched.
    void ShowStatusSnapshot(const StatusSnapshot &snapshot);

private:
    void DecodeStatusBlock();
    void DecodePriorityCode();
    void appendStatusNote(const QString &note);

    const RxBuffer &m_rx;
    RequestQueue &m_queue;
    StatusSnapshot m_snapshot;

    std::vector<QLabel *> m_fields; // StatusRegisterMap() order
    QLabel *m_statusLine = nullptr;
    QLabel *m_setpr = nullptr;
    QLabel *m_nodeConflict = nullptr;
    QComboBox *m_priority = nullptr;
    LabelLampRow m_unitMaxPowerLamps;
    LabelLampRow m_unitActivePowerLamps;
    LabelLampRow m_unitStateLamps;
    LabelLampRow m_discreteInputs;
    LabelLampRow m_controlFlags;
    LabelLampRow m_alarms;
    LabelLampRow m_alarms1;
};

} // namespace vortan
