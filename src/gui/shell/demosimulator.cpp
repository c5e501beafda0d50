#include "shell/demosimulator.h"
#include "format/logging.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace vortan
{

DemoSimulator::~DemoSimulator()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(StartTimeoutMs))
        m_process.kill();
    m_process.waitForFinished(StartTimeoutMs);
}

QString DemoSimulator::start(const QString &programDir, QString *error)
{
    const QString program = QDir(programDir).filePath(QStringLiteral("vortan-sim"));
    if (!QFileInfo(program).isExecutable()) {
        *error = QStringLiteral("Не найден симулятор контроллера %1").arg(program);
        return {};
    }
#ifdef Q_OS_LINUX
    // A program that is killed cannot stop its simulator; the kernel does it instead.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    // Its counters on exit are of no use here; its complaints go where the program's go.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, {QStringLiteral("--scenario"), QStringLiteral("alarms")});
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        *error =
            QStringLiteral("Симулятор контроллера не запустился: %1").arg(m_process.errorString());
        return {};
    }
    // Its first line of output is the device to open.
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!m_process.canReadLine() && m_process.state() == QProcess::Running &&
           !deadline.hasExpired())
        m_process.waitForReadyRead(int(deadline.remainingTime()));
    const QString device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (device.isEmpty()) {
        *error = QStringLiteral("Симулятор контроллера не сообщил своё устройство");
        return {};
    }
    qCInfo(lcStartup) << "demo: simulator" << m_process.processId() << "on" << device;
    return device;
}

} // namespace vortan
