#include "format/lamps.h"

#include <QTest>

#include <limits>

using namespace vortan;

namespace
{

// Records the colour of each member as one letter: g green, r red, y yellow, . default,
// _ never painted. A paint outside the row is itself a failure.
class FakeLampRow : public LampRow
{
public:
    explicit FakeLampRow(int size) : m_colours(size, u'_') {}
    int size() const override { return int(m_colours.size()); }
    void setLamp(int index, Lamp lamp) override
    {
        if (index < 0 || index >= m_colours.size()) {
            ++outside;
            return;
        }
        static const char letters[] = {'.', 'g', 'r', 'y'};
        m_colours[index] = QChar::fromLatin1(letters[int(lamp)]);
    }
    QString colours() const { return m_colours; }
    int outside = 0;

private:
    QString m_colours;
};

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();

} // namespace

class TestLamps : public QObject
{
    Q_OBJECT

private slots:
    void showBitsGreen_data();
    void showBitsGreen();
    void showBitsAlarm_data();
    void showBitsAlarm();
    void repaintClearsOldColours();
};

void TestLamps::showBitsGreen_data()
{
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<int>("rowSize");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("expected");

    QTest::newRow("flags 0..20") << 0x00100005u << 21 << 0 << 20 << 0 << "g.g.................g";
    QTest::newRow("bit 31 is a bit like any other")
        << 0x80000000u << 32 << 0 << 31 << 0 << QString(31, u'.') + "g";
    QTest::newRow("part of the row") << 0xFFu << 8 << 2 << 5 << 0 << "__gggg__";
    QTest::newRow("offset shifts the bits") << 0x4u << 4 << 0 << 3 << 2 << "g...";
    QTest::newRow("negative offset reads clear bits") << 0xFFFFFFFFu << 4 << 0 << 3 << -2 << "..gg";
    QTest::newRow("bits above 31 read clear")
        << 0xFFFFFFFFu << 36 << 0 << 35 << 0 << QString(32, u'g') + "....";
    QTest::newRow("members the row lacks are skipped") << 0xFFFFFFFFu << 3 << 0 << 31 << 0 << "ggg";
    QTest::newRow("negative first") << 0x1u << 3 << -5 << 1 << 0 << "g._";
    QTest::newRow("first after last paints nothing") << 0xFFFFFFFFu << 3 << 2 << 1 << 0 << "___";
    QTest::newRow("whole int range") << 0x5u << 3 << kIntMin << kIntMax << 0 << "g.g";
    QTest::newRow("extreme offset") << 0xFFFFFFFFu << 3 << 0 << 2 << kIntMax << "...";
    QTest::newRow("empty row") << 0xFFFFFFFFu << 0 << 0 << 31 << 0 << "";
}

void TestLamps::showBitsGreen()
{
    QFETCH(quint32, mask);
    QFETCH(int, rowSize);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, offset);
    QFETCH(QString, expected);
    FakeLampRow row(rowSize);
    ShowBitsGreen(mask, row, first, last, offset);
    QCOMPARE(row.colours(), expected);
    QCOMPARE(row.outside, 0);
}

void TestLamps::showBitsAlarm_data()
{
    QTest::addColumn<quint32>("warning");
    QTest::addColumn<quint32>("alarm");
    QTest::addColumn<int>("rowSize");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("expected");

    QTest::newRow("alarm 0x80000001 warning 0x3 over 32")
        << 0x3u << 0x80000001u << 32 << 0 << 31 << 0 << "ry" + QString(29, u'.') + "r";
    QTest::newRow("same masks over an 8-member row")
        << 0x3u << 0x80000001u << 8 << 0 << 31 << 0 << "ry......";
    QTest::newRow("two-member row, last 1") << 0x2u << 0x1u << 2 << 0 << 1 << 0 << "ry";
    QTest::newRow("red wins over yellow")
        << 0xFFFFFFFFu << 0xAAAAAAAAu << 4 << 0 << 3 << 0 << "yryr";
    QTest::newRow("warning bit 31 only")
        << 0x80000000u << 0x0u << 32 << 0 << 31 << 0 << QString(31, u'.') + "y";
    QTest::newRow("last lowered to 31 minus offset")
        << 0x0u << 0xFFFFFFFFu << 32 << 0 << 31 << 4 << QString(28, u'r') + "____";
    QTest::newRow("last beyond 31 on a long row")
        << 0x0u << 0xFFFFFFFFu << 40 << 0 << 39 << 0 << QString(32, u'r') + QString(8, u'_');
    QTest::newRow("negative offset reads clear bits")
        << 0xFu << 0x0u << 4 << 0 << 3 << -1 << ".yyy";
    QTest::newRow("whole int range") << 0x1u << 0x4u << 3 << kIntMin << kIntMax << 0 << "y.r";
    QTest::newRow("most negative offset") << 0xFFFFFFFFu << 0x0u << 3 << 0 << 2 << kIntMin << "...";
    QTest::newRow("most positive offset") << 0xFFFFFFFFu << 0x0u << 3 << 0 << 2 << kIntMax << "___";
}

void TestLamps::showBitsAlarm()
{
    QFETCH(quint32, warning);
    QFETCH(quint32, alarm);
    QFETCH(int, rowSize);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, offset);
    QFETCH(QString, expected);
    FakeLampRow row(rowSize);
    ShowBitsAlarm(warning, alarm, row, first, last, offset);
    QCOMPARE(row.colours(), expected);
    QCOMPARE(row.outside, 0);
}

// A cleared alarm must take its red away on the next status reply.
void TestLamps::repaintClearsOldColours()
{
    FakeLampRow row(32);
    ShowBitsAlarm(0xFFFFFFFFu, 0x0000FFFFu, row, 0, 31, 0);
    ShowBitsAlarm(0x00000002u, 0x00000000u, row, 0, 31, 0);
    QCOMPARE(row.colours(), ".y" + QString(30, u'.'));

    FakeLampRow flags(21);
    ShowBitsGreen(0x1FFFFFu, flags, 0, 20, 0);
    ShowBitsGreen(0x000001u, flags, 0, 20, 0);
    QCOMPARE(flags.colours(), "g" + QString(20, u'.'));
}

QTEST_GUILESS_MAIN(TestLamps)
#include "tst_lamps.moc"
