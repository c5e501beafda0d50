#pragma once

#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "params/filebrowser.h"
#include "params/paramwindow.h"
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

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

inline QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = Crc16Modbus(frame);
    return frame + bytes({crc & 0xFF, crc >> 8});
}

// A parameter reply from slave 1 as it lies in the receive buffer after `cutAfter` bytes (all
// when negative); the bytes beyond it stand for an earlier, longer reply that must not be read.
inline RxBuffer ParamReply(int function, int address, int count, const QByteArray &data,
                           int cutAfter = -1)
{
    const QByteArray frame =
        withCrc(bytes({1, function, address >> 8, address & 0xFF, count}) + data);
    RxBuffer rx;
    rx.bytes.fill(0xEE);
    rx.count = cutAfter >= 0 ? qMin(cutAfter, int(frame.size())) : int(frame.size());
    std::copy(frame.begin(), frame.begin() + rx.count, rx.bytes.begin());
    return rx;
}

// The controller's parameter memory: answers function 100 with the bytes asked for, stores the
// data of function 101 and echoes it; no answer to anything else.
struct FakeParamMemory {
    std::array<quint8, 147> bytes{};

    QByteArray answer(const QByteArray &request)
    {
        if (request.size() < 7)
            return {};
        const int function = quint8(request.at(1));
        const int address = quint8(request.at(2)) * 256 + quint8(request.at(3));
        const int n = quint8(request.at(4));
        QByteArray data = request.mid(5, n);
        if (function == FnParamRead) {
            data = QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()))
                       .mid(address, n);
        } else if (function == FnParamWrite) {
            for (int k = 0; k < data.size() && address + k < int(bytes.size()); ++k)
                bytes[size_t(address + k)] = quint8(data.at(k));
        } else {
            return {};
        }
        return withCrc(request.left(4) + char(data.size()) + data);
    }
};

inline QColor baseOf(const QWidget *w)
{
    return w->palette().color(QPalette::Base);
}

inline QByteArray slotBytes(const RequestSlot &slot)
{
    return QByteArray(reinterpret_cast<const char *>(slot.bytes.data()),
                      qBound(0, slot.last + 1, RequestSlot::Capacity));
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
