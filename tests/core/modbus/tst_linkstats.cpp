#include "modbus/exchangecycle.h"
#include "modbus/linkstats.h"

#include "fakeseriallink.h"

#include <QtTest>

#include <memory>

using namespace vortan;
using vortan::test::FakeSerialLink;

namespace
{

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Crc16Modbus(body);
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

const QByteArray StatusPoll = QByteArray::fromHex("010407D00048F0B1");
const QByteArray StatusReply = withCrc(QByteArray::fromHex("010490") + QByteArray(144, '\x11'));

class QuietHost : public CycleHost
{
public:
    void setStatusText(const QString &) override {}
    void decodeReply() override {}
    int slaveAddress() const override { return 1; }
};

// Keeps every record the cycle reports.
struct Recorder : ExchangeObserver {
    QList<ExchangeRecord> records;
    void exchanged(const ExchangeRecord &r) override { records.append(r); }
};

// The cycle on the in-memory line whose clock the test moves: the request leaves at the tick,
// the reply's bytes arrive `replyUs` later.
struct World {
    RequestQueue queue;
    RxBuffer rx;
    FakeSerialLink link;
    QuietHost host;
    StatusOnlyPoll poll;
    ExchangeCycle cycle{queue, rx, link, host, poll};
    LinkStats stats;
    Recorder recorder;

    World()
    {
        link.setOpen(true);
        link.clockUs = 0;
        cycle.addObserver(&stats);
        cycle.addObserver(&recorder);
        cycle.ExchangeTick();
    }
    // One 40 ms tick judging `reply`.
    const ExchangeRecord &tick(const QByteArray &reply, qint64 replyUs = 12000)
    {
        const qint64 sent = link.clockUs;
        link.clockUs = sent + replyUs;
        link.feed(reply);
        link.clockUs = sent + 40000;
        cycle.ExchangeTick();
        return recorder.records.last();
    }
};

} // namespace

