#include "modbus/requestqueue.h"
#include "params/paramtransfer.h"
#include "paramtestsupport.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

QList<QByteArray> queued(const RequestQueue &queue, quint16 from)
{
    QList<QByteArray> out;
    for (int i = from; i != queue.writeIndex(); i = (i + 1) % RequestQueue::Slots)
        out.append(slotBytes(queue.slotAt(i)));
    return out;
}

void fill(RequestQueue &queue, int waiting)
{
    for (int i = 0; i < waiting; ++i)
        QVERIFY(queue.enqueue(StatusPollRequest()));
}

// A text that the box would show for raw value r of entry i (point as separator, as typed).
QString typed(const ParamTable &table, int i, int raw)
{
    return QString::number(raw * table.Scale(i), 'f', 2);
}

} // namespace

Q_DECLARE_METATYPE(vortan::RxBuffer)

class TstParamTransfer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void holdsNumber_data();
    void holdsNumber();
    void readAllQueuesTheRunsInOrder();
    void writeAllSendsEveryRunThenTheDeviceAddress();
    void writeAllRefusesBoxesWithoutANumber();
    void writeOne_data();
    void writeOne();
    void writeOneRefusesATextWithoutANumber();
    void fullRingQueuesNothing_data();
    void fullRingQueuesNothing();
    void decodeReply_data();
    void decodeReply();
    void decodeUsesOnlyBytesThatArrived();
};

void TstParamTransfer::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TstParamTransfer::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TstParamTransfer::holdsNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("holds");
    QTest::newRow("read value with comma and blank") << "12,5 " << true;
    QTest::newRow("whole number and blank") << "230 " << true;
    QTest::newRow("negative") << "-3" << true;
    QTest::newRow("point fraction without integer part") << ".5" << true;
    QTest::newRow("blanks inside the sign") << " - 7" << true;
    QTest::newRow("percent after the number") << "12 %" << true;
    QTest::newRow("hexadecimal") << "&H1F" << true;
    QTest::newRow("box never filled") << "-" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blanks only") << "   " << false;
    QTest::newRow("letters") << "abc" << false;
    QTest::newRow("comma alone") << "," << false;
    QTest::newRow("number after the percent sign") << "%12" << false;
    QTest::newRow("hex prefix without digits") << "&H" << false;
    QTest::newRow("exponent without mantissa") << "e5" << false;
}

void TstParamTransfer::holdsNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, holds);
    QCOMPARE(HoldsNumber(text), holds);
}

void TstParamTransfer::readAllQueuesTheRunsInOrder()
{
    RequestQueue queue;
    const ParamTable table;
    QCOMPARE(ReadAllParams(queue, table), TransferStatus::Queued);

    const QList<QPair<int, int>> expected = {{0, 49},  {75, 2},  {49, 3},  {77, 2},  {52, 10},
                                             {79, 1},  {63, 12}, {80, 5},  {107, 1}, {88, 2},
                                             {140, 4}, {94, 10}, {85, 2},  {104, 3}, {108, 21},
                                             {131, 4}, {129, 2}, {144, 2}, {90, 2},  {146, 1}};
    const QList<QByteArray> requests = queued(queue, 0);
    QCOMPARE(requests.size(), expected.size());
    QCOMPARE(requests.first(), bytes({0x00, 0x64, 0x00, 0x00, 0x31}));
    for (int r = 0; r < expected.size(); ++r)
        QCOMPARE(requests.at(r), bytes({0, 100, expected[r].first >> 8, expected[r].first & 0xFF,
                                        expected[r].second}));
}

