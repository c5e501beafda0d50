#pragma once

#include <QString>
#include <QtGlobal>

namespace vortan
{

// value * scale rounded to `decimals` places (ties to even), printed in the shortest form with
// the decimal separator of the user's locale (QLocale()), then one blank and `unit`. A half-way
// case is judged on value * scale taken at 15 significant digits, so the float noise of the
// product cannot move it; whole numbers below 2^53 keep all their digits. `decimals` outside
// 0..6 acts as 0 or 6; an infinite or undefined product prints as QLocale does ("inf", "nan").
QString FormatScaled(double value, int decimals, double scale, const QString &unit);

// Leading number of a typed or stored text: the first comma counts as a point, everything from
// the first '%' on is dropped, "&H" reads hexadecimal (up to 4 digits as a signed 16-bit
// pattern, 5..8 digits as signed 32-bit). Nothing readable gives 0. Leading zeros beyond the
// eighth hex digit are dropped; more than eight significant hex digits give their plain
// non-negative value. A number beyond the double range gives +/- the largest double, one too
// small for it gives 0.
double ParseNumber(const QString &text);

// Upper-case hexadecimal zero-padded to `width` digits (1..8; other widths behave as 1 or 8).
// Values of 2^31 and above print their 32-bit pattern; negative values their two's complement
// (32-bit down to -2^31, 64-bit below). Values of 2^32 and above print all their digits.
QString HexPadded(qint64 value, int width);

// Nearest 32-bit integer, halves away from zero; saturates outside the 32-bit range, NaN gives 0.
qint32 RoundHalfAway(double x);

// ParseNumber(text) / scale, RoundHalfAway, limited to min..max (checked in that order, so min
// wins when min > max). A zero or NaN scale reads as 0 before the limits.
qint32 ParseScaledClamped(const QString &text, qint32 min, qint32 max, double scale);

} // namespace vortan
