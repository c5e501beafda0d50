#pragma once

#include "record/trendhistory.h"

#include <QChartView>
#include <QColor>
#include <QGraphicsItem>
#include <QMap>

#include <vector>

class QDateTimeAxis;
class QGraphicsLineItem;
class QLineSeries;
class QValueAxis;

namespace vortan
{

// The curves over the chart's plot area. A QLineSeries joins every point it holds and strokes
// its whole path again on each change; this item leaves a gap at every break of a curve and
// draws only the points one pixel column can show.
class CurveLayer : public QGraphicsItem
{
public:
    struct Curve {
        QColor colour;
        std::vector<QPointF> points; // milliseconds since the epoch, value; NaN y breaks
        double low = 0;              // value range of its axis
        double high = 1;
    };

    explicit CurveLayer(QGraphicsItem *parent) : QGraphicsItem(parent) {}

    void setPlot(const QRectF &plotArea, qint64 from, qint64 to);
    std::vector<Curve> &curves() { return m_curves; }
    const std::vector<Curve> &curves() const { return m_curves; }

    QRectF boundingRect() const override { return m_plot; }
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override;

private:
    QRectF m_plot;
    qint64 m_from = 0;
    qint64 m_to = 1;
    std::vector<Curve> m_curves;
    std::vector<QPointF> m_pixels;
};

// The trend chart: a time axis, one value axis per unit (alternating left and right), a legend
// entry per curve, the curves of the chosen fields and a cursor line that follows the mouse.
class TrendPlot : public QChartView
{
    Q_OBJECT
public:
    explicit TrendPlot(const TrendHistory &history, QWidget *parent = nullptr);

    // History field indices and their colours, in legend order.
    void setFields(const std::vector<int> &fields, const std::vector<QColor> &colours);
    // Recomputes the curves of the time range from the history.
    void showRange(qint64 from, qint64 to);

    const CurveLayer &layer() const { return *m_layer; }
    QList<QValueAxis *> valueAxes() const;
    qint64 from() const { return m_from; }
    qint64 to() const { return m_to; }

signals:
    void cursorMoved(qint64 msecs);
    void cursorLeft();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void placeLayer();
    void hideCursor();

    const TrendHistory &m_history;
    QDateTimeAxis *m_time = nullptr;
    QMap<QString, QValueAxis *> m_axes; // by unit
    std::vector<int> m_fields;
    std::vector<QValueAxis *> m_fieldAxis;
    CurveLayer *m_layer = nullptr;
    QGraphicsLineItem *m_cursor = nullptr;
    qint64 m_from = 0;
    qint64 m_to = 1;
};

} // namespace vortan
