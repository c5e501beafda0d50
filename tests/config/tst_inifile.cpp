#include "config/inifile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vortan;

namespace
{

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

const QByteArray kBom("\xEF\xBB\xBF");

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

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void read_data();
    void read();
    void readWindows1251MatchesIcu();
    void readBadFilesGivesDefault();
    void writeNewFile();
    void writeKeepsEveryOtherByte_data();
    void writeKeepsEveryOtherByte();
    void writeRoundTrip_data();
    void writeRoundTrip();
    void writeRefusals();
    void writeRefusesUnwritablePlaces();
    void writeRefusesReadOnlyFolder();
    void writeIntoGarbageKeepsIt();
    void parameterSetAllOrNothing();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString folder() const { return m_dir->path(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestIniFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString longValue = QString(300, u'x');
    QTest::newRow("empty value is empty, not default")
        << QByteArray("[PC config]\r\nCOM=\r\n") << "PC config"
        << "COM"
        << "";
    QTest::newRow("missing key") << QByteArray("[PC config]\r\nCOM=3\r\n") << "PC config"
                                 << "Speed"
                                 << "default";
    QTest::newRow("missing section") << QByteArray("[PC config]\r\nCOM=3\r\n") << "VRT config"
                                     << "COM"
                                     << "default";
    QTest::newRow("empty file") << QByteArray() << "PC config"
                                << "COM"
                                << "default";
    QTest::newRow("names ignore letter case")
        << QByteArray("[pc CONFIG]\r\ncom=3\r\n") << "PC config"
        << "COM"
        << "3";
    QTest::newRow("Cyrillic names ignore letter case")
        << QByteArray("[ПАРАМЕТРЫ]\nПар8=230,5\n") << "параметры"
        << "пАР8"
        << "230,5";
    QTest::newRow("blanks and tabs trimmed")
        << QByteArray("  [ PC config ]  \r\n \t COM \t=  3 \t\r\n") << " PC config"
        << "COM "
        << "3";
    QTest::newRow("LF line ends") << QByteArray("[A]\nk=1\n[B]\nk=2\n") << "B"
                                  << "k"
                                  << "2";
    QTest::newRow("lone CR line ends") << QByteArray("[A]\rk=1\r[B]\rk=2\r") << "B"
                                       << "k"
                                       << "2";
    QTest::newRow("no line end at all at the end") << QByteArray("[A]\r\nk=v") << "A"
                                                   << "k"
                                                   << "v";
    QTest::newRow("byte-order mark") << kBom + "[A]\r\nk=Привет\r\n"
                                     << "A"
                                     << "k"
                                     << "Привет";
    QTest::newRow("Windows-1251")
        << QByteArray("[\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xFB]\r\n\xC8\xEC\xFF=\xCF\xF0\xE8\xE2\xE5"
                      "\xF2\r\n")
        << "Параметры"
        << "имя"
        << "Привет";
    QTest::newRow("Windows-1251 signs")
        << QByteArray("[A]\r\nk=\xA8\xB8\xB9 \xCC\xE8\xF0\r\n") << "A"
        << "k"
        << "Ёё№ Мир";
    QTest::newRow("overlong UTF-8 means Windows-1251") << QByteArray("[A]\nk=\xC0\xAF\n") << "A"
                                                       << "k"
                                                       << "АЇ";
    QTest::newRow("cut UTF-8 at the end means Windows-1251") << QByteArray("[A]\nk=\xD0") << "A"
                                                             << "k"
                                                             << "Р";
    QTest::newRow("semicolon comment") << QByteArray("[A]\r\n;k=1\r\nk=2\r\n") << "A"
                                       << "k"
                                       << "2";
    QTest::newRow("hash comment") << QByteArray("[A]\r\n  # k=1\r\n") << "A"
                                  << "k"
                                  << "default";
    QTest::newRow("first duplicate wins") << QByteArray("[A]\nk=1\nk=2\n") << "A"
                                          << "k"
                                          << "1";
    QTest::newRow("repeated section, first key wins") << QByteArray("[A]\nk=1\n[A]\nk=2\n") << "A"
                                                      << "k"
                                                      << "1";
    QTest::newRow("repeated section is searched too")
        << QByteArray("[A]\nx=0\n[B]\nk=9\n[A]\nk=2\n") << "A"
        << "k"
        << "2";
    QTest::newRow("key before any section") << QByteArray("k=1\n[A]\n") << "A"
                                            << "k"
                                            << "default";
    QTest::newRow("equals sign inside value") << QByteArray("[A]\nk=a=b\n") << "A"
                                              << "k"
                                              << "a=b";
    QTest::newRow("semicolon inside value") << QByteArray("[A]\nk=5 ; note\n") << "A"
                                            << "k"
                                            << "5 ; note";
    QTest::newRow("double quotes dropped") << QByteArray("[A]\nk=\"  x \"\n") << "A"
                                           << "k"
                                           << "  x ";
    QTest::newRow("single quotes dropped") << QByteArray("[A]\nk='y'\n") << "A"
                                           << "k"
                                           << "y";
    QTest::newRow("unpaired quote kept") << QByteArray("[A]\nk=\"a\n") << "A"
                                         << "k"
                                         << "\"a";
    QTest::newRow("header without bracket") << QByteArray("[A\nk=v\n") << "A"
                                            << "k"
                                            << "v";
    QTest::newRow("line without equals ignored") << QByteArray("[A]\nk\nk=v\n") << "A"
                                                 << "k"
                                                 << "v";
    QTest::newRow("300 characters cut to 254") << "[A]\r\nk=" + longValue.toUtf8() + "\r\n"
                                               << "A"
                                               << "k" << longValue.left(254);
    QTest::newRow("one-megabyte line") << "[A]\r\nk=" + QByteArray(1 << 20, 'z') + "\r\nj=1\r\n"
                                       << "A"
                                       << "j"
                                       << "1";
    QTest::newRow("cut keeps a surrogate pair whole")
        << "[A]\nk=" + QByteArray(253, 'a') + "\xF0\x9F\x98\x80\n"
        << "A"
        << "k" << QString(253, u'a');
    QTest::newRow("empty key name is no key") << QByteArray("[A]\n=v\n") << "A"
                                              << ""
                                              << "default";
}

void TestIniFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("тп.ini"));
    writeBytes(file, content);
    QCOMPARE(ReadIniValue(file, section, key, QStringLiteral("default")), expected);
}

