#include "simharness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <pty.h>

using namespace vortan::simtest;

namespace
{

// Reply to a poll through the simulator's own line must be complete, within the line's time.
constexpr int ReplyMs = 2000;
// Long enough for any reply the simulator would send, short enough not to slow the suite.
constexpr int SilenceMs = 200;

// Child mode: a client that opens the port as the service program does (QSerialPort, which
// also makes the terminal exclusive), sends a poll and then waits to be killed: with collect,
// after reading the reply; without, once the reply is waiting unread.
int runPortClient(const char *path, bool collect)
{
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(path));
    port.setBaudRate(QSerialPort::Baud115200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::EvenParity);
    port.setStopBits(QSerialPort::OneStop);
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("open failed: %s\n", qPrintable(port.errorString()));
        return 1;
    }
    port.write(StatusPoll);
    port.waitForBytesWritten(ReplyMs);
    bool replied = false;
    if (collect) {
        QByteArray reply;
        QDeadlineTimer deadline(ReplyMs);
        while (reply.size() < 149 &&
               port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            reply += port.readAll();
        replied = reply.size() == 149;
    } else {
        pollfd p{int(port.handle()), POLLIN, 0};
        replied = ::poll(&p, 1, ReplyMs) == 1;
    }
    std::printf("%s\n", replied ? "ready" : "no reply");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

QByteArray openPortWithQt(const QString &path, QString *error)
{
    QSerialPort port;
    port.setPortName(path);
    port.setBaudRate(QSerialPort::Baud115200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::EvenParity);
    port.setStopBits(QSerialPort::OneStop);
    if (!port.open(QIODevice::ReadWrite)) {
        *error = port.errorString();
        return {};
    }
    port.clear();
    port.write(StatusPoll);
    QByteArray reply;
    QDeadlineTimer deadline(ReplyMs);
    while (reply.size() < 149 &&
           port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
        reply += port.readAll();
    return reply;
}

} // namespace

class TstSimProcess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(BinDir() + QStringLiteral("/vortan-sim")),
                 "VORTAN_BIN_DIR must point at the built vortan-sim");
    }

    void statusPollGetsFullBlock()
    {
        Sim sim;
        QVERIFY(sim.start());
        Line line;
        QVERIFY(line.open(sim.path()));
        const QByteArray reply = line.exchange(StatusPoll, 149);
        QCOMPARE(reply.size(), 149);
        QVERIFY(CrcGood(reply));
        QCOMPARE(reply.left(3), QByteArray::fromHex("010490"));
        QCOMPARE(StatusWord(reply, 0), quint16(0x0207));
        QCOMPARE(StatusWord(reply, 1), quint16(0x020C));
        // A second read shows the same set, moved on: the debug word counts the reads.
        const QByteArray next = line.exchange(StatusPoll, 149);
        QCOMPARE(next.size(), 149);
        QCOMPARE(StatusWord(next, 71), quint16(StatusWord(reply, 71) + 1));
    }

    void resetAlarmsIsEchoedAndClearsAlarms()
    {
        Sim sim;
        QVERIFY(sim.start());
        Line line;
        QVERIFY(line.open(sim.path()));
        const QByteArray before = line.exchange(StatusPoll, 149);
        QCOMPARE(before.size(), 149);
        QVERIFY2(StatusDWord(before, 30) != 0, "a freshly started controller has latched alarms");
        QCOMPARE(line.exchange(ResetAlarms, 8), ResetAlarms);
        const QByteArray after = line.exchange(StatusPoll, 149);
        QCOMPARE(after.size(), 149);
        QCOMPARE(StatusDWord(after, 30), 0u);
        QCOMPARE(StatusDWord(after, 52), 0u);
    }

    void paramReadOfFirstRun()
    {
        Sim sim;
        QVERIFY(sim.start());
        Line line;
        QVERIFY(line.open(sim.path()));
        const QByteArray reply = line.exchange(Frame({1, 100, 0, 0, 49}), 56);
        QCOMPARE(reply.size(), 56);
        QVERIFY(CrcGood(reply));
        QCOMPARE(reply.left(5), QByteArray::fromHex("0164000031"));
        QCOMPARE(Word(reply, 5 + 21), quint16(4000)); // rated voltage 400.0 V
        QCOMPARE(Word(reply, 5 + 28), quint16(500));  // rated frequency 50.0 Hz
    }

    void paramWriteThenRead()
    {
        Sim sim;
        QVERIFY(sim.start());
        Line line;
        QVERIFY(line.open(sim.path()));
        const QByteArray write = Frame({1, 101, 0, 94, 3, 0x11, 0x22, 0x33});
        QCOMPARE(line.exchange(write, write.size()), write);
        const QByteArray reply = line.exchange(Frame({1, 100, 0, 93, 5}), 12);
        QCOMPARE(reply.size(), 12);
        QCOMPARE(reply.mid(5, 5), QByteArray::fromHex("0011223300"));
    }

    void paramRangeRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("read past the end") << Frame({1, 100, 0, 146, 2}) << Frame({1, 0xE4, 2});
        QTest::newRow("read at 147") << Frame({1, 100, 0, 147, 1}) << Frame({1, 0xE4, 2});
        QTest::newRow("read count 0") << Frame({1, 100, 0, 0, 0}) << Frame({1, 0xE4, 3});
        QTest::newRow("read count 81") << Frame({1, 100, 0, 0, 81}) << Frame({1, 0xE4, 3});
        QTest::newRow("write past the end")
            << Frame({1, 101, 0, 146, 2, 1, 2}) << Frame({1, 0xE5, 2});
        QTest::newRow("write far away") << Frame({1, 101, 0x10, 0, 1, 7}) << Frame({1, 0xE5, 2});
    }
    void paramRangeRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        Sim sim;
        QVERIFY(sim.start());
        Line line;
        QVERIFY(line.open(sim.path()));
        QCOMPARE(line.exchange(request, 5), reply);
        // A refused write changes nothing.
        const QByteArray tail = line.exchange(Frame({1, 100, 0, 146, 1}), 8);
        QCOMPARE(tail.size(), 8);
        QCOMPARE(quint8(tail.at(5)), quint8(4));
    }

    void silence_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("other slave address") << Frame({2, 4, 0x07, 0xD0, 0, 0x48});
        QByteArray badCrc = StatusPoll;
        badCrc[7] = char(0xB2);
        QTest::newRow("bad CRC") << badCrc;
        QTest::newRow("function 3 at another address") << Frame({9, 3, 0x0F, 0xA1, 0, 1});
    }
    void silence()
    {
        QFETCH(QByteArray, request);
        Sim sim;
        QVERIFY(sim.start());
        Line line;
        QVERIFY(line.open(sim.path()));
        QVERIFY(line.write(request));
        QCOMPARE(line.read(1, SilenceMs), QByteArray());
        // Nothing late either, and the line is still good.
        const QByteArray reply = line.exchange(StatusPoll, 150, 500);
        QCOMPARE(reply.size(), 149);
    }

    void oneShotFaults()
    {
        Sim sim;
        QVERIFY(sim.start());
        Line line;
        QVERIFY(line.open(sim.path()));

        QCOMPARE(sim.command(QStringLiteral("drop")), QStringLiteral("ok drop"));
        QVERIFY(line.write(StatusPoll));
        QCOMPARE(line.read(1, SilenceMs), QByteArray());
        QCOMPARE(line.exchange(StatusPoll, 149).size(), 149);

        QCOMPARE(sim.command(QStringLiteral("crc")), QStringLiteral("ok crc"));
        const QByteArray corrupted = line.exchange(StatusPoll, 149);
        QCOMPARE(corrupted.size(), 149);
        QVERIFY(!CrcGood(corrupted));

        QCOMPARE(sim.command(QStringLiteral("split 150")), QStringLiteral("ok split 150"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(line.write(StatusPoll));
        const QByteArray first = line.read(74, ReplyMs);
        const qint64 firstAt = clock.elapsed();
        QCOMPARE(first.size(), 74);
        const QByteArray second = line.read(75, ReplyMs);
        QCOMPARE(second.size(), 75);
        QVERIFY2(clock.elapsed() - firstAt >= 100,
                 qPrintable(QStringLiteral("halves %1 ms apart").arg(clock.elapsed() - firstAt)));
        QVERIFY(CrcGood(first + second));

        QCOMPARE(sim.command(QStringLiteral("delay 150")), QStringLiteral("ok delay 150"));
        clock.restart();
        QVERIFY(line.write(StatusPoll));
        QCOMPARE(line.read(1, 100), QByteArray());
        const QByteArray delayed = line.read(149, ReplyMs);
        QCOMPARE(delayed.size(), 149);
        QVERIFY(clock.elapsed() >= 140);

        QCOMPARE(sim.command(QStringLiteral("exception 4:2")), QStringLiteral("ok exception 4:2"));
        QCOMPARE(line.exchange(StatusPoll, 5), Frame({1, 0x84, 2}));
        QCOMPARE(line.exchange(StatusPoll, 149).size(), 149);

        QVERIFY(sim.command(QStringLiteral("split")).startsWith(QStringLiteral("error")));

        const QJsonObject counters = sim.terminate();
        QCOMPARE(counters[QStringLiteral("requests")][QStringLiteral("4")].toInt(), 7);
        // Every poll but the dropped one got a reply frame, the exception included.
        QCOMPARE(counters[QStringLiteral("replies")].toInt(), 6);
        const QJsonObject faults = counters[QStringLiteral("faults")].toObject();
        for (const char *name : {"drop", "corrupt", "split", "delay", "exception"})
            QCOMPARE(faults[QLatin1String(name)].toInt(), 1);
    }

    void standingFaults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("counter");
        QTest::newRow("drop all") << QStringList{QStringLiteral("--drop"), QStringLiteral("1")}
                                  << StatusPoll << QByteArray() << QStringLiteral("drop");
        QTest::newRow("exception on 100")
            << QStringList{QStringLiteral("--exception"), QStringLiteral("100:4")}
            << Frame({1, 100, 0, 0, 2}) << Frame({1, 0xE4, 4}) << QStringLiteral("exception");
        QTest::newRow("no fault with probability 0")
            << QStringList{QStringLiteral("--drop"), QStringLiteral("0"),
                           QStringLiteral("--corrupt"), QStringLiteral("0")}
            << ResetAlarms << ResetAlarms << QString();
    }
    void standingFaults()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, counter);
        Sim sim;
        QVERIFY(sim.start(args));
        Line line;
        QVERIFY(line.open(sim.path()));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(line.exchange(request, qMax(1, int(reply.size())),
                                   reply.isEmpty() ? SilenceMs : ReplyMs),
                     reply);
        const QJsonObject faults = sim.terminate()[QStringLiteral("faults")].toObject();
        for (auto it = faults.begin(); it != faults.end(); ++it)
            QCOMPARE(it.value().toInt(), it.key() == counter ? 3 : 0);
    }

    void corruptProbabilityFollowsSeed()
    {
        auto pattern = [](const QString &seed) {
            Sim sim;
            if (!sim.start({QStringLiteral("--corrupt"), QStringLiteral("0.5"),
                            QStringLiteral("--seed"), seed}))
                return QString();
            Line line;
            if (!line.open(sim.path()))
                return QString();
            QString bits;
            for (int i = 0; i < 24; ++i)
                bits +=
                    CrcGood(line.exchange(ResetAlarms, 8)) ? QLatin1Char('.') : QLatin1Char('x');
            return bits;
        };
        const QString a = pattern(QStringLiteral("7"));
        QCOMPARE(a.size(), 24);
        QCOMPARE(pattern(QStringLiteral("7")), a);
        QVERIFY2(a.contains(QLatin1Char('x')) && a.contains(QLatin1Char('.')), qPrintable(a));
        QVERIFY(pattern(QStringLiteral("8")) != a);
    }

    void clientRestartsAfterKill()
    {
        Sim sim;
        QVERIFY(sim.start());
        for (int round = 0; round < 3; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--port-client"), sim.path()});
            QDeadlineTimer deadline(10000);
            while (!child.canReadLine() && !deadline.hasExpired())
                child.waitForReadyRead(100);
            QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
            child.kill();
            QVERIFY(child.waitForFinished(5000));

            QString error;
            const QByteArray reply = openPortWithQt(sim.path(), &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QCOMPARE(reply.size(), 149);
            Line line;
            QVERIFY2(line.open(sim.path(), &error), qPrintable(error));
            QCOMPARE(line.exchange(StatusPoll, 149).size(), 149);
        }
    }

    void killedClientLeavesNoTrace()
    {
        Sim sim;
        QVERIFY(sim.start());
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--port-client-unread"), sim.path()});
        QDeadlineTimer ready(10000);
        while (!child.canReadLine() && !ready.hasExpired())
            child.waitForReadyRead(100);
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
        child.kill();
        QVERIFY(child.waitForFinished(5000));

        // Opening may fail while the dead client's exclusive flag stands (unless we are root).
        Line line;
        QDeadlineTimer deadline(ReplyMs);
        while (!line.open(sim.path(), nullptr, false) && !deadline.hasExpired())
            QTest::qWait(10);
        while ((line.exclusive() || line.pending() != 0) && !deadline.hasExpired())
            QTest::qWait(10);
        QVERIFY2(!line.exclusive(), "the dead client's exclusive flag is cleared");
        QCOMPARE(line.pending(), 0);
        QCOMPARE(line.exchange(StatusPoll, 150, 500).size(), 149);
    }

    void terminationPrintsCountersAndRemovesLink()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("vortan-port"));
        QElapsedTimer lifetime;
        lifetime.start();
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--link"), link}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
        Line line;
        QVERIFY(line.open(link));
        QCOMPARE(line.exchange(StatusPoll, 149).size(), 149);
        QCOMPARE(line.exchange(ResetAlarms, 8), ResetAlarms);
        line.close();
        const QJsonObject counters = sim.terminate();
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        const QJsonObject requests = counters[QStringLiteral("requests")].toObject();
        QCOMPARE(requests.keys(),
                 (QStringList{QStringLiteral("100"), QStringLiteral("101"), QStringLiteral("23"),
                              QStringLiteral("4"), QStringLiteral("6")}));
        QCOMPARE(requests[QStringLiteral("4")].toInt(), 1);
        QCOMPARE(requests[QStringLiteral("6")].toInt(), 1);
        QCOMPARE(counters[QStringLiteral("replies")].toInt(), 2);
        const QJsonValue seconds = counters[QStringLiteral("seconds")];
        QVERIFY(seconds.isDouble());
        QVERIFY(seconds.toDouble() >= 0.0);
        QVERIFY(seconds.toDouble() <= double(lifetime.elapsed()) / 1000.0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void linkNeverReplacesAFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("notes.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        QProcess sim;
        sim.start(BinDir() + QStringLiteral("/vortan-sim"), {QStringLiteral("--link"), path});
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 1);
        QFile check(path);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("keep me"));
    }

    void memoryFileSurvivesRestart()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("eeprom.bin"));
        const QByteArray write = Frame({1, 101, 0, 57, 2, 0x1F, 0x40}); // max. power 800.0 kW
        {
            Sim sim;
            QVERIFY(sim.start({QStringLiteral("--memory"), file}));
            Line line;
            QVERIFY(line.open(sim.path()));
            QCOMPARE(line.exchange(write, write.size()), write);
            QCOMPARE(QFileInfo(file).size(), 147);
            sim.terminate();
        }
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--memory"), file}));
        Line line;
        QVERIFY(line.open(sim.path()));
        QCOMPARE(line.exchange(Frame({1, 100, 0, 57, 2}), 9).mid(5, 2),
                 QByteArray::fromHex("1F40"));
        // The model takes its own rated power from the memory and carries load when told to.
        QCOMPARE(line.exchange(Frame({1, 23,   0x0F, 0xAA, 0, 1, 0x0F, 0xA2, 0, 5, 10,
                                      0, 0x02, 0,    0,    0, 0, 0,    0,    0, 0}),
                               7),
                 Frame({1, 23, 2, 0, 0}));
        const QByteArray status = line.exchange(StatusPoll, 149);
        QCOMPARE(status.size(), 149);
        QCOMPARE(StatusWord(status, 34), quint16(8000));
        QVERIFY(qint16(StatusWord(status, 10)) > 0);
    }

    void corruptMemoryFileIsLeftAlone()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("eeprom.bin"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not an image");
        f.close();
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--memory"), file}));
        Line line;
        QVERIFY(line.open(sim.path()));
        const QByteArray write = Frame({1, 101, 0, 0, 1, 9});
        QCOMPARE(line.exchange(write, write.size()), write);
        QCOMPARE(line.exchange(Frame({1, 100, 0, 21, 2}), 9).mid(5, 2),
                 QByteArray::fromHex("0FA0"));
        sim.terminate();
        QVERIFY(sim.process().readAllStandardError().contains("unusable"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("not an image"));
    }

    void deviceAddressFollowsParameterMemory()
    {
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("5")}));
        Line line;
        QVERIFY(line.open(sim.path()));
        QCOMPARE(line.exchange(Frame({5, 100, 0, 55, 1}), 8), Frame({5, 100, 0, 55, 1, 5}));
        const QByteArray write = Frame({5, 101, 0, 55, 1, 7});
        QCOMPARE(line.exchange(write, write.size()), write);
        QCOMPARE(line.exchange(Frame({5, 4, 0x07, 0xD0, 0, 0x48}), 1, SilenceMs), QByteArray());
        QCOMPARE(line.exchange(Frame({7, 4, 0x07, 0xD0, 0, 0x48}), 149).size(), 149);
        // An unusable address is stored but not taken.
        const QByteArray zero = Frame({7, 101, 0, 55, 1, 0});
        QCOMPARE(line.exchange(zero, zero.size()), zero);
        QCOMPARE(line.exchange(Frame({7, 4, 0x07, 0xD0, 0, 0x48}), 149).size(), 149);
    }

    void servesAnExistingDevice()
    {
        int master = -1, slave = -1;
        QCOMPARE(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        char name[128] = {};
        QCOMPARE(::ptsname_r(master, name, sizeof name), 0);
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--device"), QString::fromLocal8Bit(name)}));
        QCOMPARE(sim.path(), QString::fromLocal8Bit(name));
        QVERIFY(::write(master, StatusPoll.constData(), 8) == 8);
        QByteArray reply;
        QDeadlineTimer deadline(ReplyMs);
        while (reply.size() < 149 && !deadline.hasExpired()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buffer[256];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0)
                    reply.append(buffer, qsizetype(n));
            }
        }
        QCOMPARE(reply.size(), 149);
        QVERIFY(CrcGood(reply));
        sim.terminate();
        ::close(slave);
        ::close(master);
    }

    void badArgumentsAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("complaint");
        QTest::newRow("probability above 1")
            << QStringList{QStringLiteral("--drop"), QStringLiteral("5")} << QByteArray("--drop");
        QTest::newRow("address 0") << QStringList{QStringLiteral("--address"), QStringLiteral("0")}
                                   << QByteArray("--address");
        QTest::newRow("exception without code")
            << QStringList{QStringLiteral("--exception"), QStringLiteral("4")}
            << QByteArray("--exception");
        QTest::newRow("negative split")
            << QStringList{QStringLiteral("--split"), QStringLiteral("-1")}
            << QByteArray("--split");
        QTest::newRow("unknown scenario")
            << QStringList{QStringLiteral("--scenario"), QStringLiteral("fire")}
            << QByteArray("--scenario");
        QTest::newRow("missing device")
            << QStringList{QStringLiteral("--device"), QStringLiteral("/nonexistent/tty")}
            << QByteArray("/nonexistent/tty");
    }
    void badArgumentsAreRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, complaint);
        QProcess sim;
        sim.start(BinDir() + QStringLiteral("/vortan-sim"), args);
        QVERIFY(sim.waitForFinished(10000));
        QVERIFY(sim.exitCode() != 0);
        QVERIFY(sim.readAllStandardOutput().isEmpty());
        QVERIFY(sim.readAllStandardError().contains(complaint));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strncmp(argv[1], "--port-client", 13) == 0) {
        QCoreApplication app(argc, argv);
        return runPortClient(argv[2], std::strcmp(argv[1], "--port-client") == 0);
    }
    QCoreApplication app(argc, argv);
    TstSimProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_simprocess.moc"
