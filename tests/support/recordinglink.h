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
        m_frames.append(frame);
        m_line.write(frame);
    }
    LinkTiming timing() const override { return m_line.timing(); }
    qint64 nowUs() const override { return m_line.nowUs(); }

    // Function code of the frame written `back` frames before the last one; -1 when none.
    int functionSent(int back = 0) const
    {
        const QByteArray f = m_frames.value(m_frames.size() - 1 - back);
        return f.size() >= 2 ? quint8(f.at(1)) : -1;
    }
    // The requests of one function in the order sent. A frame written again right after
    // itself is the same request sent again because its reply was late or bad.
    QList<QByteArray> requestsOf(int function) const
    {
        QList<QByteArray> list;
        for (qsizetype i = 0; i < m_frames.size(); ++i) {
            const QByteArray &f = m_frames[i];
            if (f.size() >= 2 && quint8(f.at(1)) == function && (i == 0 || f != m_frames[i - 1]))
                list.append(f);
        }
        return list;
    }

private:
    SerialLink &m_line;
    QList<QByteArray> m_frames;
};

} // namespace vortan::test
