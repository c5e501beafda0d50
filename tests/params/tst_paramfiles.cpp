#include "params/paramfiles.h"
#include "paramtestsupport.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

const QColor kFromFile(75, 175, 255);
const QColor kNotInFile(255, 255, 128);
const QColor kEqual(192, 255, 192);
const QColor kDiffer(255, 128, 128);

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

// The window with its browser in a temporary folder.
struct FileWorld : ParamWorld {
    QTemporaryDir dir;
    FileWorld()
    {
        browseIn(dir.path());
        window->openWindow();
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    void choose(const QString &name) { find<QLineEdit>(QStringLiteral("Text3"))->setText(name); }
    // Distinct texts of every kind a box can hold.
    void fillBoxes()
    {
        for (int i = 0; i < ParamTable::Count; ++i)
            box(i)->setText(QStringLiteral("%1,%2 ").arg(i * 3).arg(i % 10));
        box(5)->setText(QStringLiteral("-"));
        box(9)->setText(QStringLiteral("abc"));
        box(41)->setText(QStringLiteral("1"));
        box(44)->setText(QStringLiteral("65535 "));
    }
};

} // namespace

class TstParamFiles : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void saveThenLoadGivesBackEveryText();
    void newFileHoldsBothSectionsInIndexOrder();
    void loadingOnlyCalibrationMarksTheRestNotInFile();
    void compareJudgesNumbers();
    void overwriteQuestionAndCancel();
    void savingOverAFileKeepsUnrelatedLines();
    void nameDifferingInCaseIsANewFile();
    void emptyNameOrMissingFile_data();
    void emptyNameOrMissingFile();
    void failedSaveOffersRetryAndChangesNothing();
    void retryAfterTheCauseIsGoneSaves();
};

void TstParamFiles::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TstParamFiles::cleanupTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TstParamFiles::saveThenLoadGivesBackEveryText()
{
    FileWorld w;
    w.fillBoxes();
    QStringList saved;
    for (int i = 0; i < ParamTable::Count; ++i)
        saved << w.box(i)->text();

    w.status->setText(QStringLiteral("Связь с контроллером Вортан установлена"));
    w.choose(QStringLiteral("set1.ini"));
    w.click("cmdSaveFile");
    QVERIFY(w.messages.shown.isEmpty());
    QVERIFY(QFileInfo::exists(w.path("set1.ini")));
    QCOMPARE(w.status->text(), QString());
    for (int i = 0; i < ParamTable::Count; ++i)
        QCOMPARE(baseOf(w.box(i)), kFromFile);
    QVERIFY(!w.find<QListWidget>(QStringLiteral("File2"))
                 ->findItems(QStringLiteral("set1.ini"), Qt::MatchExactly)
                 .isEmpty());

    for (int i = 0; i < ParamTable::Count; ++i)
        w.box(i)->setText(QStringLiteral("0"));
    w.click("cmdReadFile");
    QVERIFY(w.messages.shown.isEmpty());
    QCOMPARE(w.status->text(), QString());
    for (int i = 0; i < ParamTable::Count; ++i) {
        QCOMPARE(w.box(i)->text(), saved.at(i));
        QCOMPARE(baseOf(w.box(i)), kFromFile);
    }
    QCOMPARE(w.window->paramFilePath(), w.path("set1.ini"));
}

void TstParamFiles::newFileHoldsBothSectionsInIndexOrder()
{
    FileWorld w;
    w.choose(QStringLiteral("fresh.ini"));
    w.click("cmdSaveFile");
    const QList<QByteArray> lines = readAll(w.path("fresh.ini")).split('\n');
    QStringList meaningful;
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (!line.isEmpty())
            meaningful << QString::fromUtf8(line);
    }
    QStringList expected{QStringLiteral("[Calibration]")};
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (i == 8)
            expected << QStringLiteral("[Parameters]");
        expected << QStringLiteral("PAR%1=-").arg(i);
    }
    QCOMPARE(meaningful, expected);
}

void TstParamFiles::loadingOnlyCalibrationMarksTheRestNotInFile()
{
    FileWorld w;
    QByteArray content = "[Calibration]\r\n";
    for (int i = 0; i < 8; ++i)
        content += "PAR" + QByteArray::number(i) + "=" + QByteArray::number(1000 + i) + "\r\n";
    QVERIFY(writeFile(w.path("calibr.ini"), content));
    for (int i = 0; i < ParamTable::Count; ++i)
        w.box(i)->setText(QStringLiteral("7"));

    w.choose(QStringLiteral("calibr.ini"));
    w.click("cmdReadFile");
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(w.box(i)->text(), QString::number(1000 + i));
        QCOMPARE(baseOf(w.box(i)), kFromFile);
    }
    for (int i = 8; i < ParamTable::Count; ++i) {
        QCOMPARE(w.box(i)->text(), QStringLiteral("7"));
        QCOMPARE(baseOf(w.box(i)), kNotInFile);
    }
}

