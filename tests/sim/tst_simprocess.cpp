#include "simharness.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <pty.h>

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
    bool ready() { return sim.waitReady() && line.open(sim.device()); }

    Simulator sim;
    Line line;
};

// Opens the port as the service program does (QSerialPort, which also makes the terminal
// exclusive) and sends a status poll: true once the whole good reply is in, or without
// `collect` once the reply waits unread.
bool pollThroughQt(QSerialPort &port, const QString &path, bool collect)
{
    port.setPortName(path);
    port.setBaudRate(QSerialPort::Baud115200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::EvenParity);
    port.setStopBits(QSerialPort::OneStop);
    if (!port.open(QIODevice::ReadWrite) || port.write(StatusPoll) != StatusPoll.size())
        return false;
    port.waitForBytesWritten(ReplyMs);
    if (!collect) {
        pollfd p{int(port.handle()), POLLIN, 0};
        return ::poll(&p, 1, ReplyMs) == 1;
    }
    QByteArray reply;
    while (reply.size() < 149 && port.waitForReadyRead(ReplyMs))
        reply += port.readAll();
    return reply.size() == 149 && CrcGood(reply);
}

// Child mode: a client that polls and then waits to be killed.
int runPortClient(const char *path, bool collect)
{
    QSerialPort port;
    std::printf("%s\n",
                pollThroughQt(port, QString::fromLocal8Bit(path), collect) ? "ready" : "no reply");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

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
        QTest::newRow("read count 0")
            << none << Frame({1, 100, 0, 0, 0}) << Frame({1, 0xE4, 3}) << QString();
        QTest::newRow("read count 81")
            << none << Frame({1, 100, 0, 0, 81}) << Frame({1, 0xE4, 3}) << QString();
        QTest::newRow("write past the end")
            << none << Frame({1, 101, 0, 146, 2, 1, 2}) << Frame({1, 0xE5, 2}) << QString();
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
        QElapsedTimer clock;
        clock.start();
        const QByteArray first = s.line.exchange(StatusPoll, 74);
        const qint64 firstAt = clock.elapsed();
        const QByteArray second = s.line.read(75, ReplyMs);
        QCOMPARE(first.size(), 74);
        QCOMPARE(second.size(), 75);
        QVERIFY2(clock.elapsed() - firstAt >= 100,
                 qPrintable(QStringLiteral("halves %1 ms apart").arg(clock.elapsed() - firstAt)));
        QVERIFY(CrcGood(first + second));

        QVERIFY(s.sim.send(QStringLiteral("delay 150")));
        clock.restart();
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

    void corruptProbabilityFollowsSeed()
    {
        auto pattern = [](const char *seed) {
            Session s(Args("--corrupt 0.5 --seed") << QString::fromLatin1(seed));
            QString bits;
            if (s.ready())
                for (int i = 0; i < 24; ++i)
                    bits += CrcGood(s.line.exchange(ResetAlarms, 8)) ? QLatin1Char('.')
                                                                     : QLatin1Char('x');
            return bits;
        };
        const QString a = pattern("7");
        QVERIFY2(a.size() == 24 && a.contains(QLatin1Char('x')) && a.contains(QLatin1Char('.')),
                 qPrintable(a));
        QCOMPARE(pattern("7"), a);
        QVERIFY(pattern("8") != a);
    }

    void clientRestartsAfterKill_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("killed after reading its reply") << QStringLiteral("--port-client");
        QTest::newRow("killed with its reply unread") << QStringLiteral("--port-client-unread");
    }
    void clientRestartsAfterKill()
    {
        QFETCH(QString, mode);
        Simulator sim({});
        QVERIFY(sim.waitReady());
        for (int round = 0; round < 2; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {mode, sim.device()});
            QVERIFY(child.waitForReadyRead(10000));
            QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
            child.kill();
            QVERIFY(child.waitForFinished(5000));

            // The next client finds neither the dead one's exclusive flag (opening may fail
            // while it stands, unless we are root) nor its unread reply.
            Line line;
            QDeadlineTimer deadline(ReplyMs);
            while (!line.open(sim.device(), false) && !deadline.hasExpired())
                QTest::qWait(10);
            while ((line.exclusive() || line.pending() != 0) && !deadline.hasExpired())
                QTest::qWait(10);
            QVERIFY(!line.exclusive());
            QCOMPARE(line.pending(), 0);
            QCOMPARE(line.exchange(StatusPoll, 150, 500).size(), 149);
            line.close();
            QSerialPort port;
            QVERIFY2(pollThroughQt(port, sim.device(), true), qPrintable(port.errorString()));
        }
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
        // The model takes its own rated power from the memory and carries load when told to.
        QCOMPARE(s.line.exchange(Frame({1, 23,   0x0F, 0xAA, 0, 1, 0x0F, 0xA2, 0, 5, 10,
                                        0, 0x02, 0,    0,    0, 0, 0,    0,    0, 0}),
                                 7),
                 Frame({1, 23, 2, 0, 0}));
        const QByteArray status = s.line.exchange(StatusPoll, 149);
        QCOMPARE(StatusWord(status, 34), 8000);
        QVERIFY(qint16(StatusWord(status, 10)) > 0);
    }

    void deviceAddressFollowsParameterMemory()
    {
        Session s(Args("--address 5"));
        QVERIFY(s.ready());
        QCOMPARE(s.line.exchange(Frame({5, 100, 0, 55, 1}), 8), Frame({5, 100, 0, 55, 1, 5}));
        const QByteArray write = Frame({5, 101, 0, 55, 1, 7});
        QCOMPARE(s.line.exchange(write, write.size()), write);
        QCOMPARE(s.line.exchange(Frame({5, 4, 0x07, 0xD0, 0, 0x48}), 1, SilenceMs), QByteArray());
        QCOMPARE(s.line.exchange(Frame({7, 4, 0x07, 0xD0, 0, 0x48}), 149).size(), 149);
        // An unusable address is stored but not taken.
        const QByteArray zero = Frame({7, 101, 0, 55, 1, 0});
        QCOMPARE(s.line.exchange(zero, zero.size()), zero);
        QCOMPARE(s.line.exchange(Frame({7, 4, 0x07, 0xD0, 0, 0x48}), 149).size(), 149);
    }

    void servesAnExistingDevice()
    {
        int master = -1, slave = -1;
        QCOMPARE(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        Line client(master), device(slave);
        char name[128] = {};
        QCOMPARE(::ptsname_r(master, name, sizeof name), 0);
        Simulator sim({QStringLiteral("--device"), QString::fromLocal8Bit(name)});
        QVERIFY(sim.waitReady());
        QCOMPARE(sim.firstLine(), QString::fromLocal8Bit(name));
        const QByteArray reply = client.exchange(StatusPoll, 149);
        QCOMPARE(reply.size(), 149);
        QVERIFY(CrcGood(reply));
    }

    void badStartIsRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("complaint");
        QTest::newRow("probability above 1") << Args("--drop 5") << QByteArray("--drop");
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

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strncmp(argv[1], "--port-client", 13) == 0)
        return runPortClient(argv[2], std::strcmp(argv[1], "--port-client") == 0);
    TstSimProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_simprocess.moc"
