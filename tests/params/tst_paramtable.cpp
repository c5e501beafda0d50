#include "params/paramtable.h"

#include <QSet>
#include <QtTest>

using namespace vortan;

namespace
{

struct RunRow {
    int first;
    int last;
    int address;
    int bytes;
};

QString describe(const QVector<ParamRun> &runs)
{
    QStringList parts;
    for (const ParamRun &r : runs)
        parts
            << QStringLiteral("%1..%2@%3:%4").arg(r.first).arg(r.last).arg(r.address).arg(r.bytes);
    return parts.join(QLatin1Char(' '));
}

QString describe(const QList<RunRow> &runs)
{
    QStringList parts;
    for (const RunRow &r : runs)
        parts
            << QStringLiteral("%1..%2@%3:%4").arg(r.first).arg(r.last).arg(r.address).arg(r.bytes);
    return parts.join(QLatin1Char(' '));
}

const QList<RunRow> kReadRuns = {
    {0, 33, 0, 49},     {34, 34, 75, 2},    {35, 36, 49, 3},    {37, 37, 77, 2},
    {38, 45, 52, 10},   {46, 46, 79, 1},    {47, 57, 63, 12},   {58, 62, 80, 5},
    {63, 63, 107, 1},   {64, 65, 88, 2},    {66, 69, 140, 4},   {70, 79, 94, 10},
    {80, 81, 85, 2},    {82, 84, 104, 3},   {85, 101, 108, 21}, {102, 105, 131, 4},
    {106, 106, 129, 2}, {107, 108, 144, 2}, {109, 109, 90, 2},  {110, 110, 146, 1},
};

QList<RunRow> writeRuns()
{
    QList<RunRow> runs = kReadRuns;
    runs[4] = {38, 40, 52, 3};
    runs.insert(5, {42, 45, 56, 6});
    return runs;
}

} // namespace

Q_DECLARE_METATYPE(QList<RunRow>)

class TstParamTable : public QObject
{
    Q_OBJECT
private slots:
    void mixOfWidthsAndScales_data();
    void mixOfWidthsAndScales();
    void addressesDoNotOverlapAndLeaveTheKnownGaps();
    void runs_data();
    void runs();
    void findParamByAddress_data();
    void findParamByAddress();
    void captionsKeepTheirOwnSpacing();
};

void TstParamTable::mixOfWidthsAndScales_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("expected");
    QTest::newRow("1 byte, scale 1") << 1 << 1.0 << 66;
    QTest::newRow("2 bytes, scale 0.1") << 2 << 0.1 << 26;
    QTest::newRow("1 byte, scale 50") << 1 << 50.0 << 9;
    QTest::newRow("1 byte, scale 0.1") << 1 << 0.1 << 6;
    QTest::newRow("1 byte, scale 0.2") << 1 << 0.2 << 2;
    QTest::newRow("1 byte, scale 2") << 1 << 2.0 << 1;
    QTest::newRow("2 bytes, scale 1") << 2 << 1.0 << 1;
}

void TstParamTable::mixOfWidthsAndScales()
{
    QFETCH(int, width);
    QFETCH(double, scale);
    QFETCH(int, expected);
    const ParamTable table;
    int n = 0;
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (table.Width(i) == width && qFuzzyCompare(table.Scale(i), scale))
            ++n;
    }
    QCOMPARE(n, expected);
    if (width == 1 && qFuzzyCompare(scale, 2.0))
        QCOMPARE(table.Scale(18), 2.0);
    if (width == 2 && qFuzzyCompare(scale, 1.0))
        QCOMPARE(table.Width(44), 2);
}

void TstParamTable::addressesDoNotOverlapAndLeaveTheKnownGaps()
{
    const ParamTable table;
    QVector<int> owner(147, -1);
    for (int i = 0; i < ParamTable::Count; ++i) {
        QVERIFY2(table.Width(i) == 1 || table.Width(i) == 2, qPrintable(QString::number(i)));
        for (int b = 0; b < table.Width(i); ++b) {
            const int a = table.Address(i) + b;
            QVERIFY2(a >= 0 && a <= 146,
                     qPrintable(QStringLiteral("entry %1 byte %2").arg(i).arg(a)));
            QVERIFY2(
                owner[a] < 0,
                qPrintable(
                    QStringLiteral("entries %1 and %2 share byte %3").arg(owner[a]).arg(i).arg(a)));
            owner[a] = i;
        }
    }
    QSet<int> uncovered;
    for (int a = 0; a <= 146; ++a) {
        if (owner[a] < 0)
            uncovered.insert(a);
    }
    QCOMPARE(uncovered, (QSet<int>{62, 87, 92, 93, 135, 136, 137, 138, 139}));
    QCOMPARE(owner[146], 110);
}

void TstParamTable::runs_data()
{
    QTest::addColumn<int>("purpose");
    QTest::addColumn<QList<RunRow>>("expected");
    QTest::newRow("read: 20 runs") << int(RunPurpose::Read) << kReadRuns;
    QTest::newRow("write: 21 runs, device address in none")
        << int(RunPurpose::Write) << writeRuns();
}

void TstParamTable::runs()
{
    QFETCH(int, purpose);
    QFETCH(QList<RunRow>, expected);
    const ParamTable table;
    const QVector<ParamRun> runs = table.runs(RunPurpose(purpose));
    QCOMPARE(describe(runs), describe(expected));
    for (const ParamRun &r : runs) {
        int bytes = 0;
        for (int k = r.first; k <= r.last; ++k)
            bytes += table.Width(k);
        QCOMPARE(r.bytes, bytes);
        QVERIFY(r.count() <= ParamTable::MaxRunParams);
        QVERIFY(r.bytes <= 80);
    }
}

void TstParamTable::findParamByAddress_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("index");
    QTest::newRow("first calibration value") << 0 << 0;
    QTest::newRow("entry 34 out of index order") << 75 << 34;
    QTest::newRow("device address") << 55 << 41;
    QTest::newRow("first of the four narrow boxes") << 131 << 102;
    QTest::newRow("entry 106 before them in memory") << 129 << 106;
    QTest::newRow("last byte in use") << 146 << 110;
    QTest::newRow("second byte of a 2-byte value") << 1 << 255;
    QTest::newRow("gap at 62") << 62 << 255;
    QTest::newRow("gap at 137") << 137 << 255;
    QTest::newRow("past the memory") << 147 << 255;
    QTest::newRow("largest reply address") << 65535 << 255;
}

void TstParamTable::findParamByAddress()
{
    QFETCH(int, address);
    QFETCH(int, index);
    QCOMPARE(ParamTable().FindParamByAddress(address), index);
}

void TstParamTable::captionsKeepTheirOwnSpacing()
{
    const ParamTable table;
    QCOMPARE(table.caption(40), QStringLiteral("Порог разгрузки  (%)"));
    QCOMPARE(table.caption(23), QStringLiteral("Допуск сдв. фаз синхр. ( °)"));
    QCOMPARE(table.caption(41), QStringLiteral("Адрес устр. Modbus"));
    QCOMPARE(table.caption(0), QStringLiteral("UA (секц)"));
    for (int i = 103; i <= 105; ++i) {
        QCOMPARE(table.caption(i), table.caption(102));
        QVERIFY(!table.entry(i).ownCaption);
    }
    QSet<QString> own;
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (table.entry(i).ownCaption)
            own.insert(table.caption(i));
    }
    QCOMPARE(own.size(), ParamTable::Count - 3);
}

QTEST_APPLESS_MAIN(TstParamTable)
#include "tst_paramtable.moc"
