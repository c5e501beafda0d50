#include "format/formatting.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace vortan
{

namespace
{

// A double carries 15 reliable decimal digits (DBL_DIG); whatever lies below them is the noise
// of value * scale (2305 * 0.1 = 230.50000000000003) and must not decide a half-way case.
constexpr int kSignificantDigits = 15;

// Adds one unit in the last place of a decimal digit string.
void incrementDigits(std::string &digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

// |y| rounded half to even at `decimals` places, as the digit string of |y| * 10^decimals.
std::string roundedDigits(double magnitude, int decimals)
{
    // Below 2^53 a whole number is exact and cannot be the noisy neighbour of a half, so it is
    // printed with all of its digits, including a 16th one.
    if (magnitude < 9007199254740992.0 && magnitude == std::trunc(magnitude))
        return std::to_string((long long)magnitude) + std::string(std::size_t(decimals), '0');

    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                                   kSignificantDigits - 1);
    const std::string text(buf, res.ptr);
    const auto ePos = text.find('e');
    std::string digits;
    for (std::size_t i = 0; i < ePos; ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            digits.push_back(text[i]);
    }
    const int exponent = std::stoi(text.substr(ePos + 1));

    // Number of digits from the first significant one down to the 10^-decimals place.
    const int kept = exponent + decimals + 1;
    if (kept >= int(digits.size()))
        return digits + std::string(std::size_t(kept - int(digits.size())), '0');
    if (kept < 0)
        return "0";

    std::string result = digits.substr(0, std::size_t(kept));
    const std::string rest = digits.substr(std::size_t(kept));
    const bool restIsHalf = rest[0] == '5' && rest.find_first_not_of('0', 1) == std::string::npos;
    bool up = rest[0] > '5' || (rest[0] == '5' && !restIsHalf);
    if (restIsHalf) {
        const bool lastIsOdd = !result.empty() && ((result.back() - '0') % 2 == 1);
        up = lastIsOdd;
    }
    if (result.empty())
        result = "0";
    if (up)
        incrementDigits(result);
    return result;
}

bool isParseSkipped(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

double saturate(double v)
{
    constexpr double maxValue = std::numeric_limits<double>::max();
    if (std::isnan(v))
        return 0.0;
    return std::clamp(v, -maxValue, maxValue);
}

double parseHex(const std::string &s, std::size_t pos)
{
    std::size_t end = pos;
    while (end < s.size() && hexDigitValue(s[end]) >= 0)
        ++end;
    // Leading zeros beyond the eighth digit carry no value: "&H00000000FFFF" is a 32-bit word.
    while (end - pos > 8 && s[pos] == '0')
        ++pos;
    const std::size_t count = end - pos;
    if (count == 0)
        return 0.0;
    if (count <= 8) {
        quint32 pattern = 0;
        for (std::size_t i = pos; i < end; ++i)
            pattern = (pattern << 4) | quint32(hexDigitValue(s[i]));
        if (count <= 4)
            return double(qint16(quint16(pattern)));
        return double(qint32(pattern));
    }
    // Wider than a controller word: the plain non-negative value of all digits.
    double value = 0.0;
    for (std::size_t i = pos; i < end; ++i)
        value = value * 16.0 + hexDigitValue(s[i]);
    return saturate(value);
}

double parseDecimal(const std::string &s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    std::string mantissa;
    std::size_t intDigits = 0;
    while (i < s.size() && isDigit(s[i])) {
        mantissa.push_back(s[i++]);
        ++intDigits;
    }
    std::size_t fracDigits = 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissa.push_back('.');
        while (i < s.size() && isDigit(s[i])) {
            mantissa.push_back(s[i++]);
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0)
        return 0.0;

    // The exponent is capped far beyond the double range so no integer can overflow.
    constexpr long long exponentCap = 1000000;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            expNegative = s[j] == '-';
            ++j;
        }
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) {
                exponent = std::min(exponentCap, exponent * 10 + (s[j] - '0'));
                ++j;
            }
            if (expNegative)
                exponent = -exponent;
        }
    }

    const std::string number = mantissa + 'e' + std::to_string(exponent);
    double value = 0.0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), value,
                                     std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Decide between overflow and underflow from the place of the first significant digit.
        const auto first = mantissa.find_first_not_of("0.");
        if (first == std::string::npos) {
            value = 0.0;
        } else {
            const long long magnitude = first < intDigits ? (long long)(intDigits - first)
                                                          : -(long long)(first - intDigits - 1);
            value = magnitude + exponent > 0 ? std::numeric_limits<double>::max() : 0.0;
        }
    } else if (res.ec != std::errc()) {
        value = 0.0;
    }
    value = saturate(value);
    if (value == 0.0)
        return 0.0;
    return negative ? -value : value;
}

} // namespace

