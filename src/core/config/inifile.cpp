#include "config/inifile.h"
#include "format/logging.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

namespace vortan
{

namespace
{

constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
// What the controller's profile API could hand back through its 255-byte buffer.
constexpr qsizetype kMaxValueLength = 254;

// Windows-1251, bytes 0x80..0xFF. 0x98 has no character; it maps to U+0098 so that the table
// stays reversible.
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // F8
};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QByteArray trimBlanks(const QByteArray &bytes)
{
    qsizetype from = 0;
    qsizetype to = bytes.size();
    while (from < to && isBlank(bytes[from]))
        ++from;
    while (to > from && isBlank(bytes[to - 1]))
        --to;
    return bytes.mid(from, to - from);
}

QString trimBlanks(const QString &text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isBlank(text[from]))
        ++from;
    while (to > from && isBlank(text[to - 1]))
        --to;
    return text.mid(from, to - from);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut sequences.
bool isValidUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int k = 2; k <= extra; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

bool isValidSectionName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u']') && !name.contains(u'\r') &&
           !name.contains(u'\n') && !name.contains(QChar(0));
}

bool isValidKeyName(const QString &name)
{
    if (name.isEmpty() || name.contains(u'=') || name.contains(u'\r') || name.contains(u'\n') ||
        name.contains(QChar(0)))
        return false;
    const QChar first = name.front();
    return first != u';' && first != u'#' && first != u'[';
}

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

bool looksQuoted(const QString &value)
{
    return value.size() >= 2 && isQuote(value.front()) && value.back() == value.front();
}

// The form in which `value` survives the trimming and unquoting of a read.
QString storedForm(const QString &value)
{
    const bool outerBlank = !value.isEmpty() && (isBlank(value.front()) || isBlank(value.back()));
    if (outerBlank || looksQuoted(value))
        return u'"' + value + u'"';
    return value;
}

} // namespace

QString IniDocument::decode(const QByteArray &bytes) const
{
    if (m_encoding == Encoding::Utf8)
        return QString::fromUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += QChar(b < 0x80 ? char16_t(b) : kCp1251High[b - 0x80]);
    }
    return text;
}

bool IniDocument::encode(const QString &text, QByteArray *bytes) const
{
    if (m_encoding == Encoding::Utf8) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            // A lone surrogate would turn into a replacement character and not read back.
            if (text[i].isHighSurrogate()) {
                if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                    return false;
                ++i;
            } else if (text[i].isLowSurrogate()) {
                return false;
            }
        }
        *bytes = text.toUtf8();
        return true;
    }
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            out += char(u);
            continue;
        }
        int found = -1;
        for (int k = 0; k < 128; ++k) {
            if (kCp1251High[k] == u) {
                found = k;
                break;
            }
        }
        if (found < 0)
            return false;
        out += char(0x80 + found);
    }
    *bytes = out;
    return true;
}

void IniDocument::parseLine(Line &line) const
{
    const QByteArray &t = line.text;
    qsizetype b = 0;
    while (b < t.size() && isBlank(t[b]))
        ++b;
    if (b == t.size() || t[b] == ';' || t[b] == '#')
        return;
    if (t[b] == '[') {
        const qsizetype close = t.indexOf(']', b + 1);
        const qsizetype length = close < 0 ? -1 : close - b - 1;
        line.kind = LineKind::Section;
        line.name = decode(trimBlanks(t.mid(b + 1, length)));
        return;
    }
    const qsizetype eq = t.indexOf('=', b);
    if (eq < 0)
        return;
    line.kind = LineKind::Key;
    line.name = decode(trimBlanks(t.mid(b, eq - b)));
    qsizetype v = eq + 1;
    while (v < t.size() && isBlank(t[v]))
        ++v;
    line.valueAt = v;
}

bool IniDocument::load(const QString &path)
{
    m_lines.clear();
    m_bom = false;
    m_lineEnd = "\r\n";
    m_encoding = Encoding::Utf8;
    m_loadFailed = false;
    m_refused = false;

    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;

    auto fail = [this, &path](const char *why) {
        qCWarning(lcConfig) << "profile file" << path << "not read:" << why;
        m_lines.clear();
        m_loadFailed = true;
        return false;
    };
    if (!info.isFile())
        return fail("not a regular file");
    if (info.size() > kMaxFileSize)
        return fail("too large");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail("cannot be opened");
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fail("read error");
    if (bytes.size() > kMaxFileSize)
        return fail("too large");
    if (bytes.contains('\0'))
        return fail("binary content");

    m_bom = bytes.startsWith(kUtf8Bom);
    const QByteArray content = m_bom ? bytes.mid(kUtf8Bom.size()) : bytes;
    m_encoding = isValidUtf8(content) ? Encoding::Utf8 : Encoding::Windows1251;

    bool endSeen = false;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype stop = pos;
        while (stop < content.size() && content[stop] != '\r' && content[stop] != '\n')
            ++stop;
        Line line;
        line.text = content.mid(pos, stop - pos);
        qsizetype next = stop;
        if (stop < content.size()) {
            next = stop + 1;
            if (content[stop] == '\r' && next < content.size() && content[next] == '\n')
                ++next;
            line.end = content.mid(stop, next - stop);
            if (!endSeen) {
                m_lineEnd = line.end;
                endSeen = true;
            }
        }
        parseLine(line);
        m_lines.append(std::move(line));
        pos = next;
    }
    return true;
}

