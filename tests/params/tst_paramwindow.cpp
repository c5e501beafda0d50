#include "format/formatting.h"
#include "modbus/exchangecycle.h"
#include "params/paramlayout.h"
#include "paramtestsupport.h"

#include "fakeseriallink.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 255, 0);

QByteArray withCrc(const QByteArray &frame)
{
    QByteArray f = frame;
    const quint16 crc = Crc16Modbus(f);
    f.append(char(crc & 0xFF));
    f.append(char(crc >> 8));
    return f;
}

// The main window's side of the exchange: parameter replies go to the parameters window.
class Host : public CycleHost
{
public:
    Host(const RxBuffer &rx, ParamWindow &window) : m_rx(rx), m_window(window) {}
    void setStatusText(const QString &) override {}
    void decodeReply() override
    {
        const int function = m_rx.byte(1);
        if (function == FnParamRead || function == FnParamWrite)
            m_window.ApplyParamReply(m_rx);
    }
    ControlState controlState() const override { return {}; }
    int slaveAddress() const override { return 1; }

private:
    const RxBuffer &m_rx;
    ParamWindow &m_window;
};

// The window, the exchange cycle, the serial line and a controller answering from its memory.
struct Bench : ParamWorld {
    RxBuffer rx;
    FakeSerialLink link;
    FakeParamMemory memory;
    Host host{rx, *window};
    ExchangeCycle cycle{queue, rx, link, host};

    Bench()
    {
        QVERIFY(link.open() == OpenResult::Ok);
        for (int a = 0; a < int(memory.bytes.size()); ++a)
            memory.bytes[size_t(a)] = quint8((a * 29 + 7) & 0xFF);
    }
    // Runs ticks; the controller answers every parameter frame before the next tick.
    void serve(int ticks)
    {
        for (int t = 0; t < ticks; ++t) {
            const int before = int(link.written.size());
            cycle.ExchangeTick();
            if (int(link.written.size()) == before)
                continue;
            const QByteArray request = link.written.last();
            QByteArray reply = memory.answer(request);
            if (reply.isEmpty()) // a status poll: any good reply releases it
                reply = withCrc(request.left(2) + QByteArray(1, '\0'));
            link.feed(reply);
        }
    }
    QList<QByteArray> framesOf(int function) const
    {
        QList<QByteArray> out;
        for (const QByteArray &f : link.written) {
            if (quint8(f.at(1)) == function)
                out.append(f);
        }
        return out;
    }
    int rawAt(int index) const
    {
        const ParamTable &t = window->paramTable();
        const int a = t.Address(index);
        return t.Width(index) == 2 ? memory.bytes[size_t(a)] * 256 + memory.bytes[size_t(a + 1)]
                                   : memory.bytes[size_t(a)];
    }
};

int pixels(int twips)
{
    return paramlayout::TwipsToPixels(twips);
}

} // namespace

class TstParamWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void openingReadsEveryParameterAndRepliesFillTheBoxes();
    void enterWritesTheBoxAndWhitensIt();
    void enterInABoxWithoutANumberWritesNothing();
    void writeAllAfterAReadSendsTheEditedSet();
    void writeAllWithUnreadBoxesAsksForNumbers();
    void writeAllWithAFullRingQueuesNothing();
    void readAllWhitensAndQueuesAFreshSet();
    void typingTurnsAGreenBoxWhite();
    void repliesWhileClosedAreDropped();
    void reopeningStartsAfresh();
    void sizeLimitsAndScrollBars();
    void scrollingMovesThePanel();
    void legendShowsTheSevenColours();
    void textsFitTheirPlaces();
};

void TstParamWindow::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TstParamWindow::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TstParamWindow::openingReadsEveryParameterAndRepliesFillTheBoxes()
{
    Bench b;
    b.window->openWindow();
    QVERIFY(b.window->isVisible());
    QCOMPARE(b.queue.waiting(), 20);
    for (int i = 0; i < ParamTable::Count; ++i)
        QCOMPARE(b.box(i)->text(), QStringLiteral("-"));

    b.serve(21);
    const QList<QByteArray> reads = b.framesOf(FnParamRead);
    QCOMPARE(reads.size(), 20);
    QCOMPARE(reads.first(), withCrc(bytes({0x01, 0x64, 0x00, 0x00, 0x31})));
    QCOMPARE(reads.last(), withCrc(bytes({0x01, 0x64, 0x00, 146, 1})));

    const ParamTable &table = b.window->paramTable();
    for (int i = 0; i < ParamTable::Count; ++i) {
        const QString text = b.box(i)->text();
        const QByteArray where = QByteArray::number(i) + ": " + text.toUtf8();
        QVERIFY2(baseOf(b.box(i)) == kGreen, where);
        QVERIFY2(text.endsWith(QLatin1Char(' ')), where);
        QVERIFY2(!text.contains(QLatin1Char('.')), where);
        QVERIFY2(qAbs(ParseNumber(text) - b.rawAt(i) * table.Scale(i)) < 0.006, where);
    }
}

