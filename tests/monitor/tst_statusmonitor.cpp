#include "monitor/statusmonitor.h"

#include "modbus/exchangecycle.h"
#include "shell/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QRandomGenerator>
#include <QtTest>

#include <map>
#include <memory>

using namespace vortan;

namespace
{

using Registers = std::map<int, quint16>;

// Written here rather than taken from the code under test, so a CRC fault cannot hide itself.
QByteArray WithCrc(QByteArray bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    bytes.append(char(crc & 0xFF));
    bytes.append(char(crc >> 8));
    return bytes;
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
        bytes.append(char(v >> 8));
        bytes.append(char(v & 0xFF));
    }
    return WithCrc(bytes);
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

class TestStatusMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyRegisterHasOneUse();
    void everyFieldAtItsOffset();
    void scaledValues_data();
    void scaledValues();
    void validityRule_data();
    void validityRule();
    void hexFieldsAndVersions_data();
    void hexFieldsAndVersions();
    void alarmColours_data();
    void alarmColours();
    void controlFlags_data();
    void controlFlags();
    void discreteInputsAndConflict();
    void unitRows_data();
    void unitRows();
    void unitValuesAndLetters();
    void priorityCodes_data();
    void priorityCodes();
    void priorityAcknowledgementBytes();
    void exceptionNote();
    void shortRepliesChangeNothing_data();
    void shortRepliesChangeNothing();
    void otherRepliesChangeNothing();
    void paramRepliesGoToTheirHandler();
    void unchangedReplyRepaintsNothing();
    void missingControlsAndNoiseDoNotCrash();

private:
    void feed(const QByteArray &frame);
    void decode(const Registers &regs)
    {
        feed(StatusReply(regs));
        m_monitor->DecodeReply();
    }
    QLabel *label(const QString &name) const { return m_window->findChild<QLabel *>(name); }
    QString text(const QString &name) const { return label(name)->text(); }
    QString colour(const QString &name) const { return ColourName(label(name)); }
    QString status() const { return m_window->statusLine()->text(); }
    QComboBox *priority() const { return m_window->control<QComboBox>("cmb_priority"); }

    std::unique_ptr<MainWindow> m_window;
    RxBuffer m_rx;
    RequestQueue m_queue;
    std::unique_ptr<StatusMonitor> m_monitor;
};

void TestStatusMonitor::init()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    m_window = std::make_unique<MainWindow>();
    m_window->fillLists();
    m_rx = RxBuffer();
    m_queue = RequestQueue();
    m_monitor = std::make_unique<StatusMonitor>(m_window.get(), m_rx, m_queue);
    m_window->statusLine()->setText(QString::fromUtf8(StatusGood));
}

void TestStatusMonitor::cleanup()
{
    m_monitor.reset();
    m_window.reset();
    QLocale::setDefault(QLocale::c());
}

// As the exchange cycle leaves it: bytes beyond the new count keep the previous reply's.
void TestStatusMonitor::feed(const QByteArray &frame)
{
    QVERIFY(frame.size() <= RxBuffer::MaxCount);
    std::copy(frame.begin(), frame.end(), m_rx.bytes.begin());
    m_rx.count = int(frame.size());
    QVERIFY(m_rx.crcGood());
}

// Every register is read for one purpose, except 50-51 that nothing reads and the control-flag
// word that is both shown in hexadecimal and painted on lbl_cf.
void TestStatusMonitor::everyRegisterHasOneUse()
{
    QVector<int> uses(StatusRegisters, 0);
    const auto use = [&](int first, int count) {
        for (int n = first; n < first + count && n < StatusRegisters; ++n)
            ++uses[n];
    };
    QSet<QString> labels;
    for (const RegisterField &f : StatusRegisterMap()) {
        QVERIFY(label(f.label));
        labels.insert(f.label);
        QVERIFY(f.offset + FieldWidth(f.type) <= StatusRegisters);
        if (f.offset != StatusOffset::ControlFlags)
            use(f.offset, FieldWidth(f.type));
    }
    QCOMPARE(labels.size(), int(StatusRegisterMap().count));
    for (int n : {StatusOffset::MeasValidity, StatusOffset::NodeConflict, StatusOffset::UnitColours,
                  StatusOffset::DiscreteInputs})
        use(n, 1);
    for (int n : {StatusOffset::Alarms, StatusOffset::Alarms1, StatusOffset::Warnings,
                  StatusOffset::Warnings1, StatusOffset::ControlFlags})
        use(n, 2);
    for (int n :
         {StatusOffset::UnitMaxPower, StatusOffset::UnitActivePower, StatusOffset::UnitState})
        use(n, StatusUnits);
    for (int n = 0; n < StatusRegisters; ++n)
        QVERIFY2(uses[n] == (n == 50 || n == 51 ? 0 : 1), qPrintable(QString::number(n)));
}

