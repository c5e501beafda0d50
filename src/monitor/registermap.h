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
};

struct RegisterMap {
    const RegisterField *first;
    std::size_t count;
    const RegisterField *begin() const { return first; }
    const RegisterField *end() const { return first + count; }
};

// Every text field of the status block, in the order they are written.
RegisterMap StatusRegisterMap();

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
constexpr int StatusRegisters = 72;

// Version text of a register: hi, one blank, "." or ".0", lo, one blank ("2 .07 ").
QString VersionText(int hi, int lo);

// Letters of the set bits 0..10 of a unit's state word, in ascending bit order.
QString UnitStateLetters(quint16 word);

} // namespace vortan
