#include "modbus/frames.h"
#include "modbus/qserialportlink.h"
#include "params/filebrowser.h"
#include "params/paramtable.h"
#include "params/paramwindow.h"
#include "recordinglink.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "simprocess.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace vortan;
using namespace vortan::test;

namespace
{

constexpr int MemorySize = 147;
constexpr int DeviceAddressByte = 55;
// Generous against a loaded machine; the requests sent are what the tests judge.
constexpr int TransferMs = 10000;

const QColor Green(0, 255, 0);
const QColor FromFile(75, 175, 255);
const QColor FileEqual(192, 255, 192);
const QColor FileDiffer(255, 128, 128);

// Every byte different from its neighbours, 2-byte values up to 65535, and the device address 1
// that the service polls.
QByteArray knownMemory()
{
    QByteArray memory(MemorySize, '\0');
    for (int a = 0; a < MemorySize; ++a)
        memory[a] = char((a * 73 + 29) & 0xFF);
    memory[DeviceAddressByte] = char(1);
    return memory;
}

int rawAt(const QByteArray &memory, int address, int width)
{
    int raw = quint8(memory.at(address));
    if (width == 2)
        raw = raw * 256 + quint8(memory.at(address + 1));
    return raw;
}

void putRaw(QByteArray &memory, int address, int width, int raw)
{
    if (width == 2)
        memory[address++] = char(raw >> 8);
    memory[address] = char(raw & 0xFF);
}

// The text a box shows for a raw value: raw × scale with at most two fraction digits in the
// user's number format and one blank. Worked in hundredths, so no product of binary fractions
// decides the digits.
QString shownText(int raw, double scale)
{
    const qint64 hundredths = qint64(raw) * qRound64(scale * 100);
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(double(hundredths) / 100.0, 'f', QLocale::FloatingPointShortest) +
           QLatin1Char(' ');
}

// The texts of all boxes for the parameter memory `memory`.
QStringList shownTexts(const QByteArray &memory)
{
    const ParamTable table;
    QStringList list;
    for (int i = 0; i < ParamTable::Count; ++i)
        list << shownText(rawAt(memory, table.Address(i), table.Width(i)), table.Scale(i));
    return list;
}

// Bytes as numbers, so that a comparison names the first wrong address.
QList<int> bytesOf(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const quint8 *>(bytes.constData());
    return QList<int>(data, data + bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The service in-process on the simulator's line, with the real Timer1.
class ParamsWorld
{
public:
    // The simulator starts from `memory` and the parameters window opens, which reads every
    // parameter; empty when all that worked, else what went wrong.
    QString start(const QByteArray &memory)
    {
        memoryPath = dir.filePath(QStringLiteral("eeprom.bin"));
        QFile file(memoryPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(memory) != memory.size())
            return QStringLiteral("cannot write ") + memoryPath;
        file.close();
        sim = std::make_unique<Simulator>(QStringList{QStringLiteral("--memory"), memoryPath});
        if (!sim->waitReady())
            return QStringLiteral("simulator not ready: ") + QString::fromUtf8(sim->errors());
        port = std::make_unique<QSerialPortLink>([this](int) { return sim->device(); });
        link = std::make_unique<RecordingLink>(*port);
        StartupOptions options;
        options.programDir = dir.path();
        app = std::make_unique<Application>(options, *link, messages);
        if (!app->start() || !messages.shown.isEmpty())
            return QStringLiteral("the service did not start cleanly");
        app->mainWindow().findChild<QAction *>(QStringLiteral("mnu_param"))->trigger();
        return {};
    }

    ParamWindow *window() const { return app->paramWindow(); }
    QLineEdit *box(int i) const
    {
        return window()->findChild<QLineEdit *>(QStringLiteral("txt_par_%1").arg(i));
    }
    QColor colour(int i) const { return box(i)->palette().color(QPalette::Base); }
    QList<QColor> colours() const
    {
        QList<QColor> list;
        for (int i = 0; i < ParamTable::Count; ++i)
            list << colour(i);
        return list;
    }
    bool allGreen() const { return colours() == QList<QColor>(ParamTable::Count, Green); }
    QStringList texts() const
    {
        QStringList list;
        for (int i = 0; i < ParamTable::Count; ++i)
            list << box(i)->text();
        return list;
    }
    void click(const char *name)
    {
        QTest::mouseClick(window()->findChild<QPushButton *>(QString::fromLatin1(name)),
                          Qt::LeftButton);
    }
    void type(int i, const QString &text)
    {
        box(i)->selectAll();
        QTest::keyClicks(box(i), text);
    }

    QTemporaryDir dir;
    QString memoryPath;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<QSerialPortLink> port;
    std::unique_ptr<RecordingLink> link;
    ScriptedMessages messages;
    std::unique_ptr<Application> app;
};

// One edited box: the text typed, and the bytes the controller must then hold, taken from the
// table by hand so a wrong address, width or scale in the program shows.
struct Edit {
    int index;
    const char *text;
    int address;
    int width;
    int raw;
};

const Edit Edits[] = {
    {0, "231,4", 0, 2, 2314},   // calibration "UA (секц)", 2 bytes, 0.1
    {10, "17", 20, 1, 17},      // 1 byte, scale 1
    {11, "398,7", 21, 2, 3987}, // 2 bytes, scale 0.1
    {16, "2,5", 30, 1, 25},     // 1 byte, scale 0.1
    {18, "201", 32, 1, 101},    // scale 2: 100.5 rounds away from zero
    {26, "1275", 40, 1, 26},    // scale 50: 25.5 rounds away from zero
    {27, "20000", 41, 1, 255},  // scale 50: 400 is beyond one byte
    {44, "1000", 59, 2, 1000},  // the one 2-byte entry with scale 1: 03 E8
    {83, "1,4", 105, 1, 7},     // scale 0.2
    {104, "3", 133, 1, 3},      // third of the four boxes under one caption
    {109, "0", 90, 2, 0},       // 2 bytes at 90, a run of its own
};

} // namespace

class TestParamsEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        const QString sim = QDir(binDir()).filePath(QStringLiteral("vortan-sim"));
        QVERIFY2(QFile::exists(sim), qPrintable("vortan-sim is not built: " + sim));
    }

