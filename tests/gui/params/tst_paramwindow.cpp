#include "format/formatting.h"
#include "modbus/exchangecycle.h"
#include "params/paramlayout.h"
#include "paramtestsupport.h"

#include "fakeseriallink.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QScrollBar>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 255, 0);

int pixels(int twips)
{
    return paramlayout::TwipsToPixels(twips);
}

// The opened window on a live exchange cycle, with a controller answering from its memory.
struct Bench : ParamWorld, CycleHost {
    RxBuffer rx;
    FakeSerialLink link;
    FakeParamMemory memory;
    AlternatingPoll poll{[] { return ControlState{}; }};
    ExchangeCycle cycle{queue, rx, link, *this, poll};

    Bench()
    {
        link.open();
        for (int a = 0; a < int(memory.bytes.size()); ++a)
            memory.bytes[size_t(a)] = quint8((a * 29 + 7) & 0xFF);
        window->openWindow();
    }
    void setStatusText(const QString &) override {}
    void decodeReply() override { window->ApplyParamReply(rx); }
    int slaveAddress() const override { return 1; }

    // Runs ticks; the controller answers each frame before the next tick.
    void serve(int ticks)
    {
        for (int t = 0; t < ticks; ++t) {
            const int before = int(link.written.size());
            cycle.ExchangeTick();
            if (int(link.written.size()) == before)
                continue;
            const QByteArray reply = memory.answer(link.written.last());
            link.feed(reply.isEmpty() ? withCrc(link.written.last().left(2) + '\0') : reply);
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
    QByteArray lastQueued() const { return slotBytes(queue.slotAt(queue.writeIndex() - 1)); }
};

} // namespace

class TstParamWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    void openingReadsEveryParameterAndRepliesFillTheBoxes()
    {
        Bench b;
        QCOMPARE(b.queue.waiting(), 20);
        for (int i = 0; i < ParamTable::Count; ++i)
            QCOMPARE(b.box(i)->text(), QStringLiteral("-"));

        b.serve(21);
        const QList<QByteArray> reads = b.framesOf(FnParamRead);
        QCOMPARE(reads.first(), withCrc(bytes({0x01, 0x64, 0x00, 0x00, 0x31})));
        QStringList runs; // address:bytes of each read, in the order sent
        for (const QByteArray &r : reads)
            runs
                << QStringLiteral("%1:%2").arg(quint8(r[2]) * 256 + quint8(r[3])).arg(quint8(r[4]));
        QCOMPARE(runs.join(' '), QStringLiteral("0:49 75:2 49:3 77:2 52:10 79:1 63:12 80:5 107:1 "
                                                "88:2 140:4 94:10 85:2 104:3 108:21 131:4 129:2 "
                                                "144:2 90:2 146:1"));
        const ParamTable &table = b.window->paramTable();
        for (int i = 0; i < ParamTable::Count; ++i) {
            const QString text = b.box(i)->text();
            const quint8 *at = b.memory.bytes.data() + table.Address(i);
            const int raw = table.Width(i) == 2 ? at[0] * 256 + at[1] : at[0];
            const QByteArray where = QByteArray::number(i) + ": " + text.toUtf8();
            QVERIFY2(baseOf(b.box(i)) == kGreen, where);
            QVERIFY2(text.endsWith(' ') && !text.contains('.'), where);
            QVERIFY2(qAbs(ParseNumber(text) - raw * table.Scale(i)) < 0.006, where);
        }
    }

