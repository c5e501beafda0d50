#include "monitor/statusmonitor.h"
#include "format/logging.h"

#include "format/formatting.h"
#include "modbus/exchangecycle.h"

#include <QComboBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QWidget>

namespace vortan
{

namespace
{

// Address, function, byte count, the priority-change register, CRC.
constexpr int PriorityReplyLength = 7;
constexpr int PriorityEntries = 8;
constexpr int PriorityCodeMarker = 0xA5;
constexpr int ExceptionFlag = 0x80;

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

StatusMonitor::StatusMonitor(QWidget *frmMain, const RxBuffer &rx, RequestQueue &queue)
    : m_rx(rx), m_queue(queue)
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
}

void StatusMonitor::DecodeReply()
{
    if (m_rx.count < 3)
        return;
    const int function = m_rx.byte(1);
    if (function == FnReadInput) {
        DecodeStatusBlock();
    } else if (function == FnReadWrite) {
        DecodePriorityCode();
    } else if (function == FnParamRead || function == FnParamWrite) {
        if (applyParamReply)
            applyParamReply();
    } else if (function >= ExceptionFlag) {
        appendStatusNote(QStringLiteral(" Нарушение протокола, код: ") +
                         QString::number(m_rx.byte(2)));
    }
}

void StatusMonitor::DecodeStatusBlock()
{
    // A short block would show whatever an earlier reply left in the buffer as live values.
    if (!HoldsStatusBlock(m_rx)) {
        appendStatusNote(QStringLiteral(" Неполный ответ: %1 байт").arg(m_rx.count));
        return;
    }
    m_snapshot = vortan::DecodeStatusBlock(m_rx);
    ShowStatusSnapshot(m_snapshot);
    if (snapshotDecoded)
        snapshotDecoded(m_snapshot);
}

void StatusMonitor::ShowStatusSnapshot(const StatusSnapshot &s)
{
    for (size_t i = 0; i < m_fields.size(); ++i)
        ShowText(m_fields[i], s.fieldText(int(i)));

    if (m_nodeConflict && m_nodeConflict->isHidden() == s.nodeConflict)
        m_nodeConflict->setVisible(s.nodeConflict);

    quint32 greenRows = 0;
    for (int i = 0; i < StatusUnits; ++i) {
        const UnitReading &u = s.units[size_t(i)];
        ShowText(m_unitMaxPowerLamps.at(i), UnitPowerText(u.maxPower));
        ShowText(m_unitActivePowerLamps.at(i), UnitPowerText(u.activePower));
        ShowText(m_unitStateLamps.at(i), UnitStateLetters(u.state));
        if (u.green)
            greenRows |= 1u << i;
    }
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

void StatusMonitor::DecodePriorityCode()
{
    // A reply too short to carry the register would read its own CRC as a priority code.
    if (m_rx.count < PriorityReplyLength) {
        appendStatusNote(QStringLiteral(" Неполный ответ: %1 байт").arg(m_rx.count));
        return;
    }
    const int code = m_rx.RxWord(3);
    ShowText(m_setpr, HexPadded(code, 4));
    if (ByteOf(code, 1) != PriorityCodeMarker)
        return;

    const int entry = ByteOf(code, 0);
    if (!m_priority || entry >= PriorityEntries || entry >= m_priority->count()) {
        appendStatusNote(QStringLiteral(" Неверный код смены приоритета: ") + HexPadded(code, 4));
        return;
    }
    if (m_priority->currentIndex() != entry)
        m_priority->setCurrentIndex(entry);
    if (!EnqueuePriorityDone(m_queue))
        qCWarning(lcMonitor) << "request queue full: priority change not acknowledged";
}

void StatusMonitor::appendStatusNote(const QString &note)
{
    if (m_statusLine)
        m_statusLine->setText(m_statusLine->text() + note);
}

} // namespace vortan
