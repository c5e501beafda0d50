#include "sim/simserver.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vortan::sim;

namespace
{

QModbusRequest request(int fc, const QByteArray &hex)
{
    return QModbusRequest(QModbusPdu::FunctionCode(fc), QByteArray::fromHex(hex.data()));
}

int exceptionOf(const QModbusResponse &r)
{
    return r.isException() ? int(r.exceptionCode()) : 0;
}

struct World {
    ParamMemory memory;
    SimModel model{1, memory};
    SimCounters counters;
    SimServer server{model, memory, counters};

    // Register 4010 as function 23 reads it back while writing an idle control state.
    QByteArray priorityCode()
    {
        return server.serve(request(23, "0FAA00010FA200050A00000000000000000000")).data();
    }
    quint16 statusWord(int n)
    {
        const QByteArray d = server.serve(request(4, "07D00048")).data();
        return quint16(quint8(d.at(1 + 2 * n)) << 8 | quint8(d.at(2 + 2 * n)));
    }
};

} // namespace

class TstSimServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { SimServer::RegisterControllerFunctions(); }

    void refusals_data()
    {
        QTest::addColumn<int>("fc");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("exception");
        QTest::newRow("status beyond 2071") << 4 << QByteArray("07D00049") << 2;
        QTest::newRow("command to 4002") << 6 << QByteArray("0FA20001") << 2;
        QTest::newRow("23 reading 4001")
            << 23 << QByteArray("0FA100010FA200050A00000000000000000000") << 2;
        QTest::newRow("23 writing 4007")
            << 23 << QByteArray("0FAA00010FA300050A00000000000000000000") << 2;
        QTest::newRow("23 byte count wrong")
            << 23 << QByteArray("0FAA00010FA200050800000000000000000000") << 3;
        QTest::newRow("read holding registers") << 3 << QByteArray("0FA10001") << 1;
        QTest::newRow("write multiple registers") << 16 << QByteArray("0FA1000102ABCD") << 1;
        QTest::newRow("param write short of data") << 101 << QByteArray("00100201") << 3;
        QTest::newRow("param write of 81 bytes")
            << 101 << (QByteArray("000051") + QByteArray(162, '0')) << 3;
    }
    void refusals()
    {
        QFETCH(int, fc);
        QFETCH(QByteArray, data);
        QFETCH(int, exception);
        World w;
        const auto before = w.memory.bytes();
        QSignalSpy written(&w.server, &SimServer::memoryWritten);
        QCOMPARE(exceptionOf(w.server.serve(request(fc, data))), exception);
        QVERIFY(w.memory.bytes() == before);
        QCOMPARE(written.count(), 0);
    }

    void everyCommandWriteCounts()
    {
        World w;
        // Set, acknowledge, set again, then words that leave the priority code alone: every
        // write is echoed and counts, a repeat of an earlier word included.
        for (const char *word : {"F1A5", "AD5E", "F1A5", "CBD0", "1234"}) {
            const QByteArray data = QByteArray("0FA1") + word;
            QCOMPARE(w.server.serve(request(6, data)).data(), QByteArray::fromHex(data));
        }
        QCOMPARE(w.counters.requests[6], quint64(5));
        QCOMPARE(w.priorityCode(), QByteArray::fromHex("02A500"));
        w.server.serve(request(6, "0FA1AD5E"));
        QCOMPARE(w.priorityCode(), QByteArray::fromHex("020000"));
    }

    void controlStateReachesTheModel()
    {
        World w;
        // 4002 = load, 4003 = next section 3, section 5, priority 0, 4006 = members 1 and 4.
        w.server.serve(request(23, "0FAA00010FA200050A00023500000000000012"));
        QCOMPARE(w.statusWord(Status::Vfsf), quint16(0x3500));
        QCOMPARE(w.statusWord(Status::Vfsf + 1), quint16(0x0002));
        QCOMPARE(w.statusWord(Status::Cf1), quint16(0x0012));
        QVERIFY(w.statusWord(Status::ControlFlags + 1) & (1u << 7));
    }

    // A write reports the device address only when its run covers byte 55.
    void deviceAddressWriteIsReported()
    {
        World w;
        QSignalSpy address(&w.server, &SimServer::deviceAddressWritten);
        QCOMPARE(w.server.serve(request(101, "0035020A0B")).data(),
                 QByteArray::fromHex("0035020A0B"));
        QCOMPARE(address.count(), 0);
        w.server.serve(request(101, "0036020A09"));
        QCOMPARE(address.count(), 1);
        QCOMPARE(address.at(0).at(0).toInt(), 9);
        w.server.serve(request(101, "003801FF"));
        QCOMPARE(address.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TstSimServer)
#include "tst_simserver.moc"
