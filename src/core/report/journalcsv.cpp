#include "report/journalcsv.h"

#include "journal/journalevent.h"
#include "journal/journalfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vortan
{

namespace
{

// A year of busy days is far below this; a larger file is not a journal.
constexpr qint64 MaxJournalBytes = 64 * 1024 * 1024;

// One record from `pos` on: cells split at ";", quoted cells may hold ";", doubled quotes and
// line ends. `pos` ends after the record's line end.
QStringList NextRecord(const QString &text, qsizetype &pos)
{
    QStringList cells;
    QString cell;
    bool quoted = false;
    while (pos < text.size()) {
        const QChar c = text.at(pos++);
        if (quoted) {
            if (c != QLatin1Char('"'))
                cell += c;
            else if (pos < text.size() && text.at(pos) == QLatin1Char('"'))
                cell += text.at(pos++);
            else
                quoted = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(';')) {
            cells << cell;
            cell.clear();
        } else if (c == QLatin1Char('\n')) {
            break;
        } else if (c != QLatin1Char('\r')) {
            cell += c;
        }
    }
    cells << cell;
    return cells;
}

} // namespace

bool ReadJournalCsv(const QString &path, QList<QStringList> &rows, QString &error)
{
    rows.clear();
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Невозможно открыть файл журнала «%1» для чтения").arg(shown);
        return false;
    }
    if (file.size() > MaxJournalBytes) {
        error = QStringLiteral("Файл «%1» слишком велик для журнала событий").arg(shown);
        return false;
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    qsizetype pos = 0;
    if (NextRecord(text, pos).join(QLatin1Char(';')) != JournalFile::headerLine()) {
        error = QStringLiteral("Файл «%1» не журнал событий: первая строка не «%2»")
                    .arg(shown, JournalFile::headerLine());
        return false;
    }
    for (int line = 2; pos < text.size(); ++line) {
        const QStringList cells = NextRecord(text, pos);
        if (cells.size() == 1 && cells.first().trimmed().isEmpty())
            continue;
        if (cells.size() != JournalColumns) {
            error = QStringLiteral("Файл журнала «%1», строка %2: ячеек %3 вместо %4")
                        .arg(shown)
                        .arg(line)
                        .arg(cells.size())
                        .arg(JournalColumns);
            rows.clear();
            return false;
        }
        rows << cells;
    }
    return true;
}

} // namespace vortan