void TstParamFiles::compareJudgesNumbers()
{
    FileWorld w;
    QVERIFY(writeFile(w.path("hand.ini"), "[Parameters]\n"
                                          "PAR8=12,5\n"
                                          "PAR9=12,5\n"
                                          "PAR10=12.5\n"
                                          "PAR11=12,5\n"
                                          "PAR12=default\n"
                                          "PAR13=230\n"
                                          "PAR14=abc\n"
                                          "[Calibration]\n"
                                          "PAR0=1\n"));
    for (int i = 0; i < ParamTable::Count; ++i)
        w.box(i)->setText(QStringLiteral("1"));
    w.box(8)->setText(QStringLiteral("12.5"));
    w.box(9)->setText(QStringLiteral("12,5 "));
    w.box(10)->setText(QStringLiteral("12,5 %"));
    w.box(11)->setText(QStringLiteral("12,6 "));
    w.box(12)->setText(QStringLiteral("0"));
    w.box(13)->setText(QStringLiteral("230 "));
    w.box(14)->setText(QStringLiteral("-"));
    QStringList before;
    for (int i = 0; i < ParamTable::Count; ++i)
        before << w.box(i)->text();

    w.choose(QStringLiteral("hand.ini"));
    w.click("cmdCompare");
    QVERIFY(w.messages.shown.isEmpty());
    QCOMPARE(baseOf(w.box(0)), kEqual);
    QCOMPARE(baseOf(w.box(1)), kNotInFile);
    QCOMPARE(baseOf(w.box(8)), kEqual);
    QCOMPARE(baseOf(w.box(9)), kEqual);
    QCOMPARE(baseOf(w.box(10)), kEqual);
    QCOMPARE(baseOf(w.box(11)), kDiffer);
    QCOMPARE(baseOf(w.box(12)), kNotInFile);
    QCOMPARE(baseOf(w.box(13)), kEqual);
    QCOMPARE(baseOf(w.box(14)), kEqual);
    QCOMPARE(baseOf(w.box(15)), kNotInFile);
    for (int i = 0; i < ParamTable::Count; ++i)
        QCOMPARE(w.box(i)->text(), before.at(i));

    // Loading treats the literal "default" as missing too.
    w.click("cmdReadFile");
    QCOMPARE(w.box(12)->text(), QStringLiteral("0"));
    QCOMPARE(baseOf(w.box(12)), kNotInFile);
    QCOMPARE(w.box(8)->text(), QStringLiteral("12,5"));
}

void TstParamFiles::overwriteQuestionAndCancel()
{
    FileWorld w;
    const QByteArray old = "[Parameters]\r\nPAR8=1\r\n";
    QVERIFY(writeFile(w.path("old.ini"), old));
    w.fillBoxes();

    w.choose(QStringLiteral("old.ini"));
    w.messages.answers = {QMessageBox::Cancel};
    w.click("cmdSaveFile");
    QCOMPARE(w.messages.shown.size(), 1);
    const ScriptedMessages::Box &box = w.messages.shown.first();
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.title, QStringLiteral("Создание текстового файла"));
    QCOMPARE(box.text, QStringLiteral("Файл old.ini уже существует!\r\nЗаменить его?"));
    QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(readAll(w.path("old.ini")), old);
    QCOMPARE(w.status->text(), QString());
    QVERIFY(baseOf(w.box(8)) != kFromFile);

    w.messages.answers = {QMessageBox::Ok};
    w.click("cmdSaveFile");
    QCOMPARE(w.messages.shown.size(), 2);
    QVERIFY(readAll(w.path("old.ini")) != old);
    QCOMPARE(baseOf(w.box(8)), kFromFile);
}

void TstParamFiles::savingOverAFileKeepsUnrelatedLines()
{
    FileWorld w;
    const QByteArray head = "; written by hand\r\n[Site]\r\nName=ДГУ-2\r\nSerial=0815\r\n\r\n";
    const QByteArray tail = "[Notes]\r\nText=keep me\r\n";
    QVERIFY(writeFile(w.path("site.ini"),
                      head + "[Parameters]\r\nPAR8=old\r\nOwner=service\r\n\r\n" + tail));
    w.fillBoxes();
    w.choose(QStringLiteral("site.ini"));
    w.messages.answers = {QMessageBox::Ok};
    w.click("cmdSaveFile");

    const QByteArray now = readAll(w.path("site.ini"));
    QVERIFY2(now.startsWith(head), now.constData());
    QVERIFY(now.contains("\r\n" + tail) || now.contains(tail));
    QVERIFY(now.contains("Owner=service\r\n"));
    QVERIFY(!now.contains("PAR8=old"));

    for (int i = 0; i < ParamTable::Count; ++i)
        w.box(i)->setText(QStringLiteral("x"));
    w.click("cmdReadFile");
    QCOMPARE(w.box(8)->text(), QStringLiteral("24,8 "));
    QCOMPARE(w.box(3)->text(), QStringLiteral("9,3 "));
}

