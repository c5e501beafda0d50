#include "appconfig.h"
#include "format/logging.h"
#include "widgets/statusline.h"

#include "config/configfile.h"
#include "config/usermessage.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>

namespace vortan
{

namespace
{

const QString ErrorTitle = QStringLiteral("Ошибка открытия файла ");

} // namespace

AppConfig::AppConfig(const QString &programDir, quint8 &portNumber, UserMessages &messages,
                     QLabel *statusLine, const QComboBox *slaveList, QWidget *owner)
    : m_path(configfile::locate(programDir)), m_portNumber(portNumber), m_messages(messages),
      m_statusLine(statusLine), m_slaveList(slaveList), m_owner(owner)
{
}

QString AppConfig::filePath() const
{
    return m_path;
}

bool AppConfig::parsePortNumber(const QString &text, quint8 *port)
{
    return configfile::parsePortNumber(text, port);
}

void AppConfig::showStatus(const QString &text)
{
    ShowStatusNow(m_statusLine, text);
}

void AppConfig::LoadConfig()
{
    m_portNumber = 1;
    const QString path = filePath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        // The user's configuration folder may not exist yet; if it cannot be made, the write
        // below fails and says so.
        QDir().mkpath(info.absolutePath());
        SaveConfig();
        showStatus(QString());
        return;
    }
    showStatus(QStringLiteral("Чтение конфигурации"));
    for (;;) {
        // A file that cannot be read (binary, oversized, a folder, no permission) is refused
        // like an unusable value, and never written over.
        quint8 port = 1;
        QString value;
        const configfile::Read result = configfile::readPort(path, &port, &value);
        if (result == configfile::Read::Ok) {
            m_portNumber = port;
            break;
        }
        qCWarning(lcConfig) << (result == configfile::Read::BadPort ? "unusable port number"
                                                                    : "unreadable file")
                            << value << "in" << path;
        const auto answer = m_messages.ask(m_owner, QMessageBox::Critical, ErrorTitle,
                                           ErrorTitle + QString::fromUtf8(FileName) +
                                               QStringLiteral(" для чтения\r\n"),
                                           QMessageBox::Retry | QMessageBox::Cancel);
        if (answer != QMessageBox::Retry)
            break;
    }
    showStatus(QString());
}

void AppConfig::SaveConfig()
{
    showStatus(QStringLiteral("Сохранение конфигурации"));
    const QString path = filePath();
    const int slave = m_slaveList ? m_slaveList->currentIndex() : -1;
    for (;;) {
        if (configfile::write(path, m_portNumber, slave))
            break;
        qCWarning(lcConfig) << "cannot write" << path;
        const auto answer =
            m_messages.ask(m_owner, QMessageBox::Critical, ErrorTitle,
                           ErrorTitle + QString::fromUtf8(FileName) + QStringLiteral(" для записи"),
                           QMessageBox::Retry | QMessageBox::Cancel);
        if (answer != QMessageBox::Retry)
            break;
    }
    showStatus(QString());
}

} // namespace vortan
