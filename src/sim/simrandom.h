#pragma once

#include <QtGlobal>
#include <random>

namespace vortan::sim
{

// Random numbers that repeat exactly for a given seed on every platform: the Mersenne twister
// is fixed by the standard, the distributions of the standard library are not.
class SimRandom
{
public:
    explicit SimRandom(quint32 seed) : m_engine(seed) {}

    quint32 next() { return quint32(m_engine()); }
    // lo..hi inclusive.
    int between(int lo, int hi)
    {
        if (hi <= lo)
            return lo;
        return lo + int(next() % quint32(hi - lo + 1));
    }
    // 0 <= x < 1.
    double unit() { return double(next() >> 8) / double(1u << 24); }

private:
    std::mt19937 m_engine;
};

} // namespace vortan::sim
