#include "config/appconfig.h"
#include "config/inifile.h"
#include "config/portdialog.h"
#include "config/portmap.h"
#include "fakeseriallink.h"
#include "scriptedmessages.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using vortan::AppConfig;
using vortan::PortDialog;
using vortan::PortMap;
using vortan::ReadIniValue;
using vortan::test::FakeSerialLink;
using vortan::test::ScriptedMessages;

class TestPortDialog : public QObject
{
    Q_OBJECT

    // The main window's side of the dialog: its line (open on the configured port), its status
    // line, and the configuration file in a temporary program folder.
    struct World {
        QTemporaryDir dir;
        FakeSerialLink link;
        quint8 portNumber;
        ScriptedMessages messages;
        QWidget window;
        QLabel *status = new QLabel(&window);
        AppConfig config{dir.path(), portNumber, messages, status, nullptr, &window};
        PortMap ports;
        PortDialog dialog{link, portNumber, config, ports, status, &window};

        World(const QList<int> &present, const QList<int> &busy, quint8 configured)
            : portNumber(configured)
        {
            link.presentPorts = QSet<int>(present.begin(), present.end());
            link.busyPorts = QSet<int>(busy.begin(), busy.end());
            link.selectPort(configured);
            link.open();
        }
        void open()
        {
            link.openedPorts.clear();
            dialog.load();
            dialog.show();
        }
        QComboBox *list() { return dialog.findChild<QComboBox *>("cmbCOMList"); }
        QPushButton *button(const QString &name) { return dialog.findChild<QPushButton *>(name); }
        void pick(const QString &text)
        {
            const int index = list()->findText(text);
            QVERIFY2(index >= 0, qPrintable(text));
            list()->setCurrentIndex(index);
            emit list()->activated(index);
        }
        QString stored() const { return ReadIniValue(config.filePath(), "PC config", "COM", "-"); }
        int livePort() const { return link.isOpen() ? link.selectedPort() : 0; }
    };

private slots:
    // Only ports 1..16 that open now are listed; the configured one is picked and live when free.
    void scan_data()
    {
        QTest::addColumn<QList<int>>("present");
        QTest::addColumn<QList<int>>("busy");
        QTest::addColumn<int>("configured");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("livePort");
        QList<int> upTo40;
        QStringList upTo16;
        for (int n = 0; n <= 40; ++n) {
            upTo40.append(n);
            if (n >= 1 && n <= 16)
                upTo16.append(QStringLiteral("COM%1").arg(n));
        }
        QTest::newRow("ports 1, 3, 4 with 3 busy") << QList<int>{1, 3, 4} << QList<int>{3} << 1
                                                   << QStringList{"COM1", "COM4"} << "COM1" << 1;
        QTest::newRow("configured free port preselected")
            << QList<int>{1, 3, 4} << QList<int>{} << 4 << QStringList{"COM1", "COM3", "COM4"}
            << "COM4" << 4;
        QTest::newRow("configured busy port selects nothing")
            << QList<int>{1, 3, 4} << QList<int>{3} << 3 << QStringList{"COM1", "COM4"}
            << "Выберите порт" << 0;
        QTest::newRow("nothing above 16") << upTo40 << QList<int>{} << 1 << upTo16 << "COM1" << 1;
    }
    void scan()
    {
        QFETCH(QList<int>, present);
        QFETCH(QList<int>, busy);
        QFETCH(int, configured);
        QFETCH(QStringList, items);
        QFETCH(QString, shown);
        QFETCH(int, livePort);
        World w(present, busy, quint8(configured));
        w.open();
        QStringList texts;
        for (int i = 0; i < w.list()->count(); ++i)
            texts.append(w.list()->itemText(i));
        QCOMPARE(texts, items);
        QCOMPARE(w.list()->itemData(items.size() - 1, Qt::ToolTipRole).toString(),
                 w.ports.device(PortDialog::portOfItem(items.last())));
        QCOMPARE(w.list()->currentText(), shown);
        QCOMPARE(w.dialog.selectedPort(), livePort);
        QCOMPARE(w.livePort(), livePort);
    }

    // A tick between two probes must not send the controller's poll to whatever answers there.
    void probesNeverLeaveAPortOpenWhileEventsRun()
    {
        World w({1, 2, 3, 4, 5}, {}, 2);
        int turns = 0;
        int sawOpen = 0;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            ++turns;
            sawOpen += w.link.isOpen() ? 1 : 0;
        });
        watcher.start(0);
        w.dialog.load();
        watcher.stop();
        QVERIFY2(turns >= 16, qPrintable(QString::number(turns)));
        QCOMPARE(sawOpen, 0);
    }

    void pickingSwitchesAndOkStores()
    {
        World w({1, 4, 12}, {}, 1);
        w.open();
        w.pick(QStringLiteral("COM12"));
        QCOMPARE(w.livePort(), 12);
        QCOMPARE(w.portNumber, quint8(1));
        QVERIFY(!QFile::exists(w.config.filePath()));

        QTest::mouseClick(w.button("OK"), Qt::LeftButton);
        QVERIFY(w.dialog.isHidden());
        QCOMPARE(w.portNumber, quint8(12));
        QCOMPARE(w.stored(), QStringLiteral("12"));
        QCOMPARE(w.livePort(), 12);
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
        w.link.openedPorts.clear();
        if (how == "cancel")
            QTest::mouseClick(w.button("Отмена"), Qt::LeftButton);
        else if (how == "close")
            w.dialog.close();
        else
            QTest::keyClick(&w.dialog, Qt::Key_Escape);
        QVERIFY(w.dialog.isHidden());
        QCOMPARE(w.portNumber, quint8(7));
        QCOMPARE(w.link.openedPorts, QList<int>({7}));
        QCOMPARE(w.livePort(), 7);
        QVERIFY(!QFile::exists(w.config.filePath()));
    }

    // Nothing is picked when the configured port is busy; typing opens nothing, and a picked
    // item overtyped with other text is withdrawn. OK then stores port 0, which does not open.
    void okWithNothingSelectedStoresZero()
    {
        World w({1, 3, 4, 5}, {3}, 3);
        w.open();
        w.link.openedPorts.clear();
        QLineEdit *edit = w.list()->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("COM5"));
        QCOMPARE(w.link.openedPorts, QList<int>());
        QCOMPARE(w.dialog.selectedPort(), 0);
        w.pick(QStringLiteral("COM4"));
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("COM9"));
        QCOMPARE(w.dialog.selectedPort(), 0);
        QTest::mouseClick(w.button("OK"), Qt::LeftButton);
        QCOMPARE(w.portNumber, quint8(0));
        QCOMPARE(w.stored(), QStringLiteral("0"));
        QCOMPARE(w.livePort(), 0);
        QCOMPARE(w.status->text(), QStringLiteral("Порт не выбран"));

        // The configured port taken by another program meanwhile: Cancel leaves none open.
        World taken({1, 2}, {}, 2);
        taken.open();
        taken.pick(QStringLiteral("COM1"));
        taken.link.busyPorts.insert(2);
        taken.dialog.close();
        QCOMPARE(taken.livePort(), 0);
        QCOMPARE(taken.status->text(), QStringLiteral("Порт не выбран"));
    }
};

QTEST_MAIN(TestPortDialog)
#include "tst_portdialog.moc"
