#include "config/usermessage.h"
#include "modbus/requestqueue.h"
#include "params/paramfiles.h"
#include "params/paramwindow.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

using namespace vortan;

namespace
{

QStringList typicalSet()
{
    QStringList texts;
    for (int i = 0; i < ParamTable::Count; ++i)
        texts << QStringLiteral("%1,%2 ").arg(i * 13 % 4000).arg(i % 10);
    return texts;
}

// Creating the window with its 111 boxes and captions, opening it (read-all queued) and letting
// it lay out and paint once.
void BM_OpenParamWindow(benchmark::State &state)
{
    QWidget owner;
    QLabel status(&owner);
    for (auto _ : state) {
        auto queue = std::make_unique<RequestQueue>();
        ParamSet set;
        ParamWindow window(set, *queue, &status, realUserMessages(), &owner);
        window.openWindow();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(queue->waiting());
    }
}
BENCHMARK(BM_OpenParamWindow)->Unit(benchmark::kMillisecond);

void BM_SaveParamSet(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("set.ini"));
    const QStringList texts = typicalSet();
    SaveParamSet(path, texts);
    for (auto _ : state) {
        if (!SaveParamSet(path, texts))
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_SaveParamSet)->Unit(benchmark::kMillisecond);

void BM_LoadParamSet(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("set.ini"));
    SaveParamSet(path, typicalSet());
    for (auto _ : state) {
        ParamFileSet set;
        if (!ReadParamSet(path, set))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(set.present);
    }
}
BENCHMARK(BM_LoadParamSet)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
