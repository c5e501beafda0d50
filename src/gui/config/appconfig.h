#pragma once

#include "config/configfile.h"

#include <QString>
#include <QtGlobal>

class QComboBox;
class QLabel;
class QWidget;

namespace vortan
{

class UserMessages;

// The configuration file "тп.ini" (beside the program or in the user's folder, as
// configfile::locate decides): which port to use ("PC config", "COM") and the last confirmed
// slave address ("VRT config", "MBSLAD", written, never read).
class AppConfig
{
public:
    static constexpr const char *FileName = configfile::FileName;

    // `portNumber` is the program-wide PortNumber; `statusLine` is lbl_sys_mes and `slaveList`
    // cmb_slad of the main window; `owner` parents the message boxes.
    AppConfig(const QString &programDir, quint8 &portNumber, UserMessages &messages,
              QLabel *statusLine, const QComboBox *slaveList, QWidget *owner);

    QString filePath() const;

    // Sets PortNumber from the file, or creates the file (and its folder) when there is none.
    // A folder that cannot be made gets the write-error box. An unusable value
    // or an unreadable file asks Retry or Cancel; Cancel keeps port 1.
    void LoadConfig();
    // Writes PortNumber and the index of cmb_slad.
    void SaveConfig();

    // A "COM" value is a whole decimal number 0..255; anything else is refused.
    static bool parsePortNumber(const QString &text, quint8 *port);

private:
    void showStatus(const QString &text);

    QString m_path;
    quint8 &m_portNumber;
    UserMessages &m_messages;
    QLabel *m_statusLine;
    const QComboBox *m_slaveList;
    QWidget *m_owner;
};

} // namespace vortan
