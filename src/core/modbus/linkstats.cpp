#include "modbus/linkstats.h"

#include <cmath>

namespace vortan
{

void LinkStats::reset()
{
    *this = LinkStats();
}

void LinkStats::exchanged(const ExchangeRecord &r)
{
    if (r.idle())
        return;
    if (r.port != m_counts.port) {
        reset();
        m_counts.port = r.port;
    }
    m_counts.bytesReceived += quint64(r.bytesReceived);
    if (r.waitMs > 0)
        m_counts.waitMs = r.waitMs;
    if (r.request.isEmpty()) {
        if (r.verdict == Verdict::Stray)
            ++m_counts.stray;
        return;
    }

    if (m_counts.exchanges++ == 0)
        m_counts.sinceMsecs = r.msecsSinceEpoch;
    m_counts.bytesSent += quint64(r.request.size());
    if (r.repeat)
        ++m_counts.repeats;
    bool failed = false;
    switch (r.verdict) {
    case Verdict::Good:
        ++m_counts.good;
        break;
    case Verdict::Exception:
        ++m_counts.exceptions;
        ++m_exceptionCodes[size_t(r.exceptionCode() & 0xFF)];
        break;
    case Verdict::BadCrc:
        ++m_counts.badCrc;
        failed = true;
        break;
    case Verdict::NoReply:
        ++m_counts.noReply;
        failed = true;
        break;
    case Verdict::Short:
        ++m_counts.shortReply;
        failed = true;
        break;
    case Verdict::Stray:
        ++m_counts.stray;
        failed = true;
        break;
    }
    m_counts.currentFailRun = failed ? m_counts.currentFailRun + 1 : 0;
    m_counts.longestFailRun = qMax(m_counts.longestFailRun, m_counts.currentFailRun);

    if (r.replyTimeUs >= 0) {
        ++m_counts.timedReplies;
        m_counts.replyMinUs =
            m_counts.replyMinUs < 0 ? r.replyTimeUs : qMin(m_counts.replyMinUs, r.replyTimeUs);
        m_counts.replyMaxUs = qMax(m_counts.replyMaxUs, r.replyTimeUs);
        ++m_replyBins[size_t(qMin<qint64>(r.replyTimeUs / BinUs, Bins - 1))];
    }

    m_times[size_t(m_timesHead)] = r.msecsSinceEpoch;
    m_timesHead = (m_timesHead + 1) % RateRing;
    m_timesCount = qMin(m_timesCount + 1, RateRing);
}

qint64 LinkStats::percentileUs(double q) const
{
    const quint64 rank = quint64(std::ceil(q * double(m_counts.timedReplies)));
    quint64 seen = 0;
    for (int b = 0; b < Bins; ++b) {
        seen += m_replyBins[size_t(b)];
        if (seen >= qMax<quint64>(rank, 1)) {
            if (b == Bins - 1)
                return m_counts.replyMaxUs;
            // The bin's upper edge: at most this long, never outside what was measured.
            return qBound(m_counts.replyMinUs, (b + 1) * BinUs, m_counts.replyMaxUs);
        }
    }
    return m_counts.replyMaxUs;
}

LinkFigures LinkStats::figures(qint64 nowMsecs) const
{
    LinkFigures f = m_counts;
    for (int code = 0; code < int(m_exceptionCodes.size()); ++code) {
        if (m_exceptionCodes[size_t(code)] > 0)
            f.exceptionsByCode.append({code, m_exceptionCodes[size_t(code)]});
    }
    if (f.timedReplies > 0) {
        f.replyMedianUs = percentileUs(0.5);
        f.replyP95Us = percentileUs(0.95);
    }

    // Exchanges within the window, newest first; a clock set back makes later times count too.
    int inWindow = 0;
    qint64 oldest = nowMsecs;
    for (int i = 1; i <= m_timesCount; ++i) {
        const qint64 t = m_times[size_t((m_timesHead - i + RateRing) % RateRing)];
        if (nowMsecs - t >= RateWindowMs)
            break;
        ++inWindow;
        oldest = qMin(oldest, t);
    }
    // Over the whole window once it is covered, else since the first exchange counted.
    qint64 spanMs = RateWindowMs;
    if (inWindow == m_timesCount && m_timesCount < RateRing)
        spanMs = qMin<qint64>(RateWindowMs, nowMsecs - f.sinceMsecs);
    else if (inWindow == RateRing)
        spanMs = nowMsecs - oldest;
    f.perSecond = spanMs > 0 ? 1000.0 * inWindow / double(spanMs) : 0.0;
    return f;
}

} // namespace vortan
