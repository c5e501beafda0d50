#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace vortan
{

// Reads a journal file as JournalFile writes it (the window's daily files, vortanctl journal,
// "Сохранить как..."): the header Время;Событие;Группа;Сигнал;Первопричина, then rows of five
// ";"-separated cells, quoted where a cell holds ";" or quotes. A byte-order mark and CR LF or LF
// line ends are taken as they come. Returns false with a Russian `error` when the file cannot be
// read, is too large, has another header or a row without five cells; `rows` is then empty.
bool ReadJournalCsv(const QString &path, QList<QStringList> &rows, QString &error);

} // namespace vortan
