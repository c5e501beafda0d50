#pragma once

#include <QString>
#include <QtGlobal>

namespace vortan {

// value * scale rounded to `decimals` places (ties to even), printed in the shortest form with
// the decimal separator of the user's locale (QLocale()), then one blank and `unit`.
QString FormatScaled(double value, int decimals, double scale, const QString &unit);

// Leading number of a typed or stored text: the first comma counts as a point, everything from
// the first '%' on is dropped, "&H" reads hexadecimal (up to 4 digits as a signed 16-bit
// pattern, 5..8 digits as signed 32-bit). Nothing readable gives 0.
double ParseNumber(const QString &text);

// Upper-case hexadecimal zero-padded to `width` digits (1..8; other widths behave as 1 or 8).
// Values of 2^31 and above print their 32-bit pattern; negative values their two's complement.
QString HexPadded(qint64 value, int width);

// Nearest 32-bit integer, halves away from zero; saturates outside the 32-bit range, NaN gives 0.
qint32 RoundHalfAway(double x);

// ParseNumber(text) / scale, RoundHalfAway, limited to min..max.
qint32 ParseScaledClamped(const QString &text, qint32 min, qint32 max, double scale);

} // namespace vortan