    void readAllFillsEveryBoxAndEarlyWriteAllSendsNothing()
    {
        const QByteArray memory = knownMemory();
        ParamsWorld w;
        const QString failure = w.start(memory);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(w.box(0)->text(), QStringLiteral("-"));
        // Before any reply the boxes hold no numbers: write-all names the first of them and
        // sends nothing.
        w.click("cmd_writeall");
        QCOMPARE(w.messages.shown.size(), 1);
        const QString text = w.messages.shown.first().text;
        QCOMPARE(w.messages.shown.first().icon, QMessageBox::Critical);
        QVERIFY2(text.contains(QStringLiteral("111")) &&
                     text.contains(QStringLiteral("«UA (секц)»")),
                 qPrintable(text));

        QTRY_VERIFY_WITH_TIMEOUT(w.allGreen(), TransferMs);
        w.app->timer1().stop();
        QCOMPARE(w.texts(), shownTexts(memory));
        QCOMPARE(w.link->requestsOf(FnParamRead).size(), 20);
        QVERIFY(w.link->requestsOf(FnParamWrite).isEmpty());

        // At its design size, as on a full-HD screen; the offscreen screen is smaller.
        w.window()->resize(w.window()->maximumSize());
        const QString shot = QDir::current().filePath(QStringLiteral("params_window.png"));
        QVERIFY2(w.window()->grab().save(shot), qPrintable(shot));
    }

