#include "journal/eventjournal.h"
#include "journal/journalfile.h"
#include "journal/journalrows.h"
#include "params/paramtable.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace vortan;

namespace
{

const QByteArray Bom = "\xEF\xBB\xBF";
const QByteArray Header =
    Bom + QStringLiteral("Время;Событие;Группа;Сигнал;Первопричина\r\n").toUtf8();
const QByteArray StatusPoll = QByteArray::fromHex("010407D00048");

// A journal on a clock the test moves, keeping every row it adds.
struct Journal {
    qint64 now = 0;
    EventJournal journal{[this] { return now; }};
    QList<JournalEvent> rows;
    Journal()
    {
        QObject::connect(&journal, &EventJournal::added,
                         [this](const JournalEvent &e) { rows << e; });
    }
    void status(qint64 at, const StatusSnapshot &s)
    {
        now = at;
        journal.observeStatus(s);
    }
    void exchange(qint64 at, const QByteArray &request, Verdict verdict, bool repeat = false,
                  const QByteArray &reply = {})
    {
        ExchangeRecord r;
        r.msecsSinceEpoch = at;
        r.request = request;
        r.verdict = verdict;
        r.repeat = repeat;
        r.reply = reply;
        r.bytesReceived = int(reply.size());
        journal.exchanged(r);
    }
    // "event|group|signal|first-out" of each row from `from` on.
    QStringList texts(int from = 0) const
    {
        QStringList t;
        for (int i = from; i < rows.size(); ++i)
            t << QStringList{rows[i].event, JournalGroupName(rows[i].group), rows[i].signal,
                             rows[i].firstOut ? QStringLiteral("да") : QString()}
                     .join(QLatin1Char('|'));
        return t;
    }
};

QString Row(const QString &event, const char *group, const QString &signal, bool firstOut = false)
{
    return QStringList{event, QString::fromUtf8(group), signal,
                       firstOut ? QStringLiteral("да") : QString()}
        .join(QLatin1Char('|'));
}

QString Alarm(int lamp)
{
    return QString::fromUtf8(AlarmName(lamp));
}

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

JournalEvent Event(qint64 msecs, const QString &signal)
{
    return JournalEvent{msecs, QStringLiteral("появилось"), JournalGroup::Alarm, signal, false};
}

} // namespace

class TstEventJournal : public QObject
{
    Q_OBJECT

private slots:
    // Two alarms 500 ms apart and cleared: four rows, the first-out one the first to appear after
    // a quiet block; a controller already in alarm at the start has no first-out.
    void alarmsInOrderWithFirstOut()
    {
        Journal j;
        StatusSnapshot s;
        j.status(0, s);
        s.alarms = 1u << 8;
        j.status(1000, s);
        s.alarms |= 1u << 20;
        s.alarms1 = 0xFFFFFFFCu; // bits the window does not show
        j.status(1500, s);
        s.alarms = 0;
        j.status(3000, s);
        QCOMPARE(j.texts(), (QStringList{Row(QStringLiteral("появилось"), "Авария", Alarm(8), true),
                                         Row(QStringLiteral("появилось"), "Авария", Alarm(20)),
                                         Row(QStringLiteral("исчезло"), "Авария", Alarm(8)),
                                         Row(QStringLiteral("исчезло"), "Авария", Alarm(20))}));
        QCOMPARE(j.rows[1].msecsSinceEpoch - j.rows[0].msecsSinceEpoch, 500);

        Journal started;
        s.alarms = (1u << 19) | (1u << 31);
        started.status(0, s);
        QCOMPARE(started.texts(),
                 (QStringList{Row(QStringLiteral("появилось"), "Авария",
                                  QStringLiteral("Без названия (бит 19)")),
                              Row(QStringLiteral("появилось"), "Авария", Alarm(31))}));
    }

