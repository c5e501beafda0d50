#include "record/csvrecorder.h"
#include "record/statuscolumns.h"
#include "statusblock.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace vortan;
using vortan::test::StatusBlock;

namespace
{

// Synchroniser: only the set's frequency measured, so the bus and section values are "?".
StatusSnapshot KnownBlock()
{
    // clang-format off
    return DecodeStatusBlock(StatusBlock({{0, 0x0207}, {4, 2305}, {13, quint16(-987)}, {22, 0x0001},
        {19, 4999}, {28, 0x1E10}, {29, 0xABCD}, {34, 5000}, {42, quint16(-15)}, {63, 0x0003},
        {31, 0x0040}, {27, 0x0201}}));
    // clang-format on
}

QMap<QString, QString> Cells(const QString &row)
{
    const QStringList cells = row.split(QLatin1Char(';'));
    QMap<QString, QString> byKey;
    byKey.insert(QStringLiteral("time"), cells.value(0));
    for (size_t i = 0; i < StatusColumns().size(); ++i)
        byKey.insert(StatusColumns()[i].key, cells.value(int(i) + 1));
    return byKey;
}

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Data lines of a recording part (after the byte-order mark and the header).
int RowsIn(const QString &path)
{
    const QByteArray all = Bytes(path);
    return all.startsWith("\xEF\xBB\xBF\xD0\x92") && all.endsWith("\r\n")
               ? int(all.count("\r\n")) - 1
               : -1;
}

qint64 LocalMs(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)).toMSecsSinceEpoch();
}

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    qint64 m_now = 0;
    CsvRecorder::Clock clock()
    {
        return [this] { return m_now; };
    }

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void headerFromTheRegisterMap()
    {
        CsvRecorder recorder(clock());
        const QString path = m_dir.filePath(QStringLiteral("header.csv"));
        QVERIFY(recorder.start(path));
        const QStringList header = recorder.headerLine().split(QLatin1Char(';'));
        QCOMPARE(header.size(), 1 + int(StatusRegisterMap().count) + 3 * StatusUnits + 5);
        QCOMPARE(header[0], QStringLiteral("Время"));
        int i = 1;
        for (const RegisterField &f : StatusRegisterMap())
            QCOMPARE(header[i++], f.heading());
        QCOMPARE(header[3], QStringLiteral("U фазы A, В"));
        QVERIFY(header.contains(QStringLiteral("ЭА группы 7: Акт. P, кВт")));
        QCOMPARE(Bytes(path), "\xEF\xBB\xBF" + recorder.headerLine().toUtf8() + "\r\n");
    }

    void rowOfAKnownBlock_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("point");
        QTest::newRow("Russian") << QLocale(QLocale::Russian, QLocale::Russia) << ",";
        QTest::newRow("C") << QLocale::c() << ".";
    }

    void rowOfAKnownBlock()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, point);
        QLocale::setDefault(locale);
        CsvRecorder recorder(clock());
        QVERIFY(recorder.start(m_dir.filePath(QStringLiteral("row.csv"))));
        const StatusSnapshot s = KnownBlock();
        const auto cell = Cells(recorder.rowLine(LocalMs(2024, 5, 17, 14, 3, 22, 125), s));
        const auto p = [&point](const char *text) {
            return QString::fromUtf8(text).replace(QLatin1Char('.'), point);
        };

        QCOMPARE(cell[QStringLiteral("time")], p("2024-05-17 14:03:22.125"));
        QCOMPARE(cell[QStringLiteral("lbl_pr_ver")], QStringLiteral("2 .07"));
        QCOMPARE(cell[QStringLiteral("lbl_phAU")], p("230.5"));
        QCOMPARE(cell[QStringLiteral("lbl_cosfi")], p("-0.987"));
        QCOMPARE(cell[QStringLiteral("lbl_netfrt")], QString()); // "?" in the window
        QCOMPARE(cell[QStringLiteral("lbl_dng")], QString());
        QCOMPARE(cell[QStringLiteral("lbl_vfsf")], QStringLiteral("0x1E10ABCD"));
        QCOMPARE(cell[QStringLiteral("lbl_ext_maxpwr_0")], QStringLiteral("500"));
        QCOMPARE(cell[QStringLiteral("lbl_ext_actpwr_0")], p("-1.5"));
        QCOMPARE(cell[QStringLiteral("lbl_ext_cecsf_0")], QStringLiteral("АК"));
        QCOMPARE(cell[QStringLiteral("alarms")], QStringLiteral("0x00000040"));
        QCOMPARE(cell[QStringLiteral("inputs")], QStringLiteral("0x0201"));
        // A fraction's leading zero: 50,05 Hz is not 50,5 Hz, cos φ 0,045 is not 0,45.
        const auto small =
            Cells(recorder.rowLine(0, DecodeStatusBlock(StatusBlock({{13, 45}, {16, 5005}}))));
        QCOMPARE(small[QStringLiteral("lbl_cosfi")], p("0.045"));
        QCOMPARE(small[QStringLiteral("lbl_fr")], p("50.05"));

        // Every number is the window's text without its unit.
        int i = 0;
        for (const RegisterField &f : StatusRegisterMap()) {
            if (f.isNumber() && s.fields[size_t(i)].valid) {
                QString shown = s.fieldText(i).trimmed();
                shown.chop(int(qstrlen(f.unit)));
                QCOMPARE(cell[QString::fromLatin1(f.label)], shown.trimmed());
            }
            ++i;
        }
    }

    void handsRowsOverOncePerSecond()
    {
        CsvRecorder recorder(clock());
        const QString path = m_dir.filePath(QStringLiteral("flush.csv"));
        m_now = LocalMs(2024, 5, 17, 12, 0, 0, 0);
        QVERIFY(recorder.start(path));
        QVERIFY(recorder.append(KnownBlock()));
        m_now += 500;
        QVERIFY(recorder.append(KnownBlock()));
        m_now += 499;
        QVERIFY(recorder.flushIfDue());
        QCOMPARE(RowsIn(path), 0);
        m_now += 1;
        QVERIFY(recorder.flushIfDue());
        QCOMPARE(RowsIn(path), 2);
        m_now += 100;
        QVERIFY(recorder.append(KnownBlock()));
        QCOMPARE(RowsIn(path), 2);
        QVERIFY(recorder.stop());
        QCOMPARE(RowsIn(path), 3);
        QCOMPARE(recorder.rows(), 3);
    }

    void splitsAtSizeAndMidnightIntoNewParts()
    {
        CsvRecorder recorder(clock());
        const QString path = m_dir.filePath(QStringLiteral("split.csv"));
        const QString taken = m_dir.filePath(QStringLiteral("split-3.csv"));
        QFile older(taken);
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("older recording");
        older.close();

        m_now = LocalMs(2024, 5, 17, 23, 59, 58, 0);
        const qint64 headerBytes = 3 + recorder.headerLine().toUtf8().size() + 2;
        const qint64 rowBytes = recorder.rowLine(m_now, KnownBlock()).toUtf8().size() + 2;
        recorder.setSplitBytes(headerBytes + 2 * rowBytes + rowBytes / 2);
        QVERIFY(recorder.start(path));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(recorder.append(KnownBlock()));
            m_now += 500;
        }
        m_now = LocalMs(2024, 5, 18, 0, 0, 0, 100);
        QVERIFY(recorder.append(KnownBlock()));
        QVERIFY(recorder.stop());

        const QStringList parts{path, m_dir.filePath(QStringLiteral("split-2.csv")),
                                m_dir.filePath(QStringLiteral("split-4.csv"))};
        QCOMPARE(recorder.files(), parts);
        QCOMPARE(RowsIn(parts[0]), 2);
        QCOMPARE(RowsIn(parts[1]), 1); // the size limit
        QCOMPARE(RowsIn(parts[2]), 1); // midnight
        QVERIFY(Bytes(parts[2]).contains("2024-05-18 00:00:00.100"));
        QCOMPARE(Bytes(taken), QByteArray("older recording"));
        QCOMPARE(recorder.rows(), 4);
    }

    void fileThatCannotBeCreated()
    {
        CsvRecorder recorder(clock());
        QVERIFY(!recorder.start(m_dir.filePath(QStringLiteral("missing/x.csv"))));
        QVERIFY(!recorder.isRecording());
        QVERIFY(recorder.error().contains(QStringLiteral("Невозможно создать файл")));
        QVERIFY(!recorder.append(KnownBlock()));
    }

    void fullDiskStopsAndKeepsWholeRows()
    {
        CsvRecorder recorder(clock());
        const QString path = m_dir.filePath(QStringLiteral("full.csv"));
        const qint64 headerBytes = 3 + recorder.headerLine().toUtf8().size() + 2;
        const qint64 rowBytes = recorder.rowLine(m_now, KnownBlock()).toUtf8().size() + 2;
        QVERIFY(recorder.start(path));

        // The file size limit makes the system refuse writes past it, as a full disk does.
        struct rlimit saved = {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved;
        limit.rlim_cur = rlim_t(headerBytes + 2 * rowBytes + rowBytes / 2);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool ok = true;
        int appended = 0;
        for (; appended < 5 && ok; ++appended) {
            m_now += 1000;
            ok = recorder.append(KnownBlock());
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        QVERIFY(!ok);
        QCOMPARE(appended, 3);
        QVERIFY(!recorder.isRecording());
        QVERIFY2(recorder.error().contains(QStringLiteral("Сохранено строк: 2")),
                 qPrintable(recorder.error()));
        QCOMPARE(RowsIn(path), 2);
        QCOMPARE(QFileInfo(path).size(), headerBytes + 2 * rowBytes);
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