void TstParamTransfer::writeAllSendsEveryRunThenTheDeviceAddress()
{
    const ParamTable table;
    // A distinct raw value per entry, so a byte in the wrong place shows.
    QStringList texts;
    std::array<int, ParamTable::Count> raw{};
    for (int i = 0; i < ParamTable::Count; ++i) {
        raw[size_t(i)] = table.Width(i) == 2 ? 1000 + 257 * i : (i * 37 + 11) % 256;
        texts << typed(table, i, raw[size_t(i)]);
    }
    std::array<int, 147> memory{};
    memory.fill(-1);
    for (int i = 0; i < ParamTable::Count; ++i) {
        const int a = table.Address(i);
        if (table.Width(i) == 2) {
            memory[size_t(a)] = raw[size_t(i)] >> 8;
            memory[size_t(a + 1)] = raw[size_t(i)] & 0xFF;
        } else {
            memory[size_t(a)] = raw[size_t(i)];
        }
    }

    RequestQueue queue;
    fill(queue, 3); // other traffic already waiting stays in front
    const quint16 start = queue.writeIndex();
    QCOMPARE(WriteAllParams(queue, table, texts).status, TransferStatus::Queued);
    const QList<QByteArray> requests = queued(queue, start);

    const QList<QPair<int, int>> runs = {
        {0, 49},  {75, 2},   {49, 3},  {77, 2},  {52, 3},  {56, 6},  {79, 1},
        {63, 12}, {80, 5},   {107, 1}, {88, 2},  {140, 4}, {94, 10}, {85, 2},
        {104, 3}, {108, 21}, {131, 4}, {129, 2}, {144, 2}, {90, 2},  {146, 1}};
    QCOMPARE(requests.size(), runs.size() + 1);
    for (int r = 0; r < runs.size(); ++r) {
        const int a = runs[r].first;
        const int n = runs[r].second;
        QByteArray expected = bytes({0, 101, a >> 8, a & 0xFF, n});
        for (int k = 0; k < n; ++k)
            expected.append(char(memory[size_t(a + k)]));
        QCOMPARE(requests.at(r), expected);
        QVERIFY2(!(a <= 55 && 55 < a + n), "the device address travels in a run");
    }
    QCOMPARE(requests.last(), bytes({0, 101, 0, 55, 1, raw[41]}));
}

void TstParamTransfer::writeAllRefusesBoxesWithoutANumber()
{
    const ParamTable table;
    QStringList texts;
    for (int i = 0; i < ParamTable::Count; ++i)
        texts << QStringLiteral("1");
    texts[41] = QStringLiteral("-");
    texts[3] = QString();
    texts[110] = QStringLiteral("abc");

    RequestQueue queue;
    const WriteAllResult result = WriteAllParams(queue, table, texts);
    QCOMPARE(result.status, TransferStatus::NoNumber);
    QCOMPARE(result.emptyBoxes, (QVector<int>{3, 41, 110}));
    QVERIFY(queue.isEmpty());

    QCOMPARE(WriteAllParams(queue, table, texts.mid(0, 100)).status, TransferStatus::NoNumber);
    QVERIFY(queue.isEmpty());
}

void TstParamTransfer::writeOne_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("scale 1 rounds 12,6 up") << 40 << "12,6" << bytes({0, 101, 0, 54, 1, 13});
    QTest::newRow("scale 2 rounds the half away") << 18 << "201" << bytes({0, 101, 0, 32, 1, 101});
    QTest::newRow("scale 50 clamps to one byte") << 26 << "20000" << bytes({0, 101, 0, 40, 1, 255});
    QTest::newRow("negative clamps to 0") << 12 << "-3" << bytes({0, 101, 0, 23, 1, 0});
    QTest::newRow("two bytes scale 1") << 44 << "1000" << bytes({0, 101, 0, 59, 2, 0x03, 0xE8});
    QTest::newRow("two bytes scale 0.1 as read back")
        << 0 << "230,5 " << bytes({0, 101, 0, 0, 2, 0x09, 0x01});
    QTest::newRow("two bytes clamp") << 44 << "70000" << bytes({0, 101, 0, 59, 2, 0xFF, 0xFF});
    QTest::newRow("scale 0.2") << 83 << "1,4" << bytes({0, 101, 0, 105, 1, 7});
    QTest::newRow("percent sign ends the number") << 17 << "95 %" << bytes({0, 101, 0, 31, 1, 95});
    QTest::newRow("last entry") << 110 << "8" << bytes({0, 101, 0, 146, 1, 8});
}

