#include "format/formatting.h"
#include "modbus/exchangecycle.h"
#include "modbus/qserialportlink.h"
#include "modbus/seriallink.h"
#include "recordinglink.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QMap>
#include <QPalette>
#include <QPixmap>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <utility>
#include <vector>

using vortan::Application;
using vortan::MainWindow;
using vortan::QSerialPortLink;
using vortan::StartupOptions;
using vortan::test::binDir;
using vortan::test::RecordingLink;
using vortan::test::ScriptedMessages;
using vortan::test::Simulator;

namespace
{

const QString Good = QString::fromUtf8(vortan::StatusGood);
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
    if (c == Green)
        return QStringLiteral("green");
    if (c == Red)
        return QStringLiteral("red");
    if (c == Yellow)
        return QStringLiteral("yellow");
    if (c == defaultColour())
        return QStringLiteral("default");
    return QColor(c).name();
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
        return app->start();
    }
    MainWindow &window() { return app->mainWindow(); }
    QLabel *label(const QString &name) { return window().findChild<QLabel *>(name); }
};

class LocaleScope
{
public:
    explicit LocaleScope(const QLocale &locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_saved); }

private:
    QLocale m_saved;
};

// What the status block should put on screen, written from the controller's register list
// rather than taken from the program's own map.
struct ScaledField {
    const char *label;
    int offset;
    bool isSigned;
    double factor;
    int decimals;
    const char *unit;
};
const ScaledField ScaledFields[] = {
    {"lbl_netAU", 2, false, 0.1, 1, ""},
    {"lbl_secAU", 3, false, 0.1, 1, ""},
    {"lbl_phAU", 4, false, 0.1, 1, ""},
    {"lbl_phBU", 5, false, 0.1, 1, ""},
    {"lbl_phCU", 6, false, 0.1, 1, ""},
    {"lbl_phAI", 7, false, 0.1, 1, ""},
    {"lbl_phBI", 8, false, 0.1, 1, ""},
    {"lbl_phCI", 9, false, 0.1, 1, ""},
    {"lbl_ap", 10, true, 0.1, 1, ""},
    {"lbl_fp", 11, false, 0.1, 1, ""},
    {"lbl_rp", 12, false, 0.1, 1, ""},
    {"lbl_cosfi", 13, true, 0.001, 3, ""},
    {"lbl_netfr", 14, false, 0.01, 2, ""},
    {"lbl_secfr", 15, false, 0.01, 2, ""},
    {"lbl_fr", 16, false, 0.01, 2, ""},
    {"lbl_ovl_duty", 25, true, 0.1, 1, "%"},
    {"lbl_own_duty", 26, true, 0.1, 1, "%"},
    {"lbl_ovl_duty_wofg", 60, true, 0.1, 1, "%"},
    {"lbl_ovl_duty_prev", 61, true, 0.1, 1, "%"},
    {"lbl_ovl_duty_dstr", 62, true, 0.1, 1, "%"},
};

