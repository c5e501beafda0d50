#include "paramreplies.h"
#include "params/paramtable.h"
#include "params/paramtransfer.h"

#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

void fill(RequestQueue &queue, int waiting)
{
    for (int i = 0; i < waiting; ++i)
        QVERIFY(queue.enqueue(StatusPollRequest()));
}

// "first..last@address:bytes" per run, as the controller's memory map lists them.
const QString kReadRuns = QStringLiteral(
    "0..33@0:49 34..34@75:2 35..36@49:3 37..37@77:2 38..45@52:10 46..46@79:1 47..57@63:12 "
    "58..62@80:5 63..63@107:1 64..65@88:2 66..69@140:4 70..79@94:10 80..81@85:2 82..84@104:3 "
    "85..101@108:21 102..105@131:4 106..106@129:2 107..108@144:2 109..109@90:2 110..110@146:1");

} // namespace

Q_DECLARE_METATYPE(vortan::RxBuffer)

Q_DECLARE_METATYPE(vortan::RunPurpose)

class TstParamTransfer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    // One judgement of a value text for the window and vortanctl: whether the window writes it
    // (a leading number) and what it sends, and whether a restore may take it (exact).
    void parseParamText_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("holds");
        QTest::addColumn<int>("raw");
        QTest::addColumn<QString>("refusal"); // part of the reason; empty: exact
        const auto row = [](const char *what, int index, const char *text, bool holds, int raw,
                            const char *refusal) {
            QTest::newRow(what) << index << QString::fromUtf8(text) << holds << raw
                                << QString::fromUtf8(refusal);
        };
        row("read value with comma and blank", 8, "230,5 ", true, 2305, "");
        row("point, scale 0.2", 83, "1.4", true, 7, "");
        row("one-byte maximum at scale 0.1", 16, "25,5", true, 255, "");
        row("maximum at scale 50", 26, "12750", true, 255, "");
        row("two-byte maximum", 44, "65535", true, 65535, "");
        row("lowest unicast address", 41, "1", true, 1, "");
        row("highest unicast address", 41, "247", true, 247, "");
        row("between two steps of 50", 26, "75", true, 2, "50 или 100");
        row("between two steps of 0.1", 8, "230,57", true, 2306, "230,5 или 230,6");
        row("odd at scale 2", 18, "201", true, 101, "200 или 202");
        row("fraction at scale 1", 40, "12,6", true, 13, "12 или 13");
        row("one step over the maximum", 26, "12800", true, 255, "вне диапазона 0..12750");
        row("over two bytes", 44, "65536", true, 65535, "вне диапазона 0..65535");
        row("negative", 10, "-3", true, 0, "вне диапазона");
        row("broadcast address", 41, "0", true, 0, "широковещательный");
        row("reserved address", 41, "248", true, 248, "адрес 248 вне 1..247");
        row("letters after the number", 12, "12abc", true, 12, "не число");
        row("C hexadecimal", 10, "0x1F", true, 0, "не число");
        row("exponent", 44, "1e3", true, 1000, "не число");
        row("percent sign", 17, "12,5 %", true, 13, "не число");
        row("hexadecimal", 10, "&H1F", true, 31, "не число");
        row("point fraction without integer part", 16, ".5", true, 5, "не число");
        row("blanks inside the sign", 10, " - 7", true, 0, "не число");
        row("box never filled", 10, "-", false, 0, "не число");
        row("empty", 10, "", false, 0, "не число");
        row("comma alone", 10, ",", false, 0, "не число");
        row("number after the percent sign", 10, "%12", false, 0, "не число");
        row("hex prefix without digits", 10, "&H", false, 0, "не число");
        row("index outside the table", 111, "1", false, 0, "нет такого");
    }

    void parseParamText()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(bool, holds);
        QFETCH(int, raw);
        QFETCH(QString, refusal);
        const ParamText value = ParseParamText(ParamTable(), index, text);
        QCOMPARE(value.holdsNumber, holds);
        QCOMPARE(value.raw, raw);
        QCOMPARE(value.ok, refusal.isEmpty());
        QVERIFY2(refusal.isEmpty() ? value.reason.isEmpty() : value.reason.contains(refusal),
                 qPrintable(value.reason));
    }

    // A set short of 111 texts or an index outside the table is never written.
    void writeGuard()
    {
        const ParamTable table;
        RequestQueue queue;
        const QStringList texts(100, QStringLiteral("1"));
        QCOMPARE(WriteAllParams(queue, table, texts).status, TransferStatus::NoNumber);
        QCOMPARE(WriteOneParam(queue, table, 111, QStringLiteral("1")), TransferStatus::NoNumber);
        QCOMPARE(WriteOneParam(queue, table, -1, QStringLiteral("1")), TransferStatus::NoNumber);
        QVERIFY(queue.isEmpty());
    }

    void writeOne_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("request");
        const auto row = [](const char *what, int index, const char *text, const QByteArray &r) {
            QTest::newRow(what) << index << QString::fromUtf8(text) << r;
        };
        row("scale 1 rounds 12,6 up", 40, "12,6", bytes({0, 101, 0, 54, 1, 13}));
        row("scale 2 rounds the half away", 18, "201", bytes({0, 101, 0, 32, 1, 101}));
        row("scale 50 clamps to one byte", 26, "20000", bytes({0, 101, 0, 40, 1, 255}));
        row("scale 0.2", 83, "1,4", bytes({0, 101, 0, 105, 1, 7}));
        row("negative clamps to 0", 12, "-3", bytes({0, 101, 0, 23, 1, 0}));
        row("two bytes scale 1", 44, "1000", bytes({0, 101, 0, 59, 2, 0x03, 0xE8}));
        row("two bytes clamp", 44, "70000", bytes({0, 101, 0, 59, 2, 0xFF, 0xFF}));
        row("two bytes scale 0.1 as read back", 0, "230,5 ", bytes({0, 101, 0, 0, 2, 9, 1}));
    }

    void writeOne()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(QByteArray, request);
        RequestQueue queue;
        QCOMPARE(WriteOneParam(queue, ParamTable(), index, text), TransferStatus::Queued);
        QCOMPARE(queue.waiting(), 1);
        QCOMPARE(slotBytes(queue.inFlight()), request);
    }

    void fullRingQueuesNothing_data()
    {
        QTest::addColumn<int>("waiting");
        QTest::addColumn<bool>("readFits");
        QTest::addColumn<bool>("writeFits");
        QTest::newRow("room for a write-all exactly") << 511 - 22 << true << true;
        QTest::newRow("one short of a write-all") << 511 - 21 << true << false;
        QTest::newRow("room for a read-all exactly") << 511 - 20 << true << false;
        QTest::newRow("one short of a read-all") << 511 - 19 << false << false;
    }

    void fullRingQueuesNothing()
    {
        QFETCH(int, waiting);
        QFETCH(bool, readFits);
        QFETCH(bool, writeFits);
        const ParamTable table;
        RequestQueue reads;
        fill(reads, waiting);
        QCOMPARE(ReadAllParams(reads, table) == TransferStatus::Queued, readFits);
        QCOMPARE(reads.waiting(), readFits ? waiting + 20 : waiting);

        RequestQueue writes;
        fill(writes, waiting);
        const QStringList texts(ParamTable::Count, QStringLiteral("5"));
        QCOMPARE(WriteAllParams(writes, table, texts).status,
                 writeFits ? TransferStatus::Queued : TransferStatus::RingFull);
        QCOMPARE(writes.waiting(), writeFits ? waiting + 22 : waiting);
    }

    void decodeReply_data()
    {
        QTest::addColumn<RxBuffer>("rx");
        QTest::addColumn<QString>("expected"); // "index=text|" in order
        const auto row = [](const char *what, RxBuffer rx, const char *expected) {
            QTest::newRow(what) << rx << QString::fromUtf8(expected);
        };
        row("two bytes, scale 0.1", ParamReply(100, 0, 4, bytes({0x09, 0x01, 0x08, 0xFC})),
            "0=230,5 |1=230 |");
        row("scale 2", ParamReply(100, 32, 1, bytes({100})), "18=200 |");
        row("scale 50", ParamReply(100, 40, 1, bytes({255})), "26=12750 |");
        row("scale 0.2", ParamReply(100, 105, 1, bytes({7})), "83=1,4 |");
        row("one byte, scale 0.1", ParamReply(100, 30, 1, bytes({5})), "16=0,5 |");
        row("two bytes, scale 1", ParamReply(100, 59, 2, bytes({0xFF, 0xFF})), "44=65535 |");
        row("four narrow boxes from one reply", ParamReply(100, 131, 4, bytes({0, 1, 2, 3})),
            "102=0 |103=1 |104=2 |105=3 |");
        row("write echo", ParamReply(101, 67, 2, bytes({0x01, 0x2C})), "51=30 |");
        row("write echo with count 0", ParamReply(101, 67, 0, {}), "");
        row("short reply: count says 4, 2 arrived", ParamReply(100, 131, 4, bytes({7, 8})),
            "102=7 |103=8 |");
        row("two-byte value cut in half", ParamReply(100, 57, 4, bytes({1, 2, 3})), "43=25,8 |");
        row("over-long reply at the last entry", ParamReply(100, 146, 5, bytes({4, 5, 6, 7, 8})),
            "110=4 |");
        row("surplus beyond the run is not put into the next index",
            ParamReply(100, 47, 4, bytes({0x00, 0x64, 0x01, 0x02})), "33=10 |");
        row("address of no entry", ParamReply(100, 62, 1, bytes({1})), "");
        row("address inside a two-byte value", ParamReply(100, 1, 1, bytes({1})), "");
        row("header cut off", ParamReply(100, 131, 1, bytes({1}), 4), "");
        row("data byte without its CRC", ParamReply(100, 131, 2, bytes({1, 2}), 8), "102=1 |");
    }

    void decodeReply()
    {
        QFETCH(RxBuffer, rx);
        QFETCH(QString, expected);
        QString got;
        for (const ParamValue &v : DecodeParamReply(rx, ParamTable()))
            got += QStringLiteral("%1=%2|").arg(v.index).arg(v.text);
        QCOMPARE(got, expected);
    }

    void decodeUsesOnlyBytesThatArrived()
    {
        const ParamTable table;
        QRandomGenerator random(146);
        for (int round = 0; round < 20000; ++round) {
            QByteArray data(random.bounded(120), Qt::Uninitialized);
            for (char &c : data)
                c = char(random.bounded(256));
            const int count = random.bounded(256);
            const int cut = random.bounded(2) ? -1 : random.bounded(data.size() + 8);
            const RxBuffer rx =
                ParamReply(random.bounded(2) ? 100 : 101, random.bounded(160), count, data, cut);
            int used = 0;
            for (const ParamValue &v : DecodeParamReply(rx, table)) {
                QVERIFY(ParamTable::isValidIndex(v.index));
                QVERIFY(v.raw >= 0 && v.raw <= table.maxRaw(v.index));
                used += table.Width(v.index);
            }
            QVERIFY2(used <= qMax(0, qMin(count, rx.count - 7)),
                     qPrintable(QStringLiteral("round %1: %2 bytes used").arg(round).arg(used)));
        }
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
        QList<int> uncovered;
        for (int a = 0; a <= 146; ++a) {
            if (owner[a] < 0)
                uncovered << a;
        }
        QCOMPARE(uncovered, (QList<int>{62, 87, 92, 93, 135, 136, 137, 138, 139}));
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

    // Captions keep their own spacing; boxes 103..105 stand under 102's.
    void captions()
    {
        const ParamTable table;
        QCOMPARE(table.caption(40), QStringLiteral("Порог разгрузки  (%)"));
        QCOMPARE(table.caption(23), QStringLiteral("Допуск сдв. фаз синхр. ( °)"));
        for (int i = 0; i < ParamTable::Count; ++i)
            QCOMPARE(table.entry(i).ownCaption, i < 103 || i > 105);
        QCOMPARE(table.caption(105), table.caption(102));
    }
};

QTEST_GUILESS_MAIN(TstParamTransfer)
#include "tst_paramtransfer.moc"
