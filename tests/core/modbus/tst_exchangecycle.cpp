#include "modbus/exchangecycle.h"
#include "modbus/linkstats.h"

#include "fakeseriallink.h"

#include <QtTest>

#include <memory>

using namespace vortan;
using vortan::test::FakeSerialLink;

namespace
{

const QString NoReply = QStringLiteral("Ошибка обмена: Нет ответа от контроллера Вортан");
const QString BadCrc = QStringLiteral("Ошибка обмена: Несовпадение КС");
const QString Good = QStringLiteral("Связь с контроллером Вортан установлена");
const QString Stray = QStringLiteral("Ошибка обмена: Ответ не соответствует запросу");

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const QByteArray StatusPollFrame = hex("01 04 07 D0 00 48 F0 B1");
const QByteArray ResetAlarmsFrame = hex("01 06 0F A1 CB D0 8D 90");
const QByteArray PriorityDoneFrame = hex("01 06 0F A1 AD 5E 26 54");

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Crc16Modbus(body);
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

const QByteArray PriorityCodeReply = withCrc(hex("01 17 02 00 00"));

const QByteArray StatusReply = withCrc(hex("01 04 90") + QByteArray(144, '\x5A'));

// The controller's good answer to a request of the window's polls and commands.
QByteArray answerTo(const QByteArray &request)
{
    switch (quint8(request.at(1))) {
    case FnReadInput:
        return StatusReply;
    case FnReadWrite:
        return PriorityCodeReply;
    default:
        return request; // the echo of a command
    }
}

class FakeHost : public CycleHost
{
public:
    QStringList statuses;
    ControlState state;
    int address = 1;
    int decoded = 0;
    std::function<void()> onDecode = [] {};

    void setStatusText(const QString &text) override { statuses.append(text); }
    void decodeReply() override
    {
        ++decoded;
        onDecode();
    }
    int slaveAddress() const override { return address; }
};

struct World {
    RequestQueue queue;
    RxBuffer rx;
    FakeSerialLink link;
    FakeHost host;
    AlternatingPoll poll{[this] { return host.state; }};
    ExchangeCycle cycle{queue, rx, link, host, poll};
    LinkStats stats;

    World()
    {
        link.setOpen(true);
        cycle.addObserver(&stats);
    }
    QByteArray answer() const { return answerTo(link.written.last()); }

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

    std::unique_ptr<World> w;

private slots:
    void init() { w = std::make_unique<World>(); }

    // The first tick finds no reply and sends the status poll; then one poll per answered tick,
    // alternating. The control state is read when its poll is queued: a repeat resends those bytes.
    void idlePollsAlternateOnePerAnsweredTick()
    {
        w->tick();
        QCOMPARE(w->host.statuses, QStringList{NoReply});
        QCOMPARE(w->link.written, QList<QByteArray>{StatusPollFrame});
        for (int i = 1; i < 8; ++i) {
            w->host.state.priority = i;
            w->tick(w->answer());
            QCOMPARE(w->host.statuses.last(), Good);
        }
        w->host.state.priority = 0;
        w->tick();
        QCOMPARE(w->host.decoded, 7);
        QCOMPARE(w->link.written.size(), 9);
        for (int i = 0; i < 9; ++i) {
            QCOMPARE(w->function(i), i % 2 == 0 && i < 8 ? 4 : 23);
            if (i % 2 == 1)
                QCOMPARE(int(w->link.written.at(i).at(14)), qMin(i, 7));
        }
        QCOMPARE(w->link.written.at(8), w->link.written.at(7));
    }

