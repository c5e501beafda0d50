#include "shell/mainwindow.h"
#include "widgets/wrapbutton.h"

#include "shell/mainlayout.h"
#include "status/registermap.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <qdrawutil.h>

#include <algorithm>
#include <array>
#include <utility>

namespace vortan
{

using layout::Align;
using layout::Control;
using layout::Kind;
using layout::Px;

namespace
{

const char *const TagProperty = "tag";
// Room for the title bar and borders, which are not known before the window is first shown.
constexpr QSize FrameAllowance(16, 48);
// The smallest the window can be made once it scrolls.
constexpr QSize SmallestScrolling(480, 320);
constexpr int FrameCount = 8;
constexpr int LastListEntry = 7;

// A frame as the layout draws it: the border runs through the middle of the caption, so the
// content placed just below the caption stays clear of the border.
class CaptionFrame : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        const QFontMetrics fm(font());
        const QRect border = rect().adjusted(0, fm.height() / 2, 0, 0);
        const QRect caption(CaptionIndent, 0, fm.horizontalAdvance(title()) + 4, fm.height());
        const bool touchesBorder = !border.adjusted(2, 2, -2, -2).contains(event->rect());
        if (!touchesBorder && !event->rect().intersects(caption))
            return;
        QPainter painter(this);
        qDrawShadeRect(&painter, border, palette(), true);
        painter.fillRect(caption, palette().window());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(caption, Qt::AlignCenter, title());
    }

private:
    static constexpr int CaptionIndent = 6;
};

QFont LayoutFont(double points)
{
    QFont font(QString::fromLatin1(layout::FontFace));
    font.setPointSizeF(points > 0 ? points : layout::DefaultPoints);
    // Set explicitly so a frame's narrowed caption font does not pass on to its content.
    font.setStretch(QFont::Unstretched);
    return font;
}

Qt::Alignment LabelAlignment(Align align)
{
    switch (align) {
    case Align::Centre:
        return Qt::AlignHCenter | Qt::AlignTop;
    case Align::Right:
        return Qt::AlignRight | Qt::AlignTop;
    case Align::Left:
        break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

void SetBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A label that fills its own background is repainted alone when its text changes; one that does
// not makes its frame and the window paint under it on every reply. Only labels that cover
// nothing but their parent's plain inside fill it (same colour, same pixels): not one over a frame
// border or caption, nor one stacked with another control.
void FillWhereAlone(QWidget *client)
{
    for (QLabel *label : client->findChildren<QLabel *>()) {
        if (label->autoFillBackground())
            continue;
        const QWidget *parent = label->parentWidget();
        const QRect area = label->geometry();
        QRect inside = parent->rect();
        if (qobject_cast<const QGroupBox *>(parent)) {
            // The border runs through the caption's middle; the caption covers its top.
            const int captionHeight = QFontMetrics(parent->font()).height();
            inside = inside.adjusted(2, captionHeight + 2, -2, -2);
        }
        bool alone = inside.contains(area);
        for (const QObject *other : parent->children()) {
            const auto *sibling = qobject_cast<const QWidget *>(other);
            if (alone && sibling && sibling != label && sibling->geometry().intersects(area))
                alone = false;
        }
        label->setAutoFillBackground(alone);
    }
}

QLabel *MakeLabel(const Control &c, QWidget *parent)
{
    auto *label = new QLabel(QString::fromUtf8(c.text), parent);
    label->setAlignment(LabelAlignment(c.align));
    // Boxes drawn two or more lines high were meant for captions that wrap.
    if (Px(c.height) >= 2 * QFontMetrics(LayoutFont(c.points)).lineSpacing())
        label->setWordWrap(true);
    if (c.kind == Kind::Lamp)
        SetBackground(label, QApplication::palette().color(QPalette::Button));
    else if (c.kind == Kind::Alert)
        SetBackground(label, QColor(255, 0, 0));
    return label;
}

bool TextFits(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget)) {
        const QRect inside = label->contentsRect();
        const QFontMetrics fm(label->font());
        if (!label->wordWrap())
            return fm.horizontalAdvance(label->text()) <= inside.width();
        for (const QString &word : label->text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (fm.horizontalAdvance(word) > inside.width())
                return false;
        }
        return label->heightForWidth(inside.width()) <= inside.height();
    }
    if (const auto *box = qobject_cast<const QCheckBox *>(widget))
        return box->sizeHint().width() <= box->width();
    if (const auto *button = qobject_cast<const QPushButton *>(widget)) {
        const QRect inside = button->rect().adjusted(4, 4, -4, -4);
        const QRect need =
            QFontMetrics(button->font())
                .boundingRect(inside, Qt::AlignCenter | Qt::TextWordWrap, button->text());
        return inside.contains(need);
    }
    if (const auto *frame = qobject_cast<const QGroupBox *>(widget))
        return QFontMetrics(frame->font()).horizontalAdvance(frame->title()) + 16 <= frame->width();
    return true;
}

