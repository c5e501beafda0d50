#include "format/fileparts.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace vortan
{

namespace
{

qint64 NextLocalMidnight(qint64 msecs)
{
    const QDate today = QDateTime::fromMSecsSinceEpoch(msecs).date();
    return QDateTime(today.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
}

} // namespace

void FileParts::start(const QString &path)
{
    m_basePath = path;
    m_files = QStringList{path};
    m_part = 1;
    m_nextMidnight = 0;
}

bool FileParts::due(qint64 now, qint64 partBytes, bool partHasEntries)
{
    if (m_nextMidnight == 0)
        m_nextMidnight = NextLocalMidnight(now);
    if (now < m_nextMidnight && partBytes <= m_splitBytes)
        return false;
    if (partHasEntries)
        return true;
    m_nextMidnight = NextLocalMidnight(now);
    return false;
}

bool FileParts::openNext(QFile &file, qint64 now, QIODevice::OpenMode extra)
{
    const QFileInfo base(m_basePath);
    const QString suffix = base.suffix().isEmpty() ? QString() : QLatin1Char('.') + base.suffix();
    const QString stem = base.suffix().isEmpty() ? base.fileName() : base.completeBaseName();
    for (;;) {
        ++m_part;
        const QString path =
            base.dir().filePath(QStringLiteral("%1-%2%3").arg(stem).arg(m_part).arg(suffix));
        if (QFileInfo::exists(path))
            continue;
        file.setFileName(path);
        // NewOnly: a file that appeared since the check is skipped too, never replaced.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | extra))
            break;
        if (!QFileInfo::exists(path))
            return false;
    }
    m_files << file.fileName();
    m_nextMidnight = NextLocalMidnight(now);
    return true;
}

} // namespace vortan
