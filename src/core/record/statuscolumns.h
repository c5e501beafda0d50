#pragma once

#include "status/statussnapshot.h"

#include <QString>

#include <vector>

namespace vortan
{

enum class ColumnKind {
    Number, // the number the window shows; an invalid measurement ("?") has none
    Text,   // a text the window shows (versions, unit state letters)
    Word,   // a bit word, written as "0x" and hexadecimal digits so a spreadsheet keeps it text
};

enum class ColumnSource {
    Field,           // StatusRegisterMap() entry `index`
    UnitMaxPower,    // unit table row `index`
    UnitActivePower, // unit table row `index`
    UnitState,       // unit table row `index`
    Alarms,
    Warnings,
    Alarms1,
    Warnings1,
    Inputs,
};

// One value of the status block as a recording column and, for numbers, a trend curve.
struct StatusColumn {
    QString key;     // stable name: the label's objectName in frm_main ("lbl_phAU",
                     // "lbl_ext_actpwr_3") or the word's name ("alarms")
    QString caption; // "U фазы A"
    QString unit;    // "В"; empty for plain numbers and words
    QString heading; // caption and unit: "U фазы A, В"
    QString group;   // the window's frame it belongs to ("ЭА", "Синхронизатор")
    int groupOrder;  // the trend window lists the groups in this order
    ColumnKind kind;
    ColumnSource source;
    int index;
    int decimals;
    int hexDigits;     // Word columns
    qint64 scaleToLsd; // Number columns: factor * 10^decimals when that is whole, else 0
    double factor;

    bool isNumber() const { return kind == ColumnKind::Number; }
};

// Every column of a recording after the time, in file order: the register map's fields, the
// unit table (rated power, active power, state letters per row), the indicator words.
const std::vector<StatusColumn> &StatusColumns();

// The number the window shows for a Number column; NaN when the controller marks the
// measurement invalid, and for other columns.
double ColumnNumber(const StatusSnapshot &s, const StatusColumn &c);

// The column's cell of a recording row: numbers as the window shows them without the unit and
// with `decimalPoint`, nothing for an invalid measurement, texts as shown, words in hexadecimal.
void AppendCell(QString &row, const StatusSnapshot &s, const StatusColumn &c, QChar decimalPoint);

// A header or text cell for a ";"-separated file: quoted when it holds ';', '"' or a line break.
QString CsvQuoted(const QString &text);

} // namespace vortan
