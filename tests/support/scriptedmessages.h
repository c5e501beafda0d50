#pragma once

#include "config/usermessage.h"

#include <QList>

namespace vortan::test
{

// Records every message box and answers from a script (default: the first answer given, else
// Cancel, so a forgotten script entry cannot loop a Retry forever).
class ScriptedMessages : public UserMessages
{
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QString detail;
    };
    QList<Box> shown;
    QList<QMessageBox::StandardButton> answers;

    QMessageBox::StandardButton ask(QWidget *, QMessageBox::Icon icon, const QString &title,
                                    const QString &text,
                                    QMessageBox::StandardButtons buttons) override
    {
        shown.append({icon, title, text, buttons, QString()});
        if (!answers.isEmpty())
            return answers.takeFirst();
        return QMessageBox::Cancel;
    }
    QMessageBox::StandardButton askWithDetail(QWidget *parent, QMessageBox::Icon icon,
                                              const QString &title, const QString &text,
                                              const QString &detail,
                                              QMessageBox::StandardButtons buttons) override
    {
        // Through ask(), so a script that hooks it sees this box too.
        const qsizetype before = shown.size();
        const QMessageBox::StandardButton answer = ask(parent, icon, title, text, buttons);
        if (shown.size() > before)
            shown[before].detail = detail;
        return answer;
    }
};

} // namespace vortan::test
