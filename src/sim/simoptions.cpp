#include "sim/simoptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace vortan::sim
{

namespace
{

bool parseInt(const QString &text, int lo, int hi, int *out)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < lo || v > hi)
        return false;
    *out = int(v);
    return true;
}

} // namespace

bool ParseProbability(const QString &text, double *p)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0.0 || v > 1.0)
        return false;
    *p = v;
    return true;
}

bool ParseMilliseconds(const QString &text, int *ms)
{
    return parseInt(text, 0, 60000, ms);
}

bool ParseExceptionRule(const QString &text, ExceptionRule *rule)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() != 2)
        return false;
    ExceptionRule r;
    if (!parseInt(parts[0], 1, 127, &r.functionCode) || !parseInt(parts[1], 1, 255, &r.code))
        return false;
    *rule = r;
    return true;
}

bool ParseScenario(const QString &text, Scenario *scenario)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("normal")) {
        *scenario = Scenario::Normal;
        return true;
    }
    if (t == QLatin1String("alarms")) {
        *scenario = Scenario::Alarms;
        return true;
    }
    return false;
}

ParsedArguments ParseSimArguments(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Vortan controller simulator: a Modbus RTU slave (115200 8E1) on a pseudo-terminal pair "
        "or a serial device.\n"
        "Prints the client's device path on the first line of standard output.\n"
        "Standard input takes one-shot faults for the next reply: drop, crc, split MS, delay MS, "
        "exception FC:CODE (next request of function FC); also scenario NAME, stats, and status "
        "(the registers of the last status block the client received, as JSON).\n"
        "SIGINT/SIGTERM end it and print the counters as one line of JSON; \"collisions\" "
        "counts requests that met a reply on the bus (both lost)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Serve on an existing serial device."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Also make a symbolic link to the client's end (removed on exit)."),
        QStringLiteral("PATH"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Slave address 1..247 (default: the one in "
                                                    "parameter memory, else 1)."),
                                     QStringLiteral("N"));
    const QCommandLineOption memory(
        QStringLiteral("memory"),
        QStringLiteral("Load the parameter memory from FILE and save it back on every write."),
        QStringLiteral("FILE"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the model and the faults (default 1)."),
                                  QStringLiteral("N"));
    const QCommandLineOption scenario(QStringLiteral("scenario"),
                                      QStringLiteral("normal (default) or alarms."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption drop(QStringLiteral("drop"),
                                  QStringLiteral("Drop each reply with probability P (0..1)."),
                                  QStringLiteral("P"));
    const QCommandLineOption corrupt(
        QStringLiteral("corrupt"),
        QStringLiteral("Send each reply with a bad CRC with probability P (0..1)."),
        QStringLiteral("P"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Send every reply in two halves MS apart."),
                                   QStringLiteral("MS"));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Hold every reply back for MS."),
                                   QStringLiteral("MS"));
    const QCommandLineOption exception(
        QStringLiteral("exception"),
        QStringLiteral("Answer function FC with exception CODE (may be repeated)."),
        QStringLiteral("FC:CODE"));
    const QCommandLineOption line(
        QStringLiteral("line"),
        QStringLiteral("Line model: ideal, usb (--usb-latency 16 --turnaround 10), slow (--pace "
                       "--turnaround 30), echo (--pace --echo), gateway (--gateway-delay 60). "
                       "The options below add to it."),
        QStringLiteral("NAME"));
    const QCommandLineOption pace(
        QStringLiteral("pace"),
        QStringLiteral("Bytes take their time on the line, 95.5 us each (11 bits at 115200), both "
                       "ways."));
    const QCommandLineOption usbLatency(
        QStringLiteral("usb-latency"),
        QStringLiteral("The PC receives through a USB converter: 62-byte packets, a short one when "
                       "its latency timer of MS (1..255) expires. Implies --pace."),
        QStringLiteral("MS"));
    const QCommandLineOption turnaround(
        QStringLiteral("turnaround"),
        QStringLiteral("The controller starts its answer MS after the request's last byte."),
        QStringLiteral("MS"));
    const QCommandLineOption echo(
        QStringLiteral("echo"),
        QStringLiteral("The PC hears each request before the reply, as a 2-wire RS-485 adapter "
                       "without echo suppression does. Implies --pace."));
    const QCommandLineOption gatewayDelay(
        QStringLiteral("gateway-delay"),
        QStringLiteral("Each reply reaches the PC MS late, in one burst, as through a slow "
                       "serial-to-Ethernet gateway."),
        QStringLiteral("MS"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Log Qt's Modbus diagnostics to stderr."));
    parser.addOptions({help,     version,    device,     link,  address,      memory,    seed,
                       scenario, drop,       corrupt,    split, delay,        exception, line,
                       pace,     usbLatency, turnaround, echo,  gatewayDelay, verbose});

    ParsedArguments result;
    auto fail = [&result](const QString &text) {
        result.outcome = ParsedArguments::Outcome::Error;
        result.text = text;
        return result;
    };
    if (!parser.parse(args))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1")
                        .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(help)) {
        result.outcome = ParsedArguments::Outcome::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = ParsedArguments::Outcome::Version;
        return result;
    }

    SimOptions &o = result.options;
    o.device = parser.value(device);
    o.link = parser.value(link);
    o.memoryFile = parser.value(memory);
    o.verbose = parser.isSet(verbose);
    if (parser.isSet(device) && o.device.isEmpty())
        return fail(QStringLiteral("--device needs a path"));
    if (parser.isSet(link) && o.link.isEmpty())
        return fail(QStringLiteral("--link needs a path"));
    if (parser.isSet(memory) && o.memoryFile.isEmpty())
        return fail(QStringLiteral("--memory needs a file name"));
    if (parser.isSet(address)) {
        if (!parseInt(parser.value(address), 1, 247, &o.address))
            return fail(QStringLiteral("--address must be 1..247"));
        o.addressGiven = true;
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        const qulonglong v = parser.value(seed).trimmed().toULongLong(&ok, 10);
        if (!ok || v > 0xFFFFFFFFull)
            return fail(QStringLiteral("--seed must be 0..4294967295"));
        o.seed = quint32(v);
    }
    if (parser.isSet(scenario) && !ParseScenario(parser.value(scenario), &o.scenario))
        return fail(QStringLiteral("--scenario must be normal or alarms"));
    if (parser.isSet(drop) && !ParseProbability(parser.value(drop), &o.drop))
        return fail(QStringLiteral("--drop must be a probability 0..1"));
    if (parser.isSet(corrupt) && !ParseProbability(parser.value(corrupt), &o.corrupt))
        return fail(QStringLiteral("--corrupt must be a probability 0..1"));
    if (parser.isSet(split) && !ParseMilliseconds(parser.value(split), &o.splitMs))
        return fail(QStringLiteral("--split must be 0..60000 ms"));
    if (parser.isSet(delay) && !ParseMilliseconds(parser.value(delay), &o.delayMs))
        return fail(QStringLiteral("--delay must be 0..60000 ms"));
    for (const QString &v : parser.values(exception)) {
        ExceptionRule rule;
        if (!ParseExceptionRule(v, &rule))
            return fail(QStringLiteral("--exception must be FC:CODE with FC 1..127 and CODE "
                                       "1..255, got \"%1\"")
                            .arg(v));
        o.exceptions.append(rule);
    }
    LineSettings &l = o.line;
    if (parser.isSet(line) && !ParseLinePreset(parser.value(line), &l))
        return fail(QStringLiteral("--line must be ideal, usb, slow, echo or gateway"));
    if (parser.isSet(usbLatency) && !parseInt(parser.value(usbLatency), 1, 255, &l.usbLatencyMs))
        return fail(QStringLiteral("--usb-latency must be 1..255 ms"));
    if (parser.isSet(turnaround) && !ParseMilliseconds(parser.value(turnaround), &l.turnaroundMs))
        return fail(QStringLiteral("--turnaround must be 0..60000 ms"));
    if (parser.isSet(gatewayDelay) &&
        !ParseMilliseconds(parser.value(gatewayDelay), &l.gatewayDelayMs))
        return fail(QStringLiteral("--gateway-delay must be 0..60000 ms"));
    l.echo = l.echo || parser.isSet(echo);
    l.pace = l.pace || parser.isSet(pace) || l.echo || l.usbLatencyMs >= 0;
    return result;
}

StdinCommand ParseStdinCommand(const QString &line)
{
    StdinCommand c;
    const QStringList words =
        line.trimmed().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        c.kind = StdinCommand::Kind::Empty;
        return c;
    }
    const QString verb = words[0].toLower();
    auto invalid = [&c](const QString &error) {
        c.kind = StdinCommand::Kind::Invalid;
        c.error = error;
        return c;
    };
    if (verb == QLatin1String("drop") || verb == QLatin1String("crc") ||
        verb == QLatin1String("stats") || verb == QLatin1String("status")) {
        if (words.size() != 1)
            return invalid(QStringLiteral("%1 takes no argument").arg(verb));
        c.kind = verb == QLatin1String("drop")    ? StdinCommand::Kind::Drop
                 : verb == QLatin1String("crc")   ? StdinCommand::Kind::Corrupt
                 : verb == QLatin1String("stats") ? StdinCommand::Kind::Stats
                                                  : StdinCommand::Kind::Status;
        return c;
    }
    if (verb == QLatin1String("split") || verb == QLatin1String("delay")) {
        if (words.size() != 2 || !ParseMilliseconds(words[1], &c.ms))
            return invalid(QStringLiteral("%1 needs a time of 0..60000 ms").arg(verb));
        c.kind =
            verb == QLatin1String("split") ? StdinCommand::Kind::Split : StdinCommand::Kind::Delay;
        return c;
    }
    if (verb == QLatin1String("exception")) {
        if (words.size() != 2 || !ParseExceptionRule(words[1], &c.rule))
            return invalid(QStringLiteral("exception needs FC:CODE (FC 1..127, CODE 1..255)"));
        c.kind = StdinCommand::Kind::Exception;
        return c;
    }
    if (verb == QLatin1String("scenario")) {
        if (words.size() != 2 || !ParseScenario(words[1], &c.scenario))
            return invalid(QStringLiteral("scenario needs normal or alarms"));
        c.kind = StdinCommand::Kind::Scenario;
        return c;
    }
    return invalid(QStringLiteral("unknown command \"%1\"").arg(verb));
}

} // namespace vortan::sim
