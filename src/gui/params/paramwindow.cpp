#include "params/paramwindow.h"
#include "widgets/statusline.h"
#include "widgets/wrapbutton.h"

#include "config/usermessage.h"
#include "modbus/frames.h"
#include "modbus/requestqueue.h"
#include "params/filebrowser.h"
#include "params/paramfiles.h"
#include "params/paramlayout.h"
#include "params/paramtransfer.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>

namespace vortan
{

namespace pl = paramlayout;

namespace
{

const QString kFileErrorTitle = QStringLiteral("Ошибка открытия файла");
const QString kReplaceTitle = QStringLiteral("Создание текстового файла");
const QString kWriteErrorTitle = QStringLiteral("Ошибка записи в ЭСППЗУ");
const QString kReadErrorTitle = QStringLiteral("Ошибка чтения из ЭСППЗУ");
const QString kCrLf = QStringLiteral("\r\n");
const QString kRingFull = QStringLiteral("Очередь запросов к контроллеру заполнена.");

// How many captions of unfilled boxes the write-all refusal names.
constexpr int NamedEmptyBoxes = 5;

QString cannotOpen(const QString &name, const char *purpose)
{
    return QStringLiteral("Невозможно открыть файл ") + name + QString::fromUtf8(purpose);
}

QFont windowFont(double points)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(points > 0 ? points : pl::WindowFontPoints);
    return f;
}

// DejaVu Sans runs wider than the face the window was drawn with: captions and legend texts at
// their given size would not fit their places, its condensed face keeps the size and fits them.
QFont condensedFont(double points)
{
    QFont f = windowFont(points);
    f.setStretch(QFont::Condensed);
    return f;
}

QColor toColor(BoxColour colour)
{
    const Rgb rgb = boxColourRgb(colour);
    return QColor(rgb.red, rgb.green, rgb.blue);
}

QString controlName(const char *name, int index)
{
    const QString base = QString::fromLatin1(name);
    return index >= 0 ? base + QLatin1Char('_') + QString::number(index) : base;
}

} // namespace

ParamWindow::ParamWindow(ParamSet &set, RequestQueue &queue, QLabel *statusLine,
                         UserMessages &messages, QWidget *owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint),
      m_set(set), m_queue(queue), m_statusLine(statusLine), m_messages(messages)
{
    setObjectName(QStringLiteral("frm_param"));
    setWindowTitle(QStringLiteral("Программируемые параметры"));
    setFont(windowFont(0));

    buildControls();
    buildBoxes();
    buildLegend();
    connect(&m_set, &ParamSet::valueChanged, this, &ParamWindow::showValue);
    for (int i = 0; i < ParamTable::Count; ++i)
        showValue(i);

    FileBrowser::Widgets w;
    w.drive2 = findChild<QComboBox *>(QStringLiteral("Drive2"));
    w.drive1 = findChild<QComboBox *>(QStringLiteral("Drive1"));
    w.dir2 = findChild<QListWidget *>(QStringLiteral("Dir2"));
    w.file2 = findChild<QListWidget *>(QStringLiteral("File2"));
    w.text2 = findChild<QLineEdit *>(QStringLiteral("Text2"));
    w.text3 = findChild<QLineEdit *>(QStringLiteral("Text3"));
    w.label38 = findChild<QLabel *>(QStringLiteral("Label38"));
    for (const char *name : {"cmdReadFile", "cmdSaveFile", "cmdCompare"})
        w.fileButtons.append(findChild<QPushButton *>(QString::fromLatin1(name)));
    m_text3 = w.text3;
    m_browser = new FileBrowser(w, this);
    m_browser->start(QDir::currentPath());

    auto button = [this](const char *name) {
        return findChild<QPushButton *>(QString::fromLatin1(name));
    };
    connect(button("cmd_readall"), &QPushButton::clicked, this, &ParamWindow::onReadAll);
    connect(button("cmd_writeall"), &QPushButton::clicked, this, &ParamWindow::onWriteAll);
    connect(button("cmdSaveFile"), &QPushButton::clicked, this, &ParamWindow::onSaveFile);
    connect(button("cmdReadFile"), &QPushButton::clicked, this, &ParamWindow::onReadFile);
    connect(button("cmdCompare"), &QPushButton::clicked, this, &ParamWindow::onCompare);

    setMinimumSize(pl::TwipsToPixels(pl::MinOuterWidth - pl::OuterExtraWidth),
                   pl::TwipsToPixels(pl::MinOuterHeight - pl::OuterExtraHeight));
    setMaximumSize(pl::TwipsToPixels(pl::MaxOuterWidth - pl::OuterExtraWidth),
                   pl::TwipsToPixels(pl::MaxOuterHeight - pl::OuterExtraHeight));
    QSize size(pl::TwipsToPixels(pl::WindowClientWidth), pl::TwipsToPixels(pl::WindowClientHeight));
    if (const QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
        const QRect room = screen->availableGeometry();
        size = size.boundedTo(QSize(room.width() - pl::TwipsToPixels(pl::OuterExtraWidth),
                                    room.height() - pl::TwipsToPixels(pl::OuterExtraHeight)));
    }
    resize(size);
    applyScrollRules();
}

