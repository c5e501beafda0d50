#include "journal/journalwindow.h"

#include "journal/journalfile.h"
#include "journal/journalrows.h"

#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace vortan
{

namespace
{

// The alarm that started a trip stands out from the red and yellow lamps it is read beside.
const QColor FirstOutColour(255, 160, 160);
constexpr int DefaultWidth = 900;
constexpr int DefaultHeight = 500;

} // namespace

void JournalFilter::setGroup(int group)
{
    m_group = group;
    invalidateFilter();
}

bool JournalFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_group < 0)
        return true;
    const QModelIndex i = sourceModel()->index(sourceRow, 0, sourceParent);
    return i.data(JournalRows::GroupRole).toInt() == m_group;
}

QVariant JournalFilter::data(const QModelIndex &index, int role) const
{
    if (role == Qt::BackgroundRole && index.data(JournalRows::FirstOutRole).toBool())
        return QBrush(FirstOutColour);
    return QSortFilterProxyModel::data(index, role);
}

JournalWindow::JournalWindow(JournalRows *rows, QWidget *parent)
    : QWidget(parent, Qt::Window), m_rows(rows)
{
    setObjectName(QStringLiteral("frm_journal"));
    setWindowTitle(QStringLiteral("Журнал событий"));
    askSaveFile = [this](const QString &suggested) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить журнал событий"),
                                            suggested,
                                            QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"));
    };

    m_filter.setSourceModel(rows);
    m_group = new QComboBox();
    m_group->setObjectName(QStringLiteral("cmb_group"));
    m_group->addItem(QStringLiteral("Все"), -1);
    for (int g = 0; g < JournalGroupCount; ++g)
        m_group->addItem(JournalGroupName(JournalGroup(g)), g);
    m_save = new QPushButton(QStringLiteral("Сохранить как..."));
    m_save->setObjectName(QStringLiteral("btn_save"));
    m_note = new QLabel();
    m_note->setObjectName(QStringLiteral("lbl_note"));
    m_table = new QTableView();
    m_table->setObjectName(QStringLiteral("tbl_journal"));
    m_table->setModel(&m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto *top = new QHBoxLayout();
    top->addWidget(new QLabel(QStringLiteral("Группа")));
    top->addWidget(m_group);
    top->addStretch();
    top->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table);
    layout->addWidget(m_note);
    resize(DefaultWidth, DefaultHeight);

    connect(m_group, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &JournalWindow::groupChanged);
    connect(m_save, &QPushButton::clicked, this, [this] {
        const QString name =
            QStringLiteral("журнал-%1.csv")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
        const QString path = askSaveFile(QDir::home().filePath(name));
        if (!path.isEmpty())
            saveShown(path);
    });
    // Newest rows stay in view while the reader is at the bottom; reading older rows is not
    // disturbed.
    QScrollBar *bar = m_table->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { m_followNewest = value >= bar->maximum(); });
    connect(&m_filter, &QAbstractItemModel::rowsInserted, this, &JournalWindow::rowsAdded);
    m_table->scrollToBottom();
}

void JournalWindow::groupChanged()
{
    m_filter.setGroup(m_group->currentData().toInt());
    m_table->scrollToBottom();
    m_followNewest = true;
}

void JournalWindow::rowsAdded()
{
    if (m_followNewest)
        m_table->scrollToBottom();
}

bool JournalWindow::saveShown(const QString &path)
{
    QList<JournalEvent> events;
    for (int row = 0; row < m_filter.rowCount(); ++row)
        events << m_rows->event(m_filter.mapToSource(m_filter.index(row, 0)).row());
    const QByteArray bytes = JournalFile::contents(events);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        m_note->setText(
            QStringLiteral("Невозможно записать файл %1").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    m_note->setText(QStringLiteral("Журнал сохранён: %1 (строк: %2)")
                        .arg(QDir::toNativeSeparators(path))
                        .arg(events.size()));
    return true;
}

} // namespace vortan
