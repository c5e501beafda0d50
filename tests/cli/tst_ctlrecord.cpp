#include "simprocess.h"

#include <QtTest>

#include <csignal>

using vortan::test::binDir;
using vortan::test::requests;
using vortan::test::Simulator;

namespace
{

// Rows after the header of a recording; -1 unless it starts with the byte-order mark and the
// header and ends with a whole row.
int DataRows(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray all = f.readAll();
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

    void start(QProcess &ctl, const QStringList &arguments)
    {
        ctl.start(QDir(binDir()).filePath(QStringLiteral("vortanctl")), arguments);
        QVERIFY(ctl.waitForStarted());
    }

private slots:
    void recordsEveryStatusReadForItsDuration()
    {
        Simulator sim({});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        const QString path = m_dir.filePath(QStringLiteral("duration.csv"));
        QProcess ctl;
        start(ctl,
              {QStringLiteral("record"), QStringLiteral("--port"), sim.device(),
               QStringLiteral("-o"), path, QStringLiteral("--duration"), QStringLiteral("2s")});
        QVERIFY(ctl.waitForFinished(30000));
        QCOMPARE(ctl.exitCode(), 0);
        QVERIFY(ctl.readAllStandardError().contains("Записано строк:"));

        const QJsonObject counters = sim.stop();
        const int rows = DataRows(path);
        QVERIFY2(rows >= 25, qPrintable(QString::number(rows))); // 50 at one read per 40 ms
        QCOMPARE(rows, requests(counters, "4"));
        QCOMPARE(requests(counters, "23"), 0);
        QCOMPARE(requests(counters, "6"), 0);
    }

    void stopSignalLeavesACompleteFile()
    {
        Simulator sim({});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        const QString path = m_dir.filePath(QStringLiteral("signal.csv"));
        QProcess ctl;
        start(ctl, {QStringLiteral("record"), QStringLiteral("--port"), sim.device(),
                    QStringLiteral("-o"), path, QStringLiteral("-q")});
        // Rows reach the file at least once a second while the recording runs.
        QTRY_VERIFY_WITH_TIMEOUT(DataRows(path) >= 10, 10000);
        ::kill(pid_t(ctl.processId()), SIGINT);
        QVERIFY(ctl.waitForFinished(10000));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 0);
        QCOMPARE(DataRows(path), requests(sim.stop(), "4"));
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no file") << QStringList{QStringLiteral("record")};
        QTest::newRow("bad duration")
            << QStringList{QStringLiteral("record"), QStringLiteral("-o"), QStringLiteral("x.csv"),
                           QStringLiteral("--duration"), QStringLiteral("10x")};
        QTest::newRow("missing folder")
            << QStringList{QStringLiteral("record"), QStringLiteral("-o"),
                           m_dir.filePath(QStringLiteral("none/x.csv")), QStringLiteral("--port"),
                           QStringLiteral("/dev/null")};
    }

    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QStringList, arguments);
        QProcess ctl;
        ctl.setWorkingDirectory(m_dir.path());
        start(ctl, arguments);
        QVERIFY(ctl.waitForFinished(10000));
        QCOMPARE(ctl.exitCode(), 2);
        QVERIFY(!ctl.readAllStandardError().isEmpty());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("x.csv"))));
    }
};

QTEST_GUILESS_MAIN(TestCtlRecord)
#include "tst_ctlrecord.moc"
