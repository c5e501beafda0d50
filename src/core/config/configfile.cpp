#include "config/configfile.h"

#include "config/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vortan::configfile
{

namespace
{
const QString PcSection = QStringLiteral("PC config");
const QString PortKey = QStringLiteral("COM");
const QString VrtSection = QStringLiteral("VRT config");
const QString SlaveKey = QStringLiteral("MBSLAD");

QString userPath(const QString &userConfigDir)
{
    return QDir(userConfigDir).filePath(QStringLiteral("vortan/") + QString::fromUtf8(FileName));
}
} // namespace

QString pathIn(const QString &programDir)
{
    return QDir(programDir).filePath(QString::fromUtf8(FileName));
}

QString choosePath(const QString &programDir, bool programDirWritable, const QString &userConfigDir)
{
    const QString beside = pathIn(programDir);
    if (programDirWritable || QFileInfo::exists(beside))
        return beside;
    return userPath(userConfigDir);
}

QString locate(const QString &programDir)
{
    const QString userDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#ifdef VORTAN_INSTALL_BINDIR
    // Run by root, the installed program could write /usr/bin; its settings still belong to the
    // user, and a file left there would be found, and not be writable, for everyone else.
    const QString installed = QFileInfo(QStringLiteral(VORTAN_INSTALL_BINDIR)).canonicalFilePath();
    if (!installed.isEmpty() && QFileInfo(programDir).canonicalFilePath() == installed)
        return userPath(userDir);
#endif
    return choosePath(programDir, QFileInfo(programDir).isWritable(), userDir);
}

bool parsePortNumber(const QString &text, quint8 *port)
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

Read readPort(const QString &path, quint8 *port, QString *value)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Read::Missing;
    IniDocument doc;
    if (!info.isFile() || !info.isReadable() || !doc.load(path))
        return Read::Unreadable;
    const QString text = doc.value(PcSection, PortKey, QStringLiteral("1"));
    if (value)
        *value = text;
    return parsePortNumber(text, port) ? Read::Ok : Read::BadPort;
}

bool write(const QString &path, quint8 port, int slaveAddress)
{
    return WriteIniValue(path, PcSection, PortKey, QString::number(port)) &&
           WriteIniValue(path, VrtSection, SlaveKey, QString::number(slaveAddress));
}

} // namespace vortan::configfile
