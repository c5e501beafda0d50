#include "record/statuscolumns.h"

#include "format/formatting.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace vortan
{

namespace
{

constexpr int UnitsGroupOrder = 5;
constexpr int ServiceGroupOrder = 6;

int GroupOrder(FieldGroup group)
{
    switch (group) {
    case FieldGroup::Set:
        return 0;
    case FieldGroup::Section:
        return 1;
    case FieldGroup::Buses:
        return 2;
    case FieldGroup::Synchroniser:
        return 3;
    case FieldGroup::LoadSharing:
        return 4;
    case FieldGroup::Service:
        break;
    }
    return ServiceGroupOrder;
}

QString Heading(const QString &caption, const QString &unit)
{
    return unit.isEmpty() ? caption : caption + QStringLiteral(", ") + unit;
}

StatusColumn FieldColumn(const RegisterField &f, int index)
{
    StatusColumn c;
    c.key = QString::fromLatin1(f.label);
    c.caption = QString::fromUtf8(f.caption);
    c.unit = QString::fromUtf8(f.quantity);
    c.heading = f.heading();
    c.group = FieldGroupCaption(f.group);
    c.groupOrder = GroupOrder(f.group);
    c.kind = f.isNumber()                                                 ? ColumnKind::Number
             : (f.type == FieldType::Hex16 || f.type == FieldType::Hex32) ? ColumnKind::Word
                                                                          : ColumnKind::Text;
    c.source = ColumnSource::Field;
    c.index = index;
    c.decimals = f.decimals;
    c.hexDigits = 4 * FieldWidth(f.type);
    c.factor = f.factor;
    const double scaled = f.factor * std::pow(10.0, f.decimals);
    c.scaleToLsd = std::fabs(scaled - std::round(scaled)) < 1e-9 ? qint64(std::round(scaled)) : 0;
    return c;
}

StatusColumn UnitColumn(ColumnSource source, int row)
{
    const bool state = source == ColumnSource::UnitState;
    const char *name = source == ColumnSource::UnitMaxPower      ? "lbl_ext_maxpwr"
                       : source == ColumnSource::UnitActivePower ? "lbl_ext_actpwr"
                                                                 : "lbl_ext_cecsf";
    const QString what = source == ColumnSource::UnitMaxPower      ? QStringLiteral("Номин. P")
                         : source == ColumnSource::UnitActivePower ? QStringLiteral("Акт. P")
                                                                   : QStringLiteral("Флаги");
    StatusColumn c;
    c.key = QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(row);
    c.caption = QStringLiteral("ЭА группы %1: %2").arg(row).arg(what);
    c.unit = state ? QString() : QStringLiteral("кВт");
    c.heading = Heading(c.caption, c.unit);
    c.group = QStringLiteral("ЭА группы");
    c.groupOrder = UnitsGroupOrder;
    c.kind = state ? ColumnKind::Text : ColumnKind::Number;
    c.source = source;
    c.index = row;
    c.decimals = 1;
    c.hexDigits = 0;
    c.factor = 0.1;
    c.scaleToLsd = 1;
    return c;
}

StatusColumn WordColumn(ColumnSource source, const char *key, const char *caption, int digits)
{
    StatusColumn c;
    c.key = QString::fromLatin1(key);
    c.caption = QString::fromUtf8(caption);
    c.heading = c.caption;
    c.group = FieldGroupCaption(FieldGroup::Service);
    c.groupOrder = ServiceGroupOrder;
    c.kind = ColumnKind::Word;
    c.source = source;
    c.index = 0;
    c.decimals = 0;
    c.hexDigits = digits;
    c.factor = 1;
    c.scaleToLsd = 1;
    return c;
}

std::vector<StatusColumn> BuildColumns()
{
    std::vector<StatusColumn> columns;
    int i = 0;
    for (const RegisterField &f : StatusRegisterMap())
        columns.push_back(FieldColumn(f, i++));
    for (int row = 0; row < StatusUnits; ++row) {
        columns.push_back(UnitColumn(ColumnSource::UnitMaxPower, row));
        columns.push_back(UnitColumn(ColumnSource::UnitActivePower, row));
        columns.push_back(UnitColumn(ColumnSource::UnitState, row));
    }
    columns.push_back(WordColumn(ColumnSource::Alarms, "alarms", "Аварии (слово)", 8));
    columns.push_back(WordColumn(ColumnSource::Warnings, "warnings", "Неисправности (слово)", 8));
    columns.push_back(WordColumn(ColumnSource::Alarms1, "alarms1", "Аварии 2 (слово)", 8));
    columns.push_back(
        WordColumn(ColumnSource::Warnings1, "warnings1", "Неисправности 2 (слово)", 8));
    columns.push_back(WordColumn(ColumnSource::Inputs, "inputs", "Дискр. входы (слово)", 4));
    return columns;
}

// The raw value of a column as the controller sent it.
qint64 Raw(const StatusSnapshot &s, const StatusColumn &c)
{
    switch (c.source) {
    case ColumnSource::Field:
        return size_t(c.index) < s.fields.size() ? s.fields[size_t(c.index)].raw : 0;
    case ColumnSource::UnitMaxPower:
        return s.units[size_t(c.index)].maxPower;
    case ColumnSource::UnitActivePower:
        return s.units[size_t(c.index)].activePower;
    case ColumnSource::UnitState:
        return s.units[size_t(c.index)].state;
    case ColumnSource::Alarms:
        return s.alarms;
    case ColumnSource::Warnings:
        return s.warnings;
    case ColumnSource::Alarms1:
        return s.alarms1;
    case ColumnSource::Warnings1:
        return s.warnings1;
    case ColumnSource::Inputs:
        return s.discreteInputs;
    }
    return 0;
}

bool Valid(const StatusSnapshot &s, const StatusColumn &c)
{
    return c.source != ColumnSource::Field ||
           (size_t(c.index) < s.fields.size() && s.fields[size_t(c.index)].valid);
}

void AppendDigits(QString &row, quint64 value, int minDigits)
{
    char buf[24];
    int n = 0;
    do {
        buf[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0 || n < minDigits);
    while (n > 0)
        row += QLatin1Char(buf[--n]);
}

// Whole arithmetic on the least significant shown digit: the same text as FormatScaled for
// factors like 0.1 with one decimal, without its cost on every field of every row.
void AppendScaled(QString &row, qint64 raw, const StatusColumn &c, QChar point)
{
    const qint64 lsd = raw * c.scaleToLsd;
    quint64 magnitude = lsd < 0 ? quint64(-lsd) : quint64(lsd);
    quint64 unit = 1;
    for (int d = 0; d < c.decimals; ++d)
        unit *= 10;
    quint64 frac = magnitude % unit;
    int fracDigits = c.decimals;
    while (fracDigits > 0 && frac % 10 == 0) {
        frac /= 10;
        --fracDigits;
    }
    if (lsd < 0)
        row += QLatin1Char('-');
    AppendDigits(row, magnitude / unit, 1);
    if (fracDigits > 0) {
        row += point;
        AppendDigits(row, frac, fracDigits);
    }
}

} // namespace

const std::vector<StatusColumn> &StatusColumns()
{
    static const std::vector<StatusColumn> columns = BuildColumns();
    return columns;
}

double ColumnNumber(const StatusSnapshot &s, const StatusColumn &c)
{
    if (!c.isNumber() || !Valid(s, c))
        return std::numeric_limits<double>::quiet_NaN();
    if (c.source == ColumnSource::Field)
        return s.fieldNumber(c.index);
    return double(Raw(s, c)) / 10.0;
}

void AppendCell(QString &row, const StatusSnapshot &s, const StatusColumn &c, QChar decimalPoint)
{
    if (!Valid(s, c))
        return;
    const qint64 raw = Raw(s, c);
    switch (c.kind) {
    case ColumnKind::Number:
        if (c.scaleToLsd != 0) {
            AppendScaled(row, raw, c, decimalPoint);
        } else {
            QString text = FormatScaled(double(raw), c.decimals, c.factor, QString()).trimmed();
            text.replace(QLocale().decimalPoint(), QString(decimalPoint));
            row += text;
        }
        return;
    case ColumnKind::Word:
        row += QLatin1String("0x");
        row += HexPadded(raw, c.hexDigits);
        return;
    case ColumnKind::Text:
        row += c.source == ColumnSource::UnitState ? UnitStateLetters(quint16(raw))
                                                   : s.fieldText(c.index).trimmed();
        return;
    }
}

QString CsvQuoted(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace vortan
