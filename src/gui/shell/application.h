#pragma once

#include "config/appconfig.h"
#include "config/portdialog.h"
#include "config/portmap.h"
#include "controller/controllermodel.h"
#include "diagnostics/monitorwindow.h"
#include "journal/eventjournal.h"
#include "journal/journalfile.h"
#include "journal/journalrows.h"
#include "journal/journalwindow.h"
#include "modbus/exchangecycle.h"
#include "modbus/frames.h"
#include "modbus/linkstats.h"
#include "modbus/pollpolicy.h"
#include "modbus/requestqueue.h"
#include "monitor/statusmonitor.h"
#include "params/paramset.h"
#include "params/paramwindow.h"
#include "record/csvrecorder.h"
#include "record/trendhistory.h"
#include "shell/mainwindow.h"
#include "trends/trendwindow.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace vortan
{

class PortLink;
class SerialLink;
class TraceFile;
class UserMessages;

struct StartupOptions {
    QString programDir; // where "тп.ini" lives
    QString portDevice; // --port: device of the configured port for this run; empty: the table

    bool showTrends = false; // --trends: the trend window opens with the main window
    QString recordPath;      // --record: the status is recorded to this file from the start
    bool appendRecord = false; // --append: rows go after an existing recording's
    QString tracePath;  // --trace: the frame trace file; empty: no trace
    bool openMonitor = false; // --monitor: "Монитор обмена" opens with the main window
    QString journalFolder; // the journal's daily files go here; empty: the journal keeps no file
};

// The program's world: the main window, the serial line, the request queue and the 40 ms
// Timer1 that drives the exchange with the controller. Tests build one with a fake line and
// scripted message boxes and call ExchangeTick themselves.
class Application : public QObject, private CycleHost
{
    Q_OBJECT
public:
    static constexpr int TickMs = 40;

    // The real program: serial devices and gateways through a PortLink, real message boxes.
    explicit Application(const StartupOptions &options);
    Application(const StartupOptions &options, SerialLink &link, UserMessages &messages);
    ~Application() override;

    // Start-up in order: configuration, lists, port, window, Timer1. False when the operator
    // chose to end the program at the port failure message; nothing has been shown then.
    bool start(bool startTimer = true);

    // What each Timer1 tick does.
    void ExchangeTick();

    void openParamWindow();
    // The port dialog from the menu: modeless; a dialog already open is only raised.
    void openPortSettings();
    // The trend window: modeless, built once, owned by the main window.
    void openTrendWindow();
    bool startRecording(const QString &path);
    // "Монитор обмена": modeless, built at its first opening and kept (hidden) when closed, so
    // its table keeps the history.
    void openMonitorWindow();
    // "Журнал событий": modeless, built once and kept (hidden) when closed.
    void openJournalWindow();
    // "Отчёт...": asks for a file and writes the service report of what the window holds.
    void saveReport();
    // The report of what the window holds now, written as HTML or (".pdf") PDF; false after
    // telling the engineer why.
    bool writeReport(const QString &path);
    // Asks for the report's file name (suggested path); empty when cancelled. A save dialog by
    // default; tests answer it themselves.
    std::function<QString(const QString &)> askReportFile;
    void sendCommand(int index, const QString &tag);
    // A note kept on the status line for about 2 s behind the link verdict.
    void showNote(const QString &note);

    MainWindow &mainWindow() { return m_window; }
    QTimer &timer1() { return m_timer1; }
    RequestQueue &queue() { return m_queue; }
    const RxBuffer &rxBuffer() const { return m_rx; }
    SerialLink &link() { return m_link; }
    quint8 portNumber() const { return m_portNumber; }
    const PortMap &portMap() const { return m_portMap; }
    AppConfig &config() { return m_config; }
    PortDialog *portDialog() const { return m_portDialog; }
    ParamWindow *paramWindow() const { return m_paramWindow; }
    MonitorWindow *monitorWindow() const { return m_monitorWindow; }
    JournalWindow *journalWindow() const { return m_journalWindow; }
    const JournalRows &journalRows() const { return m_journalRows; }
    const JournalFile &journalFile() const { return m_journalFile; }
    LinkStats &linkStats() { return m_linkStats; }
    ParamSet &paramSet() { return m_controller.paramSet(); }
    ControllerModel &controller() { return m_controller; }
    StatusMonitor &statusMonitor() { return m_monitor; }
    TrendWindow *trendWindow() const { return m_trendWindow; }
    const TrendHistory &history() const { return m_history; }
    CsvRecorder &recorder() { return m_recorder; }
    ExchangeCycle &cycle() { return m_cycle; }
    const AlternatingPoll &pollPolicy() const { return m_controller.operatorPoll(); }

    static QString portFailureText(int port, OpenResult result);
    static QString queueFullNote();

signals:
    // A port dialog was built and scanned; it is shown (or run modally) right after this.
    void portDialogOpened(vortan::PortDialog *dialog);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Application(const StartupOptions &options, std::unique_ptr<PortLink> ownLink, SerialLink *link,
                UserMessages &messages);

    void setStatusText(const QString &text) override;
    void decodeReply() override;
    int slaveAddress() const override;

    bool openConfiguredPort();
    QString portFailureDetail(OpenResult result) const;
    void gatewayUnreachable(const QString &reason);
    PortDialog *createPortDialog();
    void statusDecoded(const StatusSnapshot &snapshot);
    void recordingFailed();
    void startTrace();
    void journalAdded(const JournalEvent &event);

    StartupOptions m_options;
    PortMap m_portMap;
    std::unique_ptr<PortLink> m_ownLink;
    SerialLink &m_link;
    UserMessages &m_messages;
    RequestQueue m_queue;
    RxBuffer m_rx;
    TrendHistory m_history;
    CsvRecorder m_recorder;
    quint8 m_portNumber = 1;
    MainWindow m_window;
    AppConfig m_config;
    // The controller as data; the windows show and edit it.
    ControllerModel m_controller;
    StatusMonitor m_monitor;
    ExchangeCycle m_cycle;
    LinkStats m_linkStats;
    // Every change of a lamp, the link, each command and parameter write, in order; the rows
    // are kept for the window and a day's file.
    EventJournal m_journal;
    JournalRows m_journalRows;
    JournalFile m_journalFile;
    bool m_journalFileOn = false;
    std::unique_ptr<TraceFile> m_trace;
    QTimer m_timer1;
    QPointer<PortDialog> m_portDialog;
    QPointer<ParamWindow> m_paramWindow;
    QPointer<TrendWindow> m_trendWindow;
    QPointer<MonitorWindow> m_monitorWindow;
    QPointer<JournalWindow> m_journalWindow;
    QElapsedTimer m_sinceStart;
    QString m_note;
    int m_noteTicks = 0;
    bool m_firstFrameLogged = false;
    // The configured port is a gateway whose first connect, started at start-up, has not ended.
    bool m_awaitingGateway = false;
};

} // namespace vortan
