#include "modbus/exchangecycle.h"
#include "modbus/requestqueue.h"

#include <QtTest>

#include <memory>

using namespace vortan;

namespace
{

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray queued(const RequestSlot &slot)
{
    QByteArray out;
    for (int i = 0; i <= slot.last; ++i)
        out.append(char(slot.bytes[size_t(i)]));
    return out;
}

// Parameter reads with distinct addresses tell the requests apart after a trip round the ring.
int addressOf(const RequestSlot &slot)
{
    return slot.bytes[2] * 256 + slot.bytes[3];
}

} // namespace

class TestRequestQueue : public QObject
{
    Q_OBJECT

private slots:
    void indicesWrapFrom511To0()
    {
        auto queue = std::make_unique<RequestQueue>();
        for (int i = 0; i < 511; ++i) {
            QVERIFY(EnqueueParamRead(*queue, i, 1));
            queue->AdvanceReadIndex();
        }
        QCOMPARE(queue->writeIndex(), quint16(511));
        QVERIFY(queue->isEmpty());

        QVERIFY(EnqueueParamRead(*queue, 1000, 1));
        QVERIFY(EnqueueParamRead(*queue, 1001, 1));
        QCOMPARE(queue->writeIndex(), quint16(1));
        QCOMPARE(queue->waiting(), 2);
        QCOMPARE(addressOf(queue->slotAt(511)), 1000);
        QCOMPARE(addressOf(queue->slotAt(0)), 1001);
        QCOMPARE(addressOf(queue->slotAt(-1)), 1000);
        QCOMPARE(addressOf(queue->slotAt(512)), 1001);

        QCOMPARE(addressOf(queue->inFlight()), 1000);
        queue->AdvanceReadIndex();
        QCOMPARE(queue->readIndex(), quint16(0));
        QCOMPARE(addressOf(queue->inFlight()), 1001);
    }

    void fullRingRefusesAndLosesNothing()
    {
        auto queue = std::make_unique<RequestQueue>();
        // Start mid-ring so the full ring spans the wrap from 511 to 0.
        for (int i = 0; i < 300; ++i) {
            QVERIFY(EnqueueParamRead(*queue, 0, 1));
            queue->AdvanceReadIndex();
        }
        for (int i = 0; i < RequestQueue::MaxWaiting; ++i)
            QVERIFY2(EnqueueParamRead(*queue, i, 1), qPrintable(QString::number(i)));
        const quint16 write = queue->writeIndex();

        QVERIFY(!EnqueueParamRead(*queue, 9999, 1));
        QVERIFY(!EnqueueParamWrite(*queue, 9999, 1, 1));
        QVERIFY(!EnqueuePriorityDone(*queue));
        QVERIFY(!EnqueueCommand(*queue, QStringLiteral("&HCBD0")));
        queue->AdvanceWriteIndex();
        QCOMPARE(queue->writeIndex(), write);
        QCOMPARE(queue->waiting(), RequestQueue::MaxWaiting);

        for (int i = 0; i < RequestQueue::MaxWaiting; ++i) {
            QCOMPARE(addressOf(queue->inFlight()), i);
            queue->AdvanceReadIndex();
        }
        QVERIFY(queue->isEmpty());
    }

    void releasingWithNothingInFlightChangesNothing()
    {
        auto queue = std::make_unique<RequestQueue>();
        queue->AdvanceReadIndex();
        QVERIFY(queue->isEmpty());
        QCOMPARE(queue->waiting(), 0);
        QVERIFY(EnqueuePriorityDone(*queue));
        queue->AdvanceReadIndex();
        queue->AdvanceReadIndex();
        QCOMPARE(queue->readIndex(), queue->writeIndex());
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

    void slotKeepsOnlyTheRequestAndAnEmptyAddressPlace()
    {
        auto queue = std::make_unique<RequestQueue>();
        RequestSlot dirty = StatusPollRequest();
        dirty.bytes[0] = 0x55;
        QVERIFY(queue->enqueue(dirty));
        QCOMPARE(queue->inFlight().bytes[0], quint8(0));
        QCOMPARE(queue->inFlight().last, 5);
    }

    void producers_data()
    {
        QTest::addColumn<int>("producer");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<qint32>("address");
        QTest::addColumn<qint32>("value");
        QTest::addColumn<int>("n");
        QTest::addColumn<QByteArray>("bytes");
        enum { Read, Write, Done, Command };
        QTest::newRow("read of 100 bytes asks for 80")
            << int(Read) << QString() << 0x0123 << 0 << 100 << hex("00 64 01 23 50");
        QTest::newRow("read of 0 bytes asks for 1")
            << int(Read) << QString() << 0x0123 << 0 << 0 << hex("00 64 01 23 01");
        QTest::newRow("write of 2 bytes")
            << int(Write) << QString() << 0x0042 << 0x1234 << 2 << hex("00 65 00 42 02 12 34");
        QTest::newRow("write of 6 bytes writes 4")
            << int(Write) << QString() << 0x0042 << qint32(0x89ABCDEF) << 6
            << hex("00 65 00 42 04 89 AB CD EF");
        QTest::newRow("write of 1 byte keeps the low byte")
            << int(Write) << QString() << 0x0042 << 0x1234 << 1 << hex("00 65 00 42 01 34");
        QTest::newRow("priority done")
            << int(Done) << QString() << 0 << 0 << 0 << hex("00 06 0F A1 AD 5E");
        QTest::newRow("reset alarms")
            << int(Command) << QStringLiteral("&HCBD0") << 0 << 0 << 0 << hex("00 06 0F A1 CB D0");
        QTest::newRow("highest priority")
            << int(Command) << QStringLiteral("&HF1A5") << 0 << 0 << 0 << hex("00 06 0F A1 F1 A5");
        QTest::newRow("priority set done")
            << int(Command) << QStringLiteral("&HAD5E") << 0 << 0 << 0 << hex("00 06 0F A1 AD 5E");
        QTest::newRow("decimal tag")
            << int(Command) << QStringLiteral("52176") << 0 << 0 << 0 << hex("00 06 0F A1 CB D0");
        QTest::newRow("tag wider than the register")
            << int(Command) << QStringLiteral("&H1CBD0") << 0 << 0 << 0 << QByteArray();
        QTest::newRow("tag below the register")
            << int(Command) << QStringLiteral("-40000") << 0 << 0 << 0 << QByteArray();
    }
    void producers()
    {
        QFETCH(int, producer);
        QFETCH(QString, tag);
        QFETCH(qint32, address);
        QFETCH(qint32, value);
        QFETCH(int, n);
        QFETCH(QByteArray, bytes);
        auto queue = std::make_unique<RequestQueue>();
        bool accepted = false;
        switch (producer) {
        case 0:
            accepted = EnqueueParamRead(*queue, address, n);
            break;
        case 1:
            accepted = EnqueueParamWrite(*queue, address, value, n);
            break;
        case 2:
            accepted = EnqueuePriorityDone(*queue);
            break;
        default:
            accepted = EnqueueCommand(*queue, tag);
        }
        QCOMPARE(accepted, !bytes.isEmpty());
        QCOMPARE(queue->waiting(), accepted ? 1 : 0);
        if (accepted)
            QCOMPARE(queued(queue->inFlight()).toHex(' '), bytes.toHex(' '));
    }
};

QTEST_GUILESS_MAIN(TestRequestQueue)
#include "tst_requestqueue.moc"
