#include "config/appconfig.h"
#include "scriptedmessages.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

using vortan::AppConfig;
using vortan::test::ScriptedMessages;

namespace
{

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

// An old modification time, so any write during a test shows.
constexpr time_t OldTime = 1000000000;
bool backdate(const QString &path)
{
    const timespec times[2] = {{OldTime, 0}, {OldTime, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// The one box of a failed read or write of the configuration file, exactly as the user sees it.
void verifyErrorBox(const ScriptedMessages &messages, const QString &text)
{
    QCOMPARE(messages.shown.size(), 1);
    const ScriptedMessages::Box &box = messages.shown.first();
    QCOMPARE(box.text, text);
    QCOMPARE(box.title, QStringLiteral("Ошибка открытия файла "));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::Retry | QMessageBox::Cancel);
}

// lbl_sys_mes that records its text at every paint, i.e. what the operator could see.
class StatusLine : public QLabel
{
public:
    using QLabel::QLabel;
    QStringList painted;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        painted.append(text());
        QLabel::paintEvent(event);
    }
};

// Runs `beforeAnswer` while a box is up, as an operator who fixes the file in an editor would.
class FixingMessages : public ScriptedMessages
{
public:
    std::function<void()> beforeAnswer = [] {};
    QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                    const QString &text,
                                    QMessageBox::StandardButtons buttons) override
    {
        beforeAnswer();
        return ScriptedMessages::ask(parent, icon, title, text, buttons);
    }
};

} // namespace

class TestAppConfig : public QObject
{
    Q_OBJECT

    struct World {
        QTemporaryDir dir;
        quint8 portNumber = 77;
        FixingMessages messages;
        QWidget window;
        StatusLine *status = new StatusLine(&window);
        QComboBox *slaves = new QComboBox(&window);
        AppConfig config{dir.path(), portNumber, messages, status, slaves, &window};
        World() { status->setText(QStringLiteral("-")); }
        QString file() const { return dir.filePath(QStringLiteral("тп.ini")); }
    };

private slots:
    // With no cmb_slad selection yet, the first start stores MBSLAD=-1.
    void firstStartCreatesFile()
    {
        World w;
        w.config.LoadConfig();
        QCOMPARE(w.portNumber, quint8(1));
        QCOMPARE(readFile(w.file()), "[PC config]\r\nCOM=1\r\n\r\n[VRT config]\r\nMBSLAD=-1\r\n");
        QCOMPARE(w.status->text(), QString());
        QVERIFY(w.messages.shown.isEmpty());
    }

