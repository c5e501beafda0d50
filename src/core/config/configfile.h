#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace vortan
{

// The configuration file "тп.ini": which port to use ("PC config", "COM") and the last confirmed
// slave address ("VRT config", "MBSLAD"). This is the one place that knows its name, sections
// and keys; the window and the command line both read it through here.
namespace configfile
{
inline constexpr const char *FileName = "тп.ini";
QString pathIn(const QString &programDir);

// Where the program keeps the file. Beside the executable when that folder may be written or
// already holds the file (a portable copy keeps its settings with it); otherwise, and always for
// the installed program, in the user's folder: $XDG_CONFIG_HOME/vortan/тп.ini.
QString locate(const QString &programDir);
// The choice itself, with the folder's writability given.
QString choosePath(const QString &programDir, bool programDirWritable,
                   const QString &userConfigDir);

enum class Read {
    Ok,         // the port number is in `port`
    Missing,    // no file: the default port 1
    Unreadable, // a file that is not a readable profile file (binary, too large, a folder, ...)
    BadPort,    // "COM" is not a whole number 0..255
};
Read readPort(const QString &path, quint8 *port, QString *value = nullptr);
// A "COM" value is a whole decimal number 0..255 (blanks around it allowed).
bool parsePortNumber(const QString &text, quint8 *port);
// Writes the port first (what the next start needs), then the slave address.
bool write(const QString &path, quint8 port, int slaveAddress);

// The trend window's section "Trends": the chosen curves, the time span and the window's size.
struct TrendSettings {
    QStringList fields; // column keys ("lbl_phAU", "lbl_ext_actpwr_3")
    int spanMinutes = 5;
    int width = 0; // 0: the window's own size
    int height = 0;
};
// Values out of range read as the defaults; a missing or unreadable file gives the defaults.
TrendSettings readTrends(const QString &path);
// Changes only the keys of that section; false (the file left as it is) when it cannot be read
// or written.
bool writeTrends(const QString &path, const TrendSettings &settings);
} // namespace configfile

} // namespace vortan