// Cross-check of the 1251 table with the converter Qt takes from ICU, when the build has one.
void TestIniFile::readWindows1251MatchesIcu()
{
    QStringDecoder icu("windows-1251");
    if (!icu.isValid())
        QSKIP("Qt has no Windows-1251 converter here");
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b) {
        if (b != 0x98)
            high += char(b);
    }
    const QString file = path(QStringLiteral("1251.ini"));
    writeBytes(file, "[A]\r\nk=" + high + "\r\n");
    QCOMPARE(ReadIniValue(file, "A", "k", "default"), QString(icu.decode(high)));
}

void TestIniFile::readBadFilesGivesDefault()
{
    QCOMPARE(ReadIniValue(path("missing.ini"), "PC config", "COM", "1"), QStringLiteral("1"));
    QCOMPARE(ReadIniValue(folder(), "PC config", "COM", "1"), QStringLiteral("1"));

    const QString binary = path("binary.ini");
    writeBytes(binary, QByteArray("[PC config]\r\nCOM=7\r\n\0\x01\x02", 23));
    QCOMPARE(ReadIniValue(binary, "PC config", "COM", "1"), QStringLiteral("1"));

    const QString utf16 = path("utf16.ini");
    const QString text = QStringLiteral("[PC config]\r\nCOM=7\r\n");
    writeBytes(utf16,
               QByteArray("\xFF\xFE") +
                   QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2));
    QCOMPARE(ReadIniValue(utf16, "PC config", "COM", "1"), QStringLiteral("1"));

    const QString huge = path("huge.ini");
    writeBytes(huge, "[PC config]\r\nCOM=7\r\n" + QByteArray(17 << 20, ';'));
    QCOMPARE(ReadIniValue(huge, "PC config", "COM", "1"), QStringLiteral("1"));
    QVERIFY(!WriteIniValue(huge, "PC config", "COM", "2"));
}

