#pragma once

#include <QString>

namespace vortan {

// One value of a profile file ([section] / key=value). Section and key names compare without
// regard to letter case; CRLF or LF line ends, a UTF-8 byte-order mark, blanks around '=' and
// Windows-1251 text are read. A missing file, section or key gives `defaultValue`; a stored
// value is cut to 254 characters.
QString ReadIniValue(const QString &path, const QString &section, const QString &key,
                     const QString &defaultValue);

// Stores key=value in the section (creating file and section when absent), CR and LF in the
// value each become one blank. Only the key's line changes; every other byte stays. The file is
// replaced atomically. Failures are silent; the result says whether the file was written.
bool WriteIniValue(const QString &path, const QString &section, const QString &key,
                   const QString &value);

} // namespace vortan

namespace vortan {

// A whole profile file in memory, for callers that change many keys at once and must replace
// the file in one step (a parameter set is saved all or nothing). Untouched lines keep their
// exact bytes; new keys and sections are added in the file's own line-end style and encoding.
class IniDocument {
public:
    // Reads the file. A missing file gives an empty document and true; an unreadable one false.
    bool load(const QString &path);
    QString value(const QString &section, const QString &key, const QString &defaultValue) const;
    bool contains(const QString &section, const QString &key) const;
    void setValue(const QString &section, const QString &key, const QString &value);
    // Writes a temporary file beside `path` and renames it over `path`. False when any step fails;
    // the old file is then untouched.
    bool save(const QString &path) const;

private:
    // (representation chosen by the implementation)
};

} // namespace vortan