    // The file is only read; a value that is no port number gets the read-error box, and Cancel
    // keeps port 1.
    void loadReadsThePort_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("refused");
        QTest::newRow("COM 5") << QByteArray("COM=5\r\n[VRT config]\r\nMBSLAD=9") << 5 << false;
        QTest::newRow("COM 0 loads, fails later at opening") << QByteArray("COM=0") << 0 << false;
        QTest::newRow("COM 255 largest") << QByteArray("COM=255") << 255 << false;
        QTest::newRow("blanks around the value") << QByteArray("COM =  12 ") << 12 << false;
        QTest::newRow("key missing") << QByteArray("BAUD=9600") << 1 << false;
        QTest::newRow("negative") << QByteArray("COM=-1") << 1 << true;
        QTest::newRow("just above a byte") << QByteArray("COM=256") << 1 << true;
        QTest::newRow("empty") << QByteArray("COM=") << 1 << true;
        QTest::newRow("fraction") << QByteArray("COM=1.5") << 1 << true;
        QTest::newRow("number then text") << QByteArray("COM=3com") << 1 << true;
        QTest::newRow("huge") << QByteArray("COM=99999999999999999999") << 1 << true;
    }
    void loadReadsThePort()
    {
        QFETCH(QByteArray, lines);
        QFETCH(int, port);
        QFETCH(bool, refused);
        World w;
        const QByteArray content = "[PC config]\r\n" + lines + "\r\n";
        QVERIFY(writeFile(w.file(), content));
        w.messages.answers = {QMessageBox::Cancel};
        w.config.LoadConfig();
        QCOMPARE(int(w.portNumber), port);
        if (refused)
            verifyErrorBox(w.messages,
                           QStringLiteral("Ошибка открытия файла тп.ini для чтения\r\n"));
        else
            QVERIFY(w.messages.shown.isEmpty());
        QCOMPARE(readFile(w.file()), content);
        QCOMPARE(w.status->text(), QString());
    }

    // A file that cannot be read gets the same box as a bad value, Cancel keeps port 1, and the
    // file is neither read as empty nor written over.
    void unreadableFileIsRefusedAndKept_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"binary", "over 16 MiB", "folder", "no read permission"})
            QTest::newRow(kind) << kind;
    }
    void unreadableFileIsRefusedAndKept()
    {
        QFETCH(QString, kind);
        World w;
        QFile file(w.file());
        const QByteArray text = "[PC config]\r\nCOM=5\r\n";
        if (kind == "folder")
            QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("тп.ini")));
        else
            QVERIFY(writeFile(w.file(), kind == "binary" ? text + '\0' : text));
        if (kind == "over 16 MiB")
            QVERIFY(file.resize(16 * 1024 * 1024 + 1));
        if (kind == "no read permission") {
            QVERIFY(file.setPermissions({}));
            if (file.open(QIODevice::ReadOnly))
                QSKIP("this user reads files without read permission");
        }
        QVERIFY(backdate(w.file()));
        const QFileInfo before(w.file());
        w.messages.answers = {QMessageBox::Cancel};
        w.config.LoadConfig();
        QCOMPARE(w.portNumber, quint8(1));
        verifyErrorBox(w.messages, QStringLiteral("Ошибка открытия файла тп.ini для чтения\r\n"));
        const QFileInfo after(w.file());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.size(), before.size());
        QCOMPARE(after.lastModified().toSecsSinceEpoch(), qint64(OldTime));
    }

    // Retry reads the file again: still bad, a second box; corrected meanwhile, its port.
    void retryRereadsTheCorrectedFile()
    {
        World w;
        QVERIFY(writeFile(w.file(), "[PC config]\r\nCOM=abc\r\n"));
        w.messages.answers = {QMessageBox::Retry, QMessageBox::Retry};
        w.messages.beforeAnswer = [&] {
            if (!w.messages.shown.isEmpty())
                writeFile(w.file(), "[PC config]\r\nCOM=7\r\n");
        };
        w.config.LoadConfig();
        QCOMPARE(w.messages.shown.size(), 2);
        QCOMPARE(w.portNumber, quint8(7));
    }

    void saveWritesPortAndSlaveAddressKeepingTheRest()
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
        for (int i = 0; i <= 127; ++i)
            w.slaves->addItem(QString::number(i));
        w.slaves->setCurrentIndex(17);
        w.portNumber = 3;
        w.config.SaveConfig();
        QCOMPARE(readFile(w.file()), QByteArray(before)
                                         .replace("COM=5\r\n", "COM=3\r\n")
                                         .replace("MBSLAD=4\r\n", "MBSLAD=17\r\n"));
        QCOMPARE(w.status->text(), QString());
    }

    // The file is read and written before the event loop runs; the texts must still be painted.
    void statusTextsArePaintedWhileWorking()
    {
        World w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QVERIFY(writeFile(w.file(), "[PC config]\r\nCOM=4\r\n"));
        w.config.LoadConfig();
        w.config.SaveConfig();
        const QStringList &painted = w.status->painted;
        QVERIFY2(painted.contains(QStringLiteral("Чтение конфигурации")) &&
                     painted.contains(QStringLiteral("Сохранение конфигурации")),
                 qPrintable(painted.join('|')));
        QCOMPARE(w.status->text(), QString());
    }

    // A program folder nobody may write (/proc/self, not even root) keeps the file in the user's
    // folder, made at the first start. A user folder that cannot be made gets the write-error
    // box, and the port stays 1 after Cancel.
    void firstStartOutsideTheProgramFolder_data()
    {
        QTest::addColumn<bool>("canMakeFolder");
        QTest::newRow("user folder made") << true;
        QTest::newRow("user folder cannot be made") << false;
    }
    void firstStartOutsideTheProgramFolder()
    {
        QFETCH(bool, canMakeFolder);
        World w;
        const QString plainFile = w.dir.filePath(QStringLiteral("plain"));
        QVERIFY(writeFile(plainFile, "x"));
        const QString home = (canMakeFolder ? w.dir.path() : plainFile) + QStringLiteral("/config");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
        w.messages.answers = {QMessageBox::Cancel};
        AppConfig config(QStringLiteral("/proc/self"), w.portNumber, w.messages, w.status, w.slaves,
                         &w.window);
        config.LoadConfig();
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(config.filePath(), home + QStringLiteral("/vortan/тп.ini"));
        QCOMPARE(w.portNumber, quint8(1));
        if (canMakeFolder) {
            QVERIFY(w.messages.shown.isEmpty());
            QCOMPARE(readFile(config.filePath()),
                     "[PC config]\r\nCOM=1\r\n\r\n[VRT config]\r\nMBSLAD=-1\r\n");
        } else {
            verifyErrorBox(w.messages, QStringLiteral("Ошибка открытия файла тп.ini для записи"));
        }
        QCOMPARE(w.status->text(), QString());
    }
};

QTEST_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