class TestLinkStats : public QObject
{
    Q_OBJECT

private slots:
    // One exchange of each kind: what the record holds and which counter it lands in.
    void recordAndCounterOfEachVerdict_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>("counter"); // 0 good, 1 crc, 2 no reply, 3 short, 4 exception
        QByteArray corrupted = StatusReply;
        corrupted[5] = char(corrupted[5] ^ 0x40);
        QTest::newRow("good") << StatusReply << "good" << 0;
        QTest::newRow("CRC mismatch") << corrupted << "crc" << 1;
        QTest::newRow("silence") << QByteArray() << "noreply" << 2;
        QTest::newRow("two bytes") << QByteArray::fromHex("0104") << "short" << 3;
        QTest::newRow("exception 2")
            << withCrc(QByteArray::fromHex("018402")) << "exception:2" << 4;
        QTest::newRow("300 bytes") << QByteArray(300, '\x7E') << "crc" << 1;
    }
    void recordAndCounterOfEachVerdict()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, verdict);
        QFETCH(int, counter);
        World w;
        const ExchangeRecord r = w.tick(reply);
        QCOMPARE(r.request, StatusPoll);
        QCOMPARE(r.reply, reply);
        QCOMPARE(r.bytesReceived, reply.size());
        QCOMPARE(VerdictWord(r.verdict, r.exceptionCode()), verdict);
        QCOMPARE(r.replyTimeUs, reply.isEmpty() ? -1 : 12000);
        QCOMPARE(r.port, 1);

        const LinkFigures f = w.stats.figures(r.msecsSinceEpoch);
        QCOMPARE(f.exchanges, 1u);
        const quint64 counts[] = {f.good, f.badCrc, f.noReply, f.shortReply, f.exceptions};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(counts[i], quint64(i == counter ? 1 : 0));
        QCOMPARE(f.exceptionsByCode.size(), counter == 4 ? 1 : 0);
        QCOMPARE(f.bytesSent, quint64(StatusPoll.size()));
        QCOMPARE(f.bytesReceived, quint64(reply.size()));
        QCOMPARE(f.longestFailRun, quint64(counter >= 1 && counter <= 3 ? 1 : 0));
    }

    // Silence, a reply split over two ticks, then a whole one: three failures in a row, each
    // a repeat of the poll, and the reply time of each part from the request sent before it.
    void repeatsAndSplitReply()
    {
        World w;
        w.tick({});
        w.tick(StatusReply.left(70), 8000);
        w.tick(StatusReply.mid(70), 2000);
        w.tick(StatusReply, 15000);
        QList<bool> repeats;
        QList<Verdict> verdicts;
        for (const ExchangeRecord &r : std::as_const(w.recorder.records).mid(1)) {
            repeats << r.repeat;
            verdicts << r.verdict;
        }
        QCOMPARE(repeats, (QList<bool>{false, true, true, true}));
        QCOMPARE(verdicts, (QList<Verdict>{Verdict::NoReply, Verdict::BadCrc, Verdict::BadCrc,
                                           Verdict::Good}));
        const LinkFigures f = w.stats.figures(w.recorder.records.last().msecsSinceEpoch);
        QCOMPARE(f.repeats, 3u);
        QCOMPARE(f.longestFailRun, 3u);
        QCOMPARE(f.currentFailRun, 0u);
        QCOMPARE(f.bytesReceived, quint64(2 * StatusReply.size()));
        QCOMPARE(f.replyMinUs, 2000);
        QCOMPARE(f.replyMaxUs, 15000);
    }

    // Median and 95th percentile within the 0.1 ms resolution; slower than 200 ms still counts.
    void replyTimePercentiles()
    {
        LinkStats stats;
        ExchangeRecord r;
        r.request = StatusPoll;
        r.port = 1;
        for (int ms = 100; ms >= 1; --ms) {
            r.replyTimeUs = ms * 1000 + 37;
            stats.exchanged(r);
        }
        LinkFigures f = stats.figures(0);
        QCOMPARE(f.timedReplies, 100u);
        QCOMPARE(f.replyMinUs, 1037);
        QCOMPARE(f.replyMaxUs, 100037);
        QVERIFY2(qAbs(f.replyMedianUs - 50037) <= LinkStats::BinUs,
                 qPrintable(QString::number(f.replyMedianUs)));
        QVERIFY2(qAbs(f.replyP95Us - 95037) <= LinkStats::BinUs,
                 qPrintable(QString::number(f.replyP95Us)));
        for (int i = 0; i < 20; ++i) {
            r.replyTimeUs = 250000 + i;
            stats.exchanged(r);
        }
        f = stats.figures(0);
        QCOMPARE(f.replyP95Us, 250019);
        QCOMPARE(f.replyMaxUs, 250019);
    }

    // 25 exchanges per second: the rate since the first exchange, then over the last 10 s,
    // then nothing after 10 s of silence. Another port starts a fresh count, and so does reset().
    void rateOverTenSecondsAndFreshCounts()
    {
        LinkStats stats;
        ExchangeRecord r;
        r.request = StatusPoll;
        r.port = 1;
        const qint64 start = 1'700'000'000'000;
        const auto run = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                r.msecsSinceEpoch = start + 40 * i;
                stats.exchanged(r);
            }
        };
        run(0, 50);
        QVERIFY(qAbs(stats.figures(start + 2000).perSecond - 25.0) < 0.5);
        run(50, 750);
        const qint64 end = start + 30000;
        QVERIFY(qAbs(stats.figures(end).perSecond - 25.0) < 0.2);
        QCOMPARE(stats.figures(end + 10000).perSecond, 0.0);
        QCOMPARE(stats.figures(end).sinceMsecs, start);

        r.port = 2;
        r.msecsSinceEpoch = end;
        stats.exchanged(r);
        QCOMPARE(stats.figures(end).exchanges, 1u);
        QCOMPARE(stats.figures(end).port, 2);
        stats.reset();
        QCOMPARE(stats.figures(end).exchanges, 0u);
        QCOMPARE(stats.figures(end).perSecond, 0.0);
    }
};

QTEST_GUILESS_MAIN(TestLinkStats)
#include "tst_linkstats.moc"
