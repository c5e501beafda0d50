#include "sim/faultplan.h"

#include <QStringList>

#include <algorithm>

namespace vortan::sim
{

QString SimCounters::toJson(double seconds) const
{
    auto count = [this](int fc) {
        const auto it = requests.find(fc);
        return it == requests.end() ? quint64(0) : it->second;
    };
    // Written by hand to keep the documented key order.
    return QStringLiteral("{\"requests\":{\"4\":%1,\"6\":%2,\"23\":%3,\"100\":%4,\"101\":%5},"
                          "\"replies\":%6,\"collisions\":%7,"
                          "\"faults\":{\"drop\":%8,\"corrupt\":%9,\"split\":%10,\"delay\":%11,"
                          "\"exception\":%12},"
                          "\"seconds\":%13}")
        .arg(count(4))
        .arg(count(6))
        .arg(count(23))
        .arg(count(100))
        .arg(count(101))
        .arg(replies)
        .arg(collisions)
        .arg(drop)
        .arg(corrupt)
        .arg(split)
        .arg(delay)
        .arg(exception)
        .arg(QString::number(qMax(0.0, seconds), 'f', 3));
}

void StatusTap::served(quint32 read, const StatusBlock &block)
{
    m_served.push_back(Served{read, block});
    while (m_served.size() > size_t(MaxUndelivered))
        m_served.pop_front();
}

void StatusTap::delivered(const QByteArray &frame)
{
    constexpr int DataBytes = 2 * Status::Count;
    // Only a read of the whole block says what every register shows.
    if (frame.size() != 3 + DataBytes + 2 || quint8(frame.at(1)) != 4 ||
        quint8(frame.at(2)) != DataBytes)
        return;
    StatusBlock block{};
    for (int n = 0; n < Status::Count; ++n)
        block[size_t(n)] = quint16(quint8(frame.at(3 + 2 * n)) << 8 | quint8(frame.at(4 + 2 * n)));
    m_block = block;
    m_hasBlock = true;
    m_read = 0;
    // Replies leave in the order they were served; older entries were dropped on the way.
    const auto it = std::find_if(m_served.begin(), m_served.end(),
                                 [&block](const Served &s) { return s.block == block; });
    if (it != m_served.end()) {
        m_read = it->read;
        m_served.erase(m_served.begin(), it + 1);
    }
}

QString StatusTap::toJson() const
{
    QStringList registers;
    if (m_hasBlock) {
        registers.reserve(Status::Count);
        for (quint16 r : m_block)
            registers << QString::number(r);
    }
    return QStringLiteral("{\"status\":[%1],\"read\":%2}")
        .arg(registers.join(QLatin1Char(',')))
        .arg(m_read);
}

FaultDecision FaultPlan::nextReply()
{
    FaultDecision d = m_once;
    m_once = FaultDecision{};
    // Both draws happen on every reply so that one setting does not shift the other's sequence.
    const double dropDraw = m_random.unit();
    const double corruptDraw = m_random.unit();
    if (dropDraw < m_dropProbability)
        d.drop = true;
    if (corruptDraw < m_corruptProbability)
        d.corrupt = true;
    if (d.splitMs < 0)
        d.splitMs = m_splitMs;
    if (d.delayMs < 0)
        d.delayMs = m_delayMs;
    if (d.drop)
        return FaultDecision{true, false, -1, -1};
    return d;
}

int ReplyFrameLength(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return 0;
    const int fc = quint8(bytes.at(1));
    int length = -1;
    if (fc & 0x80) {
        length = 5;
    } else {
        switch (fc) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 23:
            if (bytes.size() < 3)
                return 0;
            length = 3 + quint8(bytes.at(2)) + 2;
            break;
        case 5:
        case 6:
        case 8:
        case 15:
        case 16:
            length = 8;
            break;
        case 100:
        case 101:
            if (bytes.size() < 5)
                return 0;
            length = 5 + quint8(bytes.at(4)) + 2;
            break;
        default:
            return -1;
        }
    }
    return bytes.size() >= length ? length : 0;
}

} // namespace vortan::sim
