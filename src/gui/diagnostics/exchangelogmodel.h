#pragma once

#include "modbus/exchangerecord.h"

#include <QAbstractTableModel>
#include <QColor>

#include <vector>

namespace vortan
{

// The traffic table of "Монитор обмена": the latest exchanges in a ring of fixed size, so hours
// at 25 exchanges per second keep the memory flat. Texts are made only for the rows on screen.
class ExchangeLogModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The verdict comes before the bytes, so it shows without scrolling sideways.
    enum Column { Time, Function, Request, Result, ReplyTime, RequestBytes, ReplyBytes, Columns };
    static constexpr int DefaultCapacity = 10000;
    // Bytes shown in a cell, followed by the length when there are more; the tooltip and
    // FullTextRole (the saved file) give them all.
    static constexpr int ShownBytes = 40;
    static constexpr int FullTextRole = Qt::UserRole;

    explicit ExchangeLogModel(int capacity = DefaultCapacity, QObject *parent = nullptr);

    // Adds the exchanges at the end; the oldest rows leave once the ring is full.
    void append(const std::vector<ExchangeRecord> &batch);
    void clear();
    int capacity() const { return m_capacity; }
    const ExchangeRecord &record(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // "Норма", "Несовпадение КС", "Нет ответа", "Неполный ответ: N байт",
    // "Нарушение протокола, код: N", "Ответ не на запрос".
    static QString verdictText(const ExchangeRecord &record);
    // Light backgrounds under black text: readable on any theme and in print.
    static QColor verdictColour(Verdict verdict);

private:
    static QString cellText(const ExchangeRecord &record, int column, int byteLimit);

    int m_capacity;
    std::vector<ExchangeRecord> m_ring;
    int m_first = 0; // slot of row 0
    int m_count = 0;
};

} // namespace vortan
