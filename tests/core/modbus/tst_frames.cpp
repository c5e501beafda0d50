#include "modbus/frames.h"

#include <QtTest>

#include <cstring>
#include <random>

using namespace vortan;

Q_DECLARE_METATYPE(vortan::RequestSlot)
Q_DECLARE_METATYPE(vortan::ControlState)

namespace
{

constexpr int kIntMax = std::numeric_limits<int>::max();

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text); // blanks between the bytes are skipped
}

// Table-driven CRC, an algorithm independent of the bitwise one under test.
quint16 referenceCrc(const quint8 *bytes, int count)
{
    static const auto table = [] {
        std::array<quint16, 256> t{};
        for (int i = 0; i < 256; ++i) {
            quint16 c = quint16(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? quint16((c >> 1) ^ 0xA001) : quint16(c >> 1);
            t[size_t(i)] = c;
        }
        return t;
    }();
    quint16 crc = 0xFFFF;
    for (int i = 0; i < count; ++i)
        crc = quint16((crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Crc16Modbus(body);
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

QByteArray slotBytes(const RequestSlot &slot)
{
    QByteArray out;
    for (int i = 0; i <= slot.last; ++i)
        out.append(char(slot.bytes[size_t(i)]));
    return out;
}

} // namespace

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void crcCheckValue()
    {
        QCOMPARE(Crc16Modbus(QByteArray("123456789")), quint16(0x4B37));
        QCOMPARE(Crc16Modbus(QByteArray()), quint16(0xFFFF));
    }

    void frameOnWire_data()
    {
        QTest::addColumn<RequestSlot>("slot");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("status poll") << StatusPollRequest() << 1 << hex("01 04 07 D0 00 48 F0 B1");
        QTest::newRow("reset alarms")
            << WriteRegisterRequest(CommandRegister, 0xCBD0) << 1 << hex("01 06 0F A1 CB D0 8D 90");
        QTest::newRow("control state, everything cleared")
            << ControlStateRequest(ControlState()) << 1
            << hex("01 17 0F AA 00 01 0F A2 00 05 0A 00 00 00 00 00 00 00 00 00 00 2A 21");
        QTest::newRow("param read keeps the low 16 address bits")
            << ParamReadRequest(0x12345, 2) << 1 << hex("01 64 23 45 02 44 6B");
        QTest::newRow("param write of no bytes writes one")
            << ParamWriteRequest(0x0010, 0x12345678, 0) << 1 << hex("01 65 00 10 01 78 4D B5");
    }
    void frameOnWire()
    {
        QFETCH(RequestSlot, slot);
        QFETCH(int, address);
        QFETCH(QByteArray, wire);
        QCOMPARE(slot.bytes[0], quint8(0));
        QCOMPARE(BuildTxFrame(slot, quint8(address)).toHex(' '), wire.toHex(' '));
    }

    // A frame with a good CRC answers the request in flight only with the request's address,
    // function (or its exception) and the shape of that function's answer.
    void replyMatchesItsRequest_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("match");
        const QByteArray poll = BuildTxFrame(StatusPollRequest(), 1);
        const QByteArray control = BuildTxFrame(ControlStateRequest(ControlState()), 1);
        const QByteArray reset = BuildTxFrame(WriteRegisterRequest(CommandRegister, 0xCBD0), 1);
        const QByteArray read = BuildTxFrame(ParamReadRequest(45, 2), 1);      // 01 64 00 2D 02
        const QByteArray write = BuildTxFrame(ParamWriteRequest(41, 7, 1), 1); // 01 65 00 29 01 07
        const QByteArray block = hex("01 04 90") + QByteArray(144, '\x11');
        const int reply = int(ReplyMatch::Reply);
        const int refused = int(ReplyMatch::Exception);
        const int stray = int(ReplyMatch::Stray);
        QTest::newRow("status block") << poll << withCrc(block) << reply;
        QTest::newRow("priority code") << control << withCrc(hex("01 17 02 A5 03")) << reply;
        QTest::newRow("command echo") << reset << reset << reply;
        QTest::newRow("parameter read") << read << withCrc(hex("01 64 00 2D 02 11 22")) << reply;
        QTest::newRow("parameter write echo")
            << write << withCrc(hex("01 65 00 29 01 07")) << reply;
        QTest::newRow("exception to the poll") << poll << withCrc(hex("01 84 02")) << refused;
        QTest::newRow("exception to a parameter read")
            << read << withCrc(hex("01 E4 03")) << refused;

        QTest::newRow("command echo for a status read") << poll << reset << stray;
        QTest::newRow("another slave's status block")
            << poll << withCrc("\x02" + block.mid(1)) << stray;
        QTest::newRow("byte count of 71 registers")
            << poll << withCrc(hex("01 04 8E") + QByteArray(142, '\x11')) << stray;
        QTest::newRow("byte count right, one byte missing")
            << poll << withCrc(block.chopped(1)) << stray;
        QTest::newRow("priority code for a status read")
            << poll << withCrc(hex("01 17 02 00 00")) << stray;
        QTest::newRow("exception for another function")
            << poll << withCrc(hex("01 97 02")) << stray;
        QTest::newRow("exception a byte long") << poll << withCrc(hex("01 84 02 00")) << stray;
        QTest::newRow("three good bytes") << poll << withCrc(hex("01")) << stray;
        QTest::newRow("echo of another command")
            << reset << withCrc(hex("01 06 0F A1 F1 A5")) << stray;
        QTest::newRow("parameter read of another address")
            << read << withCrc(hex("01 64 00 2E 02 11 22")) << stray;
        QTest::newRow("parameter read of another count")
            << read << withCrc(hex("01 64 00 2D 01 11")) << stray;
        QTest::newRow("parameter read, a data byte missing")
            << read << withCrc(hex("01 64 00 2D 02 11")) << stray;
        QTest::newRow("late parameter read for a write")
            << write << withCrc(hex("01 64 00 29 01 07")) << stray;
        QTest::newRow("anything when nothing was sent") << QByteArray() << withCrc(block) << stray;
    }
    void replyMatchesItsRequest()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(int, match);
        QVERIFY(CrcGood(reply));
        QCOMPARE(int(CheckReply(reply, request)), match);
        RxBuffer rx;
        rx.count = int(reply.size());
        std::memcpy(rx.bytes.data(), reply.constData(), size_t(reply.size()));
        QCOMPARE(int(CheckReply(rx, request)), match);
        for (int n = 1; match != int(ReplyMatch::Stray) && n <= reply.size(); ++n)
            QVERIFY(StartsReply(rx.bytes.data(), n, request));
    }

    // The request's own bytes in front of the reply (an adapter that hears itself) are skipped;
    // a reply that repeats its request is one copy; -1 while it cannot be told yet.
    void echoOfTheRequest_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("echo");
        QTest::addColumn<bool>("lineEchoes");
        const QByteArray poll = BuildTxFrame(StatusPollRequest(), 1);
        const QByteArray reset = BuildTxFrame(WriteRegisterRequest(CommandRegister, 0xCBD0), 1);
        const QByteArray read = BuildTxFrame(ParamReadRequest(45, 2), 1);
        const QByteArray write = BuildTxFrame(ParamWriteRequest(41, 7, 1), 1);
        const QByteArray block = withCrc(hex("01 04 90") + QByteArray(144, '\x11'));
        const QByteArray values = withCrc(hex("01 64 00 2D 02 11 22"));
        QTest::newRow("status poll and its reply") << poll << poll + block << 8 << false;
        QTest::newRow("status poll alone") << poll << poll << 8 << false;
        QTest::newRow("status reply without echo") << poll << block << 0 << false;
        QTest::newRow("part of the echo") << poll << poll.left(5) << 0 << false;
        QTest::newRow("command: one copy is the reply") << reset << reset << 0 << false;
        QTest::newRow("command: echo and reply") << reset << reset + reset << 8 << false;
        QTest::newRow("command: echo, reply coming") << reset << reset + reset.left(3) << 8 << false;
        QTest::newRow("command: echo and exception")
            << reset << reset + withCrc(hex("01 86 02")) << 8 << false;
        QTest::newRow("parameter write: one copy is the reply") << write << write << 0 << false;
        QTest::newRow("parameter read and its values") << read << read + values << 7 << false;
        QTest::newRow("parameter read, more to come") << read << read + hex("01") << -1 << false;
        QTest::newRow("parameter values that repeat the request's CRC")
            << read << withCrc(read.left(7)) << 0 << false;
        QTest::newRow("line that echoes: a lone command copy is the echo")
            << reset << reset << 8 << true;
        QTest::newRow("line that echoes: a lone parameter write copy is the echo")
            << write << write << 8 << true;
    }
    void echoOfTheRequest()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, bytes);
        QFETCH(int, echo);
        QFETCH(bool, lineEchoes);
        QCOMPARE(EchoLength(reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size()),
                            request, lineEchoes),
                 echo);
    }

    // Registers 4002..4006 of the function-23 exchange, as the check boxes and lists set them.
    void controlStateRegisters_data()
    {
        QTest::addColumn<ControlState>("state"); // word, section, next, priority, bdn, flr, iflr
        QTest::addColumn<QByteArray>("registers");
        QTest::newRow("only chk_syren")
            << ControlState{0x8000, 0, 0, 0, 0, 0, 0} << hex("80 00 00 00 00 00 00 00 00 00");
        QTest::newRow("next 3, section 5, priority 7")
            << ControlState{0, 5, 3, 7, 0, 0, 0} << hex("00 00 35 07 00 00 00 00 00 00");
        QTest::newRow("chk_iflr 1 and 4")
            << ControlState{0, 0, 0, 0, 0, 0, 2 + 16} << hex("00 00 00 00 00 00 00 00 00 12");
        QTest::newRow("chk_bdn and chk_flr")
            << ControlState{0, 0, 0, 0, 0x0102, 0x0304, 0} << hex("00 00 00 00 01 02 03 04 00 00");
        QTest::newRow("no selection anywhere")
            << ControlState{0, -1, -1, -1, 0, 0, 0} << hex("00 00 00 00 00 00 00 00 00 00");
        QTest::newRow("section too large cannot reach next section")
            << ControlState{0, 200, 0, 0, 0, 0, 0} << hex("00 00 0F 00 00 00 00 00 00 00");
        QTest::newRow("priority too large")
            << ControlState{0, 7, 7, 1000, 0, 0, 0} << hex("00 00 77 FF 00 00 00 00 00 00");
    }
    void controlStateRegisters()
    {
        QFETCH(ControlState, state);
        QFETCH(QByteArray, registers);
        QCOMPARE(slotBytes(ControlStateRequest(state)).mid(11).toHex(' '), registers.toHex(' '));
    }

    void paramRunWriteAndInvalidSlots()
    {
        QByteArray data;
        for (int i = 0; i < 100; ++i)
            data.append(char(i));
        QCOMPARE(slotBytes(ParamRunWriteRequest(0x0102, data)),
                 hex("00 65 01 02 50") + data.left(80));
        QVERIFY(!ParamRunWriteRequest(0x0102, QByteArray()).isValid());

        RequestSlot slot;
        for (int last : {-5, -1, 0, RequestSlot::Capacity, kIntMax}) {
            slot.last = last;
            QVERIFY2(BuildTxFrame(slot, 1).isEmpty(), qPrintable(QString::number(last)));
        }
        slot.last = RequestSlot::Capacity - 1;
        QCOMPARE(BuildTxFrame(slot, 1).size(), RequestSlot::Capacity + 2);
    }

    void byteOf_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("expected");
        QTest::newRow("-21154 high byte") << qint64(-21154) << 1 << 0xAD;
        QTest::newRow("-21154 low byte") << qint64(-21154) << 0 << 0x5E;
        QTest::newRow("int32 min top byte")
            << qint64(std::numeric_limits<qint32>::min()) << 3 << 0x80;
        QTest::newRow("k 4 gives 0") << qint64(-1) << 4 << 0;
        QTest::newRow("int64 min keeps its low 32 bits")
            << std::numeric_limits<qint64>::min() << 3 << 0;
        QTest::newRow("bits above 31 are ignored") << qint64(0x1000000ABLL) << 0 << 0xAB;
    }
    void byteOf()
    {
        QFETCH(qint64, value);
        QFETCH(int, k);
        QFETCH(int, expected);
        QCOMPARE(int(ByteOf(value, k)), expected);
    }

    // The edges the random model rarely meets.
    void holdsAndReaderEdges()
    {
        RxBuffer rx;
        rx.count = StatusReplyLength;
        QVERIFY(rx.holds(0, 149) && rx.holds(147, 2));
        QVERIFY(!rx.holds(148, 2) && !rx.holds(-1, 1) && !rx.holds(0, -1));
        QVERIFY(!rx.holds(kIntMax, kIntMax));
        rx.count = 100000;
        QVERIFY(!rx.holds(0, RxBuffer::Capacity));
        rx.bytes = {0x80, 0x00, 0x7F, 0xFF};
        QCOMPARE(rx.RxSignedWord(0), -32768);
        QCOMPARE(rx.RxSignedWord(2), 32767);
        QCOMPARE(rx.RxUInt(kIntMax, 4), 0);
    }

    // Random replies of any count and random positions: the CRC verdict and every reader agree
    // with a big-endian model in which bytes outside the array are 0, whatever the count says.
    void randomRepliesAreReadWithinBounds()
    {
        std::mt19937 gen(20240611);
        std::uniform_int_distribution<int> byte(0, 255), count(-10, 300),
            index(-8, RxBuffer::Capacity + 8), width(-2, 6);
        const auto model = [](const RxBuffer &rx, qint64 i) -> quint32 {
            return (i >= 0 && i < RxBuffer::Capacity) ? rx.bytes[size_t(i)] : 0;
        };
        for (int round = 0; round < 3000; ++round) {
            RxBuffer rx;
            // Whatever lies in memory beyond the array must not leak into a reader.
            std::memset(static_cast<void *>(&rx), 0x5A, sizeof rx);
            for (auto &b : rx.bytes)
                b = quint8(byte(gen));
            rx.count = count(gen);
            const bool framed = rx.count >= 3 && rx.count <= RxBuffer::MaxCount;
            const int crcAt = qMax(0, rx.count - 2);
            const quint16 crc = framed ? referenceCrc(rx.bytes.data(), crcAt) : 0;
            if (framed && round % 2 == 0) {
                rx.bytes[size_t(crcAt)] = quint8(crc & 0xFF);
                rx.bytes[size_t(crcAt + 1)] = quint8(crc >> 8);
            }
            QCOMPARE(rx.crcGood(), framed && crc == (model(rx, crcAt) | model(rx, crcAt + 1) << 8));

            const int i = index(gen);
            const int n = width(gen);
            quint32 expected = 0;
            for (int k = 0; k < qBound(1, n, 4); ++k)
                expected = (expected << 8) | model(rx, qint64(i) + k);
            QCOMPARE(quint32(rx.RxUInt(i, n)), expected);
            const quint32 word = model(rx, i) << 8 | model(rx, i + 1);
            const quint32 dword = word << 16 | model(rx, i + 2) << 8 | model(rx, i + 3);
            QCOMPARE(quint32(rx.byte(i)), model(rx, i));
            QCOMPARE(quint32(rx.RxWord(i)), word);
            QCOMPARE(rx.RxSignedWord(i), int(qint16(word)));
            QCOMPARE(rx.RxDWordBits(i), dword);
            QCOMPARE(rx.RxDWord(i), double(dword));
        }
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
