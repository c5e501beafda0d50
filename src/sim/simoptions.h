#pragma once

#include "sim/linemodel.h"
#include "sim/simmodel.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vortan::sim
{

// Answer requests of one function with a fixed exception code.
struct ExceptionRule {
    int functionCode = 0; // 1..127
    int code = 0;         // 1..255
};

struct SimOptions {
    QString device;  // serve on this existing serial device instead of a pseudo-terminal pair
    QString link;    // symbolic link to the client's end, removed on exit
    int address = 1; // 1..247
    bool addressGiven = false;
    QString memoryFile; // parameter memory image kept across runs
    quint32 seed = 1;
    Scenario scenario = Scenario::Normal;
    double drop = 0.0;    // probability 0..1
    double corrupt = 0.0; // probability 0..1
    int splitMs = -1;     // -1: off
    int delayMs = -1;     // -1: off
    QList<ExceptionRule> exceptions;
    LineSettings line;
    bool verbose = false;
};

struct ParsedArguments {
    enum class Outcome { Run, Help, Version, Error } outcome = Outcome::Run;
    SimOptions options;
    QString text; // the help text or the error message
};

// args include the program name first, as QCoreApplication::arguments() gives them.
ParsedArguments ParseSimArguments(const QStringList &args);

// One line typed on standard input.
struct StdinCommand {
    enum class Kind {
        Drop,
        Corrupt,
        Split,
        Delay,
        Exception,
        Scenario,
        Stats,
        Status,
        Empty,
        Invalid
    };
    Kind kind = Kind::Invalid;
    int ms = 0;
    ExceptionRule rule;
    Scenario scenario = Scenario::Normal;
    QString error;
};
StdinCommand ParseStdinCommand(const QString &line);

bool ParseProbability(const QString &text, double *p);
// 0..60000 ms: longer pauses would only look like a dead line.
bool ParseMilliseconds(const QString &text, int *ms);
// "FC:CODE", e.g. "4:2".
bool ParseExceptionRule(const QString &text, ExceptionRule *rule);
bool ParseScenario(const QString &text, Scenario *scenario);

} // namespace vortan::sim
