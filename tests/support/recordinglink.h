#pragma once

#include "modbus/seriallink.h"

#include <QByteArray>
#include <QList>

namespace vortan::test
{

// The real line, with a copy of every frame the program writes, so an end-to-end test knows
// which request is in flight.
class RecordingLink : public SerialLink
{
public:
    explicit RecordingLink(SerialLink &line) : m_line(line) {}

    void selectPort(int n) override { m_line.selectPort(n); }
    int selectedPort() const override { return m_line.selectedPort(); }
    OpenResult open() override { return m_line.open(); }
    void close() override { m_line.close(); }
    bool isOpen() const override { return m_line.isOpen(); }
    int bytesWaiting() override { return m_line.bytesWaiting(); }
    int readByte() override { return m_line.readByte(); }
    void write(const QByteArray &frame) override
    {
        frames.append(frame);
        m_line.write(frame);
    }

    // Function code of the frame written `back` frames before the last one; -1 when none.
    int functionSent(int back = 0) const
    {
        const int i = int(frames.size()) - 1 - back;
        return i >= 0 && frames[i].size() >= 2 ? quint8(frames[i].at(1)) : -1;
    }

    QList<QByteArray> framesOf(int function) const
    {
        QList<QByteArray> list;
        for (const QByteArray &f : frames)
            if (f.size() > 1 && quint8(f.at(1)) == function)
                list.append(f);
        return list;
    }

    QList<QByteArray> frames;

private:
    SerialLink &m_line;
};

} // namespace vortan::test
