#include "format/formatting.h"
#include "modbus/exchangecycle.h"
#include "modbus/qserialportlink.h"
#include "recordinglink.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QMap>
#include <QPixmap>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <utility>

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
        return app->start() && messages.shown.isEmpty();
    }
    MainWindow &window() { return app->mainWindow(); }
    QLabel *label(const QString &name) { return window().findChild<QLabel *>(name); }
};

// What the status block should put on screen, written from the controller's register list
// rather than taken from the program's own map. A synchroniser value (ends != 0) is a number
// only when register 22 says both its ends were measured.
struct Field {
    const char *label;
    int offset;
    bool isSigned;
    double factor;
    int decimals;
    const char *unit;
    quint16 ends;
};
const Field Fields[] = {
    {"lbl_netAU", 2, false, 0.1, 1, "", 0},
    {"lbl_secAU", 3, false, 0.1, 1, "", 0},
    {"lbl_phAU", 4, false, 0.1, 1, "", 0},
    {"lbl_phBU", 5, false, 0.1, 1, "", 0},
    {"lbl_phCU", 6, false, 0.1, 1, "", 0},
    {"lbl_phAI", 7, false, 0.1, 1, "", 0},
    {"lbl_phBI", 8, false, 0.1, 1, "", 0},
    {"lbl_phCI", 9, false, 0.1, 1, "", 0},
    {"lbl_ap", 10, true, 0.1, 1, "", 0},
    {"lbl_fp", 11, false, 0.1, 1, "", 0},
    {"lbl_rp", 12, false, 0.1, 1, "", 0},
    {"lbl_cosfi", 13, true, 0.001, 3, "", 0},
    {"lbl_netfr", 14, false, 0.01, 2, "", 0},
    {"lbl_secfr", 15, false, 0.01, 2, "", 0},
    {"lbl_fr", 16, false, 0.01, 2, "", 0},
    {"lbl_netfrt", 17, false, 0.01, 2, "", 0x2},
    {"lbl_secfrt", 18, false, 0.01, 2, "", 0x4},
    {"lbl_frt", 19, false, 0.01, 2, "", 0x1},
    {"lbl_dng", 20, true, 0.1, 1, "", 0x3},
    {"lbl_dsg", 21, true, 0.1, 1, "", 0x5},
    {"lbl_ovl_duty", 25, true, 0.1, 1, "%", 0},
    {"lbl_own_duty", 26, true, 0.1, 1, "%", 0},
    {"lbl_ovl_duty_wofg", 60, true, 0.1, 1, "%", 0},
    {"lbl_ovl_duty_prev", 61, true, 0.1, 1, "%", 0},
    {"lbl_ovl_duty_dstr", 62, true, 0.1, 1, "%", 0},
};

// One letter per unit state bit 0..10; bit 2 is the Cyrillic capital ES.
const QString UnitLetters = QStringLiteral("АКСЗНРБО*ск");

QString member(const char *name, int index)
{
    return QString::fromLatin1(name) + QLatin1Char('_') + QString::number(index);
}

struct Block {
    QList<int> regs;

    quint16 u16(int n) const { return quint16(regs.value(n)); }
    qint16 s16(int n) const { return qint16(u16(n)); }
    quint32 u32(int n) const { return quint32(u16(n)) << 16 | u16(n + 1); }
    double value(int n, bool isSigned) const { return isSigned ? s16(n) : u16(n); }
};

QString hex(quint32 v, int width)
{
    return QStringLiteral("%1").arg(v, width, 16, QLatin1Char('0')).toUpper();
}

QString version(quint16 word)
{
    const int hi = word >> 8, lo = word & 0xFF;
    return QString::number(hi) + (lo > 9 ? QStringLiteral(" .") : QStringLiteral(" .0")) +
           QString::number(lo) + QLatin1Char(' ');
}

QString unitLetters(quint16 word)
{
    QString s;
    for (int k = 0; k < UnitLetters.size(); ++k) {
        if (word & (1u << k))
            s += UnitLetters.at(k);
    }
    return s;
}

// Every difference between the screen and the block, as "name: shown ..., expected ...". What
// the indicators showed (colour, "?" or a number, shown or hidden) is added to `states`.
QStringList screenMismatches(World &w, const Block &b, QMap<QString, QSet<QString>> &states)
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

    text(QStringLiteral("lbl_pr_ver"), version(b.u16(0)));
    text(QStringLiteral("lbl_sw_ver"), version(b.u16(1)));
    for (const Field &f : Fields) {
        const bool measured = (b.u16(22) & f.ends) == f.ends;
        const QString name = QString::fromLatin1(f.label);
        if (text(name, measured ? FormatScaled(b.value(f.offset, f.isSigned), f.decimals, f.factor,
                                               QString::fromLatin1(f.unit))
                                : QStringLiteral("?")) &&
            f.ends != 0)
            states[name] << (measured ? QStringLiteral("a number") : QStringLiteral("?"));
    }
    text(QStringLiteral("lbl_vfsf"), QStringLiteral("VFSF ") + hex(b.u32(28), 8));
    text(QStringLiteral("lbl_cf0"), QStringLiteral("CF0 ") + hex(b.u32(56), 8));
    text(QStringLiteral("lbl_cf1"), QStringLiteral("CF1 ") + hex(b.u32(58), 8));
    text(QStringLiteral("lbl_dbg"), hex(b.u16(71), 4));

    for (int i = 0; i < 8; ++i) {
        text(member("lbl_ext_maxpwr", i), FormatScaled(b.s16(34 + i), 1, 0.1, {}));
        text(member("lbl_ext_actpwr", i), FormatScaled(b.s16(42 + i), 1, 0.1, {}));
        text(member("lbl_ext_cecsf", i), unitLetters(b.u16(63 + i)));
        const QRgb row = (b.u16(24) >> i) & 1 ? defaultColour() : Green;
        for (const char *column : {"lbl_ext_maxpwr", "lbl_ext_actpwr", "lbl_ext_cecsf"})
            colour(member(column, i), row);
    }
    for (int i = 0; i < 10; ++i)
        colour(member("lbl_eds", i), (b.u16(27) >> i) & 1 ? Green : defaultColour());
    for (int i = 0; i < 16; ++i)
        colour(member("lbl_cf", i),
               (b.u32(56) >> (i < 13 ? i : i + 5)) & 1 ? Green : defaultColour());
    auto alarm = [&](const char *name, int count, int alarmOffset, int warningOffset) {
        for (int i = 0; i < count; ++i)
            colour(member(name, i), (b.u32(alarmOffset) >> i) & 1     ? Red
                                    : (b.u32(warningOffset) >> i) & 1 ? Yellow
                                                                      : defaultColour());
    };
    alarm("lbl_fl", 32, 30, 52);
    alarm("lbl_fl1", 2, 32, 54);

    const QString conflict = b.u16(23) & 1 ? QStringLiteral("shown") : QStringLiteral("hidden");
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
    QDeadlineTimer deadline(250);
    while (link.bytesWaiting() < length && !deadline.hasExpired())
        QTest::qWait(1);
}

