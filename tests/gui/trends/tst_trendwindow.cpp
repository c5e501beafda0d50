#include "fakeseriallink.h"
#include "format/formatting.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "statusblock.h"
#include "trends/trendplot.h"
#include "trends/trendwindow.h"

#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QValueAxis>
#include <QtTest>

#include <cmath>

using namespace vortan;
using vortan::test::StatusBlock;

namespace
{

const QByteArray OtherSections =
    "[PC config]\r\nCOM=5\r\n; kept as it is\r\n[Other]\r\nKey = v\r\n";

// Two minutes of replies up to now: U фазы A climbs 230.0 .. 239.9 V over and over, unit 3
// takes 100 .. 249.9 kW, and
// the set's frequency is "?" for 10 s in the middle.
void Fill(TrendHistory &history, qint64 now)
{
    for (int n = 0; n < 1500; ++n) {
        const bool measured = n < 700 || n >= 825;
        history.append(now - (1499 - n) * 80,
                       DecodeStatusBlock(StatusBlock({{4, quint16(2300 + n % 100)},
                                                      {19, 5000},
                                                      {22, quint16(measured ? 1 : 0)},
                                                      {45, quint16(1000 + n)}})));
    }
}

// Pixels of a colour inside the plot area of the picture.
int PixelsOf(const QImage &picture, const QRectF &plot, const QColor &colour)
{
    int count = 0;
    for (int y = int(plot.top()); y < int(plot.bottom()); ++y)
        for (int x = int(plot.left()); x < int(plot.right()); ++x)
            count += picture.pixelColor(x, y) == colour ? 1 : 0;
    return count;
}

} // namespace

class TestTrendWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_config;
    TrendHistory m_history;
    CsvRecorder m_recorder;
    vortan::test::ScriptedMessages m_messages;
    std::unique_ptr<TrendWindow> m_window;

    void check(const QString &heading, Qt::CheckState state = Qt::Checked)
    {
        const auto items = child<QTreeWidget>("tree_fields")
                               ->findItems(heading, Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(items.size(), 1);
        items[0]->setCheckState(0, state);
    }
    QByteArray stored(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    template <class T>
    T *child(const char *name) const
    {
        return m_window->findChild<T *>(QString::fromLatin1(name));
    }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        m_config = m_dir.filePath(QStringLiteral("тп.ini"));
        QFile f(m_config);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(OtherSections);
        f.close();
        m_history.clear();
        Fill(m_history, QDateTime::currentMSecsSinceEpoch());
        m_messages.shown.clear();
        m_window = std::make_unique<TrendWindow>(m_history, m_recorder, m_config, m_messages);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanup()
    {
        m_window.reset();
        m_recorder.stop();
        QLocale::setDefault(QLocale::c());
    }

    void chosenFieldsAreCurvesWithAnAxisPerUnitAndGaps()
    {
        check(QStringLiteral("U фазы A, В"));
        check(QStringLiteral("ЭА группы 3: Акт. P, кВт"));
        check(QStringLiteral("Синхр.: частота ЭА, Гц"));
        TrendPlot *plot = m_window->plot();
        const auto &curves = plot->layer().curves();
        QCOMPARE(int(curves.size()), 3);
        QStringList units;
        for (const QValueAxis *axis : plot->valueAxes())
            units << axis->titleText();
        units.sort();
        QCOMPARE(units,
                 (QStringList{QStringLiteral("В"), QStringLiteral("Гц"), QStringLiteral("кВт")}));

        QCoreApplication::processEvents(); // the chart lays out its axes and legend
        const QImage picture = plot->grab().toImage();
        const QRectF area = plot->chart()->plotArea();
        for (const auto &curve : curves)
            QVERIFY2(PixelsOf(picture, area, curve.colour) > 50, qPrintable(curve.colour.name()));
        // "?" is a gap in the curve, never a value.
        int breaks = 0;
        for (const QPointF &p : curves[2].points) {
            breaks += std::isnan(p.y()) ? 1 : 0;
            QVERIFY(std::isnan(p.y()) || p.y() == 50.0);
        }
        QCOMPARE(breaks, 1);

        const QString png = m_dir.filePath(QStringLiteral("тренды.png"));
        QVERIFY(m_window->savePicture(png));
        QCOMPARE(QImage(png), picture.convertToFormat(QImage(png).format()));
        m_window->grab().save(QDir::current().filePath(QStringLiteral("frm_trends.png")));
    }

    void cursorReadsTimeAndValues()
    {
        check(QStringLiteral("U фазы A, В"));
        QCoreApplication::processEvents();
        QChartView *view = m_window->plot();
        const QRectF area = view->chart()->plotArea();
        const QPointF point(area.left() + 0.8 * area.width(), area.center().y());
        QTest::mouseMove(view->viewport(), view->mapFromScene(view->chart()->mapToScene(point)));

        // "01:10:16,387   U фазы A: 231,4 В": the time under the cursor and the value kept there.
        const QString text = child<QLabel>("lbl_cursor")->text();
        const TrendPlot *plot = m_window->plot();
        const QDateTime expected = QDateTime::fromMSecsSinceEpoch(
            plot->from() + qint64(0.8 * double(plot->to() - plot->from())));
        const QTime shown = QTime::fromString(text.left(12), QStringLiteral("hh:mm:ss,zzz"));
        QVERIFY2(qAbs(shown.msecsTo(expected.time())) < 2000, qPrintable(text));
        const int i = m_history.nearest(QDateTime(expected.date(), shown).toMSecsSinceEpoch());
        QVERIFY(i >= 0);
        const float v = m_history.valueAt(m_history.fieldIndex(QStringLiteral("lbl_phAU")), i);
        QCOMPARE(text.mid(12),
                 QStringLiteral("   U фазы A: ") + FormatScaled(v, 1, 1, QStringLiteral("В")));
    }

    void pauseHoldsTheViewAndScrollsBack()
    {
        auto *scroll = child<QScrollBar>("scr_history");
        QVERIFY(!scroll->isEnabled());
        child<QComboBox>("cmb_span")->setCurrentIndex(0); // 1 minute of the 2 kept
        child<QPushButton>("btn_pause")->click();
        QVERIFY(scroll->isEnabled());
        const qint64 end = m_window->plot()->to();
        scroll->setValue(scroll->value() - 60);
        const qint64 back = m_window->plot()->to();
        QVERIFY2(qAbs(back - (end - 60000)) < 1000, qPrintable(QString::number(end - back)));
        m_window->refresh();
        QCOMPARE(m_window->plot()->to(), back);
        child<QPushButton>("btn_pause")->click();
        QVERIFY(m_window->plot()->to() >= end);
    }

    void choiceSpanAndSizeAreRemembered()
    {
        check(QStringLiteral("U фазы A, В"));
        check(QStringLiteral("ЭА группы 3: Акт. P, кВт"));
        child<QComboBox>("cmb_span")->setCurrentIndex(2);
        m_window->resize(900, 500);
        m_window->close();
        QFile file(m_config);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QVERIFY(stored.startsWith(OtherSections));
        QVERIFY(stored.contains("\r\n[Trends]\r\nFields=lbl_phAU,lbl_ext_actpwr_3\r\nSpan=15\r\n"));

        TrendWindow again(m_history, m_recorder, m_config, m_messages);
        QCOMPARE(again.selectedFields(),
                 (QStringList{QStringLiteral("lbl_phAU"), QStringLiteral("lbl_ext_actpwr_3")}));
        QCOMPARE(again.spanMinutes(), 15);
        QCOMPARE(again.size(), QSize(900, 500));
    }

    // A list that went on over Fields2 and Fields3 got shorter: the old keys cannot bring the
    // dropped curves back.
    void shorterChoiceLeavesNoOldKeys()
    {
        QFile file(m_config);
        QVERIFY(file.open(QIODevice::Append));
        file.write(
            "[Trends]\r\nFields=lbl_phAU\r\nFields2=lbl_ext_actpwr_3\r\nFields3=lbl_frt\r\n");
        file.close();
        m_window = std::make_unique<TrendWindow>(m_history, m_recorder, m_config, m_messages);
        m_window->show();
        QCOMPARE(m_window->selectedFields().size(), 3);
        check(QStringLiteral("ЭА группы 3: Акт. P, кВт"), Qt::Unchecked);
        m_window->close();
        for (const QByteArray &line : stored(m_config).split('\n'))
            QVERIFY2(!line.startsWith("Fields2=l") && !line.startsWith("Fields3=l"),
                     line.constData());

        const TrendWindow again(m_history, m_recorder, m_config, m_messages);
        QCOMPARE(again.selectedFields(),
                 (QStringList{QStringLiteral("lbl_phAU"), QStringLiteral("lbl_frt")}));
    }

    // --record never replaces a file; with --append it goes on after the rows already there.
    void recordOptionKeepsAnExistingFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("старая.csv"));
        const QByteArray old = "\xEF\xBB\xBF" + CsvRecorder().headerLine().toUtf8() +
                               "\r\n2024-05-17 14:03:22,125\r\n";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();
        test::FakeSerialLink link;
        QTemporaryDir programDir;
        StartupOptions options;
        options.programDir = programDir.path();
        options.recordPath = path;
        {
            Application app(options, link, m_messages);
            QVERIFY(app.start(false));
            QVERIFY(!app.recorder().isRecording());
        }
        QCOMPARE(m_messages.shown.size(), 1);
        QVERIFY2(m_messages.shown[0].text.contains(QStringLiteral("«%1» уже существует").arg(path)),
                 qPrintable(m_messages.shown[0].text));
        QCOMPARE(stored(path), old);

        options.appendRecord = true;
        test::FakeSerialLink line;
        Application app(options, line, m_messages);
        QVERIFY(app.start(false));
        app.ExchangeTick();
        const RxBuffer reply = StatusBlock({{4, 2305}});
        line.feed(QByteArray(reinterpret_cast<const char *>(reply.bytes.data()), reply.count));
        app.ExchangeTick();
        QVERIFY(app.recorder().stop());
        QVERIFY(stored(path).startsWith(old));
        QCOMPARE(stored(path).count("\r\n"), 3);
    }

    void recordingFromTheWindowShowsFileAndRows()
    {
        const QString path = m_dir.filePath(QStringLiteral("запись.csv"));
        m_window->askSaveFile = [&](const QString &, const QString &, const QString &, bool) {
            return path;
        };
        child<QPushButton>("btn_record")->click();
        QVERIFY(m_recorder.isRecording());
        const StatusSnapshot s = DecodeStatusBlock(StatusBlock({{4, 2305}}));
        m_recorder.append(s);
        m_recorder.append(s);
        m_window->refresh();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Тренды — запись: запись.csv, строк: 2"));
        child<QPushButton>("btn_record")->click();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Тренды"));
        QVERIFY(QFileInfo(path).size() > 0);

        // The same file again: asked, never replaced; "Yes" continues it after its rows.
        const QByteArray before = stored(path);
        m_messages.answers = {QMessageBox::No, QMessageBox::Yes};
        child<QPushButton>("btn_record")->click();
        QVERIFY(!m_recorder.isRecording());
        QCOMPARE(stored(path), before);
        child<QPushButton>("btn_record")->click();
        QCOMPARE(m_messages.shown.size(), 2);
        QVERIFY(m_messages.shown[1].text.contains(QStringLiteral("не будет заменён")));
        m_recorder.append(s);
        child<QPushButton>("btn_record")->click();
        QVERIFY(stored(path).startsWith(before));
        QCOMPARE(stored(path).count("\r\n"), before.count("\r\n") + 1);
        m_messages.shown.clear();

        m_window->askSaveFile = [&](const QString &, const QString &, const QString &, bool) {
            return m_dir.filePath(QStringLiteral("нет/x.csv"));
        };
        child<QPushButton>("btn_record")->click();
        QCOMPARE(m_messages.shown.size(), 1);
        QVERIFY(m_messages.shown[0].text.contains(QStringLiteral("Невозможно создать файл")));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Тренды"));
    }

    void menuOpensOneWindowFedByTheStatusReplies()
    {
        test::FakeSerialLink link;
        QTemporaryDir programDir;
        StartupOptions options;
        options.programDir = programDir.path();
        Application app(options, link, m_messages);
        QVERIFY(app.start(false));
        QAction *menu =
            app.mainWindow().menuBar()->findChild<QAction *>(QStringLiteral("mnu_trends"));
        QCOMPARE(menu->text(), QStringLiteral("&Тренды"));
        menu->trigger();
        TrendWindow *window = app.trendWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->parentWidget(), &app.mainWindow());
        menu->trigger();
        QCOMPARE(app.trendWindow(), window);

        QVERIFY(app.recorder().start(m_dir.filePath(QStringLiteral("app.csv"))));
        app.ExchangeTick(); // sends the status poll
        const RxBuffer reply = StatusBlock({{4, 2305}});
        link.feed(QByteArray(reinterpret_cast<const char *>(reply.bytes.data()), reply.count));
        app.ExchangeTick();
        QCOMPARE(app.history().size(), 1);
        QCOMPARE(app.recorder().rows(), 1);
        app.recorder().stop();
    }
};

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
