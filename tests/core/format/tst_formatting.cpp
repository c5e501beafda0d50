#include "format/formatting.h"
#include "format/lamps.h"

#include <QtTest>

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace vortan;

namespace
{

constexpr qint32 kIntMax = std::numeric_limits<qint32>::max();
constexpr qint32 kIntMin = std::numeric_limits<qint32>::min();
constexpr double kDoubleMax = std::numeric_limits<double>::max();

// Shown text of k / divisor rounded half to even at `decimals` places, in integers only, where
// no floating-point noise exists.
QString integerOracle(qint64 k, qint64 divisor, int decimals)
{
    qint64 m = k / divisor;
    const qint64 twice = 2 * std::abs(k % divisor);
    if (twice > divisor || (twice == divisor && m % 2 != 0))
        m += k < 0 ? -1 : 1;
    qint64 pow10 = 1;
    for (int i = 0; i < decimals; ++i)
        pow10 *= 10;
    QString frac = QString::number(std::abs(m) % pow10).rightJustified(decimals, u'0');
    while (frac.endsWith(u'0'))
        frac.chop(1);
    const QString whole = (m < 0 ? "-" : "") + QString::number(std::abs(m) / pow10);
    return whole + (frac.isEmpty() ? QString() : u',' + frac) + u' ';
}

// Records the colour of each member as one letter: g green, r red, y yellow, . default,
// _ never painted (so a member left with an old colour shows). A paint outside the row is itself
// a failure.
class FakeLampRow : public LampRow
{
public:
    explicit FakeLampRow(int size) : colours(size, u'_') {}
    int size() const override { return int(colours.size()); }
    void setLamp(int index, Lamp lamp) override
    {
        if (index < 0 || index >= colours.size())
            ++outside;
        else
            colours[index] = QChar::fromLatin1(".gry"[int(lamp)]);
    }
    QString colours;
    int outside = 0;
};

enum Painter { Green, Alarm };

// Green rows paint `bits` with ShowBitsGreen; alarm rows paint ShowBitsAlarm(warning, bits).
struct Paint {
    Painter painter;
    quint32 warning;
    quint32 bits;
    int rowSize;
    int first;
    int last;
    int offset;
};

} // namespace

Q_DECLARE_METATYPE(Paint)

