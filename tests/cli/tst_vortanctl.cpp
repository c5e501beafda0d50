#include "params/paramfiles.h"
#include "params/paramtable.h"
#include "simprocess.h"

#include <QSerialPort>
#include <QTcpServer>
#include <QtTest>

using namespace vortan;
using vortan::test::Simulator;

namespace
{

constexpr int MemorySize = 147;
constexpr int DeviceAddressByte = 55;

struct Result {
    int exit = -1;
    QByteArray out;
    QString err;
    qint64 ms = 0;
};

// vortanctl in the Russian number format, as an engineer's shell would run it; `logRules` turns
// on its diagnostics.
Result ctl(const QStringList &arguments, const QString &logRules = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    if (!logRules.isEmpty())
        env.insert(QStringLiteral("QT_LOGGING_RULES"), logRules);
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(QDir(test::binDir()).filePath(QStringLiteral("vortanctl")), arguments);
    Result r;
    if (!p.waitForFinished(60000))
        return r;
    r.ms = clock.elapsed();
    r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray knownMemory()
{
    QByteArray memory(MemorySize, '\0');
    for (int a = 0; a < MemorySize; ++a)
        memory[a] = char((a * 37 + 11) & 0x7F);
    memory[DeviceAddressByte] = char(1);
    return memory;
}

// The texts the parameters window shows for `memory`, worked out in hundredths so that no
// product of binary fractions decides the digits.
QStringList shownTexts(const QByteArray &memory)
{
    const ParamTable table;
    QStringList texts;
    for (int i = 0; i < ParamTable::Count; ++i) {
        int raw = quint8(memory.at(table.Address(i)));
        if (table.Width(i) == 2)
            raw = raw * 256 + quint8(memory.at(table.Address(i) + 1));
        const qint64 hundredths = qint64(raw) * qRound64(table.Scale(i) * 100);
        QLocale ru(QLocale::Russian, QLocale::Russia);
        ru.setNumberOptions(QLocale::OmitGroupSeparator);
        texts << ru.toString(double(hundredths) / 100.0, 'f', QLocale::FloatingPointShortest) +
                     QLatin1Char(' ');
    }
    return texts;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TstVortanctl : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    // Backup, restore with a new device address, compare and scan against one controller
    // memory, checked against the memory file the simulator keeps.
    void backupRestoreCompareScan()
    {
        const QByteArray memory = knownMemory();
        QVERIFY(writeAll(path("eeprom.bin"), memory));
        Simulator sim({QStringLiteral("--memory"), path("eeprom.bin")});
        QVERIFY(sim.waitReady());
        const QStringList port{QStringLiteral("--port"), sim.device()};

        // Backup writes what the window's "Сохранить в файл" writes for the same values.
        QVERIFY(SaveParamSet(path("expected.ini"), shownTexts(memory)));
        const Result backup = ctl(
            QStringList{QStringLiteral("backup"), QStringLiteral("-o"), path("backup.ini")} + port);
        QCOMPARE(backup.exit, 0);
        QCOMPARE(readAll(path("backup.ini")), readAll(path("expected.ini")));
        const Result toStdout =
            ctl(QStringList{QStringLiteral("backup"), QStringLiteral("-o"), QStringLiteral("-")} +
                port);
        QCOMPARE(toStdout.out, readAll(path("expected.ini")));
        // A key the file lacks is a difference, never a match.
        QByteArray lacking = readAll(path("backup.ini"));
        lacking.replace("PAR50=", ";PAR50=");
        QVERIFY(writeAll(path("lacking.ini"), lacking));
        QCOMPARE(ctl(QStringList{QStringLiteral("compare"), path("lacking.ini")} + port).exit, 1);

        // An edited file: one value, two at their maximum, and the device address. Without
        // --change-address nothing is written; with it restore writes the file, moves to the
        // new address for the read-back, and the simulator's memory ends up holding the file.
        QByteArray edited = readAll(path("backup.ini"));
        edited.replace("PAR41=\"1 \"", "PAR41=7");
        edited.replace("PAR9=", "PAR9=1,5\r\n;PAR9=");
        edited.replace("PAR26=", "PAR26=12750\r\n;PAR26=");
        edited.replace("PAR44=", "PAR44=65535\r\n;PAR44=");
        QVERIFY(writeAll(path("edited.ini"), edited));
        QCOMPARE(ctl(QStringList{QStringLiteral("compare"), path("edited.ini")} + port).exit, 1);
        const Result moving =
            ctl(QStringList{QStringLiteral("restore"), path("edited.ini")} + port);
        QCOMPARE(moving.exit, 2);
        QVERIFY2(moving.err.contains(QStringLiteral("--change-address")), qPrintable(moving.err));
        QCOMPARE(readAll(path("eeprom.bin")), memory);
        const QStringList restoreEdited{QStringLiteral("restore"), path("edited.ini"),
                                        QStringLiteral("--change-address")};
        const Result dry = ctl(restoreEdited + QStringList{QStringLiteral("--dry-run")} + port);
        QCOMPARE(dry.exit, 0);
        QCOMPARE(dry.out.count('\n'), 5); // heading, parameters 9, 26, 44 and the device address
        QCOMPARE(readAll(path("eeprom.bin")), memory);

        const Result restore = ctl(restoreEdited + port);
        QVERIFY2(restore.exit == 0, qPrintable(restore.err));
        QVERIFY(restore.err.contains(QStringLiteral("Записано и проверено")));
        QVERIFY2(restore.ms < 5000, qPrintable(QString::number(restore.ms)));
        const QByteArray after = readAll(path("eeprom.bin"));
        QCOMPARE(int(after.at(DeviceAddressByte)), 7);
        QCOMPARE(after.mid(40, 1), QByteArray("\xFF"));     // PAR26
        QCOMPARE(after.mid(59, 2), QByteArray("\xFF\xFF")); // PAR44
        QCOMPARE(ctl(QStringList{QStringLiteral("compare"), path("edited.ini"),
                                 QStringLiteral("--address"), QStringLiteral("7")} +
                     port)
                     .exit,
                 0);
        QCOMPARE(ctl(QStringList{QStringLiteral("compare"), path("backup.ini"),
                                 QStringLiteral("--address"), QStringLiteral("7")} +
                     port)
                     .exit,
                 1);

        const Result scan =
            ctl(QStringList{QStringLiteral("scan"), QStringLiteral("--to"), QStringLiteral("20")} +
                port);
        QCOMPARE(scan.exit, 0);
        QVERIFY2(scan.out.startsWith("Адрес 7\tПротокол: 2 .07"), scan.out.constData());
        QCOMPARE(scan.out.count('\n'), 1);
    }

    // Lines that are not a pseudo-terminal's. A controller that answers 45 ms late, after its
    // request has gone out again: the late answer counts for the repeated request, its second
    // copy is set aside. A 2-wire adapter hearing itself: the copy of a write (6, 101) is its
    // echo once the line is known to echo, and the next write never goes out into the reply.
    void backupAndRestoreOnRealLines_data()
    {
        QTest::addColumn<QStringList>("line");
        QTest::newRow("controller 45 ms late") << QStringList{QStringLiteral("--delay"),
                                                               QStringLiteral("45")};
        QTest::newRow("2-wire adapter's echo")
            << QStringList{QStringLiteral("--line"), QStringLiteral("echo")};
    }
    void backupAndRestoreOnRealLines()
    {
        QFETCH(QStringList, line);
        const QByteArray memory = knownMemory();
        QVERIFY(writeAll(path("late.bin"), memory));
        QVERIFY(SaveParamSet(path("late-expected.ini"), shownTexts(memory)));
        Simulator sim(QStringList{QStringLiteral("--memory"), path("late.bin")} + line);
        QVERIFY(sim.waitReady());
        Result r = ctl({QStringLiteral("backup"), QStringLiteral("-o"), path("late.ini"),
                        QStringLiteral("--port"), sim.device()});
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        QCOMPARE(readAll(path("late.ini")), readAll(path("late-expected.ini")));
        r = ctl({QStringLiteral("restore"), path("late.ini"), QStringLiteral("--port"),
                 sim.device()});
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        QCOMPARE(sim.query(QStringLiteral("stats")).value(QStringLiteral("collisions")).toInt(-1),
                 0);
    }

    // A file the controller must not get: exit 2 before anything goes on the line, every
    // offending key named on its own line with its caption and the reason.
    void badFilesWriteNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("index"); // the one offending parameter; -1: the file itself
        QTest::addColumn<QString>("reason");
        // Zero everywhere and the controller's own address: a file restore takes as it is.
        const auto with = [](int index, const char *value) {
            QByteArray file = "[Calibration]\r\n";
            for (int i = 0; i < ParamTable::Count; ++i) {
                file += i == 8 ? "[Parameters]\r\n" : "";
                const QByteArray v = i == index ? QByteArray(value) : i == 41 ? "1" : "0";
                if (!(i == index && value == nullptr))
                    file += "PAR" + QByteArray::number(i) + '=' + v + "\r\n";
            }
            return file;
        };
        const auto row = [&with](const char *what, int index, const char *value,
                                 const char *reason) {
            QTest::newRow(what) << with(index, value) << index << QString::fromUtf8(reason);
        };
        row("missing key", 30, nullptr, "нет в файле");
        row("not a number", 31, "abc", "не число");
        row("letters after the number", 12, "12abc", "не число");
        row("C hexadecimal", 10, "0x1F", "не число");
        row("between two steps of 50", 26, "75", "50 или 100");
        row("between two steps of 0.1", 8, "230,57", "230,5 или 230,6");
        row("out of range", 31, "999999", "вне диапазона");
        row("over two bytes at scale 0.1", 8, "6553,6", "вне диапазона");
        row("broadcast address", 41, "0", "широковещательный");
        row("reserved address 248", 41, "248", "вне 1..247");
        row("reserved address 255", 41, "255", "вне 1..247");
        row("another controller's address", 41, "9", "--change-address");
        QTest::newRow("binary") << QByteArray("PAR0=1\0\1\2", 9) << -1
                                << QStringLiteral("Невозможно");
    }
    void badFilesWriteNothing()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, index);
        QFETCH(QString, reason);
        QVERIFY(writeAll(path("bad.ini"), content));
        Simulator sim({});
        QVERIFY(sim.waitReady());
        const Result r = ctl(
            {QStringLiteral("restore"), path("bad.ini"), QStringLiteral("--port"), sim.device()});
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        if (index >= 0) {
            const QString line =
                QStringLiteral("  PAR%1 «%2»: ").arg(index).arg(ParamTable().caption(index));
            QVERIFY2(r.err.contains(line), qPrintable(r.err));
            QCOMPARE(r.err.count(u'\n'), 2); // the refusal and the one offending key
        }
        const QJsonObject counters = sim.stop();
        QCOMPARE(test::requests(counters, "100") + test::requests(counters, "101"), 0);
    }

    // Lost replies are repeated; silence ends with exit 3 within the bound, naming the request;
    // a port that cannot be opened gives exit 4 with the device.
    void faultsAndPorts()
    {
        Simulator lossy({QStringLiteral("--drop"), QStringLiteral("0.2"), QStringLiteral("--seed"),
                         QStringLiteral("3")});
        QVERIFY(lossy.waitReady());
        QCOMPARE(ctl({QStringLiteral("backup"), QStringLiteral("-o"), path("lossy.ini"),
                      QStringLiteral("--port"), lossy.device()})
                     .exit,
                 0);

        const Result silent = ctl({QStringLiteral("status"), QStringLiteral("--address"),
                                   QStringLiteral("9"), QStringLiteral("--port"), lossy.device()});
        QCOMPARE(silent.exit, 3);
        QVERIFY2(silent.err.contains(QStringLiteral("«Чтение состояния»")), qPrintable(silent.err));
        QVERIFY2(silent.ms < 3000, qPrintable(QString::number(silent.ms)));
        // --retries N: the first try and N repeats, each an exchange of its own on -v.
        const Result retried =
            ctl({QStringLiteral("status"), QStringLiteral("--address"), QStringLiteral("9"),
                 QStringLiteral("--retries"), QStringLiteral("2"), QStringLiteral("-v"),
                 QStringLiteral("--port"), lossy.device()});
        QCOMPARE(retried.exit, 3);
        QCOMPARE(retried.err.count(QStringLiteral("\tnoreply\t")), 3);

        QSerialPort holder(QFileInfo(lossy.device()).canonicalFilePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        const Result busy =
            ctl({QStringLiteral("status"), QStringLiteral("--port"), lossy.device()});
        QCOMPARE(busy.exit, 4);
        QVERIFY2(busy.err.contains(QStringLiteral("занят")), qPrintable(busy.err));
        holder.close();

        const Result none = ctl({QStringLiteral("status"), QStringLiteral("--port"), path("none")});
        QCOMPARE(none.exit, 4);
        QVERIFY(none.err.contains(path("none")));
        QCOMPARE(ctl({QStringLiteral("restore")}).exit, 2);
    }

    // The journal only reads the status block: the simulator's alarm at power-up is its first
    // row, and an existing file is refused unchanged.
    void journalWatchesWithoutCommanding()
    {
        Simulator sim({});
        QVERIFY(sim.waitReady());
        const QStringList args{QStringLiteral("journal"),
                               QStringLiteral("--duration"),
                               QStringLiteral("1"),
                               QStringLiteral("-o"),
                               path("journal.csv"),
                               QStringLiteral("--port"),
                               sim.device()};
        const Result watched = ctl(args);
        QCOMPARE(watched.exit, 0);
        const QByteArray written = readAll(path("journal.csv"));
        QVERIFY(written.startsWith(
            "\xEF\xBB\xBF" +
            QStringLiteral("Время;Событие;Группа;Сигнал;Первопричина\r\n").toUtf8()));
        QVERIFY2(
            written.contains(QStringLiteral(";появилось;Авария;Ошибка обмена CAN;\r\n").toUtf8()),
            written.constData());
        const Result refused = ctl(args);
        QCOMPARE(refused.exit, 2);
        QVERIFY2(refused.err.contains(QStringLiteral("уже существует")), qPrintable(refused.err));
        QCOMPARE(readAll(path("journal.csv")), written);
        const QJsonObject counters = sim.stop();
        QVERIFY(test::requests(counters, "4") > 0);
        QCOMPARE(test::requests(counters, "23"), 0);
        QCOMPARE(test::requests(counters, "6"), 0);
    }

    // The service report only reads: every parameter with its caption beside a settings file
    // that differs in two values, marked and counted; the power-up alarm; the versions; journal
    // rows escaped with the first-out marked. A controller that does not answer and a file that
    // is no journal leave no report.
    void reportOfAVisit()
    {
        const QByteArray memory = knownMemory();
        QVERIFY(writeAll(path("visit.bin"), memory));
        Simulator sim({QStringLiteral("--memory"), path("visit.bin")});
        QVERIFY(sim.waitReady());
        QStringList texts = shownTexts(memory);
        const QStringList controller = texts;
        texts[12] = QStringLiteral("999");
        texts[60] = QStringLiteral("0,5");
        QVERIFY(controller[12].trimmed() != texts[12] && controller[60].trimmed() != texts[60]);
        QVERIFY(SaveParamSet(path("against.ini"), texts));
        const QByteArray header =
            "\xEF\xBB\xBF" +
            QStringLiteral("Время;Событие;Группа;Сигнал;Первопричина\r\n").toUtf8();
        QVERIFY(writeAll(path("visit.csv"),
                         header + QStringLiteral("2026-12-07 10:15:02,345;появилось;Авария;"
                                                 "\"<b>&;\"\"\";да\r\n")
                                      .toUtf8()));
        const QStringList args{
            QStringLiteral("report"),    QStringLiteral("-o"),     path("visit.html"),
            QStringLiteral("--against"), path("against.ini"),      QStringLiteral("--journal"),
            path("visit.csv"),           QStringLiteral("--port"), sim.device()};
        const Result r = ctl(args);
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        const QString html = QString::fromUtf8(readAll(path("visit.html")));

        static const QRegularExpression row(
            QStringLiteral("<tr( class=\"diff\")?><td class=\"num\">(\\d+)</td><td>([^<]*)</td>"
                           "<td class=\"num\">([^<]*)</td><td class=\"num\">([^<]*)</td>"));
        const ParamTable table;
        QList<int> marked;
        int rows = 0;
        for (auto it = row.globalMatch(html); it.hasNext(); ++rows) {
            const QRegularExpressionMatch m = it.next();
            const int i = m.captured(2).toInt();
            QCOMPARE(i, rows);
            QCOMPARE(m.captured(3), table.caption(i).toHtmlEscaped());
            QCOMPARE(m.captured(4), controller[i].trimmed());
            QCOMPARE(m.captured(5), texts[i].trimmed());
            if (!m.captured(1).isEmpty())
                marked << i;
        }
        QCOMPARE(rows, ParamTable::Count);
        QCOMPARE(marked, QList<int>({12, 60}));
        QVERIFY(html.contains(QStringLiteral("Отличаются: 2")));
        QVERIFY(
            html.contains(QStringLiteral("<li class=\"alarm\">Авария: Ошибка обмена CAN</li>")));
        QVERIFY(html.contains(QStringLiteral("<th>Версия протокола</th><td>2 .07</td>")));
        QVERIFY(html.contains(QStringLiteral("<th>Версия ПО контроллера</th><td>2 .12</td>")));
        QVERIFY2(html.contains(QStringLiteral("<tr class=\"first-out\"><td>2026-12-07 "
                                              "10:15:02,345</td><td>появилось</td><td>Авария</td>"
                                              "<td>&lt;b&gt;&amp;;&quot;</td>")),
                 qPrintable(html));
        QVERIFY(!html.contains(QStringLiteral("<script")) &&
                !html.contains(QStringLiteral("http")));

        QVERIFY(writeAll(path("other.csv"), "Time;Event\r\n"));
        QStringList badJournal = args;
        badJournal[2] = path("bad.html");
        badJournal[6] = path("other.csv");
        QCOMPARE(ctl(badJournal).exit, 2);
        QStringList silent = args;
        silent[2] = path("silent.html");
        silent << QStringLiteral("--address") << QStringLiteral("9");
        QCOMPARE(ctl(silent).exit, 3);
        QVERIFY(!QFileInfo::exists(path("bad.html")) && !QFileInfo::exists(path("silent.html")));
        const QJsonObject counters = sim.stop();
        QCOMPARE(test::requests(counters, "6") + test::requests(counters, "23") +
                     test::requests(counters, "101"),
                 0);
    }

    // Through ser2net, the serial-to-network proxy, in raw TCP and in RFC 2217 mode, a backup
    // equals the one through the device itself. The RFC 2217 side starts at 9600 8N1, so only the
    // program's own commands can have set the 115200 8E1 that ser2net reports back.
    void backupThroughGateways()
    {
        const QString ser2net = QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                                               {QStringLiteral("/usr/sbin"),
                                                                QStringLiteral("/usr/local/sbin"),
                                                                QStringLiteral("/usr/bin")});
        if (ser2net.isEmpty())
            QSKIP("ser2net is not installed (apt-get install ser2net): no gateway to test against");
        Simulator sim({});
        QVERIFY(sim.waitReady());
        const Result direct = ctl({QStringLiteral("backup"), QStringLiteral("-o"),
                                   path("direct.ini"), QStringLiteral("--port"), sim.device()});
        QCOMPARE(direct.exit, 0);

        const auto freePort = [] {
            QTcpServer probe;
            return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : quint16(0);
        };
        const quint16 rawPort = freePort();
        const quint16 telnetPort = freePort();
        QVERIFY(rawPort != 0 && telnetPort != 0 && rawPort != telnetPort);
        const QString config = QStringLiteral("connection: &raw\n"
                                              "  accepter: tcp,127.0.0.1,%1\n"
                                              "  connector: serialdev,%3,115200e81,local\n"
                                              "  options:\n"
                                              "    kickolduser: true\n"
                                              "connection: &rfc2217\n"
                                              "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                              "  connector: serialdev,%3,9600n81,local\n"
                                              "  options:\n"
                                              "    kickolduser: true\n")
                                   .arg(rawPort)
                                   .arg(telnetPort)
                                   .arg(QFileInfo(sim.device()).canonicalFilePath());
        QVERIFY(writeAll(path("ser2net.yaml"), config.toUtf8()));
        QProcess gateway;
        gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        gateway.start(ser2net, {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"),
                                path("ser2net.yaml")});
        QVERIFY2(gateway.waitForStarted(), qPrintable(gateway.errorString()));
        // Read from the system's socket table, not by connecting: a trial connection would make
        // ser2net open and close the device just before vortanctl's own connection.
        const auto listening = [](quint16 port) {
            QFile table(QStringLiteral("/proc/net/tcp"));
            const QByteArray entry = QByteArray("0100007F:") +
                                     QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
            return table.open(QIODevice::ReadOnly) &&
                   QString::fromLatin1(table.readAll())
                       .contains(QRegularExpression(
                           QStringLiteral("\\b%1 0+:0+ 0A\\b").arg(QLatin1String(entry))));
        };
        QTRY_VERIFY_WITH_TIMEOUT(listening(rawPort) && listening(telnetPort), 10000);

        const QString raw = QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);
        const Result viaRaw = ctl({QStringLiteral("backup"), QStringLiteral("-o"), path("raw.ini"),
                                   QStringLiteral("--port"), raw});
        QVERIFY2(viaRaw.exit == 0, qPrintable(viaRaw.err));
        QCOMPARE(readAll(path("raw.ini")), readAll(path("direct.ini")));

        const Result viaTelnet = ctl({QStringLiteral("backup"), QStringLiteral("-o"),
                                      path("rfc2217.ini"), QStringLiteral("--port"),
                                      QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort)},
                                     QStringLiteral("vortan.serial.info=true"));
        QVERIFY2(viaTelnet.exit == 0, qPrintable(viaTelnet.err));
        QCOMPARE(readAll(path("rfc2217.ini")), readAll(path("direct.ini")));
        QVERIFY2(viaTelnet.err.contains(QStringLiteral("line set to \"115200 8E1\"")),
                 qPrintable(viaTelnet.err));

        // A gateway that is gone: exit 4, naming the host and port.
        gateway.terminate();
        QVERIFY(gateway.waitForFinished(10000));
        const Result gone = ctl({QStringLiteral("status"), QStringLiteral("--port"), raw});
        QCOMPARE(gone.exit, 4);
        QVERIFY2(gone.err.contains(QStringLiteral("127.0.0.1:%1").arg(rawPort)),
                 qPrintable(gone.err));
    }
};

QTEST_GUILESS_MAIN(TstVortanctl)
#include "tst_vortanctl.moc"
