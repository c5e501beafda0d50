#include "record/trendhistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vortan
{

TrendHistory::TrendHistory(int capacity) : m_capacity(qMax(1, capacity))
{
    const std::vector<StatusColumn> &columns = StatusColumns();
    for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].isNumber())
            m_columns.push_back(int(c));
    }
    m_values.resize(m_columns.size());
}

int TrendHistory::fieldIndex(const QString &key) const
{
    for (int f = 0; f < fieldCount(); ++f) {
        if (field(f).key == key)
            return f;
    }
    return -1;
}

void TrendHistory::append(qint64 msecsSinceEpoch, const StatusSnapshot &snapshot)
{
    // A clock set back must not fold the time axis onto itself.
    const qint64 t = m_size > 0 ? qMax(msecsSinceEpoch, timeAt(m_size - 1)) : msecsSinceEpoch;
    const std::vector<StatusColumn> &columns = StatusColumns();
    if (m_size < m_capacity) {
        m_times.push_back(t);
        for (size_t f = 0; f < m_columns.size(); ++f)
            m_values[f].push_back(float(ColumnNumber(snapshot, columns[size_t(m_columns[f])])));
        ++m_size;
        return;
    }
    const size_t at = size_t(m_start);
    m_times[at] = t;
    for (size_t f = 0; f < m_columns.size(); ++f)
        m_values[f][at] = float(ColumnNumber(snapshot, columns[size_t(m_columns[f])]));
    m_start = m_start + 1 == m_capacity ? 0 : m_start + 1;
}

void TrendHistory::clear()
{
    m_times.clear();
    for (std::vector<float> &v : m_values)
        v.clear();
    m_start = 0;
    m_size = 0;
}

int TrendHistory::lowerBound(qint64 msecs) const
{
    int lo = 0;
    int hi = m_size;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (timeAt(mid) < msecs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int TrendHistory::nearest(qint64 msecs) const
{
    if (m_size == 0)
        return -1;
    int i = lowerBound(msecs);
    if (i == m_size || (i > 0 && msecs - timeAt(i - 1) < timeAt(i) - msecs))
        --i;
    return std::llabs(timeAt(i) - msecs) <= GapMs ? i : -1;
}

std::vector<QPointF> TrendHistory::curve(int f, qint64 from, qint64 to, int buckets) const
{
    std::vector<QPointF> out;
    if (f < 0 || f >= fieldCount() || m_size == 0 || to <= from || buckets < 1)
        return out;
    const int lo = qMax(0, lowerBound(from) - 1);
    const int hi = qMin(m_size, lowerBound(to) + 1);
    const double width = double(to - from) / buckets;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    out.reserve(size_t(qMin(hi - lo, 2 * buckets + 8)));

    bool open = false;
    qint64 bucket = 0;
    float low = 0;
    float high = 0;
    qint64 lowAt = 0;
    qint64 highAt = 0;
    const auto close = [&] {
        if (!open)
            return;
        open = false;
        // Samples that share a stamp (the clock was set back) keep both extremes.
        if (low == high) {
            out.emplace_back(double(lowAt), double(low));
        } else if (lowAt <= highAt) {
            out.emplace_back(double(lowAt), double(low));
            out.emplace_back(double(highAt), double(high));
        } else {
            out.emplace_back(double(highAt), double(high));
            out.emplace_back(double(lowAt), double(low));
        }
    };
    const auto breakCurve = [&] {
        close();
        if (!out.empty() && !std::isnan(out.back().y()))
            out.emplace_back(out.back().x(), nan);
    };

    qint64 previous = 0;
    for (int i = lo; i < hi; ++i) {
        const qint64 t = timeAt(i);
        const float v = valueAt(f, i);
        if (i > lo && t - previous > GapMs)
            breakCurve();
        previous = t;
        if (std::isnan(v)) {
            breakCurve();
            continue;
        }
        const qint64 b = qint64(std::floor(double(t - from) / width));
        if (open && b == bucket) {
            if (v < low) {
                low = v;
                lowAt = t;
            }
            if (v > high) {
                high = v;
                highAt = t;
            }
            continue;
        }
        close();
        open = true;
        bucket = b;
        low = high = v;
        lowAt = highAt = t;
    }
    close();
    return out;
}

} // namespace vortan
