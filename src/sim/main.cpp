#include "sim/faultplan.h"
#include "sim/parammemory.h"
#include "sim/ptyrelay.h"
#include "sim/simmodel.h"
#include "sim/simoptions.h"
#include "sim/simserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace vortan::sim;

namespace
{

int s_signalPipe[2] = {-1, -1};

void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(s_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// Standard output is the simulator's channel to whoever started it: the device path first,
// then one answer per command line, and the counters last.
void printLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printError(const QString &text)
{
    std::fprintf(stderr, "vortan-sim: %s\n", text.toLocal8Bit().constData());
}

bool makeLink(const QString &link, const QString &target, QString *error)
{
    const QFileInfo existing(link);
    if (existing.isSymLink()) {
        // Left behind by a simulator that did not end cleanly.
        if (::unlink(QFile::encodeName(link).constData()) != 0) {
            *error = QStringLiteral("cannot replace the old link %1").arg(link);
            return false;
        }
    } else if (existing.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link; not touching it").arg(link);
        return false;
    }
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) !=
        0) {
        *error = QStringLiteral("cannot create the link %1: %2")
                     .arg(link, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

void removeLink(const QString &link, const QString &target)
{
    const QFileInfo info(link);
    if (info.isSymLink() && info.symLinkTarget() == target)
        ::unlink(QFile::encodeName(link).constData());
}

bool installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_signalPipe) != 0)
        return false;
    struct sigaction action {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

int resolveAddress(const SimOptions &options, ParamMemory &memory)
{
    int address = options.address;
    if (!options.addressGiven) {
        const int stored = memory.value(ParamAddress::DeviceAddress, 1);
        address = stored >= 1 && stored <= 247 ? stored : 1;
        if (address != stored)
            printError(QStringLiteral("device address %1 in parameter memory is unusable; "
                                      "answering at %2")
                           .arg(stored)
                           .arg(address));
        else if (address != 1)
            printError(QStringLiteral("answering at device address %1 from parameter memory")
                           .arg(address));
    }
    // The controller reports the address it answers at.
    memory.setValue(ParamAddress::DeviceAddress, 1, address);
    return address;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vortan-sim"));

    const ParsedArguments parsed = ParseSimArguments(QCoreApplication::arguments());
    if (parsed.outcome == ParsedArguments::Outcome::Help) {
        printLine(parsed.text);
        return 0;
    }
    if (parsed.outcome == ParsedArguments::Outcome::Version) {
        printLine(QStringLiteral("vortan-sim " VORTAN_VERSION));
        return 0;
    }
    if (parsed.outcome == ParsedArguments::Outcome::Error) {
        printError(parsed.text + QStringLiteral(" (see --help)"));
        return 2;
    }
    const SimOptions &options = parsed.options;
    QLoggingCategory::setFilterRules(
        options.verbose ? QStringLiteral("qt.modbus*=true\nvortan.sim*=true")
                        : QStringLiteral("qt.modbus*=false\nvortan.sim.debug=false"));

    SimServer::RegisterControllerFunctions();

    ParamMemory memory;
    bool keepMemoryFile = !options.memoryFile.isEmpty();
    if (keepMemoryFile) {
        QString reason;
        if (memory.load(options.memoryFile, &reason) == ParamMemory::LoadResult::Corrupt) {
            printError(QStringLiteral("parameter memory file %1 is unusable (%2); starting from "
                                      "defaults and leaving the file alone")
                           .arg(options.memoryFile, reason));
            keepMemoryFile = false;
        }
    }
    const int address = resolveAddress(options, memory);

    SimCounters counters;
    // The faults draw from their own sequence so that a fault setting never changes the model.
    FaultPlan plan(options.seed ^ 0x9E3779B9u);
    plan.setDropProbability(options.drop);
    plan.setCorruptProbability(options.corrupt);
    plan.setSplitMs(options.splitMs);
    plan.setDelayMs(options.delayMs);
    SimModel model(options.seed, memory);
    model.setScenario(options.scenario);

    PtyRelay relay(plan, counters, options.line);
    QString error;
    const bool lineOpen = options.device.isEmpty() ? relay.openPseudoTerminalPair(&error)
                                                   : relay.openDevice(options.device, &error);
    if (!lineOpen) {
        printError(error);
        return 1;
    }

    SimServer server(model, memory, counters);
    StatusTap statusTap;
    QObject::connect(
        &server, &SimServer::statusBlockServed, &app,
        [&statusTap](quint32 read, const StatusBlock &block) { statusTap.served(read, block); });
    QObject::connect(&relay, &PtyRelay::replyDelivered, &app,
                     [&statusTap](const QByteArray &frame) { statusTap.delivered(frame); });
    server.setConnectionParameter(QModbusDevice::SerialPortNameParameter, relay.serverPortPath());
    server.setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud115200);
    server.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    server.setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::EvenParity);
    server.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::OneStop);
    server.setServerAddress(address);
    for (const ExceptionRule &rule : options.exceptions)
        server.addStandingException(rule);
    if (!server.connectDevice()) {
        printError(QStringLiteral("the Modbus server cannot open %1: %2")
                       .arg(relay.serverPortPath(), server.errorString()));
        return 1;
    }

    if (!options.link.isEmpty() && !makeLink(options.link, relay.clientPath(), &error)) {
        printError(error);
        return 1;
    }

    bool memorySaveFailed = false;
    auto saveMemory = [&] {
        if (!keepMemoryFile)
            return;
        QString reason;
        if (memory.save(options.memoryFile, &reason)) {
            memorySaveFailed = false;
        } else if (!memorySaveFailed) {
            printError(QStringLiteral("cannot save the parameter memory to %1: %2")
                           .arg(options.memoryFile, reason));
            memorySaveFailed = true;
        }
    };
    QObject::connect(&server, &SimServer::memoryWritten, &app, saveMemory);
    // The new address applies once the reply to the write has gone out at the old one.
    QObject::connect(
        &server, &SimServer::deviceAddressWritten, &app,
        [&server](int newAddress) {
            if (newAddress < 1 || newAddress > 247) {
                printError(QStringLiteral("device address %1 written to parameter memory is "
                                          "unusable; still answering at %2")
                               .arg(newAddress)
                               .arg(server.serverAddress()));
                return;
            }
            if (newAddress != server.serverAddress()) {
                printError(QStringLiteral("device address changed to %1").arg(newAddress));
                server.setServerAddress(newAddress);
            }
        },
        Qt::QueuedConnection);
    QObject::connect(&relay, &PtyRelay::failed, &app, [](const QString &reason) {
        printError(reason);
        QCoreApplication::exit(1);
    });

    if (!installSignalHandlers()) {
        printError(QStringLiteral("cannot set up signal handling"));
        return 1;
    }
    QSocketNotifier signalNotifier(s_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(s_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });

    QElapsedTimer uptime;
    uptime.start();
    QByteArray stdinLine;
    // Started without a standard input at all, the simulator simply takes no commands.
    std::unique_ptr<QSocketNotifier> stdinNotifier;
    if (::fcntl(STDIN_FILENO, F_GETFD) != -1)
        stdinNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    auto runCommand = [&](const QString &line) {
        const StdinCommand c = ParseStdinCommand(line);
        switch (c.kind) {
        case StdinCommand::Kind::Empty:
            return;
        case StdinCommand::Kind::Invalid:
            printLine(QStringLiteral("error: %1").arg(c.error));
            return;
        case StdinCommand::Kind::Drop:
            plan.armDrop();
            break;
        case StdinCommand::Kind::Corrupt:
            plan.armCorrupt();
            break;
        case StdinCommand::Kind::Split:
            plan.armSplit(c.ms);
            break;
        case StdinCommand::Kind::Delay:
            plan.armDelay(c.ms);
            break;
        case StdinCommand::Kind::Exception:
            server.armException(c.rule);
            break;
        case StdinCommand::Kind::Scenario:
            model.setScenario(c.scenario);
            break;
        case StdinCommand::Kind::Stats:
            printLine(counters.toJson(double(uptime.nsecsElapsed()) / 1e9));
            return;
        case StdinCommand::Kind::Status:
            printLine(statusTap.toJson());
            return;
        }
        printLine(QStringLiteral("ok %1").arg(line.simplified()));
    };
    if (stdinNotifier)
        QObject::connect(stdinNotifier.get(), &QSocketNotifier::activated, &app, [&] {
            char buffer[1024];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                if (n == 0 || errno != EINTR)
                    stdinNotifier->setEnabled(false);
                return;
            }
            stdinLine.append(buffer, qsizetype(n));
            qsizetype end;
            while ((end = stdinLine.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(stdinLine.left(end));
                stdinLine.remove(0, end + 1);
                runCommand(line);
            }
            if (stdinLine.size() > 4096) {
                printLine(QStringLiteral("error: line too long"));
                stdinLine.clear();
            }
        });

    printLine(relay.clientPath());
    const int rc = QCoreApplication::exec();

    server.disconnectDevice();
    printLine(counters.toJson(double(uptime.nsecsElapsed()) / 1e9));
    if (!options.link.isEmpty())
        removeLink(options.link, relay.clientPath());
    saveMemory();
    return rc;
}
