#include "diagnostics/monitorwindow.h"

#include "config/usermessage.h"
#include "modbus/linkstats.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace vortan
{

namespace
{

QString share(quint64 n, quint64 of)
{
    if (of == 0)
        return QString::number(n);
    return QStringLiteral("%1 (%2 %)")
        .arg(n)
        .arg(QLocale().toString(100.0 * double(n) / double(of), 'f', 1));
}

// A label whose text stays is left alone: a new text lays the statistics grid out again.
void setIfChanged(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

QString millis(qint64 us)
{
    return us < 0 ? QStringLiteral("—") : QLocale().toString(double(us) / 1000.0, 'f', 1);
}

// One line of text on the cell's colour, clipped at its edge. The style's own item painting
// lays every text out twice to elide it, which at 25 new rows a second costs more than the rest
// of the program.
class PlainCellDelegate : public QStyledItemDelegate
{
public:
    PlainCellDelegate(const QFontMetrics &fm, QObject *parent)
        : QStyledItemDelegate(parent), m_narrowest(fm.horizontalAdvance(QLatin1Char(' ')))
    {
        for (QChar c : QStringLiteral(".il1"))
            m_narrowest = qMax(1, qMin(m_narrowest, fm.horizontalAdvance(c)));
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QVariant background = index.data(Qt::BackgroundRole);
        QColor text = option.palette.color(QPalette::Text);
        if (selected) {
            painter->fillRect(option.rect, option.palette.highlight());
            text = option.palette.color(QPalette::HighlightedText);
        } else if (background.isValid()) {
            painter->fillRect(option.rect, background.value<QColor>());
            text = index.data(Qt::ForegroundRole).value<QColor>();
        }
        const QVariant alignment = index.data(Qt::TextAlignmentRole);
        const QRect inside = option.rect.adjusted(Margin, 0, -Margin, 0);
        // Characters past the edge cost their layout all the same: a long hex cell keeps only
        // what even the narrowest letters could show.
        QString shown = index.data().toString();
        const int fits = inside.width() / m_narrowest + 1;
        if (shown.size() > fits)
            shown.truncate(fits);
        painter->setPen(text);
        painter->drawText(
            inside,
            (alignment.isValid() ? alignment.toInt() : int(Qt::AlignLeft | Qt::AlignVCenter)) |
                Qt::TextSingleLine,
            shown);
    }

private:
    static constexpr int Margin = 3;
    int m_narrowest;
};

} // namespace

void RoutinePollFilter::setHideRoutine(bool hide)
{
    if (hide == m_hide)
        return;
    m_hide = hide;
    invalidateFilter();
}

bool RoutinePollFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    if (!m_hide)
        return true;
    const int function =
        static_cast<const ExchangeLogModel *>(sourceModel())->record(sourceRow).function();
    return function != 4 && function != 23;
}

MonitorWindow::MonitorWindow(LinkStats &stats, UserMessages &messages, QWidget *owner, int capacity)
    : QWidget(owner, Qt::Window), m_stats(stats), m_messages(messages), m_log(capacity)
{
    setObjectName(QStringLiteral("frm_monitor"));
    setWindowTitle(QStringLiteral("Монитор обмена"));
    m_filter.setSourceModel(&m_log);
    buildWindow();

    // Rows keep reaching the ring while the window is closed, so reopening it shows the history.
    m_rowsTimer.setInterval(RowsIntervalMs);
    connect(&m_rowsTimer, &QTimer::timeout, this, &MonitorWindow::flushRows);
    m_rowsTimer.start();
    m_statsTimer.setInterval(StatsIntervalMs);
    connect(&m_statsTimer, &QTimer::timeout, this, &MonitorWindow::refreshStats);
    refreshStats();
}

QLabel *MonitorWindow::addFigure(QGridLayout *grid, const char *name, const QString &caption,
                                 int row, int column, int span)
{
    grid->addWidget(new QLabel(caption + QLatin1Char(':')), row, 2 * column);
    auto *value = new QLabel;
    value->setObjectName(QString::fromLatin1(name));
    value->setTextFormat(Qt::PlainText);
    grid->addWidget(value, row, 2 * column + 1, 1, 2 * span - 1);
    return value;
}

void MonitorWindow::buildWindow()
{
    auto *stats = new QWidget(this);
    stats->setObjectName(QStringLiteral("fra_stats"));
    auto *grid = new QGridLayout(stats);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int c = 1; c < 6; c += 2)
        grid->setColumnStretch(c, 1);
    m_exchanges = addFigure(grid, "lbl_stat_exchanges", QStringLiteral("Обменов"), 0, 0);
    m_good = addFigure(grid, "lbl_stat_good", QStringLiteral("Без ошибок"), 0, 1);
    m_badCrc = addFigure(grid, "lbl_stat_crc", QStringLiteral("Несовпадение КС"), 0, 2);
    m_noReply = addFigure(grid, "lbl_stat_noreply", QStringLiteral("Нет ответа"), 1, 0);
    m_short = addFigure(grid, "lbl_stat_short", QStringLiteral("Неполный ответ"), 1, 1);
    m_exceptions =
        addFigure(grid, "lbl_stat_exception", QStringLiteral("Нарушение протокола"), 1, 2);
    m_repeats = addFigure(grid, "lbl_stat_repeat", QStringLiteral("Повторы"), 2, 0);
    m_failRun =
        addFigure(grid, "lbl_stat_failrun", QStringLiteral("Сбоев подряд, наибольшее"), 2, 1);
    m_rate = addFigure(grid, "lbl_stat_rate", QStringLiteral("Обменов в секунду (10 с)"), 2, 2);
    m_bytes = addFigure(grid, "lbl_stat_bytes", QStringLiteral("Байт передано / принято"), 3, 0);
    m_since = addFigure(grid, "lbl_stat_since", QStringLiteral("Счёт с"), 3, 1);
    m_stray = addFigure(grid, "lbl_stat_stray", QStringLiteral("Ответ не на запрос"), 3, 2);
    m_replyTime =
        addFigure(grid, "lbl_stat_replytime", QStringLiteral("Время ответа, мс"), 4, 0, 3);
    m_wait = addFigure(grid, "lbl_stat_wait", QStringLiteral("Ожидание ответа"), 5, 0, 3);
    m_adapter = addFigure(grid, "lbl_stat_adapter", QStringLiteral("Адаптер"), 6, 0, 3);
    showAdapter({});

    m_pause = new QPushButton(QStringLiteral("Пауза"));
    m_pause->setObjectName(QStringLiteral("btn_pause"));
    m_pause->setCheckable(true);
    connect(m_pause, &QPushButton::toggled, this, &MonitorWindow::setPaused);
    auto *clear = new QPushButton(QStringLiteral("Очистить"));
    clear->setObjectName(QStringLiteral("btn_clear"));
    connect(clear, &QPushButton::clicked, this, &MonitorWindow::clearTable);
    auto *reset = new QPushButton(QStringLiteral("Сбросить счётчики"));
    reset->setObjectName(QStringLiteral("btn_reset_stats"));
    connect(reset, &QPushButton::clicked, this, [this] {
        m_stats.reset();
        refreshStats();
    });
    m_hidePolls = new QCheckBox(QStringLiteral("Скрыть опросы (функции 4 и 23)"));
    m_hidePolls->setObjectName(QStringLiteral("chk_hide_polls"));
    connect(m_hidePolls, &QCheckBox::toggled, &m_filter, &RoutinePollFilter::setHideRoutine);
    m_follow = new QCheckBox(QStringLiteral("Следить за новыми"));
    m_follow->setObjectName(QStringLiteral("chk_follow"));
    m_follow->setChecked(true);
    auto *save = new QPushButton(QStringLiteral("Сохранить…"));
    save->setObjectName(QStringLiteral("btn_save"));
    connect(save, &QPushButton::clicked, this, &MonitorWindow::chooseFileAndSave);

    auto *buttons = new QHBoxLayout;
    for (QWidget *w :
         std::initializer_list<QWidget *>{m_pause, clear, reset, m_hidePolls, m_follow})
        buttons->addWidget(w);
    buttons->addStretch(1);
    buttons->addWidget(save);

    m_table = new QTableView;
    m_table->setObjectName(QStringLiteral("tbl_exchanges"));
    m_table->setModel(&m_filter);
    m_table->setItemDelegate(new PlainCellDelegate(m_table->fontMetrics(), m_table));
    m_table->setWordWrap(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    // Fixed row heights: the view never measures the rows it does not show.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView *columns = m_table->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[ExchangeLogModel::Columns] = {13, 9, 32, 28, 17, 30, 60};
    for (int c = 0; c < ExchangeLogModel::Columns; ++c)
        columns->resizeSection(c, widths[c] * digit);
    // Scrolling back through the history stops following the newest row.
    connect(m_table->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
        const QScrollBar *bar = m_table->verticalScrollBar();
        if (bar->sliderPosition() < bar->maximum())
            m_follow->setChecked(false);
    });
    connect(m_follow, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_table->scrollToBottom();
    });

    m_note = new QLabel;
    m_note->setObjectName(QStringLiteral("lbl_monitor_note"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(stats);
    layout->addLayout(buttons);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_note);
    resize(150 * digit, 45 * fontMetrics().height());
}

