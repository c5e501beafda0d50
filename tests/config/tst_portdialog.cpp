#include "config/appconfig.h"
#include "config/inifile.h"
#include "config/portdialog.h"
#include "config/portmap.h"
#include "fakeseriallink.h"
#include "scriptedmessages.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using vortan::AppConfig;
using vortan::PortDialog;
using vortan::PortMap;
using vortan::ReadIniValue;
using vortan::test::FakeSerialLink;
using vortan::test::ScriptedMessages;

namespace
{

QStringList itemTexts(const QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->itemText(i));
    return texts;
}

} // namespace

class TestPortDialog : public QObject
{
    Q_OBJECT

    // The main window's side of the dialog: its line, its status line and slave list, and the
    // configuration file in a temporary program folder.
    struct World {
        QTemporaryDir dir;
        FakeSerialLink link;
        quint8 portNumber = 1;
        ScriptedMessages messages;
        QWidget window;
        QLabel *status = new QLabel(&window);
        QComboBox *slaves = new QComboBox(&window);
        AppConfig config{dir.path(), portNumber, messages, status, slaves, &window};
        PortMap ports;
        QPointer<PortDialog> dialog;

        World(QSet<int> present, QSet<int> busy, quint8 configured)
        {
            link.presentPorts = present;
            link.busyPorts = busy;
            portNumber = configured;
            for (int i = 0; i <= 127; ++i)
                slaves->addItem(QString::number(i));
            slaves->setCurrentIndex(1);
            // The main window's port is open on the configured port when the dialog opens.
            link.selectPort(configured);
            link.open();
            link.openedPorts.clear();
        }
        ~World() { delete dialog; }

        PortDialog *open()
        {
            dialog = new PortDialog(link, portNumber, config, ports, status, &window);
            dialog->load();
            dialog->show();
            return dialog;
        }
        QComboBox *list() const { return dialog->findChild<QComboBox *>("cmbCOMList"); }
        QPushButton *button(const char *name) const
        {
            return dialog->findChild<QPushButton *>(QString::fromUtf8(name));
        }
        void pick(const QString &text)
        {
            const int index = list()->findText(text);
            QVERIFY2(index >= 0, qPrintable(text));
            list()->setCurrentIndex(index);
            emit list()->activated(index);
        }
        bool fileWritten() const { return QFile::exists(config.filePath()); }
    };

private slots:
    void looksAsTheOperatorKnowsIt()
    {
        World w({1}, {}, 1);
        PortDialog *d = w.open();
        QCOMPARE(d->objectName(), QStringLiteral("wndSetCOM"));
        QCOMPARE(d->windowTitle(), QStringLiteral("Настройка порта"));
        QCOMPARE(d->size(), QSize(311, 147));
        QCOMPARE(d->minimumSize(), d->maximumSize());
        QVERIFY(
            !(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(d->findChild<QLabel *>("Label1")->text(), QStringLiteral("Выберите порт:"));
        // "ОК" in Cyrillic letters, not the Latin "OK".
        QCOMPARE(w.button("OK")->text(), QString::fromUtf8("\xD0\x9E\xD0\x9A"));
        QCOMPARE(w.button("Отмена")->text(), QStringLiteral("Отмена"));
        QCOMPARE(w.button("OK")->geometry(), QRect(168, 96, 89, 25));
        QVERIFY(w.list()->isEditable());
        QVERIFY(QTest::qWaitForWindowActive(d));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.button("OK")));
    }

    void listsOnlyPortsThatOpen()
    {
        World w({1, 3, 4}, {3}, 1);
        w.open();
        QCOMPARE(itemTexts(w.list()), QStringList({"COM1", "COM4"}));
        QCOMPARE(w.list()->itemData(1, Qt::ToolTipRole).toString(), w.ports.device(4));
    }

    void portsAboveSixteenNeverListed()
    {
        QSet<int> present;
        for (int n = 0; n <= 40; ++n)
            present.insert(n);
        World w(present, {}, 1);
        w.open();
        QCOMPARE(w.list()->count(), 16);
        QCOMPARE(w.list()->itemText(0), QStringLiteral("COM1"));
        QCOMPARE(w.list()->itemText(15), QStringLiteral("COM16"));
    }

    void configuredFreePortIsPreselectedAndOpen()
    {
        World w({1, 3, 4}, {}, 4);
        w.open();
        QCOMPARE(w.list()->currentText(), QStringLiteral("COM4"));
        QCOMPARE(w.dialog->selectedPort(), 4);
        QVERIFY(w.link.isOpen());
        QCOMPARE(w.link.selectedPort(), 4);
    }

