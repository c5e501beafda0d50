#include "modbus/tracefile.h"

#include <QtTest>

using namespace vortan;

Q_DECLARE_METATYPE(vortan::ExchangeRecord)

namespace
{

ExchangeRecord exchange(const char *request, const char *reply, Verdict verdict, qint64 replyUs)
{
    ExchangeRecord r;
    r.msecsSinceEpoch = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 42)).toMSecsSinceEpoch();
    r.request = QByteArray::fromHex(request);
    r.reply = QByteArray::fromHex(reply);
    r.bytesReceived = int(r.reply.size());
    r.verdict = verdict;
    r.replyTimeUs = replyUs;
    return r;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTraceFile : public QObject
{
    Q_OBJECT

private slots:
    // Tab-separated fields that awk -F'\t' can pick: time, request, reply, verdict, reply time
    // in milliseconds, repeat.
    void traceLineFields_data()
    {
        QTest::addColumn<ExchangeRecord>("record");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("good") << exchange("010407D00048F0B1", "01060FA1CBD08D90", Verdict::Good,
                                          13456)
                              << QStringList{"01 04 07 D0 00 48 F0 B1", "01 06 0F A1 CB D0 8D 90",
                                             "good", "13.456", "-"};
        ExchangeRecord silent = exchange("010407D00048F0B1", "", Verdict::NoReply, -1);
        silent.repeat = true;
        QTest::newRow("silence, repeated")
            << silent << QStringList{"01 04 07 D0 00 48 F0 B1", "-", "noreply", "-", "repeat"};
        QTest::newRow("exception")
            << exchange("0164", "01E4024A", Verdict::Exception, 2000)
            << QStringList{"01 64", "01 E4 02 4A", "exception:2", "2.000", "-"};
    }
    void traceLineFields()
    {
        QFETCH(ExchangeRecord, record);
        QFETCH(QStringList, fields);
        const QStringList line = TraceLine(record).split(QLatin1Char('\t'));
        QCOMPARE(line.mid(1), fields);
        const QDateTime time = QDateTime::fromString(line.at(0), Qt::ISODateWithMs);
        QCOMPARE(time.toMSecsSinceEpoch(), record.msecsSinceEpoch);
        QVERIFY2(line.at(0).contains(QStringLiteral("T14:07:09.042")), qPrintable(line.at(0)));
    }

    // Lines are appended after what the file held, behind a column line; they reach the file
    // within about a second even while exchanges keep coming, and all of them at the end.
    void appendsAndFlushes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("trace.txt"));
        QFile before(path);
        QVERIFY(before.open(QIODevice::WriteOnly) && before.write("earlier\n") == 8);
        before.close();
        const ExchangeRecord good = exchange("010407D00048F0B1", "0104", Verdict::Short, 800);
        {
            TraceFile trace(path);
            QVERIFY(trace.open());
            trace.exchanged(good);
            ExchangeRecord idle;
            QDeadlineTimer deadline(5000);
            while (!contents(path).contains("short") && !deadline.hasExpired())
                trace.exchanged(idle);
            QVERIFY(contents(path).contains("short"));
            trace.exchanged(good);
        }
        const QList<QByteArray> lines = contents(path).split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0), QByteArray("earlier"));
        QCOMPARE(lines.at(1), TraceHeader().toUtf8());
        QCOMPARE(lines.at(2), TraceLine(good).toLatin1());
        QCOMPARE(lines.at(3), lines.at(2));
        QCOMPARE(lines.at(4), QByteArray());
    }

    // A file that cannot be opened, or one that fills up, is reported once; later exchanges are
    // taken without complaint.
    void unwritableFileIsReportedOnce_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing folder") << QStringLiteral("/nonexistent-folder/trace.txt");
        QTest::newRow("full device") << QStringLiteral("/dev/full");
    }
    void unwritableFileIsReportedOnce()
    {
        QFETCH(QString, path);
        TraceFile trace(path);
        QStringList reports;
        trace.onFailure = [&reports](const QString &message) { reports << message; };
        QCOMPARE(trace.open(), false);
        QCOMPARE(reports,
                 QStringList{QStringLiteral("Файл трассировки %1 не записывается").arg(path)});
        for (int i = 0; i < 3; ++i) {
            trace.exchanged(exchange("0104", "", Verdict::NoReply, -1));
            trace.flush();
        }
        QVERIFY(!trace.open());
        QCOMPARE(reports.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTraceFile)
#include "tst_tracefile.moc"