void MonitorWindow::exchanged(const ExchangeRecord &record)
{
    if (record.idle())
        return;
    if (m_paused) {
        ++m_notShown;
        return;
    }
    // Bounded like the table: a batch larger than the ring would only push itself out.
    if (int(m_pending.size()) >= m_log.capacity())
        m_pending.erase(m_pending.begin());
    m_pending.push_back(record);
}

void MonitorWindow::flushRows()
{
    if (m_pending.empty())
        return;
    m_log.append(m_pending);
    m_pending.clear();
    if (m_follow->isChecked() && isVisible())
        m_table->scrollToBottom();
}

void MonitorWindow::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    flushRows();
    m_paused = paused;
    m_notShown = 0;
    m_pause->setChecked(paused);
    m_pause->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    showPauseNote();
}

void MonitorWindow::showPauseNote()
{
    m_note->setText(m_paused ? QStringLiteral("Пауза: не показано обменов: %1").arg(m_notShown)
                             : QString());
}

void MonitorWindow::clearTable()
{
    m_pending.clear();
    m_log.clear();
    m_note->clear();
}

void MonitorWindow::refreshStats()
{
    showFigures(m_stats.figures(QDateTime::currentMSecsSinceEpoch()));
    if (m_paused)
        showPauseNote();
}

