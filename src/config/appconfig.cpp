#include "appconfig.h"
#include "widgets/statusline.h"

#include "config/inifile.h"
#include "config/usermessage.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>

namespace vortan
{

Q_LOGGING_CATEGORY(lcAppConfig, "vortan.config", QtWarningMsg)

namespace
{

const QString PcSection = QStringLiteral("PC config");
const QString PortKey = QStringLiteral("COM");
const QString VrtSection = QStringLiteral("VRT config");
const QString SlaveKey = QStringLiteral("MBSLAD");
const QString ErrorTitle = QStringLiteral("Ошибка открытия файла ");

} // namespace

AppConfig::AppConfig(const QString &programDir, quint8 &portNumber, UserMessages &messages,
                     QLabel *statusLine, const QComboBox *slaveList, QWidget *owner)
    : m_programDir(programDir), m_portNumber(portNumber), m_messages(messages),
      m_statusLine(statusLine), m_slaveList(slaveList), m_owner(owner)
{
}

QString AppConfig::filePath() const
{
    return QDir(m_programDir).filePath(QString::fromUtf8(FileName));
}

bool AppConfig::parsePortNumber(const QString &text, quint8 *port)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const uint value = trimmed.toUInt(&ok, 10);
    if (!ok || value > 255)
        return false;
    *port = quint8(value);
    return true;
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
        SaveConfig();
        showStatus(QString());
        return;
    }
    showStatus(QStringLiteral("Чтение конфигурации"));
    for (;;) {
        // A file that cannot be read (binary, oversized, a folder, no permission) is refused
        // like an unusable value, and never written over.
        IniDocument doc;
        const bool read = doc.load(path);
        const QString value = read ? doc.value(PcSection, PortKey, QStringLiteral("1")) : QString();
        quint8 port = 0;
        if (parsePortNumber(value, &port)) {
            m_portNumber = port;
            break;
        }
        if (read)
            qCWarning(lcAppConfig) << "unusable port number" << value << "in" << path;
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
        // The port goes first: it is what the next start needs.
        const bool written =
            WriteIniValue(path, PcSection, PortKey, QString::number(m_portNumber)) &&
            WriteIniValue(path, VrtSection, SlaveKey, QString::number(slave));
        if (written)
            break;
        qCWarning(lcAppConfig) << "cannot write" << path;
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
