#include "cli/ctl.h"
#include "config/translation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace
{

bool parseInt(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *value = v;
    return true;
}

// "90" or "90s", "10m", "2h", "1h30m": up to 30 days.
bool parseDuration(const QString &text, qint64 *msecs)
{
    static const QRegularExpression form(QStringLiteral("^(?:(\\d+)h)?(?:(\\d+)m)?(?:(\\d+)s?)?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (text.trimmed().isEmpty() || !m.hasMatch())
        return false;
    const qint64 seconds = m.captured(1).toLongLong() * 3600 + m.captured(2).toLongLong() * 60 +
                           m.captured(3).toLongLong();
    if (seconds < 1 || seconds > 30LL * 24 * 3600)
        return false;
    *msecs = seconds * 1000;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vortanctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORTAN_VERSION));
    vortan::installQtTranslation();

    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Вортан: резервное копирование, восстановление, сравнение параметров и поиск "
        "контроллеров из командной строки.\n\n"
        "Команды:\n"
        "  status             состояние контроллера (--json: в виде JSON)\n"
        "  backup -o ФАЙЛ     сохранить 111 параметров в файл (-o - : на экран;\n"
        "                     --all -o ПАПКА: каждого найденного контроллера)\n"
        "  restore ФАЙЛ       записать параметры из файла и проверить чтением\n"
        "                     (--dry-run: только показать, что изменится)\n"
        "  compare ФАЙЛ       сравнить параметры контроллера с файлом\n"
        "  scan               найти контроллеры на линии (--from, --to)\n"
        "  record -o ФАЙЛ     записывать состояние в новый файл CSV до Ctrl+C\n"
        "                     (--duration 10m: 10 минут; --append: дописывать\n"
        "                     в существующий файл с тем же заголовком)\n"
        "  journal -o ФАЙЛ    записывать журнал событий (аварии, флаги, входы,\n"
        "                     связь) в новый файл CSV до Ctrl+C (--duration)\n"
        "  report -o ФАЙЛ.html сервисный отчёт: состояние, 111 параметров, связь\n"
        "                     (--against ФАЙЛ: рядом значения из файла параметров;\n"
        "                     --journal ФАЙЛ.csv: строки журнала событий)\n\n"
        "Коды выхода: 0 выполнено, 1 есть отличия, 2 неверный вызов или файл,\n"
        "3 контроллер не отвечает, 4 порт не открывается, 5 запись в файл прервана."));
    parser.addHelpOption();
    // -v is the exchange trace here, so the version has its long name only.
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Показать версию программы."));
    parser.addPositionalArgument(
        QStringLiteral("команда"),
        QStringLiteral("status, backup, restore, compare, scan, record, journal или report."));
    parser.addPositionalArgument(QStringLiteral("файл"),
                                 QStringLiteral("Файл параметров для restore и compare."),
                                 QStringLiteral("[файл]"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Порт: COMn (номер, как в программе) или путь к устройству. По умолчанию "
                       "порт из файла тп.ini."),
        QStringLiteral("порт"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Адрес контроллера 1..247 (по умолчанию 1)."),
                                     QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption retries(
        QStringLiteral("retries"),
        QStringLiteral("Повторов запроса без ответа (по умолчанию повторять в течение 1 с; при "
                       "поиске 1)."),
        QStringLiteral("N"));
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Файл (или папка с --all) для backup; файл для record, journal и report."),
        QStringLiteral("файл"));
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("backup: все найденные контроллеры, по файлу на "
                                                "адрес (vortan-N.ini)."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("restore: показать изменения, не записывая."));
    const QCommandLineOption changeAddress(
        QStringLiteral("change-address"),
        QStringLiteral("restore: записать и адрес устройства из файла, если он не равен --address "
                       "(контроллер перейдёт на него)."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("status: вывод в JSON."));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("scan: первый адрес (по умолчанию 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("scan: последний адрес (по умолчанию 127)."),
                                QStringLiteral("N"), QStringLiteral("127"));
    const QCommandLineOption duration(
        QStringLiteral("duration"),
        QStringLiteral("record, journal: сколько записывать (90s, 10m, 2h, 1h30m)."),
        QStringLiteral("время"));
    const QCommandLineOption append(
        QStringLiteral("append"),
        QStringLiteral("record: дописывать строки в существующий файл с тем же заголовком "
                       "(без него существующий файл не трогается)."));
    const QCommandLineOption against(
        QStringLiteral("against"),
        QStringLiteral("report: файл параметров, значения которого показать рядом и сравнить."),
        QStringLiteral("файл"));
    const QCommandLineOption journal(
        QStringLiteral("journal"),
        QStringLiteral("report: файл журнала событий (CSV), строки которого включить в отчёт."),
        QStringLiteral("файл"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Без сообщений о ходе работы."));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Печатать каждый обмен на stderr."));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Дописывать каждый обмен строкой в этот файл (как -v)."),
        QStringLiteral("файл"));
    parser.addOptions({version, port, address, retries, output, all, dryRun, changeAddress, json,
                       from, to, quiet, verbose, trace});
    parser.addOption(duration);
    parser.addOption(append);
    parser.addOption(against);
    parser.addOption(journal);
    if (!parser.parse(QCoreApplication::arguments())) {
        err << parser.errorText() << "\nСправка: vortanctl --help\n";
        return vortan::ctl::BadUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        out << "vortanctl " << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }

    const QStringList positional = parser.positionalArguments();
    vortan::ctl::Options o;
    o.command = positional.value(0);
    o.file = positional.value(1);
    o.port = parser.value(port);
    o.output = parser.value(output);
    o.against = parser.value(against);
    o.journal = parser.value(journal);
    o.programVersion = QCoreApplication::applicationVersion();
    o.programDir = QCoreApplication::applicationDirPath();
    o.all = parser.isSet(all);
    o.append = parser.isSet(append);
    o.dryRun = parser.isSet(dryRun);
    o.changeAddress = parser.isSet(changeAddress);
    o.json = parser.isSet(json);
    o.quiet = parser.isSet(quiet);
    o.verbose = parser.isSet(verbose);
    o.trace = parser.value(trace);
    o.progress = ::isatty(STDERR_FILENO) == 1;

    if (o.command.isEmpty() || positional.size() > 2) {
        err << "Укажите одну команду: status, backup, restore, compare, scan, record, journal или "
               "report.\n"
               "Справка: vortanctl --help\n";
        return vortan::ctl::BadUsage;
    }
    if (!parseInt(parser.value(address), 1, 247, &o.address) ||
        !parseInt(parser.value(from), 1, 247, &o.from) ||
        !parseInt(parser.value(to), 1, 247, &o.to) ||
        (parser.isSet(retries) && !parseInt(parser.value(retries), 0, 1000, &o.retries))) {
        err << "Неверное число в параметрах --address, --from, --to или --retries\n";
        return vortan::ctl::BadUsage;
    }
    if (parser.isSet(duration) && !parseDuration(parser.value(duration), &o.durationMs)) {
        err << "Неверное время в --duration: " << parser.value(duration)
            << " (например 90s, 10m, 1h30m)\n";
        return vortan::ctl::BadUsage;
    }
    return vortan::ctl::Run(o, out, err);
}
