#include "modbus/qserialportlink.h"
#include "params/paramtable.h"
#include "params/paramwindow.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "simprocess.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <memory>

using namespace vortan;

namespace
{

constexpr int TransferDeadlineMs = 10000;
constexpr int Repeats = 5;
const QColor Green(0, 255, 0);

// The service in-process on the simulator's line with the real 40 ms Timer1, the parameters
// window open and filled once.
struct World {
    QString start()
    {
        sim = std::make_unique<test::Simulator>(
            QStringList{QStringLiteral("--memory"), dir.filePath(QStringLiteral("eeprom.bin"))});
        if (!sim->waitReady())
            return QStringLiteral("simulator not ready: ") + QString::fromUtf8(sim->errors());
        link = std::make_unique<QSerialPortLink>([this](int) { return sim->device(); });
        StartupOptions options;
        options.programDir = dir.path();
        app = std::make_unique<Application>(options, *link, messages);
        QObject::connect(&app->timer1(), &QTimer::timeout, app.get(), [this] { ++ticks; });
        if (!app->start())
            return QStringLiteral("the service did not start");
        app->mainWindow().findChild<QAction *>(QStringLiteral("mnu_param"))->trigger();
        for (int i = 0; i < ParamTable::Count; ++i)
            boxes[size_t(i)] =
                app->paramWindow()->findChild<QLineEdit *>(QStringLiteral("txt_par_%1").arg(i));
        if (waitAllGreen() < 0)
            return QStringLiteral("the first read-all did not complete");
        return {};
    }

    void click(const char *name)
    {
        app->paramWindow()->findChild<QPushButton *>(QString::fromLatin1(name))->click();
    }

    // Seconds until every box is green (the simulator echoes writes, so write-all ends with the
    // echo of the device address, written last); -1 at the deadline. Judged right after each
    // tick, so the time is that of the tick that filled the last box.
    double waitAllGreen()
    {
        QElapsedTimer elapsed;
        elapsed.start();
        QEventLoop loop;
        bool done = allGreen();
        QObject::connect(&app->timer1(), &QTimer::timeout, &loop, [&] {
            if (allGreen()) {
                done = true;
                loop.quit();
            }
        });
        QTimer::singleShot(TransferDeadlineMs, &loop, &QEventLoop::quit);
        if (!done)
            loop.exec();
        return done ? double(elapsed.nsecsElapsed()) / 1e9 : -1;
    }

    bool allGreen() const
    {
        for (const QLineEdit *box : boxes)
            if (box->palette().color(QPalette::Base) != Green)
                return false;
        return true;
    }

    // Declared in the order of their lifetimes: the service goes before its line and the
    // simulator, the simulator before its folder.
    QTemporaryDir dir;
    std::unique_ptr<test::Simulator> sim;
    std::unique_ptr<QSerialPortLink> link;
    test::ScriptedMessages messages;
    std::unique_ptr<Application> app;
    std::array<QLineEdit *, ParamTable::Count> boxes{};
    int ticks = 0;
};

// One transfer per iteration: time and Timer1 ticks from the click until the last box is
// green, and the parameter requests the simulator served per transfer.
void runTransfer(benchmark::State &state, const char *button, const char *function)
{
    World world;
    const QString failure = world.start();
    if (!failure.isEmpty()) {
        state.SkipWithError(qPrintable(failure));
        return;
    }
    int ticks = 0;
    int worstTicks = 0;
    for (auto _ : state) {
        const int before = world.ticks;
        world.click(button);
        const double seconds = world.waitAllGreen();
        if (seconds < 0) {
            state.SkipWithError("transfer did not complete");
            return;
        }
        state.SetIterationTime(seconds);
        ticks += world.ticks - before;
        worstTicks = qMax(worstTicks, world.ticks - before);
    }
    world.app->timer1().stop();
    const QJsonObject counters = world.sim->stop();
    const int iterations = int(state.iterations());
    // The window's own read-all at opening served one more set of function-100 requests.
    const int opening =
        QByteArray(function) == "100" ? int(ParamTable().runs(RunPurpose::Read).size()) : 0;
    const int served = test::requests(counters, function) - opening;
    state.counters["ticks"] = double(ticks) / iterations;
    state.counters["worst_ticks"] = worstTicks;
    state.counters["requests"] = double(served) / iterations;
}

void BM_ReadAllFromSimulator(benchmark::State &state)
{
    runTransfer(state, "cmd_readall", "100");
}
BENCHMARK(BM_ReadAllFromSimulator)
    ->Iterations(Repeats)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_WriteAllToSimulator(benchmark::State &state)
{
    runTransfer(state, "cmd_writeall", "101");
}
BENCHMARK(BM_WriteAllToSimulator)
    ->Iterations(Repeats)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The simulator lands beside this program.
    if (qEnvironmentVariableIsEmpty("VORTAN_BIN_DIR"))
        qputenv("VORTAN_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
