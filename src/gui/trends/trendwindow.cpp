#include "trends/trendwindow.h"

#include "config/usermessage.h"
#include "format/formatting.h"
#include "format/logging.h"
#include "trends/trendplot.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>

namespace vortan
{

namespace
{

constexpr int SpanChoices[] = {1, 5, 15, 60};
constexpr int DefaultWidth = 1100;
constexpr int DefaultHeight = 650;
constexpr int FieldListWidth = 300;
// The curves move by about one pixel per refresh, within these limits.
constexpr int MinRefreshMs = 100;
constexpr int MaxRefreshMs = 1000;
constexpr int FieldRole = Qt::UserRole;

const QColor Palette[] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
    QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf), QColor(0x7f, 0x7f, 0x7f),
    QColor(0xbc, 0xbd, 0x22),
};

bool SameSettings(const configfile::TrendSettings &a, const configfile::TrendSettings &b)
{
    return a.fields == b.fields && a.spanMinutes == b.spanMinutes && a.width == b.width &&
           a.height == b.height;
}

} // namespace

TrendWindow::TrendWindow(const TrendHistory &history, CsvRecorder &recorder,
                         const QString &configPath, UserMessages &messages, QWidget *parent)
    : QWidget(parent, Qt::Window), m_history(history), m_recorder(recorder),
      m_configPath(configPath), m_messages(messages), m_lastFolder(QDir::homePath())
{
    setObjectName(QStringLiteral("frm_trends"));
    setWindowTitle(QStringLiteral("Тренды"));
    askSaveFile = [this](const QString &title, const QString &suggested, const QString &filter,
                         bool confirmReplace) {
        return QFileDialog::getSaveFileName(
            this, title, suggested, filter, nullptr,
            confirmReplace ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite);
    };

    m_tree = new QTreeWidget();
    m_tree->setObjectName(QStringLiteral("tree_fields"));
    m_tree->setHeaderHidden(true);
    buildFieldList();

    m_span = new QComboBox();
    m_span->setObjectName(QStringLiteral("cmb_span"));
    for (int minutes : SpanChoices)
        m_span->addItem(QStringLiteral("%1 мин").arg(minutes), minutes);
    m_pause = new QPushButton(QStringLiteral("Пауза"));
    m_pause->setObjectName(QStringLiteral("btn_pause"));
    m_pause->setCheckable(true);
    m_record = new QPushButton(QStringLiteral("Запись…"));
    m_record->setObjectName(QStringLiteral("btn_record"));
    m_picture = new QPushButton(QStringLiteral("Сохранить PNG…"));
    m_picture->setObjectName(QStringLiteral("btn_png"));
    m_plot = new TrendPlot(history);
    m_scroll = new QScrollBar(Qt::Horizontal);
    m_scroll->setObjectName(QStringLiteral("scr_history"));
    m_scroll->setEnabled(false);
    m_cursorText = new QLabel();
    m_cursorText->setObjectName(QStringLiteral("lbl_cursor"));
    m_cursorText->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *tools = new QHBoxLayout();
    tools->addWidget(new QLabel(QStringLiteral("Интервал:")));
    tools->addWidget(m_span);
    tools->addWidget(m_pause);
    tools->addWidget(m_record);
    tools->addWidget(m_picture);
    tools->addStretch(1);
    auto *right = new QWidget();
    auto *column = new QVBoxLayout(right);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(tools);
    column->addWidget(m_plot, 1);
    column->addWidget(m_scroll);
    column->addWidget(m_cursorText);
    auto *splitter = new QSplitter();
    splitter->addWidget(m_tree);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({FieldListWidth, DefaultWidth - FieldListWidth});
    auto *root = new QHBoxLayout(this);
    root->addWidget(splitter);

    const configfile::TrendSettings settings = configfile::readTrends(m_configPath);
    const int span = m_span->findData(settings.spanMinutes);
    m_span->setCurrentIndex(span >= 0 ? span : 1);
    setSelectedFields(settings.fields);
    resize(settings.width > 0 ? settings.width : DefaultWidth,
           settings.height > 0 ? settings.height : DefaultHeight);
    m_saved = settings;

    connect(m_tree, &QTreeWidget::itemChanged, this, &TrendWindow::fieldToggled);
    connect(m_span, &QComboBox::currentIndexChanged, this, &TrendWindow::spanChanged);
    connect(m_pause, &QPushButton::toggled, this, &TrendWindow::pauseToggled);
    connect(m_record, &QPushButton::clicked, this, &TrendWindow::recordClicked);
    connect(m_picture, &QPushButton::clicked, this, &TrendWindow::pictureClicked);
    connect(m_scroll, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_pause->isChecked())
            return;
        m_pausedEnd = m_scrollBase + qint64(value) * 1000;
        refresh();
    });
    connect(m_plot, &TrendPlot::cursorMoved, this, &TrendWindow::showCursor);
    connect(&m_refresh, &QTimer::timeout, this, &TrendWindow::refresh);
    updateTitle();
}

