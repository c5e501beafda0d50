#include "config/inifile.h"
#include "config/portdialog.h"
#include "fakeseriallink.h"
#include "modbus/exchangecycle.h"
#include "modbus/frames.h"
#include "params/paramwindow.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "shell/mainwindow.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using vortan::Application;
using vortan::PortDialog;
using vortan::ReadIniValue;
using vortan::StartupOptions;
using vortan::test::FakeSerialLink;
using vortan::test::ScriptedMessages;

namespace
{

const QByteArray StatusPoll = QByteArray::fromHex("010407D00048F0B1");
const QByteArray ResetAlarms = QByteArray::fromHex("01060FA1CBD08D90");
const QString NoReply = QString::fromUtf8(vortan::StatusNoReply);

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A reply the exchange accepts and the dispatch leaves alone: the echo of a command write.
QByteArray acknowledgement()
{
    QByteArray reply = QByteArray::fromHex("01060FA1CBD0");
    const quint16 crc = vortan::Crc16Modbus(reply);
    reply.append(char(crc & 0xFF));
    reply.append(char(crc >> 8));
    return reply;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    struct World {
        QTemporaryDir dir;
        FakeSerialLink link;
        ScriptedMessages messages;
        std::unique_ptr<Application> app;

        explicit World(const QByteArray &config = QByteArray(), const QString &portDevice = {})
        {
            if (!config.isNull())
                writeFile(configPath(), config);
            link.presentPorts = {1, 2, 3, 4};
            StartupOptions options;
            options.programDir = dir.path();
            options.portDevice = portDevice;
            app = std::make_unique<Application>(options, link, messages);
        }
        QString configPath() const { return dir.filePath(QStringLiteral("тп.ini")); }
        QString status() const { return app->mainWindow().statusLine()->text(); }
        QComboBox *slaves() const { return app->mainWindow().slaveList(); }
        QAction *menu(const char *name) const
        {
            return app->mainWindow().findChild<QAction *>(QString::fromLatin1(name));
        }
        // One tick with the controller answering the request sent by the previous one.
        void answeredTick()
        {
            link.feed(acknowledgement());
            app->ExchangeTick();
        }
    };

private slots:
    void freePortStartsWithoutMessage()
    {
        World w;
        QVERIFY(w.app->start(false));
        QVERIFY(w.messages.shown.isEmpty());
        QVERIFY(w.app->mainWindow().isVisible());
        QCOMPARE(w.app->mainWindow().objectName(), QStringLiteral("frm_main"));
        QCOMPARE(w.link.openedPorts, QList<int>({1}));
        QVERIFY(w.link.written.isEmpty());

        w.app->ExchangeTick();
        QCOMPARE(w.status(), NoReply);
        QCOMPARE(w.link.written, QList<QByteArray>({StatusPoll}));

        // The configuration was read before the lists were filled: a new file has no address.
        const QString file = w.app->config().filePath();
        QCOMPARE(ReadIniValue(file, "PC config", "COM", "x"), QStringLiteral("1"));
        QCOMPARE(ReadIniValue(file, "VRT config", "MBSLAD", "x"), QStringLiteral("-1"));
    }

    void timerRunsTheTickEveryFortyMilliseconds()
    {
        World w;
        QVERIFY(w.app->start());
        QVERIFY(w.app->timer1().isActive());
        QCOMPARE(w.app->timer1().interval(), 40);
        QCOMPARE(w.app->timer1().timerType(), Qt::PreciseTimer);
        QVERIFY(w.link.written.isEmpty());
        QVERIFY(QMetaObject::invokeMethod(&w.app->timer1(), "timeout"));
        QCOMPARE(w.link.written, QList<QByteArray>({StatusPoll}));
        QCOMPARE(w.status(), NoReply);
    }

    void portFailureMessage_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("text");
        QTest::newRow("COM3 in use")
            << 3 << true << "Порт COM3 занят другим приложением\r\nВыберите другой порт";
        QTest::newRow("COM1 in use")
            << 1 << true << "Порт COM1 занят другим приложением\r\nВыберите другой порт";
        QTest::newRow("COM9 missing")
            << 9 << false << "Порт COM9 не доступен\r\nВыберите другой порт";
        QTest::newRow("COM0 from the file")
            << 0 << false << "Порт COM0 не доступен\r\nВыберите другой порт";
        QTest::newRow("COM255") << 255 << false
                                << "Порт COM255 не доступен\r\nВыберите другой порт";
    }

