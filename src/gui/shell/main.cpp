#include "shell/application.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

// Exit code when the operator ends the program at the port failure message.
constexpr int StartupCancelled = 2;

// A path as typed: relative to the current folder when it names something there, else a device
// name below /dev ("ttyUSB0").
QString devicePath(const QString &typed)
{
#ifdef Q_OS_WIN
    return typed;
#else
    const QFileInfo info(typed);
    if (info.isAbsolute() || info.exists())
        return info.absoluteFilePath();
    return QStringLiteral("/dev/") + typed;
#endif
}

#ifdef Q_OS_UNIX
int quitPipe[2] = {-1, -1};

// The signal may land between a failing call and the read of its errno in the interrupted code.
void onQuitSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &byte, 1);
    errno = savedErrno;
}

// SIGTERM and SIGINT (a demo script ending, Ctrl+C in the terminal) close the program the same
// way as closing its window, so it exits with code 0.
std::unique_ptr<QSocketNotifier> quitOnSignals()
{
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [] {
        char byte = 0;
        while (::read(quitPipe[0], &byte, 1) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    return notifier;
}
#endif

// Qt's own texts (standard buttons "Отмена", "Повторить", the --help headings) in Russian.
void installQtTranslation(QTranslator &translator)
{
    if (translator.load(QStringLiteral("qtbase_ru"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translator);
}

// The options are read before any window system is touched, so --help and a mistyped option
// answer on a terminal without a display.
vortan::StartupOptions parseArguments(int argc, char *argv[])
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vortan-service"));
    QTranslator qtTexts;
    installQtTranslation(qtTexts);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Вортан. Сервисное обслуживание: ведущий Modbus RTU для контроллера "
                       "Вортан (115200 бод, 8 бит, чётность, 1 стоп-бит).\n"
                       "Номер порта берётся из файла тп.ini в папке программы."));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Открыть это устройство вместо устройства порта из тп.ini "
                       "(только на этот запуск, в файл не записывается)."),
        QStringLiteral("путь"));
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral("Демонстрация с симулятором контроллера (порт задаёт сценарий запуска "
                       "./run --demo через --port)."));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"),
        QStringLiteral("Дописывать каждый обмен с контроллером строкой в этот файл (время, "
                       "запрос, ответ, итог, время ответа)."),
        QStringLiteral("файл"));
    const QCommandLineOption monitorOption(QStringLiteral("monitor"),
                                           QStringLiteral("Открыть «Монитор обмена» при запуске."));
    parser.addOption(portOption);
    parser.addOption(demoOption);
    parser.addOption(traceOption);
    parser.addOption(monitorOption);
    parser.process(core);

    vortan::StartupOptions options;
    options.programDir = QCoreApplication::applicationDirPath();
    const QString port = parser.value(portOption).trimmed();
    if (!port.isEmpty())
        options.portDevice = devicePath(port);
    options.tracePath = parser.value(traceOption);
    options.openMonitor = parser.isSet(monitorOption);
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    const vortan::StartupOptions options = parseArguments(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vortan-service"));
    QTranslator qtTexts;
    installQtTranslation(qtTexts);

#ifdef Q_OS_UNIX
    const auto signalWatch = quitOnSignals();
#endif
    vortan::Application program(options);
    if (!program.start())
        return StartupCancelled;
    return QApplication::exec();
}
