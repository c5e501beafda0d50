#include "monitor/statusmonitor.h"
#include "format/logging.h"

#include "format/formatting.h"

#include <QComboBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QWidget>

namespace vortan
{

namespace
{

// Writes only real changes: an unchanged reply must not cost a relayout or a repaint.
void ShowText(QLabel *label, const QString &text)
{
    if (label && label->text() != text)
        label->setText(text);
}

template <class T>
T *Resolve(const QWidget *frmMain, const QString &name, QStringList &missing)
{
    T *widget = frmMain ? frmMain->findChild<T *>(name) : nullptr;
    if (!widget)
        missing << name;
    return widget;
}

} // namespace

StatusMonitor::StatusMonitor(QWidget *frmMain, ControllerModel &model)
    : StatusMonitor(frmMain, nullptr, &model, nullptr)
{
}

StatusMonitor::StatusMonitor(QWidget *frmMain, const RxBuffer &rx, RequestQueue &queue)
    : StatusMonitor(frmMain, std::make_unique<ControllerModel>(queue), nullptr, &rx)
{
}

StatusMonitor::StatusMonitor(QWidget *frmMain, std::unique_ptr<ControllerModel> ownModel,
                             ControllerModel *model, const RxBuffer *rx)
    : m_ownModel(std::move(ownModel)), m_model(model ? *model : *m_ownModel), m_rx(rx)
{
    QStringList missing;
    for (const RegisterField &field : StatusRegisterMap())
        m_fields.push_back(Resolve<QLabel>(frmMain, QString::fromLatin1(field.label), missing));
    m_statusLine = Resolve<QLabel>(frmMain, QStringLiteral("lbl_sys_mes"), missing);
    m_setpr = Resolve<QLabel>(frmMain, QStringLiteral("lbl_setpr"), missing);
    m_nodeConflict = Resolve<QLabel>(frmMain, QStringLiteral("lbl_node_cnflct"), missing);
    m_priority = Resolve<QComboBox>(frmMain, QStringLiteral("cmb_priority"), missing);

    m_unitMaxPowerLamps = LabelLampRow::find(frmMain, "lbl_ext_maxpwr", StatusUnits, &missing);
    m_unitActivePowerLamps = LabelLampRow::find(frmMain, "lbl_ext_actpwr", StatusUnits, &missing);
    m_unitStateLamps = LabelLampRow::find(frmMain, "lbl_ext_cecsf", StatusUnits, &missing);
    m_discreteInputs = LabelLampRow::find(frmMain, "lbl_eds", DiscreteInputLamps, &missing);
    m_controlFlags = LabelLampRow::find(frmMain, "lbl_cf", ControlFlagLamps, &missing);
    m_alarms = LabelLampRow::find(frmMain, "lbl_fl", AlarmLamps, &missing);
    m_alarms1 = LabelLampRow::find(frmMain, "lbl_fl1", Alarm1Lamps, &missing);

    if (!missing.isEmpty()) {
        qCWarning(lcMonitor).noquote()
            << missing.size()
            << "controls missing in frm_main, not shown:" << missing.join(QLatin1Char(' '));
    }

    connect(&m_model, &ControllerModel::statusDecoded, this, &StatusMonitor::statusDecoded);
    m_paintTimer.setSingleShot(true);
    connect(&m_paintTimer, &QTimer::timeout, this,
            [this] { ShowStatusSnapshot(m_model.snapshot()); });
    connect(&m_model, &ControllerModel::priorityCodeRead, this, [this](int code) {
        // Read every other exchange and nearly always the same: formatted on a change.
        if (code == m_shownPriorityCode)
            return;
        m_shownPriorityCode = code;
        ShowText(m_setpr, HexPadded(code, 4));
    });
    connect(&m_model, &ControllerModel::controlStateChanged, this, &StatusMonitor::showPriority);
    connect(&m_model, &ControllerModel::statusNote, this, &StatusMonitor::appendStatusNote);
}

StatusMonitor::~StatusMonitor() = default;

void StatusMonitor::DecodeReply()
{
    if (m_rx)
        m_model.DecodeReply(*m_rx);
}

namespace
{

// Lamps, the conflict warning and the unit table's states: what an engineer must see at once.
bool LampsDiffer(const StatusSnapshot &a, const StatusSnapshot &b)
{
    if (a.discreteInputs != b.discreteInputs || a.controlFlags != b.controlFlags ||
        a.alarms != b.alarms || a.warnings != b.warnings || a.alarms1 != b.alarms1 ||
        a.warnings1 != b.warnings1 || a.nodeConflict != b.nodeConflict)
        return true;
    for (int i = 0; i < StatusUnits; ++i) {
        const UnitReading &u = a.units[size_t(i)];
        const UnitReading &v = b.units[size_t(i)];
        if (u.state != v.state || u.green != v.green)
            return true;
    }
    return false;
}

} // namespace

void StatusMonitor::statusDecoded(const StatusSnapshot &s)
{
    // Blocks come every 80 ms and painting the measurements costs far more than polling: they
    // are shown at most every m_paintIntervalMs, the latest block of a burst never lost. A lamp
    // that changes is shown at once, with everything else of its block.
    const qint64 since = m_sincePaint.isValid() ? m_sincePaint.elapsed() : m_paintIntervalMs;
    if (since >= m_paintIntervalMs || LampsDiffer(s, m_painted))
        ShowStatusSnapshot(s);
    else if (!m_paintTimer.isActive())
        // For the last block of a burst only: while blocks keep coming, the first one due is
        // painted as it is decoded and stops the timer, which would otherwise wake the program
        // just for painting.
        m_paintTimer.start(int(m_paintIntervalMs - since) + LastBlockDelayMs);
}

void StatusMonitor::ShowStatusSnapshot(const StatusSnapshot &s)
{
    m_paintTimer.stop();
    m_sincePaint.start();
    // The first paint has nothing to compare with.
    const bool same = m_painted.fields.size() == s.fields.size();
    for (size_t i = 0; i < m_fields.size(); ++i) {
        // An unchanged reading keeps its text: no formatting for it.
        if (same && i < s.fields.size() && m_painted.fields[i].raw == s.fields[i].raw &&
            m_painted.fields[i].valid == s.fields[i].valid)
            continue;
        ShowText(m_fields[i], s.fieldText(int(i)));
    }
    const bool lampsAsPainted = same && !LampsDiffer(s, m_painted);

    if (m_nodeConflict && m_nodeConflict->isHidden() == s.nodeConflict)
        m_nodeConflict->setVisible(s.nodeConflict);

    quint32 greenRows = 0;
    for (int i = 0; i < StatusUnits; ++i) {
        const UnitReading &u = s.units[size_t(i)];
        if (u.green)
            greenRows |= 1u << i;
        const UnitReading &was = m_painted.units[size_t(i)];
        if (lampsAsPainted && u.maxPower == was.maxPower && u.activePower == was.activePower)
            continue;
        ShowText(m_unitMaxPowerLamps.at(i), UnitPowerText(u.maxPower));
        ShowText(m_unitActivePowerLamps.at(i), UnitPowerText(u.activePower));
        ShowText(m_unitStateLamps.at(i), UnitStateLetters(u.state));
    }
    m_painted = s;
    if (lampsAsPainted)
        return;
    ShowBitsGreen(greenRows, m_unitMaxPowerLamps, 0, StatusUnits - 1, 0);
    ShowBitsGreen(greenRows, m_unitActivePowerLamps, 0, StatusUnits - 1, 0);
    ShowBitsGreen(greenRows, m_unitStateLamps, 0, StatusUnits - 1, 0);

    ShowBitsGreen(s.discreteInputs, m_discreteInputs, 0, DiscreteInputLamps - 1, 0);
    ShowBitsGreen(s.controlFlags, m_controlFlags, 0, LowControlFlags - 1, 0);
    ShowBitsGreen(s.controlFlags, m_controlFlags, LowControlFlags, ControlFlagLamps - 1,
                  HighControlFlagShift);
    ShowBitsAlarm(s.warnings, s.alarms, m_alarms, 0, AlarmLamps - 1, 0);
    ShowBitsAlarm(s.warnings1, s.alarms1, m_alarms1, 0, Alarm1Lamps - 1, 0);
}

void StatusMonitor::showPriority(const ControlState &state)
{
    if (m_priority && m_priority->currentIndex() != state.priority &&
        state.priority < m_priority->count())
        m_priority->setCurrentIndex(state.priority);
}

void StatusMonitor::appendStatusNote(const QString &note)
{
    if (m_statusLine)
        m_statusLine->setText(m_statusLine->text() + note);
}

} // namespace vortan
