#pragma once

#include "diagnostics/exchangelogmodel.h"
#include "modbus/adapterinfo.h"
#include "modbus/exchangerecord.h"

#include <QSortFilterProxyModel>
#include <QTimer>
#include <QWidget>

#include <vector>

class QCheckBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QTableView;

namespace vortan
{

class LinkStats;
struct LinkFigures;
class UserMessages;

// Hides the routine polls (function 4, status, and 23, control state) so that commands and
// parameter traffic stand out.
class RoutinePollFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setHideRoutine(bool hide);
    bool hidesRoutine() const { return m_hide; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    bool m_hide = false;
};

// frm_monitor, "Монитор обмена": the link statistics, refreshed twice a second while shown, and
// the last 10,000 exchanges, which reach the table once a second in one batch: repainting a
// table that follows the newest row is what the window costs, so it is done once per batch
// rather than once per exchange.
class MonitorWindow : public QWidget, public ExchangeObserver
{
    Q_OBJECT
public:
    static constexpr int RowsIntervalMs = 1000;
    static constexpr int StatsIntervalMs = 500;

    MonitorWindow(LinkStats &stats, UserMessages &messages, QWidget *owner,
                  int capacity = ExchangeLogModel::DefaultCapacity);

    void exchanged(const ExchangeRecord &record) override;
    bool wantsEveryReplyTime() const override { return true; }

    // Puts the exchanges waiting for the next batch into the table.
    void flushRows();
    void refreshStats();
    // The converter of the port just opened (unknown: "—").
    void showAdapter(const AdapterInfo &info);
    // The rows the table shows, as text separated by tabs; false when the file cannot be
    // written (the user has been told).
    bool saveTable(const QString &path);

    ExchangeLogModel &log() { return m_log; }
    const QAbstractItemModel &shownRows() const { return m_filter; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildWindow();
    void setPaused(bool paused);
    void chooseFileAndSave();
    void clearTable();
    void showFigures(const LinkFigures &f);
    void showPauseNote();
    // A caption and its value in the statistics grid; the value spans `span` caption columns.
    QLabel *addFigure(QGridLayout *grid, const char *name, const QString &caption, int row,
                      int column, int span = 1);

    LinkStats &m_stats;
    UserMessages &m_messages;
    ExchangeLogModel m_log;
    RoutinePollFilter m_filter;
    std::vector<ExchangeRecord> m_pending;
    QTimer m_rowsTimer;
    QTimer m_statsTimer;
    bool m_paused = false;
    quint64 m_notShown = 0; // exchanges that passed during the pause

    QTableView *m_table = nullptr;
    QPushButton *m_pause = nullptr;
    QCheckBox *m_follow = nullptr;
    QCheckBox *m_hidePolls = nullptr;
    QLabel *m_note = nullptr;
    QLabel *m_exchanges = nullptr;
    QLabel *m_good = nullptr;
    QLabel *m_badCrc = nullptr;
    QLabel *m_noReply = nullptr;
    QLabel *m_short = nullptr;
    QLabel *m_stray = nullptr;
    QLabel *m_exceptions = nullptr;
    QLabel *m_repeats = nullptr;
    QLabel *m_failRun = nullptr;
    QLabel *m_rate = nullptr;
    QLabel *m_replyTime = nullptr;
    QLabel *m_wait = nullptr;
    QLabel *m_bytes = nullptr;
    QLabel *m_since = nullptr;
    QLabel *m_adapter = nullptr;
};

} // namespace vortan
