#pragma once

#include "modbus/frames.h"

#include <QByteArray>
#include <QColor>
#include <QLineEdit>
#include <QList>
#include <QPalette>

#include <array>

namespace vortan::test
{

// A reply frame as the controller sends it: slave 1, function, address, count, data, CRC.
inline RxBuffer ParamReply(int function, int address, int count, const QByteArray &data,
                           int cutAfter = -1)
{
    QByteArray frame;
    frame.append(char(1));
    frame.append(char(function));
    frame.append(char((address >> 8) & 0xFF));
    frame.append(char(address & 0xFF));
    frame.append(char(count));
    frame.append(data);
    const quint16 crc = Crc16Modbus(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    RxBuffer rx;
    // Bytes of an earlier, longer reply lie beyond count; a reader must never take them.
    rx.bytes.fill(0xEE);
    const int n = cutAfter >= 0 ? qMin(cutAfter, int(frame.size())) : int(frame.size());
    for (int i = 0; i < n; ++i)
        rx.bytes[size_t(i)] = quint8(frame.at(i));
    rx.count = n;
    return rx;
}

// The controller's parameter memory as far as the tests need it: answers function 100 with the
// bytes asked for and stores function 101 data, echoing it back.
struct FakeParamMemory {
    std::array<quint8, 147> bytes{};

    // Reply to one request frame (slave address first, CRC last); empty for other functions.
    QByteArray answer(const QByteArray &request)
    {
        if (request.size() < 7)
            return {};
        const int function = quint8(request.at(1));
        const int address = quint8(request.at(2)) * 256 + quint8(request.at(3));
        const int n = quint8(request.at(4));
        QByteArray data;
        if (function == FnParamRead) {
            for (int k = 0; k < n && address + k < int(bytes.size()); ++k)
                data.append(char(bytes[size_t(address + k)]));
        } else if (function == FnParamWrite) {
            data = request.mid(5, n);
            for (int k = 0; k < data.size() && address + k < int(bytes.size()); ++k)
                bytes[size_t(address + k)] = quint8(data.at(k));
        } else {
            return {};
        }
        QByteArray reply = request.left(4);
        reply.append(char(data.size()));
        reply.append(data);
        const quint16 crc = Crc16Modbus(reply);
        reply.append(char(crc & 0xFF));
        reply.append(char(crc >> 8));
        return reply;
    }
};

inline QColor baseOf(const QWidget *w)
{
    return w->palette().color(QPalette::Base);
}

inline QByteArray slotBytes(const RequestSlot &slot)
{
    QByteArray b;
    for (int i = 0; i <= slot.last && i < RequestSlot::Capacity; ++i)
        b.append(char(slot.bytes[size_t(i)]));
    return b;
}

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

} // namespace vortan::test

#include "modbus/requestqueue.h"
#include "params/filebrowser.h"
#include "params/paramwindow.h"
#include "scriptedmessages.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <memory>

namespace vortan::test
{

// A fresh world for the parameters window: its owner, the status line, the request ring and a
// scripted message box.
struct ParamWorld {
    QWidget owner;
    QLabel *status = new QLabel(&owner);
    RequestQueue queue;
    ScriptedMessages messages;
    std::unique_ptr<ParamWindow> window;

    ParamWorld()
    {
        status->setObjectName(QStringLiteral("lbl_sys_mes"));
        window = std::make_unique<ParamWindow>(queue, status, messages, &owner);
    }
    ~ParamWorld() { window.reset(); }

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
    // Points the file browser at one folder standing in for a drive.
    void browseIn(const QString &folder)
    {
        window->fileBrowser().setVolumeSource([folder] { return QVector<Volume>{{folder, {}}}; });
        window->fileBrowser().start(folder);
    }
};

} // namespace vortan::test