void CondenseToFit(QWidget *widget);

// A value label is fitted to the widest text the controller can make it show, not to its "-":
// a unit with every state bit set shows eleven letters.
void FitWidestText(QWidget *widget, const char *name)
{
    auto *label = qobject_cast<QLabel *>(widget);
    if (!label || qstrcmp(name, "lbl_ext_cecsf") != 0) {
        CondenseToFit(widget);
        return;
    }
    const QString shown = label->text();
    label->setText(UnitStateLetters(0x07FF));
    CondenseToFit(label);
    label->setText(shown);
}

// DejaVu Sans is wider than the face the boxes were drawn for: a caption that would be cut is
// set a little narrower instead, in steps, down to three quarters of its width.
void CondenseToFit(QWidget *widget)
{
    for (int stretch = 95; stretch >= 75 && !TextFits(widget); stretch -= 5) {
        QFont font = widget->font();
        font.setStretch(stretch);
        widget->setFont(font);
    }
}

// The lists hold exactly the entries "0".."7": typed text may only pick one of them, and
// whatever is left in the edit field when it loses focus shows the entry that is selected.
void MakeEntryOnly(QComboBox *box)
{
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]")), box));
    QObject::connect(box->lineEdit(), &QLineEdit::editingFinished, box, [box] {
        const int found = box->findText(box->currentText(), Qt::MatchExactly);
        if (found >= 0)
            box->setCurrentIndex(found);
        else
            box->setEditText(box->itemText(box->currentIndex()));
    });
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frm_main"));
    setWindowTitle(QStringLiteral("Вортан. Сервисное обслуживание"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(LayoutFont(0));

    auto *client = new QWidget(this);
    client->setFixedSize(Px(layout::ClientWidthTwips), Px(layout::ClientHeightTwips));
    setCentralWidget(client);

    buildMenu();
    buildControls();
    cacheControlState();

    setFixedSize(client->width(), client->height() + menuBar()->sizeHint().height());
}

QString MainWindow::controlName(const char *name, int index)
{
    return layout::ObjectName(name, index);
}

void MainWindow::fitInto(const QSize &available)
{
    const QSize whole = size();
    const QSize room = available - FrameAllowance;
    if (whole.width() <= room.width() && whole.height() <= room.height())
        return;
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scr_main"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(takeCentralWidget());
    setCentralWidget(scroll);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setMinimumSize(SmallestScrolling.boundedTo(room));
    // Never larger than the whole layout, at which size the scroll bars go away.
    setMaximumSize(whole);
    resize(whole.boundedTo(room));
}

void MainWindow::buildMenu()
{
    QAction *params = menuBar()->addAction(QStringLiteral("&Программируемые параметры"));
    params->setObjectName(QStringLiteral("mnu_param"));
    connect(params, &QAction::triggered, this, &MainWindow::paramsRequested);

    QAction *settings = menuBar()->addAction(QStringLiteral("&Настройка порта"));
    settings->setObjectName(QStringLiteral("mnu_settings"));
    connect(settings, &QAction::triggered, this, &MainWindow::portSettingsRequested);

    QAction *monitor = menuBar()->addAction(QStringLiteral("&Монитор обмена"));
    monitor->setObjectName(QStringLiteral("mnu_monitor"));
    connect(monitor, &QAction::triggered, this, &MainWindow::monitorRequested);
    QAction *trends = menuBar()->addAction(QStringLiteral("&Тренды"));
    trends->setObjectName(QStringLiteral("mnu_trends"));
    connect(trends, &QAction::triggered, this, &MainWindow::trendsRequested);
    QAction *journal = menuBar()->addAction(QStringLiteral("&Журнал событий"));
    journal->setObjectName(QStringLiteral("mnu_journal"));
    connect(journal, &QAction::triggered, this, &MainWindow::journalRequested);
    QAction *report = menuBar()->addAction(QStringLiteral("&Отчёт..."));
    report->setObjectName(QStringLiteral("mnu_report"));
    connect(report, &QAction::triggered, this, &MainWindow::reportRequested);
}

void MainWindow::buildControls()
{
    QWidget *client = centralWidget();
    std::array<QGroupBox *, FrameCount> frames{};

    for (const Control &c : layout::MainLayout()) {
        QWidget *parent = client;
        if (c.frame >= 0 && c.frame < FrameCount && frames[size_t(c.frame)])
            parent = frames[size_t(c.frame)];

        const QString text = QString::fromUtf8(c.text);
        QWidget *widget = nullptr;
        switch (c.kind) {
        case Kind::Frame: {
            auto *frame = new CaptionFrame(text, parent);
            if (c.index >= 0 && c.index < FrameCount)
                frames[size_t(c.index)] = frame;
            widget = frame;
            break;
        }
        case Kind::Label:
        case Kind::Lamp:
        case Kind::Alert:
            widget = MakeLabel(c, parent);
            break;
        case Kind::CheckBox: {
            auto *box = new QCheckBox(text, parent);
            box->setChecked(false);
            widget = box;
            break;
        }
        case Kind::EditCombo: {
            auto *box = new QComboBox(parent);
            MakeEntryOnly(box);
            widget = box;
            break;
        }
        case Kind::ListCombo:
            widget = new QComboBox(parent);
            break;
        case Kind::Button: {
            auto *button = new WrapButton(text, parent);
            const int index = c.index;
            connect(button, &QPushButton::clicked, this, [this, button, index] {
                emit commandClicked(index, button->property(TagProperty).toString());
            });
            widget = button;
            break;
        }
        case Kind::TextBox:
            widget = new QLineEdit(text, parent);
            break;
        case Kind::Line: {
            auto *line = new QFrame(parent);
            line->setFrameStyle(QFrame::HLine | QFrame::Plain);
            line->setLineWidth(1);
            widget = line;
            break;
        }
        }

        widget->setObjectName(layout::ObjectName(c));
        widget->setFont(LayoutFont(c.points));
        const int height = c.kind == Kind::Line ? 1 : Px(c.height);
        widget->setGeometry(Px(c.left), Px(c.top), Px(c.width), height);
        FitWidestText(widget, c.name);
        if (c.tag && *c.tag)
            widget->setProperty(TagProperty, QString::fromLatin1(c.tag));
        if (!c.visible)
            widget->setHidden(true);
    }

    FillWhereAlone(client);

    m_statusLine = label("lbl_sys_mes");
    if (m_statusLine)
        m_statusLine->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_slaveList = control<QComboBox>("cmb_slad");
}

void MainWindow::fillLists()
{
    const auto fill = [](QComboBox *box, int count, int selected) {
        if (!box)
            return;
        box->clear();
        for (int i = 0; i < count; ++i)
            box->addItem(QString::number(i));
        box->setCurrentIndex(selected);
    };
    fill(m_slaveList, 128, 1);
    fill(m_priority, LastListEntry + 1, 0);
    fill(m_section, LastListEntry + 1, 0);
    fill(m_nextSection, LastListEntry + 1, 0);
}

void MainWindow::cacheControlState()
{
    for (const layout::ControlBit &bit : layout::ControlWordBits()) {
        if (QCheckBox *box = control<QCheckBox>(bit.checkBox))
            m_wordBits.append({box, bit.bit});
    }
    for (const Control &c : layout::MainLayout()) {
        if (c.kind != Kind::CheckBox || c.index < 0)
            continue;
        QCheckBox *box = control<QCheckBox>(c.name, c.index);
        if (!box)
            continue;
        if (qstrcmp(c.name, "chk_bdn") == 0)
            m_bdn.append(box);
        else if (qstrcmp(c.name, "chk_flr") == 0)
            m_flr.append(box);
        else if (qstrcmp(c.name, "chk_iflr") == 0)
            m_iflr.append(box);
    }
    m_priority = control<QComboBox>("cmb_priority");
    m_section = control<QComboBox>("cmb_section");
    m_nextSection = control<QComboBox>("cmb_sec_next");

    const auto edited = [this] { emit controlStateEdited(controlState()); };
    for (const auto &bit : std::as_const(m_wordBits))
        connect(bit.first, &QCheckBox::toggled, this, edited);
    for (const QList<QCheckBox *> *group : {&m_bdn, &m_flr, &m_iflr}) {
        for (QCheckBox *box : *group)
            connect(box, &QCheckBox::toggled, this, edited);
    }
    for (QComboBox *box : {m_priority, m_section, m_nextSection}) {
        if (box)
            connect(box, &QComboBox::currentIndexChanged, this, edited);
    }
}

int MainWindow::tagSum(const QList<QCheckBox *> &group)
{
    int sum = 0;
    for (const QCheckBox *box : group) {
        if (box->isChecked())
            sum += box->property(TagProperty).toString().toInt();
    }
    return sum;
}

int MainWindow::listIndex(const QComboBox *box)
{
    // Register 4003 packs two of these into one byte, so nothing outside 0..7 may pass.
    return box ? std::clamp(box->currentIndex(), 0, LastListEntry) : 0;
}

ControlState MainWindow::controlState() const
{
    ControlState state;
    for (const auto &[box, bit] : m_wordBits) {
        if (box->isChecked())
            state.controlWord = quint16(state.controlWord | (1u << bit));
    }
    state.section = listIndex(m_section);
    state.nextSection = listIndex(m_nextSection);
    state.priority = listIndex(m_priority);
    state.bdn = quint16(tagSum(m_bdn));
    state.flr = quint16(tagSum(m_flr));
    state.iflr = quint16(tagSum(m_iflr));
    return state;
}

int MainWindow::slaveAddress() const
{
    return m_slaveList ? std::max(0, m_slaveList->currentIndex()) : 0;
}

QLabel *MainWindow::statusLine() const
{
    return m_statusLine;
}

QComboBox *MainWindow::slaveList() const
{
    return m_slaveList;
}

} // namespace vortan
