#include "shell/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using vortan::MainWindow;

namespace
{

int Pixels(int twips)
{
    return qRound(twips / 15.0);
}

QColor ButtonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

QColor Background(const QWidget *w)
{
    return w->palette().color(QPalette::Window);
}

// The rectangle a label's text really covers, in its parent's coordinates.
QRect DrawnText(const QLabel *label)
{
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect inside = label->contentsRect();
    QRect r = label->fontMetrics().boundingRect(inside, flags, label->text());
    return r.translated(label->pos());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_window = std::make_unique<MainWindow>(); }
    void cleanup() { m_window.reset(); }

    void windowFrame();
    void layoutSample_data();
    void layoutSample();
    void mixedScriptTexts();
    void menuAccessKeys();
    void stackedAlarmLabels();
    void clearedAfterConstruction();
    void fillListsEmptiesAndSelects();
    void controlState_data();
    void controlState();
    void typedListEntry();
    void commandButtonsCarryTheirTags();
    void textsFitTheirBoxes();
    void textsDoNotOverlap();
    void screenshot();

private:
    template <class T>
    T *find(const char *name)
    {
        T *w = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qWarning("no control %s", name);
        return w;
    }

    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindow::windowFrame()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("frm_main"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Вортан. Сервисное обслуживание"));
    QCOMPARE(m_window->centralWidget()->size(), QSize(1391, 658));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QCOMPARE(m_window->height(), 658 + m_window->menuBar()->sizeHint().height());
    QVERIFY(m_window->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
}

void TestMainWindow::layoutSample_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<double>("points");
    QTest::addColumn<bool>("hidden");

    const QString client;
    // clang-format off
    QTest::newRow("alarm frame")  << "Frame2_7" << client << "Аварии и Неисправности" << QRect(12960, 120, 3735, 8775) << 13.5 << false;
    QTest::newRow("phase caption") << "lblc_phA_0" << "Frame2_0" << "Фаза A" << QRect(1320, 360, 975, 375) << 12.0 << false;
    QTest::newRow("bus phase diff") << "lbl_dng" << "Frame2_3" << "-" << QRect(3240, 1080, 1095, 375) << 12.0 << false;
    QTest::newRow("input 13-14 narrower") << "lbl_eds_0" << "Frame2_4" << "Вход 13-14" << QRect(120, 480, 1900, 255) << 9.75 << false;
    QTest::newRow("load share caption") << "Label5" << "Frame2_5" << "Общий ( - ав+зр)" << QRect(120, 5160, 1935, 255) << 9.75 << false;
    QTest::newRow("legend asterisk") << "Label20" << "Frame2_5" << "* - упр. активной мощн.  отключено" << QRect(120, 8640, 3615, 255) << 9.75 << false;
    QTest::newRow("flag two blanks") << "lbl_cf_0" << "Frame2_6" << "Синхр.  к шинам" << QRect(120, 720, 1905, 255) << 9.75 << false;
    QTest::newRow("flag three lines") << "lbl_cf_11" << "Frame2_6" << "На шине есть нижестоящий ДГУ под нагрузкой" << QRect(120, 7320, 1905, 735) << 9.75 << false;
    QTest::newRow("alarm top") << "lbl_fl_8" << "Frame2_7" << "Перегруз ДГУ (таймер)" << QRect(120, 480, 3465, 255) << 9.75 << false;
    QTest::newRow("priority conflict") << "lbl_node_cnflct" << "Frame2_7" << "На шине уже есть устройство(а) с тем же приоритетом" << QRect(120, 8160, 3375, 495) << 9.75 << true;
    QTest::newRow("first check box") << "chk_present" << client << "Т7300Т" << QRect(16920, 240, 1095, 255) << 8.0 << false;
    QTest::newRow("modbus slave box") << "chk_iflr_4" << client << "Нет связи по Modbus Slave" << QRect(16920, 4560, 2655, 255) << 8.0 << false;
    QTest::newRow("priority code") << "lbl_setpr" << client << "lbl_setpr" << QRect(19440, 1320, 1215, 375) << 12.0 << false;
    QTest::newRow("default-font caption") << "Label21" << client << "Код смены. приор." << QRect(19200, 1080, 1575, 255) << 8.0 << false;
    QTest::newRow("reset button") << "cmd_btn_0" << client << "Сброс аварий" << QRect(12960, 9000, 1455, 735) << 12.0 << false;
    QTest::newRow("hidden done button") << "cmd_btn_2" << client << "Уст. пр. завершена" << QRect(17160, 9120, 1455, 615) << 12.0 << true;
    QTest::newRow("hidden text box") << "txt_dbg" << client << "Text1" << QRect(18240, 8880, 2535, 855) << 8.0 << true;
    QTest::newRow("status line") << "lbl_sys_mes" << client << "" << QRect(3840, 9360, 7080, 315) << 8.0 << false;
    QTest::newRow("slave list") << "cmb_slad" << client << "" << QRect(2760, 9360, 855, 315) << 8.0 << false;
    // clang-format on
}

void TestMainWindow::layoutSample()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(double, points);
    QFETCH(bool, hidden);