    void enterWritesTheBoxAndWhitensIt()
    {
        Bench b;
        b.serve(21);
        QLineEdit *box = b.box(40);
        box->setText(QStringLiteral("12,6"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(b.lastQueued(), bytes({0, 101, 0, 54, 1, 13}));
        QCOMPARE(box->text(), QStringLiteral("12,6"));

        b.serve(2);
        QCOMPARE(b.memory.bytes[54], quint8(13));
        QCOMPARE(box->text(), QStringLiteral("13 "));
        QCOMPARE(baseOf(box), kGreen);
        QTest::keyClick(box, Qt::Key_Enter);
        QCOMPARE(baseOf(box), kWhite);
        QCOMPARE(b.lastQueued(), bytes({0, 101, 0, 54, 1, 13}));
    }

    void unreadBoxesAreNotWritten()
    {
        ParamWorld w;
        w.window->openWindow();
        QTest::keyClick(w.box(41), Qt::Key_Enter);
        QVERIFY(w.status->text().contains(QStringLiteral("«Адрес устр. Modbus»")));
        w.box(104)->setText(QStringLiteral("x"));
        QTest::keyClick(w.box(104), Qt::Key_Return);
        QVERIFY(w.status->text().contains(QStringLiteral("поле 3")));

        w.click("cmd_writeall");
        QCOMPARE(w.messages.shown.size(), 1);
        const ScriptedMessages::Box &box = w.messages.shown.first();
        QCOMPARE(box.title, QStringLiteral("Ошибка записи в ЭСППЗУ"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(box.text.contains(QStringLiteral(": 111\r\n«UA (секц)»")));
        QVERIFY(box.text.contains("«UC»") && !box.text.contains(QStringLiteral("«IA»")));

        // One box left without a number still stops the whole set.
        w.setAllBoxes(QStringLiteral("1"));
        w.box(57)->setText(QStringLiteral("-"));
        w.click("cmd_writeall");
        QVERIFY(w.messages.shown.last().text.contains(QStringLiteral(": 1\r\n«М. расш.")));
        QCOMPARE(w.queue.waiting(), 20);
    }

    void writeAllAfterAReadSendsTheEditedSet()
    {
        Bench b;
        b.serve(21);
        b.box(8)->selectAll();
        QTest::keyClicks(b.box(8), QStringLiteral("250,4"));
        b.box(41)->selectAll();
        QTest::keyClicks(b.box(41), QStringLiteral("7"));
        std::array<quint8, 147> expected = b.memory.bytes;
        expected[16] = 2504 >> 8;
        expected[17] = 2504 & 0xFF;
        expected[55] = 7;

        b.click("cmd_writeall");
        QVERIFY(b.allColoured(kWhite));
        b.link.written.clear();
        b.serve(24);
        // Every run goes out before the device address, which travels alone and last.
        const QList<QByteArray> writes = b.framesOf(FnParamWrite);
        QCOMPARE(writes.size(), 22);
        QCOMPARE(writes.last(), withCrc(bytes({0x01, 0x65, 0x00, 55, 1, 7})));
        QCOMPARE(b.memory.bytes, expected);
        QVERIFY(b.allColoured(kGreen));
        QCOMPARE(b.box(8)->text(), QStringLiteral("250,4 "));
    }

    void writeAllWithAFullRingQueuesNothing()
    {
        ParamWorld w;
        w.window->openWindow();
        w.setAllBoxes(QStringLiteral("3"));
        while (w.queue.waiting() < 495)
            w.queue.enqueue(StatusPollRequest());
        w.click("cmd_writeall");
        w.click("cmd_readall");
        QCOMPARE(w.queue.waiting(), 495);
        QCOMPARE(w.messages.shown.size(), 2);
        QVERIFY(w.messages.shown.first().text.contains(QStringLiteral("Очередь запросов")));
    }

    void typingAndReadAllWhitenTheBoxes()
    {
        Bench b;
        b.serve(21);
        b.box(110)->setFocus();
        QTest::keyClick(b.box(110), Qt::Key_Backspace);
        QCOMPARE(baseOf(b.box(110)), kWhite);
        QCOMPARE(baseOf(b.box(109)), kGreen);

        b.click("cmd_readall");
        QCOMPARE(b.queue.waiting(), 21);
        QVERIFY(b.allColoured(kWhite));
    }

    void repliesOnlyWhileOpenAndReopeningStartsAfresh()
    {
        ParamWorld w;
        const QColor untouched = baseOf(w.box(0));
        const RxBuffer reply = ParamReply(100, 0, 2, bytes({0x09, 0x01}));
        w.window->ApplyParamReply(reply);
        QCOMPARE(w.box(0)->text(), QStringLiteral("-"));
        w.window->openWindow();
        w.window->ApplyParamReply(reply);
        w.window->openWindow(); // already open: only raised
        QCOMPARE(w.queue.waiting(), 20);
        QCOMPARE(w.box(0)->text(), QStringLiteral("230,5 "));

        w.window->close();
        w.window->ApplyParamReply(ParamReply(100, 0, 2, bytes({0, 1})));
        QCOMPARE(w.box(0)->text(), QStringLiteral("230,5 "));
        QCOMPARE(baseOf(w.box(0)), kGreen);
        w.window->openWindow();
        QCOMPARE(w.queue.waiting(), 40);
        QCOMPARE(w.box(0)->text(), QStringLiteral("-"));
        QCOMPARE(baseOf(w.box(0)), untouched);
    }

    void sizeLimitsScrollBarsAndScrolling()
    {
        ParamWorld w;
        w.window->openWindow();
        auto *v = w.find<QScrollBar>(QStringLiteral("VScroll1"));
        auto *h = w.find<QScrollBar>(QStringLiteral("HScroll1"));
        auto *prg = w.find<QGroupBox>(QStringLiteral("frm_prg"));

        w.window->resize(10, 10);
        QTRY_COMPARE(w.window->size(), QSize(pixels(7000 - 120), pixels(4000 - 515)));
        QTRY_VERIFY(v->isVisible() && h->isVisible());
        QCOMPARE(h->width(), w.window->width() - v->width());
        QCOMPARE(h->maximum(), 21855 - (w.window->width() * 15 + 120) + 550);
        QCOMPARE(v->maximum(), 11895 - (w.window->height() * 15 + 515) + 750);
        QCOMPARE(v->singleStep(), 200);
        QCOMPARE(v->pageStep(), 1000);
        h->setValue(1500);
        v->setValue(3000);
        QCOMPARE(prg->pos(), QPoint(pixels(125 - 1500), pixels(-3000)));
        h->setValue(0);
        QCOMPARE(prg->x(), pixels(125));

        // Tall enough for the panel, too narrow: only the horizontal bar; its maximum uses 350.
        w.window->resize(pixels(12000), pixels(12800 - 515));
        QTRY_VERIFY(!v->isVisible() && h->isVisible());
        QCOMPARE(h->width(), w.window->width());
        QCOMPARE(h->maximum(), 21855 - (w.window->width() * 15 + 120) + 350);

        // Snapped back to full size no bar shows and nothing of the panel stays scrolled away.
        w.window->resize(5000, 5000);
        QTRY_COMPARE(w.window->size(), QSize(pixels(22485 - 120), pixels(12800 - 515)));
        QTRY_VERIFY(!v->isVisible() && !h->isVisible());
        QCOMPARE(prg->pos(), QPoint(pixels(120), pixels(120)));
    }

    void legendShowsTheSevenColours()
    {
        ParamWorld w;
        QStringList colours;
        for (int k = 1; k <= 7; ++k) {
            const auto *shape = w.find<QFrame>(QStringLiteral("Shape%1").arg(k));
            QVERIFY(shape->autoFillBackground());
            colours << shape->palette().color(QPalette::Window).name();
        }
        QCOMPARE(colours.join(' '), QStringLiteral("#00ff00 #4bafff #ffffff #c0ffc0 #ff8080 "
                                                   "#ffff80 #ff0000"));
    }

    void textsFitTheirPlaces()
    {
        ParamWorld w;
        int captions = 0;
        for (QLabel *label : w.window->findChildren<QLabel *>()) {
            const QFontMetrics fm(label->font());
            const QRect need = label->wordWrap()
                                   ? fm.boundingRect(QRect(0, 0, label->width(), 10000),
                                                     Qt::TextWordWrap, label->text())
                                   : QRect(0, 0, fm.horizontalAdvance(label->text()), fm.height());
            QVERIFY2(need.width() <= label->width() && need.height() <= label->height(),
                     qPrintable(label->objectName() + ": " + label->text()));
            captions += label->objectName().startsWith(QLatin1String("lblc_par_"));
        }
        QCOMPARE(captions, ParamTable::Count - 3);
        for (QPushButton *button : w.window->findChildren<QPushButton *>()) {
            const QRect room = button->rect().adjusted(3, 2, -3, -2);
            const QRect need =
                QFontMetrics(button->font())
                    .boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap, button->text());
            QVERIFY2(room.contains(need), qPrintable(button->objectName()));
        }
    }
};

QTEST_MAIN(TstParamWindow)
#include "tst_paramwindow.moc"