    // Without a good reply the request in flight goes out again on every tick, without limit,
    // and the command queued behind it waits. A frame with a good CRC that answers another
    // request is never decoded; the statistics count it as such, and every resend as a repeat.
    void failedExchangeRepeatsAndHoldsBackTheQueue_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QByteArray corrupted = StatusReply;
        corrupted[corrupted.size() - 1] = char(corrupted.back() ^ 0x01);
        QTest::newRow("silence") << QByteArray() << NoReply;
        QTest::newRow("two bytes") << hex("01 04") << NoReply;
        QTest::newRow("bad CRC") << corrupted << BadCrc;
        QTest::newRow("three good bytes") << withCrc(hex("01")) << Stray;
        QTest::newRow("priority code for a status read") << PriorityCodeReply << Stray;
        QTest::newRow("command echo for a status read") << ResetAlarmsFrame << Stray;
        QTest::newRow("another slave's status block")
            << withCrc("\x02" + StatusReply.mid(1).chopped(2)) << Stray;
    }
    void failedExchangeRepeatsAndHoldsBackTheQueue()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        w->tick();
        QVERIFY(EnqueueCommand(w->queue, QStringLiteral("&HCBD0")));
        for (int i = 0; i < 50; ++i)
            w->tick(reply);
        QCOMPARE(w->link.written, QList<QByteArray>(51, StatusPollFrame));
        QCOMPARE(w->host.statuses.size(), 51);
        QCOMPARE(w->host.statuses.last(), status);
        QCOMPARE(w->host.decoded, 0);
        const LinkFigures f = w->stats.figures(0);
        QCOMPARE(f.stray, quint64(status == Stray ? 50 : 0));
        QCOMPARE(f.repeats, quint64(49));
        w->tick(StatusReply);
        QCOMPARE(w->link.written.last(), ResetAlarmsFrame);
    }

    // A request the dispatch of a reply queues goes out in the same tick.
    void requestQueuedByTheDispatchGoesOutAtOnce()
    {
        w->tick();
        int seenCount = -1;
        w->host.onDecode = [&] {
            seenCount = w->rx.count;
            EnqueuePriorityDone(w->queue);
        };
        w->tick(StatusReply);
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(seenCount, StatusReplyLength);
        QCOMPARE(w->link.written.last(), PriorityDoneFrame);
    }

    // 300 bytes in one tick: 260 are kept and judged (CRC over bytes 0..257), the rest dropped.
    void longBurstKeeps260Bytes_data()
    {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<QString>("status");
        QByteArray body;
        for (int i = 0; i < 258; ++i)
            body.append(char(i));
        QTest::newRow("CRC in bytes 258-259, 40 more dropped")
            << withCrc(body) + QByteArray(40, '\xEE') << Stray;
        QTest::newRow("300-byte frame with its CRC at the end")
            << withCrc(body + QByteArray(40, '\xEE')) << BadCrc;
    }
    void longBurstKeeps260Bytes()
    {
        QFETCH(QByteArray, burst);
        QFETCH(QString, status);
        w->tick();
        w->tick(burst);
        QCOMPARE(w->rx.count, 260);
        QCOMPARE(w->host.statuses.last(), status);
        QCOMPARE(w->rx.bytes[259], quint8(burst[259]));
        QCOMPARE(w->rx.bytes[260], quint8(0));
        w->tick();
        QCOMPARE(w->host.statuses.last(), NoReply);
    }

    void replySplitOverTwoTicksIsJudgedByHalves()
    {
        w->tick();
        w->tick(StatusReply.left(100));
        w->tick(StatusReply.mid(100));
        QCOMPARE(w->host.statuses.mid(1), (QStringList{BadCrc, BadCrc}));
        QCOMPARE(w->link.written, QList<QByteArray>(3, StatusPollFrame));
        // Bytes that arrive while the tick drains the line still belong to this tick.
        w->link.arrivingWhileRead = StatusReply.mid(10);
        w->tick(StatusReply.left(10));
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(w->rx.count, StatusReplyLength);
    }

    void closedPortSendsNothingAndKeepsTheRequest()
    {
        w->link.setOpen(false);
        for (int i = 0; i < 3; ++i)
            w->tick();
        QVERIFY(w->link.written.isEmpty());
        QCOMPARE(w->host.statuses, QStringList(3, NoReply));
        QCOMPARE(w->queue.waiting(), 1);
        w->link.setOpen(true);
        w->tick();
        w->tick(StatusReply);
        QCOMPARE(w->link.written.at(0), StatusPollFrame);
        QCOMPARE(w->function(1), 23);
    }

    // Queued commands go before the next poll and leave its turn alone.
    void quickClicksGoOutInOrderOnePerTick()
    {
        w->tick();
        for (const char *tag : {"&HCBD0", "&HF1A5", "&HAD5E"})
            QVERIFY(EnqueueCommand(w->queue, QString::fromLatin1(tag)));
        for (int i = 0; i < 4; ++i)
            w->tick(w->answer());
        QCOMPARE(w->link.written.mid(1, 3),
                 (QList<QByteArray>{ResetAlarmsFrame, hex("01 06 0F A1 F1 A5 5E D7"),
                                    PriorityDoneFrame}));
        QCOMPARE(w->function(4), 23);
    }

    // Frames carry the cmb_slad index, 0 included; with no selection nothing is sent. A frame
    // before anything was sent answers nothing and releases nothing: the first poll still goes
    // out.
    void slaveAddressOfEveryFrame()
    {
        w->host.address = 0;
        w->tick(StatusReply);
        QCOMPARE(w->host.statuses, QStringList{Stray});
        QCOMPARE(w->link.written, QList<QByteArray>{hex("00 04 07 D0 00 48 F1 60")});
        w->host.address = -1;
        w->tick();
        QCOMPARE(w->link.written.size(), 1);
        w->host.address = 1;
        w->tick();
        QCOMPARE(w->link.written.last(), StatusPollFrame);
    }

    // Without an operator nothing is written: the headless policies never send 23 or 6 of
    // their own, and the quiet one sends only what is queued.
    void headlessPolicies()
    {
        StatusOnlyPoll statusOnly;
        QuietPoll quiet;
        RequestSlot poll;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(statusOnly.nextPoll(poll) && !quiet.nextPoll(poll));
            QCOMPARE(BuildTxFrame(poll, 1), StatusPollFrame);
        }
        ExchangeCycle cycle(w->queue, w->rx, w->link, w->host, quiet);
        cycle.ExchangeTick();
        QVERIFY(w->link.written.isEmpty());
        QVERIFY(EnqueueCommand(w->queue, QStringLiteral("&HCBD0")));
        cycle.ExchangeTick();
        QCOMPARE(w->link.written, QList<QByteArray>{ResetAlarmsFrame});
    }

    void misbehavingLinkCannotHoldTheTick()
    {
        struct Silent : FakeSerialLink {
            int bytesWaiting() override { return 7; }
            int readByte() override { return -1; }
        } silent;
        struct Endless : FakeSerialLink {
            int bytesWaiting() override { return 1; }
            int readByte() override { return 0x55; }
        } endless;
        ExchangeCycle(w->queue, w->rx, silent, w->host, w->poll).ExchangeTick();
        QCOMPARE(w->host.statuses.last(), NoReply);
        ExchangeCycle(w->queue, w->rx, endless, w->host, w->poll).ExchangeTick();
        QCOMPARE(w->rx.count, RxBuffer::MaxCount);
        QCOMPARE(w->host.statuses.last(), BadCrc);
    }
};

QTEST_GUILESS_MAIN(TestExchangeCycle)
#include "tst_exchangecycle.moc"