void TstParamWindow::enterWritesTheBoxAndWhitensIt()
{
    Bench b;
    b.window->openWindow();
    b.serve(21);
    QLineEdit *box = b.box(40);
    QCOMPARE(baseOf(box), kGreen);

    const quint16 start = b.queue.writeIndex();
    box->setText(QStringLiteral("12,6"));
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(b.queue.writeIndex(), quint16(start + 1));
    QCOMPARE(slotBytes(b.queue.slotAt(start)), bytes({0, 101, 0, 54, 1, 13}));
    QCOMPARE(baseOf(box), kWhite);
    QCOMPARE(box->text(), QStringLiteral("12,6"));

    b.serve(2);
    QCOMPARE(b.memory.bytes[54], quint8(13));
    QCOMPARE(box->text(), QStringLiteral("13 "));
    QCOMPARE(baseOf(box), kGreen);
}

void TstParamWindow::enterInABoxWithoutANumberWritesNothing()
{
    ParamWorld w;
    w.window->openWindow();
    const int waiting = w.queue.waiting();
    QTest::keyClick(w.box(41), Qt::Key_Enter);
    QCOMPARE(w.queue.waiting(), waiting);
    QVERIFY(w.status->text().contains(QStringLiteral("Адрес устр. Modbus")));

    w.box(104)->setText(QStringLiteral("x"));
    QTest::keyClick(w.box(104), Qt::Key_Return);
    QCOMPARE(w.queue.waiting(), waiting);
    QVERIFY(w.status->text().contains(QStringLiteral("поле 3")));
}

void TstParamWindow::writeAllAfterAReadSendsTheEditedSet()
{
    Bench b;
    b.window->openWindow();
    b.serve(21);

    QLineEdit *box = b.box(8);
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("250,4"));
    QLineEdit *dev = b.box(41);
    dev->selectAll();
    QTest::keyClicks(dev, QStringLiteral("7"));
    const std::array<quint8, 147> before = b.memory.bytes;

    const int waiting = b.queue.waiting();
    QTest::mouseClick(b.find<QPushButton>(QStringLiteral("cmd_writeall")), Qt::LeftButton);
    QCOMPARE(b.queue.waiting(), waiting + 22);
    for (int i = 0; i < ParamTable::Count; ++i)
        QCOMPARE(baseOf(b.box(i)), kWhite);

    b.link.written.clear();
    b.serve(24);
    const QList<QByteArray> writes = b.framesOf(FnParamWrite);
    QCOMPARE(writes.size(), 22);
    QCOMPARE(writes.last(), withCrc(bytes({0x01, 0x65, 0x00, 55, 1, 7})));
    for (int f = 0; f < writes.size() - 1; ++f) {
        const int a = quint8(writes[f].at(3));
        const int n = quint8(writes[f].at(4));
        QVERIFY2(!(a <= 55 && 55 < a + n), "device address written inside a run");
    }

    std::array<quint8, 147> expected = before;
    expected[16] = 2504 >> 8;
    expected[17] = 2504 & 0xFF;
    expected[55] = 7;
    QCOMPARE(b.memory.bytes, expected);
    for (int i = 0; i < ParamTable::Count; ++i)
        QCOMPARE(baseOf(b.box(i)), kGreen);
    QCOMPARE(b.box(8)->text(), QStringLiteral("250,4 "));
}

void TstParamWindow::writeAllWithUnreadBoxesAsksForNumbers()
{
    ParamWorld w;
    w.window->openWindow();
    const int waiting = w.queue.waiting();
    w.messages.answers = {QMessageBox::Ok};
    QTest::mouseClick(w.find<QPushButton>(QStringLiteral("cmd_writeall")), Qt::LeftButton);

    QCOMPARE(w.queue.waiting(), waiting);
    QCOMPARE(w.messages.shown.size(), 1);
    const ScriptedMessages::Box &box = w.messages.shown.first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.title, QStringLiteral("Ошибка записи в ЭСППЗУ"));
    QVERIFY(box.text.contains(QStringLiteral(": 111")));
    for (const char *caption : {"«UA (секц)»", "«UA (сеть)»", "«UA»", "«UB»", "«UC»"})
        QVERIFY2(box.text.contains(QString::fromUtf8(caption)), caption);
    QVERIFY(!box.text.contains(QStringLiteral("«IA»")));

    // One box left without a number still stops the whole set.
    for (int i = 0; i < ParamTable::Count; ++i)
        w.box(i)->setText(QStringLiteral("1"));
    w.box(57)->setText(QStringLiteral("-"));
    QTest::mouseClick(w.find<QPushButton>(QStringLiteral("cmd_writeall")), Qt::LeftButton);
    QCOMPARE(w.queue.waiting(), waiting);
    QCOMPARE(w.messages.shown.size(), 2);
    QVERIFY(w.messages.shown.last().text.contains(QStringLiteral(": 1")));
    QVERIFY(
        w.messages.shown.last().text.contains(QStringLiteral("«М. расш. (0-откл/1-QMT/2-ЛДН)»")));
}