void TestIniFile::writeNewFile()
{
    const QString file = path("new.ini");
    QVERIFY(WriteIniValue(file, "PC config", "COM", "3"));
    QCOMPARE(readBytes(file), QByteArray("[PC config]\r\nCOM=3\r\n"));

    QVERIFY(WriteIniValue(file, "PC config", "Line", QStringLiteral("A\r\nB")));
    QVERIFY(WriteIniValue(file, "VRT config", "MBSLAD", QStringLiteral("Привет")));
    QCOMPARE(readBytes(file), QByteArray("[PC config]\r\nCOM=3\r\nLine=A  B\r\n\r\n"
                                         "[VRT config]\r\nMBSLAD=Привет\r\n"));
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("new.ini")});
}

void TestIniFile::writeKeepsEveryOtherByte_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QByteArray changed = kRichFile;
    changed.replace("  Com = 3   \n", "  Com = 4\n");
    QTest::newRow("existing key keeps its layout") << kRichFile << "pc config"
                                                   << "COM"
                                                   << "4" << changed;

    changed = kRichFile;
    changed.replace("Speed=115200\n", "Speed=115200\nParity=E\n");
    QTest::newRow("new key after the last key of its section") << kRichFile << "PC config"
                                                               << "Parity"
                                                               << "E" << changed;

    QTest::newRow("new section at the end, LF style") << kRichFile << "Extra"
                                                      << "x"
                                                      << "1" << kRichFile + "\n[Extra]\nx=1\n";

    QByteArray crlf = kRichFile;
    crlf.replace("\n", "\r\n");
    QByteArray crlfChanged = crlf;
    crlfChanged.replace("MBSLAD=1\r\n", "MBSLAD=1\r\nNew=2\r\n");
    QTest::newRow("CRLF file gets CRLF") << crlf << "VRT config"
                                         << "New"
                                         << "2" << crlfChanged;

    QTest::newRow("lone CR file gets CR") << QByteArray("[A]\rk=1\r") << "A"
                                          << "j"
                                          << "2" << QByteArray("[A]\rk=1\rj=2\r");
    QTest::newRow("last line without line end") << QByteArray("[A]\nk=1") << "A"
                                                << "j"
                                                << "2" << QByteArray("[A]\nk=1\nj=2\n");
    QTest::newRow("section without keys") << QByteArray("[A]\n\n[B]\n") << "A"
                                          << "k"
                                          << "v" << QByteArray("[A]\nk=v\n\n[B]\n");
    QTest::newRow("byte-order mark stays") << kBom + "[A]\r\nk=1\r\n"
                                           << "A"
                                           << "k"
                                           << "2" << kBom + "[A]\r\nk=2\r\n";
    QTest::newRow("first of duplicate keys changes") << QByteArray("[A]\nk=1\nk=2\n") << "A"
                                                     << "K"
                                                     << "3" << QByteArray("[A]\nk=3\nk=2\n");
    QTest::newRow("Windows-1251 file stays Windows-1251")
        << QByteArray("[A]\r\nname=\xCC\xE8\xF0\r\nk=1\r\n") << "A"
        << "k" << QStringLiteral("Привет")
        << QByteArray("[A]\r\nname=\xCC\xE8\xF0\r\nk=\xCF\xF0\xE8\xE2\xE5\xF2\r\n");
    QTest::newRow("value with outer blanks is quoted")
        << QByteArray("[A]\nk=1\n") << "A"
        << "k"
        << "230,5 " << QByteArray("[A]\nk=\"230,5 \"\n");
}

void TestIniFile::writeKeepsEveryOtherByte()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    const QString file = path("keep.ini");
    writeBytes(file, before);
    QVERIFY(WriteIniValue(file, section, key, value));
    QCOMPARE(readBytes(file), after);
    QCOMPARE(ReadIniValue(file, section, key, "default"), value);
}

