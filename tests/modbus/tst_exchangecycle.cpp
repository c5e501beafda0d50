#include "modbus/exchangecycle.h"

#include "fakeseriallink.h"

#include <QtTest>

#include <functional>
#include <memory>
#include <random>

using namespace vortan;
using vortan::test::FakeSerialLink;

namespace
{

const QString NoReply = QString::fromUtf8("Ошибка обмена: Нет ответа от контроллера Вортан");
const QString BadCrc = QString::fromUtf8("Ошибка обмена: Несовпадение КС");
const QString Good = QString::fromUtf8("Связь с контроллером Вортан установлена");

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QByteArray StatusPollFrame = hex("01 04 07 D0 00 48 F0 B1");
const QByteArray ResetAlarmsFrame = hex("01 06 0F A1 CB D0 8D 90");

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Crc16Modbus(body);
    body.append(char(crc & 0xFF));
    body.append(char(crc >> 8));
    return body;
}

const QByteArray AnyGoodReply = withCrc(hex("01 17 02 00 00"));

QByteArray statusReply()
{
    QByteArray body = hex("01 04 90");
    for (int i = 0; i < 144; ++i)
        body.append(char(i * 7));
    return withCrc(body);
}

class FakeHost : public CycleHost
{
public:
    QStringList statuses;
    ControlState state;
    int address = 1;
    int decoded = 0;
    std::function<void()> onDecode;

    void setStatusText(const QString &text) override { statuses.append(text); }
    void decodeReply() override
    {
        ++decoded;
        if (onDecode)
            onDecode();
    }
    ControlState controlState() const override { return state; }
    int slaveAddress() const override { return address; }
};

struct World {
    RequestQueue queue;
    RxBuffer rx;
    FakeSerialLink link;
    FakeHost host;
    ExchangeCycle cycle{queue, rx, link, host};

    explicit World(bool open = true) { link.setOpen(open); }

    void tick(const QByteArray &reply = {})
    {
        link.feed(reply);
        cycle.ExchangeTick();
    }
    int function(int frame) const { return quint8(link.written.at(frame).at(1)); }
};

} // namespace

class TestExchangeCycle : public QObject
{
    Q_OBJECT

private slots:
    void firstTickReportsNoReplyAndSendsTheStatusPoll()
    {
        auto w = std::make_unique<World>();
        w->tick();
        QCOMPARE(w->host.statuses, QStringList{NoReply});
        QCOMPARE(w->link.written, QList<QByteArray>{StatusPollFrame});
        QCOMPARE(w->host.decoded, 0);
    }

