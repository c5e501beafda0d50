#include "trends/trendplot.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLineItem>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QValueAxis>

#include <cmath>

namespace vortan
{

namespace
{

// Above the grid and the axes, below the legend (Qt Charts stacks its items 0..5).
constexpr qreal CurveZ = 4.5;
constexpr qreal CursorZ = 4.6;
constexpr int MinBuckets = 50;
constexpr qint64 SecondsFormatUpToMs = 5 * 60 * 1000;
const char *const FittedProperty = "fitted";

// A drifting value should not make its axis jump on every refresh: the range changes only when
// the curve leaves it or shrinks to under a quarter of it.
void FitAxis(QValueAxis *axis, double low, double high)
{
    const bool fitted = axis->property(FittedProperty).toBool();
    const double a = axis->min();
    const double b = axis->max();
    if (fitted && low >= a && high <= b && (high - low) >= 0.25 * (b - a))
        return;
    const double pad = qMax((high - low) * 0.1, qMax(1e-3, std::fabs(high) * 0.005));
    axis->setRange(low - pad, high + pad);
    axis->applyNiceNumbers();
    axis->setProperty(FittedProperty, true);
}

} // namespace

void CurveLayer::setPlot(const QRectF &plotArea, qint64 from, qint64 to)
{
    if (plotArea != m_plot)
        prepareGeometryChange();
    m_plot = plotArea;
    m_from = from;
    m_to = qMax(from + 1, to);
    update();
}

void CurveLayer::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (m_plot.isEmpty())
        return;
    painter->save();
    painter->setClipRect(m_plot);
    const double sx = m_plot.width() / double(m_to - m_from);
    for (const Curve &curve : m_curves) {
        const double span = curve.high - curve.low;
        const double sy = span > 0 ? m_plot.height() / span : 0;
        // A one-pixel cosmetic pen is drawn line by line; a wider one fills the outline of the
        // whole zigzag of a noisy curve, which costs a hundred times more.
        QPen pen(curve.colour, 1);
        pen.setCosmetic(true);
        painter->setPen(pen);
        const auto draw = [&] {
            if (m_pixels.size() == 1)
                painter->drawPoint(m_pixels.front());
            else if (m_pixels.size() > 1)
                painter->drawPolyline(m_pixels.data(), int(m_pixels.size()));
            m_pixels.clear();
        };
        m_pixels.clear();
        for (const QPointF &p : curve.points) {
            if (std::isnan(p.y())) {
                draw();
                continue;
            }
            m_pixels.emplace_back(m_plot.left() + (p.x() - double(m_from)) * sx,
                                  m_plot.bottom() - (p.y() - curve.low) * sy);
        }
        draw();
    }
    painter->restore();
}

TrendPlot::TrendPlot(const TrendHistory &history, QWidget *parent)
    : QChartView(new QChart(), parent), m_history(history)
{
    setObjectName(QStringLiteral("chart_trends"));
    QChart *chart = this->chart();
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setLocalizeNumbers(true);
    chart->setLocale(QLocale());

    m_time = new QDateTimeAxis();
    m_time->setTickCount(7);
    m_time->setFormat(QStringLiteral("hh:mm:ss"));
    chart->addAxis(m_time, Qt::AlignBottom);

    m_layer = new CurveLayer(chart);
    m_layer->setZValue(CurveZ);
    m_cursor = new QGraphicsLineItem(chart);
    m_cursor->setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
    m_cursor->setZValue(CursorZ);
    m_cursor->hide();

    connect(chart, &QChart::plotAreaChanged, this, [this] { placeLayer(); });
    setMouseTracking(true);
}

QList<QValueAxis *> TrendPlot::valueAxes() const
{
    return m_axes.values();
}