ParamWindow::~ParamWindow() = default;

QWidget *ParamWindow::parentFor(int parent) const
{
    switch (pl::Parent(parent)) {
    case pl::Parent::Window:
        return const_cast<ParamWindow *>(this);
    case pl::Parent::Prg:
        return m_prg;
    case pl::Parent::Calibr:
        return findChild<QGroupBox *>(QStringLiteral("Frame_calibr"));
    }
    return m_prg;
}

void ParamWindow::buildControls()
{
    for (int i = 0; i < pl::kControlCount; ++i) {
        const pl::ControlDef &def = pl::kControls[i];
        QWidget *parent = parentFor(int(def.parent));
        const QString text = QString::fromUtf8(def.text);
        QWidget *widget = nullptr;
        QRect rect = pl::TwipsRect(def.left, def.top, def.width, def.height);
        switch (def.kind) {
        case pl::Kind::Frame: {
            auto *frame = new QGroupBox(text, parent);
            if (!m_prg)
                m_prg = frame;
            widget = frame;
            break;
        }
        case pl::Kind::Button:
            widget = new WrapButton(text, parent);
            break;
        case pl::Kind::Label: {
            auto *label = new QLabel(text, parent);
            label->setAlignment(def.alignment);
            widget = label;
            break;
        }
        case pl::Kind::TextBox:
            widget = new QLineEdit(text, parent);
            break;
        case pl::Kind::DriveList:
            widget = new QComboBox(parent);
            break;
        case pl::Kind::DirList:
        case pl::Kind::FileList:
            widget = new QListWidget(parent);
            break;
        case pl::Kind::Line: {
            auto *line = new QFrame(parent);
            line->setFrameShape(def.width == 0 ? QFrame::VLine : QFrame::HLine);
            line->setFrameShadow(QFrame::Plain);
            rect.setWidth(qMax(rect.width(), 1));
            rect.setHeight(qMax(rect.height(), 1));
            widget = line;
            break;
        }
        case pl::Kind::VScrollBar:
        case pl::Kind::HScrollBar: {
            auto *bar = new QScrollBar(
                def.kind == pl::Kind::VScrollBar ? Qt::Vertical : Qt::Horizontal, parent);
            bar->setRange(0, 0);
            bar->setSingleStep(pl::ScrollSmallStep);
            bar->setPageStep(pl::ScrollLargeStep);
            if (def.kind == pl::Kind::VScrollBar) {
                m_vscroll = bar;
                connect(bar, &QScrollBar::valueChanged, this, &ParamWindow::onVScroll);
            } else {
                m_hscroll = bar;
                connect(bar, &QScrollBar::valueChanged, this, &ParamWindow::onHScroll);
            }
            widget = bar;
            break;
        }
        }
        widget->setObjectName(controlName(def.name, def.index));
        widget->setFont(windowFont(def.fontPoints));
        widget->setGeometry(rect);
        widget->setHidden(!def.visible);
    }
}

void ParamWindow::buildBoxes()
{
    const QFont boxFont = windowFont(0);
    const QFont labelFont = condensedFont(pl::CaptionFontPoints);
    for (int p = 0; p < pl::kBoxPlaceCount; ++p) {
        const pl::BoxPlace &place = pl::kBoxPlaces[p];
        const int i = place.index;
        QWidget *parent = parentFor(int(place.parent));
        const bool narrow = i >= 102 && i <= 105;
        auto *box = new QLineEdit(QStringLiteral("-"), parent);
        box->setObjectName(controlName("txt_par", i));
        box->setFont(boxFont);
        box->setGeometry(pl::TwipsRect(place.left, place.top,
                                       narrow ? pl::NarrowBoxWidth : pl::BoxWidth, pl::BoxHeight));
        m_boxes[size_t(i)] = box;
        connect(box, &QLineEdit::textChanged, this, [this, i](const QString &text) {
            if (!m_showing)
                m_set.edit(i, text);
        });
        connect(box, &QLineEdit::returnPressed, this, [this, i] { onEnter(i); });

        if (place.captionLeft < 0 || !paramTable().entry(i).ownCaption)
            continue;
        auto *label = new QLabel(paramTable().caption(i), parent);
        label->setObjectName(controlName("lblc_par", i));
        label->setFont(labelFont);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(pl::TwipsRect(place.captionLeft, place.top,
                                         place.left - pl::CaptionGap - place.captionLeft,
                                         pl::BoxHeight));
    }
    m_defaultBoxPalette = m_boxes[0]->palette();
}

