#include "params/paramfiles.h"
#include "params/paramtable.h"
#include "simprocess.h"

#include <QSerialPort>
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

// vortanctl in the Russian number format, as an engineer's shell would run it.
Result ctl(const QStringList &arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
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

        // An edited file: one value and the device address. Restore writes it, moves to the new
        // address for the read-back, and the simulator's memory ends up holding the file.
        QByteArray edited = readAll(path("backup.ini"));
        edited.replace("PAR41=\"1 \"", "PAR41=7");
        edited.replace("PAR9=", "PAR9=1,5\r\n;PAR9=");
        QVERIFY(writeAll(path("edited.ini"), edited));
        QCOMPARE(ctl(QStringList{QStringLiteral("compare"), path("edited.ini")} + port).exit, 1);
        const Result dry = ctl(QStringList{QStringLiteral("restore"), QStringLiteral("--dry-run"),
                                           path("edited.ini")} +
                               port);
        QCOMPARE(dry.exit, 0);
        QCOMPARE(dry.out.count('\n'), 3); // heading, parameter 9, the device address
        QCOMPARE(readAll(path("eeprom.bin")), memory);

        const Result restore =
            ctl(QStringList{QStringLiteral("restore"), path("edited.ini")} + port);
        QVERIFY2(restore.exit == 0, qPrintable(restore.err));
        QVERIFY2(restore.ms < 5000, qPrintable(QString::number(restore.ms)));
        const QByteArray after = readAll(path("eeprom.bin"));
        QCOMPARE(int(after.at(DeviceAddressByte)), 7);
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

    // A controller that answers 45 ms late, after its request has gone out again: the late
    // answer counts for the repeated request, its second copy arrives while the next request
    // is in flight and is set aside, and the backup holds every value.
    void backupFromALateController()
    {
        const QByteArray memory = knownMemory();
        QVERIFY(writeAll(path("late.bin"), memory));
        QVERIFY(SaveParamSet(path("late-expected.ini"), shownTexts(memory)));
        Simulator sim({QStringLiteral("--memory"), path("late.bin"), QStringLiteral("--delay"),
                       QStringLiteral("45")});
        QVERIFY(sim.waitReady());
        const Result r = ctl({QStringLiteral("backup"), QStringLiteral("-o"), path("late.ini"),
                              QStringLiteral("--port"), sim.device()});
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        QCOMPARE(readAll(path("late.ini")), readAll(path("late-expected.ini")));
    }

    // A file the controller must not get: nothing is written, exit 2, the reason named.
    void badFilesWriteNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QByteArray missing = "[Calibration]\r\n";
        for (int i = 0; i < ParamTable::Count; ++i)
            missing += (i == 8 ? "[Parameters]\r\n" : "") +
                       (i == 30 ? QByteArray() : "PAR" + QByteArray::number(i) + "=10\r\n");
        QTest::newRow("missing key") << missing << QStringLiteral("PAR30");
        QByteArray text = missing;
        text.replace("PAR31=10", "PAR31=abc").replace("PAR29=10", "PAR29=10\r\nPAR30=10");
        QTest::newRow("not a number") << text << QStringLiteral("PAR31");
        QByteArray range = text;
        range.replace("PAR31=abc", "PAR31=999999");
        QTest::newRow("out of range") << range << QStringLiteral("PAR31");
        QTest::newRow("binary") << QByteArray("PAR0=1\0\1\2", 9) << QStringLiteral("Невозможно");
    }
    void badFilesWriteNothing()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QVERIFY(writeAll(path("bad.ini"), content));
        Simulator sim({});
        QVERIFY(sim.waitReady());
        const Result r = ctl(
            {QStringLiteral("restore"), path("bad.ini"), QStringLiteral("--port"), sim.device()});
        QCOMPARE(r.exit, 2);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
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
};

QTEST_GUILESS_MAIN(TstVortanctl)
#include "tst_vortanctl.moc"
