#pragma once

#include "modbus/linkstats.h"
#include "params/paramfiles.h"
#include "status/statussnapshot.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vortan
{

// What one visit to a controller found, for the customer and the next engineer: the window and
// vortanctl fill it from what they read, ReportHtml prints it.
struct ServiceReport {
    QDateTime time;
    QString programVersion;
    QString port; // "COM5 (/dev/ttyUSB0)" as the program names it
    int address = 1;
    // The status block; none when no full block has come from the controller.
    std::optional<StatusSnapshot> status;
    // The 111 values as the parameters window shows them; empty when they were never read.
    QStringList params;
    // A parameter file set beside the values ("--against"); its name as given.
    std::optional<ParamFileSet> against;
    QString againstName;
    std::optional<LinkFigures> link;
    // Journal rows as their five cells (time, event, group, signal, "да" for the first-out);
    // none when no journal was given.
    std::optional<QList<QStringList>> journal;
    QByteArray trendPng; // the trend window's picture; empty: none
};

// Indices whose value differs from the file by compare's rule (a key the file lacks included).
QList<int> ReportDifferences(const ServiceReport &report);

// The report as one self-contained UTF-8 HTML page in Russian: inline style only, no script,
// nothing fetched (the trend picture as a data: URI), laid out for A4. Every text from the
// controller, a file or the journal is escaped.
QString ReportHtml(const ServiceReport &report);

} // namespace vortan
