#include "cli/ctl.h"

#include "config/configfile.h"
#include "config/portmap.h"
#include "format/formatting.h"
#include "journal/eventjournal.h"
#include "journal/journalfile.h"
#include "modbus/linksession.h"
#include "modbus/portlink.h"
#include "modbus/tracefile.h"
#include "params/paramfiles.h"
#include "params/paramset.h"
#include "params/requesttext.h"
#include "record/csvrecorder.h"
#include "report/journalcsv.h"
#include "report/servicereport.h"
#include "status/statussnapshot.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <csignal>
#include <memory>

namespace vortan::ctl
{

namespace
{

// A bus scan asks each address twice (a frame lost to noise must not hide a controller) and
// gives up on an address that has not begun to answer after 20 ms.
constexpr int ScanAttempts = 2;
constexpr int ScanSilenceMs = 20;
constexpr int ProgressWidth = 30;
constexpr int DeviceAddressIndex = ParamTable::DeviceAddressIndex;

const ParamTable &paramTable()
{
    static const ParamTable table;
    return table;
}

// A progress bar on standard error, redrawn in place; only on a terminal and without -q.
class Progress
{
public:
    Progress(QTextStream &err, bool shown, const QString &what, int total)
        : m_err(err), m_shown(shown && total > 0), m_what(what), m_total(total)
    {
        show(0);
    }
    ~Progress() { finish(); }
    void show(int done)
    {
        if (!m_shown)
            return;
        const int filled =
            m_total > 0 ? qBound(0, done * ProgressWidth / m_total, ProgressWidth) : 0;
        m_err << '\r' << m_what << " [" << QString(filled, QLatin1Char('#'))
              << QString(ProgressWidth - filled, QLatin1Char('-')) << "] " << done << '/' << m_total
              << Qt::flush;
    }
    void finish()
    {
        if (m_shown)
            m_err << "\r\033[K" << Qt::flush;
        m_shown = false;
    }

private:
    QTextStream &m_err;
    bool m_shown;
    QString m_what;
    int m_total;
};

// Prints every exchange on standard error (-v).
class TracePrinter : public ExchangeObserver
{
public:
    explicit TracePrinter(QTextStream &err) : m_err(err) {}
    void exchanged(const ExchangeRecord &record) override
    {
        if (!record.idle())
            m_err << TraceLine(record) << '\n' << Qt::flush;
    }

private:
    QTextStream &m_err;
};

// The values that compare finds unequal to the file (or missing from it). Restore judges its
// dry run and its read-back by this same rule.
QList<int> differingFromFile(ParamSet &controller, const ParamFileSet &file)
{
    controller.compare(file);
    QList<int> indices;
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (controller.state(i) != ParamState::Equal)
            indices << i;
    }
    return indices;
}

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

// Ctrl+C and SIGTERM end a recording after the reply in flight, with the file complete; the
// previous handlers come back afterwards.
class StopSignals
{
public:
    StopSignals()
    {
        stopRequested = 0;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_int);
        ::sigaction(SIGTERM, &action, &m_term);
    }
    ~StopSignals()
    {
        ::sigaction(SIGINT, &m_int, nullptr);
        ::sigaction(SIGTERM, &m_term, nullptr);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;
    bool requested() const { return stopRequested != 0; }

private:
    struct sigaction m_int = {};
    struct sigaction m_term = {};
};

// Tells once when the controller falls silent during a recording and when it answers again.
class LinkWatch : public ExchangeObserver
{
public:
    explicit LinkWatch(QTextStream &err) : m_err(err) {}
    void exchanged(const ExchangeRecord &record) override
    {
        if (record.request.isEmpty())
            return;
        if (record.verdict == Verdict::Good) {
            if (m_lost)
                m_err << "Связь с контроллером восстановлена\n" << Qt::flush;
            m_lost = false;
            m_failures = 0;
            return;
        }
        // One second of failed 40 ms polls.
        if (++m_failures == LinkSession::GiveUpMs / LinkSession::TickMs && !m_lost) {
            m_lost = true;
            m_err << "Контроллер не отвечает; запись продолжится, когда связь восстановится\n"
                  << Qt::flush;
        }
    }

private:
    QTextStream &m_err;
    int m_failures = 0;
    bool m_lost = false;
};

class Command
{
public:
    Command(const Options &o, QTextStream &out, QTextStream &err) : m_o(o), m_out(out), m_err(err)
    {
    }

    int run();

private:
    int openPort();
    QString portLabel() const;
    QString verdictText(const LinkSession::Outcome &outcome) const;
    int failed(const LinkSession::Outcome &outcome, const QString &what);

