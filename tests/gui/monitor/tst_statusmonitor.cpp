#include "monitor/statusmonitor.h"

#include "modbus/exchangecycle.h"
#include "shell/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

#include <map>

using namespace vortan;

namespace
{

using Registers = std::map<int, quint16>;

QByteArray WithCrc(const QByteArray &bytes)
{
    const quint16 crc = Crc16Modbus(bytes);
    return bytes + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray Frame(std::initializer_list<int> bytes)
{
    QByteArray frame;
    for (int b : bytes)
        frame.append(char(b));
    return WithCrc(frame);
}

// A full function-4 reply of the 72 status registers; registers not given are 0.
QByteArray StatusReply(const Registers &regs)
{
    QByteArray bytes("\x01\x04\x90", 3);
    for (int n = 0; n < 72; ++n) {
        const quint16 v = regs.count(n) ? regs.at(n) : 0;
        bytes.append(char(v >> 8)).append(char(v));
    }
    return WithCrc(bytes);
}

// Registers holding a 32-bit word, high half first.
Registers DWord(int offset, quint32 value, Registers more = {})
{
    more[offset] = quint16(value >> 16);
    more[offset + 1] = quint16(value);
    return more;
}

QString ColourName(const QLabel *label)
{
    const QColor c = label->palette().color(QPalette::Window);
    return c == QApplication::palette().color(QPalette::Button) ? QStringLiteral("default")
           : c == Qt::green                                     ? QStringLiteral("green")
           : c == Qt::red                                       ? QStringLiteral("red")
           : c == Qt::yellow                                    ? QStringLiteral("yellow")
                                                                : c.name();
}

// What a user sees of every label but the status line: text, background, shown or hidden.
QStringList Snapshot(const QWidget *window)
{
    QStringList seen;
    for (const QLabel *label : window->findChildren<QLabel *>()) {
        if (label->objectName() != QLatin1String("lbl_sys_mes"))
            seen << label->objectName() + '=' + label->text() + '|' + ColourName(label) +
                        (label->isHidden() ? "|hidden" : "");
    }
    return seen;
}

} // namespace

Q_DECLARE_METATYPE(Registers)

class TestStatusMonitor : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindow> m_window;
    RxBuffer m_rx;
    RequestQueue m_queue;
    std::unique_ptr<StatusMonitor> m_monitor;