TrendWindow::~TrendWindow()
{
    saveSettings();
}

void TrendWindow::buildFieldList()
{
    std::map<int, QTreeWidgetItem *> groups;
    for (int f = 0; f < m_history.fieldCount(); ++f) {
        const StatusColumn &c = m_history.field(f);
        QTreeWidgetItem *&group = groups[c.groupOrder];
        if (!group) {
            group = new QTreeWidgetItem(QStringList(c.group));
            group->setFlags(Qt::ItemIsEnabled);
        }
        auto *item = new QTreeWidgetItem(group, QStringList(c.heading));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setData(0, FieldRole, f);
    }
    for (const auto &group : groups)
        m_tree->addTopLevelItem(group.second);
    m_tree->expandAll();
}

QStringList TrendWindow::selectedFields() const
{
    QStringList keys;
    for (int f : m_fields)
        keys << m_history.field(f).key;
    return keys;
}

void TrendWindow::setSelectedFields(const QStringList &keys)
{
    m_fields.clear();
    m_colours.clear();
    for (const QString &key : keys) {
        const int f = m_history.fieldIndex(key);
        if (f >= 0 && std::find(m_fields.begin(), m_fields.end(), f) == m_fields.end()) {
            m_fields.push_back(f);
            m_colours.push_back(Palette[m_colours.size() % std::size(Palette)]);
        }
    }
    const QSignalBlocker quiet(m_tree);
    for (int g = 0; g < m_tree->topLevelItemCount(); ++g) {
        QTreeWidgetItem *group = m_tree->topLevelItem(g);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem *item = group->child(i);
            const int f = item->data(0, FieldRole).toInt();
            const bool on = std::find(m_fields.begin(), m_fields.end(), f) != m_fields.end();
            item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
        }
    }
    applyFields();
}

void TrendWindow::fieldToggled(QTreeWidgetItem *item)
{
    const QVariant data = item->data(0, FieldRole);
    if (!data.isValid())
        return;
    const int f = data.toInt();
    const auto at = std::find(m_fields.begin(), m_fields.end(), f);
    const bool on = item->checkState(0) == Qt::Checked;
    if (on && at == m_fields.end()) {
        // A new curve takes the first colour no shown curve has, so the others keep theirs.
        const QColor *free =
            std::find_if(std::begin(Palette), std::end(Palette), [this](const QColor &c) {
                return std::find(m_colours.begin(), m_colours.end(), c) == m_colours.end();
            });
        m_fields.push_back(f);
        m_colours.push_back(
            free != std::end(Palette) ? *free : Palette[m_fields.size() % std::size(Palette)]);
    } else if (!on && at != m_fields.end()) {
        m_colours.erase(m_colours.begin() + (at - m_fields.begin()));
        m_fields.erase(at);
    } else {
        return;
    }
    applyFields();
    saveSettings();
}

void TrendWindow::applyFields()
{
    m_plot->setFields(m_fields, m_colours);
    refresh();
}

int TrendWindow::spanMinutes() const
{
    return m_span->currentData().toInt();
}

qint64 TrendWindow::spanMs() const
{
    return qint64(spanMinutes()) * 60 * 1000;
}

qint64 TrendWindow::viewEnd() const
{
    return m_pause->isChecked() ? m_pausedEnd : QDateTime::currentMSecsSinceEpoch();
}

void TrendWindow::spanChanged()
{
    refresh();
    saveSettings();
}

void TrendWindow::pauseToggled(bool paused)
{
    m_pause->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    if (paused)
        m_pausedEnd = QDateTime::currentMSecsSinceEpoch();
    m_scroll->setEnabled(paused);
    refresh();
}

void TrendWindow::refresh()
{
    const qint64 end = viewEnd();
    const qint64 span = spanMs();
    if (!m_pause->isChecked() || m_plot->to() != end || m_plot->to() - m_plot->from() != span)
        m_plot->showRange(end - span, end);
    updateScrollRange();
    updateTitle();
    const int width = qMax(1, int(m_plot->chart()->plotArea().width()));
    const int interval = int(qBound(qint64(MinRefreshMs), span / width, qint64(MaxRefreshMs)));
    if (m_refresh.interval() != interval)
        m_refresh.setInterval(interval);
}

void TrendWindow::updateScrollRange()
{
    const QSignalBlocker quiet(m_scroll);
    if (m_history.size() == 0) {
        m_scroll->setRange(0, 0);
        return;
    }
    // Positions are whole seconds from the oldest kept sample to the view's right edge.
    m_scrollBase = m_history.timeAt(0);
    const int span = int(spanMs() / 1000);
    const int last =
        int(qMax<qint64>(0, QDateTime::currentMSecsSinceEpoch() - m_scrollBase) / 1000);
    m_scroll->setRange(qMin(span, last), last);
    m_scroll->setPageStep(span);
    m_scroll->setValue(m_pause->isChecked() ? int((m_pausedEnd - m_scrollBase) / 1000) : last);
}

