#include "modbus/frames.h"

#include <QtTest>

#include <limits>
#include <random>

using namespace vortan;

Q_DECLARE_METATYPE(vortan::RequestSlot)

namespace
{

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
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

int referenceByte(const RxBuffer &rx, qint64 i)
{
    return (i >= 0 && i < RxBuffer::Capacity) ? rx.bytes[size_t(i)] : 0;
}

RxBuffer bufferWith(const QByteArray &bytes, int at)
{
    RxBuffer rx;
    for (int i = 0; i < bytes.size(); ++i)
        rx.bytes[size_t(at + i)] = quint8(bytes[i]);
    rx.count = qMin(at + int(bytes.size()), RxBuffer::MaxCount);
    return rx;
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
    void crc_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("crc");
        QTest::newRow("published check value of 123456789") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("nothing gives the start value") << QByteArray() << 0xFFFF;
        QTest::newRow("read holding register 0 of slave 1") << hex("01 03 00 00 00 01") << 0x0A84;
        QTest::newRow("single byte of a 3-byte reply") << hex("01") << 0x807E;
    }
    void crc()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, crc);
        QCOMPARE(int(Crc16Modbus(bytes)), crc);
        QCOMPARE(int(Crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()),
                                 int(bytes.size()))),
                 crc);
    }

    void frameOnWire_data()
    {
        QTest::addColumn<RequestSlot>("slot");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("wire");
        ControlState cleared;
        ControlState mixed;
        mixed.controlWord = 0x8000;
        mixed.nextSection = 3;
        mixed.section = 5;
        mixed.priority = 7;
        mixed.iflr = 2 + 16;

        QTest::newRow("status poll") << StatusPollRequest() << 1 << hex("01 04 07 D0 00 48 F0 B1");
        QTest::newRow("status poll to address 0 is not a broadcast")
            << StatusPollRequest() << 0 << hex("00 04 07 D0 00 48 F1 60");
        QTest::newRow("status poll to address 127")
            << StatusPollRequest() << 127 << hex("7F 04 07 D0 00 48 FA AF");
        QTest::newRow("reset alarms")
            << WriteRegisterRequest(CommandRegister, 0xCBD0) << 1 << hex("01 06 0F A1 CB D0 8D 90");
        QTest::newRow("reset alarms given as a negative 16-bit word")
            << WriteRegisterRequest(CommandRegister, -13360) << 1 << hex("01 06 0F A1 CB D0 8D 90");
        QTest::newRow("priority done given as -21154")
            << WriteRegisterRequest(CommandRegister, -21154) << 1 << hex("01 06 0F A1 AD 5E 26 54");
        QTest::newRow("control state, everything cleared")
            << ControlStateRequest(cleared) << 1
            << hex("01 17 0F AA 00 01 0F A2 00 05 0A 00 00 00 00 00 00 00 00 00 00 2A 21");
        QTest::newRow("control state: syren, next 3, section 5, priority 7, links 1 and 4")
            << ControlStateRequest(mixed) << 1
            << hex("01 17 0F AA 00 01 0F A2 00 05 0A 80 00 35 07 00 00 00 00 00 12 18 2F");
        QTest::newRow("param read of 100 bytes asks for 80")
            << ParamReadRequest(0x0123, 100) << 1 << hex("01 64 01 23 50 4E 3C");
        QTest::newRow("param read keeps the low 16 address bits")
            << ParamReadRequest(0x12345, 2) << 1 << hex("01 64 23 45 02 44 6B");
        QTest::newRow("param write of two bytes")
            << ParamWriteRequest(0x0010, 0x1234, 2) << 1 << hex("01 65 00 10 02 12 34 AA 42");
        QTest::newRow("param write of six bytes writes four")
            << ParamWriteRequest(0x0010, 0x12345678, 6) << 1
            << hex("01 65 00 10 04 12 34 56 78 49 13");
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

    void controlStateFieldsStayInTheirBytes_data()
    {
        QTest::addColumn<int>("nextSection");
        QTest::addColumn<int>("section");
        QTest::addColumn<int>("priority");
        QTest::addColumn<QByteArray>("register4003");
        QTest::newRow("no selection anywhere") << -1 << -1 << -1 << hex("00 00");
        QTest::newRow("section too large cannot reach next section")
            << 0 << 200 << 0 << hex("0F 00");
        QTest::newRow("priority too large") << 7 << 7 << 1000 << hex("77 FF");
    }
    void controlStateFieldsStayInTheirBytes()
    {
        QFETCH(int, nextSection);
        QFETCH(int, section);
        QFETCH(int, priority);
        QFETCH(QByteArray, register4003);
        ControlState s;
        s.nextSection = nextSection;
        s.section = section;
        s.priority = priority;
        QCOMPARE(slotBytes(ControlStateRequest(s)).mid(13, 2).toHex(' '), register4003.toHex(' '));
    }

    void paramRunWrite()
    {
        QByteArray data;
        for (int i = 0; i < 100; ++i)
            data.append(char(i));
        const RequestSlot run = ParamRunWriteRequest(0x0102, data);
        QCOMPARE(run.last, 84);
        QCOMPARE(slotBytes(run), hex("00 65 01 02 50") + data.left(80));
        QVERIFY(!ParamRunWriteRequest(0x0102, QByteArray()).isValid());
        QVERIFY(BuildTxFrame(ParamRunWriteRequest(0x0102, QByteArray()), 1).isEmpty());
    }

    void invalidSlotsGiveNoFrame()
    {
        RequestSlot slot;
        for (int last : {-5, -1, 0, RequestSlot::Capacity, std::numeric_limits<int>::max()}) {
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
        QTest::newRow("-1 top byte") << qint64(-1) << 3 << 0xFF;
        QTest::newRow("int32 min top byte")
            << qint64(std::numeric_limits<qint32>::min()) << 3 << 0x80;
        QTest::newRow("0x12345678 byte 2") << qint64(0x12345678) << 2 << 0x34;
        QTest::newRow("0x12345678 byte 3") << qint64(0x12345678) << 3 << 0x12;
        QTest::newRow("k 4 gives 0") << qint64(-1) << 4 << 0;
        QTest::newRow("k -1 gives 0") << qint64(-1) << -1 << 0;
        QTest::newRow("k huge gives 0") << qint64(-1) << std::numeric_limits<int>::max() << 0;
        QTest::newRow("int64 max keeps its low 32 bits")
            << std::numeric_limits<qint64>::max() << 3 << 0xFF;
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

    void readers_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("n");
        QTest::addColumn<qint64>("uint");
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("signedWord");
        QTest::addColumn<double>("dword");
        QTest::newRow("all ones, 4 bytes is the -1 pattern")
            << hex("FF FF FF FF") << 3 << 3 << 4 << qint64(-1) << 0xFFFF << -1 << 4294967295.0;
        QTest::newRow("largest positive 4-byte value")
            << hex("7F FF FF FF") << 0 << 0 << 4 << qint64(0x7FFFFFFF) << 0x7FFF << 32767
            << 2147483647.0;
        QTest::newRow("2^31 as a pattern")
            << hex("80 00 00 00") << 0 << 0 << 4 << qint64(std::numeric_limits<qint32>::min())
            << 0x8000 << -32768 << 2147483648.0;
        QTest::newRow("n 0 reads one byte") << hex("12 34") << 0 << 0 << 0 << qint64(0x12) << 0x1234
                                            << 0x1234 << double(0x12340000);
        QTest::newRow("n 9 reads four bytes")
            << hex("01 02 03 04 05") << 0 << 0 << 9 << qint64(0x01020304) << 0x0102 << 0x0102
            << double(0x01020304);
        QTest::newRow("-10 as signed word") << hex("FF F6") << 10 << 10 << 2 << qint64(0xFFF6)
                                            << 0xFFF6 << -10 << double(0xFFF60000u);
        QTest::newRow("last register ends at 260")
            << hex("AB CD EF 12") << 257 << 257 << 4 << qint64(0xABCDEF12) - (qint64(1) << 32)
            << 0xABCD << int(0xABCD) - 65536 << double(0xABCDEF12u);
        QTest::newRow("reading past the array gives zeros")
            << hex("AB") << 260 << 260 << 4 << qint64(0xAB000000) - (qint64(1) << 32) << 0xAB00
            << int(0xAB00) - 65536 << double(0xAB000000u);
        QTest::newRow("before the array gives zeros")
            << hex("AB CD") << 0 << -1 << 2 << qint64(0xAB) << 0xAB << 0xAB << double(0xABCD00);
        QTest::newRow("index near int max does not overflow")
            << hex("AB") << 0 << std::numeric_limits<int>::max() << 4 << qint64(0) << 0 << 0 << 0.0;
    }
    void readers()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, at);
        QFETCH(int, start);
        QFETCH(int, n);
        QFETCH(qint64, uint);
        QFETCH(int, word);
        QFETCH(int, signedWord);
        QFETCH(double, dword);
        const RxBuffer rx = bufferWith(bytes, at);
        QCOMPARE(qint64(rx.RxUInt(start, n)), uint);
        QCOMPARE(rx.RxWord(start), word);
        QCOMPARE(rx.RxSignedWord(start), signedWord);
        QCOMPARE(rx.RxDWord(start), dword);
        QCOMPARE(rx.RxDWordBits(start), quint32(dword));
    }

    void crcCheckOfReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("good");
        QTest::newRow("3 bytes, CRC over the first byte") << hex("01 7E 80") << 3 << true;
        QTest::newRow("3 bytes, CRC bytes swapped") << hex("01 80 7E") << 3 << false;
        QTest::newRow("2 bytes are never a reply") << hex("7E 80") << 2 << false;
        QTest::newRow("status poll echo") << hex("01 04 07 D0 00 48 F0 B1") << 8 << true;
        QTest::newRow("count beyond the buffer") << hex("01 7E 80") << 300 << false;
        QTest::newRow("negative count") << hex("01 7E 80") << -7 << false;
    }
    void crcCheckOfReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, count);
        QFETCH(bool, good);
        RxBuffer rx = bufferWith(reply, 0);
        rx.count = count;
        QCOMPARE(rx.crcGood(), good);
    }

    void holdsIsBoundedByWhatArrived()
    {
        const RxBuffer rx = bufferWith(QByteArray(149, '\x11'), 0);
        QVERIFY(rx.holds(0, 149));
        QVERIFY(rx.holds(147, 2));
        QVERIFY(!rx.holds(148, 2));
        QVERIFY(!rx.holds(-1, 1));
        QVERIFY(!rx.holds(0, -1));
        QVERIFY(!rx.holds(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()));
        RxBuffer lying = rx;
        lying.count = 100000;
        QVERIFY(!lying.holds(0, RxBuffer::Capacity));
    }

    // Random replies and random positions: every reader agrees with a model in which bytes
    // outside the array are 0, whatever the count says.
    void randomRepliesAreReadWithinBounds()
    {
        std::mt19937 gen(20240611);
        std::uniform_int_distribution<int> byte(0, 255);
        std::uniform_int_distribution<int> count(-10, 300);
        std::uniform_int_distribution<int> index(-8, RxBuffer::Capacity + 8);
        std::uniform_int_distribution<int> width(-2, 6);
        for (int round = 0; round < 3000; ++round) {
            RxBuffer rx;
            for (auto &b : rx.bytes)
                b = quint8(byte(gen));
            rx.count = count(gen);
            const bool framed = rx.count >= 3 && rx.count <= RxBuffer::MaxCount;
            if (framed && round % 2 == 0) {
                const quint16 c = referenceCrc(rx.bytes.data(), rx.count - 2);
                rx.bytes[size_t(rx.count - 2)] = quint8(c & 0xFF);
                rx.bytes[size_t(rx.count - 1)] = quint8(c >> 8);
            }
            const bool expectGood = framed && referenceCrc(rx.bytes.data(), rx.count - 2) ==
                                                  (rx.bytes[size_t(rx.count - 2)] |
                                                   rx.bytes[size_t(rx.count - 1)] << 8);
            QCOMPARE(rx.crcGood(), expectGood);

            const int i = index(gen);
            const int n = width(gen);
            quint32 model = 0;
            for (int k = 0; k < qBound(1, n, 4); ++k)
                model = (model << 8) | quint32(referenceByte(rx, qint64(i) + k));
            QCOMPARE(quint32(rx.RxUInt(i, n)), model);
            QCOMPARE(rx.RxWord(i), referenceByte(rx, i) * 256 + referenceByte(rx, i + 1));
            QCOMPARE(rx.byte(i), quint8(referenceByte(rx, i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