    bool readStatus(StatusSnapshot &snapshot, int &exit);
    bool readParams(ParamSet &set, int &exit);
    bool readFile(const QString &path, ParamFileSet &file, int &exit);
    QString caption(int index) const;
    void printDifferences(const QList<int> &indices, const ParamSet &controller,
                          const ParamFileSet &file);

    int status();
    int backup();
    int backupTo(const QString &path, int &exit);
    int backupAll();
    int restore();
    int compare();
    int scan();
    QList<int> scanAddresses(int &exit);
    int record();
    int journal();
    int report();

    const Options &m_o;
    QTextStream &m_out;
    QTextStream &m_err;
    int m_portNumber = 0;
    QString m_device;
    std::unique_ptr<PortLink> m_link;
    std::unique_ptr<LinkSession> m_session;
    std::unique_ptr<TracePrinter> m_trace;
    std::unique_ptr<TraceFile> m_traceFile;
};

QString Command::portLabel() const
{
    return m_portNumber > 0 ? QStringLiteral("COM%1 (%2)").arg(m_portNumber).arg(m_device)
                            : m_device;
}

int Command::openPort()
{
    const QString configPath = configfile::locate(m_o.programDir);
    PortMap map = PortMap::fromConfigFile(configPath);
    const QString typed = m_o.port.trimmed();
    if (typed.isEmpty()) {
        quint8 port = 1;
        QString value;
        switch (configfile::readPort(configPath, &port, &value)) {
        case configfile::Read::Ok:
        case configfile::Read::Missing:
            break;
        case configfile::Read::Unreadable:
            m_err << "Ошибка открытия файла " << configPath << " для чтения\n";
            return BadUsage;
        case configfile::Read::BadPort:
            m_err << "В файле " << configPath << " неверный номер порта: «" << value << "»\n";
            return BadUsage;
        }
        m_portNumber = port;
        m_device = map.device(port);
    } else {
        m_device = map.typedDevice(typed, &m_portNumber);
        if (m_device.isEmpty() && m_portNumber == 0) {
            m_err << "Неверный номер порта: " << m_o.port << '\n';
            return BadUsage;
        }
    }

    const QString device = m_device;
    m_link = std::make_unique<PortLink>([device](int) { return device; });
    m_link->selectPort(qMax(1, m_portNumber));
    switch (m_link->open()) {
    case OpenResult::Ok:
        // No window to keep alive: a gateway may take its time to answer, up to a deadline.
        if (m_link->usesNetwork() &&
            !m_link->network().waitForOpen(NetworkLink::ConnectTimeoutMs +
                                           NetworkLink::SettingsTimeoutMs)) {
            m_err << "Порт " << portLabel() << " не доступен\n"
                  << m_link->network().lastError() << '\n';
            return PortFailed;
        }
        break;
    case OpenResult::InUse:
        m_err << "Порт " << portLabel() << " занят другим приложением\n";
        return PortFailed;
    case OpenResult::Forbidden:
        m_err << "Нет доступа к порту " << portLabel()
              << ": пользователь должен входить в группу dialout.\n"
                 "Добавьте себя в группу командой «sudo usermod -aG dialout $USER» и войдите в "
                 "систему заново.\n";
        return PortFailed;
    case OpenResult::Unavailable:
        m_err << "Порт " << portLabel() << " не доступен\n";
        if (m_link->usesNetwork())
            m_err << m_link->network().lastError() << '\n';
        return PortFailed;
    }
    m_session = std::make_unique<LinkSession>(*m_link);
    m_session->setSlaveAddress(m_o.address);
    if (m_o.retries >= 0)
        m_session->setAttempts(m_o.retries + 1);
    if (m_o.verbose) {
        m_trace = std::make_unique<TracePrinter>(m_err);
        m_session->cycle().addObserver(m_trace.get());
    }
    if (!m_o.trace.isEmpty()) {
        m_traceFile = std::make_unique<TraceFile>(m_o.trace);
        m_traceFile->onFailure = [this](const QString &message) {
            m_err << message << "; обмен продолжается без неё.\n" << Qt::flush;
        };
        if (m_traceFile->open())
            m_session->cycle().addObserver(m_traceFile.get());
    }
    return Done;
}

QString Command::verdictText(const LinkSession::Outcome &outcome) const
{
    switch (outcome.lastVerdict) {
    case Verdict::Exception:
        return QStringLiteral("контроллер отказал, код исключения %1").arg(outcome.exceptionCode);
    case Verdict::BadCrc:
        return QStringLiteral("несовпадение КС");
    case Verdict::Stray:
        return QStringLiteral("ответ не соответствует запросу");
    case Verdict::Good:
    case Verdict::NoReply:
    case Verdict::Short:
        break;
    }
    return QStringLiteral("нет ответа");
}

int Command::failed(const LinkSession::Outcome &outcome, const QString &what)
{
    m_err << "Контроллер по адресу " << m_session->slaveAddress() << " (порт " << portLabel()
          << ") не ответил на запрос «" << DescribeRequest(outcome.failed, paramTable()) << "» ["
          << QString::fromLatin1(outcome.failed.toHex(' ').toUpper())
          << "]: " << verdictText(outcome);
    if (outcome.lastVerdict != Verdict::Exception) {
        if (m_session->attempts() > 0)
            m_err << " (попыток: " << m_session->attempts() << ')';
        else
            m_err << " (в течение " << LinkSession::GiveUpMs / 1000 << " с)";
    }
    m_err << ".\n";
    if (!what.isEmpty())
        m_err << what << '\n';
    return NoAnswer;
}

QString Command::caption(int index) const
{
    return paramTable().caption(index);
}

bool Command::readParams(ParamSet &set, int &exit)
{
    set.reset();
    set.readAll(m_session->queue());
    const int total = m_session->queue().waiting();
    Progress bar(m_err, m_o.progress && !m_o.quiet, QStringLiteral("Чтение параметров"), total);
    const LinkSession::Outcome outcome = m_session->run(
        [&set](const RxBuffer &rx) { set.applyReply(rx); }, [&bar](int n) { bar.show(n); });
    bar.finish();
    if (!outcome.ok) {
        exit = failed(outcome, QString());
        return false;
    }
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (set.state(i) != ParamState::Read) {
            m_err << "Контроллер не прислал значение параметра " << i << " «" << caption(i)
                  << "».\n";
            exit = NoAnswer;
            return false;
        }
    }
    return true;
}