    void configuredBusyPortSelectsNothing()
    {
        World w({1, 3, 4}, {3}, 3);
        w.open();
        QCOMPARE(w.list()->currentIndex(), -1);
        QCOMPARE(w.list()->currentText(), QStringLiteral("Выберите порт"));
        QCOMPARE(w.dialog->selectedPort(), 0);
        QVERIFY(!w.link.isOpen());
    }

    void probesNeverLeaveAPortOpenWhileEventsRun()
    {
        World w({1, 2, 3, 4, 5}, {}, 2);
        int turns = 0;
        int sawOpen = 0;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, this, [&] {
            ++turns;
            if (w.link.isOpen())
                ++sawOpen;
        });
        watcher.start();
        w.dialog = new PortDialog(w.link, w.portNumber, w.config, w.ports, w.status, &w.window);
        w.dialog->load();
        watcher.stop();
        QVERIFY2(turns >= 16, qPrintable(QString::number(turns)));
        QCOMPARE(sawOpen, 0);
    }

    void pickingSwitchesAndOkStores()
    {
        World w({1, 4, 12}, {}, 1);
        w.open();
        w.pick(QStringLiteral("COM12"));
        QVERIFY(w.link.isOpen());
        QCOMPARE(w.link.selectedPort(), 12);
        QCOMPARE(w.portNumber, quint8(1));
        QVERIFY(!w.fileWritten());

        QTest::mouseClick(w.button("OK"), Qt::LeftButton);
        QCOMPARE(w.portNumber, quint8(12));
        QVERIFY(w.dialog->portConfirmed());
        QCOMPARE(ReadIniValue(w.config.filePath(), "PC config", "COM", "x"), QStringLiteral("12"));
        QCOMPARE(ReadIniValue(w.config.filePath(), "VRT config", "MBSLAD", "x"),
                 QStringLiteral("1"));
        QVERIFY(w.dialog->isHidden());
        QVERIFY(w.link.isOpen());
        QCOMPARE(w.link.selectedPort(), 12);
    }

    void otherClosingsReturnToConfiguredPort_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Отмена button") << "cancel";
        QTest::newRow("window close box") << "close";
        QTest::newRow("Escape key") << "escape";
    }

    void otherClosingsReturnToConfiguredPort()
    {
        QFETCH(QString, how);
        World w({1, 4, 7}, {}, 7);
        w.open();
        w.pick(QStringLiteral("COM4"));
        QCOMPARE(w.link.selectedPort(), 4);
        w.link.openedPorts.clear();

        if (how == "cancel")
            QTest::mouseClick(w.button("Отмена"), Qt::LeftButton);
        else if (how == "close")
            w.dialog->close();
        else
            QTest::keyClick(w.dialog, Qt::Key_Escape);

        QVERIFY(w.dialog->isHidden());
        QCOMPARE(w.portNumber, quint8(7));
        QVERIFY(w.link.isOpen());
        QCOMPARE(w.link.openedPorts, QList<int>({7}));
        QVERIFY(!w.fileWritten());
    }

    void okWithoutSelectionStoresZero()
    {
        World w({1, 3}, {3}, 3);
        w.open();
        QCOMPARE(w.dialog->selectedPort(), 0);
        QTest::mouseClick(w.button("OK"), Qt::LeftButton);
        QCOMPARE(w.portNumber, quint8(0));
        QCOMPARE(ReadIniValue(w.config.filePath(), "PC config", "COM", "x"), QStringLiteral("0"));
        QVERIFY(!w.link.isOpen());
        QCOMPARE(w.status->text(), QStringLiteral("Порт не выбран"));
    }

    void configuredPortTakenMeanwhileShowsNotChosen()
    {
        World w({1, 2}, {}, 2);
        w.open();
        w.pick(QStringLiteral("COM1"));
        w.link.busyPorts.insert(2);
        w.dialog->close();
        QVERIFY(!w.link.isOpen());
        QCOMPARE(w.status->text(), QStringLiteral("Порт не выбран"));
    }

    void typedTextIsNotASelection()
    {
        World w({1, 4, 5}, {}, 1);
        w.open();
        w.link.openedPorts.clear();
        QLineEdit *edit = w.list()->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("COM5"));
        QCOMPARE(w.link.openedPorts, QList<int>());
        QCOMPARE(w.dialog->selectedPort(), 0);

        // A picked item overtyped with other text is withdrawn: OK stores no port.
        w.pick(QStringLiteral("COM4"));
        QCOMPARE(w.dialog->selectedPort(), 4);
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("COM9"));
        QCOMPARE(w.dialog->selectedPort(), 0);
        QTest::mouseClick(w.button("OK"), Qt::LeftButton);
        QCOMPARE(w.portNumber, quint8(0));
    }
};

QTEST_MAIN(TestPortDialog)
#include "tst_portdialog.moc"
