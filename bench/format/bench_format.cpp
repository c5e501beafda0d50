#include "config/inifile.h"
#include "format/formatting.h"

#include <QLocale>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vortan;

namespace
{

QString parameterSection(int i)
{
    return i < 8 ? QStringLiteral("Calibration") : QStringLiteral("Parameters");
}

QString parameterKey(int i)
{
    return QStringLiteral("PAR") + QString::number(i);
}

// One status reply shows about forty scaled values; this is the cost of one of them.
void BM_FormatScaled(benchmark::State &state)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    int raw = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatScaled(raw, 1, 0.1, QString()));
        raw = (raw + 7919) % 65536;
    }
}
BENCHMARK(BM_FormatScaled);

void BM_ParseNumber(benchmark::State &state)
{
    const QString text = QStringLiteral("12345,6 ");
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseNumber(text));
}
BENCHMARK(BM_ParseNumber);

// A whole parameter set of 111 values replaced in one atomic save.
void BM_IniDocumentSave111(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("set.par"));
    for (auto _ : state) {
        IniDocument doc;
        doc.load(path);
        for (int i = 0; i <= 110; ++i)
            doc.setValue(parameterSection(i), parameterKey(i), QStringLiteral("230,5 "));
        if (!doc.save(path))
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_IniDocumentSave111)->Unit(benchmark::kMillisecond);

// The same set written value by value, one file replacement per value.
void BM_WriteIniValue111(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("set.par"));
    for (auto _ : state) {
        for (int i = 0; i <= 110; ++i)
            WriteIniValue(path, parameterSection(i), parameterKey(i), QStringLiteral("230,5 "));
    }
}
BENCHMARK(BM_WriteIniValue111)->Unit(benchmark::kMillisecond);

void BM_ReadIniValue111(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("set.par"));
    for (int i = 0; i <= 110; ++i)
        WriteIniValue(path, parameterSection(i), parameterKey(i), QStringLiteral("230,5 "));
    for (auto _ : state) {
        for (int i = 0; i <= 110; ++i)
            benchmark::DoNotOptimize(ReadIniValue(path, parameterSection(i), parameterKey(i),
                                                  QStringLiteral("default")));
    }
}
BENCHMARK(BM_ReadIniValue111)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
