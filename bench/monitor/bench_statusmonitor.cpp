#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "monitor/statusmonitor.h"
#include "shell/mainwindow.h"
#include "windowbenchmain.h"

#include <QApplication>
#include <QByteArray>

#include <benchmark/benchmark.h>

#include <memory>

using namespace vortan;

namespace
{

// A full 149-byte function-4 reply; `seed` shifts every value so two seeds differ everywhere.
RxBuffer StatusReply(int seed)
{
    RxBuffer rx;
    QByteArray bytes;
    bytes.append(char(1));
    bytes.append(char(4));
    bytes.append(char(144));
    for (int n = 0; n < StatusRegisterCount; ++n) {
        quint16 v = quint16(1000 + 37 * n + seed * 311);
        if (n == 22)
            v = 0x0007;
        if (n == 23 || n == 24)
            v = quint16(seed ? 0x00AA : 0x0055);
        bytes.append(char(v >> 8));
        bytes.append(char(v & 0xFF));
    }
    const quint16 crc = Crc16Modbus(bytes);
    bytes.append(char(crc & 0xFF));
    bytes.append(char(crc >> 8));
    for (int i = 0; i < bytes.size(); ++i)
        rx.bytes[size_t(i)] = quint8(bytes[i]);
    rx.count = int(bytes.size());
    return rx;
}

struct World {
    MainWindow window;
    RxBuffer rx;
    RequestQueue queue;
    StatusMonitor monitor{&window, rx, queue};
    const RxBuffer replies[2] = {StatusReply(0), StatusReply(1)};

    explicit World(bool shown)
    {
        // Every block painted: the cost of one painting, not the window's refresh rate.
        monitor.setPaintIntervalMs(0);
        window.fillLists();
        if (shown) {
            window.show();
            QCoreApplication::processEvents();
        }
    }
};

void DecodeChanging(benchmark::State &state)
{
    World world(false);
    int turn = 0;
    for (auto _ : state) {
        world.rx = world.replies[turn];
        turn ^= 1;
        world.monitor.DecodeReply();
    }
}
BENCHMARK(DecodeChanging)->Unit(benchmark::kMicrosecond);

void DecodeUnchanged(benchmark::State &state)
{
    World world(false);
    world.rx = world.replies[0];
    world.monitor.DecodeReply();
    for (auto _ : state)
        world.monitor.DecodeReply();
}
BENCHMARK(DecodeUnchanged)->Unit(benchmark::kMicrosecond);

// The whole cost a reply puts on the user-interface thread: decoding plus the repaint it causes.
void DecodeAndRepaintChanging(benchmark::State &state)
{
    World world(true);
    int turn = 0;
    for (auto _ : state) {
        world.rx = world.replies[turn];
        turn ^= 1;
        world.monitor.DecodeReply();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(DecodeAndRepaintChanging)->Unit(benchmark::kMicrosecond);

void DecodeAndRepaintUnchanged(benchmark::State &state)
{
    World world(true);
    world.rx = world.replies[0];
    world.monitor.DecodeReply();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        world.monitor.DecodeReply();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(DecodeAndRepaintUnchanged)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return vortan::bench::RunWindowBenchmarks(argc, argv);
}
