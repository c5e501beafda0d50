#pragma once

#include <QMessageBox>
#include <QString>

namespace vortan {

// How the windows put a question or a message box to the user. The program uses real message
// boxes; tests plug in a script that records each box and answers it.
class UserMessages {
public:
    virtual ~UserMessages() = default;
    virtual QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon,
                                            const QString &title, const QString &text,
                                            QMessageBox::StandardButtons buttons) = 0;
};

// Real, modal message boxes (button texts come from Qt's Russian translation).
UserMessages &realUserMessages();

} // namespace vortan
