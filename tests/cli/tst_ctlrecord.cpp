#include "simprocess.h"

#include <QtTest>

#include <csignal>

using vortan::test::binDir;
using vortan::test::requests;
using vortan::test::Simulator;

namespace
{

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Rows after the header of a recording; -1 unless it starts with the byte-order mark and the
// header and ends with a whole row.
int DataRows(const QString &path)
{
    const QByteArray all = Bytes(path);
    if (!all.startsWith("\xEF\xBB\xBF\xD0\x92\xD1\x80\xD0\xB5\xD0\xBC\xD1\x8F;") ||
        !all.endsWith("\r\n"))
        return -1;
    return int(all.count("\r\n")) - 1;
}

} // namespace

class TestCtlRecord : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // vortanctl with these arguments; its exit code, standard error in `err`.
    int ctl(const QStringList &arguments, QString *err = nullptr)
    {
        QProcess ctl;
        ctl.setWorkingDirectory(m_dir.path());
        ctl.start(QDir(binDir()).filePath(QStringLiteral("vortanctl")), arguments);
        if (!ctl.waitForFinished(30000))
            return -1;
        if (err)
            *err = QString::fromUtf8(ctl.readAllStandardError());
        return ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1;
    }

    // vortanctl record against the simulator, ended by --duration or by Ctrl+C once rows arrive;
    // every status read the simulator served is one row of a complete file, after `before` rows
    // the file held.
    void record(const QString &name, const QStringList &extra, int before = 0)
    {
        Simulator sim({});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        const QString path = m_dir.filePath(name);
        QProcess ctl;
        ctl.start(QDir(binDir()).filePath(QStringLiteral("vortanctl")),
                  QStringList{QStringLiteral("record"), QStringLiteral("--port"), sim.device(),
                              QStringLiteral("-o"), path} +
                      extra);
        if (extra.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(DataRows(path) >= before + 10,
                                     10000); // rows reach the file each second
            ::kill(pid_t(ctl.processId()), SIGINT);
        }
        QVERIFY(ctl.waitForFinished(30000));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 0);
        const QJsonObject counters = sim.stop();
        QVERIFY(DataRows(path) >= before + 10);
        // Every row is a status read; only the reply to the read in flight at the stop may come
        // too late for its tick on a busy machine.
        const int served = requests(counters, "4");
        QVERIFY2(DataRows(path) - before == served || DataRows(path) - before == served - 1,
                 qPrintable(QStringLiteral("%1 rows, %2 reads").arg(DataRows(path) - before).arg(served)));
        QCOMPARE(requests(counters, "23"), 0);
        QCOMPARE(requests(counters, "6"), 0);
    }

private slots:
    void recordsEveryStatusReadForItsDuration()
    {
        record(QStringLiteral("duration.csv"), {QStringLiteral("--duration"), QStringLiteral("2")});
    }

    void stopSignalLeavesACompleteFile() { record(QStringLiteral("signal.csv"), {}); }

    // --append continues a recording of the same columns; a port that fails leaves it as it was,
    // and a run without a single reply leaves no file of its own.
    void appendsAfterTheOldRowsAndLeavesNoEmptyFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("append.csv"));
        record(QStringLiteral("append.csv"), {QStringLiteral("--duration"), QStringLiteral("1")});
        const QByteArray old = Bytes(path);
        record(QStringLiteral("append.csv"),
               {QStringLiteral("--duration"), QStringLiteral("1"), QStringLiteral("--append")},
               DataRows(path));
        const QByteArray appended = Bytes(path);
        QVERIFY(appended.startsWith(old) && appended.size() > old.size());
        QCOMPARE(appended.count("\xEF\xBB\xBF"), 1);

        QCOMPARE(ctl({QStringLiteral("record"), QStringLiteral("--append"), QStringLiteral("-o"),
                      path, QStringLiteral("--port"), QStringLiteral("/nonexistent/tty")}),
                 4);
        QCOMPARE(Bytes(path), appended);

        Simulator sim({});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        const QString fresh = m_dir.filePath(QStringLiteral("silent.csv"));
        QCOMPARE(
            ctl({QStringLiteral("record"), QStringLiteral("--port"), sim.device(),
                 QStringLiteral("--address"), QStringLiteral("9"), QStringLiteral("--duration"),
                 QStringLiteral("1"), QStringLiteral("-o"), fresh}),
            3);
        QVERIFY(!QFile::exists(fresh));
    }

    // Nothing is sent and no file is created, replaced or removed.
    void refusedFilesAreLeftAsTheyWere_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("existing"); // what x.csv held before; empty: no file
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("says");
        const QByteArray otherHeader =
            "\xEF\xBB\xBF\xD0\x92\xD1\x80\xD0\xB5\xD0\xBC\xD1\x8F;U\r\n1;2\r\n";
        QTest::newRow("bad duration")
            << QStringList{QStringLiteral("--duration"), QStringLiteral("10x")} << QByteArray() << 2
            << QStringLiteral("--duration");
        QTest::newRow("missing folder")
            << QStringList{QStringLiteral("-o"), QStringLiteral("none/x.csv")} << QByteArray() << 2
            << QStringLiteral("Невозможно создать файл");
        QTest::newRow("existing file")
            << QStringList() << otherHeader << 2 << QStringLiteral("x.csv» уже существует");
        QTest::newRow("append, other header")
            << QStringList{QStringLiteral("--append")} << otherHeader << 2
            << QStringLiteral("другая строка заголовка");
        QTest::newRow("port fails")
            << QStringList{QStringLiteral("--port"), QStringLiteral("/nonexistent/tty")}
            << QByteArray() << 4 << QStringLiteral("не доступен");
    }

    void refusedFilesAreLeftAsTheyWere()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, existing);
        QFETCH(int, exit);
        QFETCH(QString, says);
        const QString path = m_dir.filePath(QStringLiteral("x.csv"));
        QFile::remove(path);
        if (!existing.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(existing) == existing.size());
        }
        QString err;
        QCOMPARE(ctl(QStringList{QStringLiteral("record"), QStringLiteral("--port"),
                                 QStringLiteral("/dev/null"), QStringLiteral("-o"),
                                 QStringLiteral("x.csv")} +
                         options,
                     &err),
                 exit);
        QVERIFY2(err.contains(says), qPrintable(err));
        QCOMPARE(QFile::exists(path), !existing.isEmpty());
        QCOMPARE(Bytes(path), existing);
    }
};

QTEST_GUILESS_MAIN(TestCtlRecord)
#include "tst_ctlrecord.moc"
