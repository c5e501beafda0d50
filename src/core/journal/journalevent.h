#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace vortan
{

// Which kind of indicator or action a journal row tells about.
enum class JournalGroup { Alarm, Warning, Flags, Inputs, Link, Command, Params };
constexpr int JournalGroupCount = 7;

// "Авария", "Неисправность", "Флаги", "Входы", "Связь", "Команда", "Параметры".
QString JournalGroupName(JournalGroup group);

// One row of the event journal.
struct JournalEvent {
    qint64 msecsSinceEpoch = 0;
    QString event; // "появилось", "исчезло", "потеряна", "принята", "записан: 50 → 55", ...
    JournalGroup group = JournalGroup::Alarm;
    QString signal;        // the indicator's caption as the window shows it, a command, a parameter
    bool firstOut = false; // the alarm that came first after a quiet controller

    // The five cells: local time with milliseconds (the user's decimal separator, as in a
    // recording), event, group, signal, "да" or empty.
    QStringList cells() const;
};

enum JournalColumn { TimeColumn, EventColumn, GroupColumn, SignalColumn, FirstOutColumn };
constexpr int JournalColumns = 5;

// "Время", "Событие", "Группа", "Сигнал", "Первопричина".
QStringList JournalHeadings();
// "2026-12-07 10:15:02,345" in local time.
QString JournalTimeText(qint64 msecsSinceEpoch);

} // namespace vortan
