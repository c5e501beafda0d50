#pragma once

#include <QDialog>
#include <QtGlobal>

class QComboBox;
class QLabel;
class QPushButton;

namespace vortan
{

class AppConfig;
class PortMap;
class SerialLink;

// What to do about a serial device the user may not open (OpenResult::Forbidden): on Linux the
// serial devices belong to the group dialout.
QString NoPermissionDetail(const QString &device);

// wndSetCOM: lists the ports 1..16 that can be opened now (and those the user has no permission
// for, with NoPermissionDetail as their tooltip), switches the live port to each
// picked item, and on "ОК" stores the choice in PortNumber and the configuration file. Any
// other way of closing returns the live port to PortNumber. Probing and switching fail silently.
class PortDialog : public QDialog
{
    Q_OBJECT
public:
    PortDialog(SerialLink &link, quint8 &portNumber, AppConfig &config, const PortMap &ports,
               QLabel *statusLine, QWidget *owner);

    // The scan and preselection; run once before the dialog is shown.
    void load();

    // 0 when no list item has been picked.
    int selectedPort() const;
    bool portConfirmed() const { return m_portConfirmed; }

    void done(int result) override;

    static int portOfItem(const QString &itemText);

private:
    void pickItem(int index);
    void confirm();

    SerialLink &m_link;
    quint8 &m_portNumber;
    AppConfig &m_config;
    const PortMap &m_ports;
    QLabel *m_statusLine;
    QLabel *m_label = nullptr;
    QComboBox *m_list = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    quint8 m_savedPortNumber = 0;
    int m_picked = -1;
    bool m_portConfirmed = false;
    bool m_closing = false;
};

} // namespace vortan