    QWidget *w = m_window->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    if (parent.isEmpty())
        QCOMPARE(w->parentWidget(), m_window->centralWidget());
    else
        QCOMPARE(w->parentWidget()->objectName(), parent);

    QString shown;
    if (auto *label = qobject_cast<QLabel *>(w))
        shown = label->text();
    else if (auto *button = qobject_cast<QAbstractButton *>(w))
        shown = button->text();
    else if (auto *frame = qobject_cast<QGroupBox *>(w))
        shown = frame->title();
    else if (auto *edit = qobject_cast<QLineEdit *>(w))
        shown = edit->text();
    QCOMPARE(shown, text);

    QCOMPARE(w->geometry(), QRect(Pixels(twips.x()), Pixels(twips.y()), Pixels(twips.width()),
                                  Pixels(twips.height())));
    QCOMPARE(w->font().family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(w->font().pointSizeF(), points);
    QCOMPARE(w->isHidden(), hidden);
}

void TestMainWindow::mixedScriptTexts()
{
    // Phase letters and the legend's first letter are Latin; the check box caption is Cyrillic.
    QCOMPARE(find<QLabel>("lblc_phA_0")->text().back(), QChar(u'A'));
    QCOMPARE(find<QLabel>("lblc_PhB_0")->text().back(), QChar(u'B'));
    QCOMPARE(find<QLabel>("lblc_phC_0")->text().back(), QChar(u'C'));
    QCOMPARE(find<QLabel>("Label17")->text().front(), QChar(u'C'));
    QCOMPARE(find<QLabel>("lblc_ap")->text().front(), QChar(u'P'));
    QCOMPARE(find<QLabel>("lblc_U_0")->text(), QString::fromUtf16(u"U, \u0412"));
    QCOMPARE(find<QLabel>("lblc_U_1")->text(), QString::fromUtf16(u"I, \u0410"));
    QCOMPARE(find<QCheckBox>("chk_present")->text(), QString::fromUtf16(u"\u04227300\u0422"));
    QCOMPARE(find<QLabel>("Label11")->text().front(), QChar(0x0410));
}

void TestMainWindow::menuAccessKeys()
{
    auto *params = find<QAction>("mnu_param");
    auto *settings = find<QAction>("mnu_settings");
    QVERIFY(params && settings);
    QCOMPARE(m_window->menuBar()->actions(), (QList<QAction *>{params, settings}));
    QVERIFY(!params->menu() && !settings->menu());
    QCOMPARE(QKeySequence::mnemonic(params->text()), QKeySequence(Qt::ALT | Qt::Key(0x041F)));
    QCOMPARE(QKeySequence::mnemonic(settings->text()), QKeySequence(Qt::ALT | Qt::Key(0x041D)));

    QSignalSpy paramsSpy(m_window.get(), &MainWindow::paramsRequested);
    QSignalSpy portSpy(m_window.get(), &MainWindow::portSettingsRequested);
    settings->trigger();
    QCOMPARE(portSpy.count(), 1);
    QCOMPARE(paramsSpy.count(), 0);
    params->trigger();
    QCOMPARE(paramsSpy.count(), 1);
    QCOMPARE(portSpy.count(), 1);
}

void TestMainWindow::stackedAlarmLabels()
{
    auto *top = find<QLabel>("lbl_fl_0");
    QVERIFY(top);
    QWidget *frame = top->parentWidget();
    for (const char *name : {"lbl_fl_1", "lbl_fl_2", "lbl_fl_3", "lbl_fl_19"}) {
        auto *under = find<QLabel>(name);
        QVERIFY(under);
        QCOMPARE(under->geometry(), top->geometry());
        QVERIFY2(under->autoFillBackground(), name);
    }
    QVERIFY(top->autoFillBackground());
    QCOMPARE(frame->childAt(top->geometry().center()), top);
}

void TestMainWindow::clearedAfterConstruction()
{
    for (QCheckBox *box : m_window->findChildren<QCheckBox *>())
        QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
    for (QComboBox *list : m_window->findChildren<QComboBox *>())
        QVERIFY2(list->count() == 0, qPrintable(list->objectName()));
    QVERIFY(find<QComboBox>("cmb_priority")->isEditable());
    QVERIFY(find<QComboBox>("cmb_section")->isEditable());
    QVERIFY(find<QComboBox>("cmb_sec_next")->isEditable());
    QVERIFY(!find<QComboBox>("cmb_slad")->isEditable());

    // Value labels show "-" until a reply writes them; captioned indicators keep their caption.
    int values = 0;
    for (const QLabel *label : m_window->findChildren<QLabel *>()) {
        const QString name = label->objectName();
        if (!name.startsWith("lbl_") || name == "lbl_setpr" || name == "lbl_sys_mes" ||
            (label->autoFillBackground() && !name.startsWith("lbl_ext_")))
            continue;
        ++values;
        QVERIFY2(label->text() == "-", qPrintable(name));
    }
    QCOMPARE(values, 33 + 24);
    QCOMPARE(find<QLabel>("lbl_setpr")->text(), QStringLiteral("lbl_setpr"));

    // Indicators: lbl_eds 10, lbl_cf 16, lbl_fl 32, lbl_fl1 2 and the unit table's 24.
    int indicators = 0;
    for (const QLabel *label : m_window->findChildren<QLabel *>()) {
        if (!label->autoFillBackground() || label->objectName() == "lbl_node_cnflct")
            continue;
        ++indicators;
        QVERIFY2(Background(label) == ButtonFace(), qPrintable(label->objectName()));
    }
    QCOMPARE(indicators, 84);

    auto *conflict = find<QLabel>("lbl_node_cnflct");
    QVERIFY(conflict->autoFillBackground());
    QCOMPARE(Background(conflict), QColor(255, 0, 0));
    QVERIFY(conflict->isHidden());

    auto *status = m_window->statusLine();
    QCOMPARE(status, find<QLabel>("lbl_sys_mes"));
    QVERIFY(status->text().isEmpty());
    QCOMPARE(status->frameShape(), QFrame::Box);
    QCOMPARE(status->frameShadow(), QFrame::Plain);
    QCOMPARE(status->lineWidth(), 1);
}

void TestMainWindow::fillListsEmptiesAndSelects()
{
    QComboBox *slad = m_window->slaveList();
    QCOMPARE(slad, find<QComboBox>("cmb_slad"));
    slad->addItem(QStringLiteral("design-time item"));
    m_window->fillLists();
    m_window->fillLists();

    QCOMPARE(slad->count(), 128);
    QCOMPARE(slad->itemText(127), QStringLiteral("127"));
    QCOMPARE(slad->currentText(), QStringLiteral("1"));
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
    QCOMPARE(m_window->slaveAddress(), 1);
}

void TestMainWindow::controlState_data()
{
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QList<int>>("lists"); // next section, section, priority
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("bdn");
    QTest::addColumn<int>("flr");
    QTest::addColumn<int>("iflr");

    const auto row = [](const char *name, QStringList checked, QList<int> lists, int word,
                        QList<int> sums) {
        QTest::newRow(name) << checked << lists << word << sums[0] << sums[1] << sums[2];
    };
    const QList<int> zero{0, 0, 0};
    row("everything cleared", {}, zero, 0, zero);
    row("only syren", {"chk_syren"}, zero, 0x8000, zero);
    row("iflr members 1 and 4", {"chk_iflr_1", "chk_iflr_4"}, zero, 0, {0, 0, 0x12});
    row("lists 3/5/7", {}, {3, 5, 7}, 0, zero);
    row("both bdn", {"chk_bdn_0", "chk_bdn_1"}, zero, 0, {12, 0, 0});
    row("flr alarm only", {"chk_flr_1"}, zero, 0, {0, 2, 0});
    const QList<QPair<const char *, int>> bits = {
        {"chk_present", 0x0001},  {"chk_load", 0x0002},       {"chk_cooldown", 0x0004},
        {"chk_auto", 0x0008},     {"chk_work", 0x0010},       {"chk_ready", 0x0020},
        {"chk_brkdn", 0x0040},    {"chk_fault", 0x0080},      {"chk_section", 0x0100},
        {"chk_ext_desk", 0x0200}, {"chk_off_wo_unld", 0x0400}};
    for (const auto &bit : bits)
        row(bit.first, {bit.first}, zero, bit.second, zero);
}

void TestMainWindow::controlState()
{
    QFETCH(QStringList, checked);
    QFETCH(QList<int>, lists);
    QFETCH(int, word);
    QFETCH(int, bdn);
    QFETCH(int, flr);
    QFETCH(int, iflr);

    m_window->fillLists();
    for (const QString &name : checked) {
        auto *box = m_window->findChild<QCheckBox *>(name);
        QVERIFY2(box, qPrintable(name));
        box->setChecked(true);
    }
    find<QComboBox>("cmb_sec_next")->setCurrentIndex(lists[0]);
    find<QComboBox>("cmb_section")->setCurrentIndex(lists[1]);
    find<QComboBox>("cmb_priority")->setCurrentIndex(lists[2]);

    const vortan::ControlState s = m_window->controlState();
    QCOMPARE(int(s.controlWord), word);
    QCOMPARE(s.nextSection, lists[0]);
    QCOMPARE(s.section, lists[1]);
    QCOMPARE(s.priority, lists[2]);
    QCOMPARE(int(s.bdn), bdn);
    QCOMPARE(int(s.flr), flr);
    QCOMPARE(int(s.iflr), iflr);
}

void TestMainWindow::typedListEntry()
{
    m_window->fillLists();
    m_window->show();
    auto *priority = find<QComboBox>("cmb_priority");
    QLineEdit *edit = priority->lineEdit();
    QVERIFY(edit);

    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("9"));
    QCOMPARE(edit->text(), QStringLiteral("0")); // the list has no entry 9: the key is refused

    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("5"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(priority->currentIndex(), 5);
    QCOMPARE(m_window->controlState().priority, 5);
    QCOMPARE(priority->count(), 8);

    edit->clear();
    emit edit->editingFinished();
    QCOMPARE(edit->text(), QStringLiteral("5"));
    QCOMPARE(priority->currentIndex(), 5);
}

void TestMainWindow::commandButtonsCarryTheirTags()
{
    QSignalSpy spy(m_window.get(), &MainWindow::commandClicked);
    find<QPushButton>("cmd_btn_1")->click();
    find<QPushButton>("cmd_btn_0")->click();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy[0][0].toInt(), 1);
    QCOMPARE(spy[0][1].toString(), QStringLiteral("&HF1A5"));
    QCOMPARE(spy[1][0].toInt(), 0);
    QCOMPARE(spy[1][1].toString(), QStringLiteral("&HCBD0"));
    QCOMPARE(find<QPushButton>("cmd_btn_2")->property("tag").toString(), QStringLiteral("&HAD5E"));
    QCOMPARE(find<QCheckBox>("chk_iflr_4")->property("tag").toString(), QStringLiteral("16"));
}