bool Command::readFile(const QString &path, ParamFileSet &file, int &exit)
{
    if (!QFileInfo(path).isFile()) {
        m_err << "Файл " << path << " не найден\n";
        exit = BadUsage;
        return false;
    }
    if (!ReadParamSet(path, file)) {
        m_err << "Невозможно прочитать файл " << path
              << " (не файл параметров: двоичный, слишком большой или недоступный)\n";
        exit = BadUsage;
        return false;
    }
    return true;
}

void Command::printDifferences(const QList<int> &indices, const ParamSet &controller,
                               const ParamFileSet &file)
{
    if (indices.isEmpty())
        return;
    m_out << "№\tПараметр\tКонтроллер\tФайл\n";
    for (int i : indices) {
        const QString fileText = file.present[size_t(i)] ? file.values[size_t(i)].trimmed()
                                                         : QStringLiteral("(нет в файле)");
        m_out << i << '\t' << caption(i) << '\t' << controller.text(i).trimmed() << '\t' << fileText
              << '\n';
    }
}

bool Command::readStatus(StatusSnapshot &snapshot, int &exit)
{
    RxBuffer reply;
    m_session->queue().enqueue(StatusPollRequest());
    const LinkSession::Outcome outcome =
        m_session->run([&reply](const RxBuffer &rx) { reply = rx; });
    if (!outcome.ok) {
        exit = failed(outcome, QString());
        return false;
    }
    if (!HoldsStatusBlock(reply)) {
        m_err << "Неполный ответ: " << reply.count << " байт\n";
        exit = NoAnswer;
        return false;
    }
    snapshot = DecodeStatusBlock(reply);
    return true;
}

