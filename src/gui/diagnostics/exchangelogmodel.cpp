#include "diagnostics/exchangelogmodel.h"

#include "params/paramtable.h"
#include "params/requesttext.h"

#include <QDateTime>
#include <QLocale>

namespace vortan
{

namespace
{

const ParamTable &paramTable()
{
    static const ParamTable table;
    return table;
}

// The first `limit` bytes in hex, and the whole length when some are left out.
QString hexCell(const QByteArray &bytes, int total, int limit)
{
    const int shown = qMin(int(bytes.size()), limit);
    QString text = QString::fromLatin1(bytes.left(shown).toHex(' ').toUpper());
    if (total > shown)
        text += QStringLiteral(" … (%1 байт)").arg(total);
    return text;
}

} // namespace

ExchangeLogModel::ExchangeLogModel(int capacity, QObject *parent)
    : QAbstractTableModel(parent), m_capacity(qMax(1, capacity))
{
}

void ExchangeLogModel::append(const std::vector<ExchangeRecord> &batch)
{
    const int skip = qMax(0, int(batch.size()) - m_capacity);
    const int incoming = int(batch.size()) - skip;
    if (incoming == 0)
        return;
    const int leaving = qMax(0, m_count + incoming - m_capacity);
    if (leaving > 0) {
        beginRemoveRows({}, 0, leaving - 1);
        m_first = (m_first + leaving) % m_capacity;
        m_count -= leaving;
        endRemoveRows();
    }
    beginInsertRows({}, m_count, m_count + incoming - 1);
    for (int i = skip; i < int(batch.size()); ++i) {
        const size_t slot = size_t((m_first + m_count) % m_capacity);
        if (slot == m_ring.size())
            m_ring.push_back(batch[size_t(i)]);
        else
            m_ring[slot] = batch[size_t(i)];
        ++m_count;
    }
    endInsertRows();
}

void ExchangeLogModel::clear()
{
    beginResetModel();
    m_ring.clear();
    m_ring.shrink_to_fit();
    m_first = 0;
    m_count = 0;
    endResetModel();
}

const ExchangeRecord &ExchangeLogModel::record(int row) const
{
    return m_ring[size_t((m_first + row) % m_capacity)];
}

int ExchangeLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int ExchangeLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QString ExchangeLogModel::verdictText(const ExchangeRecord &r)
{
    switch (r.verdict) {
    case Verdict::Good:
        return QStringLiteral("Норма");
    case Verdict::BadCrc:
        return QStringLiteral("Несовпадение КС");
    case Verdict::NoReply:
        return QStringLiteral("Нет ответа");
    case Verdict::Short:
        return QStringLiteral("Неполный ответ: %1 байт").arg(r.bytesReceived);
    case Verdict::Exception:
        return QStringLiteral("Нарушение протокола, код: %1").arg(r.exceptionCode());
    case Verdict::Stray:
        return QStringLiteral("Ответ не на запрос");
    }
    return QString();
}

QColor ExchangeLogModel::verdictColour(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Good:
        return QColor(0xC6, 0xEF, 0xCE); // light green
    case Verdict::BadCrc:
        return QColor(0xFF, 0xC7, 0xCE); // light red
    case Verdict::NoReply:
        return QColor(0xD9, 0xD9, 0xD9); // grey: the line stayed silent
    case Verdict::Short:
        return QColor(0xFF, 0xE0, 0xB2); // light orange
    case Verdict::Exception:
        return QColor(0xBD, 0xD7, 0xEE); // light blue: the controller answered and refused
    case Verdict::Stray:
        return QColor(0xE4, 0xDF, 0xEC); // light purple: a whole frame, but not this answer
    }
    return QColor();
}

QString ExchangeLogModel::cellText(const ExchangeRecord &r, int column, int byteLimit)
{
    switch (column) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(r.msecsSinceEpoch)
            .toString(QStringLiteral("hh:mm:ss.zzz"));
    case Function:
        return r.function() < 0 ? QStringLiteral("-") : QString::number(r.function());
    case Request:
        return DescribeRequest(r.request, paramTable()) +
               (r.repeat ? QStringLiteral(" (повтор)") : QString());
    case RequestBytes:
        return hexCell(r.request, int(r.request.size()), byteLimit);
    case ReplyBytes:
        return hexCell(r.reply, r.bytesReceived, byteLimit);
    case Result:
        return verdictText(r);
    case ReplyTime:
        return r.replyTimeUs < 0 ? QString()
                                 : QLocale().toString(double(r.replyTimeUs) / 1000.0, 'f', 1);
    default:
        return QString();
    }
}

QVariant ExchangeLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_count)
        return {};
    const ExchangeRecord &r = record(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(r, index.column(), ShownBytes);
    case FullTextRole:
        return cellText(r, index.column(), ExchangeRecord::MaxReplyBytes);
    case Qt::BackgroundRole:
        if (index.column() == Result)
            return verdictColour(r.verdict);
        break;
    case Qt::ForegroundRole:
        if (index.column() == Result)
            return QColor(Qt::black);
        break;
    case Qt::ToolTipRole:
        if (index.column() == RequestBytes || index.column() == ReplyBytes)
            return cellText(r, index.column(), ExchangeRecord::MaxReplyBytes);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == Function || index.column() == ReplyTime)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    default:
        break;
    }
    return {};
}

QVariant ExchangeLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time:
        return QStringLiteral("Время");
    case Function:
        return QStringLiteral("Функция");
    case Request:
        return QStringLiteral("Запрос");
    case RequestBytes:
        return QStringLiteral("Байты запроса");
    case ReplyBytes:
        return QStringLiteral("Байты ответа");
    case Result:
        return QStringLiteral("Итог");
    case ReplyTime:
        return QStringLiteral("Время ответа, мс");
    default:
        return {};
    }
}

} // namespace vortan