void MonitorWindow::showFigures(const LinkFigures &f)
{
    const QLocale locale;
    setIfChanged(m_exchanges, QString::number(f.exchanges));
    setIfChanged(m_good, share(f.good, f.exchanges));
    setIfChanged(m_badCrc, share(f.badCrc, f.exchanges));
    setIfChanged(m_noReply, share(f.noReply, f.exchanges));
    setIfChanged(m_short, share(f.shortReply, f.exchanges));
    setIfChanged(m_stray, share(f.stray, f.exchanges));
    QStringList codes;
    for (const auto &[code, count] : f.exceptionsByCode)
        codes << QStringLiteral("код %1: %2").arg(code).arg(count);
    setIfChanged(
        m_exceptions,
        codes.isEmpty()
            ? QString::number(f.exceptions)
            : QStringLiteral("%1 (%2)").arg(f.exceptions).arg(codes.join(QStringLiteral(", "))));
    setIfChanged(m_repeats, QString::number(f.repeats));
    setIfChanged(m_failRun,
                 QStringLiteral("%1 (сейчас %2)").arg(f.longestFailRun).arg(f.currentFailRun));
    setIfChanged(m_rate, locale.toString(f.perSecond, 'f', 1));
    setIfChanged(m_replyTime, f.timedReplies == 0
                                  ? QStringLiteral("—")
                                  : QStringLiteral("мин %1 / медиана %2 / 95 % %3 / макс %4")
                                        .arg(millis(f.replyMinUs), millis(f.replyMedianUs),
                                             millis(f.replyP95Us), millis(f.replyMaxUs)));
    setIfChanged(m_bytes, QStringLiteral("%1 / %2").arg(f.bytesSent).arg(f.bytesReceived));
    setIfChanged(m_wait,
                 f.waitMs > 0 ? QStringLiteral("%1 мс").arg(f.waitMs) : QStringLiteral("—"));
    setIfChanged(m_since, f.exchanges == 0
                              ? QStringLiteral("—")
                              : QDateTime::fromMSecsSinceEpoch(f.sinceMsecs)
                                        .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) +
                                    QStringLiteral(", COM%1").arg(f.port));
}

void MonitorWindow::showAdapter(const AdapterInfo &info)
{
    setIfChanged(m_adapter, adapterText(info));
}

void MonitorWindow::showEvent(QShowEvent *event)
{
    refreshStats();
    flushRows();
    m_statsTimer.start();
    QWidget::showEvent(event);
}

void MonitorWindow::hideEvent(QHideEvent *event)
{
    m_statsTimer.stop();
    QWidget::hideEvent(event);
}

void MonitorWindow::chooseFileAndSave()
{
    const QString name =
        QStringLiteral("обмен-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Сохранить таблицу обмена"), QDir::home().filePath(name),
        QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"));
    if (!path.isEmpty())
        saveTable(path);
}

bool MonitorWindow::saveTable(const QString &path)
{
    flushRows();
    QByteArray text = QStringLiteral("# Вортан: монитор обмена, сохранено %1\n")
                          .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                          .toUtf8();
    QStringList cells;
    for (int c = 0; c < ExchangeLogModel::Columns; ++c)
        cells << m_filter.headerData(c, Qt::Horizontal).toString();
    text += cells.join(QLatin1Char('\t')).toUtf8() + '\n';
    for (int row = 0; row < m_filter.rowCount(); ++row) {
        cells.clear();
        for (int c = 0; c < ExchangeLogModel::Columns; ++c)
            cells << m_filter.index(row, c).data(ExchangeLogModel::FullTextRole).toString();
        text += cells.join(QLatin1Char('\t')).toUtf8() + '\n';
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        m_messages.ask(this, QMessageBox::Critical, QStringLiteral("Монитор обмена"),
                       QStringLiteral("Невозможно записать файл %1").arg(path), QMessageBox::Ok);
        return false;
    }
    m_note->setText(QStringLiteral("Таблица сохранена: %1 (строк: %2)")
                        .arg(QDir::toNativeSeparators(path))
                        .arg(m_filter.rowCount()));
    return true;
}

} // namespace vortan