    void idlePollsAlternateOnePerAnsweredTick()
    {
        auto w = std::make_unique<World>();
        w->host.state.controlWord = 0x8000;
        w->tick();
        for (int i = 1; i < 8; ++i) {
            w->tick(AnyGoodReply);
            QCOMPARE(w->host.statuses.last(), Good);
            QCOMPARE(w->queue.waiting(), 1);
        }
        QCOMPARE(w->link.written.size(), 8);
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(w->function(i), i % 2 == 0 ? 4 : 23);
            if (i % 2 == 1)
                QCOMPARE(w->link.written.at(i).mid(11, 2), hex("80 00"));
        }
        QCOMPARE(w->host.decoded, 7);
    }

    void controlStateIsTakenWhenThePollIsGenerated()
    {
        auto w = std::make_unique<World>();
        w->tick();
        w->host.state.priority = 7;
        w->tick(AnyGoodReply);
        w->host.state.priority = 2;
        w->tick();
        QCOMPARE(w->function(2), 23);
        QCOMPARE(w->link.written.at(2), w->link.written.at(1));
        QCOMPARE(quint8(w->link.written.at(1).at(14)), quint8(7));
        w->tick(AnyGoodReply);
        w->tick(AnyGoodReply);
        QCOMPARE(w->function(4), 23);
        QCOMPARE(quint8(w->link.written.at(4).at(14)), quint8(2));
    }

    void queuedCommandGoesFirstAndKeepsThePollTurn()
    {
        auto w = std::make_unique<World>();
        w->tick();
        QVERIFY(EnqueueCommand(w->queue, QStringLiteral("&HCBD0")));
        w->tick(AnyGoodReply);
        QCOMPARE(w->link.written.last(), ResetAlarmsFrame);
        w->tick(AnyGoodReply);
        QCOMPARE(w->function(2), 23);
    }

    void failedExchangeRepeatsAndHoldsBackTheQueue_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QByteArray corrupted = AnyGoodReply;
        corrupted[corrupted.size() - 1] = char(corrupted.back() ^ 0x01);
        QTest::newRow("silence") << QByteArray() << NoReply;
        QTest::newRow("one byte") << hex("01") << NoReply;
        QTest::newRow("two bytes") << hex("01 04") << NoReply;
        QTest::newRow("bad CRC") << corrupted << BadCrc;
        QTest::newRow("first half of a status reply") << statusReply().left(100) << BadCrc;
    }
    void failedExchangeRepeatsAndHoldsBackTheQueue()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        auto w = std::make_unique<World>();
        w->tick();
        QVERIFY(EnqueueCommand(w->queue, QStringLiteral("&HCBD0")));
        for (int i = 0; i < 50; ++i)
            w->tick(reply);
        QCOMPARE(w->link.written, QList<QByteArray>(51, StatusPollFrame));
        QCOMPARE(w->host.statuses.size(), 51);
        QCOMPARE(w->host.statuses.last(), status);
        QCOMPARE(w->host.decoded, 0);
        QCOMPARE(w->queue.waiting(), 2);

        w->tick(AnyGoodReply);
        QCOMPARE(w->link.written.last(), ResetAlarmsFrame);
    }

    void threeBytesWithAGoodCrcAreAReply()
    {
        auto w = std::make_unique<World>();
        w->tick();
        int seenCount = -1;
        w->host.onDecode = [&] { seenCount = w->rx.count; };
        w->tick(hex("01 7E 80"));
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(seenCount, 3);
        QCOMPARE(w->function(1), 23);
    }

    void longBurstKeeps260Bytes_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QString>("status");
        QByteArray body;
        for (int i = 0; i < 258; ++i)
            body.append(char(i));
        QTest::newRow("CRC in bytes 258-259, 40 more dropped")
            << withCrc(body) + QByteArray(40, '\xEE') << Good;
        QTest::newRow("300-byte frame with its CRC at the end")
            << withCrc(body + QByteArray(40, '\xEE')) << BadCrc;
    }
    void longBurstKeeps260Bytes()
    {
        QFETCH(QByteArray, burst);
        QFETCH(QString, status);
        QCOMPARE(burst.size(), 300);
        auto w = std::make_unique<World>();
        w->tick();
        w->tick(burst);
        QCOMPARE(w->rx.count, 260);
        QCOMPARE(w->host.statuses.last(), status);
        QCOMPARE(w->rx.bytes[259], quint8(burst[259]));
        QCOMPARE(w->rx.bytes[260], quint8(0));
        QCOMPARE(w->link.bytesWaiting(), 0);
        w->tick();
        QCOMPARE(w->host.statuses.last(), NoReply);
    }

    void replySplitOverTwoTicksIsJudgedByHalves()
    {
        auto w = std::make_unique<World>();
        w->tick();
        const QByteArray reply = statusReply();
        w->tick(reply.left(100));
        w->tick(reply.mid(100));
        QCOMPARE(w->host.statuses.mid(1), (QStringList{BadCrc, BadCrc}));
        QCOMPARE(w->link.written, QList<QByteArray>(3, StatusPollFrame));
        w->tick(reply);
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(w->rx.count, StatusReplyLength);
    }

    void bytesArrivingWhileDrainingCountForThisTick()
    {
        auto w = std::make_unique<World>();
        w->tick();
        const QByteArray reply = statusReply();
        w->link.arrivingWhileRead = reply.mid(10);
        w->tick(reply.left(10));
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(w->rx.count, StatusReplyLength);
    }

    void closedPortSendsNothingAndKeepsTheRequest()
    {
        auto w = std::make_unique<World>(false);
        for (int i = 0; i < 3; ++i)
            w->tick();
        QVERIFY(w->link.written.isEmpty());
        QCOMPARE(w->host.statuses, QStringList(3, NoReply));
        QCOMPARE(w->cycle.lastFrame(), StatusPollFrame);
        QCOMPARE(w->queue.waiting(), 1);

        w->link.setOpen(true);
        w->tick();
        w->tick(AnyGoodReply);
        QCOMPARE(w->link.written.size(), 2);
        QCOMPARE(w->link.written.at(0), StatusPollFrame);
        QCOMPARE(w->function(1), 23);
    }

    void requestQueuedByTheDispatchGoesOutInTheSameTick()
    {
        auto w = std::make_unique<World>();
        w->tick();
        w->host.onDecode = [&] { EnqueuePriorityDone(w->queue); };
        w->tick(AnyGoodReply);
        QCOMPARE(w->link.written.last(), hex("01 06 0F A1 AD 5E 26 54"));
        w->host.onDecode = nullptr;
        w->tick(AnyGoodReply);
        QCOMPARE(w->function(2), 23);
    }

    void quickClicksGoOutInOrderOnePerTick_data()
    {
        QTest::addColumn<QStringList>("tags");
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::newRow("one button three times")
            << QStringList(3, QStringLiteral("&HCBD0")) << QList<QByteArray>(3, ResetAlarmsFrame);
        QTest::newRow("three buttons")
            << QStringList{QStringLiteral("&HCBD0"), QStringLiteral("&HF1A5"),
                           QStringLiteral("&HAD5E")}
            << QList<QByteArray>{ResetAlarmsFrame, hex("01 06 0F A1 F1 A5 5E D7"),
                                 hex("01 06 0F A1 AD 5E 26 54")};
    }
    void quickClicksGoOutInOrderOnePerTick()
    {
        QFETCH(QStringList, tags);
        QFETCH(QList<QByteArray>, frames);
        auto w = std::make_unique<World>();
        w->tick();
        for (const QString &tag : tags)
            QVERIFY(EnqueueCommand(w->queue, tag));
        for (int i = 0; i < 4; ++i)
            w->tick(AnyGoodReply);
        QCOMPARE(w->link.written.mid(1, 3), frames);
        QCOMPARE(w->function(4), 23);
    }

    void goodReplyWithNothingInFlightReleasesNothing()
    {
        auto w = std::make_unique<World>();
        w->tick(AnyGoodReply);
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(w->queue.waiting(), 1);
        w->tick();
        QCOMPARE(w->link.written, QList<QByteArray>(2, StatusPollFrame));
    }

    void slaveAddressOfEveryFrame()
    {
        auto w = std::make_unique<World>();
        w->host.address = 0;
        w->tick();
        QCOMPARE(w->link.written.last(), hex("00 04 07 D0 00 48 F1 60"));
        w->host.address = -1;
        w->tick();
        w->tick();
        QCOMPARE(w->link.written.size(), 1);
        QCOMPARE(w->host.statuses.last(), NoReply);
        w->host.address = 1;
        w->tick();
        QCOMPARE(w->link.written.last(), StatusPollFrame);
    }

    void misbehavingLinkCannotHoldTheTick()
    {
        struct Silent : FakeSerialLink {
            int bytesWaiting() override { return 7; }
            int readByte() override { return -1; }
        };
        struct Endless : FakeSerialLink {
            int bytesWaiting() override { return 1; }
            int readByte() override { return 0x55; }
        };
        RequestQueue queue;
        RxBuffer rx;
        FakeHost host;
        Silent silent;
        silent.setOpen(true);
        ExchangeCycle(queue, rx, silent, host).ExchangeTick();
        QCOMPARE(host.statuses.last(), NoReply);
        Endless endless;
        endless.setOpen(true);
        ExchangeCycle(queue, rx, endless, host).ExchangeTick();
        QCOMPARE(rx.count, RxBuffer::MaxCount);
        QCOMPARE(host.statuses.last(), BadCrc);
    }

    // Random replies of every length: the verdict follows length and CRC, nothing is read
    // outside the buffer, and no byte is left for the next tick.
    void randomReplies()
    {
        auto w = std::make_unique<World>();
        w->host.onDecode = [&] {
            for (int i = -2; i <= RxBuffer::Capacity; ++i)
                w->rx.RxDWord(i);
        };
        std::mt19937 gen(4711);
        std::uniform_int_distribution<int> length(0, 300);
        std::uniform_int_distribution<int> byte(0, 255);
        w->tick();
        for (int round = 0; round < 1000; ++round) {
            QByteArray reply;
            const int n = length(gen);
            for (int i = 0; i < n; ++i)
                reply.append(char(byte(gen)));
            const bool framed = round % 2 == 0 && n >= 3 && n <= RxBuffer::MaxCount;
            if (framed)
                reply = withCrc(reply.left(n - 2));
            const int decodedBefore = w->host.decoded;
            w->tick(reply);
            QCOMPARE(w->rx.count, qMin(n, RxBuffer::MaxCount));
            QCOMPARE(w->host.statuses.last(), n < 3 ? NoReply : framed ? Good : BadCrc);
            QCOMPARE(w->host.decoded, decodedBefore + (framed ? 1 : 0));
            QCOMPARE(w->link.bytesWaiting(), 0);
            QCOMPARE(w->queue.waiting(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestExchangeCycle)
#include "tst_exchangecycle.moc"
