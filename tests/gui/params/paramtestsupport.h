#pragma once

#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "params/filebrowser.h"
#include "params/paramwindow.h"
#include "paramreplies.h"
#include "scriptedmessages.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <array>
#include <functional>
#include <memory>

namespace vortan::test
{

inline QColor baseOf(const QWidget *w)
{
    return w->palette().color(QPalette::Base);
}

// Records message boxes; `beforeAnswer` lets a test change the world while a box is up.
struct HookedMessages : ScriptedMessages {
    std::function<void()> beforeAnswer;
    QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                    const QString &text,
                                    QMessageBox::StandardButtons buttons) override
    {
        if (beforeAnswer)
            beforeAnswer();
        return ScriptedMessages::ask(parent, icon, title, text, buttons);
    }
};

// A fresh parameters window with its owner, the status line, the request ring and scripted boxes.
struct ParamWorld {
    QWidget owner;
    QLabel *status = new QLabel(&owner);
    RequestQueue queue;
    HookedMessages messages;
    ParamSet set;
    std::unique_ptr<ParamWindow> window =
        std::make_unique<ParamWindow>(set, queue, status, messages, &owner);

    template <typename T = QWidget>
    T *find(const QString &name) const
    {
        return window->findChild<T *>(name);
    }
    QLineEdit *box(int i) const { return find<QLineEdit>(QStringLiteral("txt_par_%1").arg(i)); }
    void click(const char *button)
    {
        QTest::mouseClick(find<QPushButton>(QString::fromLatin1(button)), Qt::LeftButton);
    }
    void setAllBoxes(const QString &text)
    {
        for (int i = 0; i < ParamTable::Count; ++i)
            box(i)->setText(text);
    }
    bool allColoured(const QColor &colour) const
    {
        for (int i = 0; i < ParamTable::Count; ++i) {
            if (baseOf(box(i)) != colour)
                return false;
        }
        return true;
    }
    // Points the file browser at one folder standing in for a drive.
    void browseIn(const QString &folder)
    {
        window->fileBrowser().setVolumeSource([folder] { return QVector<Volume>{{folder, {}}}; });
        window->fileBrowser().start(folder);
    }
};

} // namespace vortan::test
