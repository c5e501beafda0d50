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
#include <QtTest>

using namespace vortan;

Q_DECLARE_METATYPE(vortan::ExchangeRecord)

namespace
{

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
    test::ScriptedMessages messages;
    MonitorWindow window;

    explicit Monitor(int capacity = 10000) : window(stats, messages, nullptr, capacity) {}
    void add(const ExchangeRecord &r)
    {
        stats.exchanged(r);
        window.exchanged(r);
    }
    QString cell(int row, int column) const
    {
        return window.shownRows().index(row, column).data().toString();
    }
    QStringList column(int c) const
    {
        QStringList texts;
        for (int row = 0; row < window.shownRows().rowCount(); ++row)
            texts << cell(row, c);
        return texts;
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

    // A row per verdict: the request in the controller's terms whatever came back, the verdict
    // coloured, bytes in hex.
    void rowOfEachVerdict_data()
    {
        QTest::addColumn<ExchangeRecord>("record");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QColor>("colour");
        const QString poll = QStringLiteral("01 04 07 D0 00 48 F0 B1");
        QTest::newRow("good")
            << exchange(StatusPoll, ResetAlarms, Verdict::Good, 13456)
            << QStringList{"14:07:09.042", "4",  "Чтение состояния",       "Норма",
                           "13,5",         poll, "01 06 0F A1 CB D0 8D 90"}
            << QColor(0xC6, 0xEF, 0xCE);
        // A babbling line: 700 bytes in one tick, the first 300 kept, the first 40 shown.
        ExchangeRecord babble = exchange(ResetAlarms, QByteArray(300, '3'), Verdict::BadCrc, 9000);
        babble.repeat = true;
        babble.bytesReceived = 700;
        QTest::newRow("CRC mismatch, repeated")
            << babble
            << QStringList{"14:07:09.042",
                           "6",
                           "Команда: Сброс аварий (повтор)",
                           "Несовпадение КС",
                           "9,0",
                           "01 06 0F A1 CB D0 8D 90",
                           babble.reply.left(ExchangeLogModel::ShownBytes).toHex(' ') +
                               " … (700 байт)"}
            << QColor(0xFF, 0xC7, 0xCE);
        QTest::newRow("silence")
            << exchange(QByteArray::fromHex("0164002D0131"), {}, Verdict::NoReply)
            << QStringList{"14:07:09.042",      "100", "Чтение параметров 45..45", "Нет ответа", "",
                           "01 64 00 2D 01 31", ""}
            << QColor(0xD9, 0xD9, 0xD9);
        QTest::newRow("bytes without a request")
            << exchange({}, QByteArray::fromHex("FF"), Verdict::Short)
            << QStringList{"14:07:09.042",
                           "-",
                           "Нет запроса",
                           "Неполный ответ: 1 байт",
                           "",
                           "",
                           "FF"}
            << QColor(0xFF, 0xE0, 0xB2);
        QTest::newRow("exception")
            << exchange(StatusPoll, QByteArray::fromHex("018402C2C1"), Verdict::Exception, 5000)
            << QStringList{"14:07:09.042", "4",  "Чтение состояния", "Нарушение протокола, код: 2",
                           "5,0",          poll, "01 84 02 C2 C1"}
            << QColor(0xBD, 0xD7, 0xEE);
        QTest::newRow("stray") << exchange(StatusPoll, ResetAlarms, Verdict::Stray, 7000)
                               << QStringList{"14:07:09.042",           "4",   "Чтение состояния",
                                              "Ответ не на запрос",     "7,0", poll,
                                              "01 06 0F A1 CB D0 8D 90"}
                               << QColor(0xE4, 0xDF, 0xEC);
    }
    void rowOfEachVerdict()
    {
        QFETCH(ExchangeRecord, record);
        QFETCH(QStringList, cells);
        QFETCH(QColor, colour);
        Monitor m;
        m.add(record);
        m.window.flushRows();
        QStringList shown;
        for (int c = 0; c < ExchangeLogModel::Columns; ++c)
            shown << m.cell(0, c);
        QCOMPARE(shown, cells);
        const QModelIndex verdict = m.window.shownRows().index(0, ExchangeLogModel::Result);
        QCOMPARE(verdict.data(Qt::BackgroundRole).value<QColor>(), colour);
        QCOMPARE(verdict.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
    }

    // The filter hides the routine polls; pause holds new exchanges out of the table and says
    // how many while the statistics count on; the ring keeps the newest rows only; the adapter
    // line names the converter once it is known.
    void filterPauseRingAndStatistics()
    {
        Monitor m(5);
        for (int f : {4, 6, 23})
            m.add(ofFunction(f));
        m.window.flushRows();
        auto *hide = m.find<QCheckBox>("chk_hide_polls");
        hide->setChecked(true);
        QCOMPARE(m.column(ExchangeLogModel::Function), QStringList{"6"});
        hide->setChecked(false);

        auto *pause = m.find<QPushButton>("btn_pause");
        pause->click();
        m.add(ofFunction(100));
        m.add(exchange(StatusPoll, QByteArray::fromHex("018402C2C1"), Verdict::Exception, 10000));
        ExchangeRecord stray = exchange(StatusPoll, ResetAlarms, Verdict::Stray);
        stray.waitMs = 80; // the line answered late
        m.add(stray);
        m.window.refreshStats();
        m.window.flushRows();
        QCOMPARE(pause->text(), QStringLiteral("Продолжить"));
        QCOMPARE(m.column(ExchangeLogModel::Function), (QStringList{"4", "6", "23"}));
        QCOMPARE(m.find<QLabel>("lbl_monitor_note")->text(),
                 QStringLiteral("Пауза: не показано обменов: 3"));
        const auto figure = [&m](const char *name) { return m.find<QLabel>(name)->text(); };
        QCOMPARE(figure("lbl_stat_exchanges"), QStringLiteral("6"));
        QCOMPARE(figure("lbl_stat_noreply"), QStringLiteral("4 (66,7 %)"));
        QCOMPARE(figure("lbl_stat_exception"), QStringLiteral("1 (код 2: 1)"));
        QCOMPARE(figure("lbl_stat_stray"), QStringLiteral("1 (16,7 %)"));
        QCOMPARE(figure("lbl_stat_replytime"),
                 QStringLiteral("мин 10,0 / медиана 10,0 / 95 % 10,0 / макс 10,0"));
        QCOMPARE(figure("lbl_stat_wait"), QStringLiteral("80 мс"));
        QCOMPARE(figure("lbl_stat_adapter"), QStringLiteral("—"));
        m.window.showAdapter({QStringLiteral("ftdi_sio"), 1});
        QCOMPARE(figure("lbl_stat_adapter"), QStringLiteral("ftdi_sio, таймер задержки 1 мс"));

        pause->click();
        for (int f : {100, 101, 100, 101})
            m.add(ofFunction(f));
        m.window.flushRows();
        QCOMPARE(m.column(ExchangeLogModel::Function),
                 (QStringList{"23", "100", "101", "100", "101"}));
        m.find<QPushButton>("btn_reset_stats")->click();
        QCOMPARE(figure("lbl_stat_exchanges"), QStringLiteral("0"));
        QCOMPARE(figure("lbl_stat_wait"), QStringLiteral("—"));
        m.find<QPushButton>("btn_clear")->click();
        QCOMPARE(m.window.shownRows().rowCount(), 0);
    }

    // The file holds the rows shown, every byte in full; one that cannot be written brings up
    // a box.
    void saveTable()
    {
        Monitor m;
        m.add(exchange(StatusPoll, {}, Verdict::NoReply));
        m.add(exchange(ResetAlarms, QByteArray(149, '\x11'), Verdict::Good, 4000));
        m.find<QCheckBox>("chk_hide_polls")->setChecked(true);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("обмен.txt"));
        QVERIFY(m.window.saveTable(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("# ")));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("Время\tФункция\tЗапрос\tИтог")));
        QStringList row;
        for (int c = 0; c < ExchangeLogModel::ReplyBytes; ++c)
            row << m.cell(0, c);
        row << QByteArray(149, '\x11').toHex(' ');
        QCOMPARE(lines.at(2), row.join(QLatin1Char('\t')));
        QVERIFY(m.messages.shown.isEmpty());

