#include "config/appconfig.h"
#include "config/inifile.h"
#include "scriptedmessages.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

using vortan::AppConfig;
using vortan::ReadIniValue;
using vortan::test::ScriptedMessages;

namespace
{

const QString LoadText = QStringLiteral("Ошибка открытия файла тп.ini для чтения\r\n");
const QString SaveText = QStringLiteral("Ошибка открытия файла тп.ini для записи");
const QString Title = QStringLiteral("Ошибка открытия файла ");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Records the text of lbl_sys_mes at every paint, i.e. what the operator could see.
class PaintedTexts : public QObject
{
public:
    explicit PaintedTexts(QLabel *label) : m_label(label) { label->installEventFilter(this); }
    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_label && event->type() == QEvent::Paint)
            texts.append(m_label->text());
        return false;
    }

private:
    QLabel *m_label;
};

// Answers the read-error box with Retry after putting `fixed` into the file, as an operator who
// corrected the file in an editor would.
class FixingMessages : public ScriptedMessages
{
public:
    QString path;
    QByteArray fixed;
    QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                    const QString &text,
                                    QMessageBox::StandardButtons buttons) override
    {
        ScriptedMessages::ask(parent, icon, title, text, buttons);
        writeFile(path, fixed);
        return QMessageBox::Retry;
    }
};

} // namespace

class TestAppConfig : public QObject
{
    Q_OBJECT

    struct World {
        QTemporaryDir dir;
        quint8 portNumber = 77;
        ScriptedMessages messages;
        QWidget window;
        QLabel *status = new QLabel(&window);
        QComboBox *slaves = new QComboBox(&window);
        AppConfig config{dir.path(), portNumber, messages, status, slaves, &window};
        World()
        {
            status->setObjectName(QStringLiteral("lbl_sys_mes"));
            status->setText(QStringLiteral("-"));
            slaves->setObjectName(QStringLiteral("cmb_slad"));
        }
        QString file() const { return config.filePath(); }
    };

private slots:
    void firstStartCreatesFile()
    {
        World w;
        QVERIFY(w.dir.isValid());
        QVERIFY(!QFile::exists(w.file()));
        w.config.LoadConfig();
        QCOMPARE(w.portNumber, quint8(1));
        QVERIFY(QFile::exists(w.file()));
        QCOMPARE(QFileInfo(w.file()).fileName(), QStringLiteral("тп.ini"));
        QCOMPARE(ReadIniValue(w.file(), QStringLiteral("PC config"), QStringLiteral("COM"), "x"),
                 QStringLiteral("1"));
        QCOMPARE(
            ReadIniValue(w.file(), QStringLiteral("VRT config"), QStringLiteral("MBSLAD"), "x"),
            QStringLiteral("-1"));
        QCOMPARE(w.status->text(), QString());
        QVERIFY(w.messages.shown.isEmpty());
    }

    void readsPortAndLeavesFileAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("port");
        QTest::newRow("COM 5") << QByteArray("[PC config]\r\nCOM=5\r\n[VRT config]\r\nMBSLAD=9\r\n")
                               << 5;
        QTest::newRow("COM 0 loads, fails later at opening")
            << QByteArray("[PC config]\nCOM=0\n") << 0;
        QTest::newRow("COM 255 largest") << QByteArray("[PC config]\r\nCOM=255\r\n") << 255;
        QTest::newRow("blanks around the value")
            << QByteArray("[PC config]\r\nCOM =  12 \r\n") << 12;
        QTest::newRow("key missing") << QByteArray("[PC config]\r\nBAUD=9600\r\n") << 1;
        QTest::newRow("section missing") << QByteArray("[Other]\r\nCOM=9\r\n") << 1;
        QTest::newRow("empty file") << QByteArray() << 1;
    }

    void readsPortAndLeavesFileAlone()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, port);
        World w;
        QVERIFY(writeFile(w.file(), content));
        w.config.LoadConfig();
        QCOMPARE(int(w.portNumber), port);
        QCOMPARE(readFile(w.file()), content);
        QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(w.status->text(), QString());
    }

    void badPortValueAsksAndCancelKeepsOne_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("letters") << QByteArray("abc");
        QTest::newRow("negative") << QByteArray("-1");
        QTest::newRow("above a byte") << QByteArray("300");
        QTest::newRow("just above a byte") << QByteArray("256");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("fraction") << QByteArray("1.5");
        QTest::newRow("hexadecimal") << QByteArray("0x10");
        QTest::newRow("number then text") << QByteArray("3com");
        QTest::newRow("huge") << QByteArray("99999999999999999999");
    }

    void badPortValueAsksAndCancelKeepsOne()
    {
        QFETCH(QByteArray, value);
        World w;
        const QByteArray content = "[PC config]\r\nCOM=" + value + "\r\n";
        QVERIFY(writeFile(w.file(), content));
        w.messages.answers = {QMessageBox::Cancel};
        w.config.LoadConfig();
        QCOMPARE(w.portNumber, quint8(1));
        QCOMPARE(w.messages.shown.size(), 1);
        const auto &box = w.messages.shown.first();
        QCOMPARE(box.text, LoadText);
        QCOMPARE(box.title, Title);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QCOMPARE(readFile(w.file()), content);
    }

    void retryRereadsUntilCancel()
    {
        World w;
        QVERIFY(writeFile(w.file(), "[PC config]\r\nCOM=abc\r\n"));
        w.messages.answers = {QMessageBox::Retry, QMessageBox::Retry, QMessageBox::Cancel};
        w.config.LoadConfig();
        QCOMPARE(w.messages.shown.size(), 3);
        QCOMPARE(w.portNumber, quint8(1));
    }

    void retryAcceptsCorrectedFile()
    {
        World w;
        FixingMessages messages;
        AppConfig config(w.dir.path(), w.portNumber, messages, w.status, w.slaves, &w.window);
        messages.path = config.filePath();
        messages.fixed = "[PC config]\r\nCOM=7\r\n";
        QVERIFY(writeFile(config.filePath(), "[PC config]\r\nCOM=abc\r\n"));
        config.LoadConfig();
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(w.portNumber, quint8(7));
    }

    void saveWritesPortAndSlaveAddress()
    {
        World w;
        for (int i = 0; i <= 127; ++i)
            w.slaves->addItem(QString::number(i));
        w.slaves->setCurrentIndex(17);
        w.portNumber = 3;
        w.config.SaveConfig();
        QCOMPARE(ReadIniValue(w.file(), QStringLiteral("PC config"), QStringLiteral("COM"), "x"),
                 QStringLiteral("3"));
        QCOMPARE(
            ReadIniValue(w.file(), QStringLiteral("VRT config"), QStringLiteral("MBSLAD"), "x"),
            QStringLiteral("17"));
        QCOMPARE(w.status->text(), QString());
    }

    void unrelatedContentSurvivesSave()
    {
        World w;
        const QByteArray before = "; service PC at the switchboard\r\n"
                                  "[PC config]\r\n"
                                  "COM=5\r\n"
                                  "Owner=Иванов\r\n"
                                  "\r\n"
                                  "[Ports]\r\n"
                                  "COM5=/dev/serial/by-id/usb-FTDI-if00\r\n"
                                  "[VRT config]\r\n"
                                  "MBSLAD=4\r\n"
                                  "Note=keep me\r\n";
        QVERIFY(writeFile(w.file(), before));
        w.slaves->addItems({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")});
        w.slaves->setCurrentIndex(2);
        w.portNumber = 9;
        w.config.SaveConfig();

        QByteArray expected = before;
        expected.replace("COM=5\r\n", "COM=9\r\n");
        expected.replace("MBSLAD=4\r\n", "MBSLAD=2\r\n");
        QCOMPARE(readFile(w.file()), expected);
    }

    void statusTextsArePaintedWhileWorking()
    {
        World w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        PaintedTexts painted(w.status);
        QVERIFY(writeFile(w.file(), "[PC config]\r\nCOM=4\r\n"));
        w.config.LoadConfig();
        QVERIFY2(painted.texts.contains(QStringLiteral("Чтение конфигурации")),
                 qPrintable(painted.texts.join('|')));
        painted.texts.clear();
        w.config.SaveConfig();
        QVERIFY2(painted.texts.contains(QStringLiteral("Сохранение конфигурации")),
                 qPrintable(painted.texts.join('|')));
        QCOMPARE(w.status->text(), QString());
    }

    void unwritableFolderAsksRetryOrCancel()
    {
        World w;
        const QString missing = w.dir.filePath(QStringLiteral("gone"));
        ScriptedMessages messages;
        messages.answers = {QMessageBox::Cancel};
        quint8 port = 6;
        AppConfig config(missing, port, messages, w.status, w.slaves, &w.window);
        config.SaveConfig();
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().text, SaveText);
        QCOMPARE(messages.shown.first().title, Title);
        QCOMPARE(messages.shown.first().buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QCOMPARE(messages.shown.first().icon, QMessageBox::Critical);
        QCOMPARE(w.status->text(), QString());
        QVERIFY(!QFile::exists(config.filePath()));

        // At a first start in such a folder the port stays 1 after Cancel.
        messages.shown.clear();
        messages.answers = {QMessageBox::Cancel};
        config.LoadConfig();
        QCOMPARE(port, quint8(1));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().text, SaveText);
    }
};

QTEST_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
