#include "config/usermessage.h"
#include "statusblock.h"
#include "trends/trendplot.h"
#include "trends/trendwindow.h"
#include "windowbenchmain.h"

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>

using namespace vortan;

namespace
{

// Drifting values, as the simulator sends them, for the last `minutes` up to now.
void Fill(TrendHistory &history, int minutes)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int samples = minutes * 60 * 1000 / 80;
    for (int n = 0; n < samples; ++n) {
        test::StatusRegisters regs;
        for (int r = 0; r < StatusRegisters; ++r)
            regs[r] = quint16(2000 + r * 10 + 50 * std::sin((n + 37 * r) / 500.0) + (n * r) % 5);
        regs[StatusOffset::MeasValidity] = 0x0007;
        history.append(now - qint64(samples - n) * 80, DecodeStatusBlock(test::StatusBlock(regs)));
    }
}

// What the refresh timer costs the user-interface thread once a second at 15 minutes: the curves
// recomputed from the history, the axes moved on, and the chart painted.
void RefreshEightCurvesOverFifteenMinutes(benchmark::State &state)
{
    QTemporaryDir dir;
    TrendHistory history;
    Fill(history, 15);
    CsvRecorder recorder;
    TrendWindow window(history, recorder, dir.filePath(QStringLiteral("тп.ini")),
                       realUserMessages());
    window.setSelectedFields({QStringLiteral("lbl_phAU"), QStringLiteral("lbl_phBU"),
                              QStringLiteral("lbl_phCU"), QStringLiteral("lbl_phAI"),
                              QStringLiteral("lbl_fr"), QStringLiteral("lbl_ap"),
                              QStringLiteral("lbl_cosfi"), QStringLiteral("lbl_ovl_duty")});
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        window.refresh();
        window.plot()->viewport()->repaint();
    }
}
BENCHMARK(RefreshEightCurvesOverFifteenMinutes)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return vortan::bench::RunWindowBenchmarks(argc, argv);
}
