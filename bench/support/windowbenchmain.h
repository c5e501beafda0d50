#pragma once

#include <QApplication>

#include <benchmark/benchmark.h>

namespace vortan::bench
{

// main() of a benchmark that builds windows: offscreen unless a platform is given, one
// QApplication, then Google Benchmark with its own options.
inline int RunWindowBenchmarks(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace vortan::bench