void TestStatusMonitor::everyFieldAtItsOffset()
{
    Registers regs;
    for (int n = 0; n < 72; ++n)
        regs[n] = quint16(1000 + n);
    regs[22] = 0x0007;
    decode(regs);

    const QList<QPair<const char *, const char *>> expected = {
        {"lbl_pr_ver", "3 .232 "},
        {"lbl_sw_ver", "3 .233 "},
        {"lbl_netAU", "100,2 "},
        {"lbl_secAU", "100,3 "},
        {"lbl_phAU", "100,4 "},
        {"lbl_phBU", "100,5 "},
        {"lbl_phCU", "100,6 "},
        {"lbl_phAI", "100,7 "},
        {"lbl_phBI", "100,8 "},
        {"lbl_phCI", "100,9 "},
        {"lbl_ap", "101 "},
        {"lbl_fp", "101,1 "},
        {"lbl_rp", "101,2 "},
        {"lbl_cosfi", "1,013 "},
        {"lbl_netfr", "10,14 "},
        {"lbl_secfr", "10,15 "},
        {"lbl_fr", "10,16 "},
        {"lbl_netfrt", "10,17 "},
        {"lbl_secfrt", "10,18 "},
        {"lbl_frt", "10,19 "},
        {"lbl_dng", "102 "},
        {"lbl_dsg", "102,1 "},
        {"lbl_ovl_duty", "102,5 %"},
        {"lbl_own_duty", "102,6 %"},
        {"lbl_vfsf", "VFSF 04040405"},
        {"lbl_cf0", "CF0 04200421"},
        {"lbl_cf1", "CF1 04220423"},
        {"lbl_ovl_duty_wofg", "106 %"},
        {"lbl_ovl_duty_prev", "106,1 %"},
        {"lbl_ovl_duty_dstr", "106,2 %"},
        {"lbl_dbg", "042F"},
        {"lbl_ext_maxpwr_0", "103,4 "},
        {"lbl_ext_maxpwr_7", "104,1 "},
        {"lbl_ext_actpwr_0", "104,2 "},
        {"lbl_ext_actpwr_7", "104,9 "},
        {"lbl_tr_id", "-"},
        {"lbl_st_0", "-"},
    };
    for (const auto &e : expected)
        QCOMPARE(text(e.first), QString::fromUtf8(e.second));
    // 1063 = 0x0427: bits 0, 1, 2, 5 and 10.
    QCOMPARE(text("lbl_ext_cecsf_0"), QString::fromUtf16(u"\u0410\u041A\u0421\u0420\u043A"));
}

void TestStatusMonitor::scaledValues_data()
{
    QTest::addColumn<bool>("russian");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");

    const auto row = [](const char *what, bool ru, int offset, int raw, const char *name,
                        const char *shown) {
        QTest::newRow(what) << ru << offset << raw << name << shown;
    };
    row("50 Hz without decimals", true, 16, 5000, "lbl_fr", "50 ");
    row("49,99 Hz, comma", true, 16, 4999, "lbl_fr", "49,99 ");
    row("49.99 Hz, point under C", false, 16, 4999, "lbl_fr", "49.99 ");
    row("cos phi -1", true, 13, 0xFC18, "lbl_cosfi", "-1 ");
    row("cos phi 0,9", true, 13, 0x0384, "lbl_cosfi", "0,9 ");
    row("cos phi 0.9 under C", false, 13, 0x0384, "lbl_cosfi", "0.9 ");
    row("active power is signed", true, 10, 0xFFF6, "lbl_ap", "-1 ");
    row("full power is unsigned", true, 11, 0xFFF6, "lbl_fp", "6552,6 ");
    row("load share percent", true, 25, 455, "lbl_ovl_duty", "45,5 %");
}

void TestStatusMonitor::scaledValues()
{
    QFETCH(bool, russian);
    QFETCH(int, offset);
    QFETCH(int, raw);
    QFETCH(QString, name);
    QFETCH(QString, shown);

    QLocale::setDefault(russian ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c());
    decode({{22, 0x0007}, {offset, quint16(raw)}});
    QCOMPARE(text(name), shown);
}

