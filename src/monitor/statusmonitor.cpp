#include "monitor/statusmonitor.h"

#include "format/formatting.h"
#include "modbus/exchangecycle.h"

#include <QComboBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QWidget>

namespace vortan
{

Q_LOGGING_CATEGORY(lcMonitor, "vortan.monitor")

namespace
{

// Address, function, byte count, the priority-change register, CRC.
constexpr int PriorityReplyLength = 7;
constexpr int PriorityEntries = 8;
constexpr int PriorityCodeMarker = 0xA5;
constexpr int ExceptionFlag = 0x80;

constexpr int DiscreteInputLamps = 10;
constexpr int ControlFlagLamps = 16;
constexpr int AlarmLamps = 32;
constexpr int Alarm1Lamps = 2;
// Labels 13-15 of lbl_cf show bits 18-20 of the control-flag word.
constexpr int LowControlFlags = 13;
constexpr int HighControlFlagShift = 5;

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
    for (const RegisterField &field : StatusRegisterMap()) {
        m_fields.push_back(
            {&field, Resolve<QLabel>(frmMain, QString::fromLatin1(field.label), missing)});
    }
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
    if (m_rx.count < StatusReplyLength) {
        appendStatusNote(QStringLiteral(" Неполный ответ: %1 байт").arg(m_rx.count));
        return;
    }
    m_measValidity = quint16(m_rx.RxWord(RegByteIndex(StatusOffset::MeasValidity)));
    ShowRegisterFields();
    ShowNodeConflict();
    ShowUnitTable();
    ShowDiscreteInputs();
    ShowControlFlags();
    ShowAlarmWords();
}

QString StatusMonitor::fieldText(const RegisterField &field) const
{
    if (field.validity != 0 && (m_measValidity & field.validity) != field.validity)
        return QStringLiteral("?");

    const int at = RegByteIndex(field.offset);
    const QString unit = QString::fromLatin1(field.unit);
    switch (field.type) {
    case FieldType::Version:
        return VersionText(m_rx.byte(at), m_rx.byte(at + 1));
    case FieldType::U16:
        return FormatScaled(m_rx.RxWord(at), field.decimals, field.factor, unit);
    case FieldType::S16:
        return FormatScaled(m_rx.RxSignedWord(at), field.decimals, field.factor, unit);
    case FieldType::Hex16:
        return QString::fromLatin1(field.prefix) + HexPadded(m_rx.RxWord(at), 4);
    case FieldType::Hex32:
        return QString::fromLatin1(field.prefix) + HexPadded(qint64(m_rx.RxDWordBits(at)), 8);
    }
    return QString();
}

void StatusMonitor::ShowRegisterFields()
{
    for (const FieldLabel &f : m_fields)
        ShowText(f.label, fieldText(*f.field));
}

void StatusMonitor::ShowNodeConflict()
{
    if (!m_nodeConflict)
        return;
    const bool conflict = m_rx.RxWord(RegByteIndex(StatusOffset::NodeConflict)) & 0x0001;
    if (m_nodeConflict->isHidden() == conflict)
        m_nodeConflict->setVisible(conflict);
}

void StatusMonitor::ShowUnitTable()
{
    const QString empty;
    for (int i = 0; i < StatusUnits; ++i) {
        ShowText(m_unitMaxPowerLamps.at(i),
                 FormatScaled(m_rx.RxSignedWord(RegByteIndex(StatusOffset::UnitMaxPower + i)), 1,
                              0.1, empty));
        ShowText(m_unitActivePowerLamps.at(i),
                 FormatScaled(m_rx.RxSignedWord(RegByteIndex(StatusOffset::UnitActivePower + i)), 1,
                              0.1, empty));
        ShowText(m_unitStateLamps.at(i),
                 UnitStateLetters(quint16(m_rx.RxWord(RegByteIndex(StatusOffset::UnitState + i)))));
    }
    // A set bit leaves the row at the default colour; a clear bit paints it green.
    const quint32 greenRows = ~quint32(m_rx.RxWord(RegByteIndex(StatusOffset::UnitColours)));
    ShowBitsGreen(greenRows, m_unitMaxPowerLamps, 0, StatusUnits - 1, 0);
    ShowBitsGreen(greenRows, m_unitActivePowerLamps, 0, StatusUnits - 1, 0);
    ShowBitsGreen(greenRows, m_unitStateLamps, 0, StatusUnits - 1, 0);
}

void StatusMonitor::ShowDiscreteInputs()
{
    ShowBitsGreen(quint32(m_rx.RxWord(RegByteIndex(StatusOffset::DiscreteInputs))),
                  m_discreteInputs, 0, DiscreteInputLamps - 1, 0);
}

void StatusMonitor::ShowControlFlags()
{
    const quint32 flags = m_rx.RxDWordBits(RegByteIndex(StatusOffset::ControlFlags));
    ShowBitsGreen(flags, m_controlFlags, 0, LowControlFlags - 1, 0);
    ShowBitsGreen(flags, m_controlFlags, LowControlFlags, ControlFlagLamps - 1,
                  HighControlFlagShift);
}

void StatusMonitor::ShowAlarmWords()
{
    ShowBitsAlarm(m_rx.RxDWordBits(RegByteIndex(StatusOffset::Warnings)),
                  m_rx.RxDWordBits(RegByteIndex(StatusOffset::Alarms)), m_alarms, 0, AlarmLamps - 1,
                  0);
    ShowBitsAlarm(m_rx.RxDWordBits(RegByteIndex(StatusOffset::Warnings1)),
                  m_rx.RxDWordBits(RegByteIndex(StatusOffset::Alarms1)), m_alarms1, 0,
                  Alarm1Lamps - 1, 0);
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
