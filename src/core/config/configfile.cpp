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
const QString TrendSection = QStringLiteral("Trends");
const QString FieldsKey = QStringLiteral("Fields");
const QString SpanKey = QStringLiteral("Span");
const QString WidthKey = QStringLiteral("Width");
const QString HeightKey = QStringLiteral("Height");
// A profile value holds at most 254 characters, so a long list of curves goes on over "Fields2",
// "Fields3" and so on.
constexpr int FieldsPerKey = 240;
constexpr int MaxFieldKeys = 16;
constexpr int MinWindowSide = 100;
constexpr int MaxWindowSide = 20000;

QString fieldsKey(int n)
{
    return n == 1 ? FieldsKey : FieldsKey + QString::number(n);
}

int readInt(const IniDocument &doc, const QString &key, int low, int high, int fallback)
{
    bool ok = false;
    const int v = doc.value(TrendSection, key, QString()).trimmed().toInt(&ok);
    return ok && v >= low && v <= high ? v : fallback;
}

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

TrendSettings readTrends(const QString &path)
{
    TrendSettings settings;
    IniDocument doc;
    if (!QFileInfo(path).isFile() || !doc.load(path))
        return settings;
    for (int n = 1; n <= MaxFieldKeys; ++n) {
        const QString list = doc.value(TrendSection, fieldsKey(n), QString());
        if (list.trimmed().isEmpty())
            break;
        for (const QString &key : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!key.trimmed().isEmpty() && !settings.fields.contains(key.trimmed()))
                settings.fields << key.trimmed();
        }
    }
    const int span = readInt(doc, SpanKey, 1, 60, settings.spanMinutes);
    if (span == 1 || span == 5 || span == 15 || span == 60)
        settings.spanMinutes = span;
    settings.width = readInt(doc, WidthKey, MinWindowSide, MaxWindowSide, 0);
    settings.height = readInt(doc, HeightKey, MinWindowSide, MaxWindowSide, 0);
    return settings;
}

bool writeTrends(const QString &path, const TrendSettings &settings)
{
    IniDocument doc;
    if (!doc.load(path))
        return false;
    QStringList chunks{QString()};
    for (const QString &key : settings.fields) {
        if (!chunks.last().isEmpty() && chunks.last().size() + 1 + key.size() > FieldsPerKey)
            chunks << QString();
        chunks.last() += (chunks.last().isEmpty() ? QString() : QStringLiteral(",")) + key;
    }
    for (int n = 1; n <= MaxFieldKeys; ++n) {
        // Keys left from a longer list are emptied so they cannot add curves back.
        if (n <= chunks.size())
            doc.setValue(TrendSection, fieldsKey(n), chunks[n - 1]);
        else if (doc.contains(TrendSection, fieldsKey(n)))
            doc.setValue(TrendSection, fieldsKey(n), QString());
    }
    doc.setValue(TrendSection, SpanKey, QString::number(settings.spanMinutes));
    if (settings.width > 0 && settings.height > 0) {
        doc.setValue(TrendSection, WidthKey, QString::number(settings.width));
        doc.setValue(TrendSection, HeightKey, QString::number(settings.height));
    }
    return doc.save(path);
}

} // namespace vortan::configfile
