#include "modbus/exchangecycle.h"
#include "modbus/linkstats.h"

#include "fakeseriallink.h"

#include <QtTest>

#include <map>
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

// Timing of a line: the echo of each request (an adapter that hears itself) arrives as it goes
// out, the answer's first 62 bytes `firstMs` after it, the rest `wholeMs` after it.
struct LineTiming {
    bool echo = false;
    int firstMs = 5;
    int wholeMs = 5;
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

    // The window's tick every 40 ms on the link's clock, the controller answering as `line`
    // says. A request sent while an answer is still on its way collides with it.
    LineTiming line;
    std::multimap<qint64, QByteArray> coming;
    qint64 nowUs = 0;
    int collisions = 0;
    void timedTicks(int n)
    {
        for (int i = 0; i < n; ++i, nowUs += 40000) {
            for (auto it = coming.begin(); it != coming.end() && it->first <= nowUs;
                 it = coming.erase(it)) {
                link.clockUs = it->first;
                link.feed(it->second);
            }
            link.clockUs = nowUs;
            const qsizetype sent = link.written.size();
            cycle.ExchangeTick();
            if (link.written.size() == sent)
                continue;
            collisions += coming.empty() ? 0 : 1;
            if (line.echo)
                coming.emplace(nowUs, link.written.last());
            coming.emplace(nowUs + line.firstMs * 1000, answer().left(62));
            if (answer().size() > 62)
                coming.emplace(nowUs + line.wholeMs * 1000, answer().mid(62));
        }
    }
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
        QTest::newRow("two bytes of another slave") << hex("02 04") << NoReply;
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

    // The start of the reply is kept while the rest comes in: that tick shows and sends nothing.
    void replySplitOverTwoTicksIsWaitedFor()
    {
        w->tick();
        // Bytes that arrive while the tick drains the line still belong to this tick.
        w->link.arrivingWhileRead = StatusReply.mid(10);
        w->tick(StatusReply.left(10));
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(w->rx.count, StatusReplyLength);
        w->tick(PriorityCodeReply.left(4));
        QCOMPARE(w->host.statuses.size(), 2);
        QCOMPARE(w->link.written.size(), 2);
        w->tick(PriorityCodeReply.mid(4));
        QCOMPARE(w->host.statuses.last(), Good);
        QCOMPARE(w->host.decoded, 2);
        QCOMPARE(w->link.written.size(), 3);
    }

