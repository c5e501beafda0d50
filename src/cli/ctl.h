#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

namespace vortan::ctl
{

// Exit codes of vortanctl.
enum Exit {
    Done = 0,
    Differences = 1, // compare, or a restore whose read-back differs
    BadUsage = 2,    // bad options, a bad or unreadable file; nothing was sent
    NoAnswer = 3,    // a request got no good reply within its attempts
    PortFailed = 4,  // the port cannot be opened
    WriteFailed = 5, // record, journal: the file could not be written (disk full); rows are kept
};

struct Options {
    QString command; // status, backup, restore, compare, scan, record, journal, report
    QString file;    // restore / compare
    QString output;  // backup -o (a file, "-", or a folder with --all); record, journal, report -o
    QString against; // report --against: a parameter file shown beside the controller's values
    QString journal; // report --journal: a journal file whose rows the report lists
    QString port;    // --port as typed; empty: the configuration file's port
    QString programDir; // configfile::locate finds the configuration file from here
    QString programVersion;
    QString trace; // --trace: the frame trace file; empty: none
    int address = 1;
    int retries = -1; // repeats after the first try; -1: about one second's worth
    int from = 1;
    int to = 127;
    qint64 durationMs = 0; // record, journal --duration; 0: until Ctrl+C or a stop signal
    bool json = false;
    bool dryRun = false;
    bool changeAddress = false; // restore: the file's device address may differ from --address
    bool all = false;
    bool append = false; // record --append: continue an existing recording with the same header
    bool quiet = false;
    bool verbose = false;
    bool progress = false; // standard error is a terminal
};

// Runs one command; messages go to `err`, results to `out`.
int Run(const Options &options, QTextStream &out, QTextStream &err);

} // namespace vortan::ctl