void TestStatusMonitor::validityRule_data()
{
    QTest::addColumn<int>("validity");
    QTest::addColumn<QString>("shown"); // frt, netfrt, secfrt, dng, dsg: v = value, ? = not

    QTest::newRow("set only") << 0x0001 << "v????";
    QTest::newRow("set and buses") << 0x0003 << "vv?v?";
    QTest::newRow("set and section") << 0x0005 << "v?v?v";
    QTest::newRow("everything") << 0x0007 << "vvvvv";
    QTest::newRow("nothing") << 0x0000 << "?????";
    QTest::newRow("buses and section, no set") << 0x0006 << "?vv??";
    QTest::newRow("other bits ignored") << 0xFFF8 << "?????";
}

void TestStatusMonitor::validityRule()
{
    QFETCH(int, validity);
    QFETCH(QString, shown);

    decode({{22, quint16(validity)}, {19, 5000}, {17, 4990}, {18, 5010}, {20, 125}, {21, 0xFF85}});
    const char *names[] = {"lbl_frt", "lbl_netfrt", "lbl_secfrt", "lbl_dng", "lbl_dsg"};
    const char *values[] = {"50 ", "49,9 ", "50,1 ", "12,5 ", "-12,3 "};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(text(names[i]), QString::fromLatin1(shown[i] == 'v' ? values[i] : "?"));
    QCOMPARE(m_monitor->MeasValidity(), quint16(validity));
}

void TestStatusMonitor::hexFieldsAndVersions_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low"); // the next register; -1 = left at 0
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");

    const auto row = [](const char *what, int offset, int high, int low, const char *name,
                        const char *shown) {
        QTest::newRow(what) << offset << high << low << name << shown;
    };
    row("vfsf small", 28, 0x0000, 0x00AB, "lbl_vfsf", "VFSF 000000AB");
    row("vfsf all ones", 28, 0xFFFF, 0xFFFF, "lbl_vfsf", "VFSF FFFFFFFF");
    row("vfsf top bit", 28, 0x8000, 0x0000, "lbl_vfsf", "VFSF 80000000");
    row("cf0 top bit", 56, 0x8000, 0x0000, "lbl_cf0", "CF0 80000000");
    row("cf1 mixed", 58, 0x1234, 0xABCD, "lbl_cf1", "CF1 1234ABCD");
    row("debug word", 71, 0x000F, -1, "lbl_dbg", "000F");
    row("protocol 0x0207", 0, 0x0207, -1, "lbl_pr_ver", "2 .07 ");
    row("software 0x020C", 0, 0x0207, 0x020C, "lbl_sw_ver", "2 .12 ");
    row("software 0x0109", 1, 0x0109, -1, "lbl_sw_ver", "1 .09 ");
    row("software 0x010A", 1, 0x010A, -1, "lbl_sw_ver", "1 .10 ");
}

void TestStatusMonitor::hexFieldsAndVersions()
{
    QFETCH(int, offset);
    QFETCH(int, high);
    QFETCH(int, low);
    QFETCH(QString, name);
    QFETCH(QString, shown);

    Registers regs{{offset, quint16(high)}};
    if (low >= 0)
        regs[offset + 1] = quint16(low);
    decode(regs);
    QCOMPARE(text(name), shown);
}

void TestStatusMonitor::alarmColours_data()
{
    QTest::addColumn<quint32>("alarm");
    QTest::addColumn<quint32>("warning");
    QTest::addColumn<quint32>("alarm1");
    QTest::addColumn<quint32>("warning1");
    QTest::addColumn<QStringList>("painted"); // every other lbl_fl / lbl_fl1 is default

    QTest::newRow("bit 8 in both words is red")
        << 0x100u << 0x100u << 0u << 0u << QStringList{"lbl_fl_8=red"};
    QTest::newRow("bit 8 warning only is yellow")
        << 0u << 0x100u << 0u << 0u << QStringList{"lbl_fl_8=yellow"};
    QTest::newRow("bit 31 alarm") << 0x80000000u << 0u << 0u << 0u << QStringList{"lbl_fl_31=red"};
    QTest::newRow("alarm wins, warning fills in")
        << 0x80000001u << 0x3u << 0u << 0u
        << QStringList{"lbl_fl_0=red", "lbl_fl_1=yellow", "lbl_fl_31=red"};
    QTest::newRow("second pair") << 0u << 0u << 0x2u << 0x1u
                                 << QStringList{"lbl_fl1_0=yellow", "lbl_fl1_1=red"};
    QTest::newRow("second pair bits 2-31 ignored")
        << 0u << 0u << 0xFFFFFFFCu << 0xFFFFFFFCu << QStringList{};
    QTest::newRow("all clear after all set") << 0u << 0u << 0u << 0u << QStringList{};
}

