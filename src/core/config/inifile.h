#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace vortan
{

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

namespace vortan
{

// A whole profile file in memory, for callers that change many keys at once and must replace
// the file in one step (a parameter set is saved all or nothing). Untouched lines keep their
// exact bytes; new keys and sections are added in the file's own line-end style and encoding.
//
// File format as read: lines end in CR LF, LF or a lone CR; a UTF-8 byte-order mark is kept;
// a file that is valid UTF-8 is UTF-8, any other is Windows-1251. Lines starting with ';' or
// '#' are comments. Blanks and tabs around names, '=' and values are dropped; a value enclosed
// in a pair of double or single quotes loses that pair (as with the Windows profile functions).
// The first occurrence of a key wins, also across repeated sections of one name. Files holding
// a NUL byte (binary files, UTF-16) or larger than 16 MiB are not profile files: load() fails.
//
// Writing: a value whose outer blanks or enclosing quotes would be lost on reading is written
// inside double quotes, so every value reads back exactly (up to 254 characters). New files are
// UTF-8 without byte-order mark with CR LF line ends.
class IniDocument
{
public:
    // Reads the file. A missing file gives an empty document and true; an unreadable one false.
    bool load(const QString &path);
    QString value(const QString &section, const QString &key, const QString &defaultValue) const;
    bool contains(const QString &section, const QString &key) const;
    // Names that cannot be stored (empty, holding line breaks, '=' in a key, ']' in a section)
    // and values the file's encoding cannot hold are refused; save() then fails, so a set of
    // values is never stored in part.
    void setValue(const QString &section, const QString &key, const QString &value);
    // Writes a temporary file beside `path` and renames it over `path`. False when any step fails;
    // the old file is then untouched. Also false after a failed load() or a refused setValue(),
    // and for a file whose permissions mark it read-only.
    bool save(const QString &path) const;

private:
    enum class Encoding { Utf8, Windows1251 };
    enum class LineKind { Other, Section, Key };

    struct Line {
        QByteArray text; // the line's bytes without its line end
        QByteArray end;  // CR LF, LF, CR or nothing (last line of a file)
        LineKind kind = LineKind::Other;
        QString name;          // section or key name, blanks trimmed
        qsizetype valueAt = 0; // key lines: byte offset of the value inside `text`
    };

    void parseLine(Line &line) const;
    QString decode(const QByteArray &bytes) const;
    bool encode(const QString &text, QByteArray *bytes) const;
    QString storedValue(const Line &line) const;
    qsizetype findKey(const QString &section, const QString &key) const;
    qsizetype findSection(const QString &section) const;
    void insertLine(qsizetype at, const QByteArray &text);

    QList<Line> m_lines;
    bool m_bom = false;
    QByteArray m_lineEnd = "\r\n";
    Encoding m_encoding = Encoding::Utf8;
    bool m_loadFailed = false;
    bool m_refused = false;
};

} // namespace vortan
