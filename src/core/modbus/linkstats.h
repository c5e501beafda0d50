#pragma once

#include "modbus/exchangerecord.h"

#include <QList>
#include <QPair>

#include <array>

namespace vortan
{

// The link's figures at one moment, for a window or a report.
struct LinkFigures {
    qint64 sinceMsecs = 0; // the first exchange counted; 0 before any
    int port = 0;
    quint64 exchanges = 0; // requests sent and judged
    quint64 good = 0;
    quint64 badCrc = 0;
    quint64 noReply = 0;
    quint64 shortReply = 0;
    quint64 exceptions = 0;
    QList<QPair<int, quint64>> exceptionsByCode; // (code, count), codes rising
    // Frames with a good CRC that answered no request in flight, also those taken between
    // exchanges (which are no exchange of their own).
    quint64 stray = 0;
    quint64 repeats = 0;
    quint64 longestFailRun = 0; // exchanges in a row without a reply that could be read
    quint64 currentFailRun = 0;
    double perSecond = 0; // exchanges per second over the last 10 s
    quint64 timedReplies = 0;
    qint64 replyMinUs = -1; // -1 while no reply time is known
    qint64 replyMedianUs = -1;
    qint64 replyP95Us = -1;
    qint64 replyMaxUs = -1;
    quint64 bytesSent = 0;
    quint64 bytesReceived = 0;
    int waitMs = 0; // how long silence is waited for before it counts as no reply; 0 while unknown
};

// Counts what the exchange cycle reports, since the port was opened or since reset(); a change
// of port starts a fresh count. Median and 95th percentile come from a histogram of 0.1 ms bins
// up to 200 ms (slower replies share the last bin) and are given as the upper edge of their bin,
// so memory and the cost per exchange stay fixed however long the program runs; minimum and
// maximum are exact.
class LinkStats : public ExchangeObserver
{
public:
    static constexpr int RateWindowMs = 10000;
    static constexpr qint64 BinUs = 100;
    static constexpr int Bins = 2000;

    void exchanged(const ExchangeRecord &record) override;
    void reset();
    LinkFigures figures(qint64 nowMsecs) const;

private:
    qint64 percentileUs(double q) const;

    LinkFigures m_counts;
    std::array<quint64, 256> m_exceptionCodes{};
    std::array<quint32, Bins> m_replyBins{};
    // Times of the latest exchanges, enough for the 10 s window at 25 per second and at the
    // faster pace of a bus scan; beyond that the rate is taken over what the ring holds.
    static constexpr int RateRing = 1024;
    std::array<qint64, RateRing> m_times{};
    int m_timesHead = 0; // where the next time goes
    int m_timesCount = 0;
};

} // namespace vortan
