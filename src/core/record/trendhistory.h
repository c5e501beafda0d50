#pragma once

#include "record/statuscolumns.h"
#include "status/statussnapshot.h"

#include <QPointF>
#include <QString>

#include <vector>

namespace vortan
{

// The recent past of every number of the status block, for the trend window: one sample per
// status reply, the oldest dropped once `capacity` are kept. An invalid measurement is kept as
// NaN so it shows as a gap, never as a value.
class TrendHistory
{
public:
    // An hour of status replies at one per 80 ms (the window alternates the status and the
    // control-state poll), and a few minutes to spare.
    static constexpr int DefaultCapacity = 48000;
    // No status reply for this long (a pulled cable) breaks a curve.
    static constexpr qint64 GapMs = 1000;

    explicit TrendHistory(int capacity = DefaultCapacity);

    void append(qint64 msecsSinceEpoch, const StatusSnapshot &snapshot);
    void clear();

    // The curves: the Number columns of StatusColumns(), in that order.
    int fieldCount() const { return int(m_columns.size()); }
    const StatusColumn &field(int f) const { return StatusColumns()[size_t(m_columns[size_t(f)])]; }
    int fieldIndex(const QString &key) const;

    int size() const { return m_size; }
    int capacity() const { return m_capacity; }
    // Sample i, 0 the oldest.
    qint64 timeAt(int i) const { return m_times[physical(i)]; }
    float valueAt(int f, int i) const { return m_values[size_t(f)][physical(i)]; }
    // First sample at or after `msecs` (size() when none).
    int lowerBound(qint64 msecs) const;
    // The sample closest to `msecs`, or -1 when none lies within GapMs of it.
    int nearest(qint64 msecs) const;

    // Field f between `from` and `to` reduced to at most two points (lowest and highest, in time
    // order) per one of `buckets` equal slices, with a point of NaN y wherever the curve breaks.
    // The samples just outside the range are included so the curve reaches the edges.
    std::vector<QPointF> curve(int f, qint64 from, qint64 to, int buckets) const;

private:
    size_t physical(int i) const
    {
        const int p = m_start + i;
        return size_t(p >= m_capacity ? p - m_capacity : p);
    }

    int m_capacity;
    int m_start = 0;
    int m_size = 0;
    std::vector<int> m_columns; // StatusColumns() index of each field
    std::vector<qint64> m_times;
    std::vector<std::vector<float>> m_values;
};

} // namespace vortan
