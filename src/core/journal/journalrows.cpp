#include "journal/journalrows.h"

namespace vortan
{

JournalRows::JournalRows(QObject *parent) : QAbstractTableModel(parent) {}

int JournalRows::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int JournalRows::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : JournalColumns;
}

QVariant JournalRows::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= JournalColumns)
        return {};
    const size_t row = size_t(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return m_cells[row].at(index.column());
    case GroupRole:
        return int(m_rows[row].group);
    case FirstOutRole:
        return m_rows[row].firstOut;
    default:
        return {};
    }
}

QVariant JournalRows::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= JournalColumns)
        return QAbstractTableModel::headerData(section, orientation, role);
    return JournalHeadings().at(section);
}

void JournalRows::append(const JournalEvent &event)
{
    if (m_rows.size() >= size_t(MaxRows)) {
        beginRemoveRows({}, 0, 0);
        m_rows.pop_front();
        m_cells.pop_front();
        endRemoveRows();
    }
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.push_back(event);
    m_cells.push_back(event.cells());
    endInsertRows();
}

} // namespace vortan