void TstParamFiles::nameDifferingInCaseIsANewFile()
{
    FileWorld w;
    QVERIFY(writeFile(w.path("Set.ini"), "[Parameters]\nPAR8=1\n"));
    w.choose(QStringLiteral("set.ini"));
    w.click("cmdSaveFile");
    QVERIFY(w.messages.shown.isEmpty());
    QCOMPARE(baseOf(w.box(0)), kFromFile);
}

void TstParamFiles::emptyNameOrMissingFile_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("statusAfter");
    QTest::newRow("save, no name") << "cmdSaveFile"
                                   << ""
                                   << "Невозможно открыть файл  для записи"
                                   << "Сохранение файла ";
    QTest::newRow("load, no name") << "cmdReadFile"
                                   << ""
                                   << "Невозможно открыть файл  для чтения"
                                   << "";
    QTest::newRow("load, no such file") << "cmdReadFile"
                                        << "none.ini"
                                        << "Невозможно открыть файл none.ini для чтения"
                                        << "";
    QTest::newRow("compare, no such file") << "cmdCompare"
                                           << "none.ini"
                                           << "Невозможно открыть файл none.ini для чтения"
                                           << "";
    QTest::newRow("load, a folder") << "cmdReadFile"
                                    << "sub"
                                    << "Невозможно открыть файл sub для чтения"
                                    << "";
}

void TstParamFiles::emptyNameOrMissingFile()
{
    QFETCH(QString, button);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, statusAfter);
    FileWorld w;
    QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("sub")));
    w.fillBoxes();
    w.status->setText(QStringLiteral("Связь с контроллером Вортан установлена"));
    w.choose(name);
    w.click(button.toLatin1().constData());
    QCOMPARE(w.messages.shown.size(), 1);
    const ScriptedMessages::Box &box = w.messages.shown.first();
    QCOMPARE(box.text, text);
    QCOMPARE(box.title, QStringLiteral("Ошибка открытия файла"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(w.status->text(), statusAfter);
    QCOMPARE(w.box(9)->text(), QStringLiteral("abc"));
    QVERIFY(baseOf(w.box(9)) != kFromFile);
    QCOMPARE(QDir(w.dir.path()).entryList(QDir::Files), QStringList());
}

void TstParamFiles::failedSaveOffersRetryAndChangesNothing()
{
    FileWorld w;
    QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("sub")));
    w.fillBoxes();
    w.choose(QStringLiteral("sub/missing/set.ini"));
    w.messages.answers = {QMessageBox::Retry, QMessageBox::Cancel};
    w.click("cmdSaveFile");
    QCOMPARE(w.messages.shown.size(), 2);
    for (const ScriptedMessages::Box &box : std::as_const(w.messages.shown)) {
        QCOMPARE(box.text,
                 QStringLiteral("Невозможно открыть файл sub/missing/set.ini для записи"));
        QCOMPARE(box.buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QCOMPARE(box.icon, QMessageBox::Critical);
    }
    QCOMPARE(w.status->text(), QString());
    for (int i = 0; i < ParamTable::Count; ++i)
        QVERIFY(baseOf(w.box(i)) != kFromFile);
}

void TstParamFiles::retryAfterTheCauseIsGoneSaves()
{
    // The engineer fixes the cause (here: the folder appears) while the Retry box is up.
    struct FixingMessages : ScriptedMessages {
        std::function<void()> fix;
        QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon,
                                        const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons) override
        {
            if (fix)
                fix();
            return ScriptedMessages::ask(parent, icon, title, text, buttons);
        }
    };
    QTemporaryDir dir;
    QWidget owner;
    QLabel status(&owner);
    RequestQueue queue;
    FixingMessages messages;
    ParamWindow window(queue, &status, messages, &owner);
    window.fileBrowser().setVolumeSource([&] { return QVector<Volume>{{dir.path(), {}}}; });
    window.fileBrowser().start(dir.path());
    window.openWindow();
    messages.fix = [&] { QDir(dir.path()).mkdir(QStringLiteral("later")); };
    messages.answers = {QMessageBox::Retry};

    window.findChild<QLineEdit *>(QStringLiteral("Text3"))
        ->setText(QStringLiteral("later/set.ini"));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdSaveFile")),
                      Qt::LeftButton);
    QCOMPARE(messages.shown.size(), 1);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("later/set.ini"))).isFile());
    QCOMPARE(
        window.findChild<QLineEdit *>(QStringLiteral("txt_par_0"))->palette().color(QPalette::Base),
        kFromFile);
}

QTEST_MAIN(TstParamFiles)
#include "tst_paramfiles.moc"
