#pragma once

#include <QString>
#include <QtGlobal>

#include <cstddef>

namespace vortan
{

// How a register of the status block (input registers 2000..2071) is shown.
enum class FieldType {
    Version, // high byte "." low byte, the low byte two digits wide
    U16,     // scaled, unsigned
    S16,     // scaled, signed
    Hex16,   // four hexadecimal digits
    Hex32,   // prefix and eight hexadecimal digits of two registers, the first one high
};

// Where the window shows a field; the command line and recordings group it the same way.
enum class FieldGroup { Set, Section, Buses, Synchroniser, LoadSharing, Service };

struct RegisterField {
    int offset; // register number from 2000
    FieldType type;
    const char *label; // objectName of the label in frm_main
    double factor;
    int decimals;
    const char *unit;   // after the blank that follows a scaled number
    const char *prefix; // before the digits of a hexadecimal field
    // MeasValidity bits that must all be set for the value to be meaningful; 0 = always shown.
    quint16 validity;
    FieldGroup group;
    const char *caption;  // UTF-8, as the engineer knows the value ("U фазы A")
    const char *quantity; // UTF-8 unit of the number ("В"), empty for plain numbers and words

    bool isNumber() const { return type == FieldType::U16 || type == FieldType::S16; }
    // "U фазы A, В": the caption with its unit, for column headings and printed lists.
    QString heading() const;
};

struct RegisterMap {
    const RegisterField *first;
    std::size_t count;
    const RegisterField *begin() const { return first; }
    const RegisterField *end() const { return first + count; }
};

// Every text field of the status block, in the order they are written.
RegisterMap StatusRegisterMap();

// Caption of a group as the window's frames name it ("ЭА", "Синхронизатор").
QString FieldGroupCaption(FieldGroup group);

// Number of registers a field reads.
int FieldWidth(FieldType type);

// Registers of the status block that paint indicators and the unit table.
namespace StatusOffset
{
constexpr int MeasValidity = 22;
constexpr int NodeConflict = 23;
constexpr int UnitColours = 24;
constexpr int DiscreteInputs = 27;
constexpr int Alarms = 30;          // two registers
constexpr int Alarms1 = 32;         // two registers
constexpr int UnitMaxPower = 34;    // eight registers
constexpr int UnitActivePower = 42; // eight registers
constexpr int Warnings = 52;        // two registers
constexpr int Warnings1 = 54;       // two registers
constexpr int ControlFlags = 56;    // two registers
constexpr int UnitState = 63;       // eight registers
} // namespace StatusOffset

constexpr int StatusUnits = 8;
constexpr int DiscreteInputLamps = 10;
constexpr int ControlFlagLamps = 16;
constexpr int AlarmLamps = 32;
constexpr int Alarm1Lamps = 2;
// Lamps 13-15 of the control flags show bits 18-20 of the control-flag word.
constexpr int LowControlFlags = 13;
constexpr int HighControlFlagShift = 5;

// Captions of the indicator lamps by member index (lbl_eds, lbl_cf, lbl_fl, lbl_fl1), UTF-8;
// an unused lamp has an empty caption.
const char *DiscreteInputName(int lamp);
const char *ControlFlagName(int lamp);
const char *AlarmName(int lamp);
const char *Alarm1Name(int lamp);
constexpr int StatusRegisters = 72;

// Version text of a register: hi, one blank, "." or ".0", lo, one blank ("2 .07 ").
QString VersionText(int hi, int lo);

// Letters of the set bits 0..10 of a unit's state word, in ascending bit order.
QString UnitStateLetters(quint16 word);

} // namespace vortan
