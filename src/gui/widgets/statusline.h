#pragma once

#include <QString>

class QLabel;

namespace vortan
{

// Writes the status line and paints it at once: file work runs inside one event, so without the
// immediate paint the engineer would never see "Чтение…" or "Сохранение…". A null line is ignored.
void ShowStatusNow(QLabel *line, const QString &text);

} // namespace vortan
