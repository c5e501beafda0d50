#pragma once

#include <QLoggingCategory>

// The program's diagnostic categories, each defined once here. Only warnings show by default;
// QT_LOGGING_RULES="vortan.*.debug=true" shows everything.
Q_DECLARE_LOGGING_CATEGORY(lcModbus)  // vortan.modbus: queue, exchange cycle, requests
Q_DECLARE_LOGGING_CATEGORY(lcSerial)  // vortan.serial: opening, losing and reopening the port
Q_DECLARE_LOGGING_CATEGORY(lcConfig)  // vortan.config: profile files, configuration, port dialog
Q_DECLARE_LOGGING_CATEGORY(lcParams)  // vortan.params: parameter transfers and files
Q_DECLARE_LOGGING_CATEGORY(lcMonitor) // vortan.monitor: reply dispatch and status display
Q_DECLARE_LOGGING_CATEGORY(lcStartup) // vortan.startup: start-up, timing of the first frame
Q_DECLARE_LOGGING_CATEGORY(lcCtl)     // vortan.ctl: the command-line tool
Q_DECLARE_LOGGING_CATEGORY(lcRecord)  // vortan.record: recordings and trends