    // On a slow line each request goes out once and waits for its whole answer: a reply still
    // coming in is waited for, the request's echo skipped (the command's too), and after the
    // first late answers no request goes out while the controller is answering.
    void slowLineIsWaitedOut_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<int>("firstMs");
        QTest::addColumn<int>("wholeMs");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("leastExchanges"); // in 100 ticks
        QTest::newRow("ideal line") << false << 5 << 14 << 40 << 100;
        QTest::newRow("USB converter, status reply whole 3 ms after the tick")
            << false << 30 << 43 << 40 << 66;
        QTest::newRow("30 ms turnaround behind a USB converter") << false << 46 << 62 << 80 << 50;
        QTest::newRow("gateway 60 ms late") << false << 60 << 60 << 80 << 50;
        QTest::newRow("2-wire adapter hearing itself") << true << 5 << 14 << 40 << 100;
        QTest::newRow("2-wire adapter, USB converter") << true << 30 << 43 << 40 << 66;
        QTest::newRow("2-wire adapter, echo a tick before the reply")
            << true << 46 << 62 << 80 << 50;
    }
    void slowLineIsWaitedOut()
    {
        QFETCH(bool, echo);
        QFETCH(int, firstMs);
        QFETCH(int, wholeMs);
        QFETCH(int, waitMs);
        QFETCH(int, leastExchanges);
        w->line = {echo, firstMs, wholeMs};
        w->timedTicks(25);
        const int collisions = w->collisions;
        const qsizetype statuses = w->host.statuses.size();
        const LinkFigures before = w->stats.figures(0);
        QVERIFY(EnqueueCommand(w->queue, QStringLiteral("&HCBD0")));
        w->timedTicks(100);
        const LinkFigures after = w->stats.figures(0);
        QCOMPARE(w->collisions, collisions);
        QCOMPARE(w->host.statuses.mid(statuses),
                 QStringList(w->host.statuses.size() - statuses, Good));
        QCOMPARE(after.repeats, before.repeats);
        QVERIFY(after.exchanges - before.exchanges >= quint64(leastExchanges));
        QCOMPARE(w->link.written.count(ResetAlarmsFrame), 1);
        QCOMPARE(after.waitMs, waitMs);
    }

    // Timing a reply costs a wake-up per reply: on a line at the shortest wait one exchange in
    // TimedEvery is timed, both kinds of poll among them; every one while a view of each
    // exchange watches.
    void repliesAreTimedOnASample()
    {
        struct EveryReply : ExchangeObserver {
            void exchanged(const ExchangeRecord &) override {}
            bool wantsEveryReplyTime() const override { return true; }
        } view;
        w->line = {false, 5, 14};
        w->timedTicks(8 * ExchangeCycle::TimedEvery + 1); // the last one judges the 8th
        QCOMPARE(w->link.stampedWrites.count(true), 8);
        QCOMPARE(w->link.stampedWrites.indexOf(true), ExchangeCycle::TimedEvery - 1);
        QCOMPARE(w->stats.figures(0).timedReplies, quint64(8));
        QCOMPARE(w->stats.figures(0).replyMinUs, qint64(5000));
        QCOMPARE(w->stats.figures(0).replyMaxUs, qint64(14000));

        w->cycle.addObserver(&view);
        const qsizetype sent = w->link.written.size();
        w->timedTicks(10);
        QCOMPARE(w->link.stampedWrites.mid(sent), QList<bool>(10, true));
        w->cycle.removeObserver(&view);
    }

    // Once the late line is fast again, the wait comes down a tick at a time to one tick.
    void fastRepliesShortenTheWait()
    {
        w->line = {false, 150, 150};
        w->timedTicks(100);
        QList<int> waits{w->stats.figures(0).waitMs};
        QVERIFY2(waits.first() >= 160, qPrintable(QString::number(waits.first())));
        w->line = {false, 5, 14};
        for (int i = 0; i < 50 && waits.last() > 40; ++i) {
            w->timedTicks(1);
            if (w->stats.figures(0).waitMs != waits.last())
                waits << w->stats.figures(0).waitMs;
        }
        for (int i = 1; i < waits.size(); ++i)
            QCOMPARE(waits.at(i), waits.at(i - 1) - 40);
        QCOMPARE(waits.last(), 40);
        const qsizetype sent = w->link.written.size();
        w->timedTicks(10);
        QCOMPARE(w->link.written.size(), sent + 10);
    }

    // A tick that comes soon after the request (the window was held up and its timer catches up)
    // judges only a whole reply; silence and stray bytes wait for the next tick on time, which
    // finds the request a little less than 40 ms old (it left at the end of its tick).
    void earlyTickJudgesOnlyAWholeReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QTest::newRow("silence") << QByteArray() << NoReply;
        QTest::newRow("two bytes of another slave") << hex("02 04") << NoReply;
        QTest::newRow("whole reply") << StatusReply << Good;
    }
    void earlyTickJudgesOnlyAWholeReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        w->link.clockUs = 0;
        w->tick();
        w->link.clockUs = 10000;
        w->tick(reply);
        if (status != Good) {
            // A timer catching up after a late tick: still too soon to call it silence.
            w->link.clockUs = 34000;
            w->tick();
            QCOMPARE(w->host.statuses.size(), 1);
            QCOMPARE(w->link.written.size(), 1);
            w->link.clockUs = 38500;
            w->tick();
        }
        QCOMPARE(w->host.statuses.size(), 2);
        QCOMPARE(w->host.statuses.last(), status);
        QCOMPARE(w->link.written.size(), 2);
    }

    // A reply that stops half way is waited for one second from its request, then judged
    // incomplete and asked again; where the link cannot tell time, 25 ticks count as the second.
    void incompleteReplyGivenUpAfterOneSecond_data()
    {
        QTest::addColumn<bool>("clock");
        QTest::newRow("link's clock") << true;
        QTest::newRow("no clock") << false;
    }
    void incompleteReplyGivenUpAfterOneSecond()
    {
        QFETCH(bool, clock);
        w->link.clockUs = clock ? 0 : -1;
        w->tick();
        w->tick(StatusReply.left(100));
        for (int t = 2; t <= 25; ++t) {
            QCOMPARE(w->link.written.size(), 1);
            w->link.clockUs = clock ? t * 40000 : -1;
            w->tick();
        }
        QCOMPARE(w->host.statuses,
                 (QStringList{NoReply, QStringLiteral("Ошибка обмена: Неполный ответ")}));
        QCOMPARE(w->link.written, QList<QByteArray>(2, StatusPollFrame));
        QCOMPARE(w->stats.figures(0).shortReply, quint64(1));
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