    void otherLampGroups_data()
    {
        QTest::addColumn<int>(
            "word"); // 0 warnings, 1 warnings1, 2 flags, 3 conflict, 4 inputs, 5 alarms1
        QTest::addColumn<int>("bit");
        QTest::addColumn<QString>("group"); // empty: no row
        QTest::addColumn<QString>("signal");
        QTest::newRow("warning") << 0 << 8 << QStringLiteral("Неисправность") << Alarm(8);
        QTest::newRow("second warning word")
            << 1 << 1 << QStringLiteral("Неисправность") << QString::fromUtf8(Alarm1Name(1));
        QTest::newRow("flag lamp 13 is bit 18")
            << 2 << 18 << QStringLiteral("Флаги") << QString::fromUtf8(ControlFlagName(13));
        QTest::newRow("flag bit 13 has no lamp") << 2 << 13 << QString() << QString();
        QTest::newRow("priority conflict")
            << 3 << 0 << QStringLiteral("Флаги")
            << QStringLiteral("На шине уже есть устройство(а) с тем же приоритетом");
        QTest::newRow("input") << 4 << 9 << QStringLiteral("Входы")
                               << QString::fromUtf8(DiscreteInputName(9));
        QTest::newRow("input bit 10 has no lamp") << 4 << 10 << QString() << QString();
        QTest::newRow("second alarm word bit 2") << 5 << 2 << QString() << QString();
    }

    void otherLampGroups()
    {
        QFETCH(int, word);
        QFETCH(int, bit);
        QFETCH(QString, group);
        QFETCH(QString, signal);
        Journal j;
        StatusSnapshot s;
        j.status(0, s);
        const quint32 mask = 1u << bit;
        switch (word) {
        case 0:
            s.warnings = mask;
            break;
        case 1:
            s.warnings1 = mask;
            break;
        case 2:
            s.controlFlags = mask;
            break;
        case 3:
            s.nodeConflict = true;
            break;
        case 4:
            s.discreteInputs = quint16(mask);
            break;
        default:
            s.alarms1 = mask;
            break;
        }
        j.status(100, s);
        j.status(200, StatusSnapshot());
        const QStringList expected =
            group.isEmpty()
                ? QStringList()
                : QStringList{QStringList{QStringLiteral("появилось"), group, signal, {}}.join(
                                  QLatin1Char('|')),
                              QStringList{QStringLiteral("исчезло"), group, signal, {}}.join(
                                  QLatin1Char('|'))};
        QCOMPARE(j.texts(), expected);
    }

    // A second of failed or idle exchanges loses the link; the next good reply restores it and
    // the lamps that are on are listed again.
    void linkLostAndRestored()
    {
        Journal j;
        StatusSnapshot s;
        s.discreteInputs = 1;
        j.exchange(0, StatusPoll, Verdict::Good);
        j.status(0, s);
        for (qint64 t = 40; t < 1000; t += 40)
            j.exchange(t, StatusPoll, Verdict::NoReply, true);
        QCOMPARE(j.rows.size(), 1);
        j.exchange(1000, StatusPoll, Verdict::BadCrc, true);
        j.exchange(1040, StatusPoll, Verdict::NoReply, true);
        j.status(1080, s);
        j.exchange(1080, StatusPoll, Verdict::Good, true);
        for (qint64 t = 1120; t <= 2080; t += 40)
            j.exchange(t, {}, Verdict::NoReply); // the port closed
        const QString link = QStringLiteral("Связь с контроллером");
        const QString input = QString::fromUtf8(DiscreteInputName(0));
        QCOMPARE(j.texts(), (QStringList{Row(QStringLiteral("появилось"), "Входы", input),
                                         Row(QStringLiteral("потеряна"), "Связь", link),
                                         Row(QStringLiteral("восстановлена"), "Связь", link),
                                         Row(QStringLiteral("появилось"), "Входы", input),
                                         Row(QStringLiteral("потеряна"), "Связь", link)}));
        QCOMPARE(j.rows[1].msecsSinceEpoch, 1000);
        QCOMPARE(j.rows.last().msecsSinceEpoch, 2080);
    }

