#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <cerrno>
#include <csignal>

// The real programs as a user first meets them: from a terminal without a display, asked for
// their version or help, and the demonstration started from the menu.
class TestFirstRun : public QObject
{
    Q_OBJECT

    static QString program(const QString &name)
    {
        return QDir(qEnvironmentVariable("VORTAN_BIN_DIR")).filePath(name);
    }

    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };
    static Run run(const QString &name, const QStringList &args,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program(name), args);
        Run r;
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return r;
        r.exitCode = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

private slots:
    void noDisplayIsSaidInRussian()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        const Run r = run(QStringLiteral("vortan-service"), {}, env);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith(QStringLiteral("vortan-service: нет графического дисплея")),
                 qPrintable(r.err));
        QVERIFY2(!r.err.contains(QStringLiteral("plugin")), qPrintable(r.err));
    }

    void answersWithoutAWindow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("firstLine");
        const QString version = QStringLiteral(" " VORTAN_VERSION);
        QTest::newRow("service version")
            << "vortan-service" << QStringList{"--version"} << "vortan-service" + version;
        QTest::newRow("Qt's own options accepted")
            << "vortan-service"
            << QStringList{"-platform", "offscreen", "-style=Fusion", "-reverse", "--version"}
            << "vortan-service" + version;
        QTest::newRow("ctl version")
            << "vortanctl" << QStringList{"--version"} << "vortanctl" + version;
        QTest::newRow("sim version")
            << "vortan-sim" << QStringList{"--version"} << "vortan-sim" + version;
        // The bin folder of a build is writable: the file lies beside the program.
        QTest::newRow("help names the configuration file")
            << "vortan-service" << QStringList{"--help"}
            << "Номер порта берётся из файла конфигурации " + program(QStringLiteral("тп.ini")) +
                   ".";
    }
    void answersWithoutAWindow()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(QString, firstLine);
        const Run r = run(name, args);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.split(QLatin1Char('\n')).contains(firstLine), qPrintable(r.out));
    }

    // --demo runs the program on the simulator it starts beside it, and stops it on the way out.
    void demoStartsAndStopsTheSimulator()
    {
        QProcess service;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vortan.startup.info=true"));
        service.setProcessEnvironment(env);
        service.start(program(QStringLiteral("vortan-service")), {QStringLiteral("--demo")});
        QVERIFY(service.waitForStarted(30000));
        QString log;
        const QDeadlineTimer deadline(60000);
        while (!log.contains(QStringLiteral("first frame sent")) && !deadline.hasExpired() &&
               service.state() == QProcess::Running) {
            service.waitForReadyRead(1000);
            log += QString::fromUtf8(service.readAllStandardError());
        }
        QVERIFY2(log.contains(QStringLiteral("first frame sent")), qPrintable(log));
        const QRegularExpressionMatch sim =
            QRegularExpression(QStringLiteral("demo: simulator (\\d+) on")).match(log);
        QVERIFY2(sim.hasMatch(), qPrintable(log));

        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(30000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QCOMPARE(::kill(pid_t(sim.captured(1).toLongLong()), 0), -1);
        QCOMPARE(errno, ESRCH);
    }
};

QTEST_GUILESS_MAIN(TestFirstRun)
#include "tst_firstrun.moc"