void TstParamWindow::writeAllWithAFullRingQueuesNothing()
{
    ParamWorld w;
    w.window->openWindow();
    for (int i = 0; i < ParamTable::Count; ++i)
        w.box(i)->setText(QStringLiteral("3"));
    while (w.queue.waiting() < 495)
        w.queue.enqueue(StatusPollRequest());

    QTest::mouseClick(w.find<QPushButton>(QStringLiteral("cmd_writeall")), Qt::LeftButton);
    QCOMPARE(w.queue.waiting(), 495);
    QCOMPARE(w.messages.shown.size(), 1);
    QVERIFY(w.messages.shown.first().text.contains(QStringLiteral("Очередь запросов")));
    QCOMPARE(baseOf(w.box(0)), kWhite);

    QTest::mouseClick(w.find<QPushButton>(QStringLiteral("cmd_readall")), Qt::LeftButton);
    QCOMPARE(w.queue.waiting(), 495);
    QCOMPARE(w.messages.shown.size(), 2);
}

void TstParamWindow::readAllWhitensAndQueuesAFreshSet()
{
    Bench b;
    b.window->openWindow();
    b.serve(21);
    QCOMPARE(baseOf(b.box(7)), kGreen);
    const int waiting = b.queue.waiting();
    QTest::mouseClick(b.find<QPushButton>(QStringLiteral("cmd_readall")), Qt::LeftButton);
    QCOMPARE(b.queue.waiting(), waiting + 20);
    for (int i = 0; i < ParamTable::Count; ++i)
        QCOMPARE(baseOf(b.box(i)), kWhite);
}

void TstParamWindow::typingTurnsAGreenBoxWhite()
{
    Bench b;
    b.window->openWindow();
    b.serve(21);
    QLineEdit *box = b.box(110);
    QCOMPARE(baseOf(box), kGreen);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(baseOf(box), kWhite);
    QCOMPARE(baseOf(b.box(109)), kGreen);
}

void TstParamWindow::repliesWhileClosedAreDropped()
{
    ParamWorld w;
    w.window->ApplyParamReply(ParamReply(100, 131, 4, bytes({1, 2, 3, 4})));
    QCOMPARE(w.box(102)->text(), QStringLiteral("-"));

    w.window->openWindow();
    w.window->ApplyParamReply(ParamReply(100, 131, 4, bytes({1, 2, 3, 4})));
    QCOMPARE(w.box(105)->text(), QStringLiteral("4 "));
    w.window->close();
    QVERIFY(!w.window->isVisible());
    w.window->ApplyParamReply(ParamReply(100, 131, 4, bytes({9, 9, 9, 9})));
    QCOMPARE(w.box(105)->text(), QStringLiteral("4 "));
    QCOMPARE(baseOf(w.box(105)), kGreen);
}

void TstParamWindow::reopeningStartsAfresh()
{
    ParamWorld w;
    const QColor untouched = baseOf(w.box(0));
    w.window->openWindow();
    w.window->ApplyParamReply(ParamReply(100, 0, 2, bytes({0x09, 0x01})));
    QCOMPARE(w.box(0)->text(), QStringLiteral("230,5 "));

    w.window->openWindow(); // already open: only raised
    QCOMPARE(w.queue.waiting(), 20);
    QCOMPARE(w.box(0)->text(), QStringLiteral("230,5 "));

    w.window->close();
    w.window->openWindow();
    QCOMPARE(w.queue.waiting(), 40);
    QCOMPARE(w.box(0)->text(), QStringLiteral("-"));
    QCOMPARE(baseOf(w.box(0)), untouched);
}