int Command::status()
{
    StatusSnapshot s;
    if (int exit = Done; !readStatus(s, exit))
        return exit;
    const RegisterMap map = StatusRegisterMap();

    if (m_o.json) {
        QJsonObject root;
        root[QStringLiteral("address")] = m_session->slaveAddress();
        QJsonArray fields;
        for (size_t i = 0; i < map.count; ++i) {
            const RegisterField &f = map.first[i];
            QJsonObject o;
            o[QStringLiteral("name")] = QString::fromLatin1(f.label);
            o[QStringLiteral("group")] = FieldGroupCaption(f.group);
            o[QStringLiteral("caption")] = QString::fromUtf8(f.caption);
            o[QStringLiteral("unit")] = QString::fromUtf8(f.quantity);
            o[QStringLiteral("text")] = s.fieldText(int(i));
            o[QStringLiteral("valid")] = s.fields[i].valid;
            const double number = s.fieldNumber(int(i));
            if (f.isNumber())
                o[QStringLiteral("value")] = std::isnan(number) ? QJsonValue() : QJsonValue(number);
            else
                o[QStringLiteral("value")] = double(s.fields[i].raw);
            fields.append(o);
        }
        root[QStringLiteral("fields")] = fields;
        const auto names = [](auto nameOf, int count, auto on) {
            QJsonArray list;
            for (int k = 0; k < count; ++k) {
                if (on(k) && *nameOf(k))
                    list.append(QString::fromUtf8(nameOf(k)));
            }
            return list;
        };
        root[QStringLiteral("inputs")] =
            names(DiscreteInputName, DiscreteInputLamps, [&s](int k) { return s.inputOn(k); });
        root[QStringLiteral("controlFlags")] =
            names(ControlFlagName, ControlFlagLamps, [&s](int k) { return s.flagOn(k); });
        QJsonArray alarms =
            names(AlarmName, AlarmLamps, [&s](int k) { return s.alarmLevel(k) == 2; });
        QJsonArray warnings =
            names(AlarmName, AlarmLamps, [&s](int k) { return s.alarmLevel(k) == 1; });
        for (const QJsonValue &v :
             names(Alarm1Name, Alarm1Lamps, [&s](int k) { return s.alarmLevel(k, true) == 2; }))
            alarms.append(v);
        for (const QJsonValue &v :
             names(Alarm1Name, Alarm1Lamps, [&s](int k) { return s.alarmLevel(k, true) == 1; }))
            warnings.append(v);
        root[QStringLiteral("alarms")] = alarms;
        root[QStringLiteral("warnings")] = warnings;
        root[QStringLiteral("priorityConflict")] = s.nodeConflict;
        QJsonArray units;
        for (int u = 0; u < StatusUnits; ++u) {
            const UnitReading &r = s.units[size_t(u)];
            QJsonObject o;
            o[QStringLiteral("row")] = u;
            o[QStringLiteral("ratedPower")] = r.maxPower / 10.0;
            o[QStringLiteral("activePower")] = r.activePower / 10.0;
            o[QStringLiteral("state")] = UnitStateLetters(r.state);
            o[QStringLiteral("stateWord")] = r.state;
            o[QStringLiteral("green")] = r.green;
            units.append(o);
        }
        root[QStringLiteral("units")] = units;
        QJsonArray registers;
        for (quint16 w : s.registers)
            registers.append(w);
        root[QStringLiteral("registers")] = registers;
        m_out << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
        return Done;
    }

    m_out << "Контроллер по адресу " << m_session->slaveAddress() << ", порт " << portLabel()
          << '\n';
    for (FieldGroup g : {FieldGroup::Set, FieldGroup::Section, FieldGroup::Buses,
                         FieldGroup::Synchroniser, FieldGroup::LoadSharing, FieldGroup::Service}) {
        m_out << FieldGroupCaption(g) << '\n';
        for (size_t i = 0; i < map.count; ++i) {
            if (map.first[i].group == g)
                m_out << "  " << map.first[i].heading() << ": " << s.fieldText(int(i)).trimmed()
                      << '\n';
        }
    }
    m_out << "Распределение по ЭА группы (номин. P, акт. P, флаги)\n";
    for (int u = 0; u < StatusUnits; ++u) {
        const UnitReading &r = s.units[size_t(u)];
        m_out << "  " << u << ": " << UnitPowerText(r.maxPower) << "  "
              << UnitPowerText(r.activePower) << "  " << UnitStateLetters(r.state)
              << (r.green ? "" : "  (не на связи)") << '\n';
    }
    const auto list = [this](const char *title, auto nameOf, int count, auto on) {
        QStringList names;
        for (int k = 0; k < count; ++k) {
            if (on(k) && *nameOf(k))
                names << QString::fromUtf8(nameOf(k));
        }
        m_out << title << ": "
              << (names.isEmpty() ? QStringLiteral("нет") : names.join(QStringLiteral("; ")))
              << '\n';
    };
    list("Дискр. входы", DiscreteInputName, DiscreteInputLamps,
         [&s](int k) { return s.inputOn(k); });
    list("Управление", ControlFlagName, ControlFlagLamps, [&s](int k) { return s.flagOn(k); });
    const auto alarmNames = [&s](int level) {
        QStringList names;
        for (int k = 0; k < AlarmLamps; ++k) {
            if (s.alarmLevel(k) == level && *AlarmName(k))
                names << QString::fromUtf8(AlarmName(k));
        }
        for (int k = 0; k < Alarm1Lamps; ++k) {
            if (s.alarmLevel(k, true) == level)
                names << QString::fromUtf8(Alarm1Name(k));
        }
        return names.isEmpty() ? QStringLiteral("нет") : names.join(QStringLiteral("; "));
    };
    m_out << "Аварии: " << alarmNames(2) << '\n';
    m_out << "Неисправности: " << alarmNames(1) << '\n';
    if (s.nodeConflict)
        m_out << "На шине уже есть устройство(а) с тем же приоритетом\n";
    return Done;
}