QString FormatScaled(double value, int decimals, double scale, const QString &unit)
{
    decimals = std::clamp(decimals, 0, 6);
    const QLocale locale;
    const double y = value * scale;
    if (!std::isfinite(y))
        return locale.toString(y) + u' ' + unit;

    std::string digits = roundedDigits(std::fabs(y), decimals);
    if (digits.size() < std::size_t(decimals) + 1)
        digits.insert(0, std::size_t(decimals) + 1 - digits.size(), '0');
    const std::size_t intEnd = digits.size() - std::size_t(decimals);
    const std::size_t intBegin = std::min(digits.find_first_not_of('0'), intEnd - 1);
    std::size_t fracEnd = digits.size();
    while (fracEnd > intEnd && digits[fracEnd - 1] == '0')
        --fracEnd;
    const bool zero = intEnd - intBegin == 1 && digits[intBegin] == '0' && fracEnd == intEnd;

    QString text;
    text.reserve(qsizetype(digits.size()) + 3 + unit.size());
    if (y < 0 && !zero)
        text += u'-';
    text += QLatin1String(digits.data() + intBegin, qsizetype(intEnd - intBegin));
    if (fracEnd > intEnd) {
        text += locale.decimalPoint();
        text += QLatin1String(digits.data() + intEnd, qsizetype(fracEnd - intEnd));
    }
    text += u' ';
    text += unit;
    return text;
}

double ParseNumber(const QString &text)
{
    const qsizetype comma = text.indexOf(u',');
    const qsizetype percent = text.indexOf(u'%');
    QString t = text;
    if (comma >= 0)
        t[comma] = u'.';
    if (percent >= 0)
        t.truncate(percent);

    // Anything outside ASCII ends the number, so it becomes a stop character here.
    std::string s;
    s.reserve(std::size_t(t.size()));
    for (const QChar c : t) {
        if (isParseSkipped(c))
            continue;
        s.push_back(c.unicode() < 0x80 ? char(c.unicode()) : '\x7f');
    }

    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h'))
        return parseHex(s, 2);
    return parseDecimal(s);
}

QString HexPadded(qint64 value, int width)
{
    width = std::clamp(width, 1, 8);
    quint64 pattern;
    if (value >= 0)
        pattern = quint64(value);
    else if (value >= std::numeric_limits<qint32>::min())
        pattern = quint32(qint32(value));
    else
        pattern = quint64(value);
    const QString digits = QString::number(pattern, 16).toUpper();
    if (digits.size() >= width)
        return digits;
    return QString(width - digits.size(), u'0') + digits;
}

qint32 RoundHalfAway(double x)
{
    if (std::isnan(x))
        return 0;
    // std::round is exact; adding 0.5 first would turn 0.49999999999999994 into 1.
    const double r = std::round(x);
    if (r >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (r <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(r);
}

qint32 ParseScaledClamped(const QString &text, qint32 min, qint32 max, double scale)
{
    // A zero or undefined scale has no meaningful quotient; it reads like an empty entry.
    const bool usableScale = scale != 0.0 && !std::isnan(scale);
    const qint32 r = usableScale ? RoundHalfAway(ParseNumber(text) / scale) : 0;
    if (r < min)
        return min;
    if (r > max)
        return max;
    return r;
}

} // namespace vortan
