#include "config/inifile.h"
#include "config/portmap.h"

#include <QtTest>

#include <memory>
#include <tuple>

using namespace vortan;

namespace
{

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

const QByteArray kBom("\xEF\xBB\xBF");
const QByteArray kCp1251("[A]\r\nname=\xCC\xE8\xF0\r\nk=1\r\n"); // name=Мир

// A hand-written file with everything a writer could disturb.
const QByteArray kRichFile = "; настройки стенда\n"
                             "\n"
                             "[PC config]\n"
                             "  Com = 3   \n"
                             "# old port: 4\n"
                             "Speed=115200\n"
                             "\n"
                             "[VRT config]\n"
                             "MBSLAD=1\n";

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &content, const QString &section,
                            const QString &key, const QString &expected) {
            QTest::newRow(name) << content << section << key << expected;
        };
        row("empty value is empty, not default", "[PC config]\r\nCOM=\r\n", "PC config", "COM", "");
        row("missing key", "[PC config]\r\nCOM=3\r\n", "PC config", "Speed", "default");
        row("missing section", "[PC config]\r\nCOM=3\r\n", "VRT config", "COM", "default");
        row("names ignore letter case", "[pc CONFIG]\r\ncom=3\r\n", "PC config", "COM", "3");
        row("Cyrillic names ignore letter case", "[ПАРАМЕТРЫ]\nПар8=230,5\n", "параметры", "пАР8",
            "230,5");
        row("blanks and tabs trimmed", "  [ PC config ]  \r\n \t COM \t=  3 \t\r\n", " PC config",
            "COM ", "3");
        row("lone CR line ends", "[A]\rk=1\r[B]\rk=2\r", "B", "k", "2");
        row("byte-order mark", kBom + "[A]\r\nk=Привет\r\n", "A", "k", "Привет");
        row("Windows-1251",
            "[\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xFB]\r\n\xC8\xEC\xFF=\xCF\xF0\xE8\xE2\xE5\xF2",
            "Параметры", "имя", "Привет");
        row("overlong UTF-8 means Windows-1251", "[A]\nk=\xC0\xAF\n", "A", "k", "АЇ");
        row("cut UTF-8 at the end means Windows-1251", "[A]\nk=\xD0", "A", "k", "Р");
        row("semicolon comment", "[A]\r\n;k=1\r\nk=2\r\n", "A", "k", "2");
        row("repeated section, first key wins", "[A]\nk=1\n[A]\nk=2\n", "A", "k", "1");
        row("key before any section", "k=1\n[A]\n", "A", "k", "default");
        row("equals sign inside value", "[A]\nk=a=b\n", "A", "k", "a=b");
        row("semicolon inside value", "[A]\nk=5 ; note\n", "A", "k", "5 ; note");
        row("double quotes dropped", "[A]\nk=\"  x \"\n", "A", "k", "  x ");
        row("unpaired quote kept", "[A]\nk=\"a\n", "A", "k", "\"a");
        row("line without equals ignored", "[A]\nk\nk=v\n", "A", "k", "v");
        row("300 characters cut to 254", "[A]\r\nk=" + QByteArray(300, 'x') + "\r\n", "A", "k",
            QString(254, u'x'));
        row("cut keeps a surrogate pair whole",
            "[A]\nk=" + QByteArray(253, 'a') + "\xF0\x9F\x98\x80\n", "A", "k", QString(253, u'a'));
        row("empty key name is no key", "[A]\n=v\n", "A", "", "default");
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeBytes(path("тп.ini"), content);
        QCOMPARE(ReadIniValue(path("тп.ini"), section, key, "default"), expected);
    }

    // A missing file, a folder and files that are no profile files read as the default.
    void readBadFilesGivesDefault()
    {
        const QString text = QStringLiteral("[PC config]\r\nCOM=7\r\n");
        writeBytes(path("binary.ini"), text.toLatin1() + QByteArray("\0\x01\x02", 3));
        writeBytes(path("huge.ini"), text.toLatin1() + QByteArray(17 << 20, ';'));
        for (const QString &file :
             {path("missing.ini"), m_dir->path(), path("binary.ini"), path("huge.ini")})
            QVERIFY2(ReadIniValue(file, "PC config", "COM", "1") == "1", qPrintable(file));
        QVERIFY(!WriteIniValue(path("huge.ini"), "PC config", "COM", "2"));
    }

    // The new file is renamed into place: a reader holding the old file keeps its bytes, and the
    // file keeps its permissions.
    void writeNewFileAndReplaceIt()
    {
        const QString file = path("new.ini");
        QVERIFY(WriteIniValue(file, "PC config", "COM", "3"));
        QCOMPARE(readBytes(file), QByteArray("[PC config]\r\nCOM=3\r\n"));

        QFile reader(file);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QVERIFY(WriteIniValue(file, "PC config", "Line", QStringLiteral("A\r\nB")));
        QVERIFY(WriteIniValue(file, "VRT config", "MBSLAD", QStringLiteral("Привет")));
        QCOMPARE(readBytes(file), QByteArray("[PC config]\r\nCOM=3\r\nLine=A  B\r\n\r\n"
                                             "[VRT config]\r\nMBSLAD=Привет\r\n"));
        QCOMPARE(reader.readAll(), QByteArray("[PC config]\r\nCOM=3\r\n"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("new.ini")});

        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(file, mode));
        QVERIFY(WriteIniValue(file, "PC config", "COM", "4"));
        QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), mode);
    }

    void writeKeepsEveryOtherByte_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        const auto row = [](const char *name, const QByteArray &before, const QString &section,
                            const QString &key, const QString &value, const QByteArray &after) {
            QTest::newRow(name) << before << section << key << value << after;
        };
        const auto edit = [](QByteArray bytes, const char *from, const char *to) {
            return bytes.replace(from, to);
        };
        const QByteArray crlf = edit(kRichFile, "\n", "\r\n");
        row("existing key keeps its layout", kRichFile, "pc config", "COM", "4",
            edit(kRichFile, "  Com = 3   \n", "  Com = 4\n"));
        row("new key after the last key of its section", kRichFile, "PC config", "Parity", "E",
            edit(kRichFile, "Speed=115200\n", "Speed=115200\nParity=E\n"));
        row("new section at the end, LF style", kRichFile, "Extra", "x", "1",
            kRichFile + "\n[Extra]\nx=1\n");
        row("CRLF file gets CRLF", crlf, "VRT config", "New", "2",
            edit(crlf, "MBSLAD=1\r\n", "MBSLAD=1\r\nNew=2\r\n"));
        row("lone CR file gets CR", "[A]\rk=1\r", "A", "j", "2", "[A]\rk=1\rj=2\r");
        row("last line without line end", "[A]\nk=1", "A", "j", "2", "[A]\nk=1\nj=2\n");
        row("section without keys", "[A]\n\n[B]\n", "A", "k", "v", "[A]\nk=v\n\n[B]\n");
        row("byte-order mark stays", kBom + "[A]\r\nk=1\r\n", "A", "k", "2",
            kBom + "[A]\r\nk=2\r\n");
        row("first of duplicate keys changes", "[A]\nk=1\nk=2\n", "A", "K", "3", "[A]\nk=3\nk=2\n");
        row("Windows-1251 file stays Windows-1251", kCp1251, "A", "k", QStringLiteral("Привет"),
            edit(kCp1251, "k=1", "k=\xCF\xF0\xE8\xE2\xE5\xF2"));
        row("value with outer blanks is quoted", "[A]\nk=1\n", "A", "k", "230,5 ",
            "[A]\nk=\"230,5 \"\n");
    }
    void writeKeepsEveryOtherByte()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        writeBytes(path("keep.ini"), before);
        QVERIFY(WriteIniValue(path("keep.ini"), section, key, value));
        QCOMPARE(readBytes(path("keep.ini")), after);
        QCOMPARE(ReadIniValue(path("keep.ini"), section, key, "default"), value);
    }

    // Whatever a box holds reads back exactly (up to 254 characters), also after another key is
    // added behind it.
    void writeRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("initial");
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("leading blanks and tabs") << QByteArray() << " \tx";
        QTest::newRow("lone quote") << QByteArray() << "\"";
        QTest::newRow("emoji") << QByteArray() << "ok 😀";
        QTest::newRow("300 characters read as 254") << QByteArray() << QString(300, u'q');
        QTest::newRow("Cyrillic in a Windows-1251 file") << kCp1251 << "Ёжик № 5";
    }
    void writeRoundTrip()
    {
        QFETCH(QByteArray, initial);
        QFETCH(QString, value);
        const QString file = path("roundtrip.ini");
        if (!initial.isEmpty())
            writeBytes(file, initial);
        QVERIFY(WriteIniValue(file, "Parameters", "PAR8", value));
        QCOMPARE(ReadIniValue(file, "Parameters", "PAR8", "default"), value.left(254));
        QVERIFY(WriteIniValue(file, "Parameters", "PAR9", "next"));
        QCOMPARE(ReadIniValue(file, "Parameters", "PAR8", "default"), value.left(254));
    }

    // Names that cannot be stored, values the file cannot hold, and places that cannot be
    // written are refused, and nothing on disk changes.
    void writeRefusals()
    {
        const QString fresh = path("never.ini");
        const std::tuple<const char *, const char *, QString> refused[] = {
            {"", "k", "v"},    {"A", "  ", "v"},   {"A", "a=b", "v"},    {"A", ";k", "v"},
            {"A]B", "k", "v"}, {"A", "k\nj", "v"}, {"A", "k", QChar(0)}, {"A", "k", QChar(0xD800)}};
        for (const auto &[section, key, value] : refused)
            QVERIFY(!WriteIniValue(fresh, section, key, value));
        QVERIFY(!QFile::exists(fresh));

        writeBytes(path("1251.ini"), kCp1251);
        QVERIFY(!WriteIniValue(path("1251.ini"), "A", "k", QStringLiteral("日本")));
        QCOMPARE(readBytes(path("1251.ini")), kCp1251);

        QVERIFY(!WriteIniValue(path("no/such/folder/a.ini"), "A", "k", "v"));
        QVERIFY(!QDir(path("no")).exists());
        writeBytes(path("plain"), "x");
        QVERIFY(!WriteIniValue(path("plain/a.ini"), "A", "k", "v"));
        QVERIFY(!WriteIniValue(m_dir->path(), "A", "k", "v"));

        writeBytes(path("ro.ini"), "[A]\r\nk=1\r\n");
        QVERIFY(QFile::setPermissions(path("ro.ini"), QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(!WriteIniValue(path("ro.ini"), "A", "k", "2"));
        QCOMPARE(readBytes(path("ro.ini")), QByteArray("[A]\r\nk=1\r\n"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{"1251.ini", "plain", "ro.ini"}));
    }

    // Random bytes are no profile file, but a write must not lose or reorder any of them.
    void writeIntoGarbageKeepsIt()
    {
        QRandomGenerator random(1251);
        const QString file = path("garbage.ini");
        for (int round = 0; round < 40; ++round) {
            QByteArray garbage(random.bounded(1, 4096), Qt::Uninitialized);
            for (char &c : garbage)
                c = char(random.bounded(1, 256));
            writeBytes(file, garbage);
            QVERIFY(WriteIniValue(file, "Parameters", "PAR42", "17"));
            QVERIFY(readBytes(file).startsWith(garbage));
            QCOMPARE(ReadIniValue(file, "Parameters", "PAR42", "default"), QStringLiteral("17"));
        }
    }

    // A document is saved all or nothing: one refused value, or a document that could not be
    // read, leaves the file as it was.
    void documentSavedAllOrNothing()
    {
        const QString file = path("set.par");
        writeBytes(file, "; kept\r\n[Parameters]\r\nPAR8=old\r\n");
        IniDocument doc;
        QVERIFY(doc.load(file));
        doc.setValue("Parameters", "PAR8", "v8");
        doc.setValue("Calibration", "PAR0", "v0");
        QCOMPARE(doc.value("parameters", "par8", "default"), QStringLiteral("v8"));
        QVERIFY(doc.contains("Calibration", "PAR0") && !doc.contains("Calibration", "PAR8"));
        IniDocument refused = doc;
        refused.setValue("Parameters", "PAR=", "bad");
        QVERIFY(!refused.save(file));
        QCOMPARE(readBytes(file), QByteArray("; kept\r\n[Parameters]\r\nPAR8=old\r\n"));
        QVERIFY(doc.save(file));
        const QByteArray saved =
            "; kept\r\n[Parameters]\r\nPAR8=v8\r\n\r\n[Calibration]\r\nPAR0=v0\r\n";
        QCOMPARE(readBytes(file), saved);
        IniDocument unreadable;
        QVERIFY(!unreadable.load(m_dir->path()));
        unreadable.setValue("A", "k", "v");
        QVERIFY(!unreadable.save(file));
        QCOMPARE(readBytes(file), saved);
    }

    void builtInTable_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1 first on-board") << 1 << "/dev/ttyS0";
        QTest::newRow("COM5 first USB adapter") << 5 << "/dev/ttyUSB0";
        QTest::newRow("COM12 last USB adapter") << 12 << "/dev/ttyUSB7";
        QTest::newRow("COM16 last CDC device") << 16 << "/dev/ttyACM3";
        QTest::newRow("port 0 has no device") << 0 << "";
        QTest::newRow("COM17 has no device") << 17 << "";
    }
    void builtInTable()
    {
        QFETCH(int, port);
        QFETCH(QString, device);
        QCOMPARE(PortMap().device(port), device);
    }

    // The section "Ports" overrides single numbers 1..255 and is only read, never written.
    void overridesFromConfigFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("тп.ini"));
        const QByteArray bytes = "[PC config]\r\nCOM=5\r\nCOM6=/dev/ttyS3\r\n"
                                 "[Ports]\r\n"
                                 "COM5=/dev/serial/by-id/usb-FTDI_FT232R-if00-port0\r\n"
                                 "COM3 = ttyAMA0\r\n"
                                 "COM7=\r\n"
                                 "COM20=/dev/ttyS9\r\n"
                                 "COM300=/dev/ttyS8\r\n";
        writeBytes(path, bytes);
        const PortMap map = PortMap::fromConfigFile(path);
        QCOMPARE(map.device(5), QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"));
        QCOMPARE(map.device(3), QStringLiteral("/dev/ttyAMA0"));
        QCOMPARE(map.device(6), QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(map.device(7), QStringLiteral("/dev/ttyUSB2"));
        QVERIFY(!map.isOverridden(7));
        QCOMPARE(map.device(20), QStringLiteral("/dev/ttyS9"));
        QCOMPARE(map.device(300), QString());
        QCOMPARE(readBytes(path), bytes);

        QCOMPARE(PortMap::fromConfigFile(dir.filePath("missing.ini")).device(5), "/dev/ttyUSB0");
        QVERIFY(!QFile::exists(dir.filePath("missing.ini")));
    }

    // What both programs make of --port: port numbers through the map, paths as typed, and
    // bare names below /dev. "$PWD" is a folder holding the file "local-pty".
    void typedDevice_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("bare name below /dev") << " ttyUSB0 " << 0 << "/dev/ttyUSB0";
        QTest::newRow("relative name below /dev")
            << "serial/by-id/usb-FTDI-if00" << 0 << "/dev/serial/by-id/usb-FTDI-if00";
        QTest::newRow("absolute path") << "/tmp/ttyVortan" << 0 << "/tmp/ttyVortan";
        QTest::newRow("existing relative path") << "local-pty" << 0 << "$PWD/local-pty";
        QTest::newRow("COM5 from the table") << "COM5" << 5 << "/dev/ttyUSB0";
        QTest::newRow("com3 overridden") << "com3" << 3 << "/dev/ttyAMA0";
        QTest::newRow("COM17 without a device") << "COM17" << 17 << "";
        QTest::newRow("COM0 is no port") << "COM0" << 0 << "";
        QTest::newRow("COM256 is no port") << "COM256" << 0 << "";
    }
    void typedDevice()
    {
        QFETCH(QString, typed);
        QFETCH(int, number);
        QFETCH(QString, device);
        QTemporaryDir dir;
        writeBytes(dir.filePath(QStringLiteral("local-pty")), {});
        const QString before = QDir::currentPath();
        const auto restore = qScopeGuard([&before] { QDir::setCurrent(before); });
        QVERIFY(QDir::setCurrent(dir.path()));
        PortMap map;
        map.setDevice(3, QStringLiteral("/dev/ttyAMA0"));
        int got = -1;
        QCOMPARE(map.typedDevice(typed, &got), device.replace("$PWD", QDir::currentPath()));
        QCOMPARE(got, number);
    }

    // The --port option: this run only, numbers 0..255.
    void runOverrideReplacesOnePort()
    {
        PortMap map;
        map.setDevice(3, QStringLiteral("/tmp/sim-pty"));
        map.setDevice(0, QStringLiteral("/tmp/zero"));
        map.setDevice(256, QStringLiteral("/tmp/out-of-range"));
        QCOMPARE(map.device(3), QStringLiteral("/tmp/sim-pty"));
        QCOMPARE(map.device(4), QStringLiteral("/dev/ttyS3"));
        QCOMPARE(map.device(0), QStringLiteral("/tmp/zero"));
        QCOMPARE(map.device(256), QString());
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
