#include "modbus/exchangecycle.h"
#include "modbus/requestqueue.h"

#include <QtTest>

using namespace vortan;

namespace
{

// Parameter reads with distinct addresses tell the requests apart after a trip round the ring.
int addressOf(const RequestSlot &slot)
{
    return slot.bytes[2] * 256 + slot.bytes[3];
}

// Moves both indices to `at` with an empty ring.
void moveTo(RequestQueue &queue, int at)
{
    for (int i = 0; i < at; ++i) {
        EnqueueParamRead(queue, 0, 1);
        queue.AdvanceReadIndex();
    }
}

} // namespace

class TestRequestQueue : public QObject
{
    Q_OBJECT

private slots:
    void indicesWrapFrom511To0()
    {
        RequestQueue queue;
        moveTo(queue, 511);
        QVERIFY(queue.isEmpty());
        QVERIFY(EnqueueParamRead(queue, 1000, 1) && EnqueueParamRead(queue, 1001, 1));
        QCOMPARE(queue.writeIndex(), quint16(1));
        QCOMPARE(queue.waiting(), 2);
        QCOMPARE(addressOf(queue.slotAt(-1)), 1000);
        QCOMPARE(addressOf(queue.slotAt(512)), 1001);
        queue.AdvanceReadIndex();
        QCOMPARE(queue.readIndex(), quint16(0));
        QCOMPARE(addressOf(queue.inFlight()), 1001);
        queue.AdvanceReadIndex();
        queue.AdvanceReadIndex(); // releasing an empty queue must not invent 511 requests
        QVERIFY(queue.isEmpty());
    }

    // Starts mid-ring so the full ring spans the wrap from 511 to 0.
    void fullRingRefusesAndLosesNothing()
    {
        RequestQueue queue;
        moveTo(queue, 300);
        for (int i = 0; i < RequestQueue::MaxWaiting; ++i)
            QVERIFY2(EnqueueParamRead(queue, i, 1), qPrintable(QString::number(i)));
        const quint16 write = queue.writeIndex();
        QVERIFY(!EnqueueParamRead(queue, 9999, 1) && !EnqueueParamWrite(queue, 9999, 1, 1));
        QVERIFY(!EnqueuePriorityDone(queue) && !EnqueueCommand(queue, QStringLiteral("&HCBD0")));
        queue.AdvanceWriteIndex();
        QCOMPARE(queue.writeIndex(), write);
        for (int i = 0; i < RequestQueue::MaxWaiting; ++i) {
            QCOMPARE(addressOf(queue.inFlight()), i);
            queue.AdvanceReadIndex();
        }
        QVERIFY(queue.isEmpty());
    }

    void malformedRequestsAreRefused()
    {
        RequestQueue queue;
        RequestSlot slot = StatusPollRequest();
        for (int last : {-1, 0, RequestSlot::Capacity}) {
            slot.last = last;
            QVERIFY(!queue.enqueue(slot));
        }
        QVERIFY(!queue.enqueue(ParamRunWriteRequest(0x10, QByteArray())));
        QVERIFY(queue.isEmpty());
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
        RequestQueue queue;
        const bool accepted = call == "read"    ? EnqueueParamRead(queue, 0x0123, 100)
                              : call == "write" ? EnqueueParamWrite(queue, 0x0123, -0x76543211, 6)
                              : call == "done"  ? EnqueuePriorityDone(queue)
                                                : EnqueueCommand(queue, call);
        QCOMPARE(queue.waiting(), accepted ? 1 : 0);
        const RequestSlot &slot = queue.inFlight();
        QCOMPARE(accepted
                     ? QByteArray(reinterpret_cast<const char *>(slot.bytes.data()), slot.last + 1)
                     : QByteArray(),
                 bytes);
    }
};

QTEST_GUILESS_MAIN(TestRequestQueue)
#include "tst_requestqueue.moc"