void ParamWindow::buildLegend()
{
    for (int r = 0; r < pl::kLegendCount; ++r) {
        const pl::LegendRow &row = pl::kLegend[r];
        auto *square = new QFrame(m_prg);
        square->setObjectName(QString::fromLatin1(row.shape));
        square->setFrameShape(QFrame::Box);
        square->setFrameShadow(QFrame::Plain);
        square->setAutoFillBackground(true);
        QPalette p = square->palette();
        p.setColor(QPalette::Window, toColor(row.colour));
        square->setPalette(p);
        square->setGeometry(pl::TwipsRect(pl::LegendSquareLeft, row.top, pl::LegendSquareWidth,
                                          pl::LegendSquareHeight));

        auto *text = new QLabel(QString::fromUtf8(row.text), m_prg);
        text->setObjectName(controlName("Label31", r));
        text->setFont(condensedFont(pl::WindowFontPoints));
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        text->setGeometry(
            pl::TwipsRect(pl::LegendTextLeft, row.top, pl::LegendTextWidth, row.textHeight));
    }
}

void ParamWindow::openWindow()
{
    if (isVisible()) {
        if (isMinimized())
            showNormal();
        raise();
        activateWindow();
        return;
    }
    m_set.reset();
    show();
    raise();
    activateWindow();
    queueReadAll();
}

void ParamWindow::showValue(int index)
{
    if (!ParamTable::isValidIndex(index))
        return;
    QLineEdit *box = m_boxes[size_t(index)];
    const QString text = m_set.text(index);
    if (box->text() != text) {
        m_showing = true;
        box->setText(text);
        m_showing = false;
    }
    QPalette p = m_defaultBoxPalette;
    const ParamState state = m_set.state(index);
    if (state != ParamState::NotRead)
        p.setColor(QPalette::Base, toColor(boxColourOf(state)));
    if (box->palette() != p)
        box->setPalette(p);
}

QString ParamWindow::boxName(int index) const
{
    const ParamTable &table = paramTable();
    const QString caption = table.caption(index);
    if (table.entry(index).ownCaption)
        return caption;
    int first = index;
    while (first > 0 && !table.entry(first).ownCaption)
        --first;
    return caption + QStringLiteral(", поле ") + QString::number(index - first + 1);
}

void ParamWindow::setStatus(const QString &text)
{
    ShowStatusNow(m_statusLine, text);
}

bool ParamWindow::queueReadAll()
{
    if (m_set.readAll(m_queue) == TransferStatus::Queued)
        return true;
    m_messages.ask(this, QMessageBox::Critical, kReadErrorTitle,
                   kRingFull + kCrLf + QStringLiteral("Чтение параметров не выполнено."),
                   QMessageBox::Ok);
    return false;
}

void ParamWindow::onReadAll()
{
    if (queueReadAll())
        m_set.setAllStates(ParamState::Requested);
}

void ParamWindow::onWriteAll()
{
    const WriteAllResult result = m_set.writeAll(m_queue);
    switch (result.status) {
    case TransferStatus::Queued:
        return;
    case TransferStatus::RingFull:
        m_messages.ask(this, QMessageBox::Critical, kWriteErrorTitle,
                       kRingFull + kCrLf + QStringLiteral("Запись параметров не выполнена."),
                       QMessageBox::Ok);
        return;
    case TransferStatus::NoNumber: {
        QString text = QStringLiteral("Невозможно записать параметры в ЭСППЗУ.") + kCrLf +
                       QStringLiteral("Полей без числового значения: ") +
                       QString::number(result.emptyBoxes.size());
        const int named = qMin(int(result.emptyBoxes.size()), NamedEmptyBoxes);
        for (int n = 0; n < named; ++n)
            text += kCrLf + QStringLiteral("«") + boxName(result.emptyBoxes.at(n)) +
                    QStringLiteral("»");
        if (result.emptyBoxes.size() > named)
            text += kCrLf + QStringLiteral("и другие");
        m_messages.ask(this, QMessageBox::Critical, kWriteErrorTitle, text, QMessageBox::Ok);
        return;
    }
    }
}

void ParamWindow::onEnter(int index)
{
    switch (m_set.writeOne(m_queue, index)) {
    case TransferStatus::Queued:
        return;
    case TransferStatus::NoNumber: {
        const QString note = QStringLiteral(" Параметр «") + boxName(index) +
                             QStringLiteral("» не записан: в поле нет числа");
        if (showNote)
            showNote(note);
        else
            setStatus(note.trimmed());
    }
        return;
    case TransferStatus::RingFull:
        m_messages.ask(this, QMessageBox::Critical, kWriteErrorTitle,
                       kRingFull + kCrLf + QStringLiteral("Параметр «") + boxName(index) +
                           QStringLiteral("» не записан."),
                       QMessageBox::Ok);
        return;
    }
}

