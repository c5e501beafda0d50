#include "widgets/statusline.h"

#include <QLabel>

namespace vortan
{

void ShowStatusNow(QLabel *line, const QString &text)
{
    if (!line)
        return;
    line->setText(text);
    line->repaint();
}

} // namespace vortan