// True when the label cannot show its whole text in the box it has.
bool clipped(const QLabel *label)
{
    const QString text = label->text();
    if (text.isEmpty() || label->isHidden())
        return false;
    const QRect inside = label->contentsRect();
    const QFontMetrics fm = label->fontMetrics();
    if (!label->wordWrap())
        return fm.horizontalAdvance(text) > inside.width() || fm.height() > inside.height();
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (fm.horizontalAdvance(word) > inside.width())
            return true;
    }
    return label->heightForWidth(inside.width()) > inside.height();
}

// Share of the label's area painted in exactly `colour` in a grab of the main window.
double paintedShare(const QImage &image, const MainWindow &window, const QLabel *label, QRgb colour)
{
    const qreal dpr = image.devicePixelRatio();
    const QRect r(label->mapTo(&window, QPoint(0, 0)) * dpr, label->size() * dpr);
    const QRect area = r.intersected(image.rect());
    if (area.isEmpty())
        return 0;
    int hits = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            hits += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    }
    return double(hits) / (area.width() * area.height());
}

} // namespace

class TestMonitorEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString sim = QDir(binDir()).filePath(QStringLiteral("vortan-sim"));
        QVERIFY2(QFile::exists(sim), qPrintable("vortan-sim is not built: " + sim));
    }

    void screenFollowsTheControllersRegisters_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("C locale") << QLocale::c() << QStringList{};
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
    // indicator shows every state its kind has, and no text is clipped.
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

        const QList<QLabel *> labels = w.window().findChildren<QLabel *>();
        QMap<QString, QSet<QString>> states;
        QSet<QString> clippedTexts;
        QImage shot;
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
            Block b;
            for (const QJsonValue &v : reply.value(QStringLiteral("status")).toArray())
                b.regs << v.toInt(-1);
            QCOMPARE(b.regs.size(), 72);
            const quint32 read = quint32(reply.value(QStringLiteral("read")).toInteger());
            // On a clean line every status read is compared; a lost or rejected reply makes
            // the program read again, so reads are skipped but never go back.
            QVERIFY(read > previousRead);
            if (previousRead != 0 && faults.isEmpty())
                QCOMPARE(read, previousRead + 1);
            previousRead = read;

            const QStringList mismatches = screenMismatches(w, b, states);
            QVERIFY2(mismatches.isEmpty(),
                     qPrintable(QStringLiteral("status read %1: %2")
                                    .arg(read)
                                    .arg(mismatches.join(QStringLiteral("; ")))));
            negativePower |= b.s16(10) < 0;
            negativeCosPhi |= b.s16(13) < 0;
            for (const QLabel *l : labels) {
                if (clipped(l))
                    clippedTexts << QStringLiteral("%1 \"%2\"").arg(l->objectName(), l->text());
            }
            if (shot.isNull() && b.u16(23) & 1 && background(w.label("lbl_fl_8")) == Red &&
                background(w.label("lbl_fl_9")) == Yellow &&
                background(w.label("lbl_eds_0")) == Green)
                shot = w.window().grab().toImage();
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

        // The widest text of the unit table is all eleven state letters.
        QVERIFY2(clippedTexts.isEmpty(),
                 qPrintable(clippedTexts.values().join(QStringLiteral("; "))));

        // The colours reach the pixels a user sees, not only the palettes. (Members 0-3 and 19
        // of lbl_fl share one place, so only the topmost of them can be seen.)
        QVERIFY2(!shot.isNull(), "no status read showed the first alarm phase");
        for (const auto &[name, c] :
             {std::pair{"lbl_fl_8", Red}, std::pair{"lbl_fl_9", Yellow},
              std::pair{"lbl_eds_0", Green}, std::pair{"lbl_node_cnflct", Red}}) {
            const double share = paintedShare(shot, w.window(), w.label(name), c);
            QVERIFY2(share > 0.4, qPrintable(QStringLiteral("%1: %2 of its area %3")
                                                 .arg(QString::fromLatin1(name))
                                                 .arg(share)
                                                 .arg(colourName(c))));
        }
        if (locale.language() == QLocale::Russian) {
            const QString path = QDir::current().filePath(QStringLiteral("monitor_alarms.png"));
            QVERIFY2(shot.save(path, "PNG"), qPrintable(path));
        }
    }
};

QTEST_MAIN(TestMonitorEndToEnd)
#include "tst_monitor_endtoend.moc"
