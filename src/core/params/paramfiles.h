#pragma once

#include "params/paramstate.h"
#include "params/paramtable.h"

#include <QString>
#include <QStringList>

#include <array>

namespace vortan
{

// Section of a parameter file for index i: "Calibration" for 0..7, "Parameters" for 8..110.
QString ParamSection(int index);
// Key for index i: "PAR" and the index in decimal.
QString ParamKey(int index);

// The file the file commands use: the browser's folder joined with the typed name.
QString ParamFilePath(const QString &directory, const QString &fileName);

// True when the folder holds a regular file of exactly this name, letter case included (a name
// that differs only in case counts as a new file, also on a case-blind USB stick).
bool ParamFileExistsExactly(const QString &path);

// True when a file is found at the path (as the file system looks names up).
bool ParamFileFound(const QString &path);

// Writes the 111 box texts (keys PAR0..PAR110 of "Calibration" and "Parameters") in one step:
// the existing file is read, its keys replaced, every unrelated line kept, and the result
// replaces the old file atomically. False (old file untouched) when reading or writing fails.
bool SaveParamSet(const QString &path, const QStringList &texts);

// Values of one parameter file; a missing key, a missing section and the literal value
// "default" count as absent.
struct ParamFileSet {
    std::array<QString, ParamTable::Count> values;
    std::array<bool, ParamTable::Count> present{};
};

// Reads the whole file at once. False when the file cannot be read.
bool ReadParamSet(const QString &path, ParamFileSet &set);

// A value compared with the file: Equal when both parse to the same number, Missing when the
// file lacks it, else Differs.
ParamState CompareParamValue(bool present, const QString &fileValue, const QString &text);

} // namespace vortan
