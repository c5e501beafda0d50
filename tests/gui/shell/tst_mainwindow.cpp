#include "shell/mainwindow.h"
#include "status/registermap.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using vortan::MainWindow;

namespace
{

int Pixels(int twips)
{
    return qRound(twips / 15.0);
}

QString ShownText(const QWidget *w)
{
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(w))
        return frame->title();
    if (auto *edit = qobject_cast<const QLineEdit *>(w))
        return edit->text();
    return QString();
}

// The rectangle a label's text really covers, in its parent's coordinates.
QRect DrawnText(const QLabel *label)
{
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    return label->fontMetrics()
        .boundingRect(label->contentsRect(), flags, label->text())
        .translated(label->pos());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindow> m_window;

    template <class T = QWidget>
    T *find(const char *name)
    {
        return m_window->findChild<T *>(QString::fromLatin1(name));
    }

private slots:
    void init() { m_window = std::make_unique<MainWindow>(); }
    void cleanup() { m_window.reset(); }

    void layoutSample_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent"); // empty: the client area
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("hidden");

        // The phase letter A, the U and P of the captions and the legend's first C are Latin; the
        // T of the check box "Т7300Т" is Cyrillic.
        // clang-format off
        QTest::newRow("alarm frame")  << "Frame2_7" << "" << "Аварии и Неисправности" << QRect(12960, 120, 3735, 8775) << 13.5 << false;
        QTest::newRow("phase caption") << "lblc_phA_0" << "Frame2_0" << "Фаза A" << QRect(1320, 360, 975, 375) << 12.0 << false;
        QTest::newRow("row caption") << "lblc_U_0" << "Frame2_0" << "U, В" << QRect(600, 840, 975, 375) << 12.0 << false;
        QTest::newRow("power caption") << "lblc_ap" << "Frame2_0" << "Pа, кВт" << QRect(120, 1680, 1335, 375) << 12.0 << false;
        QTest::newRow("input 13-14 narrower") << "lbl_eds_0" << "Frame2_4" << "Вход 13-14" << QRect(120, 480, 1900, 255) << 9.75 << false;
        QTest::newRow("legend") << "Label17" << "Frame2_5" << "C - секция подключена" << QRect(120, 7920, 2895, 255) << 9.75 << false;
        QTest::newRow("flag two blanks") << "lbl_cf_0" << "Frame2_6" << "Синхр.  к шинам" << QRect(120, 720, 1905, 255) << 9.75 << false;
        QTest::newRow("flag three lines") << "lbl_cf_11" << "Frame2_6" << "На шине есть нижестоящий ДГУ под нагрузкой" << QRect(120, 7320, 1905, 735) << 9.75 << false;
        QTest::newRow("priority conflict") << "lbl_node_cnflct" << "Frame2_7" << "На шине уже есть устройство(а) с тем же приоритетом" << QRect(120, 8160, 3375, 495) << 9.75 << true;
        QTest::newRow("first check box") << "chk_present" << "" << "Т7300Т" << QRect(16920, 240, 1095, 255) << 8.0 << false;
        QTest::newRow("priority code") << "lbl_setpr" << "" << "lbl_setpr" << QRect(19440, 1320, 1215, 375) << 12.0 << false;
        QTest::newRow("hidden done button") << "cmd_btn_2" << "" << "Уст. пр. завершена" << QRect(17160, 9120, 1455, 615) << 12.0 << true;
        QTest::newRow("hidden text box") << "txt_dbg" << "" << "Text1" << QRect(18240, 8880, 2535, 855) << 8.0 << true;
        QTest::newRow("status line") << "lbl_sys_mes" << "" << "" << QRect(3840, 9360, 7080, 315) << 8.0 << false;
        // clang-format on
    }

    void layoutSample()
    {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        QFETCH(double, points);
        QFETCH(bool, hidden);

        QWidget *w = m_window->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->parentWidget(), parent.isEmpty() ? m_window->centralWidget()
                                                     : m_window->findChild<QWidget *>(parent));
        QCOMPARE(ShownText(w), text);
        QCOMPARE(w->geometry(), QRect(Pixels(twips.x()), Pixels(twips.y()), Pixels(twips.width()),
                                      Pixels(twips.height())));
        QCOMPARE(w->font().family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(w->font().pointSizeF(), points);
        QCOMPARE(w->isHidden(), hidden);
    }

    void menuAccessKeys()
    {
        auto *params = find<QAction>("mnu_param");
        auto *settings = find<QAction>("mnu_settings");
        // The two items come first, in their order; later windows' items follow with keys of
        // their own.
        const QList<QAction *> items = m_window->menuBar()->actions();
        QCOMPARE(items.mid(0, 2), (QList<QAction *>{params, settings}));
        QSet<int> keys;
        for (const QAction *item : items) {
            QVERIFY(!item->menu());
            keys.insert(QKeySequence::mnemonic(item->text())[0].toCombined());
        }
        QCOMPARE(keys.size(), items.size());
        QCOMPARE(QKeySequence::mnemonic(params->text()), QKeySequence(Qt::ALT | Qt::Key(0x041F)));
        QCOMPARE(QKeySequence::mnemonic(settings->text()), QKeySequence(Qt::ALT | Qt::Key(0x041D)));

        QSignalSpy paramsSpy(m_window.get(), &MainWindow::paramsRequested);
        QSignalSpy portSpy(m_window.get(), &MainWindow::portSettingsRequested);
        settings->trigger();
        QCOMPARE(portSpy.count(), 1);
        QCOMPARE(paramsSpy.count(), 0);
        params->trigger();
        QCOMPARE(portSpy.count(), 1);
        QCOMPARE(paramsSpy.count(), 1);
    }

    // vortanctl and recordings name the lamps by the core's captions: they must be the window's.
    void lampCaptionsAreTheCores()
    {
        const struct {
            const char *row;
            int count;
            const char *(*name)(int);
        } rows[] = {{"lbl_eds", vortan::DiscreteInputLamps, vortan::DiscreteInputName},
                    {"lbl_cf", vortan::ControlFlagLamps, vortan::ControlFlagName},
                    {"lbl_fl", vortan::AlarmLamps, vortan::AlarmName},
                    {"lbl_fl1", vortan::Alarm1Lamps, vortan::Alarm1Name}};
        for (const auto &r : rows) {
            for (int i = 0; i < r.count; ++i) {
                const QString name = QStringLiteral("%1_%2").arg(QLatin1String(r.row)).arg(i);
                const QString core = QString::fromUtf8(r.name(i));
                QCOMPARE(find<QLabel>(qPrintable(name))->text(),
                         core.isEmpty() ? QStringLiteral("-") : core);
            }
        }
    }

    void stackedAlarmLabels()
    {
        auto *top = find<QLabel>("lbl_fl_0");
        for (const char *name : {"lbl_fl_1", "lbl_fl_2", "lbl_fl_3", "lbl_fl_19"}) {
            auto *under = find<QLabel>(name);
            QCOMPARE(under->geometry(), top->geometry());
            QVERIFY2(under->autoFillBackground(), name);
        }
        QVERIFY(top->autoFillBackground());
        QCOMPARE(top->parentWidget()->childAt(top->geometry().center()), top);
    }

    void stateAfterConstruction()
    {
        QCOMPARE(m_window->objectName(), QStringLiteral("frm_main"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Вортан. Сервисное обслуживание"));
        QCOMPARE(m_window->centralWidget()->size(), QSize(1391, 658));
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QVERIFY(m_window->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
        for (QCheckBox *box : m_window->findChildren<QCheckBox *>())
            QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
        for (QComboBox *list : m_window->findChildren<QComboBox *>()) {
            QVERIFY2(list->count() == 0, qPrintable(list->objectName()));
            QCOMPARE(list->isEditable(), list != m_window->slaveList());
        }

        // Value labels show "-" until a reply writes them; indicators have the default background.
        int values = 0;
        int indicators = 0;
        const QRegularExpression indicator(
            QStringLiteral("^lbl_(eds|cf|fl|fl1|ext_maxpwr|ext_actpwr|ext_cecsf)_\\d+$"));
        for (const QLabel *label : m_window->findChildren<QLabel *>()) {
            const QString name = label->objectName();
            const bool lamp = indicator.match(name).hasMatch();
            if (lamp) {
                ++indicators;
                QVERIFY2(label->palette().color(QPalette::Window) ==
                             QApplication::palette().color(QPalette::Button),
                         qPrintable(name));
            }
            if (!name.startsWith("lbl_") || name == "lbl_setpr" || name == "lbl_sys_mes" ||
                name == "lbl_node_cnflct" || (lamp && !name.startsWith("lbl_ext_")))
                continue;
            ++values;
            QVERIFY2(label->text() == "-", qPrintable(name));
        }
        QCOMPARE(values, 33 + 24);
        QCOMPARE(indicators, 10 + 16 + 32 + 2 + 24);

        auto *conflict = find<QLabel>("lbl_node_cnflct");
        QVERIFY(conflict->autoFillBackground());
        QCOMPARE(conflict->palette().color(QPalette::Window), QColor(255, 0, 0));
        QLabel *status = m_window->statusLine();
        QCOMPARE(status, find<QLabel>("lbl_sys_mes"));
        QCOMPARE(status->frameShape(), QFrame::Box);
        QCOMPARE(status->frameShadow(), QFrame::Plain);
    }

    void fillListsEmptiesAndSelects()
    {
        QComboBox *slad = m_window->slaveList();
        slad->addItem(QStringLiteral("design-time item"));
        m_window->fillLists();
        QCOMPARE(slad->count(), 128);
        QCOMPARE(slad->itemText(127), QStringLiteral("127"));
        QCOMPARE(m_window->slaveAddress(), 1);
        for (const char *name : {"cmb_priority", "cmb_section", "cmb_sec_next"}) {
            auto *list = find<QComboBox>(name);
            QCOMPARE(list->count(), 8);
            QCOMPARE(list->itemText(7), QStringLiteral("7"));
            QCOMPARE(list->currentText(), QStringLiteral("0"));
        }

        slad->setCurrentIndex(127);
        QCOMPARE(m_window->slaveAddress(), 127);
        m_window->fillLists();
        QCOMPARE(slad->count(), 128);
        QCOMPARE(m_window->slaveAddress(), 1);
    }

    void controlState_data()
    {
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QList<int>>("lists"); // next section, section, priority
        QTest::addColumn<QList<int>>("words"); // control word, bdn, flr, iflr

        const auto row = [](const char *name, QStringList checked, QList<int> lists,
                            QList<int> words) { QTest::newRow(name) << checked << lists << words; };
        const QList<int> zero{0, 0, 0};
        row("everything cleared", {}, zero, {0, 0, 0, 0});
        row("only syren", {"chk_syren"}, zero, {0x8000, 0, 0, 0});
        row("iflr members 1 and 4", {"chk_iflr_1", "chk_iflr_4"}, zero, {0, 0, 0, 0x12});
        row("lists 3/5/7", {}, {3, 5, 7}, {0, 0, 0, 0});
        row("both bdn", {"chk_bdn_0", "chk_bdn_1"}, zero, {0, 12, 0, 0});
        row("flr alarm only", {"chk_flr_1"}, zero, {0, 0, 2, 0});
        const char *bits[] = {"chk_present", "chk_load",     "chk_cooldown",   "chk_auto",
                              "chk_work",    "chk_ready",    "chk_brkdn",      "chk_fault",
                              "chk_section", "chk_ext_desk", "chk_off_wo_unld"};
        for (int bit = 0; bit < 11; ++bit)
            row(bits[bit], {bits[bit]}, zero, {1 << bit, 0, 0, 0});
    }

    void controlState()
    {
        QFETCH(QStringList, checked);
        QFETCH(QList<int>, lists);
        QFETCH(QList<int>, words);

        m_window->fillLists();
        for (const QString &name : checked)
            m_window->findChild<QCheckBox *>(name)->setChecked(true);
        find<QComboBox>("cmb_sec_next")->setCurrentIndex(lists[0]);
        find<QComboBox>("cmb_section")->setCurrentIndex(lists[1]);
        find<QComboBox>("cmb_priority")->setCurrentIndex(lists[2]);

        const vortan::ControlState s = m_window->controlState();
        QCOMPARE((QList<int>{s.nextSection, s.section, s.priority}), lists);
        QCOMPARE((QList<int>{s.controlWord, s.bdn, s.flr, s.iflr}), words);
    }

    void typedListEntry()
    {
        m_window->fillLists();
        m_window->show();
        auto *priority = find<QComboBox>("cmb_priority");
        QLineEdit *edit = priority->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("9"));
        QCOMPARE(edit->text(), QStringLiteral("0")); // the list has no entry 9: the key is refused

        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("5"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(m_window->controlState().priority, 5);
        QCOMPARE(priority->count(), 8);

        edit->clear();
        emit edit->editingFinished();
        QCOMPARE(edit->text(), QStringLiteral("5"));
    }

    void commandButtonsSendTheirTags()
    {
        QSignalSpy spy(m_window.get(), &MainWindow::commandClicked);
        find<QPushButton>("cmd_btn_1")->click();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].toInt(), 1);
        QCOMPARE(spy[0][1].toString(), QStringLiteral("&HF1A5"));
        QCOMPARE(find<QPushButton>("cmd_btn_2")->property("tag").toString(),
                 QStringLiteral("&HAD5E"));
    }

    void textsFitTheirBoxes()
    {
        for (const QLabel *label : m_window->findChildren<QLabel *>()) {
            const QRect inside = label->contentsRect();
            const QFontMetrics fm = label->fontMetrics();
            const QByteArray what = (label->objectName() + ": " + label->text()).toUtf8();
            if (label->wordWrap()) {
                QVERIFY2(label->heightForWidth(inside.width()) <= inside.height(), what);
                // A single word wider than the box would still be cut.
                for (const QString &word : label->text().split(' ', Qt::SkipEmptyParts))
                    QVERIFY2(fm.horizontalAdvance(word) <= inside.width(), what);
            } else if (!label->text().isEmpty()) {
                QVERIFY2(fm.horizontalAdvance(label->text()) <= inside.width(), what);
                QVERIFY2(fm.height() <= inside.height(), what);
            }
        }
        for (const QCheckBox *box : m_window->findChildren<QCheckBox *>())
            QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->text()));
        for (const QGroupBox *frame : m_window->findChildren<QGroupBox *>()) {
            const int title = QFontMetrics(frame->font()).horizontalAdvance(frame->title());
            QVERIFY2(title + 16 <= frame->width(), qPrintable(frame->title()));
        }
        for (const QPushButton *button : m_window->findChildren<QPushButton *>()) {
            if (button->isHidden()) // cmd_btn_2 is never shown
                continue;
            const QRect inside = button->rect().adjusted(4, 4, -4, -4);
            const QRect need = button->fontMetrics().boundingRect(
                inside, Qt::AlignCenter | Qt::TextWordWrap, button->text());
            QVERIFY2(inside.contains(need), qPrintable(button->text()));
        }
    }

    void textsDoNotOverlap()
    {
        const auto labels = m_window->findChildren<QLabel *>();
        for (int i = 0; i < labels.size(); ++i) {
            for (int j = i + 1; j < labels.size(); ++j) {
                const QLabel *a = labels[i];
                const QLabel *b = labels[j];
                if (a->parentWidget() != b->parentWidget() || a->text().isEmpty() ||
                    b->text().isEmpty() || a->geometry() == b->geometry())
                    continue;
                QVERIFY2(!DrawnText(a).intersects(DrawnText(b)),
                         qPrintable(a->objectName() + " / " + b->objectName()));
            }
        }
    }

    // A screen's free area too small for the window: the client area scrolls inside a window
    // that fits, each control keeps its parent and place, and the far ones can be scrolled to.
    void smallScreenScrolls_data()
    {
        QTest::addColumn<QSize>("available");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("1920x1080 desktop") << QSize(1920, 1040) << false;
        QTest::newRow("1366x768 laptop") << QSize(1366, 728) << true;
        QTest::newRow("1920x1080 at 150 %") << QSize(1280, 680) << true;
    }
    void smallScreenScrolls()
    {
        QFETCH(QSize, available);
        QFETCH(bool, scrolls);
        QWidget *client = m_window->centralWidget();
        const QList<QWidget *> far = {find("lbl_sys_mes"), find("lbl_setpr")};
        const QRect place = far[0]->geometry();
        m_window->fitInto(available);
        m_window->show();
        QCOMPARE(far[0]->parentWidget(), client);
        QCOMPARE(far[0]->geometry(), place);
        QCOMPARE(client->size(), QSize(1391, 658));
        auto *scroll = qobject_cast<QScrollArea *>(m_window->centralWidget());
        QCOMPARE(scroll != nullptr, scrolls);
        if (!scroll) {
            QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
            return;
        }
        QCOMPARE(scroll->widget(), client);
        QVERIFY(m_window->width() < available.width() && m_window->height() < available.height());
        for (QWidget *w : far) {
            scroll->ensureWidgetVisible(w);
            const QRect shown(w->mapTo(scroll->viewport(), QPoint()), w->size());
            QVERIFY2(scroll->viewport()->rect().contains(shown), qPrintable(w->objectName()));
        }
    }

    void screenshot()
    {
        m_window->fillLists();
        const QString path = QDir::current().filePath(QStringLiteral("frm_main.png"));
        QVERIFY(m_window->grab().save(path));
        QVERIFY(QFileInfo(path).size() > 0);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
