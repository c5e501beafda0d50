#include "config/inifile.h"
#include "paramreplies.h"
#include "params/paramset.h"

#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

// One digit per value: the ParamState of each of the 111.
QString States(const ParamSet &set)
{
    QString digits;
    for (int i = 0; i < ParamTable::Count; ++i)
        digits += QChar(u'0' + int(set.state(i)));
    return digits;
}

QString All(ParamState state)
{
    return QString(ParamTable::Count, QChar(u'0' + int(state)));
}

} // namespace

Q_DECLARE_METATYPE(vortan::ParamState)

class TestParamSet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

    void readEditAndWrite()
    {
        ParamSet set;
        RequestQueue queue;
        QSignalSpy changed(&set, &ParamSet::valueChanged);
        // Nothing read yet: no value holds a number and nothing is queued.
        const WriteAllResult refused = set.writeAll(queue);
        QCOMPARE(refused.status, TransferStatus::NoNumber);
        QCOMPARE(refused.emptyBoxes.size(), ParamTable::Count);
        QVERIFY(queue.isEmpty());
        QCOMPARE(set.readAll(queue), TransferStatus::Queued);
        QCOMPARE(queue.waiting(), 20);
        QCOMPARE(States(set), All(ParamState::NotRead));

        QCOMPARE(set.applyReply(ParamReply(100, 0, 4, bytes({0x09, 0x01, 0x08, 0xFC}))), 2);
        QCOMPARE(set.texts().mid(0, 3), (QStringList{"230,5 ", "230 ", "-"}));
        QCOMPARE(States(set).left(3), QStringLiteral("110"));
        QCOMPARE(changed.count(), 2);

        set.edit(2, QStringLiteral("x"));
        QCOMPARE(set.writeOne(queue, 2), TransferStatus::NoNumber);
        set.edit(40, QStringLiteral("12,6"));
        QCOMPARE(set.writeOne(queue, 40), TransferStatus::Queued);
        QCOMPARE(slotBytes(queue.slotAt(queue.writeIndex() - 1)), bytes({0, 101, 0, 54, 1, 13}));
        QCOMPARE(queue.waiting(), 21);
        QVERIFY(set.state(2) == ParamState::Edited && set.state(40) == ParamState::Written);

        // One value without a number holds back the whole set.
        for (int i = 0; i < ParamTable::Count; ++i)
            set.edit(i, i == 57 ? QStringLiteral("-") : QStringLiteral("3"));
        QVERIFY(!set.isComplete());
        QCOMPARE(set.writeAll(queue).emptyBoxes, QVector<int>{57});
        QCOMPARE(queue.waiting(), 21);
        QCOMPARE(States(set), All(ParamState::Edited));
        set.edit(57, QStringLiteral("3"));
        QCOMPARE(set.writeAll(queue).status, TransferStatus::Queued);
        QCOMPARE(queue.waiting(), 21 + 22);
        QCOMPARE(slotBytes(queue.slotAt(queue.writeIndex() - 1)), bytes({0, 101, 0, 55, 1, 3}));
        QCOMPARE(States(set), All(ParamState::Written));

        set.reset();
        QCOMPARE(set.texts(), QStringList(ParamTable::Count, QStringLiteral("-")));
        QCOMPARE(States(set), All(ParamState::NotRead));
    }

    void saveAndLoadGiveBackEveryText()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("set.ini"));
        ParamSet set;
        for (int i = 0; i < ParamTable::Count; ++i)
            set.edit(i, QStringLiteral("%1,5 ").arg(i));
        QVERIFY(!set.save(dir.path()));
        QCOMPARE(States(set), All(ParamState::Edited));
        QVERIFY(set.save(path));
        QCOMPARE(States(set), All(ParamState::FromFile));
        QCOMPARE(ReadIniValue(path, "Calibration", "PAR7", "-"), QStringLiteral("7,5 "));
        QCOMPARE(ReadIniValue(path, "Parameters", "PAR8", "-"), QStringLiteral("8,5 "));
        QCOMPARE(ReadIniValue(path, "Calibration", "PAR8", "-"), QStringLiteral("-"));

        ParamFileSet file;
        QVERIFY(ReadParamSet(path, file));
        ParamSet loaded;
        loaded.load(file);
        QCOMPARE(loaded.texts(), set.texts());
        QCOMPARE(States(loaded), All(ParamState::FromFile));
    }

    // Parameter 8, the first of section "Parameters", against one line of a file.
    void compareJudgesNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<ParamState>("state");
        QTest::newRow("same number") << "1" << QByteArray("PAR8=1") << ParamState::Equal;
        QTest::newRow("point and comma") << "12.5" << QByteArray("PAR8=12,5") << ParamState::Equal;
        QTest::newRow("shown text") << "12,5 " << QByteArray("PAR8=12,5") << ParamState::Equal;
        QTest::newRow("percent") << "12,5 %" << QByteArray("PAR8=12.5") << ParamState::Equal;
        QTest::newRow("other number") << "12,6 " << QByteArray("PAR8=12,5") << ParamState::Differs;
        QTest::newRow("no number either side")
            << "-" << QByteArray("PAR8=abc") << ParamState::Equal;
        QTest::newRow("no key") << "1" << QByteArray("PAR9=1") << ParamState::Missing;
        QTest::newRow("default means absent")
            << "0" << QByteArray("PAR8=default") << ParamState::Missing;
        QTest::newRow("other section")
            << "1" << QByteArray("[Calibration]\nPAR8=1") << ParamState::Missing;
    }
    void compareJudgesNumbers()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, line);
        QFETCH(ParamState, state);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hand.ini"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[Parameters]\n" + line + '\n') > 0);
        f.close();
        ParamFileSet file;
        QVERIFY(ReadParamSet(path, file));
        ParamSet set;
        set.edit(8, text);
        set.compare(file);
        QCOMPARE(set.state(8), state);
        QCOMPARE(set.text(8), text);

        set.load(file);
        const bool missing = state == ParamState::Missing;
        QCOMPARE(set.state(8), missing ? ParamState::Missing : ParamState::FromFile);
        QCOMPARE(set.text(8), missing ? text : QString::fromUtf8(line.mid(5)));
        QCOMPARE(set.state(0), ParamState::Missing);
    }
};

QTEST_GUILESS_MAIN(TestParamSet)
#include "tst_paramset.moc"