int Command::backupTo(const QString &path, int &exit)
{
    ParamSet set;
    if (!readParams(set, exit))
        return exit;
    if (path == QLatin1String("-")) {
        QTemporaryDir dir;
        const QString temp = dir.filePath(QStringLiteral("backup.ini"));
        QFile file(temp);
        if (!SaveParamSet(temp, set.texts()) || !file.open(QIODevice::ReadOnly)) {
            m_err << "Невозможно подготовить файл параметров\n";
            return exit = BadUsage;
        }
        m_out.flush();
        QFile stdoutFile;
        stdoutFile.open(stdout, QIODevice::WriteOnly);
        stdoutFile.write(file.readAll());
        stdoutFile.flush();
        return exit = Done;
    }
    if (!set.save(path)) {
        m_err << "Невозможно открыть файл " << path << " для записи\n";
        return exit = BadUsage;
    }
    if (!m_o.quiet)
        m_err << "Параметры контроллера по адресу " << m_session->slaveAddress() << " сохранены в "
              << QDir::toNativeSeparators(path) << '\n';
    return exit = Done;
}

int Command::backup()
{
    if (m_o.all)
        return backupAll();
    int exit = Done;
    return backupTo(m_o.output, exit);
}

int Command::backupAll()
{
    const QDir dir(m_o.output);
    if (!dir.exists()) {
        m_err << "Папка " << m_o.output << " не найдена\n";
        return BadUsage;
    }
    int exit = Done;
    const QList<int> found = scanAddresses(exit);
    if (exit != Done)
        return exit;
    if (found.isEmpty()) {
        m_err << "Ни один контроллер не ответил\n";
        return NoAnswer;
    }
    m_session->setAttempts(m_o.retries >= 0 ? m_o.retries + 1 : 0);
    int worst = Done;
    for (int address : found) {
        m_session->setSlaveAddress(address);
        backupTo(dir.filePath(QStringLiteral("vortan-%1.ini").arg(address)), exit);
        worst = qMax(worst, exit);
    }
    return worst;
}

int Command::restore()
{
    ParamFileSet file;
    int exit = Done;
    if (!readFile(m_o.file, file, exit))
        return exit;

    // Refuse before the port is opened unless the controller can store every value exactly as
    // the file gives it: a missing, cut, rounded or clamped value must never reach it.
    const ParamTable &table = paramTable();
    QStringList problems;
    for (int i = 0; i < ParamTable::Count; ++i) {
        const QString key =
            ParamKey(i) + QStringLiteral(" «") + table.caption(i) + QStringLiteral("»: ");
        if (!file.present[size_t(i)]) {
            problems << key + QStringLiteral("нет в файле");
            continue;
        }
        const ParamText value = ParseParamText(table, i, file.values[size_t(i)]);
        if (!value.ok) {
            problems << key + value.reason;
        } else if (i == DeviceAddressIndex && value.raw != m_o.address && !m_o.changeAddress) {
            problems << key + QStringLiteral("в файле адрес %1, а контроллер отвечает по адресу %2 "
                                             "(--address); запись перенесла бы его на адрес %1. "
                                             "Если это нужно, добавьте --change-address")
                                  .arg(value.raw)
                                  .arg(m_o.address);
        }
    }
    if (!problems.isEmpty()) {
        m_err << "Файл " << m_o.file << " не восстановлен, в контроллер ничего не записано.\n";
        for (const QString &p : std::as_const(problems))
            m_err << "  " << p << '\n';
        return BadUsage;
    }

    if ((exit = openPort()) != Done)
        return exit;

    if (m_o.dryRun) {
        ParamSet controller;
        if (!readParams(controller, exit))
            return exit;
        const QList<int> changes = differingFromFile(controller, file);
        printDifferences(changes, controller, file);
        if (!m_o.quiet)
            m_err << "Будет изменено параметров: " << changes.size() << " (ничего не записано)\n";
        return Done;
    }

    // One read before the writes: its answer shows whether the line echoes the requests, so a
    // write's copy need not be waited out a whole tick to tell the echo from the reply.
    if (m_session->lineEcho() == ExchangeCycle::Echo::Unknown) {
        EnqueueParamRead(m_session->queue(), table.Address(DeviceAddressIndex), 1);
        const LinkSession::Outcome probe = m_session->run({}, {});
        if (!probe.ok)
            return failed(probe, QStringLiteral("В контроллер ничего не записано."));
    }

    ParamSet set;
    set.load(file);
    const WriteAllResult queued = set.writeAll(m_session->queue());
    if (queued.status != TransferStatus::Queued) {
        m_err << "Невозможно записать параметры в ЭСППЗУ\n";
        return BadUsage;
    }
    const int total = m_session->queue().waiting();
    LinkSession::Outcome outcome;
    {
        Progress bar(m_err, m_o.progress && !m_o.quiet, QStringLiteral("Запись параметров"), total);
        outcome = m_session->run({}, [&bar](int n) { bar.show(n); });
    }
    if (!outcome.ok)
        return failed(outcome, QStringLiteral("Записано блоков: %1 из %2; остальные не записаны.")
                                   .arg(outcome.answered)
                                   .arg(total));

    // The device address goes last; the controller answers on the new one from now on.
    m_session->setSlaveAddress(
        ParseParamText(table, DeviceAddressIndex, set.text(DeviceAddressIndex)).raw);
    ParamSet readBack;
    if (!readParams(readBack, exit)) {
        m_err << "Все " << total << " блоков записаны, но проверка чтением не выполнена.\n";
        return exit;
    }
    // Judged by compare's rule: "проверено" only when a compare of the file would agree.
    const QList<int> differing = differingFromFile(readBack, file);
    if (!differing.isEmpty()) {
        printDifferences(differing, readBack, file);
        m_err << "После записи отличаются параметров: " << differing.size() << '\n';
        return Differences;
    }
    if (!m_o.quiet)
        m_err << "Записано и проверено: " << ParamTable::Count << " параметров, адрес контроллера "
              << m_session->slaveAddress() << '\n';
    return Done;
}

