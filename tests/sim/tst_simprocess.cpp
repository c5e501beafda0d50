#include "simharness.h"

using namespace vortan::simtest;
using vortan::test::binDir;
using vortan::test::requests;
using vortan::test::Simulator;

namespace
{

constexpr int ReplyMs = 2000;
// Long enough for any reply the simulator would send, short enough not to slow the suite.
constexpr int SilenceMs = 200;
// Parameter memory byte 146, the number of CAN nodes: 4 in a fresh set.
const QByteArray ReadLastByte = Frame({1, 100, 0, 146, 1});

// A fresh simulator with our line open on it.
struct Session {
    explicit Session(const QStringList &args = {}) : sim(args) {}
    // A first open of the freshly announced pseudo-terminal fails now and then on a busy
    // machine; the line is ready once an open succeeds before the deadline.
    bool ready()
    {
        return sim.waitReady() &&
               QTest::qWaitFor([this] { return line.open(sim.device()); }, ReplyMs);
    }

    Simulator sim;
    Line line;
};

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TstSimProcess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(binDir() + QStringLiteral("/vortan-sim")),
                 "VORTAN_BIN_DIR must point at the built vortan-sim");
        QFile keep(m_keep);
        QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write("keep me") == 7);
    }

    // One client's conversation over the --link path: status, reset of the alarms, parameter
    // memory. SIGTERM then prints what was served as JSON and removes the link.
    void conversationThenTermination()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("vortan-port"));
        QElapsedTimer lifetime;
        lifetime.start();
        Simulator sim({}, link);
        QVERIFY(sim.waitReady());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.firstLine());
        Line line;
        QVERIFY(line.open(link));

        const QByteArray status = line.exchange(StatusPoll, 149);
        QCOMPARE(status.size(), 149);
        QVERIFY(CrcGood(status));
        QCOMPARE(status.left(3), QByteArray::fromHex("010490"));
        QCOMPARE(StatusWord(status, 0), 0x0207);
        auto latched = [](const QByteArray &r) {
            return StatusWord(r, 30) | StatusWord(r, 31) | StatusWord(r, 52) | StatusWord(r, 53);
        };
        QVERIFY2(latched(status) != 0, "a freshly started controller has latched alarms");
        QCOMPARE(line.exchange(ResetAlarms, 8), ResetAlarms);
        const QByteArray after = line.exchange(StatusPoll, 149);
        QCOMPARE(latched(after), 0);
        // A new block on every read: the debug word counts them.
        QCOMPARE(StatusWord(after, 71), StatusWord(status, 71) + 1);

        const QByteArray run = line.exchange(Frame({1, 100, 0, 0, 49}), 56);
        QCOMPARE(run.size(), 56);
        QVERIFY(CrcGood(run));
        QCOMPARE(run.left(5), QByteArray::fromHex("0164000031"));
        QCOMPARE(Word(run, 5 + 21), 4000); // rated voltage 400.0 V
        const QByteArray write = Frame({1, 101, 0, 94, 3, 0x11, 0x22, 0x33});
        QCOMPARE(line.exchange(write, write.size()), write);
        QCOMPARE(line.exchange(Frame({1, 100, 0, 93, 5}), 12),
                 Frame({1, 100, 0, 93, 5, 0, 0x11, 0x22, 0x33, 0}));
        line.close();

        const QJsonObject counters = sim.stop();
        QCOMPARE(QJsonDocument(counters[QStringLiteral("requests")].toObject())
                     .toJson(QJsonDocument::Compact),
                 QByteArray(R"({"100":2,"101":1,"23":0,"4":2,"6":1})"));
        QCOMPARE(counters[QStringLiteral("replies")].toInt(), 6);
        const double seconds = counters[QStringLiteral("seconds")].toDouble(-1);
        QVERIFY(seconds >= 0.0 && seconds <= double(lifetime.elapsed()) / 1000.0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // Each request twice: the answer, or silence when reply is empty, and the one fault counter
    // that must show both.
    void answers_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("fault");
        const QStringList none;
        QTest::newRow("read past the end")
            << none << Frame({1, 100, 0, 146, 2}) << Frame({1, 0xE4, 2}) << QString();
        QTest::newRow("read count 81")
            << none << Frame({1, 100, 0, 0, 81}) << Frame({1, 0xE4, 3}) << QString();
        QTest::newRow("other slave address")
            << none << Frame({2, 4, 0x07, 0xD0, 0, 0x48}) << QByteArray() << QString();
        QTest::newRow("bad CRC") << none << StatusPoll.chopped(1) + char(0xB2) << QByteArray()
                                 << QString();
        QTest::newRow("standing drop")
            << Args("--drop 1") << StatusPoll << QByteArray() << QStringLiteral("drop");
        QTest::newRow("standing exception on 100")
            << Args("--exception 100:4") << Frame({1, 100, 0, 0, 2}) << Frame({1, 0xE4, 4})
            << QStringLiteral("exception");
        QTest::newRow("no fault with probability 0")
            << Args("--drop 0 --corrupt 0") << ResetAlarms << ResetAlarms << QString();
    }
    void answers()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, fault);
        Session s(args);
        QVERIFY(s.ready());
        for (int i = 0; i < 2; ++i)
            QCOMPARE(s.line.exchange(request, qMax(1, int(reply.size())),
                                     reply.isEmpty() ? SilenceMs : ReplyMs),
                     reply);
        // Nothing late, and a refused write changed nothing.
        if (args.isEmpty())
            QCOMPARE(s.line.exchange(ReadLastByte, 8), Frame({1, 100, 0, 146, 1, 4}));
        const QJsonObject faults = s.sim.stop()[QStringLiteral("faults")].toObject();
        QCOMPARE(faults.size(), 5);
        for (auto it = faults.begin(); it != faults.end(); ++it)
            QCOMPARE(it.value().toInt(), it.key() == fault ? 2 : 0);
    }

    void oneShotFaults()
    {
        Session s;
        QVERIFY(s.ready());
        QVERIFY(s.sim.send(QStringLiteral("drop")));
        QCOMPARE(s.line.exchange(StatusPoll, 1, SilenceMs), QByteArray());
        QCOMPARE(s.line.exchange(StatusPoll, 149).size(), 149);

        QVERIFY(s.sim.send(QStringLiteral("crc")));
        const QByteArray corrupted = s.line.exchange(StatusPoll, 149);
        QCOMPARE(corrupted.size(), 149);
        QVERIFY(!CrcGood(corrupted));

        QVERIFY(s.sim.send(QStringLiteral("split 150")));
        const QByteArray first = s.line.exchange(StatusPoll, 74);
        const QByteArray second = s.line.read(75, ReplyMs);
        QCOMPARE(first.size(), 74);
        QVERIFY(second.size() == 75 && CrcGood(first + second));

        QVERIFY(s.sim.send(QStringLiteral("delay 150")));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(s.line.exchange(StatusPoll, 1, 100), QByteArray());
        QCOMPARE(s.line.read(149, ReplyMs).size(), 149);
        QVERIFY(clock.elapsed() >= 140);

        QVERIFY(s.sim.send(QStringLiteral("exception 4:2")));
        QCOMPARE(s.line.exchange(StatusPoll, 5), Frame({1, 0x84, 2}));
        QCOMPARE(s.line.exchange(StatusPoll, 149).size(), 149);
        QVERIFY(!s.sim.send(QStringLiteral("split")));

        const QJsonObject counters = s.sim.stop();
        QCOMPARE(requests(counters, "4"), 7);
        // Every poll but the dropped one got a reply frame, the exception included.
        QCOMPARE(counters[QStringLiteral("replies")].toInt(), 6);
        const QJsonObject faults = counters[QStringLiteral("faults")].toObject();
        for (const char *name : {"drop", "corrupt", "split", "delay", "exception"})
            QCOMPARE(faults[QLatin1String(name)].toInt(), 1);
    }

    // What a status poll looks like from the PC on each line model: whether its echo comes
    // first, how late the reply's first byte is, how long the reply takes to arrive whole, and
    // how the bytes are handed over (in USB packets of `packet`, the last one `lastPiece` long).
    void lineModels_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("echoed");
        QTest::addColumn<int>("firstMs");
        QTest::addColumn<int>("spreadMs");
        QTest::addColumn<int>("packet");
        QTest::addColumn<int>("lastPiece");
        // 62 bytes after 10 + 5.9 ms, 124 after 11.8, the last 25 held 16 ms by the timer: about
        // 22 ms from the first piece to the last, 8 without the timer. The spreads leave room for
        // a reader that a busy machine wakes late.
        QTest::newRow("USB converter, 10 ms turnaround")
            << Args("--usb-latency 16 --turnaround 10") << false << 15 << 14 << 62 << 25;
        // 149 bytes at 95.5 µs each: about 14 ms on the line, nothing when unpaced.
        QTest::newRow("echo of a 2-wire adapter")
            << Args("--line echo") << true << 0 << 8 << 0 << 0;
        QTest::newRow("paced, 30 ms turnaround")
            << Args("--line slow") << false << 30 << 8 << 0 << 0;
        QTest::newRow("gateway 60 ms late in one burst")
            << Args("--gateway-delay 60") << false << 58 << 0 << 0 << 149;
    }
    void lineModels()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, echoed);
        QFETCH(int, firstMs);
        QFETCH(int, spreadMs);
        QFETCH(int, packet);
        QFETCH(int, lastPiece);
        Session s(args);
        QVERIFY(s.ready());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(s.line.write(StatusPoll));
        QByteArray reply;
        QList<std::pair<qsizetype, double>> pieces; // bytes so far, ms since the request
        if (echoed) {
            const QByteArray heard = s.line.read(8, ReplyMs);
            QCOMPARE(heard.left(8), StatusPoll);
            reply = heard.mid(8);
            if (!reply.isEmpty())
                pieces.append({reply.size(), double(clock.nsecsElapsed()) / 1e6});
        }
        QDeadlineTimer deadline(ReplyMs);
        while (reply.size() < 149 && !deadline.hasExpired()) {
            const QByteArray piece = s.line.read(1, int(qMax<qint64>(1, deadline.remainingTime())));
            reply += piece;
            if (!piece.isEmpty())
                pieces.append({reply.size(), double(clock.nsecsElapsed()) / 1e6});
        }
        QCOMPARE(reply.size(), 149);
        QVERIFY(CrcGood(reply));
        QVERIFY2(pieces.first().second >= firstMs,
                 qPrintable(QString::number(pieces.first().second)));
        QVERIFY2(pieces.last().second - pieces.first().second >= spreadMs,
                 qPrintable(QString::number(pieces.last().second - pieces.first().second)));
        for (const auto &[bytes, ms] : std::as_const(pieces))
            QVERIFY2(packet == 0 || bytes % packet == 0 || bytes == 149,
                     "a read never ends inside a USB packet");
        if (lastPiece)
            QCOMPARE(149 - (pieces.size() > 1 ? pieces.at(pieces.size() - 2).first : 0),
                     qsizetype(lastPiece));
        QCOMPARE(s.sim.stop()[QStringLiteral("collisions")].toInt(-1), 0);
    }

    // A request sent while a reply is still going out (here in the pause of a split reply) meets
    // it on the bus: the rest of the reply never comes, the request is never answered, and the
    // line works again afterwards.
    void collisionLosesBothFrames()
    {
        Session s(Args("--pace"));
        QVERIFY(s.ready());
        QVERIFY(s.sim.send(QStringLiteral("split 400")));
        QCOMPARE(s.line.exchange(StatusPoll, 74).size(), 74);
        QCOMPARE(s.line.exchange(StatusPoll, 1, 600), QByteArray());
        const QJsonObject during = s.sim.query(QStringLiteral("stats"));
        QCOMPARE(during[QStringLiteral("collisions")].toInt(-1), 1);
        QCOMPARE(requests(during, "4"), 1);
        QCOMPARE(during[QStringLiteral("replies")].toInt(-1), 0);
        const QByteArray next = s.line.exchange(StatusPoll, 149);
        QVERIFY(next.size() == 149 && CrcGood(next));
        QCOMPARE(s.sim.stop()[QStringLiteral("collisions")].toInt(-1), 1);
    }

    // A corrupt memory file is left alone and the set starts from its defaults; a missing one
    // is written on every change and read by the next start.
    void memoryFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("eeprom.bin"));
        const QStringList args = Args("--memory") << file;
        const QByteArray write = Frame({1, 101, 0, 57, 2, 0x1F, 0x40}); // max. power 800.0 kW
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("not an image") == 12);
        f.close();
        {
            Session s(args);
            QVERIFY(s.ready());
            QCOMPARE(s.line.exchange(write, write.size()), write);
            QCOMPARE(s.line.exchange(Frame({1, 100, 0, 21, 2}), 9),
                     Frame({1, 100, 0, 21, 2, 0x0F, 0xA0}));
            QVERIFY(!s.sim.stop().isEmpty());
            QVERIFY(s.sim.errors().contains("unusable"));
            QCOMPARE(contentOf(file), QByteArray("not an image"));
        }
        QVERIFY(f.remove());
        {
            Session s(args);
            QVERIFY(s.ready());
            QCOMPARE(s.line.exchange(write, write.size()), write);
            QCOMPARE(QFileInfo(file).size(), 147);
        }
        Session s(args);
        QVERIFY(s.ready());
        QCOMPARE(s.line.exchange(Frame({1, 100, 0, 57, 2}), 9),
                 Frame({1, 100, 0, 57, 2, 0x1F, 0x40}));
    }

    void badStartIsRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("complaint");
        QTest::newRow("missing device")
            << Args("--device /nonexistent/tty") << QByteArray("/nonexistent/tty");
        QTest::newRow("link over a plain file")
            << QStringList{QStringLiteral("--link"), m_keep} << QByteArray("not a symbolic link");
    }
    void badStartIsRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, complaint);
        QProcess sim;
        sim.start(binDir() + QStringLiteral("/vortan-sim"), args);
        QVERIFY(sim.waitForFinished(10000));
        QVERIFY(sim.exitCode() != 0);
        QVERIFY(sim.readAllStandardOutput().isEmpty());
        QVERIFY(sim.readAllStandardError().contains(complaint));
        QCOMPARE(contentOf(m_keep), QByteArray("keep me"));
    }

private:
    QTemporaryDir m_dir;
    const QString m_keep = m_dir.filePath(QStringLiteral("notes.txt"));
};

QTEST_GUILESS_MAIN(TstSimProcess)

#include "tst_simprocess.moc"
