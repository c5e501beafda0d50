#include "usermessage.h"

namespace vortan
{

namespace
{
class BoxMessages : public UserMessages
{
public:
    QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                    const QString &text,
                                    QMessageBox::StandardButtons buttons) override
    {
        return askWithDetail(parent, icon, title, text, QString(), buttons);
    }
    QMessageBox::StandardButton askWithDetail(QWidget *parent, QMessageBox::Icon icon,
                                              const QString &title, const QString &text,
                                              const QString &detail,
                                              QMessageBox::StandardButtons buttons) override
    {
        QMessageBox box(icon, title, text, buttons, parent);
        box.setDetailedText(detail);
        return QMessageBox::StandardButton(box.exec());
    }
};
} // namespace

UserMessages &realUserMessages()
{
    static BoxMessages messages;
    return messages;
}

} // namespace vortan
