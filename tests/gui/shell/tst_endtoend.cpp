#include "simprocess.h"

#include <QtTest>

#include <csignal>

using vortan::test::binDir;
using vortan::test::requests;
using vortan::test::Simulator;

namespace
{

// The service binary offscreen, logging its start-up steps to standard error.
void startService(QProcess &service, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vortan.startup.info=true"));
    service.setProcessEnvironment(env);
    service.start(service.program(), arguments);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    // The program binary on the simulator: it polls status and control state in turn, ends on
    // SIGTERM, and keeps the --port device out of its configuration.
    void programBinaryRunsOnThePortOption()
    {
        Simulator sim({});
        QVERIFY2(sim.waitReady(), sim.errors().constData());

        // A private copy, so the configuration file lands in a folder of the test's own.
        QTemporaryDir dir;
        QProcess service;
        service.setProgram(dir.filePath(QStringLiteral("vortan-service")));
        QVERIFY(QFile::copy(QDir(binDir()).filePath(QStringLiteral("vortan-service")),
                            service.program()));
        startService(service, {QStringLiteral("--port"), sim.device()});
        QVERIFY(service.waitForStarted());

        QByteArray log;
        QDeadlineTimer deadline(10000);
        while (!log.contains("first frame sent") && !deadline.hasExpired()) {
            service.waitForReadyRead(100);
            log += service.readAllStandardError();
        }
        QVERIFY2(log.contains("first frame sent"), log.constData());
        QTRY_VERIFY_WITH_TIMEOUT(requests(sim.query(QStringLiteral("stats")), "4") >= 5, 10000);

        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QCOMPARE(service.readAllStandardOutput(), QByteArray());

        const QJsonObject counters = sim.stop();
        QVERIFY(qAbs(requests(counters, "4") - requests(counters, "23")) <= 1);

        // The device given on the command line is not written into the configuration.
        QFile config(dir.filePath(QStringLiteral("тп.ini")));
        QVERIFY(config.open(QIODevice::ReadOnly));
        const QByteArray saved = config.readAll();
        QVERIFY2(saved.contains("COM=1") && !saved.contains(sim.device().toUtf8()),
                 saved.constData());

        startService(service, {QStringLiteral("--help")});
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 0);
        const QString help = QString::fromUtf8(service.readAllStandardOutput());
        for (const QString &part : {QStringLiteral("--port <путь>"), QStringLiteral("--demo"),
                                    QStringLiteral("Параметры:"), QStringLiteral("тп.ini")})
            QVERIFY2(help.contains(part), qPrintable(help));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
