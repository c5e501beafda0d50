#include "diagnostics/monitorwindow.h"
#include "modbus/linkstats.h"
#include "shell/application.h"

#include "fakeseriallink.h"
#include "scriptedmessages.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace vortan;
using vortan::test::FakeSerialLink;
using vortan::test::ScriptedMessages;

Q_DECLARE_METATYPE(vortan::ExchangeRecord)

namespace
{

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Crc16Modbus(body);
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

const QByteArray StatusPoll = QByteArray::fromHex("010407D00048F0B1");
const QByteArray ResetAlarms = QByteArray::fromHex("01060FA1CBD08D90");

ExchangeRecord exchange(const QByteArray &request, const QByteArray &reply, Verdict verdict,
                        qint64 replyUs = -1)
{
    ExchangeRecord r;
    r.msecsSinceEpoch = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 42)).toMSecsSinceEpoch();
    r.request = request;
    r.reply = reply;
    r.bytesReceived = int(reply.size());
    r.verdict = verdict;
    r.replyTimeUs = replyUs;
    r.port = 1;
    return r;
}

ExchangeRecord ofFunction(int function)
{
    return exchange(QByteArray::fromHex("01") + char(function), {}, Verdict::NoReply);
}

struct Monitor {
    LinkStats stats;
    ScriptedMessages messages;
    MonitorWindow window;
    QTableView *table = window.findChild<QTableView *>(QStringLiteral("tbl_exchanges"));

    explicit Monitor(int capacity = ExchangeLogModel::DefaultCapacity)
        : window(stats, messages, nullptr, capacity)
    {
    }
    void add(const ExchangeRecord &r)
    {
        stats.exchanged(r);
        window.exchanged(r);
    }
    int rows() const { return table->model()->rowCount(); }
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return table->model()->index(row, column).data(role);
    }
    template <class T>
    T *find(const char *name) const
    {
        return window.findChild<T *>(QString::fromLatin1(name));
    }
};

} // namespace

class TestMonitorWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    // Each verdict as a row: function, request in the controller's terms, bytes, verdict text
    // and colour, reply time. Replies of any bytes never change the request's description.
    void rowOfEachVerdict_data()
    {
        QTest::addColumn<ExchangeRecord>("record");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QColor>("colour");
        const QByteArray statusReply = withCrc(QByteArray::fromHex("010490") + QByteArray(144, 0));
        const QString time = QStringLiteral("14:07:09.042");
        const QString poll = QStringLiteral("01 04 07 D0 00 48 F0 B1");
        QTest::newRow("good") << exchange(StatusPoll, statusReply, Verdict::Good, 13456)
                              << QStringList{time,
                                             "4",
                                             "Чтение состояния",
                                             "Норма",
                                             "13,5",
                                             poll,
                                             statusReply.toHex(' ').toUpper()}
                              << QColor(0xC6, 0xEF, 0xCE);
        // A babbling line: 700 bytes in one tick, the first 300 of them kept for the table.
        ExchangeRecord repeat = exchange(ResetAlarms, QByteArray(300, '3'), Verdict::BadCrc, 9000);
        repeat.repeat = true;
        repeat.bytesReceived = 700;
        QTest::newRow("CRC mismatch, repeated")
            << repeat
            << QStringList{time,
                           "6",
                           "Команда: Сброс аварий (повтор)",
                           "Несовпадение КС",
                           "9,0",
                           "01 06 0F A1 CB D0 8D 90",
                           repeat.reply.toHex(' ') + " … (700 байт)"}
            << QColor(0xFF, 0xC7, 0xCE);
        QTest::newRow("silence") << exchange(QByteArray::fromHex("0164002D0131"), {},
                                             Verdict::NoReply)
                                 << QStringList{time,
                                                "100",
                                                "Чтение параметров 45..45",
                                                "Нет ответа",
                                                "",
                                                "01 64 00 2D 01 31",
                                                ""}
                                 << QColor(0xD9, 0xD9, 0xD9);
        QTest::newRow("short")
            << exchange(StatusPoll, QByteArray::fromHex("01"), Verdict::Short, 700)
            << QStringList{time, "4", "Чтение состояния", "Неполный ответ: 1 байт", "0,7",
                           poll, "01"}
            << QColor(0xFF, 0xE0, 0xB2);
        QTest::newRow("exception")
            << exchange(StatusPoll, withCrc(QByteArray::fromHex("018402")), Verdict::Exception,
                        5000)
            << QStringList{time,  "4",  "Чтение состояния", "Нарушение протокола, код: 2",
                           "5,0", poll, "01 84 02 C2 C1"}
            << QColor(0xBD, 0xD7, 0xEE);
        QTest::newRow("bytes without a request")
            << exchange({}, QByteArray::fromHex("FF"), Verdict::Short)
            << QStringList{time, "-", "Нет запроса", "Неполный ответ: 1 байт", "", "", "FF"}
            << QColor(0xFF, 0xE0, 0xB2);
    }
    void rowOfEachVerdict()
    {
        QFETCH(ExchangeRecord, record);
        QFETCH(QStringList, cells);
        QFETCH(QColor, colour);
        Monitor m;
        m.add(record);
        m.window.flushRows();
        QCOMPARE(m.rows(), 1);
        QStringList shown;
        for (int c = 0; c < ExchangeLogModel::Columns; ++c)
            shown << m.cell(0, c).toString();
        QCOMPARE(shown, cells);
        QCOMPARE(m.cell(0, ExchangeLogModel::Result, Qt::BackgroundRole).value<QColor>(), colour);
        QCOMPARE(m.cell(0, ExchangeLogModel::Result, Qt::ForegroundRole).value<QColor>(),
                 QColor(Qt::black));
    }

    // Pause holds new exchanges out of the table and says how many; the filter hides the
    // routine polls; the ring keeps the newest rows only.
    void pauseFilterAndRing()
    {
        Monitor m(5);
        for (int f : {4, 6, 23})
            m.add(ofFunction(f));
        m.window.flushRows();
        auto *hide = m.find<QCheckBox>("chk_hide_polls");
        hide->setChecked(true);
        QCOMPARE(m.rows(), 1);
        QCOMPARE(m.cell(0, ExchangeLogModel::Function).toString(), QStringLiteral("6"));
        hide->setChecked(false);

        auto *pause = m.find<QPushButton>("btn_pause");
        pause->click();
        QCOMPARE(pause->text(), QStringLiteral("Продолжить"));
        m.add(ofFunction(100));
        m.add(ofFunction(101));
        m.window.refreshStats();
        m.window.flushRows();
        QCOMPARE(m.rows(), 3);
        QCOMPARE(m.find<QLabel>("lbl_monitor_note")->text(),
                 QStringLiteral("Пауза: не показано обменов: 2"));
        QCOMPARE(m.find<QLabel>("lbl_stat_exchanges")->text(), QStringLiteral("5"));

        pause->click();
        QCOMPARE(pause->text(), QStringLiteral("Пауза"));
        for (int f : {100, 101, 100, 101})
            m.add(ofFunction(f));
        m.window.flushRows();
        QStringList functions;
        for (int row = 0; row < m.rows(); ++row)
            functions << m.cell(row, ExchangeLogModel::Function).toString();
        QCOMPARE(functions, (QStringList{"23", "100", "101", "100", "101"}));

        m.find<QPushButton>("btn_clear")->click();
        QCOMPARE(m.rows(), 0);
    }

    // The saved file holds the rows the table shows, cell by cell; a file that cannot be
    // written brings up one message box.
    void saveTable()
    {
        Monitor m;
        m.add(exchange(StatusPoll, {}, Verdict::NoReply));
        m.add(exchange(ResetAlarms, ResetAlarms, Verdict::Good, 4000));
        m.find<QCheckBox>("chk_hide_polls")->setChecked(true);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("обмен.txt"));
        QVERIFY(m.window.saveTable(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("# ")));
        QStringList row;
        for (int c = 0; c < ExchangeLogModel::Columns; ++c)
            row << m.cell(0, c).toString();
        QCOMPARE(lines.at(1).split(QLatin1Char('\t')).first(), QStringLiteral("Время"));
        QCOMPARE(lines.at(2), row.join(QLatin1Char('\t')));
        QVERIFY(m.messages.shown.isEmpty());

        const QString bad = dir.filePath(QStringLiteral("нет/обмен.txt"));
        QVERIFY(!m.window.saveTable(bad));
        QCOMPARE(m.messages.shown.size(), 1);
        QCOMPARE(m.messages.shown.at(0).text, QStringLiteral("Невозможно записать файл ") + bad);
    }

    void statisticsShown()
    {
        Monitor m;
        for (int i = 0; i < 6; ++i)
            m.add(exchange(StatusPoll, "x", Verdict::Good, 15000 - 1000 * i));
        m.add(exchange(StatusPoll, {}, Verdict::NoReply));
        m.add(exchange(StatusPoll, withCrc(QByteArray::fromHex("018402")), Verdict::Exception));
        m.window.refreshStats();
        const auto text = [&m](const char *name) { return m.find<QLabel>(name)->text(); };
        QCOMPARE(text("lbl_stat_exchanges"), QStringLiteral("8"));
        QCOMPARE(text("lbl_stat_good"), QStringLiteral("6 (75,0 %)"));
        QCOMPARE(text("lbl_stat_noreply"), QStringLiteral("1 (12,5 %)"));
        QCOMPARE(text("lbl_stat_exception"), QStringLiteral("1 (код 2: 1)"));
        QCOMPARE(text("lbl_stat_replytime"),
                 QStringLiteral("мин 10,0 / медиана 12,1 / 95 % 15,0 / макс 15,0"));
        QCOMPARE(text("lbl_stat_bytes"), QStringLiteral("64 / 11"));
        m.find<QPushButton>("btn_reset_stats")->click();
        QCOMPARE(text("lbl_stat_exchanges"), QStringLiteral("0"));
    }

    // The menu gains "Монитор обмена" (Alt+М) after the two items it had; the window is built
    // once, sees the program's exchanges, and --trace to a path that cannot be written leaves
    // one note on the status line while the exchange goes on.
    void openedFromTheMenuWithTheProgramsExchanges()
    {
        QTemporaryDir dir;
        FakeSerialLink link;
        ScriptedMessages messages;
        StartupOptions options;
        options.programDir = dir.path();
        options.tracePath = dir.filePath(QStringLiteral("нет/trace.txt"));
        Application app(options, link, messages);
        QVERIFY(app.start(false));
        QVERIFY(app.mainWindow().statusLine()->text().contains(
            QStringLiteral("Файл трассировки ") + options.tracePath + " не записывается"));

        const QList<QAction *> menu = app.mainWindow().menuBar()->actions();
        QCOMPARE(menu.size(), 3);
        QCOMPARE(menu.at(2)->objectName(), QStringLiteral("mnu_monitor"));
        QCOMPARE(QKeySequence::mnemonic(menu.at(2)->text()),
                 QKeySequence(Qt::ALT | Qt::Key(0x041C)));
        menu.at(2)->trigger();
        MonitorWindow *window = app.monitorWindow();
        QVERIFY(window && window->isVisible());
        window->close();
        menu.at(2)->trigger();
        QCOMPARE(app.mainWindow().findChildren<MonitorWindow *>().size(), 1);
        QVERIFY(window->isVisible());

        app.ExchangeTick();
        link.feed(ResetAlarms);
        app.ExchangeTick();
        window->flushRows();
        QCOMPARE(window->shownRows().rowCount(), 1);
        QCOMPARE(window->log().record(0).request, StatusPoll);
        QCOMPARE(app.linkStats().figures(0).good, quint64(1));
    }
};

QTEST_MAIN(TestMonitorWindow)
#include "tst_monitorwindow.moc"