        const QString bad = dir.filePath(QStringLiteral("нет/обмен.txt"));
        QVERIFY(!m.window.saveTable(bad));
        QCOMPARE(m.messages.shown.size(), 1);
        QCOMPARE(m.messages.shown.at(0).text, QStringLiteral("Невозможно записать файл ") + bad);
    }

    // "Монитор обмена" (Alt+М) comes after the two items the menu had; the window is built once
    // and sees the program's exchanges; --trace to a path that cannot be written leaves a note
    // on the status line and the exchange goes on.
    void openedFromTheMenu()
    {
        QTemporaryDir dir;
        test::FakeSerialLink link;
        test::ScriptedMessages messages;
        StartupOptions options;
        options.programDir = dir.path();
        options.tracePath = dir.filePath(QStringLiteral("нет/trace.txt"));
        Application app(options, link, messages);
        QVERIFY(app.start(false));
        QVERIFY(app.mainWindow().statusLine()->text().endsWith(
            " Файл трассировки " + options.tracePath + " не записывается"));

        const QList<QAction *> menu = app.mainWindow().menuBar()->actions();
        QVERIFY(menu.size() >= 3); // the trend window's item may follow
        QCOMPARE(menu.at(2)->objectName(), QStringLiteral("mnu_monitor"));
        QCOMPARE(QKeySequence::mnemonic(menu.at(2)->text()),
                 QKeySequence(Qt::ALT | Qt::Key(0x041C)));
        menu.at(2)->trigger();
        MonitorWindow *window = app.monitorWindow();
        QVERIFY(window && window->isVisible());
        window->close();
        menu.at(2)->trigger();
        QCOMPARE(app.mainWindow().findChildren<MonitorWindow *>(), QList<MonitorWindow *>{window});
        QVERIFY(window->isVisible());

        app.ExchangeTick();
        link.feed(ResetAlarms);
        app.ExchangeTick();
        window->flushRows();
        QCOMPARE(window->shownRows().rowCount(), 1);
        QCOMPARE(window->log().record(0).request, StatusPoll);
    }
};

QTEST_MAIN(TestMonitorWindow)
#include "tst_monitorwindow.moc"
