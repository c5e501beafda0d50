#include "modbus/exchangecycle.h"
#include "modbus/qserialportlink.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "simprocess.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <csignal>

using vortan::Application;
using vortan::test::binDir;
using vortan::test::requests;
using vortan::test::Simulator;

namespace
{

const QString Good = QString::fromUtf8(vortan::StatusGood);
const QString NoReply = QString::fromUtf8(vortan::StatusNoReply);

// The program in-process on its QSerialPort link, driven by its own 40 ms timer.
struct Program {
    QTemporaryDir dir;
    vortan::QSerialPortLink link;
    vortan::test::ScriptedMessages messages;
    std::unique_ptr<Application> app;

    explicit Program(const QString &device) : link([device](int) { return device; })
    {
        vortan::StartupOptions options;
        options.programDir = dir.path();
        app = std::make_unique<Application>(options, link, messages);
    }
    QLabel *status() const { return app->mainWindow().statusLine(); }
};

// What the simulator has answered so far of one function.
int served(Simulator &sim, const char *function)
{
    return requests(sim.query(QStringLiteral("stats")), function);
}

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
    void initTestCase()
    {
        const QString sim = QDir(binDir()).filePath(QStringLiteral("vortan-sim"));
        if (!QFile::exists(sim))
            QFAIL(qPrintable("vortan-sim is not built: " + sim));
    }

    void linkEstablishedAndPollsAlternate()
    {
        Simulator sim({QStringLiteral("--scenario"), QStringLiteral("alarms")});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        Program p(sim.device());
        QVERIFY(p.app->start());
        QVERIFY(p.messages.shown.isEmpty());

        QElapsedTimer running;
        running.start();
        QTRY_VERIFY_WITH_TIMEOUT(p.status()->text().startsWith(Good), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(served(sim, "4") + served(sim, "23") >= 30, 10000);
        p.app->timer1().stop();
        const qint64 ms = running.elapsed();
        QVERIFY2(p.status()->text().startsWith(Good), qPrintable(p.status()->text()));
        QVERIFY(p.app->mainWindow().label("lbl_sw_ver")->text() != QStringLiteral("-"));

        const QJsonObject counters = sim.stop();
        const int polls4 = requests(counters, "4");
        const int polls23 = requests(counters, "23");
        QVERIFY2(qAbs(polls4 - polls23) <= 1,
                 qPrintable(QStringLiteral("4: %1, 23: %2").arg(polls4).arg(polls23)));
        // One exchange per 40 ms tick; a loaded test machine may lose some ticks, never gain.
        const double ticks = double(ms) / Application::TickMs;
        QVERIFY2(polls4 + polls23 >= ticks * 0.5 && polls4 + polls23 <= ticks + 2,
                 qPrintable(QStringLiteral("%1 exchanges in %2 ms").arg(polls4 + polls23).arg(ms)));
        QCOMPARE(requests(counters, "6"), 0);
    }

    void silentControllerRepeatsTheSamePoll()
    {
        Simulator sim({QStringLiteral("--drop"), QStringLiteral("1")});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        Program p(sim.device());
        QVERIFY(p.app->start());
        QTRY_VERIFY_WITH_TIMEOUT(served(sim, "4") >= 5, 10000);
        p.app->timer1().stop();
        QCOMPARE(p.status()->text(), NoReply);
        QCOMPARE(requests(sim.stop(), "23"), 0);
        QCOMPARE(p.app->queue().waiting(), 1);
    }

    void adapterBackResumesWithQueuedCommand()
    {
        QTemporaryDir dir;
        const QString device = dir.filePath(QStringLiteral("ttyAdapter"));
        auto first = std::make_unique<Simulator>(QStringList{}, device);
        QVERIFY2(first->waitReady(), first->errors().constData());
        Program p(device);
        QVERIFY(p.app->start());
        QTRY_VERIFY_WITH_TIMEOUT(p.status()->text().startsWith(Good), 5000);

        // The adapter is pulled: the line goes quiet and the port closes.
        first->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!p.link.isOpen(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(p.status()->text(),
                                  NoReply + QStringLiteral(" (порт COM1 закрыт)"), 1000);
        QTest::mouseClick(p.app->mainWindow().findChild<QPushButton *>("cmd_btn_0"),
                          Qt::LeftButton);

        // Plugged back in: the link reopens by itself and the queued command goes out.
        Simulator second({}, device);
        QVERIFY2(second.waitReady(), second.errors().constData());
        QTRY_VERIFY_WITH_TIMEOUT(p.link.isOpen() && p.status()->text().startsWith(Good), 5000);
        // The command, then polls again: a repeated command would have gone out by then.
        QTRY_COMPARE_WITH_TIMEOUT(served(second, "6"), 1, 5000);
        const int polls = served(second, "4");
        QTRY_VERIFY_WITH_TIMEOUT(served(second, "4") >= polls + 2, 5000);
        p.app->timer1().stop();
        QCOMPARE(requests(second.stop(), "6"), 1);
    }

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
        QTRY_VERIFY_WITH_TIMEOUT(served(sim, "4") >= 5, 10000);

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
    }

    void helpIsRussian()
    {
        QProcess service;
        service.setProgram(QDir(binDir()).filePath(QStringLiteral("vortan-service")));
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