    void portFailureMessage()
    {
        QFETCH(int, port);
        QFETCH(bool, busy);
        QFETCH(QString, text);
        World w("[PC config]\r\nCOM=" + QByteArray::number(port) + "\r\n");
        if (busy)
            w.link.busyPorts.insert(port);
        w.messages.answers = {QMessageBox::Cancel};

        QVERIFY(!w.app->start());
        QCOMPARE(w.messages.shown.size(), 1);
        const auto &box = w.messages.shown.first();
        QCOMPARE(box.text, text);
        QCOMPARE(box.title, QStringLiteral("Ошибка открытия порта"));
        QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(!w.app->mainWindow().isVisible());
        QVERIFY(!w.app->timer1().isActive());
        QVERIFY(w.link.written.isEmpty());
    }

    void okOpensTheDialogModallyAndStartupGoesOn()
    {
        World w("[PC config]\r\nCOM=1\r\n");
        w.link.busyPorts = {1};
        w.messages.answers = {QMessageBox::Ok};
        bool wasModal = false;
        QStringList listed;
        connect(w.app.get(), &Application::portDialogOpened, this, [&](PortDialog *dialog) {
            QTimer::singleShot(0, dialog, [&, dialog] {
                wasModal = QApplication::activeModalWidget() == dialog;
                auto *list = dialog->findChild<QComboBox *>("cmbCOMList");
                for (int i = 0; i < list->count(); ++i)
                    listed.append(list->itemText(i));
                const int index = list->findText(QStringLiteral("COM3"));
                list->setCurrentIndex(index);
                emit list->activated(index);
                QTest::mouseClick(dialog->findChild<QPushButton *>("OK"), Qt::LeftButton);
            });
        });

        QVERIFY(w.app->start(false));
        QVERIFY(wasModal);
        QCOMPARE(listed, QStringList({"COM2", "COM3", "COM4"}));
        QCOMPARE(w.app->portNumber(), quint8(3));
        QCOMPARE(ReadIniValue(w.app->config().filePath(), "PC config", "COM", "x"),
                 QStringLiteral("3"));
        QVERIFY(w.link.isOpen());
        QCOMPARE(w.link.selectedPort(), 3);
        QVERIFY(w.app->mainWindow().isVisible());
        w.app->ExchangeTick();
        QCOMPARE(w.link.written, QList<QByteArray>({StatusPoll}));
    }

    void dialogLeftWithoutPortRunsWithClosedPort()
    {
        World w("[PC config]\r\nCOM=2\r\n");
        w.link.busyPorts = {2};
        w.messages.answers = {QMessageBox::Ok};
        connect(w.app.get(), &Application::portDialogOpened, this, [](PortDialog *dialog) {
            QTimer::singleShot(0, dialog, [dialog] { dialog->close(); });
        });
        QVERIFY(w.app->start(false));
        QVERIFY(w.app->mainWindow().isVisible());
        QVERIFY(!w.link.isOpen());
        QCOMPARE(w.app->portNumber(), quint8(2));

        w.app->ExchangeTick();
        w.app->ExchangeTick();
        QVERIFY(w.link.written.isEmpty());
        QCOMPARE(w.status(), NoReply + QStringLiteral(" (порт COM2 закрыт)"));
    }

    void slaveAddressStartsAtOneWhateverWasSaved()
    {
        World w("[PC config]\r\nCOM=3\r\n[VRT config]\r\nMBSLAD=17\r\n");
        QVERIFY(w.app->start(false));
        QCOMPARE(w.app->portNumber(), quint8(3));
        QCOMPARE(w.link.openedPorts, QList<int>({3}));
        QCOMPARE(w.slaves()->count(), 128);
        QCOMPARE(w.slaves()->currentIndex(), 1);
        w.app->ExchangeTick();
        QCOMPARE(w.link.written.value(0).left(1), QByteArray("\x01"));
    }