void TestMainWindow::textsFitTheirBoxes()
{
    const auto labels = m_window->findChildren<QLabel *>();
    QVERIFY(labels.size() > 150);
    for (const QLabel *label : labels) {
        if (label->text().isEmpty())
            continue;
        const QRect inside = label->contentsRect();
        const QFontMetrics fm = label->fontMetrics();
        const QString what = label->objectName() + QLatin1String(": ") + label->text();
        if (label->wordWrap()) {
            QVERIFY2(label->heightForWidth(inside.width()) <= inside.height(), qPrintable(what));
            // A single word wider than the box would still be cut.
            for (const QString &word : label->text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
                QVERIFY2(fm.horizontalAdvance(word) <= inside.width(), qPrintable(what));
        } else {
            QVERIFY2(fm.horizontalAdvance(label->text()) <= inside.width(), qPrintable(what));
            QVERIFY2(fm.height() <= inside.height(), qPrintable(what));
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

void TestMainWindow::textsDoNotOverlap()
{
    const auto labels = m_window->findChildren<QLabel *>();
    for (int i = 0; i < labels.size(); ++i) {
        for (int j = i + 1; j < labels.size(); ++j) {
            const QLabel *a = labels[i];
            const QLabel *b = labels[j];
            if (a->parentWidget() != b->parentWidget() || a->text().isEmpty() ||
                b->text().isEmpty() || a->geometry() == b->geometry())
                continue;
            const QString what = a->objectName() + QLatin1String(" / ") + b->objectName();
            QVERIFY2(!DrawnText(a).intersects(DrawnText(b)), qPrintable(what));
        }
    }
}

void TestMainWindow::screenshot()
{
    m_window->fillLists();
    const QString path = QDir::current().filePath(QStringLiteral("frm_main.png"));
    QVERIFY(m_window->grab().save(path));
    QVERIFY(QFileInfo(path).size() > 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
