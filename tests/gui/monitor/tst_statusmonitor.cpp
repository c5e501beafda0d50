#include "monitor/statusmonitor.h"

#include "modbus/exchangecycle.h"
#include "shell/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

#include <map>
#include <memory>

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
        bytes += char(v >> 8);
        bytes += char(v & 0xFF);
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
    if (c == QColor(0, 255, 0))
        return QStringLiteral("green");
    if (c == QColor(255, 0, 0))
        return QStringLiteral("red");
    if (c == QColor(255, 255, 0))
        return QStringLiteral("yellow");
    return c == QApplication::palette().color(QPalette::Button) ? QStringLiteral("default")
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

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

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
        m_window->statusLine()->setText(QString::fromUtf8(StatusGood));
    }

    void cleanup()
    {
        m_monitor.reset();
        m_window.reset();
        QLocale::setDefault(QLocale::c());
    }

    void everyFieldAtItsOffset()
    {
        Registers regs;
        for (int n = 0; n < 72; ++n)
            regs[n] = quint16(1000 + n);
        regs[22] = 0x0007;
        decode(regs);
        // 1063 = 0x0427 in unit 0's state word: bits 0, 1, 2, 5 and 10.
        const QString expected = QString::fromUtf8(
            "lbl_pr_ver=3 .232 |lbl_sw_ver=3 .233 |lbl_netAU=100,2 |lbl_secAU=100,3 |"
            "lbl_phAU=100,4 |lbl_phBU=100,5 |lbl_phCU=100,6 |lbl_phAI=100,7 |lbl_phBI=100,8 |"
            "lbl_phCI=100,9 |lbl_ap=101 |lbl_fp=101,1 |lbl_rp=101,2 |lbl_cosfi=1,013 |"
            "lbl_netfr=10,14 |lbl_secfr=10,15 |lbl_fr=10,16 |lbl_netfrt=10,17 |"
            "lbl_secfrt=10,18 |lbl_frt=10,19 |lbl_dng=102 |lbl_dsg=102,1 |lbl_ovl_duty=102,5 %|"
            "lbl_own_duty=102,6 %|lbl_vfsf=VFSF 04040405|lbl_cf0=CF0 04200421|"
            "lbl_cf1=CF1 04220423|lbl_ovl_duty_wofg=106 %|lbl_ovl_duty_prev=106,1 %|"
            "lbl_ovl_duty_dstr=106,2 %|lbl_dbg=042F|lbl_ext_maxpwr_0=103,4 |"
            "lbl_ext_maxpwr_7=104,1 |lbl_ext_actpwr_0=104,2 |lbl_ext_actpwr_7=104,9 |"
            "lbl_ext_cecsf_0=АКСРк|lbl_tr_id=-|lbl_st_0=-");
        for (const QString &pair : expected.split('|')) {
            const QString name = pair.section('=', 0, 0);
            QCOMPARE(name + '=' + text(name), pair);
        }
    }

    void fieldTexts_data()
    {
        QTest::addColumn<bool>("russian");
        QTest::addColumn<Registers>("registers");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *what, bool ru, const Registers &regs, const char *name,
                            const char *shown) {
            QTest::newRow(what) << ru << regs << name << QString::fromUtf8(shown);
        };
        row("50 Hz without decimals", true, {{16, 5000}}, "lbl_fr", "50 ");
        row("49,99 Hz, comma", true, {{16, 4999}}, "lbl_fr", "49,99 ");
        row("49.99 Hz, point under C", false, {{16, 4999}}, "lbl_fr", "49.99 ");
        row("cos phi -1", true, {{13, 0xFC18}}, "lbl_cosfi", "-1 ");
        row("cos phi 0,9", true, {{13, 0x0384}}, "lbl_cosfi", "0,9 ");
        row("cos phi 0.9 under C", false, {{13, 0x0384}}, "lbl_cosfi", "0.9 ");
        row("active power is signed", true, {{10, 0xFFF6}}, "lbl_ap", "-1 ");
        row("full power is unsigned", true, {{11, 0xFFF6}}, "lbl_fp", "6552,6 ");
        row("vfsf small", true, DWord(28, 0x000000AB), "lbl_vfsf", "VFSF 000000AB");
        row("vfsf all ones", true, DWord(28, 0xFFFFFFFF), "lbl_vfsf", "VFSF FFFFFFFF");
        row("vfsf top bit", true, DWord(28, 0x80000000), "lbl_vfsf", "VFSF 80000000");
        row("protocol 0x0207", true, {{0, 0x0207}}, "lbl_pr_ver", "2 .07 ");
        row("software 0x020C", true, {{1, 0x020C}}, "lbl_sw_ver", "2 .12 ");
        row("software 0x0109", true, {{1, 0x0109}}, "lbl_sw_ver", "1 .09 ");
        row("unit 0 nominal power", true, {{34, 0xFFEC}}, "lbl_ext_maxpwr_0", "-2 ");
        row("unit 7 active power", true, {{49, 1234}}, "lbl_ext_actpwr_7", "123,4 ");
        // The state letters are Cyrillic but for "*"; bit 2 is the ES that looks like a Latin C.
        row("state 0x0003", true, {{63, 0x0003}}, "lbl_ext_cecsf_0", "\u0410\u041A");
        row("state 0x0107", true, {{64, 0x0107}}, "lbl_ext_cecsf_1", "\u0410\u041A\u0421*");
        row("state 0x0600", true, {{65, 0x0600}}, "lbl_ext_cecsf_2", "\u0441\u043A");
        row("state 0xF800", true, {{66, 0xF800}}, "lbl_ext_cecsf_3", "");
        row("state 0xFFFF", true, {{70, 0xFFFF}}, "lbl_ext_cecsf_7",
            "\u0410\u041A\u0421\u0417\u041D\u0420\u0411\u041E*\u0441\u043A");
    }

    void fieldTexts()
    {
        QFETCH(bool, russian);
        QFETCH(Registers, registers);
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QLocale::setDefault(russian ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c());
        decode(registers);
        QCOMPARE(text(name), shown);
    }

    void validityRule_data()
    {
        QTest::addColumn<int>("validity");
        QTest::addColumn<QString>("shown"); // frt, netfrt, secfrt, dng, dsg: v = value, ? = not
        QTest::newRow("set only") << 0x0001 << "v????";
        QTest::newRow("set and buses") << 0x0003 << "vv?v?";
        QTest::newRow("set and section") << 0x0005 << "v?v?v";
        QTest::newRow("buses and section, no set") << 0x0006 << "?vv??";
        QTest::newRow("other bits ignored") << 0xFFF8 << "?????";
    }

    void validityRule()
    {
        QFETCH(int, validity);
        QFETCH(QString, shown);
        decode(
            {{22, quint16(validity)}, {19, 5000}, {17, 4990}, {18, 5010}, {20, 125}, {21, 0xFF85}});
        const char *names[] = {"lbl_frt", "lbl_netfrt", "lbl_secfrt", "lbl_dng", "lbl_dsg"};
        const char *values[] = {"50 ", "49,9 ", "50,1 ", "12,5 ", "-12,3 "};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(text(names[i]), QString::fromLatin1(shown[i] == 'v' ? values[i] : "?"));
    }

    void indicators_data()
    {
        QTest::addColumn<Registers>("registers");
        QTest::addColumn<QString>("painted"); // every other indicator has the default colour
        const auto row = [](const char *what, const Registers &regs, const char *painted) {
            QTest::newRow(what) << regs << QString::fromLatin1(painted);
        };
        row("all clear after all set", {}, "");
        row("inputs 0x0009", {{27, 0x0009}}, "lbl_eds_0=green lbl_eds_3=green");
        row("inputs bits 10-15 unseen", {{27, 0xFC00}}, "");
        row("conflict bit 0", {{23, 0x0003}}, "lbl_node_cnflct=shown");
        row("conflict other bits unseen", {{23, 0x0002}}, "");
        row("flag bit 18 paints label 13", DWord(56, 1u << 18), "lbl_cf_13=green");
        row("flag bit 20 paints label 15", DWord(56, 1u << 20), "lbl_cf_15=green");
        row("flag bits 0 and 12", DWord(56, 0x00001001), "lbl_cf_0=green lbl_cf_12=green");
        row("flag bits 13-17 and 21-31 unseen", DWord(56, 0xFFE3E000), "");
        row("bit 8 in both words is red", DWord(30, 0x100, DWord(52, 0x100)), "lbl_fl_8=red");
        row("bit 8 warning only is yellow", DWord(52, 0x100), "lbl_fl_8=yellow");
        row("bit 31 alarm", DWord(30, 0x80000000), "lbl_fl_31=red");
        row("second pair", DWord(32, 0x2, DWord(54, 0x1)), "lbl_fl1_0=yellow lbl_fl1_1=red");
        row("second pair bits 2-31 unseen", DWord(32, 0xFFFFFFFC, DWord(54, 0xFFFFFFFC)), "");
        row("unit row 0 green", {{24, 0x00FE}},
            "lbl_ext_actpwr_0=green lbl_ext_cecsf_0=green lbl_ext_maxpwr_0=green");
        row("unit row 7 green, high byte unseen", {{24, 0xFF7F}},
            "lbl_ext_actpwr_7=green lbl_ext_cecsf_7=green lbl_ext_maxpwr_7=green");
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
        QTest::newRow("function 3") << Frame({0x01, 0x03, 0x02, 0xA5, 0x01}) << "";
        QTest::newRow("function 100") << Frame({0x01, 100, 0x00, 0x10, 0x01, 0x2A}) << "";
        QTest::newRow("function 101") << Frame({0x01, 101, 0x00, 0x10, 0x01}) << "";
    }

    void repliesThatShowNothing()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, note);
        QList<int> routed;
        m_monitor->applyParamReply = [&] { routed << m_rx.byte(1); };
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
        QCOMPARE(routed, function == 100 || function == 101 ? QList<int>{function} : QList<int>{});
    }

    void unchangedReplyRepaintsNothing()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const Registers a{{22, 7}, {16, 5000}, {30, 0x00FF}, {27, 0x0003}, {24, 0x000F}};
        decode(a);
        QCoreApplication::processEvents();
        PaintCounter counter;
        for (QLabel *l : m_window->findChildren<QLabel *>())
            l->installEventFilter(&counter);
        decode(a);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);

        decode({{22, 7}, {16, 4999}, {30, 0xFF00}, {27, 0x0300}, {24, 0x00F0}});
        QCoreApplication::processEvents();
        QVERIFY(counter.paints > 0);
        m_window->grab().save(QDir::current().filePath(QStringLiteral("frm_main_live.png")));
    }

    void missingControlsAndNoiseDoNotCrash()
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
        QCOMPARE(queue.waiting(), 0); // no priority list to select in, so nothing to acknowledge

        // Random replies of every length: only a valid priority code may ever queue anything.
        QRandomGenerator random(20240611);
        for (int round = 0; round < 2000; ++round) {
            QByteArray body;
            const int length = 1 + int(random.bounded(RxBuffer::MaxCount - 2));
            for (int i = 0; i < length; ++i)
                body.append(char(random.bounded(256)));
            if (length > 1 && round % 3 == 0)
                body[1] = char(round % 6 == 0 ? 4 : 23);
            const int before = m_queue.waiting();
            decodeFrame(WithCrc(body));
            const int code = m_rx.RxWord(3);
            const bool acknowledges =
                m_rx.byte(1) == 23 && m_rx.count >= 7 && (code >> 8) == 0xA5 && (code & 0xFF) <= 7;
            QCOMPARE(m_queue.waiting(), before + (acknowledges ? 1 : 0));
            m_window->statusLine()->clear();
        }
    }
};

QTEST_MAIN(TestStatusMonitor)
#include "tst_statusmonitor.moc"
