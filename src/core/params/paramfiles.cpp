#include "params/paramfiles.h"

#include "config/inifile.h"
#include "format/formatting.h"

#include <QDir>
#include <QFileInfo>

namespace vortan
{

namespace
{

const QString kAbsent = QStringLiteral("default");

// What a value read through the profile functions can hold at most.
constexpr int MaxValueLength = 254;

} // namespace

QString ParamSection(int index)
{
    return index < ParamTable::CalibrationCount ? QStringLiteral("Calibration")
                                                : QStringLiteral("Parameters");
}

QString ParamKey(int index)
{
    return QStringLiteral("PAR") + QString::number(index);
}

QString ParamFilePath(const QString &directory, const QString &fileName)
{
    return QDir(directory).filePath(fileName);
}

bool ParamFileExistsExactly(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    const QStringList names =
        info.dir().entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    return names.contains(info.fileName(), Qt::CaseSensitive);
}

bool ParamFileFound(const QString &path)
{
    return QFileInfo(path).isFile();
}

bool SaveParamSet(const QString &path, const QStringList &texts)
{
    IniDocument doc;
    if (!doc.load(path)) {
        qCWarning(lcParams) << "cannot read" << path << "before saving the parameter set";
        return false;
    }
    for (int i = 0; i < ParamTable::Count; ++i) {
        QString value = i < texts.size() ? texts.at(i) : QString();
        value.replace(QLatin1Char('\r'), QLatin1Char(' '));
        value.replace(QLatin1Char('\n'), QLatin1Char(' '));
        doc.setValue(ParamSection(i), ParamKey(i), value);
    }
    if (!doc.save(path)) {
        qCWarning(lcParams) << "cannot write the parameter set to" << path;
        return false;
    }
    return true;
}

bool ReadParamSet(const QString &path, ParamFileSet &set)
{
    IniDocument doc;
    if (!QFileInfo(path).isFile() || !doc.load(path)) {
        qCWarning(lcParams) << "cannot read the parameter file" << path;
        return false;
    }
    for (int i = 0; i < ParamTable::Count; ++i) {
        const QString v = doc.value(ParamSection(i), ParamKey(i), kAbsent).left(MaxValueLength);
        set.present[size_t(i)] = v != kAbsent;
        set.values[size_t(i)] = set.present[size_t(i)] ? v : QString();
    }
    return true;
}

ParamState CompareParamValue(bool present, const QString &fileValue, const QString &text)
{
    if (!present)
        return ParamState::Missing;
    return ParseNumber(fileValue) == ParseNumber(text) ? ParamState::Equal : ParamState::Differs;
}

} // namespace vortan
