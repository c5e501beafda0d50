#include "journal/journalevent.h"

#include <QDateTime>
#include <QLocale>

namespace vortan
{

QString JournalGroupName(JournalGroup group)
{
    switch (group) {
    case JournalGroup::Alarm:
        return QStringLiteral("Авария");
    case JournalGroup::Warning:
        return QStringLiteral("Неисправность");
    case JournalGroup::Flags:
        return QStringLiteral("Флаги");
    case JournalGroup::Inputs:
        return QStringLiteral("Входы");
    case JournalGroup::Link:
        return QStringLiteral("Связь");
    case JournalGroup::Command:
        return QStringLiteral("Команда");
    case JournalGroup::Params:
        break;
    }
    return QStringLiteral("Параметры");
}

QStringList JournalHeadings()
{
    return {QStringLiteral("Время"), QStringLiteral("Событие"), QStringLiteral("Группа"),
            QStringLiteral("Сигнал"), QStringLiteral("Первопричина")};
}

QString JournalTimeText(qint64 msecsSinceEpoch)
{
    const QString point = QLocale().decimalPoint();
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    return t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           (point.isEmpty() ? QStringLiteral(".") : point.left(1)) +
           t.toString(QStringLiteral("zzz"));
}

QStringList JournalEvent::cells() const
{
    return {JournalTimeText(msecsSinceEpoch), event, JournalGroupName(group), signal,
            firstOut ? QStringLiteral("да") : QString()};
}

} // namespace vortan
