#include "record/csvrecorder.h"
#include "record/trendhistory.h"
#include "statusblock.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vortan;

namespace
{

constexpr qint64 StatusEveryMs = 80; // the window's status poll

// Every register set, measurements valid, so every cell of a row is written.
RxBuffer Reply(int seed)
{
    test::StatusRegisters regs;
    for (int n = 0; n < StatusRegisters; ++n)
        regs[n] = quint16(1000 + 37 * n + seed * 311);
    regs[StatusOffset::MeasValidity] = 0x0007;
    return test::StatusBlock(regs);
}

// One good status reply into a recording: the row in the user's number format, handed to the
// system once a second of replies (80 ms apart on the clock) has gathered.
void RecordStatusReply(benchmark::State &state)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QTemporaryDir dir;
    qint64 now = 1700000000000;
    CsvRecorder recorder([&now] { return now; });
    recorder.start(dir.filePath(QStringLiteral("bench.csv")));
    const StatusSnapshot snapshots[2] = {DecodeStatusBlock(Reply(0)), DecodeStatusBlock(Reply(1))};
    int turn = 0;
    for (auto _ : state) {
        now += StatusEveryMs;
        recorder.append(snapshots[turn]);
        turn ^= 1;
    }
    recorder.stop();
    state.counters["rows"] = double(recorder.rows());
}
BENCHMARK(RecordStatusReply)->Unit(benchmark::kMicrosecond);

// What the program adds to each status reply the monitor has decoded: the history sample and the
// recorded row.
void HistoryAndRecordPerReply(benchmark::State &state)
{
    QTemporaryDir dir;
    qint64 now = 1700000000000;
    CsvRecorder recorder([&now] { return now; });
    recorder.start(dir.filePath(QStringLiteral("bench.csv")));
    TrendHistory history;
    const StatusSnapshot snapshot = DecodeStatusBlock(Reply(0));
    for (auto _ : state) {
        now += StatusEveryMs;
        history.append(now, snapshot);
        recorder.append(snapshot);
    }
}
BENCHMARK(HistoryAndRecordPerReply)->Unit(benchmark::kMicrosecond);

// One refresh of the trend window's data: 8 curves over the last 15 minutes of a full hour of
// history, reduced to 800 pixel columns.
void EightCurvesOverFifteenMinutes(benchmark::State &state)
{
    TrendHistory history;
    const StatusSnapshot snapshots[2] = {DecodeStatusBlock(Reply(0)), DecodeStatusBlock(Reply(1))};
    qint64 now = 1700000000000;
    for (int n = 0; n < TrendHistory::DefaultCapacity; ++n) {
        now += StatusEveryMs;
        history.append(now, snapshots[n % 2]);
    }
    const qint64 span = 15 * 60 * 1000;
    size_t points = 0;
    for (auto _ : state) {
        for (int f = 0; f < 8; ++f)
            points += history.curve(f, now - span, now, 800).size();
    }
    benchmark::DoNotOptimize(points);
}
BENCHMARK(EightCurvesOverFifteenMinutes)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