void TrendWindow::showCursor(qint64 msecs)
{
    const QString point = QLocale().decimalPoint();
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(msecs);
    QString text = at.toString(QStringLiteral("hh:mm:ss")) + point +
                   QStringLiteral("%1").arg(at.time().msec(), 3, 10, QLatin1Char('0'));
    const int i = m_history.nearest(msecs);
    for (int f : m_fields) {
        const StatusColumn &c = m_history.field(f);
        const float v = i >= 0 ? m_history.valueAt(f, i) : std::nanf("");
        text += QStringLiteral("   ") + c.caption + QStringLiteral(": ") +
                (std::isnan(v) ? QStringLiteral("?")
                               : FormatScaled(double(v), c.decimals, 1.0, c.unit).trimmed());
    }
    m_cursorText->setText(text);
}

void TrendWindow::updateTitle()
{
    const bool recording = m_recorder.isRecording();
    const QString title = recording ? QStringLiteral("Тренды — запись: %1, строк: %2")
                                          .arg(QFileInfo(m_recorder.currentFile()).fileName())
                                          .arg(m_recorder.rows())
                                    : QStringLiteral("Тренды");
    if (windowTitle() != title)
        setWindowTitle(title);
    const QString button =
        recording ? QStringLiteral("Остановить запись") : QStringLiteral("Запись…");
    if (m_record->text() != button)
        m_record->setText(button);
}

QString TrendWindow::suggestedPath(const QString &stem, const QString &suffix) const
{
    return QDir(m_lastFolder)
        .filePath(stem +
                  QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-hhmmss.")) +
                  suffix);
}

bool TrendWindow::startRecording(const QString &path, CsvRecorder::Mode mode)
{
    m_lastFolder = QFileInfo(path).absolutePath();
    const bool ok = m_recorder.start(path, mode);
    updateTitle();
    if (!ok)
        m_messages.ask(this, QMessageBox::Warning, QStringLiteral("Запись"), m_recorder.error(),
                       QMessageBox::Ok);
    return ok;
}

void TrendWindow::stopRecording()
{
    const bool ok = m_recorder.stop();
    updateTitle();
    if (!ok)
        m_messages.ask(this, QMessageBox::Warning, QStringLiteral("Запись"), m_recorder.error(),
                       QMessageBox::Ok);
}

void TrendWindow::recordClicked()
{
    if (m_recorder.isRecording()) {
        stopRecording();
        return;
    }
    // A recording never replaces a file: an existing one can only be continued.
    const QString path = askSaveFile(QStringLiteral("Запись в файл CSV"),
                                     suggestedPath(QStringLiteral("запись"), QStringLiteral("csv")),
                                     QStringLiteral("Файлы CSV (*.csv)"), false);
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path)) {
        startRecording(path);
        return;
    }
    const QString question =
        QStringLiteral("Файл «%1» уже существует и не будет заменён.\r\nДописать строки в конец файла?")
            .arg(QDir::toNativeSeparators(path));
    if (m_messages.ask(this, QMessageBox::Question, QStringLiteral("Запись"), question,
                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        startRecording(path, CsvRecorder::Mode::Append);
}

bool TrendWindow::savePicture(const QString &path)
{
    m_lastFolder = QFileInfo(path).absolutePath();
    return m_plot->grab().save(path, "PNG");
}

void TrendWindow::pictureClicked()
{
    const QString path = askSaveFile(QStringLiteral("Сохранить изображение"),
                                     suggestedPath(QStringLiteral("тренды"), QStringLiteral("png")),
                                     QStringLiteral("Изображения PNG (*.png)"), true);
    if (!path.isEmpty() && !savePicture(path))
        m_messages.ask(
            this, QMessageBox::Warning, QStringLiteral("Тренды"),
            QStringLiteral("Невозможно сохранить файл «%1»").arg(QDir::toNativeSeparators(path)),
            QMessageBox::Ok);
}

void TrendWindow::saveSettings()
{
    configfile::TrendSettings now;
    now.fields = selectedFields();
    now.spanMinutes = spanMinutes();
    now.width = width();
    now.height = height();
    if (SameSettings(now, m_saved))
        return;
    if (configfile::writeTrends(m_configPath, now))
        m_saved = now;
    else
        qCWarning(lcRecord) << "trend settings not stored in" << m_configPath;
}

void TrendWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    m_refresh.start();
}

void TrendWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_refresh.stop();
    saveSettings();
}

} // namespace vortan