void TstParamWindow::sizeLimitsAndScrollBars()
{
    ParamWorld w;
    w.window->openWindow();
    auto *v = w.find<QScrollBar>(QStringLiteral("VScroll1"));
    auto *h = w.find<QScrollBar>(QStringLiteral("HScroll1"));

    w.window->resize(5000, 5000);
    QTRY_COMPARE(w.window->size(), QSize(pixels(22485 - 120), pixels(12800 - 515)));
    QTRY_VERIFY(!v->isVisible() && !h->isVisible());

    w.window->resize(10, 10);
    QTRY_COMPARE(w.window->size(), QSize(pixels(7000 - 120), pixels(4000 - 515)));
    QTRY_VERIFY(v->isVisible() && h->isVisible());
    const int outerWidth = w.window->width() * 15 + 120;
    const int outerHeight = w.window->height() * 15 + 515;
    QCOMPARE(h->width(), w.window->width() - v->width());
    QCOMPARE(h->maximum(), 21855 - outerWidth + 550);
    QCOMPARE(v->maximum(), 11895 - outerHeight + 750);
    QCOMPARE(v->height(), w.window->height());
    QCOMPARE(v->x() + v->width(), w.window->width());
    QCOMPARE(h->y() + h->height(), w.window->height());
    QCOMPARE(v->singleStep(), 200);
    QCOMPARE(v->pageStep(), 1000);
    QCOMPARE(h->minimum(), 0);

    // Tall enough for the panel, too narrow: only the horizontal bar, and its maximum uses 350.
    w.window->resize(pixels(12000), pixels(12800 - 515));
    QTRY_VERIFY(!v->isVisible() && h->isVisible());
    QCOMPARE(h->width(), w.window->width());
    QCOMPARE(h->maximum(), 21855 - (w.window->width() * 15 + 120) + 350);
}

void TstParamWindow::scrollingMovesThePanel()
{
    ParamWorld w;
    w.window->openWindow();
    auto *prg = w.find<QGroupBox>(QStringLiteral("frm_prg"));
    auto *v = w.find<QScrollBar>(QStringLiteral("VScroll1"));
    auto *h = w.find<QScrollBar>(QStringLiteral("HScroll1"));
    w.window->resize(10, 10);
    QTRY_VERIFY(v->isVisible() && h->isVisible());

    h->setValue(1500);
    QCOMPARE(prg->x(), pixels(125 - 1500));
    v->setValue(3000);
    QCOMPARE(prg->y(), pixels(-3000));
    h->setValue(0);
    QCOMPARE(prg->x(), pixels(125));

    // Back at full size no bar shows and nothing of the panel stays scrolled away.
    w.window->resize(5000, 5000);
    QTRY_VERIFY(!v->isVisible() && !h->isVisible());
    QCOMPARE(prg->pos(), QPoint(pixels(120), pixels(120)));
}

void TstParamWindow::legendShowsTheSevenColours()
{
    ParamWorld w;
    const QList<QPair<QString, QColor>> expected = {
        {"Shape1", QColor(0, 255, 0)},     {"Shape2", QColor(75, 175, 255)},
        {"Shape3", QColor(255, 255, 255)}, {"Shape4", QColor(192, 255, 192)},
        {"Shape5", QColor(255, 128, 128)}, {"Shape6", QColor(255, 255, 128)},
        {"Shape7", QColor(255, 0, 0)}};
    for (const auto &[name, colour] : expected) {
        auto *shape = w.find<QFrame>(name);
        QVERIFY2(shape, qPrintable(name));
        QVERIFY(shape->autoFillBackground());
        QCOMPARE(shape->palette().color(QPalette::Window), colour);
    }
    QCOMPARE(w.find<QLabel>(QStringLiteral("Label31_0"))->text(),
             QStringLiteral("Значение из ЭСППЗУ"));
    QCOMPARE(w.find<QLabel>(QStringLiteral("Label31_6"))->text(),
             QStringLiteral("Значение изменено"));
}

void TstParamWindow::textsFitTheirPlaces()
{
    ParamWorld w;
    int captions = 0;
    for (QLabel *label : w.window->findChildren<QLabel *>()) {
        const QFontMetrics fm(label->font());
        const QString name = label->objectName();
        QRect need;
        if (label->wordWrap())
            need = fm.boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap,
                                   label->text());
        else
            need = QRect(0, 0, fm.horizontalAdvance(label->text()), fm.height());
        QVERIFY2(need.width() <= label->width() && need.height() <= label->height(),
                 qPrintable(QStringLiteral("%1 \"%2\" needs %3x%4 in %5x%6")
                                .arg(name, label->text())
                                .arg(need.width())
                                .arg(need.height())
                                .arg(label->width())
                                .arg(label->height())));
        if (name.startsWith(QLatin1String("lblc_par_")))
            ++captions;
    }
    QCOMPARE(captions, ParamTable::Count - 3);
    for (QPushButton *button : w.window->findChildren<QPushButton *>()) {
        const QFontMetrics fm(button->font());
        const QRect room = button->rect().adjusted(3, 2, -3, -2);
        const QRect need =
            fm.boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, button->text());
        QVERIFY2(room.contains(need), qPrintable(button->objectName()));
    }
}

QTEST_MAIN(TstParamWindow)
#include "tst_paramwindow.moc"
