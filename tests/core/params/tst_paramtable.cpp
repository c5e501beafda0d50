#include "params/paramtable.h"

#include <QMap>
#include <QSet>
#include <QtTest>

using namespace vortan;

namespace
{

// "first..last@address:bytes" per run, as the controller's memory map lists them.
const QString kReadRuns = QStringLiteral(
    "0..33@0:49 34..34@75:2 35..36@49:3 37..37@77:2 38..45@52:10 46..46@79:1 47..57@63:12 "
    "58..62@80:5 63..63@107:1 64..65@88:2 66..69@140:4 70..79@94:10 80..81@85:2 82..84@104:3 "
    "85..101@108:21 102..105@131:4 106..106@129:2 107..108@144:2 109..109@90:2 110..110@146:1");

} // namespace

Q_DECLARE_METATYPE(vortan::RunPurpose)

class TstParamTable : public QObject
{
    Q_OBJECT
private slots:
    void mixOfWidthsAndScales()
    {
        const ParamTable table;
        QMap<QString, int> mix;
        for (int i = 0; i < ParamTable::Count; ++i)
            ++mix[QStringLiteral("%1 byte x %2").arg(table.Width(i)).arg(table.Scale(i))];
        const QMap<QString, int> expected{
            {"1 byte x 1", 66},  {"2 byte x 0.1", 26}, {"1 byte x 50", 9}, {"1 byte x 0.1", 6},
            {"1 byte x 0.2", 2}, {"1 byte x 2", 1},    {"2 byte x 1", 1}};
        QCOMPARE(mix, expected);
        QCOMPARE(table.Scale(18), 2.0);
        QCOMPARE(table.Width(44), 2);
    }

    void addressesDoNotOverlapAndLeaveTheKnownGaps()
    {
        const ParamTable table;
        QVector<int> owner(147, -1);
        for (int i = 0; i < ParamTable::Count; ++i) {
            for (int a = table.Address(i); a < table.Address(i) + table.Width(i); ++a) {
                QVERIFY2(a >= 0 && a <= 146 && owner[a] < 0,
                         qPrintable(QStringLiteral("entry %1 at byte %2").arg(i).arg(a)));
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

    void runs_data()
    {
        QTest::addColumn<RunPurpose>("purpose");
        QTest::addColumn<QString>("expected");
        QTest::newRow("read: 20 runs") << RunPurpose::Read << kReadRuns;
        // The device address (41) travels alone, after every run.
        QTest::newRow("write: 21 runs, device address in none")
            << RunPurpose::Write
            << QString(kReadRuns).replace("38..45@52:10", "38..40@52:3 42..45@56:6");
    }

    void runs()
    {
        QFETCH(RunPurpose, purpose);
        QFETCH(QString, expected);
        QStringList got;
        for (const ParamRun &r : ParamTable().runs(purpose))
            got << QStringLiteral("%1..%2@%3:%4")
                       .arg(r.first)
                       .arg(r.last)
                       .arg(r.address)
                       .arg(r.bytes);
        QCOMPARE(got.join(QLatin1Char(' ')), expected);
    }

    void captionsKeepTheirOwnSpacing()
    {
        const ParamTable table;
        QCOMPARE(table.caption(40), QStringLiteral("Порог разгрузки  (%)"));
        QCOMPARE(table.caption(23), QStringLiteral("Допуск сдв. фаз синхр. ( °)"));
        QSet<QString> own;
        for (int i = 0; i < ParamTable::Count; ++i) {
            if (table.entry(i).ownCaption)
                own.insert(table.caption(i));
            else
                QVERIFY2(i >= 103 && i <= 105 && table.caption(i) == table.caption(102),
                         qPrintable(QString::number(i)));
        }
        QCOMPARE(own.size(), ParamTable::Count - 3);
    }
};

QTEST_APPLESS_MAIN(TstParamTable)
#include "tst_paramtable.moc"