int Command::compare()
{
    ParamFileSet file;
    int exit = Done;
    if (!readFile(m_o.file, file, exit))
        return exit;
    if ((exit = openPort()) != Done)
        return exit;
    ParamSet controller;
    if (!readParams(controller, exit))
        return exit;
    const QList<int> differing = differingFromFile(controller, file);
    printDifferences(differing, controller, file);
    if (!m_o.quiet)
        m_err << (differing.isEmpty()
                      ? QStringLiteral("Параметры совпадают с файлом\n")
                      : QStringLiteral("Отличаются параметров: %1\n").arg(differing.size()));
    return differing.isEmpty() ? Done : Differences;
}

QList<int> Command::scanAddresses(int &exit)
{
    QList<int> found;
    if (m_o.from < 1 || m_o.to > 247 || m_o.from > m_o.to) {
        m_err << "Неверный диапазон адресов: " << m_o.from << ".." << m_o.to << '\n';
        exit = BadUsage;
        return found;
    }
    m_session->setAttempts(m_o.retries >= 0 ? m_o.retries + 1 : ScanAttempts);
    m_session->setSilenceLimitMs(ScanSilenceMs);
    Progress bar(m_err, m_o.progress && !m_o.quiet, QStringLiteral("Поиск контроллеров"),
                 m_o.to - m_o.from + 1);
    for (int address = m_o.from; address <= m_o.to; ++address) {
        m_session->setSlaveAddress(address);
        m_session->queue().enqueue(StatusPollRequest());
        RxBuffer reply;
        m_session->run([&reply](const RxBuffer &rx) { reply = rx; });
        // A late answer of another address must not be taken for this one.
        if (HoldsStatusBlock(reply) && reply.byte(0) == address && reply.byte(1) == FnReadInput)
            found << address;
        bar.show(address - m_o.from + 1);
    }
    m_session->setSilenceLimitMs(0);
    return found;
}

int Command::scan()
{
    int exit = Done;
    const QList<int> found = scanAddresses(exit);
    if (exit != Done)
        return exit;
    // Versions come from a second read, so the list shows what each controller reports now.
    m_session->setAttempts(m_o.retries >= 0 ? m_o.retries + 1 : 0);
    for (int address : found) {
        m_session->setSlaveAddress(address);
        m_session->queue().enqueue(StatusPollRequest());
        RxBuffer reply;
        m_session->run([&reply](const RxBuffer &rx) { reply = rx; });
        if (!HoldsStatusBlock(reply))
            continue;
        const StatusSnapshot s = DecodeStatusBlock(reply);
        m_out << "Адрес " << address << "\tПротокол: " << s.fieldText(0).trimmed()
              << "\tВерсия ПО: " << s.fieldText(1).trimmed() << '\n';
    }
    if (!m_o.quiet)
        m_err << "Найдено контроллеров: " << found.size() << " (адреса " << m_o.from << ".."
              << m_o.to << ")\n";
    return found.isEmpty() ? NoAnswer : Done;
}

