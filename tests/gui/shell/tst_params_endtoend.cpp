#include "modbus/frames.h"
#include "modbus/qserialportlink.h"
#include "params/paramtable.h"
#include "params/paramwindow.h"
#include "recordinglink.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "simprocess.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

constexpr int MemorySize = 147;
constexpr int DeviceAddressByte = 55;
// Generous against a loaded machine; the requests sent are what the tests judge.
constexpr int TransferMs = 10000;

const QColor Green(0, 255, 0);

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
    for (int i = 0; i < ParamTable::Count; ++i) {
        const auto *at = reinterpret_cast<const quint8 *>(memory.constData()) + table.Address(i);
        list << shownText(table.Width(i) == 2 ? at[0] * 256 + at[1] : at[0], table.Scale(i));
    }
    return list;
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
    bool allGreen() const
    {
        for (int i = 0; i < ParamTable::Count; ++i) {
            if (colour(i) != Green)
                return false;
        }
        return true;
    }
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
    {11, "398,7", 21, 2, 3987}, // 2 bytes, scale 0.1
    {18, "201", 32, 1, 101},    // scale 2: 100.5 rounds away from zero
    {26, "1275", 40, 1, 26},    // scale 50: 25.5 rounds away from zero
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
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    // One session with the controller: read all, write all, then one parameter by Enter.
    void readWriteAndEnter()
    {
        const QByteArray memory = knownMemory();
        ParamsWorld w;
        const QString failure = w.start(memory);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        // Before any reply the boxes hold no numbers: write-all names the first of them and
        // sends nothing.
        w.click("cmd_writeall");
        QCOMPARE(w.messages.shown.size(), 1);
        const QString text = w.messages.shown.first().text;
        QVERIFY2(text.contains(QStringLiteral("111")) &&
                     text.contains(QStringLiteral("«UA (секц)»")),
                 qPrintable(text));
        QTRY_VERIFY_WITH_TIMEOUT(w.allGreen(), TransferMs);
        QCOMPARE(w.texts(), shownTexts(memory));
        QCOMPARE(w.link->requestsOf(FnParamRead).size(), 20);
        QVERIFY(w.link->requestsOf(FnParamWrite).isEmpty());
        w.window()->resize(w.window()->maximumSize()); // its design size, as on a full-HD screen
        QVERIFY(w.window()->grab().save(QDir::current().filePath("params_window.png")));

        QByteArray expected = memory;
        for (const Edit &e : Edits) {
            w.type(e.index, QString::fromUtf8(e.text));
            putRaw(expected, e.address, e.width, e.raw);
        }
        w.click("cmd_writeall");
        QCOMPARE(w.messages.shown.size(), 1);
        QVERIFY(!w.allGreen());
        // The controller echoes every write, so the last box to turn green is 41's, written
        // last of all.
        QTRY_VERIFY_WITH_TIMEOUT(w.allGreen(), TransferMs);
        QCOMPARE(readFile(w.memoryPath).toHex(' '), expected.toHex(' '));
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

        w.type(99, QStringLiteral("123,4"));
        QTest::keyClick(w.box(99), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(w.colour(99), Green, 5000);
        w.app->timer1().stop();
        expected.replace(124, 2, QByteArray("\x04\xD2"));
        QCOMPARE(readFile(w.memoryPath).toHex(' '), expected.toHex(' '));
        QCOMPARE(w.link->requestsOf(FnParamWrite).size(), 23);
    }
};

QTEST_MAIN(TestParamsEndToEnd)
#include "tst_params_endtoend.moc"