void TestStatusMonitor::alarmColours()
{
    QFETCH(quint32, alarm);
    QFETCH(quint32, warning);
    QFETCH(quint32, alarm1);
    QFETCH(quint32, warning1);
    QFETCH(QStringList, painted);

    decode({{30, 0xFFFF}, {31, 0xFFFF}, {52, 0xFFFF}, {32, 0xFFFF}, {33, 0xFFFF}});
    Registers regs;
    const quint32 words[] = {alarm, alarm1, warning, warning1};
    const int offsets[] = {30, 32, 52, 54};
    for (int k = 0; k < 4; ++k) {
        regs[offsets[k]] = quint16(words[k] >> 16);
        regs[offsets[k] + 1] = quint16(words[k]);
    }
    decode(regs);

    QStringList seen;
    for (int i = 0; i < 34; ++i) {
        const QString name =
            i < 32 ? QStringLiteral("lbl_fl_%1").arg(i) : QStringLiteral("lbl_fl1_%1").arg(i - 32);
        if (colour(name) != QLatin1String("default"))
            seen << name + '=' + colour(name);
    }
    seen.sort();
    painted.sort();
    QCOMPARE(seen, painted);
}

void TestStatusMonitor::controlFlags_data()
{
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QList<int>>("green");

    QTest::newRow("bit 13 paints nothing") << (1u << 13) << QList<int>{};
    QTest::newRow("bit 18 paints label 13") << (1u << 18) << QList<int>{13};
    QTest::newRow("bit 20 paints label 15") << (1u << 20) << QList<int>{15};
    QTest::newRow("bits 13-17 and 21-31 unseen") << 0xFFE3E000u << QList<int>{};
    QTest::newRow("bit 31 only") << 0x80000000u << QList<int>{};
    QTest::newRow("bit 0 and bit 12") << 0x00001001u << QList<int>{0, 12};
}

void TestStatusMonitor::controlFlags()
{
    QFETCH(quint32, flags);
    QFETCH(QList<int>, green);

    decode({{56, quint16(flags >> 16)}, {57, quint16(flags)}});
    for (int i = 0; i < 16; ++i)
        QCOMPARE(colour(QStringLiteral("lbl_cf_%1").arg(i)),
                 QLatin1String(green.contains(i) ? "green" : "default"));
    QCOMPARE(text("lbl_cf0"), "CF0 " + QString::number(flags, 16).rightJustified(8, '0').toUpper());
}

void TestStatusMonitor::discreteInputsAndConflict()
{
    decode({{27, 0x0009}, {23, 0x0003}});
    for (int i = 0; i < 10; ++i)
        QCOMPARE(colour(QStringLiteral("lbl_eds_%1").arg(i)),
                 QLatin1String(i == 0 || i == 3 ? "green" : "default"));
    QVERIFY(!label("lbl_node_cnflct")->isHidden());

    decode({{27, 0xFC00}, {23, 0x0002}});
    for (int i = 0; i < 10; ++i)
        QCOMPARE(colour(QStringLiteral("lbl_eds_%1").arg(i)), QLatin1String("default"));
    QVERIFY(label("lbl_node_cnflct")->isHidden());
}

void TestStatusMonitor::unitRows_data()
{
    QTest::addColumn<int>("colours");
    QTest::addColumn<QList<int>>("greenRows");

    QTest::newRow("0x00FE: row 0 green") << 0x00FE << QList<int>{0};
    QTest::newRow("0x0000: every row green") << 0x0000 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("0xFF00: high byte ignored") << 0xFF00 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("0x007F: row 7 green") << 0x007F << QList<int>{7};
}

void TestStatusMonitor::unitRows()
{
    QFETCH(int, colours);
    QFETCH(QList<int>, greenRows);

    decode({{24, 0x0000}});
    decode({{24, quint16(colours)}});
    for (int i = 0; i < 8; ++i) {
        for (const char *column : {"lbl_ext_maxpwr_", "lbl_ext_actpwr_", "lbl_ext_cecsf_"})
            QCOMPARE(colour(column + QString::number(i)),
                     QLatin1String(greenRows.contains(i) ? "green" : "default"));
    }
}

