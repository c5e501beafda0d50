#include "paramtestsupport.h"

#include <QGroupBox>
#include <QListWidget>
#include <QScrollBar>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 255, 0);
const QColor kFromFile(75, 175, 255);
const QColor kNotInFile(255, 255, 128);
const QColor kEqual(192, 255, 192);
const QColor kDiffer(255, 128, 128);

QByteArray lastQueued(const RequestQueue &queue)
{
    return slotBytes(queue.slotAt(queue.writeIndex() - 1));
}

// The opened window with its browser in a temporary folder.
struct FileWorld : ParamWorld {
    QTemporaryDir dir;
    FileWorld()
    {
        browseIn(dir.path());
        window->openWindow();
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QByteArray contents(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QString &name, const QByteArray &content)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    }
    // Chooses the file name and runs one of the file commands.
    void run(const char *button, const QString &name)
    {
        find<QLineEdit>(QStringLiteral("Text3"))->setText(name);
        click(button);
    }
    // Distinct texts of every kind a box can hold.
    void fillBoxes()
    {
        for (int i = 0; i < ParamTable::Count; ++i)
            box(i)->setText(QStringLiteral("%1,%2 ").arg(i * 3).arg(i % 10));
        box(5)->setText(QStringLiteral("-"));
        box(9)->setText(QStringLiteral("abc"));
    }
    QStringList texts() const
    {
        QStringList out;
        for (int i = 0; i < ParamTable::Count; ++i)
            out << box(i)->text();
        return out;
    }
};

} // namespace

class TstParamWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    // Opening reads the whole set; the boxes show the set's replies, and opening a closed
    // window again starts afresh.
    void openingReadsAndRepliesFillTheBoxes()
    {
        ParamWorld w;
        const QColor untouched = baseOf(w.box(0));
        const RxBuffer reply = ParamReply(100, 0, 4, bytes({0x09, 0x01, 0x08, 0xFC}));
        w.window->openWindow();
        QCOMPARE(slotBytes(w.queue.inFlight()), bytes({0, 100, 0, 0, 49}));
        w.set.applyReply(reply);
        w.window->openWindow(); // already open: only raised
        QCOMPARE(w.queue.waiting(), 20);
        QCOMPARE(w.box(0)->text(), QStringLiteral("230,5 "));
        QCOMPARE(w.box(1)->text(), QStringLiteral("230 "));
        QCOMPARE(baseOf(w.box(1)), kGreen);
        QCOMPARE(baseOf(w.box(2)), untouched);

        w.window->close();
        w.set.applyReply(ParamReply(100, 0, 2, bytes({0, 1})));
        QCOMPARE(w.box(0)->text(), QStringLiteral("0,1 "));
        w.window->openWindow();
        QCOMPARE(w.queue.waiting(), 40);
        QCOMPARE(w.box(0)->text(), QStringLiteral("-"));
        QCOMPARE(baseOf(w.box(0)), untouched);
    }

    // Typing whitens a box, Enter writes it, the echo turns it green; read-all whitens all.
    void enterWritesTheBoxAndTheEchoGreensIt()
    {
        ParamWorld w;
        w.window->openWindow();
        w.set.applyReply(ParamReply(100, 52, 3, bytes({10, 11, 12})));
        QLineEdit *box = w.box(40);
        QCOMPARE(box->text(), QStringLiteral("12 "));
        QCOMPARE(baseOf(box), kGreen);
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("12,6"));
        QCOMPARE(baseOf(box), kWhite);
        QCOMPARE(baseOf(w.box(39)), kGreen);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(lastQueued(w.queue), bytes({0, 101, 0, 54, 1, 13}));
        QCOMPARE(box->text(), QStringLiteral("12,6"));
        w.set.applyReply(ParamReply(101, 54, 1, bytes({13})));
        QCOMPARE(box->text(), QStringLiteral("13 "));
        QCOMPARE(baseOf(box), kGreen);

        w.click("cmd_readall");
        QCOMPARE(w.queue.waiting(), 41);
        QVERIFY(w.allColoured(kWhite));
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

        w.box(57)->setText(QStringLiteral("2"));
        w.click("cmd_writeall");
        QCOMPARE(w.messages.shown.size(), 2);
        QCOMPARE(w.queue.waiting(), 20 + 22);
        QCOMPARE(lastQueued(w.queue), bytes({0, 101, 0, 55, 1, 1}));
        QVERIFY(w.allColoured(kWhite));
    }

    void fullRingQueuesNothing()
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

    // Too small a window scrolls the panel; back at full size nothing of it stays hidden.
    void scrollBarsOnlyWhenTooSmall()
    {
        ParamWorld w;
        w.window->openWindow();
        auto *v = w.find<QScrollBar>(QStringLiteral("VScroll1"));
        auto *h = w.find<QScrollBar>(QStringLiteral("HScroll1"));
        auto *prg = w.find<QGroupBox>(QStringLiteral("frm_prg"));
        const QPoint home = prg->pos();
        w.window->resize(10, 10);
        QTRY_VERIFY(v->isVisible() && h->isVisible());
        h->setValue(h->maximum());
        v->setValue(v->maximum());
        QVERIFY(prg->x() < home.x() && prg->y() < home.y());
        w.window->resize(5000, 5000);
        QTRY_VERIFY(!v->isVisible() && !h->isVisible());
        QCOMPARE(prg->pos(), home);
    }

    // The file commands colour the boxes: saved and loaded blue, compared equal or different,
    // not in the file yellow; saving clears the status line.
    void saveCompareAndLoad()
    {
        FileWorld w;
        w.fillBoxes();
        const QStringList saved = w.texts();
        w.status->setText(QStringLiteral("Связь с контроллером Вортан установлена"));
        w.run("cmdSaveFile", QStringLiteral("set1.ini"));
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(w.status->text(), QString());
        QVERIFY(w.allColoured(kFromFile));
        QVERIFY(!w.find<QListWidget>(QStringLiteral("File2"))->findItems("set1.ini", {}).isEmpty());

        w.box(9)->setText(QStringLiteral("12"));
        w.box(10)->setText(saved.at(10).trimmed());
        w.click("cmdCompare");
        QCOMPARE(baseOf(w.box(9)), kDiffer);
        QCOMPARE(baseOf(w.box(10)), kEqual);
        QVERIFY(w.messages.shown.isEmpty());

        w.write("calibr.ini", "[Calibration]\r\nPAR0=1000\r\n");
        w.run("cmdReadFile", QStringLiteral("calibr.ini"));
        QCOMPARE(w.box(0)->text(), QStringLiteral("1000"));
        QCOMPARE(baseOf(w.box(0)), kFromFile);
        QCOMPARE(w.box(9)->text(), QStringLiteral("12"));
        QCOMPARE(baseOf(w.box(9)), kNotInFile);

        QCOMPARE(w.window->paramFilePath(), w.path("calibr.ini"));
    }

    void overwriteQuestionCancelAndUnrelatedLinesKept()
    {
        FileWorld w;
        const QByteArray head = "; written by hand\r\n[Site]\r\nName=ДГУ-2\r\n\r\n";
        const QByteArray tail = "[Notes]\r\nText=keep me\r\n";
        const QByteArray old = head + "[Parameters]\r\nPAR8=old\r\nOwner=service\r\n\r\n" + tail;
        w.write("site.ini", old);
        w.fillBoxes();
        w.messages.answers = {QMessageBox::Cancel, QMessageBox::Ok};
        w.run("cmdSaveFile", QStringLiteral("site.ini"));
        QCOMPARE(w.messages.shown.size(), 1);
        const ScriptedMessages::Box &box = w.messages.shown.first();
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.title, QStringLiteral("Создание текстового файла"));
        QCOMPARE(box.text, QStringLiteral("Файл site.ini уже существует!\r\nЗаменить его?"));
        QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(w.contents("site.ini"), old);
        QCOMPARE(w.status->text(), QString());
        QVERIFY(baseOf(w.box(8)) != kFromFile);

        w.click("cmdSaveFile");
        const QByteArray now = w.contents("site.ini");
        QVERIFY2(now.startsWith(head) && now.contains(tail), now.constData());
        QVERIFY(now.contains("Owner=service\r\n") && !now.contains("PAR8=old"));
        w.setAllBoxes(QStringLiteral("x"));
        w.click("cmdReadFile");
        QCOMPARE(w.box(8)->text(), QStringLiteral("24,8 "));
    }

    void nameDifferingInCaseIsANewFile()
    {
        FileWorld w;
        w.write("Set.ini", "[Parameters]\nPAR8=1\n");
        w.run("cmdSaveFile", QStringLiteral("set.ini"));
        QVERIFY(w.messages.shown.isEmpty());
        QVERIFY(w.allColoured(kFromFile));
    }

    void emptyNameOrMissingFile_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("statusAfter");
        const auto row = [](const char *what, const char *button, const char *name,
                            const char *text, const char *statusAfter) {
            QTest::newRow(what) << button << name << text << statusAfter;
        };
        row("save, no name", "cmdSaveFile", "", "Невозможно открыть файл  для записи",
            "Сохранение файла ");
        row("load, no name", "cmdReadFile", "", "Невозможно открыть файл  для чтения", "");
        row("compare, no such file", "cmdCompare", "none.ini",
            "Невозможно открыть файл none.ini для чтения", "");
        row("load, a folder", "cmdReadFile", "sub", "Невозможно открыть файл sub для чтения", "");
    }

    void emptyNameOrMissingFile()
    {
        QFETCH(QString, button);
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, statusAfter);
        FileWorld w;
        QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("sub")));
        w.fillBoxes();
        const QStringList before = w.texts();
        w.status->setText(QStringLiteral("Связь с контроллером Вортан установлена"));
        w.run(button.toLatin1().constData(), name);
        QCOMPARE(w.messages.shown.size(), 1);
        const ScriptedMessages::Box &box = w.messages.shown.first();
        QCOMPARE(box.text, text);
        QCOMPARE(box.title, QStringLiteral("Ошибка открытия файла"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(w.status->text(), statusAfter);
        QCOMPARE(w.texts(), before);
        QVERIFY(!w.allColoured(kFromFile));
        QCOMPARE(QDir(w.dir.path()).entryList(QDir::Files), QStringList());
    }

    void failedSaveOffersRetry()
    {
        FileWorld w;
        w.fillBoxes();
        w.messages.answers = {QMessageBox::Retry, QMessageBox::Cancel};
        w.run("cmdSaveFile", QStringLiteral("later/set.ini"));
        QCOMPARE(w.messages.shown.size(), 2);
        for (const ScriptedMessages::Box &box : std::as_const(w.messages.shown)) {
            QCOMPARE(box.text, QStringLiteral("Невозможно открыть файл later/set.ini для записи"));
            QCOMPARE(box.buttons, QMessageBox::Retry | QMessageBox::Cancel);
        }
        QCOMPARE(w.status->text(), QString());
        QVERIFY(!w.allColoured(kFromFile));

        // The engineer fixes the cause (the folder appears) while the Retry box is up.
        w.messages.beforeAnswer = [&] { QDir(w.dir.path()).mkdir(QStringLiteral("later")); };
        w.messages.answers = {QMessageBox::Retry};
        w.click("cmdSaveFile");
        QCOMPARE(w.messages.shown.size(), 3);
        QVERIFY(QFileInfo(w.path("later/set.ini")).isFile());
        QVERIFY(w.allColoured(kFromFile));
    }
};

QTEST_MAIN(TstParamWindow)
#include "tst_paramwindow.moc"