void TrendPlot::setFields(const std::vector<int> &fields, const std::vector<QColor> &colours)
{
    QChart *c = chart();
    c->removeAllSeries();
    for (QValueAxis *axis : std::as_const(m_axes)) {
        c->removeAxis(axis);
        delete axis;
    }
    m_axes.clear();
    m_fields = fields;
    m_fieldAxis.clear();
    m_layer->curves().assign(fields.size(), CurveLayer::Curve());

    QMap<QValueAxis *, int> curvesOnAxis;
    for (size_t i = 0; i < fields.size(); ++i) {
        const StatusColumn &column = m_history.field(fields[i]);
        QValueAxis *axis = m_axes.value(column.unit);
        if (!axis) {
            axis = new QValueAxis();
            axis->setTitleText(column.unit);
            c->addAxis(axis, m_axes.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
            m_axes.insert(column.unit, axis);
        }
        // The series carries the legend entry and the axes; the layer draws the curve.
        auto *series = new QLineSeries();
        series->setName(column.heading);
        series->setPen(QPen(colours[i], 2));
        c->addSeries(series);
        series->attachAxis(m_time);
        series->attachAxis(axis);
        m_fieldAxis.push_back(axis);
        m_layer->curves()[i].colour = colours[i];
        ++curvesOnAxis[axis];
    }
    // An axis that carries one curve takes its colour, so the scale is read off at a glance.
    for (size_t i = 0; i < fields.size(); ++i) {
        if (curvesOnAxis.value(m_fieldAxis[i]) == 1) {
            m_fieldAxis[i]->setLabelsColor(colours[i]);
            m_fieldAxis[i]->setTitleBrush(colours[i]);
        }
    }
    showRange(m_from, m_to);
}

void TrendPlot::showRange(qint64 from, qint64 to)
{
    m_from = from;
    m_to = qMax(from + 1, to);
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(m_from);
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(m_to);
    if (m_time->min() != start || m_time->max() != end)
        m_time->setRange(start, end);
    const QString format =
        m_to - m_from <= SecondsFormatUpToMs ? QStringLiteral("hh:mm:ss") : QStringLiteral("hh:mm");
    if (m_time->format() != format)
        m_time->setFormat(format);

    const int buckets = qMax(MinBuckets, int(chart()->plotArea().width()));
    std::vector<CurveLayer::Curve> &curves = m_layer->curves();
    QMap<QValueAxis *, QPair<double, double>> ranges;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        curves[i].points = m_history.curve(m_fields[i], m_from, m_to, buckets);
        for (const QPointF &p : curves[i].points) {
            if (std::isnan(p.y()))
                continue;
            auto it = ranges.find(m_fieldAxis[i]);
            if (it == ranges.end())
                ranges.insert(m_fieldAxis[i], qMakePair(p.y(), p.y()));
            else
                *it = qMakePair(qMin(it->first, p.y()), qMax(it->second, p.y()));
        }
    }
    for (auto it = ranges.cbegin(); it != ranges.cend(); ++it)
        FitAxis(it.key(), it->first, it->second);
    for (size_t i = 0; i < m_fields.size(); ++i) {
        curves[i].low = m_fieldAxis[i]->min();
        curves[i].high = m_fieldAxis[i]->max();
    }
    placeLayer();
    if (m_cursor->isVisible()) {
        const QRectF plot = chart()->plotArea();
        emit cursorMoved(m_from + qint64((m_cursor->line().x1() - plot.left()) / plot.width() *
                                         double(m_to - m_from)));
    }
}

void TrendPlot::placeLayer()
{
    m_layer->setPlot(chart()->plotArea(), m_from, m_to);
}

void TrendPlot::mouseMoveEvent(QMouseEvent *event)
{
    QChartView::mouseMoveEvent(event);
    const QPointF p = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    const QRectF plot = chart()->plotArea();
    if (!plot.contains(p)) {
        hideCursor();
        return;
    }
    m_cursor->setLine(p.x(), plot.top(), p.x(), plot.bottom());
    m_cursor->show();
    emit cursorMoved(m_from + qint64((p.x() - plot.left()) / plot.width() * double(m_to - m_from)));
}

void TrendPlot::leaveEvent(QEvent *event)
{
    QChartView::leaveEvent(event);
    hideCursor();
}

void TrendPlot::hideCursor()
{
    if (!m_cursor->isVisible())
        return;
    m_cursor->hide();
    emit cursorLeft();
}

} // namespace vortan
