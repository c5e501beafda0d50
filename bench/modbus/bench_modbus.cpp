#include "modbus/exchangecycle.h"
#include "modbus/linkstats.h"
#include "modbus/tracefile.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

using namespace vortan;

namespace
{

QByteArray statusReply()
{
    QByteArray reply = QByteArray::fromHex("010490");
    for (int i = 0; i < 144; ++i)
        reply.append(char(i * 7));
    const quint16 crc = Crc16Modbus(reply);
    reply.append(char(crc & 0xFF));
    reply.append(char(crc >> 8));
    return reply;
}

// The controller's reply waits in the port; the frames sent are counted, not kept.
class ReplayLink : public SerialLink
{
public:
    const QByteArray *pending = nullptr;
    int position = 0;
    int framesWritten = 0;

    void selectPort(int) override {}
    int selectedPort() const override { return 1; }
    OpenResult open() override { return OpenResult::Ok; }
    void close() override {}
    bool isOpen() const override { return true; }
    int bytesWaiting() override { return pending ? int(pending->size()) - position : 0; }
    int readByte() override
    {
        if (!pending || position >= pending->size())
            return -1;
        return quint8(pending->at(position++));
    }
    void write(const QByteArray &) override { ++framesWritten; }
    LinkTiming timing() const override { return {1000, 14000}; }

    void arrive(const QByteArray &reply)
    {
        pending = &reply;
        position = 0;
    }
};

class QuietHost : public CycleHost
{
public:
    void setStatusText(const QString &) override {}
    void decodeReply() override {}
    int slaveAddress() const override { return 1; }
};

void BM_Crc16StatusReply(benchmark::State &state)
{
    const QByteArray reply = statusReply();
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16Modbus(reply));
    state.SetBytesProcessed(state.iterations() * reply.size());
}
BENCHMARK(BM_Crc16StatusReply);

void BM_BuildControlStateFrame(benchmark::State &state)
{
    ControlState s;
    s.controlWord = 0x8001;
    s.priority = 7;
    for (auto _ : state) {
        QByteArray frame = BuildTxFrame(ControlStateRequest(s), 1);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_BuildControlStateFrame);

// The exchange cycle of the window, a status reply waiting for every tick. Only status polls
// go out, so each reply answers the request in flight.
struct TickBench {
    const QByteArray reply = statusReply();
    std::unique_ptr<RequestQueue> queue = std::make_unique<RequestQueue>();
    RxBuffer rx;
    ReplayLink link;
    QuietHost host;
    StatusOnlyPoll poll;
    ExchangeCycle cycle{*queue, rx, link, host, poll};

    void run(benchmark::State &state)
    {
        cycle.ExchangeTick();
        for (auto _ : state) {
            link.arrive(reply);
            cycle.ExchangeTick();
        }
    }
};

void BM_ExchangeTickStatusReply(benchmark::State &state)
{
    TickBench b;
    b.run(state);
    if (b.rx.count != b.reply.size() || !b.rx.crcGood() ||
        CheckReply(b.rx, b.cycle.lastFrame()) != ReplyMatch::Reply)
        state.SkipWithError("the reply was not accepted");
}
BENCHMARK(BM_ExchangeTickStatusReply);

// What a tick costs with the link diagnostics watching: 0 builds the exchange record only, 1 adds
// the link statistics (as the program always runs), 2 also the frame trace to a file.
class NullObserver : public ExchangeObserver
{
public:
    void exchanged(const ExchangeRecord &record) override
    {
        benchmark::DoNotOptimize(record.reply.data());
    }
};

void BM_ExchangeTickObserved(benchmark::State &state)
{
    TickBench b;
    NullObserver record;
    LinkStats stats;
    QTemporaryDir dir;
    TraceFile trace(dir.filePath(QStringLiteral("trace.txt")));
    b.cycle.addObserver(&record);
    if (state.range(0) >= 1)
        b.cycle.addObserver(&stats);
    if (state.range(0) >= 2 && trace.open())
        b.cycle.addObserver(&trace);
    b.run(state);
    if (state.range(0) >= 1 && stats.figures(0).good == 0)
        state.SkipWithError("the statistics saw no good reply");
}
BENCHMARK(BM_ExchangeTickObserved)->Arg(0)->Arg(1)->Arg(2);

// The window's twice-a-second read of the statistics after a long run.
void BM_LinkFigures(benchmark::State &state)
{
    LinkStats stats;
    ExchangeRecord r;
    r.request = QByteArray(8, '\x01');
    r.port = 1;
    for (int i = 0; i < 100000; ++i) {
        r.msecsSinceEpoch = 40 * i;
        r.replyTimeUs = 12000 + (i * 37) % 9000;
        stats.exchanged(r);
    }
    for (auto _ : state) {
        LinkFigures f = stats.figures(r.msecsSinceEpoch);
        benchmark::DoNotOptimize(f.replyP95Us);
    }
}
BENCHMARK(BM_LinkFigures);

} // namespace

BENCHMARK_MAIN();