void TstParamTransfer::writeOne()
{
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(QByteArray, request);
    RequestQueue queue;
    QCOMPARE(WriteOneParam(queue, ParamTable(), index, text), TransferStatus::Queued);
    QCOMPARE(queued(queue, 0), QList<QByteArray>{request});
}

void TstParamTransfer::writeOneRefusesATextWithoutANumber()
{
    RequestQueue queue;
    const ParamTable table;
    QCOMPARE(WriteOneParam(queue, table, 41, QStringLiteral("-")), TransferStatus::NoNumber);
    QCOMPARE(WriteOneParam(queue, table, 41, QStringLiteral("адрес")), TransferStatus::NoNumber);
    QCOMPARE(WriteOneParam(queue, table, 111, QStringLiteral("1")), TransferStatus::NoNumber);
    QCOMPARE(WriteOneParam(queue, table, -1, QStringLiteral("1")), TransferStatus::NoNumber);
    QVERIFY(queue.isEmpty());
}

void TstParamTransfer::fullRingQueuesNothing_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<bool>("readFits");
    QTest::addColumn<bool>("writeFits");
    QTest::newRow("room for a write-all exactly") << 511 - 22 << true << true;
    QTest::newRow("one short of a write-all") << 511 - 21 << true << false;
    QTest::newRow("room for a read-all exactly") << 511 - 20 << true << false;
    QTest::newRow("one short of a read-all") << 511 - 19 << false << false;
    QTest::newRow("ring full") << 511 << false << false;
}

void TstParamTransfer::fullRingQueuesNothing()
{
    QFETCH(int, waiting);
    QFETCH(bool, readFits);
    QFETCH(bool, writeFits);
    const ParamTable table;
    QStringList texts;
    for (int i = 0; i < ParamTable::Count; ++i)
        texts << QStringLiteral("5");

    RequestQueue reads;
    fill(reads, waiting);
    QCOMPARE(ReadAllParams(reads, table),
             readFits ? TransferStatus::Queued : TransferStatus::RingFull);
    QCOMPARE(reads.waiting(), readFits ? waiting + 20 : waiting);

    RequestQueue writes;
    fill(writes, waiting);
    QCOMPARE(WriteAllParams(writes, table, texts).status,
             writeFits ? TransferStatus::Queued : TransferStatus::RingFull);
    QCOMPARE(writes.waiting(), writeFits ? waiting + 22 : waiting);
    if (writeFits)
        QCOMPARE(slotBytes(writes.slotAt(writes.writeIndex() + RequestQueue::Slots - 1)),
                 bytes({0, 101, 0, 55, 1, 5}));
}

