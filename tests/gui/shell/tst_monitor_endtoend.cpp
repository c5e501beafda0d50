#include "modbus/exchangecycle.h"
#include "modbus/qserialportlink.h"
#include "recordinglink.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "simprocess.h"
#include "status/statussnapshot.h"

#include <QGuiApplication>
#include <QLabel>
#include <QtTest>

#include <memory>

using namespace vortan;
using namespace vortan::test;

namespace
{

const QString Good = QString::fromUtf8(StatusGood);
const QRgb Green = qRgb(0, 255, 0);
const QRgb Red = qRgb(255, 0, 0);
const QRgb Yellow = qRgb(255, 255, 0);

QRgb defaultColour()
{
    return QGuiApplication::palette().color(QPalette::Button).rgb();
}

QRgb background(const QLabel *label)
{
    return label->palette().color(QPalette::Window).rgb();
}

QString colourName(QRgb c)
{
    return c == Green             ? QStringLiteral("green")
           : c == Red             ? QStringLiteral("red")
           : c == Yellow          ? QStringLiteral("yellow")
           : c == defaultColour() ? QStringLiteral("default")
                                  : QColor(c).name();
}

// The program in-process on the simulator's line, with real message boxes replaced.
struct World {
    explicit World(const QStringList &simArguments)
        : sim(simArguments), line([this](int) { return sim.device(); }), link(line)
    {
        options.programDir = dir.path();
    }

    Simulator sim;
    QTemporaryDir dir;
    QSerialPortLink line;
    RecordingLink link;
    ScriptedMessages messages;
    StartupOptions options;
    std::unique_ptr<Application> app;

    bool start()
    {
        if (!sim.waitReady())
            return false;
        app = std::make_unique<Application>(options, link, messages);
        app->statusMonitor().setPaintIntervalMs(0); // every reply checked on the screen
        return app->start() && messages.shown.isEmpty();
    }
    MainWindow &window() { return app->mainWindow(); }
    QLabel *label(const QString &name) { return window().findChild<QLabel *>(name); }
};

QString member(const char *name, int index)
{
    return QString::fromLatin1(name) + QLatin1Char('_') + QString::number(index);
}

// The block as the core decodes it; its texts and lamps have tests of their own.
StatusSnapshot snapshotOf(const QList<int> &regs)
{
    RxBuffer rx;
    rx.count = StatusReplyLength;
    for (int n = 0; n < StatusRegisters; ++n) {
        rx.bytes[size_t(RegByteIndex(n))] = quint8(regs.value(n) >> 8);
        rx.bytes[size_t(RegByteIndex(n) + 1)] = quint8(regs.value(n));
    }
    return DecodeStatusBlock(rx);
}

// Every difference between the screen and the block, as "name: shown ..., expected ...". What
// the indicators showed (colour, "?" or a number, shown or hidden) is added to `states`.
QStringList screenMismatches(World &w, const StatusSnapshot &s,
                             QMap<QString, QSet<QString>> &states)
{
    QStringList out;
    auto check = [&](const QString &name, const QString &expected, auto shownOf) {
        const QLabel *l = w.label(name);
        const QString shown = l ? shownOf(l) : QStringLiteral("missing");
        if (shown != expected)
            out << QStringLiteral("%1: shown \"%2\", expected \"%3\"").arg(name, shown, expected);
        return shown == expected;
    };
    auto text = [&](const QString &name, const QString &expected) {
        return check(name, expected, [](const QLabel *l) { return l->text(); });
    };
    auto colour = [&](const QString &name, QRgb expected) {
        if (check(name, colourName(expected),
                  [](const QLabel *l) { return colourName(background(l)); }))
            states[name] << colourName(expected);
    };

    const RegisterMap map = StatusRegisterMap();
    for (size_t i = 0; i < map.count; ++i) {
        const QString name = QString::fromLatin1(map.first[i].label);
        if (text(name, s.fieldText(int(i))) && map.first[i].validity != 0)
            states[name] << (s.fields[i].valid ? QStringLiteral("a number") : QStringLiteral("?"));
    }
    for (int i = 0; i < StatusUnits; ++i) {
        const UnitReading &u = s.units[size_t(i)];
        text(member("lbl_ext_maxpwr", i), UnitPowerText(u.maxPower));
        text(member("lbl_ext_actpwr", i), UnitPowerText(u.activePower));
        text(member("lbl_ext_cecsf", i), UnitStateLetters(u.state));
        for (const char *column : {"lbl_ext_maxpwr", "lbl_ext_actpwr", "lbl_ext_cecsf"})
            colour(member(column, i), u.green ? Green : defaultColour());
    }
    for (int i = 0; i < DiscreteInputLamps; ++i)
        colour(member("lbl_eds", i), s.inputOn(i) ? Green : defaultColour());
    for (int i = 0; i < ControlFlagLamps; ++i)
        colour(member("lbl_cf", i), s.flagOn(i) ? Green : defaultColour());
    const QRgb levels[] = {defaultColour(), Yellow, Red};
    for (int i = 0; i < AlarmLamps; ++i)
        colour(member("lbl_fl", i), levels[s.alarmLevel(i)]);
    for (int i = 0; i < Alarm1Lamps; ++i)
        colour(member("lbl_fl1", i), levels[s.alarmLevel(i, true)]);

    const QString conflict = s.nodeConflict ? QStringLiteral("shown") : QStringLiteral("hidden");
    if (check(QStringLiteral("lbl_node_cnflct"), conflict, [](const QLabel *l) {
            return l->isHidden() ? QStringLiteral("hidden") : QStringLiteral("shown");
        }))
        states[QStringLiteral("lbl_node_cnflct")] << conflict;
    return out;
}

// Waits briefly until the reply to the frame just sent has arrived whole.
void waitForReply(RecordingLink &link)
{
    const int fc = link.functionSent();
    const int length = fc == 4 ? 149 : fc == 23 ? 7 : 5;
    // A dropped reply never comes; the tick then judges what there is.
    static_cast<void>(QTest::qWaitFor([&] { return link.bytesWaiting() >= length; }, 250));
}

} // namespace

class TestMonitorEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void screenFollowsTheControllersRegisters_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("Russian locale")
            << QLocale(QLocale::Russian, QLocale::Russia) << QStringList{};
        // A reply with a broken CRC or none at all must leave the last good block on screen.
        QTest::newRow("lost and corrupted replies")
            << QLocale::c()
            << QStringList{QStringLiteral("--drop"), QStringLiteral("0.1"),
                           QStringLiteral("--corrupt"), QStringLiteral("0.1")};
    }

    // Timer1 stopped and ExchangeTick driven by hand: whenever the tick has just judged a good
    // reply to a status read and sent the control-state exchange, the screen shows exactly the
    // block the simulator last delivered intact. Over the alarms scenario's cycle every
    // indicator shows every state its kind has.
    void screenFollowsTheControllersRegisters()
    {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, faults);
        QLocale::setDefault(locale);
        World w(QStringList{QStringLiteral("--scenario"), QStringLiteral("alarms"),
                            QStringLiteral("--seed"), QStringLiteral("11")} +
                faults);
        QVERIFY2(w.start(), w.sim.errors().constData());
        QLabel *status = w.window().statusLine();
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(Good), 5000);
        w.app->timer1().stop();

        QMap<QString, QSet<QString>> states;
        // 36 status reads in a row cover every step of the scenario's 32-read cycle.
        constexpr int Samples = 36;
        int checked = 0;
        quint32 previousRead = 0;
        bool negativePower = false, negativeCosPhi = false;
        for (int tick = 0; tick < 6 * Samples && checked < Samples; ++tick) {
            waitForReply(w.link);
            w.app->ExchangeTick();
            if (!status->text().startsWith(Good) || w.link.functionSent() != 23 ||
                w.link.functionSent(1) != 4)
                continue;

            const QJsonObject reply = w.sim.query(QStringLiteral("status"));
            QList<int> regs;
            for (const QJsonValue &v : reply.value(QStringLiteral("status")).toArray())
                regs << v.toInt(-1);
            QCOMPARE(regs.size(), StatusRegisters);
            const quint32 read = quint32(reply.value(QStringLiteral("read")).toInteger());
            // On a clean line every status read is compared; a lost or rejected reply makes
            // the program read again, so reads are skipped but never go back.
            QVERIFY(read > previousRead);
            if (previousRead != 0 && faults.isEmpty())
                QCOMPARE(read, previousRead + 1);
            previousRead = read;

            const StatusSnapshot snapshot = snapshotOf(regs);
            const QStringList mismatches = screenMismatches(w, snapshot, states);
            QVERIFY2(mismatches.isEmpty(),
                     qPrintable(QStringLiteral("status read %1: %2")
                                    .arg(read)
                                    .arg(mismatches.join(QStringLiteral("; ")))));
            negativePower |= qint16(regs.at(10)) < 0;
            negativeCosPhi |= qint16(regs.at(13)) < 0;
            ++checked;
        }
        QCOMPARE(checked, Samples);
        QVERIFY2(negativePower && negativeCosPhi, "the signed fields were compared below zero");
        if (!faults.isEmpty()) {
            const QJsonObject stats = w.sim.query(QStringLiteral("stats"));
            const QJsonObject injected = stats.value(QStringLiteral("faults")).toObject();
            QVERIFY2(injected.value(QStringLiteral("drop")).toInt() > 0 &&
                         injected.value(QStringLiteral("corrupt")).toInt() > 0,
                     QJsonDocument(stats).toJson().constData());
        }

        QStringList lacking;
        for (auto it = states.cbegin(); it != states.cend(); ++it) {
            if (it->size() != (it.key().startsWith(QLatin1String("lbl_fl")) ? 3 : 2))
                lacking << it.key() + QStringLiteral(" only ") +
                               it->values().join(QLatin1Char('/'));
        }
        QCOMPARE(states.size(), 10 + 16 + 32 + 2 + 3 * 8 + 5 + 1);
        QVERIFY2(lacking.isEmpty(), qPrintable(lacking.join(QStringLiteral("; "))));
    }
};

QTEST_MAIN(TestMonitorEndToEnd)
#include "tst_monitor_endtoend.moc"