    void writeAllStoresTheEditsAndTheDeviceAddressLast()
    {
        const QByteArray memory = knownMemory();
        ParamsWorld w;
        const QString failure = w.start(memory);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QTRY_VERIFY_WITH_TIMEOUT(w.allGreen(), TransferMs);

        QByteArray expected = memory;
        for (const Edit &e : Edits) {
            w.type(e.index, QString::fromUtf8(e.text));
            putRaw(expected, e.address, e.width, e.raw);
        }
        w.click("cmd_writeall");
        QVERIFY2(w.messages.shown.isEmpty(), qPrintable(w.messages.shown.value(0).text));
        QVERIFY(!w.allGreen());
        // The controller echoes every write, so the last box to turn green is 41's, written
        // last of all.
        QTRY_VERIFY_WITH_TIMEOUT(w.allGreen(), TransferMs);
        w.app->timer1().stop();

        QCOMPARE(bytesOf(readFile(w.memoryPath)), bytesOf(expected));
        QCOMPARE(w.link->requestsOf(FnParamRead).size(), 20);
        const QList<QByteArray> writes = w.link->requestsOf(FnParamWrite);
        QCOMPARE(writes.size(), 22);
        QCOMPARE(writes.last().mid(1, 5), QByteArray::fromHex("6500370101"));
        for (int f = 0; f < writes.size() - 1; ++f) {
            const int address = quint8(writes[f].at(2)) * 256 + quint8(writes[f].at(3));
            const int count = quint8(writes[f].at(4));
            QVERIFY2(
                address > DeviceAddressByte || address + count <= DeviceAddressByte,
                qPrintable(QStringLiteral("run write at %1, %2 bytes").arg(address).arg(count)));
        }
    }

    void enterWritesOnlyThatParameter_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("one byte, fraction rounded") << 40 << "12,6" << 54 << QByteArray("\x0D");
        QTest::newRow("two bytes, scale 0,1") << 99 << "123,4" << 124 << QByteArray("\x04\xD2");
    }
    void enterWritesOnlyThatParameter()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(int, address);
        QFETCH(QByteArray, bytes);
        const QByteArray memory = knownMemory();
        ParamsWorld w;
        const QString failure = w.start(memory);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QTRY_VERIFY_WITH_TIMEOUT(w.allGreen(), TransferMs);

        w.type(index, text);
        QTest::keyClick(w.box(index), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(w.colour(index), Green, 5000);
        w.app->timer1().stop();
        QByteArray expected = memory;
        expected.replace(address, bytes.size(), bytes);
        QCOMPARE(bytesOf(readFile(w.memoryPath)), bytesOf(expected));
        QCOMPARE(w.link->requestsOf(FnParamWrite).size(), 1);
    }

    void fileSaveCompareLoad()
    {
        ParamsWorld w;
        const QString failure = w.start(knownMemory());
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QTRY_VERIFY_WITH_TIMEOUT(w.allGreen(), TransferMs);
        w.app->timer1().stop();

        QTemporaryDir folder;
        FileBrowser &browser = w.window()->fileBrowser();
        const QString root = folder.path();
        browser.setVolumeSource([root] { return QVector<Volume>{{root, {}}}; });
        browser.start(root);
        w.window()
            ->findChild<QLineEdit *>(QStringLiteral("Text3"))
            ->setText(QStringLiteral("набор.ini"));

        const QStringList saved = w.texts();
        w.click("cmdSaveFile");
        QVERIFY2(w.messages.shown.isEmpty(), qPrintable(w.messages.shown.value(0).text));
        QVERIFY(QFile::exists(QDir(root).filePath(QStringLiteral("набор.ini"))));
        QCOMPARE(w.colours(), QList<QColor>(ParamTable::Count, FromFile));

        const QList<int> changed{5, 44, 110};
        for (int i : changed)
            w.type(i, QStringLiteral("77,7"));
        // Compare judges numbers: the same number typed without the trailing blank is equal.
        w.type(18, saved.at(18).trimmed());
        w.click("cmdCompare");
        QList<QColor> compared(ParamTable::Count, FileEqual);
        for (int i : changed)
            compared[i] = FileDiffer;
        QCOMPARE(w.colours(), compared);

        w.click("cmdReadFile");
        QVERIFY2(w.messages.shown.isEmpty(), qPrintable(w.messages.shown.value(0).text));
        QCOMPARE(w.texts(), saved);
        QCOMPARE(w.colours(), QList<QColor>(ParamTable::Count, FromFile));
        QVERIFY(w.link->requestsOf(FnParamWrite).isEmpty());
    }
};

QTEST_MAIN(TestParamsEndToEnd)
#include "tst_params_endtoend.moc"
