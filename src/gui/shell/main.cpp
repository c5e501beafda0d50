#include "config/configfile.h"
#include "config/portmap.h"
#include "config/translation.h"
#include "config/usermessage.h"
#include "journal/journalfile.h"
#include "shell/application.h"
#include "shell/demosimulator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
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
// Exit code when there is no display to show the window on, or the demonstration cannot start.
constexpr int CannotStart = 1;

// Like a mistyped option, which QCommandLineParser ends with 1.
constexpr int BadArguments = 1;
const char *const BadPort =
    "vortan-service: у порта %1 нет устройства: номера портов от 1 до 255, устройства портов "
    "после 16 задаются в разделе Ports файла конфигурации.\n";

const char *const NoDisplay =
    "vortan-service: нет графического дисплея, окно программы показать негде.\n"
    "Запустите программу в графическом сеансе (из меню или из его терминала) или укажите "
    "дисплей: DISPLAY=:0 vortan-service.\n"
    "Для работы с контроллером из командной строки есть vortanctl (vortanctl --help).\n";

struct Arguments {
    vortan::StartupOptions options;
    bool demo = false;
    bool platformGiven = false; // -platform, -display or QT_QPA_PLATFORM: Qt is told where to draw
};

// Qt's own options (qt6options(7)): QApplication takes them, so our parser must not refuse them.
// Those of the first list take a value in the next argument unless given as -name=value.
bool isQtOption(const QString &arg, bool *takesValue)
{
    static const QStringList withValue =
        QStringLiteral("platform platformpluginpath platformtheme plugin qwindowgeometry "
                       "qwindowicon qwindowtitle session display geometry title icon name style "
                       "stylesheet")
            .split(QLatin1Char(' '));
    static const QStringList flags =
        QStringLiteral("reverse widgetcount nograb dograb sync testability qmljsdebugger dialogs "
                       "fontengine")
            .split(QLatin1Char(' '));
    if (!arg.startsWith(QLatin1Char('-')))
        return false;
    QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf(QLatin1Char('='));
    if (equals >= 0)
        name.truncate(equals);
    *takesValue = equals < 0 && withValue.contains(name);
    return withValue.contains(name) || flags.contains(name);
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

// The options are read before any window system is touched, so --help, --version and a mistyped
// option answer on a terminal without a display.
Arguments parseArguments(int argc, char *argv[])
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vortan-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORTAN_VERSION));
    vortan::installQtTranslation();

    Arguments result;
    result.platformGiven = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    QStringList ours;
    const QStringList all = QCoreApplication::arguments();
    for (qsizetype i = 0; i < all.size(); ++i) {
        bool takesValue = false;
        if (i == 0 || !isQtOption(all[i], &takesValue)) {
            ours.append(all[i]);
            continue;
        }
        const QString name = all[i].section(QLatin1Char('='), 0, 0);
        if (name.endsWith(QLatin1String("platform")) || name.endsWith(QLatin1String("display")))
            result.platformGiven = true;
        if (takesValue)
            ++i;
    }

    const QString programDir = QCoreApplication::applicationDirPath();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Вортан. Сервисное обслуживание: ведущий Modbus RTU для контроллера "
                       "Вортан (115200 бод, 8 бит, чётность, 1 стоп-бит).\n"
                       "Номер порта берётся из файла конфигурации %1.\n"
                       "Журнал событий пишется по файлу на день в папку %2.\n"
                       "Принимаются и стандартные параметры Qt (-platform, -style, -geometry и "
                       "другие).")
            .arg(vortan::configfile::locate(programDir),
                 QDir::toNativeSeparators(vortan::JournalFile::dailyFolder())));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Открыть это устройство вместо устройства порта из тп.ini "
                       "(только на этот запуск, в файл не записывается)."),
        QStringLiteral("путь"));
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral("Демонстрация: запустить симулятор контроллера vortan-sim из папки "
                       "программы и работать с ним вместо порта (симулятор останавливается "
                       "вместе с программой)."));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"),
        QStringLiteral("Дописывать каждый обмен с контроллером строкой в этот файл (время, "
                       "запрос, ответ, итог, время ответа)."),
        QStringLiteral("файл"));
    const QCommandLineOption monitorOption(QStringLiteral("monitor"),
                                           QStringLiteral("Открыть «Монитор обмена» при запуске."));
    const QCommandLineOption trendsOption(
        QStringLiteral("trends"), QStringLiteral("Открыть окно «Тренды» вместе с главным окном."));
    const QCommandLineOption recordOption(
        QStringLiteral("record"),
        QStringLiteral("Записывать состояние контроллера в этот новый файл CSV с самого запуска "
                       "(существующий файл не трогается)."),
        QStringLiteral("файл"));
    const QCommandLineOption appendOption(
        QStringLiteral("append"),
        QStringLiteral("С --record: дописывать строки в существующий файл с тем же заголовком."));
    parser.addOption(portOption);
    parser.addOption(demoOption);
    parser.addOption(trendsOption);
    parser.addOption(recordOption);
    parser.addOption(appendOption);
    parser.addOption(traceOption);
    parser.addOption(monitorOption);
    parser.process(ours);

    result.options.programDir = programDir;
    result.demo = parser.isSet(demoOption);
    const QString port = parser.value(portOption).trimmed();
    if (!port.isEmpty()) {
        const vortan::PortMap ports =
            vortan::PortMap::fromConfigFile(vortan::configfile::locate(programDir));
        result.options.portDevice = ports.typedDevice(port);
        if (result.options.portDevice.isEmpty()) {
            std::fputs(qUtf8Printable(QString::fromUtf8(BadPort).arg(port)), stderr);
            std::exit(BadArguments);
        }
    }
    result.options.showTrends = parser.isSet(trendsOption);
    if (parser.isSet(recordOption))
        result.options.recordPath = QFileInfo(parser.value(recordOption)).absoluteFilePath();
    result.options.appendRecord = parser.isSet(appendOption);
    result.options.tracePath = parser.value(traceOption);
    result.options.openMonitor = parser.isSet(monitorOption);
    result.options.journalFolder = vortan::JournalFile::dailyFolder();
    return result;
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#define VORTAN_X11_OR_WAYLAND
// Where Qt would only abort with a message about platform plugins, say what is wrong.
bool displayMissing(const Arguments &arguments)
{
    return !arguments.platformGiven && qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QtMessageHandler qtMessages = nullptr;

// A display that is named but cannot be reached still ends in Qt's fatal plugin message.
void noDisplayOnFatal(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        std::fputs(NoDisplay, stderr);
        std::_Exit(CannotStart);
    }
    if (qtMessages)
        qtMessages(type, context, text);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    Arguments arguments = parseArguments(argc, argv);
#ifdef VORTAN_X11_OR_WAYLAND
    if (displayMissing(arguments)) {
        std::fputs(NoDisplay, stderr);
        return CannotStart;
    }
    qtMessages = qInstallMessageHandler(noDisplayOnFatal);
#endif
    QApplication app(argc, argv);
#ifdef VORTAN_X11_OR_WAYLAND
    qInstallMessageHandler(qtMessages);
#endif
    QApplication::setApplicationName(QStringLiteral("vortan-service"));
    QApplication::setApplicationVersion(QStringLiteral(VORTAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("vortan-service"));
    vortan::installQtTranslation();

#ifdef Q_OS_UNIX
    const auto signalWatch = quitOnSignals();
#endif
    // Declared before the program, so the simulator is stopped after the port is closed.
    vortan::DemoSimulator simulator;
    if (arguments.demo) {
        QString error;
        arguments.options.portDevice = simulator.start(arguments.options.programDir, &error);
        if (arguments.options.portDevice.isEmpty()) {
            vortan::realUserMessages().ask(nullptr, QMessageBox::Critical,
                                           QStringLiteral("Демонстрация"), error, QMessageBox::Ok);
            return CannotStart;
        }
        // The simulator's events are not a controller's: the day's journal file stays clean.
        arguments.options.journalFolder.clear();
    }
    vortan::Application program(arguments.options);
    if (!program.start())
        return StartupCancelled;
    return QApplication::exec();
}