void TestIniFile::writeRoundTrip_data()
{
    QTest::addColumn<QByteArray>("initial");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    const QByteArray cp1251("[A]\r\nx=\xCC\xE8\xF0\r\n");
    QTest::newRow("empty") << QByteArray() << ""
                           << "";
    QTest::newRow("shown number with blank") << QByteArray() << "230,5 "
                                             << "230,5 ";
    QTest::newRow("never filled box") << QByteArray() << "-"
                                      << "-";
    QTest::newRow("leading blanks and tabs") << QByteArray() << " \tx"
                                             << " \tx";
    QTest::newRow("quoted text") << QByteArray() << "\"q\""
                                 << "\"q\"";
    QTest::newRow("single-quoted text") << QByteArray() << "'s'"
                                        << "'s'";
    QTest::newRow("lone quote") << QByteArray() << "\""
                                << "\"";
    QTest::newRow("looks like a section") << QByteArray() << "[x]"
                                          << "[x]";
    QTest::newRow("looks like a comment") << QByteArray() << "; x=1"
                                          << "; x=1";
    QTest::newRow("line break becomes blanks") << QByteArray() << "\r\nA\nB\r"
                                               << "  A B ";
    QTest::newRow("emoji") << QByteArray() << "ok 😀"
                           << "ok 😀";
    QTest::newRow("254 characters") << QByteArray() << QString(254, u'я') << QString(254, u'я');
    QTest::newRow("300 characters read as 254")
        << QByteArray() << QString(300, u'q') << QString(254, u'q');
    QTest::newRow("Cyrillic in a Windows-1251 file") << cp1251 << "Ёжик № 5"
                                                     << "Ёжик № 5";
    QTest::newRow("blanks in a Windows-1251 file") << cp1251 << " Да "
                                                   << " Да ";
}

void TestIniFile::writeRoundTrip()
{
    QFETCH(QByteArray, initial);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    const QString file = path("roundtrip.ini");
    if (!initial.isEmpty())
        writeBytes(file, initial);
    QVERIFY(WriteIniValue(file, "Parameters", "PAR8", value));
    QCOMPARE(ReadIniValue(file, "Parameters", "PAR8", "default"), expected);
    QVERIFY(WriteIniValue(file, "Parameters", "PAR9", "next"));
    QCOMPARE(ReadIniValue(file, "Parameters", "PAR8", "default"), expected);
}

void TestIniFile::writeRefusals()
{
    const QString fresh = path("never.ini");
    QVERIFY(!WriteIniValue(fresh, "", "k", "v"));
    QVERIFY(!WriteIniValue(fresh, "A", "  ", "v"));
    QVERIFY(!WriteIniValue(fresh, "A", "a=b", "v"));
    QVERIFY(!WriteIniValue(fresh, "A", ";k", "v"));
    QVERIFY(!WriteIniValue(fresh, "A]B", "k", "v"));
    QVERIFY(!WriteIniValue(fresh, "A", "k\nj", "v"));
    QVERIFY(!WriteIniValue(fresh, "A", "k", QString(QChar(0))));
    QVERIFY(!WriteIniValue(fresh, "A", "k", QString(QChar(0xD800))));
    QVERIFY(!QFile::exists(fresh));

    const QByteArray cp1251("[A]\r\nk=\xCC\xE8\xF0\r\n");
    const QString file = path("1251.ini");
    writeBytes(file, cp1251);
    QVERIFY(!WriteIniValue(file, "A", "k", QStringLiteral("日本")));
    QCOMPARE(readBytes(file), cp1251);
}