    void threeQuickClicksSendThreeCommandsInOrder()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.app->ExchangeTick();
        auto *reset = w.app->mainWindow().findChild<QPushButton *>("cmd_btn_0");
        QVERIFY(reset);
        QTest::mouseClick(reset, Qt::LeftButton);
        QTest::mouseClick(reset, Qt::LeftButton);
        QTest::mouseClick(reset, Qt::LeftButton);
        for (int i = 0; i < 4; ++i)
            w.answeredTick();
        QCOMPARE(w.link.written.size(), 5);
        QCOMPARE(w.link.written.mid(0, 4),
                 QList<QByteArray>({StatusPoll, ResetAlarms, ResetAlarms, ResetAlarms}));
        QCOMPARE(w.link.written.at(4).at(1), char(23));
    }

    void fullQueueRefusesCommandWithNote()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.app->ExchangeTick();
        int queued = 0;
        while (vortan::EnqueueCommand(w.app->queue(), QStringLiteral("&HF1A5")))
            ++queued;
        QCOMPARE(queued, vortan::RequestQueue::MaxWaiting - 1);
        const int waiting = w.app->queue().waiting();

        QTest::mouseClick(w.app->mainWindow().findChild<QPushButton *>("cmd_btn_0"),
                          Qt::LeftButton);
        QCOMPARE(w.app->queue().waiting(), waiting);
        QVERIFY2(w.status().endsWith(Application::queueFullNote()), qPrintable(w.status()));

        w.app->ExchangeTick();
        QCOMPARE(w.status(), NoReply + Application::queueFullNote());
        for (int i = 0; i < 60; ++i)
            w.app->ExchangeTick();
        QCOMPARE(w.status(), NoReply);
    }

    void portMenuOpensOneModelessDialog()
    {
        World w("[PC config]\r\nCOM=2\r\n");
        QVERIFY(w.app->start(false));
        QAction *settings = w.menu("mnu_settings");
        QVERIFY(settings);
        settings->trigger();
        QPointer<PortDialog> dialog = w.app->portDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->parentWidget(), &w.app->mainWindow());

        settings->trigger();
        QCOMPARE(w.app->portDialog(), dialog.data());
        QCOMPARE(w.app->mainWindow().findChildren<PortDialog *>().size(), 1);

        // The exchange keeps running on the configured port while the dialog is open.
        w.link.written.clear();
        w.app->ExchangeTick();
        QCOMPARE(w.link.written.size(), 1);
        QCOMPARE(w.link.selectedPort(), 2);

        QTest::mouseClick(dialog->findChild<QPushButton *>("Отмена"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
        QVERIFY(!w.app->portDialog());
        settings->trigger();
        QVERIFY(w.app->portDialog());
        QVERIFY(w.app->portDialog()->isVisible());
    }

    void parametersMenuQueuesReadsBehindThePoll()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.app->ExchangeTick();
        QAction *params = w.menu("mnu_param");
        QVERIFY(params);
        params->trigger();
        QVERIFY(w.app->paramWindow());
        QVERIFY(w.app->paramWindow()->isVisible());
        QCOMPARE(w.app->paramWindow()->parentWidget(), &w.app->mainWindow());
        w.answeredTick();
        QCOMPARE(w.link.written.size(), 2);
        QCOMPARE(w.link.written.at(0), StatusPoll);
        QCOMPARE(w.link.written.at(1).left(5), QByteArray::fromHex("0164000031"));

        params->trigger();
        QCOMPARE(w.app->mainWindow().findChildren<vortan::ParamWindow *>().size(), 1);
    }

    void portOptionReplacesTheConfiguredDeviceOnly()
    {
        const QByteArray config = "[PC config]\r\nCOM=4\r\n";
        World w(config, QStringLiteral("/tmp/vortan-sim-pty"));
        QVERIFY(w.app->start(false));
        QCOMPARE(w.app->portMap().device(4), QStringLiteral("/tmp/vortan-sim-pty"));
        QCOMPARE(w.app->portMap().device(1), vortan::PortMap::builtInDevice(1));
        QFile f(w.app->config().filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), config);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
