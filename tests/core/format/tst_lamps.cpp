#include "format/lamps.h"

#include <QTest>

#include <limits>

using namespace vortan;

namespace
{

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

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();

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

class TestLamps : public QObject
{
    Q_OBJECT

private slots:
    void painters_data()
    {
        QTest::addColumn<Paint>("p");
        QTest::addColumn<QString>("expected");
        QTest::newRow("flags 0..20")
            << Paint{Green, 0, 0x00100005u, 21, 0, 20, 0} << "g.g.................g";
        QTest::newRow("bit 31 is a bit like any other")
            << Paint{Green, 0, 0x80000000u, 32, 0, 31, 0} << QString(31, u'.') + "g";
        QTest::newRow("part of the row") << Paint{Green, 0, 0xFFu, 8, 2, 5, 0} << "__gggg__";
        QTest::newRow("offset shifts the bits") << Paint{Green, 0, 0x4u, 4, 0, 3, 2} << "g...";
        QTest::newRow("negative offset reads clear bits")
            << Paint{Green, 0, 0xFFFFFFFFu, 4, 0, 3, -2} << "..gg";
        QTest::newRow("bits above 31 read clear")
            << Paint{Green, 0, 0xFFFFFFFFu, 36, 0, 35, 0} << QString(32, u'g') + "....";
        QTest::newRow("members the row lacks are skipped")
            << Paint{Green, 0, 0xFFFFFFFFu, 3, 0, 31, 0} << "ggg";
        QTest::newRow("whole int range") << Paint{Green, 0, 0x5u, 3, kIntMin, kIntMax, 0} << "g.g";
        QTest::newRow("extreme offset") << Paint{Green, 0, 0xFFFFFFFFu, 3, 0, 2, kIntMax} << "...";
        QTest::newRow("alarm 0x80000001 warning 0x3 over 32")
            << Paint{Alarm, 0x3u, 0x80000001u, 32, 0, 31, 0} << "ry" + QString(29, u'.') + "r";
        QTest::newRow("same masks over an 8-member row")
            << Paint{Alarm, 0x3u, 0x80000001u, 8, 0, 31, 0} << "ry......";
        QTest::newRow("red wins over yellow")
            << Paint{Alarm, 0xFFFFFFFFu, 0xAAAAAAAAu, 4, 0, 3, 0} << "yryr";
        QTest::newRow("last lowered to 31 minus offset")
            << Paint{Alarm, 0, 0xFFFFFFFFu, 32, 0, 31, 4} << QString(28, u'r') + "____";
        QTest::newRow("last beyond 31 on a long row")
            << Paint{Alarm, 0, 0xFFFFFFFFu, 40, 0, 39, 0} << QString(32, u'r') + QString(8, u'_');
        QTest::newRow("most negative offset")
            << Paint{Alarm, 0xFFFFFFFFu, 0, 3, 0, 2, kIntMin} << "...";
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

QTEST_GUILESS_MAIN(TestLamps)
#include "tst_lamps.moc"
