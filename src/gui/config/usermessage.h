#pragma once

#include <QMessageBox>
#include <QString>

namespace vortan
{

// How the windows put a question or a message box to the user. The program uses real message
// boxes; tests plug in a script that records each box and answers it.
class UserMessages
{
public:
    virtual ~UserMessages() = default;
    virtual QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon,
                                            const QString &title, const QString &text,
                                            QMessageBox::StandardButtons buttons) = 0;
    // The same box with `detail` behind its "Show Details..." button: what to do about the
    // failure, kept out of the message the user knows. Without a box of its own, the detail is
    // dropped and the message shown as it is.
    virtual QMessageBox::StandardButton askWithDetail(QWidget *parent, QMessageBox::Icon icon,
                                                      const QString &title, const QString &text,
                                                      const QString &detail,
                                                      QMessageBox::StandardButtons buttons)
    {
        Q_UNUSED(detail);
        return ask(parent, icon, title, text, buttons);
    }
};

// Real, modal message boxes (button texts come from Qt's Russian translation).
UserMessages &realUserMessages();

} // namespace vortan
