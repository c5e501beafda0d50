// Round trip of requests through vortan-sim's pseudo-terminal pair, as the service program
// sees it: write the request, wait until the whole reply is in. Reports the median and the worst
// case besides Google Benchmark's mean.

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

QString simPath()
{
    const QString dir = qEnvironmentVariable("VORTAN_BIN_DIR");
    if (!dir.isEmpty())
        return dir + QStringLiteral("/vortan-sim");
    return QFileInfo(QStringLiteral("/proc/self/exe"))
               .symLinkTarget()
               .section(QLatin1Char('/'), 0, -2) +
           QStringLiteral("/vortan-sim");
}

class SimLine
{
public:
    SimLine()
    {
        m_sim.start(simPath(), {});
        if (!m_sim.waitForStarted(10000))
            return;
        while (!m_sim.canReadLine() && m_sim.waitForReadyRead(10000)) {
        }
        const QByteArray path = m_sim.readLine().trimmed();
        m_fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return;
        termios t{};
        ::tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        t.c_cflag |= CS8 | CREAD | CLOCAL | PARENB;
        t.c_cflag &= ~PARODD;
        ::tcsetattr(m_fd, TCSANOW, &t);
    }
    ~SimLine()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        ::kill(pid_t(m_sim.processId()), SIGTERM);
        m_sim.waitForFinished(5000);
    }
    bool ok() const { return m_fd >= 0; }

    // false when the reply did not come within a second.
    bool exchange(const QByteArray &request, int replyLength)
    {
        if (::write(m_fd, request.constData(), size_t(request.size())) != request.size())
            return false;
        int got = 0;
        char buffer[512];
        while (got < replyLength) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                return false;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                got += int(n);
        }
        return true;
    }

private:
    QProcess m_sim;
    int m_fd = -1;
};

void roundTrip(benchmark::State &state, const QByteArray &request, int replyLength)
{
    SimLine line;
    if (!line.ok()) {
        state.SkipWithError("vortan-sim did not start");
        return;
    }
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!line.exchange(request, replyLength)) {
            state.SkipWithError("no reply within a second");
            return;
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        micros.push_back(elapsed.count() * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    state.counters["worst_us"] = micros.back();
}

void StatusPoll(benchmark::State &state)
{
    roundTrip(state, QByteArray::fromHex("010407D00048F0B1"), 149);
}

void ParamReadFirstRun(benchmark::State &state)
{
    roundTrip(state, QByteArray::fromHex("0164000031C724"), 56);
}

} // namespace

BENCHMARK(StatusPoll)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(ParamReadFirstRun)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