void ParamWindow::onSaveFile()
{
    const QString name = m_text3->text();
    setStatus(QStringLiteral("Сохранение файла ") + name);
    m_paramFilePath = ParamFilePath(m_browser->path(), name);
    if (name.isEmpty()) {
        m_messages.ask(this, QMessageBox::Critical, kFileErrorTitle,
                       cannotOpen(name, " для записи"), QMessageBox::Ok);
        return;
    }
    if (ParamFileExistsExactly(m_paramFilePath)) {
        const QString question = QStringLiteral("Файл ") + name +
                                 QStringLiteral(" уже существует!") + kCrLf +
                                 QStringLiteral("Заменить его?");
        if (m_messages.ask(this, QMessageBox::Question, kReplaceTitle, question,
                           QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
            setStatus(QString());
            return;
        }
    }
    while (!m_set.save(m_paramFilePath)) {
        if (m_messages.ask(this, QMessageBox::Critical, kFileErrorTitle,
                           cannotOpen(name, " для записи"),
                           QMessageBox::Retry | QMessageBox::Cancel) != QMessageBox::Retry) {
            setStatus(QString());
            return;
        }
    }
    setStatus(QString());
    m_browser->refreshFiles();
}

// Load and compare share the lookup, the status text and the Retry/Cancel loop; false when the
// command ends there (missing file or Cancel).
bool ParamWindow::readParamFile(bool statusShowsPath, ParamFileSet &set)
{
    const QString name = m_text3->text();
    m_paramFilePath = ParamFilePath(m_browser->path(), name);
    if (name.isEmpty() || !ParamFileFound(m_paramFilePath)) {
        m_messages.ask(this, QMessageBox::Critical, kFileErrorTitle,
                       cannotOpen(name, " для чтения"), QMessageBox::Ok);
        setStatus(QString());
        return false;
    }
    setStatus(QStringLiteral("Чтение файла ") + (statusShowsPath ? m_paramFilePath : name));
    while (!ReadParamSet(m_paramFilePath, set)) {
        if (m_messages.ask(this, QMessageBox::Critical, kFileErrorTitle,
                           cannotOpen(name, " для чтения") + kCrLf,
                           QMessageBox::Retry | QMessageBox::Cancel) != QMessageBox::Retry)
            return false;
    }
    return true;
}

void ParamWindow::onReadFile()
{
    ParamFileSet set;
    if (!readParamFile(true, set))
        return;
    m_set.load(set);
    setStatus(QString());
}

void ParamWindow::onCompare()
{
    ParamFileSet set;
    if (!readParamFile(false, set))
        return;
    m_set.compare(set);
    setStatus(QString());
}

void ParamWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    applyScrollRules();
}

void ParamWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_browser->startWatch();
}

void ParamWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_browser->stopWatch();
}

void ParamWindow::applyScrollRules()
{
    if (isMinimized())
        return;
    const int clientWidth = pl::PixelsToTwips(width());
    const int clientHeight = pl::PixelsToTwips(height());
    const int outerWidth = clientWidth + pl::OuterExtraWidth;
    const int outerHeight = clientHeight + pl::OuterExtraHeight;
    const int bar = pl::TwipsToPixels(pl::ScrollBarThickness);

    // A bar that is no longer needed also gives back the panel's designed place, so no part of
    // it stays scrolled out of reach.
    if (pl::PrgHeight + 200 + 511 <= outerHeight) {
        m_vscroll->hide();
        const QSignalBlocker block(m_vscroll);
        m_vscroll->setValue(0);
        m_prg->move(m_prg->x(), pl::TwipsToPixels(pl::PrgTop));
    } else {
        m_vscroll->setGeometry(width() - bar, 0, bar, height());
        m_vscroll->setMaximum(pl::PrgHeight - outerHeight + 750);
        m_vscroll->show();
    }

    if (pl::PrgWidth + 100 + 255 <= outerWidth) {
        m_hscroll->hide();
        const QSignalBlocker block(m_hscroll);
        m_hscroll->setValue(0);
        m_prg->move(pl::TwipsToPixels(pl::PrgLeft), m_prg->y());
    } else {
        const bool both = !m_vscroll->isHidden();
        m_hscroll->setGeometry(0, height() - bar, both ? width() - bar : width(), bar);
        m_hscroll->setMaximum(pl::PrgWidth - outerWidth + (both ? 550 : 350));
        m_hscroll->show();
    }
}

void ParamWindow::onHScroll(int value)
{
    m_prg->move(pl::TwipsToPixels(125 - value), m_prg->y());
}

void ParamWindow::onVScroll(int value)
{
    m_prg->move(m_prg->x(), pl::TwipsToPixels(-value));
}

} // namespace vortan