class TestFormatting : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    void formatScaled_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("voltage 230.5") << 2305.0 << 1 << 0.1 << QString() << "230,5 ";
        QTest::newRow("unit after one blank") << 125.0 << 1 << 0.1 << QString("кВт") << "12,5 кВт";
        QTest::newRow("u32 maximum in thousandths, no grouping")
            << 4294967295.0 << 3 << 0.001 << QString() << "4294967,295 ";
        QTest::newRow("s32 minimum in tenths")
            << -2147483648.0 << 1 << 0.1 << QString() << "-214748364,8 ";
        QTest::newRow("tie at sixth place") << 0.0000015 << 6 << 1.0 << QString() << "0,000002 ";
        QTest::newRow("decimals above 6 act as 6")
            << 1.23456789 << 9 << 1.0 << QString() << "1,234568 ";
        QTest::newRow("negative decimals act as 0") << 2.6 << -3 << 1.0 << QString() << "3 ";
    }
    void formatScaled()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(double, scale);
        QFETCH(QString, unit);
        QFETCH(QString, expected);
        QCOMPARE(FormatScaled(value, decimals, scale, unit), expected);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(FormatScaled(value, decimals, scale, unit), expected.replace(u',', u'.'));
    }

    // Every raw value of a register shown coarser than its scale, including every tie that the
    // float noise of value * scale pushes off the half, against rounding done in integers.
    void formatScaledMatchesIntegerRounding()
    {
        const struct {
            double scale;
            int decimals;
            qint64 divisor;
        } cases[] = {{0.1, 0, 10}, {0.01, 1, 10}, {0.001, 2, 10}, {0.001, 1, 100}, {0.01, 0, 100}};
        for (const auto &c : cases) {
            for (qint64 k = -20000; k <= 20000; ++k) {
                const QString expected = integerOracle(k, c.divisor, c.decimals);
                const QString shown = FormatScaled(double(k), c.decimals, c.scale, QString());
                if (shown != expected)
                    QFAIL(qPrintable(QStringLiteral("%1 x %2: %3, expected %4")
                                         .arg(k)
                                         .arg(c.scale)
                                         .arg(shown, expected)));
            }
        }
    }

    // Whatever double comes in, the text is a number within half a unit of the last place.
    void formatScaledReadsBack()
    {
        QRandomGenerator random(20240611);
        for (int n = 0; n < 20000; ++n) {
            const double value =
                (random.generateDouble() - 0.5) * std::pow(10.0, random.bounded(-8, 12));
            const int decimals = random.bounded(0, 7);
            const QString text = FormatScaled(value, decimals, 1.0, QStringLiteral("В"));
            const double tolerance = 0.5 * std::pow(10.0, -decimals) + std::fabs(value) * 1e-14;
            QVERIFY2(text.endsWith(QStringLiteral(" В")) && !text.startsWith(u"-0 ") &&
                         std::fabs(ParseNumber(text) - value) <= tolerance,
                     qPrintable(QStringLiteral("%1 -> %2").arg(value, 0, 'g', 17).arg(text)));
        }
        for (const double odd : {std::numeric_limits<double>::infinity(), std::nan(""), kDoubleMax,
                                 std::numeric_limits<double>::denorm_min()})
            QVERIFY(FormatScaled(odd, 6, 10.0, QStringLiteral("%")).endsWith(QStringLiteral(" %")));
    }

    void parseNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("comma and percent") << "12,5 %" << 12.5;
        QTest::newRow("letters only") << "abc" << 0.0;
        QTest::newRow("only first comma becomes point") << "1,2,3" << 1.2;
        QTest::newRow("blanks tabs line feeds inside") << " - 1 2\t.\n5 " << -12.5;
        QTest::newRow("carriage return ends the number") << "1\r2" << 1.0;
        QTest::newRow("two signs") << "--5" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("comma after percent is cut") << "50%,5" << 50.0;
        QTest::newRow("Cyrillic letter ends the number") << QStringLiteral("5м") << 5.0;
        QTest::newRow("exponent E") << "1.5E3" << 1500.0;
        QTest::newRow("exponent without digits") << "1e+" << 1.0;
        QTest::newRow("overflowing exponent saturates") << "1e999" << kDoubleMax;
        QTest::newRow("underflow gives zero") << "1e-999" << 0.0;
        QTest::newRow("400 nines saturate") << QString(400, u'9') << kDoubleMax;
        QTest::newRow("many digits times small exponent")
            << QString(400, u'1') + "e-399" << 10.0 / 9.0;
        QTest::newRow("hex command word CBD0") << "&HCBD0" << -13360.0;
        QTest::newRow("hex FFFF is -1") << "&HFFFF" << -1.0;
        QTest::newRow("hex 5 digits is 32-bit") << "&H0FFFF" << 65535.0;
        QTest::newRow("hex 8 digits all ones") << "&HFFFFFFFF" << -1.0;
        QTest::newRow("hex leading zeros beyond 8 digits") << "&H00000000FFFF" << 65535.0;
        QTest::newRow("hex 9 digits plain value") << "&H123456789" << 4886718345.0;
        QTest::newRow("hex very long saturates") << "&H" + QString(300, u'F') << kDoubleMax;
        QTest::newRow("hex stops at non-digit") << "&H1G" << 1.0;
        QTest::newRow("hex after blanks") << " &H 1F" << 31.0;
    }
    void parseNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(ParseNumber(text), expected);
    }

    void hexPadded_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");
        QTest::newRow("26 in 4") << qint64(26) << 4 << "001A";
        QTest::newRow("u32 maximum") << qint64(4294967295) << 8 << "FFFFFFFF";
        QTest::newRow("2^31") << qint64(2147483648) << 8 << "80000000";
        QTest::newRow("wider than width prints in full") << qint64(0xABC) << 2 << "ABC";
        QTest::newRow("-1 is the 32-bit pattern") << qint64(-1) << 4 << "FFFFFFFF";
        QTest::newRow("width 12 acts as 8") << qint64(1) << 12 << "00000001";
        QTest::newRow("below s32: 64-bit pattern")
            << qint64(-2147483649) << 8 << "FFFFFFFF7FFFFFFF";
        QTest::newRow("s64 minimum")
            << std::numeric_limits<qint64>::min() << 8 << "8000000000000000";
    }
    void hexPadded()
    {
        QFETCH(qint64, value);
        QFETCH(int, width);
        QFETCH(QString, expected);
        QCOMPARE(HexPadded(value, width), expected);
    }

    // Entry rounds halves away from zero, the display rounds them to even: the same half gives
    // different integers, and both must hold.
    void roundHalfAwayAgainstDisplay_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<qint32>("entered");
        QTest::addColumn<QString>("shown");
        QTest::newRow("2.5") << 2.5 << 3 << "2 ";
        QTest::newRow("-2.5") << -2.5 << -3 << "-2 ";
        QTest::newRow("largest double below one half") << 0.49999999999999994 << 0 << "0 ";
        QTest::newRow("just below s32 maximum") << 2147483647.4 << kIntMax << "2147483647 ";
        QTest::newRow("half above s32 maximum saturates")
            << 2147483647.5 << kIntMax << "2147483648 ";
        QTest::newRow("half below s32 minimum saturates")
            << -2147483648.5 << kIntMin << "-2147483648 ";
        QTest::newRow("2^52+1") << 4503599627370497.0 << kIntMax << "4503599627370497 ";
        QTest::newRow("huge") << 1e300 << kIntMax << "1" + QString(300, u'0') + " ";
    }
    void roundHalfAwayAgainstDisplay()
    {
        QFETCH(double, x);
        QFETCH(qint32, entered);
        QFETCH(QString, shown);
        QCOMPARE(RoundHalfAway(x), entered);
        QCOMPARE(FormatScaled(x, 0, 1.0, QString()), shown);
    }

    void parseScaledClamped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint32>("min");
        QTest::addColumn<qint32>("max");
        QTest::addColumn<double>("scale");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("above one-byte maximum") << "300" << 0 << 255 << 1.0 << 255;
        QTest::newRow("comma and tenths") << "12,34" << 0 << 255 << 0.1 << 123;
        QTest::newRow("half rounds away") << "201" << 0 << 255 << 2.0 << 101;
        QTest::newRow("never filled box") << "-" << 0 << 255 << 1.0 << 0;
        QTest::newRow("shown text read back") << "230,5 " << 0 << 65535 << 0.1 << 2305;
        QTest::newRow("hex word reads signed") << "&HFFFF" << 0 << 65535 << 1.0 << 0;
        QTest::newRow("beyond s32") << "2147483648" << kIntMin << kIntMax << 1.0 << kIntMax;
        QTest::newRow("zero scale reads as 0, lifted to min") << "5" << 10 << 255 << 0.0 << 10;
        QTest::newRow("undefined scale") << "5" << 0 << 255 << double(NAN) << 0;
        QTest::newRow("min above max: min first") << "5" << 10 << 0 << 1.0 << 10;
    }
    void parseScaledClamped()
    {
        QFETCH(QString, text);
        QFETCH(qint32, min);
        QFETCH(qint32, max);
        QFETCH(double, scale);
        QFETCH(qint32, expected);
        QCOMPARE(ParseScaledClamped(text, min, max, scale), expected);
    }

    void painters_data()
    {
        QTest::addColumn<Paint>("p");
        QTest::addColumn<QString>("expected");
        QTest::newRow("flags 0..20")
            << Paint{Green, 0, 0x00100005u, 21, 0, 20, 0} << "g.g.................g";
        QTest::newRow("part of the row") << Paint{Green, 0, 0xFFu, 8, 2, 5, 0} << "__gggg__";
        QTest::newRow("offset shifts the bits") << Paint{Green, 0, 0x4u, 4, 0, 3, 2} << "g...";
        QTest::newRow("negative offset reads clear bits")
            << Paint{Green, 0, 0xFFFFFFFFu, 4, 0, 3, -2} << "..gg";
        QTest::newRow("bits above 31 read clear")
            << Paint{Green, 0, 0xFFFFFFFFu, 36, 0, 35, 0} << QString(32, u'g') + "....";
        QTest::newRow("whole int range") << Paint{Green, 0, 0x5u, 3, kIntMin, kIntMax, 0} << "g.g";
        QTest::newRow("extreme offset") << Paint{Green, 0, 0xFFFFFFFFu, 3, 0, 2, kIntMax} << "...";
        QTest::newRow("alarm 0x80000001 warning 0x3 over 32")
            << Paint{Alarm, 0x3u, 0x80000001u, 32, 0, 31, 0} << "ry" + QString(29, u'.') + "r";
        QTest::newRow("red wins over yellow")
            << Paint{Alarm, 0xFFFFFFFFu, 0xAAAAAAAAu, 4, 0, 3, 0} << "yryr";
        QTest::newRow("last lowered to 31 minus offset")
            << Paint{Alarm, 0, 0xFFFFFFFFu, 32, 0, 31, 4} << QString(28, u'r') + "____";
        QTest::newRow("last beyond 31 on a long row")
            << Paint{Alarm, 0, 0xFFFFFFFFu, 40, 0, 39, 0} << QString(32, u'r') + QString(8, u'_');
        QTest::newRow("most positive offset")
            << Paint{Alarm, 0xFFFFFFFFu, 0, 3, 0, 2, kIntMax} << "___";
    }
    void painters()
    {
        QFETCH(Paint, p);
        QFETCH(QString, expected);
        FakeLampRow row(p.rowSize);
        if (p.painter == Alarm)
            ShowBitsAlarm(p.warning, p.bits, row, p.first, p.last, p.offset);
        else
            ShowBitsGreen(p.bits, row, p.first, p.last, p.offset);
        QCOMPARE(row.colours, expected);
        QCOMPARE(row.outside, 0);
    }
};

QTEST_GUILESS_MAIN(TestFormatting)
#include "tst_formatting.moc"