void TstParamTransfer::decodeReply_data()
{
    QTest::addColumn<RxBuffer>("rx");
    QTest::addColumn<QStringList>("expected"); // "index=text" in order

    QTest::newRow("calibration run, scale 0.1, two bytes")
        << ParamReply(100, 0, 4, bytes({0x09, 0x01, 0x08, 0xFC}))
        << QStringList{"0=230,5 ", "1=230 "};
    QTest::newRow("scale 2") << ParamReply(100, 32, 1, bytes({100})) << QStringList{"18=200 "};
    QTest::newRow("scale 50") << ParamReply(100, 40, 1, bytes({255})) << QStringList{"26=12750 "};
    QTest::newRow("scale 0.2") << ParamReply(100, 105, 1, bytes({7})) << QStringList{"83=1,4 "};
    QTest::newRow("scale 0.1, one byte")
        << ParamReply(100, 30, 1, bytes({5})) << QStringList{"16=0,5 "};
    QTest::newRow("two bytes, scale 1")
        << ParamReply(100, 59, 2, bytes({0xFF, 0xFF})) << QStringList{"44=65535 "};
    QTest::newRow("four narrow boxes from one reply")
        << ParamReply(100, 131, 4, bytes({0, 1, 2, 3}))
        << QStringList{"102=0 ", "103=1 ", "104=2 ", "105=3 "};
    QTest::newRow("write echo") << ParamReply(101, 67, 2, bytes({0x01, 0x2C}))
                                << QStringList{"51=30 "};
    QTest::newRow("write echo with count 0")
        << ParamReply(101, 67, 0, QByteArray()) << QStringList{};
    QTest::newRow("short reply: count says 4, 2 arrived")
        << ParamReply(100, 131, 4, bytes({7, 8})) << QStringList{"102=7 ", "103=8 "};
    QTest::newRow("two-byte value cut in half")
        << ParamReply(100, 57, 4, bytes({0x01, 0x02, 0x03})) << QStringList{"43=25,8 "};
    QTest::newRow("count beyond what arrived before the CRC")
        << ParamReply(100, 131, 200, bytes({9})) << QStringList{"102=9 "};
    QTest::newRow("over-long reply at the last entry")
        << ParamReply(100, 146, 5, bytes({4, 5, 6, 7, 8})) << QStringList{"110=4 "};
    QTest::newRow("surplus beyond the run is not put into the next index")
        << ParamReply(100, 47, 4, bytes({0x00, 0x64, 0x01, 0x02})) << QStringList{"33=10 "};
    QTest::newRow("address of no entry") << ParamReply(100, 62, 1, bytes({1})) << QStringList{};
    QTest::newRow("address inside a two-byte value")
        << ParamReply(100, 1, 1, bytes({1})) << QStringList{};
    QTest::newRow("exception reply") << ParamReply(228, 0, 2, bytes({1, 2})) << QStringList{};
    QTest::newRow("header cut off") << ParamReply(100, 131, 1, bytes({1}), 4) << QStringList{};
    QTest::newRow("data byte without its CRC")
        << ParamReply(100, 131, 2, bytes({1, 2}), 8) << QStringList{"102=1 "};
}

void TstParamTransfer::decodeReply()
{
    QFETCH(RxBuffer, rx);
    QFETCH(QStringList, expected);
    QStringList got;
    for (const ParamValue &v : DecodeParamReply(rx, ParamTable()))
        got << QStringLiteral("%1=%2").arg(v.index).arg(v.text);
    QCOMPARE(got, expected);
}

void TstParamTransfer::decodeUsesOnlyBytesThatArrived()
{
    const ParamTable table;
    QRandomGenerator random(146);
    for (int round = 0; round < 20000; ++round) {
        const int address = random.bounded(160);
        const int count = random.bounded(256);
        QByteArray data(random.bounded(120), Qt::Uninitialized);
        for (char &c : data)
            c = char(random.bounded(256));
        const int cut = random.bounded(2) ? -1 : random.bounded(data.size() + 8);
        const RxBuffer rx = ParamReply(random.bounded(2) ? 100 : 101, address, count, data, cut);

        const QVector<ParamValue> values = DecodeParamReply(rx, table);
        int used = 0;
        for (const ParamValue &v : values) {
            QVERIFY(ParamTable::isValidIndex(v.index));
            QVERIFY(v.raw >= 0 && v.raw <= table.maxRaw(v.index));
            used += table.Width(v.index);
        }
        QVERIFY2(used <= qMax(0, qMin(count, rx.count - 7)),
                 qPrintable(QStringLiteral("address %1 count %2 received %3 used %4")
                                .arg(address)
                                .arg(count)
                                .arg(rx.count)
                                .arg(used)));
    }
}

QTEST_GUILESS_MAIN(TstParamTransfer)
#include "tst_paramtransfer.moc"
