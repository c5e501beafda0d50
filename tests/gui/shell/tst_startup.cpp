#include "config/inifile.h"
#include "config/portdialog.h"
#include "fakeseriallink.h"
#include "paramreplies.h"
#include "modbus/exchangecycle.h"
#include "params/paramwindow.h"
#include "scriptedmessages.h"
#include "shell/application.h"
#include "shell/mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
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

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    struct World {
        QTemporaryDir dir;
        FakeSerialLink link;
        ScriptedMessages messages;
        std::unique_ptr<Application> app;

        // `config` is the content of "тп.ini"; none when null.
        explicit World(const QByteArray &config = QByteArray())
        {
            QFile file(dir.filePath(QStringLiteral("тп.ini")));
            if (!config.isNull())
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(config) == config.size());
            link.presentPorts = {1, 2, 3, 4};
            StartupOptions options;
            options.programDir = dir.path();
            app = std::make_unique<Application>(options, link, messages);
        }
        QString status() const { return app->mainWindow().statusLine()->text(); }
        QString configValue(const char *section, const char *key) const
        {
            return ReadIniValue(app->config().filePath(), section, key, "x");
        }
        template <class T>
        T *find(const char *name) const
        {
            return app->mainWindow().findChild<T *>(QString::fromLatin1(name));
        }
        // One tick with the controller answering the previous request with a command echo,
        // which the exchange accepts and the dispatch leaves alone.
        // The controller answers the request in flight: a zero status block, a zero priority
        // code, or the echo of a command.
        void answeredTick()
        {
            const QByteArray &request = link.written.last();
            QByteArray reply = request;
            if (request.at(1) == vortan::FnReadInput)
                reply = QByteArray::fromHex("010490") + QByteArray(144, '\0');
            else if (request.at(1) == vortan::FnReadWrite)
                reply = QByteArray::fromHex("0117020000");
            if (reply != request) {
                const quint16 crc = vortan::Crc16Modbus(reply);
                reply.append(char(crc & 0xFF)).append(char(crc >> 8));
            }
            link.feed(reply);
            app->ExchangeTick();
        }
    };

