#pragma once

#include "report/servicereport.h"

#include <QString>

class QWidget;

namespace vortan
{

class ControllerModel;
class JournalRows;

// What the window holds: the last status block, the parameter set (left out when not one value
// was ever read), the link figures, the journal rows and, when given, a picture of `trendChart`.
// Time is now; version, port and address are the caller's.
ServiceReport ReportOfWindow(const ControllerModel &controller, const LinkFigures &link,
                             const JournalRows &journal, QWidget *trendChart);

// Writes the report to `path`: a PDF (A4, searchable text) when the name ends in ".pdf", else
// the HTML page. The file is replaced whole or not at all. False with a Russian `error` when it
// cannot be written.
bool WriteReportFile(const ServiceReport &report, const QString &path, QString &error);

} // namespace vortan