int Command::record()
{
    // A file that would be refused is refused before the port is touched; the file itself is
    // created only once the port is open, so a port that fails leaves nothing behind.
    CsvRecorder recorder;
    const CsvRecorder::Mode mode =
        m_o.append ? CsvRecorder::Mode::Append : CsvRecorder::Mode::Create;
    if (const QString why = recorder.refusal(m_o.output, mode); !why.isEmpty()) {
        m_err << why << '\n';
        return BadUsage;
    }
    if (const int opened = openPort(); opened != Done)
        return opened;
    if (!recorder.start(m_o.output, mode)) {
        m_err << recorder.error() << '\n';
        return BadUsage;
    }
    const StopSignals stop;
    LinkWatch watch(m_err);
    if (!m_o.quiet) {
        m_session->cycle().addObserver(&watch);
        m_err << "Запись состояния контроллера по адресу " << m_session->slaveAddress() << " (порт "
              << portLabel() << ") в файл " << QDir::toNativeSeparators(m_o.output)
              << "; остановка: Ctrl+C\n"
              << Qt::flush;
    }
    const QDeadlineTimer deadline = m_o.durationMs > 0 ? QDeadlineTimer(m_o.durationMs)
                                                       : QDeadlineTimer(QDeadlineTimer::Forever);
    bool failed = false;
    // Only the status block is read: without an operator there are no inputs to write.
    StatusOnlyPoll policy;
    m_session->poll(
        policy,
        [&](const RxBuffer &rx) {
            if (!failed && HoldsStatusBlock(rx) && rx.byte(1) == FnReadInput)
                failed = !recorder.append(DecodeStatusBlock(rx));
        },
        [&] {
            if (!failed)
                failed = !recorder.flushIfDue();
            return !failed && !stop.requested() && !deadline.hasExpired();
        });
    m_session->cycle().removeObserver(&watch);
    if (failed || !recorder.stop()) {
        m_err << recorder.error() << '\n';
        return WriteFailed;
    }
    if (!m_o.quiet) {
        QStringList files;
        for (const QString &f : recorder.files())
            files << QDir::toNativeSeparators(f);
        m_err << "Записано строк: " << recorder.rows();
        if (!files.isEmpty())
            m_err << " (" << files.join(QStringLiteral(", ")) << ')';
        m_err << '\n';
    }
    return recorder.rows() > 0 ? Done : NoAnswer;
}

int Command::journal()
{
    // Refused before the port is touched; created only once it is open.
    JournalFile file;
    if (const QString why = file.refusal(m_o.output); !why.isEmpty()) {
        m_err << why << '\n';
        return BadUsage;
    }
    if (const int opened = openPort(); opened != Done)
        return opened;
    if (!file.startSingle(m_o.output)) {
        m_err << file.error() << '\n';
        return BadUsage;
    }
    const StopSignals stop;
    EventJournal journal;
    bool failed = false;
    QObject::connect(&journal, &EventJournal::added, [&](const JournalEvent &event) {
        failed = failed || !file.append(event);
        if (!m_o.quiet)
            m_err << event.cells().join(QLatin1Char('\t')).trimmed() << '\n' << Qt::flush;
    });
    m_session->cycle().addObserver(&journal);
    if (!m_o.quiet)
        m_err << "Журнал событий контроллера по адресу " << m_session->slaveAddress() << " (порт "
              << portLabel() << ") в файл " << QDir::toNativeSeparators(m_o.output)
              << "; остановка: Ctrl+C\n"
              << Qt::flush;
    const QDeadlineTimer deadline = m_o.durationMs > 0 ? QDeadlineTimer(m_o.durationMs)
                                                       : QDeadlineTimer(QDeadlineTimer::Forever);
    // Only the status block is read: the journal watches, it never commands.
    StatusOnlyPoll policy;
    const int replies = m_session->poll(
        policy,
        [&](const RxBuffer &rx) {
            if (HoldsStatusBlock(rx) && rx.byte(1) == FnReadInput)
                journal.observeStatus(DecodeStatusBlock(rx));
        },
        [&] { return !failed && !stop.requested() && !deadline.hasExpired(); });
    m_session->cycle().removeObserver(&journal);
    file.stop();
    if (failed) {
        m_err << file.error() << '\n';
        return WriteFailed;
    }
    if (!m_o.quiet)
        m_err << "Записано событий: " << file.rows() << " (" << QDir::toNativeSeparators(m_o.output)
              << ")\n";
    return replies > 0 ? Done : NoAnswer;
}