void TestStatusMonitor::unitValuesAndLetters()
{
    decode({{24, 0x00FF},
            {34, 0xFFEC},
            {49, 1234},
            {63, 0x0003},
            {64, 0x0107},
            {65, 0x0600},
            {66, 0xF800},
            {67, 0xFFFF}});
    QCOMPARE(text("lbl_ext_maxpwr_0"), QStringLiteral("-2 "));
    QCOMPARE(text("lbl_ext_actpwr_7"), QStringLiteral("123,4 "));
    // Code points: the Cyrillic ES of bit 2 looks like the Latin C of the legend.
    QCOMPARE(text("lbl_ext_cecsf_0"), QString::fromUtf16(u"\u0410\u041A"));
    QCOMPARE(text("lbl_ext_cecsf_1"), QString::fromUtf16(u"\u0410\u041A\u0421*"));
    QCOMPARE(text("lbl_ext_cecsf_2"), QString::fromUtf16(u"\u0441\u043A"));
    QCOMPARE(text("lbl_ext_cecsf_3"), QString());
    QCOMPARE(text("lbl_ext_cecsf_4"),
             QString::fromUtf16(u"\u0410\u041A\u0421\u0417\u041D\u0420\u0411\u041E*\u0441\u043A"));
    QCOMPARE(UnitStateLetters(0x0010), QString::fromUtf16(u"\u041D"));
}

void TestStatusMonitor::priorityCodes_data()
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
    QTest::newRow("entry 12 does not exist")
        << 0xA50C << 0 << false << " Неверный код смены приоритета: A50C";
    QTest::newRow("marker in low byte only") << 0x00A5 << 0 << false << "";
}

void TestStatusMonitor::priorityCodes()
{
    QFETCH(int, code);
    QFETCH(int, selected);
    QFETCH(bool, acknowledged);
    QFETCH(QString, note);

    const QString before = status();
    feed(Frame({0x01, 0x17, 0x02, code >> 8, code & 0xFF}));
    m_monitor->DecodeReply();

    QCOMPARE(text("lbl_setpr"), QString::number(code, 16).rightJustified(4, '0').toUpper());
    QCOMPARE(priority()->currentIndex(), selected);
    QCOMPARE(priority()->currentText(), QString::number(selected));
    QCOMPARE(m_queue.waiting(), acknowledged ? 1 : 0);
    QCOMPARE(status(), before + note);
}

void TestStatusMonitor::priorityAcknowledgementBytes()
{
    feed(Frame({0x01, 0x17, 0x02, 0xA5, 0x03}));
    m_monitor->DecodeReply();
    QCOMPARE(m_queue.waiting(), 1);
    const RequestSlot &ack = m_queue.inFlight();
    QCOMPARE(ack.last, 5);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(ack.bytes.data()), 6),
             QByteArray("\x00\x06\x0F\xA1\xAD\x5E", 6));
    QCOMPARE(m_window->controlState().priority, 3);
}

void TestStatusMonitor::exceptionNote()
{
    decode({{22, 0x0007}, {16, 5000}, {30, 0x0001}});
    const QStringList before = Snapshot(m_window.get());

    feed(Frame({0x01, 0x84, 0x02}));
    m_monitor->DecodeReply();
    QCOMPARE(status(), QString::fromUtf8(StatusGood) + " Нарушение протокола, код: 2");
    QCOMPARE(Snapshot(m_window.get()), before);
    QCOMPARE(m_queue.waiting(), 0);

    feed(Frame({0x01, 0x90, 0xFF}));
    m_monitor->DecodeReply();
    QVERIFY(status().endsWith(" Нарушение протокола, код: 255"));
}

void TestStatusMonitor::shortRepliesChangeNothing_data()
{
    QTest::addColumn<QByteArray>("previous");
    QTest::addColumn<QByteArray>("reply");

    // The previous reply is left in the buffer: a decode would mix its bytes with the new ones.
    const QByteArray full =
        StatusReply({{22, 7}, {16, 5000}, {4, 2305}, {23, 1}, {24, 0x00FE}, {27, 1}});
    const QByteArray other = StatusReply({{16, 4000}, {4, 1000}, {23, 0}, {24, 0}, {27, 0}});
    QTest::newRow("status one byte short") << full << WithCrc(other.left(146));
    QTest::newRow("status half a block") << full << WithCrc(other.left(73));
    QTest::newRow("status header only") << full << WithCrc(other.left(3));
    QTest::newRow("priority without its register")
        << Frame({0x01, 0x17, 0x02, 0xA5, 0x03}) << Frame({0x01, 0x17, 0x00});
}