QString IniDocument::storedValue(const Line &line) const
{
    QString value = decode(trimBlanks(line.text.mid(line.valueAt)));
    if (looksQuoted(value))
        value = value.mid(1, value.size() - 2);
    if (value.size() > kMaxValueLength) {
        qsizetype cut = kMaxValueLength;
        if (value[cut - 1].isHighSurrogate())
            --cut;
        value.truncate(cut);
    }
    return value;
}

qsizetype IniDocument::findKey(const QString &section, const QString &key) const
{
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines[i];
        if (line.kind == LineKind::Section)
            inSection = line.name.compare(section, Qt::CaseInsensitive) == 0;
        else if (inSection && line.kind == LineKind::Key &&
                 line.name.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

qsizetype IniDocument::findSection(const QString &section) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line &line = m_lines[i];
        if (line.kind == LineKind::Section && line.name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString IniDocument::value(const QString &section, const QString &key,
                           const QString &defaultValue) const
{
    const QString sectionName = trimBlanks(section);
    const QString keyName = trimBlanks(key);
    if (!isValidSectionName(sectionName) || !isValidKeyName(keyName))
        return defaultValue;
    const qsizetype i = findKey(sectionName, keyName);
    return i < 0 ? defaultValue : storedValue(m_lines[i]);
}

bool IniDocument::contains(const QString &section, const QString &key) const
{
    const QString sectionName = trimBlanks(section);
    const QString keyName = trimBlanks(key);
    return isValidSectionName(sectionName) && isValidKeyName(keyName) &&
           findKey(sectionName, keyName) >= 0;
}

void IniDocument::insertLine(qsizetype at, const QByteArray &text)
{
    if (at > 0 && m_lines[at - 1].end.isEmpty())
        m_lines[at - 1].end = m_lineEnd;
    Line line;
    line.text = text;
    line.end = m_lineEnd;
    parseLine(line);
    m_lines.insert(at, std::move(line));
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    const QString sectionName = trimBlanks(section);
    const QString keyName = trimBlanks(key);
    if (!isValidSectionName(sectionName) || !isValidKeyName(keyName) || value.contains(QChar(0))) {
        qCWarning(lcConfig) << "refused profile entry" << section << key;
        m_refused = true;
        return;
    }
    QString cleaned = value;
    cleaned.replace(u'\r', u' ').replace(u'\n', u' ');

    QByteArray encodedValue;
    QByteArray encodedKey;
    QByteArray encodedSection;
    if (!encode(storedForm(cleaned), &encodedValue) || !encode(keyName, &encodedKey) ||
        !encode(sectionName, &encodedSection)) {
        qCWarning(lcConfig) << "profile entry" << section << key
                            << "not representable in the file's encoding";
        m_refused = true;
        return;
    }

    const qsizetype existing = findKey(sectionName, keyName);
    if (existing >= 0) {
        Line &line = m_lines[existing];
        line.text = line.text.left(line.valueAt) + encodedValue;
        return;
    }
    const QByteArray keyLine = encodedKey + '=' + encodedValue;

    const qsizetype header = findSection(sectionName);
    if (header >= 0) {
        qsizetype at = header + 1;
        for (qsizetype i = header + 1; i < m_lines.size(); ++i) {
            if (m_lines[i].kind == LineKind::Section)
                break;
            if (m_lines[i].kind == LineKind::Key)
                at = i + 1;
        }
        insertLine(at, keyLine);
        return;
    }

    // A new section is set off from the content above it by one empty line.
    if (!m_lines.isEmpty() && !trimBlanks(m_lines.back().text).isEmpty())
        insertLine(m_lines.size(), QByteArray());
    insertLine(m_lines.size(), '[' + encodedSection + ']');
    insertLine(m_lines.size(), keyLine);
}

bool IniDocument::save(const QString &path) const
{
    if (m_loadFailed || m_refused) {
        qCWarning(lcConfig) << "profile file" << path << "not written: document incomplete";
        return false;
    }
    const QFileInfo info(path);
    if (info.exists()) {
        const auto writeBits =
            QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
        if (!info.isFile() || !info.isWritable() || !(info.permissions() & writeBits)) {
            qCWarning(lcConfig) << "profile file" << path << "not written: read-only";
            return false;
        }
    }

    QByteArray data;
    if (m_bom)
        data += kUtf8Bom;
    for (const Line &line : m_lines) {
        data += line.text;
        data += line.end;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcConfig) << "profile file" << path << "not written:" << file.errorString();
        return false;
    }
    if (file.write(data) != data.size()) {
        qCWarning(lcConfig) << "profile file" << path << "not written:" << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcConfig) << "profile file" << path << "not written:" << file.errorString();
        return false;
    }
    return true;
}

QString ReadIniValue(const QString &path, const QString &section, const QString &key,
                     const QString &defaultValue)
{
    IniDocument doc;
    if (!doc.load(path))
        return defaultValue;
    return doc.value(section, key, defaultValue);
}

bool WriteIniValue(const QString &path, const QString &section, const QString &key,
                   const QString &value)
{
    IniDocument doc;
    if (!doc.load(path))
        return false;
    doc.setValue(section, key, value);
    return doc.save(path);
}

} // namespace vortan