void TestIniFile::writeRefusesUnwritablePlaces()
{
    const QString nested = path("no/such/folder/a.ini");
    QVERIFY(!WriteIniValue(nested, "A", "k", "v"));
    QVERIFY(!QDir(path("no")).exists());

    writeBytes(path("plain"), "x");
    QVERIFY(!WriteIniValue(path("plain/a.ini"), "A", "k", "v"));
    QVERIFY(!WriteIniValue(folder(), "A", "k", "v"));

    const QString readOnly = path("ro.ini");
    writeBytes(readOnly, "[A]\r\nk=1\r\n");
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup));
    QVERIFY(!WriteIniValue(readOnly, "A", "k", "2"));
    QCOMPARE(readBytes(readOnly), QByteArray("[A]\r\nk=1\r\n"));

    const QString kept = path("kept.ini");
    writeBytes(kept, "[A]\r\nk=1\r\n");
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(kept, mode));
    QVERIFY(WriteIniValue(kept, "A", "k", "2"));
    QCOMPARE(QFile::permissions(kept) & ~(QFile::ReadUser | QFile::WriteUser), mode);

    QStringList expectedFiles{"kept.ini", "plain", "ro.ini"};
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expectedFiles);
}

void TestIniFile::writeRefusesReadOnlyFolder()
{
    const QString lockedDir = path("locked");
    QVERIFY(QDir().mkdir(lockedDir));
    QVERIFY(QFile::setPermissions(lockedDir, QFile::ReadOwner | QFile::ExeOwner));
    QFile probe(lockedDir + "/probe");
    if (probe.open(QIODevice::WriteOnly))
        QSKIP("folder permissions are not enforced for this user");
    QVERIFY(!WriteIniValue(lockedDir + "/a.ini", "A", "k", "v"));
}

// Random bytes are no profile file, but a write must not lose or reorder any of them.
void TestIniFile::writeIntoGarbageKeepsIt()
{
    QRandomGenerator random(1251);
    const QString file = path("garbage.ini");
    for (int round = 0; round < 40; ++round) {
        QByteArray garbage(random.bounded(1, 4096), Qt::Uninitialized);
        for (char &c : garbage)
            c = char(random.bounded(1, 256));
        writeBytes(file, garbage);
        ReadIniValue(file, "Parameters", "PAR42", "default");
        QVERIFY(WriteIniValue(file, "Parameters", "PAR42", "17"));
        const QByteArray after = readBytes(file);
        QVERIFY(after.startsWith(garbage));
        QCOMPARE(ReadIniValue(file, "Parameters", "PAR42", "default"), QStringLiteral("17"));
    }
}

void TestIniFile::parameterSetAllOrNothing()
{
    const QString file = path("set.par");
    writeBytes(file, "; kept\r\n[Other]\r\nx=1\r\n[Parameters]\r\nPAR8=old\r\n");
    IniDocument doc;
    QVERIFY(doc.load(file));
    QByteArray expected = "; kept\r\n[Other]\r\nx=1\r\n[Parameters]\r\nPAR8=v8\r\n";
    QByteArray calibration = "\r\n[Calibration]\r\n";
    for (int i = 0; i <= 110; ++i) {
        const QString section = i < 8 ? "Calibration" : "Parameters";
        doc.setValue(section, "PAR" + QString::number(i), "v" + QString::number(i));
        const QByteArray line =
            "PAR" + QByteArray::number(i) + "=v" + QByteArray::number(i) + "\r\n";
        if (i < 8)
            calibration += line;
        else if (i > 8)
            expected += line;
    }
    expected += calibration;
    QCOMPARE(doc.value("parameters", "par8", "default"), QStringLiteral("v8"));
    QVERIFY(doc.contains("Calibration", "PAR7"));
    QVERIFY(!doc.contains("Calibration", "PAR8"));

    const QByteArray before = readBytes(file);
    IniDocument refused = doc;
    refused.setValue("Parameters", "PAR=", "bad");
    QVERIFY(!refused.save(file));
    QCOMPARE(readBytes(file), before);

    QVERIFY(doc.save(file));
    QCOMPARE(readBytes(file), expected);

    IniDocument unreadable;
    QVERIFY(!unreadable.load(folder()));
    unreadable.setValue("A", "k", "v");
    QVERIFY(!unreadable.save(file));
    QCOMPARE(readBytes(file), expected);
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