void TestStatusMonitor::shortRepliesChangeNothing()
{
    QFETCH(QByteArray, previous);
    QFETCH(QByteArray, reply);

    feed(previous);
    m_monitor->DecodeReply();
    m_queue = RequestQueue();
    const QStringList before = Snapshot(m_window.get());
    const int selected = priority()->currentIndex();
    const QString line = status();

    feed(reply);
    m_monitor->DecodeReply();
    QCOMPARE(Snapshot(m_window.get()), before);
    QCOMPARE(priority()->currentIndex(), selected);
    QCOMPARE(m_queue.waiting(), 0);
    QCOMPARE(status(), line + QStringLiteral(" Неполный ответ: %1 байт").arg(reply.size()));
}

void TestStatusMonitor::otherRepliesChangeNothing()
{
    decode({{22, 0x0007}, {16, 5000}});
    const QStringList before = Snapshot(m_window.get());
    const QString line = status();
    for (const QByteArray &reply :
         {Frame({0x01, 0x06, 0x0F, 0xA1, 0xCB, 0xD0}), Frame({0x01, 0x03, 0x02, 0xA5, 0x01}),
          Frame({0x01, 100, 0x00, 0x10, 0x01, 0x2A})}) {
        feed(reply);
        m_monitor->DecodeReply(); // function 100 while the parameters window is closed
        QCOMPARE(Snapshot(m_window.get()), before);
        QCOMPARE(status(), line);
        QCOMPARE(m_queue.waiting(), 0);
    }
}

void TestStatusMonitor::paramRepliesGoToTheirHandler()
{
    QList<int> calls;
    m_monitor->applyParamReply = [&] { calls << m_rx.byte(1); };
    for (const QByteArray &reply :
         {Frame({0x01, 100, 0x00, 0x10, 0x01, 0x2A}), Frame({0x01, 101, 0x00, 0x10, 0x01}),
          StatusReply({}), Frame({0x01, 0xE4, 0x01})}) {
        feed(reply);
        m_monitor->DecodeReply();
    }
    QCOMPARE(calls, (QList<int>{100, 101}));
}

void TestStatusMonitor::unchangedReplyRepaintsNothing()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    const Registers a{{22, 7}, {16, 5000}, {30, 0x00FF}, {27, 0x0003}, {24, 0x000F}};
    const Registers b{{22, 7}, {16, 4999}, {30, 0xFF00}, {27, 0x0300}, {24, 0x00F0}};
    decode(a);
    QCoreApplication::processEvents();

    PaintCounter counter;
    for (QLabel *l : m_window->findChildren<QLabel *>())
        l->installEventFilter(&counter);
    decode(a);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);

    decode(b);
    QCoreApplication::processEvents();
    QVERIFY(counter.paints > 0);
    m_window->grab().save(QDir::current().filePath(QStringLiteral("frm_main_live.png")));
}

void TestStatusMonitor::missingControlsAndNoiseDoNotCrash()
{
    QWidget empty;
    RequestQueue queue;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("controls missing in frm_main"));
    StatusMonitor bare(&empty, m_rx, queue);
    for (const QByteArray &reply : {StatusReply({{23, 1}}), Frame({0x01, 0x17, 0x02, 0xA5, 0x03}),
                                    Frame({0x01, 0x84, 0x02}), Frame({0x01, 100, 0, 0, 0})}) {
        feed(reply);
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
        feed(WithCrc(body));
        const int before = m_queue.waiting();
        m_monitor->DecodeReply();
        const int code = m_rx.RxWord(3);
        const bool acknowledges =
            m_rx.byte(1) == 23 && m_rx.count >= 7 && (code >> 8) == 0xA5 && (code & 0xFF) <= 7;
        QCOMPARE(m_queue.waiting(), before + (acknowledges ? 1 : 0));
        m_window->statusLine()->clear();
    }
}

QTEST_MAIN(TestStatusMonitor)
#include "tst_statusmonitor.moc"
