#pragma once

#include "journal/journalevent.h"

#include <QAbstractTableModel>

#include <deque>

namespace vortan
{

// The latest journal rows for a view, newest last; the oldest go once there are MaxRows.
class JournalRows : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int MaxRows = 10000;
    enum Role {
        GroupRole = Qt::UserRole, // JournalGroup as int
        FirstOutRole,             // bool
    };

    explicit JournalRows(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const JournalEvent &event(int row) const { return m_rows.at(size_t(row)); }

public slots:
    void append(const JournalEvent &event);

private:
    std::deque<JournalEvent> m_rows;
    std::deque<QStringList> m_cells;
};

} // namespace vortan
