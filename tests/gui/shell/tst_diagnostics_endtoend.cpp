#include "diagnostics/monitorwindow.h"
#include "modbus/linkstats.h"
#include "modbus/qserialportlink.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "simprocess.h"

#include <QtTest>

using vortan::Application;
using vortan::test::binDir;
using vortan::test::requests;
using vortan::test::Simulator;

namespace
{

int served(const QJsonObject &c)
{
    return requests(c, "4") + requests(c, "6") + requests(c, "23") + requests(c, "100") +
           requests(c, "101");
}

int replies(const QJsonObject &c)
{
    return c.value(QStringLiteral("replies")).toInt(-1);
}

int fault(const QJsonObject &c, const char *name)
{
    return c.value(QStringLiteral("faults")).toObject().value(name).toInt(-1);
}

// The lines of a trace file, column line left out.
QStringList traceLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#'))
            lines << QString::fromUtf8(line);
    }
    return lines;
}

} // namespace

class TestDiagnosticsEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    // Against a line that drops one reply in ten, corrupts one in twenty and delays every one
    // by 10 ms: the statistics count exactly the simulator's faults, the trace has one line per
    // exchange with the same verdicts, and the reply times are the line's, not the tick's. Each
    // tick comes at least 40 ms after the one before, as on the timer, and not before the
    // simulator has answered or dropped the request, so a loaded machine cannot turn a late
    // reply into a missing one.
    void statisticsAndTraceMatchTheSimulatorsFaults()
    {
        Simulator sim({"--drop", "0.1", "--corrupt", "0.05", "--delay", "10", "--seed", "11"});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        QTemporaryDir dir;
        const QString device = sim.device();
        vortan::QSerialPortLink link([device](int) { return device; });
        vortan::test::ScriptedMessages messages;
        vortan::StartupOptions options;
        options.programDir = dir.path();
        options.tracePath = dir.filePath(QStringLiteral("trace.txt"));
        options.openMonitor = true;
        auto app = std::make_unique<Application>(options, link, messages);
        QVERIFY(app->start(false));
        vortan::LinkStats &stats = app->linkStats();

        QJsonObject c;
        int drops = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        app->ExchangeTick();
        for (int sent = 1; sent <= 150; ++sent) {
            QVERIFY(QTest::qWaitFor(
                [&] {
                    c = sim.query(QStringLiteral("stats"));
                    return served(c) == sent && replies(c) + fault(c, "drop") == sent;
                },
                5000));
            if (fault(c, "drop") == drops)
                QVERIFY(QTest::qWaitFor([&] { return link.bytesWaiting() > 0; }, 5000));
            drops = fault(c, "drop");
            QVERIFY(QTest::qWaitFor([&] { return sinceTick.hasExpired(Application::TickMs); }));
            sinceTick.start();
            app->ExchangeTick();
        }

        const vortan::LinkFigures f = stats.figures(0);
        const QList<quint64> program{f.exchanges, f.noReply, f.badCrc, f.good,
                                     f.shortReply + f.exceptions};
        QCOMPARE(program, (QList<quint64>{quint64(served(c)), quint64(fault(c, "drop")),
                                          quint64(fault(c, "corrupt")),
                                          quint64(replies(c) - fault(c, "corrupt")), 0}));
        QVERIFY(f.noReply > 0 && f.badCrc > 0);
        QVERIFY2(f.replyMinUs >= 10000 && f.replyMedianUs < 30000,
                 qPrintable(QStringLiteral("%1 / %2 us").arg(f.replyMinUs).arg(f.replyMedianUs)));

        vortan::MonitorWindow *window = app->monitorWindow();
        QVERIFY(window && window->isVisible());
        window->flushRows();
        QCOMPARE(quint64(window->log().rowCount()), f.exchanges);

        app.reset();
        const QStringList lines = traceLines(options.tracePath);
        QCOMPARE(quint64(lines.size()), f.exchanges);
        QCOMPARE(quint64(lines.filter(QStringLiteral("\tnoreply\t")).size()), f.noReply);
        QCOMPARE(quint64(lines.filter(QStringLiteral("\tcrc\t")).size()), f.badCrc);
        QCOMPARE(quint64(lines.filter(QStringLiteral("\tgood\t")).size()), f.good);
    }

    // vortanctl writes the same lines to --trace as -v prints; a trace it cannot write is said
    // once on standard error and the command still does its work.
    void vortanctlTrace()
    {
        Simulator sim({});
        QVERIFY2(sim.waitReady(), sim.errors().constData());
        QTemporaryDir dir;
        const QString ctl = QDir(binDir()).filePath(QStringLiteral("vortanctl"));
        const auto run = [&](const QString &trace, QByteArray *err) {
            QProcess p;
            p.start(ctl, {"status", "--port", sim.device(), "--trace", trace, "-v", "-q"});
            const bool done = p.waitForFinished(30000);
            *err = p.readAllStandardError();
            return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QString path = dir.filePath(QStringLiteral("ctl-trace.txt"));
        QByteArray err;
        QCOMPARE(run(path, &err), 0);
        const QStringList printed =
            QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(traceLines(path), printed);
        QCOMPARE(printed.size(), 1);
        bool timed = false;
        printed.first().section(QLatin1Char('\t'), 4, 4).toDouble(&timed);
        QVERIFY2(timed, qPrintable(printed.first())); // the reply time on the line, in ms

        const QString bad = dir.filePath(QStringLiteral("нет/trace.txt"));
        QCOMPARE(run(bad, &err), 0);
        QCOMPARE(QString::fromUtf8(err).count(QStringLiteral("Файл трассировки ") + bad), 1);
    }
};

QTEST_MAIN(TestDiagnosticsEndToEnd)
#include "tst_diagnostics_endtoend.moc"
