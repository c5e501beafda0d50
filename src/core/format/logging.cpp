#include "format/logging.h"

Q_LOGGING_CATEGORY(lcModbus, "vortan.modbus", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSerial, "vortan.serial", QtWarningMsg)
Q_LOGGING_CATEGORY(lcConfig, "vortan.config", QtWarningMsg)
Q_LOGGING_CATEGORY(lcParams, "vortan.params", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMonitor, "vortan.monitor", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStartup, "vortan.startup", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCtl, "vortan.ctl", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecord, "vortan.record", QtWarningMsg)
