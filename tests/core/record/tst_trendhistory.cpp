#include "record/trendhistory.h"
#include "statusblock.h"

#include <QtTest>

#include <cmath>

using namespace vortan;
using vortan::test::StatusBlock;

namespace
{

// U фазы A = n / 10 V; the set's frequency measured (shown) only when `frequencyValid`.
StatusSnapshot Sample(int n, bool frequencyValid = true)
{
    return DecodeStatusBlock(
        StatusBlock({{4, quint16(n)}, {19, 5000}, {22, quint16(frequencyValid ? 1 : 0)}}));
}

} // namespace

class TestTrendHistory : public QObject
{
    Q_OBJECT

    const TrendHistory probe;
    const int phaseA = probe.fieldIndex(QStringLiteral("lbl_phAU"));
    const int setFrequency = probe.fieldIndex(QStringLiteral("lbl_frt"));

private slots:
    void keepsOnlyTheNewestSamples()
    {
        TrendHistory h(100);
        QVERIFY(h.fieldIndex(QStringLiteral("lbl_ext_actpwr_7")) >= 0);
        QCOMPARE(h.fieldIndex(QStringLiteral("lbl_vfsf")), -1); // a word, not a curve
        for (int n = 0; n < 250; ++n)
            h.append(1000 + n * 80, Sample(n));
        QCOMPARE(h.size(), 100);
        QCOMPARE(h.timeAt(0), 1000 + 150 * 80);
        QCOMPARE(h.valueAt(phaseA, 0), 15.0f);
        QCOMPARE(h.valueAt(phaseA, 99), 24.9f);
        QCOMPARE(h.lowerBound(1000 + 200 * 80 - 1), 50);
        QCOMPARE(h.nearest(1000 + 200 * 80 + 30), 50);
        QCOMPARE(h.nearest(1000 + 249 * 80 + TrendHistory::GapMs + 1), -1);
    }

    // The clock set back 10 s while the ring is wrapping: every sample is kept once, in arrival
    // order, stamps never go backwards, and the time queries and the curve still find them.
    void clockSetBackKeepsOrderAndEverySample()
    {
        TrendHistory h(50);
        for (int n = 0; n < 70; ++n)
            h.append(n < 30 ? 100000 + n * 80 : 90000 + n * 80, Sample(n));
        QCOMPARE(h.size(), 50);
        QCOMPARE(h.timeAt(9), 100000 + 29 * 80); // the time before the change stays as it was
        for (int i = 0; i < h.size(); ++i) {
            QCOMPARE(h.valueAt(phaseA, i), float(0.1 * (20 + i)));
            QVERIFY(i == 0 || h.timeAt(i) >= h.timeAt(i - 1));
        }
        for (qint64 t = h.timeAt(0) - 100; t <= h.timeAt(49) + 100; t += 40) {
            int first = 0;
            while (first < h.size() && h.timeAt(first) < t)
                ++first;
            QCOMPARE(h.lowerBound(t), first);
        }
        const std::vector<QPointF> curve =
            h.curve(phaseA, h.timeAt(49) - 1000, h.timeAt(49) + 1, 100);
        QVERIFY(!curve.empty());
        double high = 0;
        for (size_t i = 0; i < curve.size(); ++i) {
            QVERIFY(i == 0 || curve[i].x() >= curve[i - 1].x());
            high = qMax(high, curve[i].y());
        }
        QCOMPARE(float(high), 6.9f); // the newest sample, though it shares its stamp
    }

    void invalidValuesAndSilenceBreakTheCurve()
    {
        TrendHistory h;
        qint64 t = 10000;
        for (int n = 0; n < 30; ++n, t += 80)
            h.append(t, Sample(2300, n < 10 || n >= 20)); // "?" in the middle third
        t += 5000;                                        // the cable was out for 5 s
        for (int n = 0; n < 10; ++n, t += 80)
            h.append(t, Sample(2300));

        const std::vector<QPointF> curve = h.curve(setFrequency, 10000, t, 1000);
        int breaks = 0;
        for (const QPointF &p : curve) {
            if (std::isnan(p.y()))
                ++breaks;
            else
                QCOMPARE(p.y(), 50.0);
        }
        QCOMPARE(breaks, 2);
        QCOMPARE(int(curve.size()), 30 + breaks);
    }

    void reducesToTheExtremesOfEachSlice()
    {
        TrendHistory h;
        for (int n = 0; n < 20000; ++n)
            h.append(qint64(n) * 80, Sample(2300 + (n * 7919) % 97 + (n == 12345 ? 900 : 0)));
        const std::vector<QPointF> curve = h.curve(phaseA, 0, 20000 * 80, 200);
        QVERIFY(curve.size() <= 2 * 200 + 2);
        double high = 0;
        double low = 1e9;
        for (const QPointF &p : curve) {
            high = qMax(high, p.y());
            low = qMin(low, p.y());
        }
        QCOMPARE(float(high), float(0.1 * (2300 + (12345 * 7919) % 97 + 900)));
        QCOMPARE(low, 230.0);
    }
};

QTEST_GUILESS_MAIN(TestTrendHistory)
#include "tst_trendhistory.moc"
