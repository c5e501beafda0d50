#pragma once

#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "monitor/labellamprow.h"
#include "monitor/registermap.h"

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

    quint16 MeasValidity() const { return m_measValidity; }

private:
    struct FieldLabel {
        const RegisterField *field;
        QLabel *label;
    };

    void DecodeStatusBlock();
    void DecodePriorityCode();
    void ShowRegisterFields();
    void ShowNodeConflict();
    void ShowUnitTable();
    void ShowDiscreteInputs();
    void ShowControlFlags();
    void ShowAlarmWords();
    QString fieldText(const RegisterField &field) const;
    void appendStatusNote(const QString &note);

    const RxBuffer &m_rx;
    RequestQueue &m_queue;
    quint16 m_measValidity = 0;

    std::vector<FieldLabel> m_fields;
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
