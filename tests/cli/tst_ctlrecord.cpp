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

    // vortanctl record against the simulator, ended by --duration or by Ctrl+C once rows arrive;
    // every status read the simulator served is one row of a complete file.
    void record(const QString &name, const QStringList &extra)
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
            QTRY_VERIFY_WITH_TIMEOUT(DataRows(path) >= 10,
                                     10000); // rows reach the file each second
            ::kill(pid_t(ctl.processId()), SIGINT);
        }
        QVERIFY(ctl.waitForFinished(30000));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 0);
        const QJsonObject counters = sim.stop();
        QVERIFY(DataRows(path) >= 10);
        QCOMPARE(DataRows(path), requests(counters, "4"));
        QCOMPARE(requests(counters, "23"), 0);
        QCOMPARE(requests(counters, "6"), 0);
    }

private slots:
    void recordsEveryStatusReadForItsDuration()
    {
        record(QStringLiteral("duration.csv"), {QStringLiteral("--duration"), QStringLiteral("2")});
    }

    void stopSignalLeavesACompleteFile() { record(QStringLiteral("signal.csv"), {}); }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        QTest::newRow("bad duration") << QStringLiteral("--duration") << QStringLiteral("10x");
        QTest::newRow("missing folder") << QStringLiteral("-o") << QStringLiteral("none/x.csv");
    }

    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QString, option);
        QFETCH(QString, value);
        QProcess ctl;
        ctl.setWorkingDirectory(m_dir.path());
        ctl.start(QDir(binDir()).filePath(QStringLiteral("vortanctl")),
                  {QStringLiteral("record"), QStringLiteral("--port"), QStringLiteral("/dev/null"),
                   QStringLiteral("-o"), QStringLiteral("x.csv"), option, value});
        QVERIFY(ctl.waitForFinished(10000));
        QCOMPARE(ctl.exitCode(), 2);
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("x.csv"))));
    }
};

QTEST_GUILESS_MAIN(TestCtlRecord)
#include "tst_ctlrecord.moc"
