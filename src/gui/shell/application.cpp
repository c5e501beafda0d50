#include "application.h"
#include "format/logging.h"

#include "config/usermessage.h"
#include "modbus/portlink.h"
#include "modbus/tracefile.h"
#include "report/reportwriter.h"
#include "trends/trendplot.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLoggingCategory>
#include <QScreen>

namespace vortan
{

namespace
{

// A note (a refused command, a parameter not written) stays on the status line for this many
// ticks (about 2 s), since every tick rewrites the line.
constexpr int NoteTicks = 50;

} // namespace

Application::Application(const StartupOptions &options)
    : Application(options,
                  std::make_unique<PortLink>([this](int n) { return m_portMap.device(n); }),
                  nullptr, realUserMessages())
{
    // Queued: the box must not open inside the socket's own notification.
    connect(
        &m_ownLink->network(), &NetworkLink::linkDown, this,
        [this](const QString &, const QString &reason) { gatewayUnreachable(reason); },
        Qt::QueuedConnection);
    connect(&m_ownLink->network(), &NetworkLink::linkUp, this,
            [this] { m_awaitingGateway = false; });
}

Application::Application(const StartupOptions &options, SerialLink &link, UserMessages &messages)
    : Application(options, nullptr, &link, messages)
{
}

Application::Application(const StartupOptions &options, std::unique_ptr<PortLink> ownLink,
                         SerialLink *link, UserMessages &messages)
    : m_options(options), m_ownLink(std::move(ownLink)), m_link(link ? *link : *m_ownLink),
      m_messages(messages), m_window(),
      m_config(options.programDir, m_portNumber, messages, m_window.statusLine(),
               m_window.slaveList(), &m_window),
      m_controller(m_queue), m_monitor(&m_window, m_controller),
      m_cycle(m_queue, m_rx, m_link, *this, m_controller.operatorPoll())
{
    m_sinceStart.start();
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(TickMs);
    m_timer1.setTimerType(Qt::PreciseTimer);
    connect(&m_timer1, &QTimer::timeout, this, &Application::ExchangeTick);

    // Connected after the monitor's own: a block is painted before it is recorded.
    connect(&m_controller, &ControllerModel::statusDecoded, this, &Application::statusDecoded);
    m_controller.setControlState(m_window.controlState());
    connect(&m_window, &MainWindow::controlStateEdited, &m_controller,
            &ControllerModel::setControlState);

    connect(&m_window, &MainWindow::paramsRequested, this, &Application::openParamWindow);
    connect(&m_window, &MainWindow::portSettingsRequested, this, &Application::openPortSettings);
    connect(&m_window, &MainWindow::trendsRequested, this, &Application::openTrendWindow);
    connect(&m_window, &MainWindow::monitorRequested, this, &Application::openMonitorWindow);
    m_cycle.addObserver(&m_linkStats);
    connect(&m_window, &MainWindow::journalRequested, this, &Application::openJournalWindow);
    connect(&m_controller, &ControllerModel::statusDecoded, &m_journal,
            &EventJournal::observeStatus);
    connect(&m_controller, &ControllerModel::paramWritten, &m_journal,
            qOverload<int, const QString &, const QString &>(&EventJournal::paramWritten));
    connect(&m_journal, &EventJournal::added, this, &Application::journalAdded);
    m_cycle.addObserver(&m_journal);
    connect(&m_window, &MainWindow::commandClicked, this, &Application::sendCommand);
    connect(&m_window, &MainWindow::reportRequested, this, &Application::saveReport);
    askReportFile = [this](const QString &suggested) {
        return QFileDialog::getSaveFileName(
            &m_window, QStringLiteral("Сохранить отчёт"), suggested,
            QStringLiteral("Отчёт HTML (*.html);;Отчёт PDF (*.pdf);;Все файлы (*)"));
    };
    m_window.installEventFilter(this);
}

Application::~Application()
{
    m_timer1.stop();
    m_window.removeEventFilter(this);
    m_cycle.removeObserver(m_monitorWindow);
    m_cycle.removeObserver(m_trace.get());
    m_cycle.removeObserver(&m_journal);
}

QString Application::portFailureText(int port, OpenResult result)
{
    const QString reason = result == OpenResult::InUse ? QStringLiteral(" занят другим приложением")
                                                       : QStringLiteral(" не доступен");
    return QStringLiteral("Порт COM") + QString::number(port) + reason +
           QStringLiteral("\r\nВыберите другой порт");
}

QString Application::queueFullNote()
{
    return QStringLiteral(" Очередь запросов переполнена: команда не отправлена");
}

bool Application::start(bool startTimer)
{
    m_config.LoadConfig();
    m_window.fillLists();

    m_portMap = PortMap::fromConfigFile(m_config.filePath());
    if (!m_options.portDevice.isEmpty())
        m_portMap.setDevice(m_portNumber, m_options.portDevice);

    if (!openConfiguredPort())
        return false;

    if (const QScreen *screen = m_window.screen())
        m_window.fitInto(screen->availableGeometry().size());
    m_window.show();
    if (m_options.showTrends)
        openTrendWindow();
    if (!m_options.recordPath.isEmpty())
        startRecording(m_options.recordPath);
    startTrace();
    if (!m_options.journalFolder.isEmpty()) {
        m_journalFileOn = m_journalFile.startDaily(m_options.journalFolder);
        if (!m_journalFileOn)
            qCWarning(lcStartup).noquote() << "journal file:" << m_journalFile.error();
    }
    if (m_options.openMonitor)
        openMonitorWindow();
    if (startTimer)
        m_timer1.start();
    qCInfo(lcStartup) << "started in" << m_sinceStart.elapsed() << "ms, port" << m_portNumber
                      << (m_link.isOpen() ? "open" : "closed");
    return true;
}

bool Application::openConfiguredPort()
{
    m_link.selectPort(m_portNumber);
    const OpenResult result = m_link.open();
    if (result == OpenResult::Ok) {
        m_awaitingGateway = m_ownLink && m_ownLink->usesNetwork() && !m_link.isOpen();
        return true;
    }

    qCWarning(lcStartup) << "port" << m_portNumber << "did not open:"
                         << (result == OpenResult::InUse       ? "in use"
                             : result == OpenResult::Forbidden ? "no permission"
                                                               : "unavailable");
    const auto answer = m_messages.askWithDetail(
        &m_window, QMessageBox::Critical, QStringLiteral("Ошибка открытия порта"),
        portFailureText(m_portNumber, result), portFailureDetail(result),
        QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return false;

    // Closing the dialog reopens PortNumber; a port still closed after it is shown on the
    // status line and can be chosen later from the menu.
    std::unique_ptr<PortDialog> dialog(createPortDialog());
    dialog->load();
    emit portDialogOpened(dialog.get());
    dialog->exec();
    return true;
}

QString Application::portFailureDetail(OpenResult result) const
{
    if (result == OpenResult::Forbidden)
        return NoPermissionDetail(m_portMap.device(m_portNumber));
    if (m_ownLink && m_ownLink->usesNetwork())
        return m_ownLink->network().lastError();
    return {};
}

// A gateway's connect ends after the window is up; its first failure gets the start-up box all
// the same. Later failures are retried quietly every second, the port shown closed meanwhile.
void Application::gatewayUnreachable(const QString &reason)
{
    if (!m_awaitingGateway)
        return;
    m_awaitingGateway = false;
    qCWarning(lcStartup) << "port" << m_portNumber << "did not connect:" << reason;
    const auto answer = m_messages.askWithDetail(
        &m_window, QMessageBox::Critical, QStringLiteral("Ошибка открытия порта"),
        portFailureText(m_portNumber, OpenResult::Unavailable), reason,
        QMessageBox::Ok | QMessageBox::Cancel);
    if (answer == QMessageBox::Ok)
        openPortSettings();
    else
        m_window.close();
}

PortDialog *Application::createPortDialog()
{
    return new PortDialog(m_link, m_portNumber, m_config, m_portMap, m_window.statusLine(),
                          &m_window);
}

void Application::openPortSettings()
{
    // The engineer is choosing a port now: a gateway's late failure needs no box of its own.
    m_awaitingGateway = false;
    if (m_portDialog) {
        m_portDialog->raise();
        m_portDialog->activateWindow();
        return;
    }
    PortDialog *dialog = createPortDialog();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_portDialog = dialog;
    dialog->load();
    if (!m_portDialog)
        return;
    emit portDialogOpened(dialog);
    dialog->show();
}

void Application::openParamWindow()
{
    if (!m_paramWindow) {
        m_paramWindow = new ParamWindow(m_controller.paramSet(), m_queue, m_window.statusLine(),
                                        m_messages, &m_window);
        m_paramWindow->showNote = [this](const QString &note) { showNote(note); };
    }
    m_paramWindow->openWindow();
}

void Application::openTrendWindow()
{
    if (!m_trendWindow)
        m_trendWindow =
            new TrendWindow(m_history, m_recorder, m_config.filePath(), m_messages, &m_window);
    if (m_trendWindow->isMinimized())
        m_trendWindow->showNormal();
    else
        m_trendWindow->show();
    m_trendWindow->raise();
    m_trendWindow->activateWindow();
}

bool Application::startRecording(const QString &path)
{
    const CsvRecorder::Mode mode =
        m_options.appendRecord ? CsvRecorder::Mode::Append : CsvRecorder::Mode::Create;
    if (m_trendWindow)
        return m_trendWindow->startRecording(path, mode);
    if (m_recorder.start(path, mode))
        return true;
    m_messages.ask(&m_window, QMessageBox::Warning, QStringLiteral("Запись"), m_recorder.error(),
                   QMessageBox::Ok);
    return false;
}

void Application::statusDecoded(const StatusSnapshot &snapshot)
{
    m_history.append(QDateTime::currentMSecsSinceEpoch(), snapshot);
    if (m_recorder.isRecording() && !m_recorder.append(snapshot))
        recordingFailed();
}

void Application::recordingFailed()
{
    qCWarning(lcRecord).noquote() << m_recorder.error();
    // The box runs its own event loop; shown from inside the tick it would let Timer1 tick again
    // underneath the reply still being dispatched.
    QTimer::singleShot(0, this, [this, text = m_recorder.error()] {
        QWidget *parent = m_trendWindow && m_trendWindow->isVisible()
                              ? static_cast<QWidget *>(m_trendWindow)
                              : &m_window;
        m_messages.ask(parent, QMessageBox::Warning, QStringLiteral("Запись"), text,
                       QMessageBox::Ok);
    });
}

void Application::openMonitorWindow()
{
    if (!m_monitorWindow) {
        m_monitorWindow = new MonitorWindow(m_linkStats, m_messages, &m_window);
        m_cycle.addObserver(m_monitorWindow);
        if (m_ownLink) {
            m_monitorWindow->showAdapter(m_ownLink->serial().adapter());
            connect(&m_ownLink->serial(), &QSerialPortLink::adapterChanged, m_monitorWindow,
                    [this] { m_monitorWindow->showAdapter(m_ownLink->serial().adapter()); });
        }
    }
    m_monitorWindow->show();
    m_monitorWindow->raise();
    m_monitorWindow->activateWindow();
}

void Application::openJournalWindow()
{
    if (!m_journalWindow)
        m_journalWindow = new JournalWindow(&m_journalRows, &m_window);
    m_journalWindow->show();
    m_journalWindow->raise();
    m_journalWindow->activateWindow();
}

void Application::saveReport()
{
    const QString name =
        QStringLiteral("отчёт-адрес%1-%2.html")
            .arg(m_window.slaveAddress())
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd")));
    const QString path = askReportFile(QDir::home().filePath(name));
    if (!path.isEmpty())
        writeReport(path);
}

bool Application::writeReport(const QString &path)
{
    ServiceReport report = ReportOfWindow(
        m_controller, m_linkStats.figures(QDateTime::currentMSecsSinceEpoch()), m_journalRows,
        m_trendWindow && !m_trendWindow->selectedFields().isEmpty() ? m_trendWindow->plot()
                                                                    : nullptr);
    report.programVersion = QCoreApplication::applicationVersion();
    report.port =
        QStringLiteral("COM%1 (%2)").arg(m_portNumber).arg(m_portMap.device(m_portNumber));
    report.address = m_window.slaveAddress();
    QString error;
    if (WriteReportFile(report, path, error))
        return true;
    m_messages.ask(&m_window, QMessageBox::Warning, QStringLiteral("Отчёт"), error,
                   QMessageBox::Ok);
    return false;
}

void Application::journalAdded(const JournalEvent &event)
{
    m_journalRows.append(event);
    if (!m_journalFileOn)
        return;
    if (!m_journalFile.append(event)) {
        // Said once; the window's rows go on.
        m_journalFileOn = false;
        qCWarning(lcStartup).noquote() << "journal file:" << m_journalFile.error();
        showNote(QStringLiteral(" Журнал событий не записывается в файл: ") +
                 m_journalFile.error());
    }
}

void Application::startTrace()
{
    if (m_options.tracePath.isEmpty() || m_trace)
        return;
    m_trace = std::make_unique<TraceFile>(m_options.tracePath);
    m_trace->onFailure = [this](const QString &message) { showNote(QLatin1Char(' ') + message); };
    if (m_trace->open())
        m_cycle.addObserver(m_trace.get());
}

void Application::sendCommand(int index, const QString &tag)
{
    if (EnqueueCommand(m_queue, tag))
        return;
    qCWarning(lcStartup) << "command" << index << tag << "refused: request queue full";
    showNote(queueFullNote());
}

void Application::showNote(const QString &note)
{
    m_note = note;
    m_noteTicks = NoteTicks;
    m_window.statusLine()->setText(m_window.statusLine()->text() + note);
}

void Application::ExchangeTick()
{
    m_cycle.ExchangeTick();
    if (m_recorder.isRecording() && !m_recorder.flushIfDue())
        recordingFailed();
    if (!m_firstFrameLogged && m_link.isOpen() && !m_cycle.lastFrame().isEmpty()) {
        m_firstFrameLogged = true;
        qCInfo(lcStartup) << "first frame sent" << m_sinceStart.elapsed() << "ms after start";
    }
}

void Application::setStatusText(const QString &text)
{
    QString shown = text;
    if (!m_link.isOpen()) {
        const int port = m_link.selectedPort();
        shown += port > 0 ? QStringLiteral(" (порт COM%1 закрыт)").arg(port)
                          : QStringLiteral(" (порт не выбран)");
    }
    if (m_noteTicks > 0) {
        --m_noteTicks;
        shown += m_note;
    }
    m_window.statusLine()->setText(shown);
}

void Application::decodeReply()
{
    m_controller.DecodeReply(m_rx);
}

int Application::slaveAddress() const
{
    return m_window.slaveAddress();
}

bool Application::eventFilter(QObject *watched, QEvent *event)
{
    // frm_main is the program: closing it ends the run even while other windows are open.
    if (watched == &m_window && event->type() == QEvent::Close)
        QCoreApplication::quit();
    return QObject::eventFilter(watched, event);
}

} // namespace vortan
