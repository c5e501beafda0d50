#pragma once

#include <QSortFilterProxyModel>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace vortan
{

class JournalRows;

// The journal's rows of one group (or all), the first-out alarm painted.
class JournalFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    // -1: every group.
    void setGroup(int group);
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    int m_group = -1;
};

// "Журнал событий": the journal rows, newest last, filtered by group; the shown rows can be
// saved as a CSV file of the journal's format.
class JournalWindow : public QWidget
{
    Q_OBJECT
public:
    explicit JournalWindow(JournalRows *rows, QWidget *parent = nullptr);

    // Save dialog; tests put their own answer here.
    std::function<QString(const QString &suggested)> askSaveFile;
    // Writes the rows the filter shows; false (and the reason in the window) when it cannot.
    bool saveShown(const QString &path);

private:
    void groupChanged();
    void rowsAdded();

    JournalRows *m_rows;
    JournalFilter m_filter;
    QComboBox *m_group;
    QTableView *m_table;
    QPushButton *m_save;
    QLabel *m_note;
    bool m_followNewest = true;
};

} // namespace vortan
