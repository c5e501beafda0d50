#include "config/usermessage.h"
#include "diagnostics/monitorwindow.h"
#include "modbus/frames.h"
#include "modbus/linkstats.h"
#include "windowbenchmain.h"

#include <QApplication>

#include <benchmark/benchmark.h>

using namespace vortan;

namespace
{

class NoMessages : public UserMessages
{
public:
    QMessageBox::StandardButton ask(QWidget *, QMessageBox::Icon, const QString &, const QString &,
                                    QMessageBox::StandardButtons) override
    {
        return QMessageBox::Ok;
    }
};

// The alternating polls as the window sees them: a status reply, then a control-state reply.
ExchangeRecord poll(int n)
{
    ExchangeRecord r;
    r.msecsSinceEpoch = 1'700'000'000'000 + 40 * qint64(n);
    r.port = 1;
    r.verdict = Verdict::Good;
    r.replyTimeUs = 12000 + n % 5000;
    if (n % 2 == 0) {
        r.request = BuildTxFrame(StatusPollRequest(), 1);
        r.reply = QByteArray::fromHex("010490") + QByteArray(146, char(n));
    } else {
        r.request = BuildTxFrame(ControlStateRequest(ControlState{}), 1);
        r.reply = QByteArray::fromHex("011702A500D1C4");
    }
    r.bytesReceived = int(r.reply.size());
    return r;
}

// One batch of rows into the window following the newest row, with the ring full: a second of
// exchanges into the table, the statistics, and the repaint that follows.
void BM_MonitorRefresh(benchmark::State &state)
{
    LinkStats stats;
    NoMessages messages;
    MonitorWindow window(stats, messages, nullptr);
    int n = 0;
    for (; n < ExchangeLogModel::DefaultCapacity; ++n) {
        stats.exchanged(poll(n));
        window.exchanged(poll(n));
    }
    window.show();
    window.flushRows();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        for (int i = 0; i < 25 * MonitorWindow::RowsIntervalMs / 1000; ++i, ++n) {
            stats.exchanged(poll(n));
            window.exchanged(poll(n));
        }
        window.flushRows();
        window.refreshStats();
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = window.shownRows().rowCount();
}
BENCHMARK(BM_MonitorRefresh)->Unit(benchmark::kMicrosecond);

// What the window costs each exchange between refreshes.
void BM_MonitorTakesExchange(benchmark::State &state)
{
    LinkStats stats;
    NoMessages messages;
    MonitorWindow window(stats, messages, nullptr);
    const ExchangeRecord r = poll(0);
    int n = 0;
    for (auto _ : state) {
        window.exchanged(r);
        if (++n % 25 == 0) {
            state.PauseTiming();
            window.flushRows();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_MonitorTakesExchange);

} // namespace

int main(int argc, char **argv)
{
    return vortan::bench::RunWindowBenchmarks(argc, argv);
}