// Synchroniser values: a number only when register 22 says both ends were measured.
struct SyncField {
    const char *label;
    int offset;
    bool isSigned;
    double factor;
    int decimals;
    quint16 validityBits;
};
const SyncField SyncFields[] = {
    {"lbl_netfrt", 17, false, 0.01, 2, 0x2}, {"lbl_secfrt", 18, false, 0.01, 2, 0x4},
    {"lbl_frt", 19, false, 0.01, 2, 0x1},    {"lbl_dng", 20, true, 0.1, 1, 0x3},
    {"lbl_dsg", 21, true, 0.1, 1, 0x5},
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

// Every difference between the screen and the block, as "name: shown ..., expected ...".
QStringList screenMismatches(World &w, const Block &b)
{
    QStringList out;
    auto text = [&](const QString &name, const QString &expected) {
        const QLabel *l = w.label(name);
        if (!l)
            out << name + QStringLiteral(": missing");
        else if (l->text() != expected)
            out << QStringLiteral("%1: shown \"%2\", expected \"%3\"")
                       .arg(name, l->text(), expected);
    };
    auto colour = [&](const QString &name, QRgb expected) {
        const QLabel *l = w.label(name);
        if (!l)
            out << name + QStringLiteral(": missing");
        else if (background(l) != expected)
            out << QStringLiteral("%1: shown %2, expected %3")
                       .arg(name, colourName(background(l)), colourName(expected));
    };

    text(QStringLiteral("lbl_pr_ver"), version(b.u16(0)));
    text(QStringLiteral("lbl_sw_ver"), version(b.u16(1)));
    for (const ScaledField &f : ScaledFields)
        text(QString::fromLatin1(f.label),
             vortan::FormatScaled(b.value(f.offset, f.isSigned), f.decimals, f.factor,
                                  QString::fromLatin1(f.unit)));
    const quint16 validity = b.u16(22);
    for (const SyncField &f : SyncFields)
        text(QString::fromLatin1(f.label),
             (validity & f.validityBits) == f.validityBits
                 ? vortan::FormatScaled(b.value(f.offset, f.isSigned), f.decimals, f.factor, {})
                 : QStringLiteral("?"));
    text(QStringLiteral("lbl_vfsf"), QStringLiteral("VFSF ") + hex(b.u32(28), 8));
    text(QStringLiteral("lbl_cf0"), QStringLiteral("CF0 ") + hex(b.u32(56), 8));
    text(QStringLiteral("lbl_cf1"), QStringLiteral("CF1 ") + hex(b.u32(58), 8));
    text(QStringLiteral("lbl_dbg"), hex(b.u16(71), 4));

    for (int i = 0; i < 8; ++i) {
        text(member("lbl_ext_maxpwr", i), vortan::FormatScaled(b.s16(34 + i), 1, 0.1, {}));
        text(member("lbl_ext_actpwr", i), vortan::FormatScaled(b.s16(42 + i), 1, 0.1, {}));
        text(member("lbl_ext_cecsf", i), unitLetters(b.u16(63 + i)));
        const QRgb row = (b.u16(24) >> i) & 1 ? defaultColour() : Green;
        for (const char *column : {"lbl_ext_maxpwr", "lbl_ext_actpwr", "lbl_ext_cecsf"})
            colour(member(column, i), row);
    }
    for (int i = 0; i < 10; ++i)
        colour(member("lbl_eds", i), (b.u16(27) >> i) & 1 ? Green : defaultColour());
    for (int i = 0; i < 16; ++i) {
        const int bit = i < 13 ? i : i + 5;
        colour(member("lbl_cf", i), (b.u32(56) >> bit) & 1 ? Green : defaultColour());
    }
    auto alarm = [&](const char *name, int count, int alarmOffset, int warningOffset) {
        for (int i = 0; i < count; ++i) {
            const QRgb c = (b.u32(alarmOffset) >> i) & 1     ? Red
                           : (b.u32(warningOffset) >> i) & 1 ? Yellow
                                                             : defaultColour();
            colour(member(name, i), c);
        }
    };
    alarm("lbl_fl", 32, 30, 52);
    alarm("lbl_fl1", 2, 32, 54);

    if (const QLabel *conflict = w.label(QStringLiteral("lbl_node_cnflct"))) {
        const bool shown = b.u16(23) & 1;
        if (conflict->isHidden() == shown)
            out << QStringLiteral("lbl_node_cnflct: %1, expected %2")
                       .arg(conflict->isHidden() ? "hidden" : "shown", shown ? "shown" : "hidden");
    } else {
        out << QStringLiteral("lbl_node_cnflct: missing");
    }
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
        if (!QFile::exists(sim))
            QFAIL(qPrintable("vortan-sim is not built: " + sim));
    }

    // Under the alarms scenario, with the real Timer1 running, every indicator takes every
    // colour its kind can show, the priority conflict comes and goes, and each synchroniser
    // value is shown both measured and as "?".
    void alarmsScenarioShowsEveryIndicatorState()
    {
        const LocaleScope russian(QLocale(QLocale::Russian, QLocale::Russia));
        World w({QStringLiteral("--scenario"), QStringLiteral("alarms"), QStringLiteral("--seed"),
                 QStringLiteral("7")});
        QVERIFY2(w.start(), w.sim.errors().constData());
        QVERIFY(w.messages.shown.isEmpty());

        struct Watched {
            QLabel *label;
            QSet<QRgb> expected;
            QSet<QRgb> seen;
        };
        const QSet<QRgb> twoColour{Green, defaultColour()};
        const QSet<QRgb> alarmColours{Red, Yellow, defaultColour()};
        std::vector<Watched> watched;
        QStringList missing;
        auto watch = [&](const char *name, int count, const QSet<QRgb> &colours) {
            for (int i = 0; i < count; ++i) {
                if (QLabel *l = w.label(member(name, i)))
                    watched.push_back({l, colours, {}});
                else
                    missing << member(name, i);
            }
        };
        watch("lbl_eds", 10, twoColour);
        watch("lbl_cf", 16, twoColour);
        watch("lbl_fl", 32, alarmColours);
        watch("lbl_fl1", 2, alarmColours);
        watch("lbl_ext_maxpwr", 8, twoColour);
        watch("lbl_ext_actpwr", 8, twoColour);
        watch("lbl_ext_cecsf", 8, twoColour);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));

        struct SyncSeen {
            QLabel *label;
            bool unknown = false;
            bool measured = false;
        };
        std::vector<SyncSeen> sync;
        for (const SyncField &f : SyncFields) {
            QLabel *l = w.label(QString::fromLatin1(f.label));
            QVERIFY2(l, f.label);
            sync.push_back({l});
        }
        QLabel *conflict = w.label(QStringLiteral("lbl_node_cnflct"));
        QVERIFY(conflict);
        bool conflictShown = false, conflictHidden = false;

        QLabel *status = w.window().statusLine();
        const QString shotPath = QDir::current().filePath(QStringLiteral("monitor_alarms.png"));
        QFile::remove(shotPath);
        QImage shot;
        // The unit table at its widest: every state letter in every row.
        const QString allLetters = unitLetters(0x07FF);
        QLabel *letters0 = w.label(QStringLiteral("lbl_ext_cecsf_0"));
        QVERIFY(letters0);
        const QString allLettersPath =
            QDir::current().filePath(QStringLiteral("monitor_all_letters.png"));
        QFile::remove(allLettersPath);
        QImage allLettersShot;
        // Every text the replies put on screen, checked against its box on every tick.
        const QList<QLabel *> allLabels = w.window().findChildren<QLabel *>();
        QMap<QString, QString> clippedTexts;

        auto complete = [&] {
            for (const Watched &x : watched) {
                if (x.seen != x.expected)
                    return false;
            }
            for (const SyncSeen &s : sync) {
                if (!s.unknown || !s.measured)
                    return false;
            }
            return conflictShown && conflictHidden && !shot.isNull() && !allLettersShot.isNull();
        };

        // Connected after the Application's own connection, so it sees each tick's result.
        int decodedTicks = 0;
        QObject::connect(&w.app->timer1(), &QTimer::timeout, this, [&] {
            // Before the first good reply the labels still show the layout's colours.
            if (!status->text().startsWith(Good))
                return;
            ++decodedTicks;
            for (Watched &x : watched)
                x.seen.insert(background(x.label));
            for (SyncSeen &s : sync)
                (s.label->text() == QStringLiteral("?") ? s.unknown : s.measured) = true;
            (conflict->isHidden() ? conflictHidden : conflictShown) = true;
            if (shot.isNull() && !conflict->isHidden() && background(w.label("lbl_fl_8")) == Red &&
                background(w.label("lbl_fl_9")) == Yellow &&
                background(w.label("lbl_eds_0")) == Green)
                shot = w.window().grab().toImage();
            if (allLettersShot.isNull() && letters0->text() == allLetters)
                allLettersShot = w.window().grab().toImage();
            for (const QLabel *l : allLabels) {
                if (clipped(l) && !clippedTexts.contains(l->objectName()))
                    clippedTexts.insert(l->objectName(), l->text());
            }
        });

        QElapsedTimer running;
        running.start();
        // The scenario's cycle is 32 status reads, about 2.6 s; the deadline only matters when
        // something never shows.
        while (!complete() && running.elapsed() < 10000)
            QTest::qWait(40);
        w.app->timer1().stop();
        qInfo("%d decoded ticks in %lld ms", decodedTicks, running.elapsed());

        QStringList faults;
        for (const Watched &x : watched) {
            for (QRgb c : x.expected) {
                if (!x.seen.contains(c))
                    faults << x.label->objectName() + QStringLiteral(" never ") + colourName(c);
            }
            for (QRgb c : x.seen) {
                if (!x.expected.contains(c))
                    faults << x.label->objectName() + QStringLiteral(" showed ") + colourName(c);
            }
        }
        for (const SyncSeen &s : sync) {
            if (!s.unknown)
                faults << s.label->objectName() + QStringLiteral(" never \"?\"");
            if (!s.measured)
                faults << s.label->objectName() + QStringLiteral(" never a value");
        }
        if (!conflictShown)
            faults << QStringLiteral("lbl_node_cnflct never shown");
        if (!conflictHidden)
            faults << QStringLiteral("lbl_node_cnflct never hidden");
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));

        // The colours reach the pixels a user sees, not only the palettes. (Members 0-3 and 19
        // of lbl_fl share one place, so only the topmost of them can be seen.)
        QVERIFY2(!shot.isNull(), "no tick showed the first alarm phase");
        QVERIFY2(shot.save(shotPath, "PNG"), qPrintable(shotPath));
        QVERIFY2(!allLettersShot.isNull(), "no tick showed every state letter");
        QVERIFY2(allLettersShot.save(allLettersPath, "PNG"), qPrintable(allLettersPath));
        for (const auto &[name, c] :
             {std::pair{"lbl_fl_8", Red}, std::pair{"lbl_fl_9", Yellow},
              std::pair{"lbl_eds_0", Green}, std::pair{"lbl_node_cnflct", Red}}) {
            const double share = paintedShare(shot, w.window(), w.label(name), c);
            QVERIFY2(share > 0.4, qPrintable(QStringLiteral("%1: %2 of its area %3")
                                                 .arg(QString::fromLatin1(name))
                                                 .arg(share)
                                                 .arg(colourName(c))));
        }

        // All eleven state letters are wider than the "Флаги" column in this font.
        QStringList clipped;
        for (auto it = clippedTexts.cbegin(); it != clippedTexts.cend(); ++it)
            clipped << QStringLiteral("%1 \"%2\"").arg(it.key(), it.value());
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
    }

    void screenMatchesTheControllersRegisters_data()
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
    // block the simulator last delivered intact, and no newer block is on its way.
    void screenMatchesTheControllersRegisters()
    {
        QFETCH(QLocale, locale);
        QFETCH(QStringList, faults);
        const LocaleScope scope(locale);
        World w(QStringList{QStringLiteral("--scenario"), QStringLiteral("alarms"),
                            QStringLiteral("--seed"), QStringLiteral("11")} +
                faults);
        QVERIFY2(w.start(), w.sim.errors().constData());
        QLabel *status = w.window().statusLine();
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(Good), 5000);
        w.app->timer1().stop();

        // 36 consecutive status reads cover every step of the scenario's 32-read cycle.
        constexpr int Samples = 36;
        int checked = 0;
        quint32 previousRead = 0;
        bool negativePower = false, negativeCosPhi = false, allUnknown = false;
        for (int tick = 0; tick < 6 * Samples && checked < Samples; ++tick) {
            waitForReply(w.link);
            w.app->ExchangeTick();
            if (!status->text().startsWith(Good) || w.link.functionSent() != 23 ||
                w.link.functionSent(1) != 4)
                continue;

            const QJsonObject reply = w.sim.query(QStringLiteral("status"));
            const QJsonArray array = reply.value(QStringLiteral("status")).toArray();
            QCOMPARE(array.size(), 72);
            Block b;
            for (const QJsonValue &v : array)
                b.regs << v.toInt(-1);
            for (int r : b.regs)
                QVERIFY2(r >= 0 && r <= 0xFFFF, qPrintable(QString::number(r)));
            const quint32 read = quint32(reply.value(QStringLiteral("read")).toInteger());
            QVERIFY(read > 0);
            // On a clean line every status read is compared; a lost or rejected reply makes
            // the program read again, so reads are skipped but never go back.
            if (previousRead != 0 && faults.isEmpty())
                QCOMPARE(read, previousRead + 1);
            QVERIFY(read > previousRead);
            previousRead = read;

            const QStringList mismatches = screenMismatches(w, b);
            QVERIFY2(mismatches.isEmpty(),
                     qPrintable(QStringLiteral("status read %1: %2")
                                    .arg(read)
                                    .arg(mismatches.join(QStringLiteral("; ")))));
            negativePower |= b.s16(10) < 0;
            negativeCosPhi |= b.s16(13) < 0;
            allUnknown |= (b.u16(22) & 0x7) == 0;
            ++checked;
        }
        QCOMPARE(checked, Samples);
        // Signed fields and the all-"?" synchroniser were among what was compared.
        QVERIFY(negativePower);
        QVERIFY(negativeCosPhi);
        QVERIFY(allUnknown);
        if (!faults.isEmpty()) {
            const QJsonObject stats = w.sim.query(QStringLiteral("stats"));
            const QJsonObject injected = stats.value(QStringLiteral("faults")).toObject();
            QVERIFY2(injected.value(QStringLiteral("drop")).toInt() > 0 &&
                         injected.value(QStringLiteral("corrupt")).toInt() > 0,
                     QJsonDocument(stats).toJson().constData());
        }
    }
};

QTEST_MAIN(TestMonitorEndToEnd)
#include "tst_monitor_endtoend.moc"