private slots:
    void freePortStartsWithoutMessageAndTicks()
    {
        World w;
        QVERIFY(w.app->start());
        QVERIFY(w.messages.shown.isEmpty());
        QVERIFY(w.app->mainWindow().isVisible());
        QCOMPARE(w.link.openedPorts, QList<int>({1}));
        QVERIFY(w.link.written.isEmpty());
        QVERIFY(w.app->timer1().isActive());
        QCOMPARE(w.app->timer1().interval(), 40);

        QVERIFY(QMetaObject::invokeMethod(&w.app->timer1(), "timeout"));
        QCOMPARE(w.status(), NoReply);
        QCOMPARE(w.link.written, QList<QByteArray>({StatusPoll}));
        // The configuration was read before the lists were filled: a new file has no address.
        QCOMPARE(w.configValue("VRT config", "MBSLAD"), QStringLiteral("-1"));
    }

    void slaveAddressStartsAtOneWhateverWasSaved()
    {
        World w("[PC config]\r\nCOM=3\r\n[VRT config]\r\nMBSLAD=17\r\n");
        QVERIFY(w.app->start(false));
        QCOMPARE(w.link.openedPorts, QList<int>({3}));
        QCOMPARE(w.app->mainWindow().slaveList()->currentIndex(), 1);
        w.app->ExchangeTick();
        QCOMPARE(w.link.written.value(0), StatusPoll);
    }

    void portFailureMessage_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("text");
        QTest::newRow("COM3 in use")
            << 3 << true << "Порт COM3 занят другим приложением\r\nВыберите другой порт";
        QTest::newRow("COM9 missing")
            << 9 << false << "Порт COM9 не доступен\r\nВыберите другой порт";
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
    }

    // A device the user may not open: the box keeps its text and tells, behind "Show Details",
    // the device and how to join the dialout group; the dialog lists such ports with the same
    // as their tooltip.
    void noPermissionExplainsTheDialoutGroup()
    {
        World w("[PC config]\r\nCOM=5\r\n");
        w.link.presentPorts = {1, 5, 6};
        w.link.forbiddenPorts = {5, 6};
        w.messages.answers = {QMessageBox::Ok};
        QStringList items;
        QStringList tooltips;
        connect(w.app.get(), &Application::portDialogOpened, this, [&](PortDialog *dialog) {
            QTimer::singleShot(0, dialog, [&, dialog] {
                auto *list = dialog->findChild<QComboBox *>("cmbCOMList");
                for (int i = 0; i < list->count(); ++i) {
                    items << list->itemText(i);
                    tooltips << list->itemData(i, Qt::ToolTipRole).toString();
                }
                dialog->reject();
            });
        });
        QVERIFY(w.app->start(false));

        QCOMPARE(w.messages.shown.size(), 1);
        const auto &box = w.messages.shown.first();
        QCOMPARE(box.text, QStringLiteral("Порт COM5 не доступен\r\nВыберите другой порт"));
        const QString detail = box.detail;
        for (const char *part : {"/dev/ttyUSB0", "dialout", "sudo usermod -aG dialout $USER",
                                 "войдите в систему заново"})
            QVERIFY2(detail.contains(QString::fromUtf8(part)), qPrintable(detail));
        QCOMPARE(items, QStringList({"COM1", "COM5", "COM6"}));
        QCOMPARE(tooltips, QStringList({"/dev/ttyS0", detail,
                                        QString(detail).replace("ttyUSB0", "ttyUSB1")}));
    }

    void okOpensTheDialogModallyAndStartupGoesOn()
    {
        World w("[PC config]\r\nCOM=1\r\n");
        w.link.busyPorts = {1};
        w.messages.answers = {QMessageBox::Ok};
        bool wasModal = false;
        connect(w.app.get(), &Application::portDialogOpened, this, [&](PortDialog *dialog) {
            QTimer::singleShot(0, dialog, [&, dialog] {
                wasModal = QApplication::activeModalWidget() == dialog;
                auto *list = dialog->findChild<QComboBox *>("cmbCOMList");
                const int index = list->findText(QStringLiteral("COM3"));
                list->setCurrentIndex(index);
                emit list->activated(index);
                QTest::mouseClick(dialog->findChild<QPushButton *>("OK"), Qt::LeftButton);
            });
        });

        QVERIFY(w.app->start(false));
        QVERIFY(wasModal);
        QCOMPARE(w.configValue("PC config", "COM"), QStringLiteral("3"));
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
        w.app->ExchangeTick();
        w.app->ExchangeTick();
        QVERIFY(w.link.written.isEmpty());
        QCOMPARE(w.status(), NoReply + QStringLiteral(" (порт COM2 закрыт)"));
    }

    void threeQuickClicksSendThreeCommandsInOrder()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.app->ExchangeTick();
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(w.find<QPushButton>("cmd_btn_0"), Qt::LeftButton);
        for (int i = 0; i < 4; ++i)
            w.answeredTick();
        QCOMPARE(w.link.written.size(), 5);
        QCOMPARE(w.link.written.mid(0, 4),
                 QList<QByteArray>({StatusPoll, ResetAlarms, ResetAlarms, ResetAlarms}));
        QCOMPARE(w.link.written.at(4).at(1), char(23));

        // Each command is in the window's journal, sent and taken, with no window open.
        QStringList commands;
        const vortan::JournalRows &rows = w.app->journalRows();
        for (int r = 0; r < rows.rowCount(); ++r) {
            if (rows.index(r, 2).data().toString() == QStringLiteral("Команда"))
                commands << rows.index(r, 1).data().toString();
        }
        QCOMPARE(commands.count(QStringLiteral("отправлена")), 3);
        QCOMPARE(commands.count(QStringLiteral("принята")), 3);
    }

    void fullQueueRefusesCommandWithNote()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.app->ExchangeTick();
        while (vortan::EnqueueCommand(w.app->queue(), QStringLiteral("&HF1A5"))) {
        }
        QCOMPARE(w.app->queue().waiting(), vortan::RequestQueue::MaxWaiting);

        QTest::mouseClick(w.find<QPushButton>("cmd_btn_0"), Qt::LeftButton);
        QCOMPARE(w.app->queue().waiting(), vortan::RequestQueue::MaxWaiting);
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
        QAction *settings = w.find<QAction>("mnu_settings");
        settings->trigger();
        settings->trigger();
        QPointer<PortDialog> dialog = w.app->portDialog();
        QVERIFY(dialog && dialog->isVisible() && !dialog->isModal());
        QCOMPARE(dialog->parentWidget(), &w.app->mainWindow());
        QCOMPARE(w.app->mainWindow().findChildren<PortDialog *>().size(), 1);

        // The exchange keeps running on the configured port while the dialog is open.
        w.app->ExchangeTick();
        QCOMPARE(w.link.written, QList<QByteArray>({StatusPoll}));
        QCOMPARE(w.link.selectedPort(), 2);

        QTest::mouseClick(dialog->findChild<QPushButton *>("Отмена"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog && !w.app->portDialog());
        settings->trigger();
        QVERIFY(w.app->portDialog() && w.app->portDialog()->isVisible());
    }

    void parametersMenuQueuesReadsBehindThePoll()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.app->ExchangeTick();
        QAction *params = w.find<QAction>("mnu_param");
        params->trigger();
        QVERIFY(w.app->paramWindow() && w.app->paramWindow()->isVisible());
        QCOMPARE(w.app->paramWindow()->parentWidget(), &w.app->mainWindow());
        w.answeredTick();
        QCOMPARE(w.link.written.size(), 2);
        QCOMPARE(w.link.written.at(1).left(5), QByteArray::fromHex("0164000031"));

        params->trigger();
        QCOMPARE(w.app->mainWindow().findChildren<vortan::ParamWindow *>().size(), 1);
    }

    // Every tick rewrites the status line, so a parameter refused on Enter must stay noted
    // there for a while or the engineer never sees why nothing was written.
    void parameterRefusedOnEnterStaysNoted()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.find<QAction>("mnu_param")->trigger();
        const int waiting = w.app->queue().waiting();
        auto *box = w.app->paramWindow()->findChild<QLineEdit *>(QStringLiteral("txt_par_40"));
        QVERIFY(box);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(w.app->queue().waiting(), waiting);
        w.app->ExchangeTick();
        QVERIFY2(w.status().startsWith(NoReply) &&
                     w.status().contains(QStringLiteral("не записан")),
                 qPrintable(w.status()));
        for (int i = 0; i < 60; ++i)
            w.app->ExchangeTick();
        QCOMPARE(w.status(), NoReply);
    }

    // "Отчёт..." comes last in the menu and writes what the window holds as a PDF whose text can
    // be searched: the status captions, the lit alarm, and a parameter set never read said so.
    void reportMenuWritesSearchablePdf()
    {
        World w;
        QVERIFY(w.app->start(false));
        QCOMPARE(w.app->mainWindow().menuBar()->actions().last()->objectName(),
                 QStringLiteral("mnu_report"));
        w.app->ExchangeTick();
        QByteArray block(144, '\0');
        block[63] = 0x40; // alarm word, bit 6
        w.link.feed(vortan::test::withCrc(QByteArray::fromHex("010490") + block));
        w.app->ExchangeTick();
        QVERIFY(w.app->controller().hasSnapshot());

        const QString pdf = w.dir.filePath(QStringLiteral("отчёт.pdf"));
        w.app->askReportFile = [&pdf](const QString &) { return pdf; };
        w.find<QAction>("mnu_report")->trigger();
        QVERIFY(w.messages.shown.isEmpty());
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-");

        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext is not installed (apt-get install poppler-utils)");
        QProcess text;
        text.start(pdftotext, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf,
                               QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000) && text.exitCode() == 0);
        const QString words = QString::fromUtf8(text.readAllStandardOutput());
        for (const char *caption : {"Сервисный отчёт", "U фазы A, В", "Ошибка обмена CAN",
                                    "Параметры не прочитаны", "Журнал событий"})
            QVERIFY2(words.contains(QString::fromUtf8(caption)), qPrintable(words));
    }

    // The operator's panel goes out with the control-state poll; a priority change from the
    // controller shows in the list, is acknowledged and goes out with the next poll.
    void operatorPanelAndPriorityHandshakeOnTheLine()
    {
        World w;
        QVERIFY(w.app->start(false));
        w.find<QCheckBox>("chk_syren")->setChecked(true);
        w.find<QComboBox>("cmb_section")->setCurrentIndex(5);
        w.app->ExchangeTick();
        w.answeredTick();
        QCOMPARE(w.link.written.last().mid(11, 4), QByteArray::fromHex("80000500"));

        w.link.feed(QByteArray::fromHex("011702A50386E5"));
        w.app->ExchangeTick();
        QCOMPARE(w.find<QLabel>("lbl_setpr")->text(), QStringLiteral("A503"));
        QCOMPARE(w.find<QComboBox>("cmb_priority")->currentText(), QStringLiteral("3"));
        QCOMPARE(w.link.written.last(), QByteArray::fromHex("01060FA1AD5E2654"));
        w.answeredTick();
        w.answeredTick();
        QCOMPARE(w.link.written.last().mid(11, 4), QByteArray::fromHex("80000503"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