int Command::report()
{
    // The files are judged before the port is opened: a bad one sends nothing.
    ServiceReport r;
    int exit = Done;
    if (!m_o.against.isEmpty()) {
        ParamFileSet file;
        if (!readFile(m_o.against, file, exit))
            return exit;
        r.against = file;
        r.againstName = QDir::toNativeSeparators(m_o.against);
    }
    if (!m_o.journal.isEmpty()) {
        QList<QStringList> rows;
        QString why;
        if (!ReadJournalCsv(m_o.journal, rows, why)) {
            m_err << why << '\n';
            return BadUsage;
        }
        r.journal = rows;
    }
    const QFileInfo target(m_o.output);
    const QString cannotWrite = QStringLiteral("Невозможно открыть файл %1 для записи\n")
                                    .arg(QDir::toNativeSeparators(m_o.output));
    if (target.isDir() || !target.absoluteDir().exists()) {
        m_err << cannotWrite;
        return BadUsage;
    }
    if ((exit = openPort()) != Done)
        return exit;

    // Only reads: the status block and the parameter memory; nothing is written to the controller.
    LinkStats stats;
    m_session->cycle().addObserver(&stats);
    StatusSnapshot status;
    ParamSet set;
    const bool read = readStatus(status, exit) && readParams(set, exit);
    m_session->cycle().removeObserver(&stats);
    if (!read)
        return exit;

    r.time = QDateTime::currentDateTime();
    r.programVersion = m_o.programVersion;
    r.port = portLabel();
    r.address = m_session->slaveAddress();
    r.status = status;
    r.params = set.texts();
    r.link = stats.figures(QDateTime::currentMSecsSinceEpoch());

    // Written whole or not at all: a failure leaves an earlier report of that name as it was.
    const QByteArray html = ReportHtml(r).toUtf8();
    QSaveFile file(m_o.output);
    if (!file.open(QIODevice::WriteOnly) || file.write(html) != html.size() || !file.commit()) {
        m_err << cannotWrite;
        return WriteFailed;
    }
    if (!m_o.quiet) {
        m_err << "Отчёт о контроллере по адресу " << r.address << " сохранён в "
              << QDir::toNativeSeparators(m_o.output);
        if (r.against)
            m_err << "; отличаются от файла параметров: " << ReportDifferences(r).size();
        m_err << '\n';
    }
    return Done;
}

int Command::run()
{
    const QString &c = m_o.command;
    if ((c == QLatin1String("restore") || c == QLatin1String("compare")) && m_o.file.isEmpty()) {
        m_err << "Укажите файл параметров: " << c << " ФАЙЛ\n";
        return BadUsage;
    }
    if (c == QLatin1String("restore"))
        return restore();
    if (c == QLatin1String("compare"))
        return compare();
    if (c == QLatin1String("backup") && m_o.output.isEmpty()) {
        m_err << "Укажите файл: backup -o ФАЙЛ (или -o - для вывода на экран)\n";
        return BadUsage;
    }
    if (c == QLatin1String("record")) {
        if (m_o.output.isEmpty() || m_o.output == QLatin1String("-")) {
            m_err << "Укажите файл: record -o ФАЙЛ\n";
            return BadUsage;
        }
        return record();
    }
    if (c == QLatin1String("report")) {
        if (m_o.output.isEmpty() || m_o.output == QLatin1String("-")) {
            m_err << "Укажите файл: report -o ФАЙЛ.html\n";
            return BadUsage;
        }
        return report();
    }
    if (c == QLatin1String("journal")) {
        if (m_o.output.isEmpty() || m_o.output == QLatin1String("-")) {
            m_err << "Укажите файл: journal -o ФАЙЛ\n";
            return BadUsage;
        }
        return journal();
    }
    if (c != QLatin1String("status") && c != QLatin1String("backup") &&
        c != QLatin1String("scan")) {
        m_err << "Неизвестная команда: " << c << '\n';
        return BadUsage;
    }
    const int opened = openPort();
    if (opened != Done)
        return opened;
    if (c == QLatin1String("status"))
        return status();
    if (c == QLatin1String("backup"))
        return backup();
    return scan();
}

} // namespace

int Run(const Options &options, QTextStream &out, QTextStream &err)
{
    Command command(options, out, err);
    const int exit = command.run();
    out.flush();
    err.flush();
    return exit;
}

} // namespace vortan::ctl
