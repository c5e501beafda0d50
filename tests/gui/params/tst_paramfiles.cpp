#include "params/paramfiles.h"
#include "paramtestsupport.h"

#include <QListWidget>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

const QColor kFromFile(75, 175, 255);
const QColor kNotInFile(255, 255, 128);
const QColor kEqual(192, 255, 192);
const QColor kDiffer(255, 128, 128);

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

class TstParamFiles : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    void saveThenLoadGivesBackEveryText()
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

        QStringList keys; // sections and keys as written, in order
        for (const QString &line : QString::fromLatin1(w.contents("set1.ini")).split('\n'))
            keys << line.trimmed().section('=', 0, 0);
        keys.removeAll(QString());
        QStringList expected{QStringLiteral("[Calibration]")};
        for (int i = 0; i < ParamTable::Count; ++i)
            expected << (i == 8 ? QStringLiteral("[Parameters] PAR8")
                                : QStringLiteral("PAR%1").arg(i));
        QCOMPARE(keys.join(' '), expected.join(' '));

        w.setAllBoxes(QStringLiteral("0"));
        w.click("cmdReadFile");
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(w.status->text(), QString());
        QCOMPARE(w.texts(), saved);
        QVERIFY(w.allColoured(kFromFile));
        QCOMPARE(w.window->paramFilePath(), w.path("set1.ini"));
    }

    void loadingOnlyCalibrationMarksTheRestNotInFile()
    {
        FileWorld w;
        QByteArray content = "[Calibration]\r\n";
        for (int i = 0; i < 8; ++i)
            content += "PAR" + QByteArray::number(i) + "=" + QByteArray::number(1000 + i) + "\r\n";
        w.write("calibr.ini", content);
        w.setAllBoxes(QStringLiteral("7"));
        w.run("cmdReadFile", QStringLiteral("calibr.ini"));
        for (int i = 0; i < ParamTable::Count; ++i) {
            QCOMPARE(w.box(i)->text(), QString::number(i < 8 ? 1000 + i : 7));
            QCOMPARE(baseOf(w.box(i)), i < 8 ? kFromFile : kNotInFile);
        }
    }

    void compareJudgesNumbers()
    {
        FileWorld w;
        // Box index, box text, file line (none: not in the file), colour after the compare.
        const QList<std::tuple<int, const char *, const char *, QColor>> cases = {
            {0, "1", "PAR0=1", kEqual},
            {1, "1", nullptr, kNotInFile},
            {8, "12.5", "PAR8=12,5", kEqual},
            {9, "12,5 ", "PAR9=12,5", kEqual},
            {10, "12,5 %", "PAR10=12.5", kEqual},
            {11, "12,6 ", "PAR11=12,5", kDiffer},
            {12, "0", "PAR12=default", kNotInFile},
            {13, "230 ", "PAR13=230", kEqual},
            {14, "-", "PAR14=abc", kEqual},
        };
        QByteArray calibration = "[Calibration]\n", parameters = "[Parameters]\n";
        for (const auto &[i, text, line, colour] : cases) {
            w.box(i)->setText(QString::fromUtf8(text));
            if (line)
                (i < 8 ? calibration : parameters) += QByteArray(line) + '\n';
        }
        w.write("hand.ini", parameters + calibration);
        const QStringList before = w.texts();
        w.run("cmdCompare", QStringLiteral("hand.ini"));
        QVERIFY(w.messages.shown.isEmpty());
        for (const auto &[i, text, line, colour] : cases)
            QVERIFY2(baseOf(w.box(i)) == colour, text);
        QCOMPARE(w.texts(), before);

        w.click("cmdReadFile");
        QCOMPARE(w.box(12)->text(), QStringLiteral("0"));
        QCOMPARE(baseOf(w.box(12)), kNotInFile);
        QCOMPARE(w.box(8)->text(), QStringLiteral("12,5"));
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

QTEST_MAIN(TstParamFiles)
#include "tst_paramfiles.moc"