    // Commands named by their buttons: taken, refused with the code, unanswered said once.
    void commandsAndParameters()
    {
        Journal j;
        const QByteArray reset = QByteArray::fromHex("01060FA1CBD0");
        const QByteArray highest = QByteArray::fromHex("01060FA1F1A5");
        const QByteArray done = QByteArray::fromHex("01060FA1AD5E");
        j.exchange(0, reset, Verdict::Good, false, reset);
        j.exchange(40, highest, Verdict::Exception, false, QByteArray::fromHex("018602"));
        j.exchange(80, done, Verdict::NoReply);
        j.exchange(120, done, Verdict::NoReply, true);
        j.exchange(160, StatusPoll, Verdict::Good);
        j.journal.paramWritten(ParamTable::DeviceAddressIndex, QStringLiteral("1 "),
                               QStringLiteral("2 "));
        const ParamTable table;
        QCOMPARE(
            j.texts(),
            (QStringList{
                Row(QStringLiteral("отправлена"), "Команда", QStringLiteral("Сброс аварий")),
                Row(QStringLiteral("принята"), "Команда", QStringLiteral("Сброс аварий")),
                Row(QStringLiteral("отправлена"), "Команда",
                    QStringLiteral("Уст. высший приоритет")),
                Row(QStringLiteral("отклонена, код 2"), "Команда",
                    QStringLiteral("Уст. высший приоритет")),
                Row(QStringLiteral("отправлена"), "Команда", QStringLiteral("Уст. пр. завершена")),
                Row(QStringLiteral("нет ответа"), "Команда", QStringLiteral("Уст. пр. завершена")),
                Row(QStringLiteral("записан: 1 → 2"), "Параметры",
                    table.caption(ParamTable::DeviceAddressIndex))}));
    }

    // One file for the command line, never over an existing one; daily files continued when
    // ours, a foreign file of the day's name left alone.
    void files()
    {
        QTemporaryDir dir;
        const qint64 day = QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0, 125)).toMSecsSinceEpoch();
        const QString single = dir.filePath(QStringLiteral("j.csv"));
        {
            JournalFile file;
            QVERIFY(file.startSingle(single));
            QVERIFY(file.append(Event(day, QStringLiteral("a;\"b\""))));
        }
        const QByteArray written = Bytes(single);
        QCOMPARE(written, Header + QStringLiteral("%1;появилось;Авария;\"a;\"\"b\"\"\";\r\n")
                                       .arg(JournalTimeText(day))
                                       .toUtf8());
        JournalFile again;
        QVERIFY(!again.startSingle(single));
        QVERIFY(again.error().contains(QStringLiteral("уже существует")));
        QCOMPARE(Bytes(single), written);

        const QString daily = dir.filePath(QStringLiteral("journal"));
        for (const char *signal : {"first", "second"}) {
            JournalFile file;
            QVERIFY(file.startDaily(daily));
            QVERIFY(file.append(Event(day, QString::fromLatin1(signal))));
            QCOMPARE(file.currentFile(), QDir(daily).filePath(QStringLiteral("2026-12-07.csv")));
        }
        const QByteArray both = Bytes(QDir(daily).filePath(QStringLiteral("2026-12-07.csv")));
        QVERIFY(both.startsWith(Header) && both.endsWith("second;\r\n"));
        QCOMPARE(both.count("\r\n"), 3);
        QCOMPARE(both.count(Bom), 1);

        const QString other = dir.filePath(QStringLiteral("other"));
        QVERIFY(QDir().mkpath(other));
        const QByteArray foreign = Bom + "Время;U\r\n1;2\r\n";
        QFile f(QDir(other).filePath(QStringLiteral("2026-12-07.csv")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(foreign) == foreign.size());
        f.close();
        JournalFile file;
        QVERIFY(file.startDaily(other));
        QVERIFY(file.append(Event(day, QStringLiteral("x"))));
        QCOMPARE(Bytes(f.fileName()), foreign);
        QVERIFY(Bytes(QDir(other).filePath(QStringLiteral("2026-12-07-2.csv"))).startsWith(Header));
    }

    void rowsKeepTheLatest()
    {
        JournalRows rows;
        for (int i = 0; i <= JournalRows::MaxRows; ++i)
            rows.append(Event(i, QString::number(i)));
        QCOMPARE(rows.rowCount(), JournalRows::MaxRows);
        QCOMPARE(rows.index(0, SignalColumn).data().toString(), QStringLiteral("1"));
        QCOMPARE(rows.index(rows.rowCount() - 1, SignalColumn).data().toString(),
                 QString::number(JournalRows::MaxRows));
        QCOMPARE(rows.headerData(FirstOutColumn, Qt::Horizontal).toString(),
                 QStringLiteral("Первопричина"));
    }
};

QTEST_GUILESS_MAIN(TstEventJournal)
#include "tst_eventjournal.moc"
