#include "modbus/exchangecycle.h"
#include "modbus/requestqueue.h"

#include <QtTest>

#include <memory>

using namespace vortan;

namespace
{

// Parameter reads with distinct addresses tell the requests apart after a trip round the ring.
int addressOf(const RequestSlot &slot)
{
    return slot.bytes[2] * 256 + slot.bytes[3];
}

// Moves both indices to `at` with an empty ring.
std::unique_ptr<RequestQueue> queueAt(int at)
{
    auto queue = std::make_unique<RequestQueue>();
    for (int i = 0; i < at; ++i) {
        EnqueueParamRead(*queue, 0, 1);
        queue->AdvanceReadIndex();
    }
    return queue;
}

} // namespace

class TestRequestQueue : public QObject
{
    Q_OBJECT

private slots:
    void indicesWrapFrom511To0()
    {
        const auto queue = queueAt(511);
        QVERIFY(queue->isEmpty());
        QVERIFY(EnqueueParamRead(*queue, 1000, 1));
        QVERIFY(EnqueueParamRead(*queue, 1001, 1));
        QCOMPARE(queue->writeIndex(), quint16(1));
        QCOMPARE(queue->waiting(), 2);
        QCOMPARE(addressOf(queue->slotAt(-1)), 1000);
        QCOMPARE(addressOf(queue->slotAt(512)), 1001);
        QCOMPARE(addressOf(queue->inFlight()), 1000);
        queue->AdvanceReadIndex();
        QCOMPARE(queue->readIndex(), quint16(0));
        QCOMPARE(addressOf(queue->inFlight()), 1001);
    }

    // Starts mid-ring so the full ring spans the wrap from 511 to 0.
    void fullRingRefusesAndLosesNothing()
    {
        const auto queue = queueAt(300);
        for (int i = 0; i < RequestQueue::MaxWaiting; ++i)
            QVERIFY2(EnqueueParamRead(*queue, i, 1), qPrintable(QString::number(i)));
        const quint16 write = queue->writeIndex();
        QVERIFY(!EnqueueParamRead(*queue, 9999, 1));
        QVERIFY(!EnqueueParamWrite(*queue, 9999, 1, 1));
        QVERIFY(!EnqueuePriorityDone(*queue));
        QVERIFY(!EnqueueCommand(*queue, QStringLiteral("&HCBD0")));
        queue->AdvanceWriteIndex();
        QCOMPARE(queue->writeIndex(), write);
        for (int i = 0; i < RequestQueue::MaxWaiting; ++i) {
            QCOMPARE(addressOf(queue->inFlight()), i);
            queue->AdvanceReadIndex();
        }
        QVERIFY(queue->isEmpty());
    }

    void malformedRequestsAreRefused()
    {
        auto queue = std::make_unique<RequestQueue>();
        RequestSlot slot = StatusPollRequest();
        for (int last : {-1, 0, RequestSlot::Capacity}) {
            slot.last = last;
            QVERIFY(!queue->enqueue(slot));
        }
        QVERIFY(!queue->enqueue(ParamRunWriteRequest(0x10, QByteArray())));
        QVERIFY(queue->isEmpty());
    }

    // What each producer leaves in the slot (byte 0 is the address place); no bytes: refused.
    // A call other than read, write and done is the tag of a command button.
    void producers_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("read of 100 bytes asks for 80")
            << "read" << QByteArray::fromHex("00 64 01 23 50");
        QTest::newRow("write of 6 bytes writes 4")
            << "write" << QByteArray::fromHex("00 65 01 23 04 89 AB CD EF");
        QTest::newRow("priority done") << "done" << QByteArray::fromHex("00 06 0F A1 AD 5E");
        QTest::newRow("reset alarms") << "&HCBD0" << QByteArray::fromHex("00 06 0F A1 CB D0");
        QTest::newRow("decimal tag") << "52176" << QByteArray::fromHex("00 06 0F A1 CB D0");
        QTest::newRow("tag wider than the register") << "&H1CBD0" << QByteArray();
        QTest::newRow("tag below the register") << "-40000" << QByteArray();
    }
    void producers()
    {
        QFETCH(QString, call);
        QFETCH(QByteArray, bytes);
        auto queue = std::make_unique<RequestQueue>();
        bool accepted = false;
        if (call == "read")
            accepted = EnqueueParamRead(*queue, 0x0123, 100);
        else if (call == "write")
            accepted = EnqueueParamWrite(*queue, 0x0123, qint32(0x89ABCDEF), 6);
        else if (call == "done")
            accepted = EnqueuePriorityDone(*queue);
        else
            accepted = EnqueueCommand(*queue, call);
        QCOMPARE(accepted, !bytes.isEmpty());
        QCOMPARE(queue->waiting(), accepted ? 1 : 0);
        const RequestSlot &slot = queue->inFlight();
        if (accepted)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(slot.bytes.data()), slot.last + 1),
                     bytes);
    }
};

QTEST_GUILESS_MAIN(TestRequestQueue)
#include "tst_requestqueue.moc"