    // As the exchange cycle leaves it: bytes beyond the new count keep the previous reply's.
    void receive(const QByteArray &frame)
    {
        QVERIFY(frame.size() <= RxBuffer::MaxCount);
        std::copy(frame.begin(), frame.end(), m_rx.bytes.begin());
        m_rx.count = int(frame.size());
    }
    void decodeFrame(const QByteArray &frame)
    {
        receive(frame);
        m_monitor->DecodeReply();
    }
    void decode(const Registers &regs) { decodeFrame(StatusReply(regs)); }
    QString text(const QString &name) const { return m_window->findChild<QLabel *>(name)->text(); }
    QString status() const { return m_window->statusLine()->text(); }
    QComboBox *priority() const { return m_window->control<QComboBox>("cmb_priority"); }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        m_window = std::make_unique<MainWindow>();
        m_window->fillLists();
        m_rx = RxBuffer();
        m_queue = RequestQueue();
        m_monitor = std::make_unique<StatusMonitor>(m_window.get(), m_rx, m_queue);
        m_monitor->setPaintIntervalMs(0);
        m_window->statusLine()->setText(QString::fromUtf8(StatusGood));
    }

    void cleanup()
    {
        m_monitor.reset();
        m_window.reset();
        QLocale::setDefault(QLocale::c());
    }

    // Blocks faster than the window paints: the first is shown at once, and the last of a burst
    // reaches the screen soon after, never lost behind the ones dropped.
    void burstEndsOnTheLatestBlock()
    {
        m_monitor->setPaintIntervalMs(StatusMonitor::PaintIntervalMs);
        const QString name = QString::fromLatin1(StatusRegisterMap().first[0].label);
        Registers regs;
        for (quint16 value : {quint16(3000), quint16(3100), quint16(3200)}) {
            regs[0] = value;
            decode(regs);
            if (value == 3000)
                QCOMPARE(text(name), m_monitor->lastSnapshot().fieldText(0));
        }
        QTRY_COMPARE_WITH_TIMEOUT(text(name), m_monitor->lastSnapshot().fieldText(0), 2000);
    }

    // Every label of the map shows the snapshot's text; the unit table its powers and letters.
    void labelsShowTheSnapshot()
    {
        Registers regs;
        for (int n = 0; n < 72; ++n)
            regs[n] = quint16(1000 + 7 * n);
        regs[22] = 0x0005;
        regs[70] = 0xFFFF; // all eleven letters, the widest text of the unit table
        decode(regs);
        const StatusSnapshot &s = m_monitor->lastSnapshot();
        const RegisterMap map = StatusRegisterMap();
        QCOMPARE(s.fields.size(), map.count);
        for (size_t i = 0; i < map.count; ++i)
            QCOMPARE(text(map.first[i].label), s.fieldText(int(i)));
        for (int u = 0; u < StatusUnits; ++u) {
            const UnitReading &unit = s.units[size_t(u)];
            QCOMPARE(text(QStringLiteral("lbl_ext_maxpwr_%1").arg(u)),
                     UnitPowerText(unit.maxPower));
            QCOMPARE(text(QStringLiteral("lbl_ext_actpwr_%1").arg(u)),
                     UnitPowerText(unit.activePower));
            QCOMPARE(text(QStringLiteral("lbl_ext_cecsf_%1").arg(u)), UnitStateLetters(unit.state));
        }
        QCOMPARE(text("lbl_fr"), QStringLiteral("11,12 "));
        QCOMPARE(text("lbl_dng"), QStringLiteral("?"));
        QCOMPARE(text("lbl_tr_id"), QStringLiteral("-"));
        const QLabel *widest = m_window->findChild<QLabel *>("lbl_ext_cecsf_7");
        QVERIFY(widest->fontMetrics().horizontalAdvance(widest->text()) <=
                widest->contentsRect().width());
        QVERIFY(m_window->grab().save(QDir::current().filePath("frm_main_live.png")));
    }

    void indicators_data()
    {
        QTest::addColumn<Registers>("registers");
        QTest::addColumn<QString>("painted"); // every other indicator has the default colour
        const auto row = [](const char *what, const Registers &regs, const char *painted) {
            QTest::newRow(what) << regs << QString::fromLatin1(painted);
        };
        row("all clear after all set", {}, "");
        row("inputs 0x0209", {{27, 0x0209}}, "lbl_eds_0=green lbl_eds_3=green lbl_eds_9=green");
        row("conflict bit 0", {{23, 0x0003}}, "lbl_node_cnflct=shown");
        // Lamps 13..15 show flag bits 18..20.
        row("flags", DWord(56, 0x00141001),
            "lbl_cf_0=green lbl_cf_12=green lbl_cf_13=green lbl_cf_15=green");
        row("alarm in both words is red", DWord(30, 0x80000100, DWord(52, 0x100)),
            "lbl_fl_31=red lbl_fl_8=red");
        row("warning only is yellow", DWord(52, 0x100), "lbl_fl_8=yellow");
        row("second pair", DWord(32, 0x2, DWord(54, 0x1)), "lbl_fl1_0=yellow lbl_fl1_1=red");
        row("unit rows 0 and 7 green, high byte unseen", {{24, 0xFF7E}},
            "lbl_ext_actpwr_0=green lbl_ext_actpwr_7=green lbl_ext_cecsf_0=green "
            "lbl_ext_cecsf_7=green lbl_ext_maxpwr_0=green lbl_ext_maxpwr_7=green");
    }

    void indicators()
    {
        QFETCH(Registers, registers);
        QFETCH(QString, painted);
        Registers allSet{{23, 1}, {24, 0}, {27, 0xFFFF}};
        for (int n : {30, 31, 32, 33, 52, 53, 54, 55, 56, 57})
            allSet[n] = 0xFFFF;
        decode(allSet);
        registers.insert({24, 0x00FF}); // unit rows default unless the row asks otherwise
        decode(registers);

        QStringList seen;
        for (const QLabel *label : m_window->findChildren<QLabel *>()) {
            if (label->objectName() == QLatin1String("lbl_node_cnflct"))
                seen << (label->isHidden() ? QString() : QStringLiteral("lbl_node_cnflct=shown"));
            else if (label->autoFillBackground() && ColourName(label) != QLatin1String("default"))
                seen << label->objectName() + '=' + ColourName(label);
        }
        seen.removeAll(QString());
        seen.sort();
        QCOMPARE(seen.join(' '), painted);
    }

    void priorityCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("acknowledged");
        QTest::addColumn<QString>("note");
        QTest::newRow("other high byte") << 0x1234 << 0 << false << "";
        QTest::newRow("entry 3") << 0xA503 << 3 << true << "";
        QTest::newRow("entry 7, the last") << 0xA507 << 7 << true << "";
        QTest::newRow("entry 8 does not exist")
            << 0xA508 << 0 << false << " Неверный код смены приоритета: A508";
        QTest::newRow("marker in low byte only") << 0x00A5 << 0 << false << "";
    }

    void priorityCodes()
    {
        QFETCH(int, code);
        QFETCH(int, selected);
        QFETCH(bool, acknowledged);
        QFETCH(QString, note);
        const QString before = status();
        decodeFrame(Frame({0x01, 0x17, 0x02, code >> 8, code & 0xFF}));
        QCOMPARE(text("lbl_setpr"), QString::number(code, 16).rightJustified(4, '0').toUpper());
        QCOMPARE(priority()->currentText(), QString::number(selected));
        QCOMPARE(status(), before + note);
        QCOMPARE(m_queue.waiting(), acknowledged ? 1 : 0);
        if (acknowledged) // 0xAD5E written to register 4001
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(m_queue.inFlight().bytes.data()),
                                m_queue.inFlight().last + 1),
                     QByteArray("\x00\x06\x0F\xA1\xAD\x5E", 6));
    }

    void repliesThatShowNothing_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("note"); // added to the status line
        // The previous reply stays in the buffer: a decode would mix its bytes with the new ones.
        const QByteArray other = StatusReply({{16, 4000}, {4, 1000}, {23, 0}, {24, 0}, {27, 0}});
        QTest::newRow("exception") << Frame({0x01, 0x84, 0x02}) << " Нарушение протокола, код: 2";
        QTest::newRow("status one byte short")
            << WithCrc(other.left(146)) << " Неполный ответ: 148 байт";
        QTest::newRow("status header only") << WithCrc(other.left(3)) << " Неполный ответ: 5 байт";
        QTest::newRow("priority without its register")
            << Frame({0x01, 0x17, 0x00}) << " Неполный ответ: 5 байт";
        QTest::newRow("function 6 echo") << Frame({0x01, 0x06, 0x0F, 0xA1, 0xCB, 0xD0}) << "";
        QTest::newRow("function 100") << Frame({0x01, 100, 0x00, 54, 0x01, 0x2A}) << "";
    }

    void repliesThatShowNothing()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, note);
        QSignalSpy routed(&m_monitor->model().paramSet(), &ParamSet::valueChanged);
        decode({{22, 7}, {16, 5000}, {4, 2305}, {23, 1}, {24, 0x00FE}, {27, 1}, {30, 1}});
        decodeFrame(Frame({0x01, 0x17, 0x02, 0xA5, 0x03}));
        m_queue = RequestQueue();
        const QStringList before = Snapshot(m_window.get());
        const QString line = status();

        decodeFrame(reply);
        QCOMPARE(Snapshot(m_window.get()), before);
        QCOMPARE(priority()->currentIndex(), 3);
        QCOMPARE(m_queue.waiting(), 0);
        QCOMPARE(status(), line + note);
        const int function = quint8(reply.at(1));
        QCOMPARE(routed.size(), function == 100 || function == 101 ? 1 : 0);
    }

    void missingControlsDoNotCrash()
    {
        QWidget empty;
        RequestQueue queue;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("controls missing in frm_main"));
        StatusMonitor bare(&empty, m_rx, queue);
        for (const QByteArray &reply :
             {StatusReply({{23, 1}}), Frame({0x01, 0x17, 0x02, 0xA5, 0x03}),
              Frame({0x01, 0x84, 0x02}), Frame({0x01, 100, 0, 0, 0})}) {
            receive(reply);
            bare.DecodeReply();
        }
        QCOMPARE(queue.waiting(), 1); // the handshake is the model's, with or without a list
    }
};

QTEST_MAIN(TestStatusMonitor)
#include "tst_statusmonitor.moc"
