#pragma once

#include "controller/controllermodel.h"
#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "monitor/labellamprow.h"
#include "status/registermap.h"
#include "status/statussnapshot.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QWidget;

namespace vortan
{

// frm_main's view of the controller model: paints each status block, the priority-change code
// and the priority the handshake selects, and puts the model's notes on the status line. Every
// control it writes is looked up once, by objectName, when it is built.
class StatusMonitor : public QObject
{
public:
    // The least time between two paintings of the status block, by default.
    static constexpr int PaintIntervalMs = 500;
    // How much later than due the last block of a burst is painted: more than a status block's
    // period, so a running poll paints before it.
    static constexpr int LastBlockDelayMs = 100;

    StatusMonitor(QWidget *frmMain, ControllerModel &model);
    // A monitor with a model of its own, fed from `rx` by DecodeReply.
    StatusMonitor(QWidget *frmMain, const RxBuffer &rx, RequestQueue &queue);
    ~StatusMonitor() override;

    // Hands the reply in the buffer given at construction to the monitor's own model.
    void DecodeReply();

    ControllerModel &model() { return m_model; }
    quint16 MeasValidity() const { return m_model.MeasValidity(); }
    // The last full status block shown.
    const StatusSnapshot &lastSnapshot() const { return m_model.snapshot(); }
    // 0 paints every block as it comes.
    void setPaintIntervalMs(int ms) { m_paintIntervalMs = qMax(0, ms); }
    // Paints a snapshot into frm_main; only labels whose text or colour changes are touched.
    void ShowStatusSnapshot(const StatusSnapshot &snapshot);

private:
    // `model` is null when the monitor uses `ownModel`.
    StatusMonitor(QWidget *frmMain, std::unique_ptr<ControllerModel> ownModel,
                  ControllerModel *model, const RxBuffer *rx);
    void statusDecoded(const StatusSnapshot &snapshot);
    void showPriority(const ControlState &state);
    void appendStatusNote(const QString &note);

    std::unique_ptr<ControllerModel> m_ownModel;
    ControllerModel &m_model;
    const RxBuffer *m_rx = nullptr;

    int m_paintIntervalMs = PaintIntervalMs;
    QTimer m_paintTimer;
    QElapsedTimer m_sincePaint;
    StatusSnapshot m_painted;       // what the labels show now
    std::vector<QLabel *> m_fields; // StatusRegisterMap() order
    QLabel *m_statusLine = nullptr;
    QLabel *m_setpr = nullptr;
    int m_shownPriorityCode = -1;
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
