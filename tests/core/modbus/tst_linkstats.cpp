#include "modbus/exchangecycle.h"
#include "modbus/linkstats.h"
#include "modbus/tracefile.h"

#include "fakeseriallink.h"

#include <QtTest>

using namespace vortan;

namespace
{

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Crc16Modbus(body);
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

const QByteArray StatusPoll = QByteArray::fromHex("010407D00048F0B1");
const QByteArray StatusReply = withCrc(QByteArray::fromHex("010490") + QByteArray(144, '\x11'));

struct QuietHost : CycleHost {
    void setStatusText(const QString &) override {}
    void decodeReply() override {}
    int slaveAddress() const override { return 1; }
};

// The cycle on the in-memory line with a clock the test moves: the request leaves at the tick,
// the reply's bytes arrive `replyUs` later, the next tick comes 40 ms after the last.
struct World : ExchangeObserver {
    RequestQueue queue;
    RxBuffer rx;
    test::FakeSerialLink link;
    QuietHost host;
    StatusOnlyPoll poll;
    ExchangeCycle cycle{queue, rx, link, host, poll};
    LinkStats stats;
    QList<ExchangeRecord> records;

    World()
    {
        link.setOpen(true);
        link.clockUs = 0;
        cycle.addObserver(&stats);
        cycle.addObserver(this);
        cycle.ExchangeTick();
    }
    void exchanged(const ExchangeRecord &r) override { records.append(r); }
    bool wantsEveryReplyTime() const override { return true; }
    const ExchangeRecord &tick(const QByteArray &reply, qint64 replyUs = 12000)
    {
        const qint64 sent = link.clockUs;
        link.clockUs = sent + replyUs;
        link.feed(reply);
        link.clockUs = sent + 40000;
        cycle.ExchangeTick();
        return records.last();
    }
    LinkFigures figures() const { return stats.figures(records.last().msecsSinceEpoch); }
};

ExchangeRecord polled(qint64 msecs, qint64 replyUs = -1)
{
    ExchangeRecord r;
    r.msecsSinceEpoch = msecs;
    r.request = StatusPoll;
    r.port = 1;
    r.replyTimeUs = replyUs;
    return r;
}

} // namespace

class TestLinkStats : public QObject
{
    Q_OBJECT

private slots:
    void recordAndCounterOfEachVerdict_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>(
            "counter"); // 0 good, 1 crc, 2 no reply, 3 short, 4 exception, 5 stray
        QByteArray corrupted = StatusReply;
        corrupted[5] = char(corrupted[5] ^ 0x40);
        QTest::newRow("good") << StatusReply << "good" << 0;
        QTest::newRow("CRC mismatch") << corrupted << "crc" << 1;
        QTest::newRow("silence") << QByteArray() << "noreply" << 2;
        QTest::newRow("two bytes of another slave") << QByteArray::fromHex("0204") << "short" << 3;
        QTest::newRow("exception 2")
            << withCrc(QByteArray::fromHex("018402")) << "exception:2" << 4;
        QTest::newRow("300 bytes, all kept") << QByteArray(300, '\x7E') << "crc" << 1;
        QTest::newRow("exception for another function")
            << withCrc(QByteArray::fromHex("019702")) << "stray" << 5;
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
        QCOMPARE(VerdictWord(r.verdict, r.exceptionCode()), verdict);
        QCOMPARE(r.replyTimeUs, qint64(reply.isEmpty() ? -1 : 12000));

