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

    QByteArray status() { return server.serve(request(4, "07D00048")).data(); }
    quint16 statusWord(int n)
    {
        const QByteArray d = status();
        return quint16(quint8(d.at(1 + 2 * n)) << 8 | quint8(d.at(2 + 2 * n)));
    }
};

} // namespace

class TstSimServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { SimServer::RegisterControllerFunctions(); }

    void controllerFunctionsAreFramed()
    {
        // Qt's RTU reader finds the end of a frame from these; a wrong size drops the request.
        QCOMPARE(QModbusRequest::calculateDataSize(request(100, "000031")), 3);
        QCOMPARE(QModbusRequest::calculateDataSize(request(101, "00400312")), 6);
        QCOMPARE(QModbusRequest::calculateDataSize(request(101, "0040")), -1);
    }

    void statusBlockIsTheWholeMap()
    {
        World w;
        const QByteArray d = w.status();
        QCOMPARE(d.size(), 1 + 144);
        QCOMPARE(quint8(d.at(0)), quint8(144));
        QCOMPARE(w.counters.requests[4], quint64(1));
    }

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
        QTest::newRow("param read past the end") << 100 << QByteArray("009202") << 2;
        QTest::newRow("param read of nothing") << 100 << QByteArray("000000") << 3;
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
        // Set, acknowledge, set again: three writes, the last repeating the first word.
        for (const char *word : {"F1A5", "AD5E", "F1A5"}) {
            const QModbusResponse r = w.server.serve(request(6, QByteArray("0FA1") + word));
            QCOMPARE(r.data(), QByteArray::fromHex(QByteArray("0FA1") + word));
        }
        QCOMPARE(w.counters.requests[6], quint64(3));
        const QModbusResponse code =
            w.server.serve(request(23, "0FAA00010FA200050A00000000000000000000"));
        QCOMPARE(code.data(), QByteArray::fromHex("02A500"));
        w.server.serve(request(6, "0FA1AD5E"));
        QCOMPARE(w.server.serve(request(23, "0FAA00010FA200050A00000000000000000000")).data(),
                 QByteArray::fromHex("020000"));
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

    void paramsReadAndWrite()
    {
        World w;
        QSignalSpy written(&w.server, &SimServer::memoryWritten);
        QSignalSpy address(&w.server, &SimServer::deviceAddressWritten);
        QCOMPARE(w.server.serve(request(100, "001502")).data(), QByteArray::fromHex("0015020FA0"));
        QCOMPARE(w.server.serve(request(101, "0034030A0B0C")).data(),
                 QByteArray::fromHex("0034030A0B0C"));
        QCOMPARE(written.count(), 1);
        QCOMPARE(address.count(), 0);
        QCOMPARE(w.memory.read(0x34, 3), QByteArray::fromHex("0A0B0C"));
        // A run over the device address reports it.
        w.server.serve(request(101, "0035020A0B"));
        QCOMPARE(address.count(), 0);
        w.server.serve(request(101, "0036020A09"));
        QCOMPARE(address.count(), 1);
        QCOMPARE(address.at(0).at(0).toInt(), 9);
    }

    void exceptionRules()
    {
        World w;
        w.server.addStandingException({100, 4});
        w.server.armException({4, 6});
        QCOMPARE(exceptionOf(w.server.serve(request(4, "07D00048"))), 6);
        QCOMPARE(exceptionOf(w.server.serve(request(4, "07D00048"))), 0);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(exceptionOf(w.server.serve(request(100, "000001"))), 4);
        QCOMPARE(w.counters.exception, quint64(3));
        QCOMPARE(w.counters.requests[100], quint64(2));
    }
};

QTEST_GUILESS_MAIN(TstSimServer)
#include "tst_simserver.moc"