        const LinkFigures f = w.figures();
        const quint64 counts[] = {f.good, f.badCrc, f.noReply, f.shortReply, f.exceptions, f.stray};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(counts[i], quint64(i == counter));
        QCOMPARE(f.exceptionsByCode.size(), counter == 4 ? 1 : 0);
        QCOMPARE(f.exchanges, quint64(1));
        QCOMPARE(f.bytesSent + f.bytesReceived, quint64(StatusPoll.size() + reply.size()));
    }

    // A refusal answers the poll, so the same poll next is no repeat. Then silence, two CRC
    // mismatches, then a whole reply: three failures in a row, each a repeat. A reply split over
    // two ticks is one exchange, timed from its request.
    void repeatsAndSplitReply()
    {
        World w;
        QByteArray corrupted = StatusReply;
        corrupted[5] = char(corrupted[5] ^ 0x40);
        w.tick(withCrc(QByteArray::fromHex("018402")), 2000);
        w.tick({});
        w.tick(corrupted, 8000);
        w.tick(corrupted, 2000);
        w.tick(StatusReply, 15000);
        w.tick(StatusReply); // the same poll again after a good reply is a new one
        QList<bool> repeats;
        for (const ExchangeRecord &r : std::as_const(w.records).mid(1))
            repeats << r.repeat;
        QCOMPARE(repeats, (QList<bool>{false, false, true, true, true, false}));
        const LinkFigures f = w.figures();
        QCOMPARE(f.exceptions, quint64(1));
        QCOMPARE(f.badCrc, quint64(2));
        QCOMPARE(f.repeats, quint64(3));
        QCOMPARE(f.longestFailRun, quint64(3));
        QCOMPARE(f.currentFailRun, quint64(0));
        QCOMPARE(f.replyMinUs, qint64(2000));
        QCOMPARE(f.replyMaxUs, qint64(15000));
        QCOMPARE(f.waitMs, 40);
        w.tick(StatusReply.left(70), 8000);
        QCOMPARE(w.tick(StatusReply.mid(70), 2000).replyTimeUs, qint64(42000));
        QCOMPARE(w.records.size(), 8);
    }

    // Median and 95 % as the upper edges of their 0.1 ms bins, slower than 200 ms still counted;
    // the rate over the last 10 s at 25 exchanges per second; a fresh count on another port and on
    // reset().
    void replyTimesRateAndFreshCounts()
    {
        LinkStats stats;
        const qint64 start = 1'700'000'000'000;
        // An odd count: the median is the middle reply's bin (rank rounded up), not the first.
        for (qint64 us : {1037, 3037, 2037})
            stats.exchanged(polled(start, us));
        QCOMPARE(stats.figures(start).replyMedianUs, qint64(2100));
        stats.reset();
        for (int i = 0; i < 750; ++i)
            stats.exchanged(polled(start + 40 * i, i < 100 ? (100 - i) * 1000 + 37 : -1));
        LinkFigures f = stats.figures(start + 2000);
        QCOMPARE(f.replyMinUs, qint64(1037));
        // The 50th and 95th of 1.037 .. 100.037 ms, each the upper edge of its 0.1 ms bin.
        QCOMPARE(f.replyMedianUs, qint64(50100));
        QCOMPARE(f.replyP95Us, qint64(95100));
        f = stats.figures(start + 30000);
        QVERIFY2(qAbs(f.perSecond - 25.0) < 0.2, qPrintable(QString::number(f.perSecond)));
        QCOMPARE(stats.figures(start + 40000).perSecond, 0.0);
        for (int i = 0; i < 20; ++i)
            stats.exchanged(polled(start + 30000, 250000 + i));
        QCOMPARE(stats.figures(0).replyP95Us, qint64(250019));

        ExchangeRecord other = polled(start + 31000);
        other.port = 2;
        stats.exchanged(other);
        QCOMPARE(stats.figures(0).exchanges, quint64(1));
        stats.reset();
        QCOMPARE(stats.figures(0).exchanges, quint64(0));
    }

    // Lines go after what the file held, behind a column line, tab-separated for awk; they reach
    // the file within about a second while exchanges keep coming.
    void traceFileAppendsLines()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("trace.txt"));
        QFile before(path);
        QVERIFY(before.open(QIODevice::WriteOnly) && before.write("earlier\n") == 8);
        before.close();
        World w;
        w.tick({});
        const ExchangeRecord &r = w.tick(QByteArray::fromHex("02049011"), 1500);
        const auto contents = [&path] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        {
            TraceFile trace(path);
            QVERIFY(trace.open());
            trace.exchanged(r);
            QDeadlineTimer deadline(5000);
            while (!contents().contains("repeat") && !deadline.hasExpired())
                trace.exchanged(ExchangeRecord());
            QVERIFY(contents().contains("repeat"));
        }
        const QList<QByteArray> lines = contents().split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), QByteArray("earlier"));
        QCOMPARE(lines.at(1), TraceHeader().toUtf8());
        const QList<QByteArray> fields = lines.at(2).split('\t');
        QCOMPARE(fields.mid(1), (QList<QByteArray>{"01 04 07 D0 00 48 F0 B1", "02 04 90 11", "crc",
                                                   "1.500", "repeat"}));
        QCOMPARE(QDateTime::fromString(fields.at(0), Qt::ISODateWithMs).toMSecsSinceEpoch(),
                 r.msecsSinceEpoch);

        // Split like a recording, by the exchanges' time: at the size limit and at local
        // midnight, skipping a number whose file exists; each part starts with the column line.
        const QString base = dir.filePath(QStringLiteral("split.txt"));
        QFile taken(dir.filePath(QStringLiteral("split-2.txt")));
        QVERIFY(taken.open(QIODevice::WriteOnly) && taken.write("kept") == 4);
        taken.close();
        const qint64 evening = QDateTime(QDate(2024, 5, 17), QTime(23, 59, 58)).toMSecsSinceEpoch();
        const qint64 lineBytes = TraceLine(polled(evening)).size() + 1;
        {
            TraceFile trace(base);
            trace.setSplitBytes(TraceHeader().toUtf8().size() + 1 + 2 * lineBytes + lineBytes / 2);
            QVERIFY(trace.open());
            for (qint64 at : {evening, evening + 500, evening + 1000, evening + 2100})
                trace.exchanged(polled(at));
            QCOMPARE(trace.files(), (QStringList{base, dir.filePath(QStringLiteral("split-3.txt")),
                                                 dir.filePath(QStringLiteral("split-4.txt"))}));
        }
        const auto part = [](const QString &name) {
            QFile file(name);
            return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
        };
        for (const auto &[name, lines] : {std::pair{base, 2}, {dir.filePath("split-3.txt"), 1},
                                          {dir.filePath("split-4.txt"), 1}}) {
            const QList<QByteArray> got = part(name);
            QCOMPARE(got.size(), 1 + lines + 1);
            QCOMPARE(got.first(), TraceHeader().toUtf8());
        }
        QVERIFY(part(dir.filePath("split-4.txt")).at(1).startsWith("2024-05-18T00:00:00.100"));
        QCOMPARE(part(taken.fileName()), QList<QByteArray>{"kept"});

        // A part that cannot be created (the folder went away) is reported once.
        QTemporaryDir gone;
        TraceFile lost(gone.filePath(QStringLiteral("t.txt")));
        QStringList reports;
        lost.onFailure = [&reports](const QString &message) { reports << message; };
        lost.setSplitBytes(1);
        QVERIFY(lost.open());
        lost.exchanged(polled(evening));
        QVERIFY(gone.remove());
        for (int n = 1; n < 4; ++n)
            lost.exchanged(polled(evening + n * 80));
        QVERIFY(!lost.isWriting());
        QCOMPARE(reports, QStringList{"Файл трассировки " + gone.filePath("t-2.txt") + " не записывается"});
    }

    // A file that cannot be opened, or one that fills up, is reported once, and later
    // exchanges are taken without complaint.
    void unwritableTraceReportedOnce_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing folder") << QStringLiteral("/nonexistent-folder/trace.txt");
        QTest::newRow("full device") << QStringLiteral("/dev/full");
    }
    void unwritableTraceReportedOnce()
    {
        QFETCH(QString, path);
        TraceFile trace(path);
        QStringList reports;
        trace.onFailure = [&reports](const QString &message) { reports << message; };
        QVERIFY(!trace.open());
        trace.exchanged(polled(0));
        trace.flush();
        QVERIFY(!trace.open());
        QCOMPARE(reports, QStringList{"Файл трассировки " + path + " не записывается"});
    }
};

QTEST_GUILESS_MAIN(TestLinkStats)
#include "tst_linkstats.moc"
