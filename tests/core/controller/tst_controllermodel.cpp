#include "controller/controllermodel.h"

#include "fakeseriallink.h"
#include "modbus/exchangecycle.h"
#include "paramreplies.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The exchange cycle of a program without windows: every good reply goes to the model.
struct World : CycleHost {
    RequestQueue queue;
    RxBuffer rx;
    FakeSerialLink link;
    ControllerModel model{queue};
    ExchangeCycle cycle{queue, rx, link, *this, model.operatorPoll()};

    World() { link.setOpen(true); }
    void setStatusText(const QString &) override {}
    void decodeReply() override { model.DecodeReply(rx); }
    int slaveAddress() const override { return 1; }

    // The controller's reply (CRC added) arrives, and the tick sends the next request.
    QByteArray tick(const QByteArray &reply)
    {
        link.feed(withCrc(reply));
        cycle.ExchangeTick();
        return link.written.last();
    }
};

const QByteArray ZeroStatusBlock = hex("010490") + QByteArray(144, '\0');

} // namespace

class TestControllerModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // The operator's inputs go out with the control-state poll; the controller's priority
    // change selects the entry, is acknowledged with 0xAD5E and goes out with the next poll.
    void operatorInputsAndPriorityHandshakeReachTheLine()
    {
        World w;
        QSignalSpy decoded(&w.model, &ControllerModel::statusDecoded);
        QSignalSpy changed(&w.model, &ControllerModel::controlStateChanged);
        QSignalSpy notes(&w.model, &ControllerModel::statusNote);
        ControlState inputs;
        inputs.controlWord = 0x8001;
        inputs.section = 5;
        inputs.nextSection = 3;
        inputs.priority = 7;
        inputs.bdn = 12;
        inputs.flr = 2;
        inputs.iflr = 0x12;
        w.model.setControlState(inputs);

        w.cycle.ExchangeTick();
        QCOMPARE(w.link.written.last(), withCrc(hex("010407D00048")));
        QCOMPARE(w.tick(ZeroStatusBlock),
                 withCrc(hex("01170FAA00010FA200050A 8001 3507 000C 0002 0012")));
        QCOMPARE(decoded.size(), 1);
        QVERIFY(w.model.hasSnapshot());

        QCOMPARE(w.tick(hex("011702A503")), withCrc(hex("01060FA1AD5E")));
        QCOMPARE(w.model.priorityCode(), 0xA503);
        QCOMPARE(w.model.controlState().priority, 3);
        QCOMPARE(changed.size(), 2);
        w.tick(hex("01060FA1AD5E"));
        QCOMPARE(w.tick(ZeroStatusBlock),
                 withCrc(hex("01170FAA00010FA200050A 8001 3503 000C 0002 0012")));

        // No entry 8: nothing selected, nothing acknowledged, a note for the status line.
        const int queued = w.queue.waiting();
        w.tick(hex("011702A508"));
        QCOMPARE(w.model.priorityCode(), 0xA508);
        QCOMPARE(w.model.controlState().priority, 3);
        QCOMPARE(w.queue.waiting(), queued);
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes.first().first().toString(),
                 QStringLiteral(" Неверный код смены приоритета: A508"));
    }

    // Parameter replies fill the set with no window; a confirmed write reports the value the
    // controller held before and the one written, as the parameters window shows them.
    void paramRepliesReachTheSetAndWritesAreReported()
    {
        RequestQueue queue;
        ControllerModel model(queue);
        ParamSet &set = model.paramSet();
        QSignalSpy written(&model, &ControllerModel::paramWritten);

        model.DecodeReply(ParamReply(100, 52, 3, bytes({10, 11, 12})));
        QCOMPARE(set.texts().mid(38, 3), QStringList({"10 ", "11 ", "12 "}));
        QCOMPARE(set.state(40), ParamState::Read);
        QCOMPARE(written.size(), 0);

        set.edit(40, QStringLiteral("12.6"));
        QCOMPARE(set.writeOne(queue, 40), TransferStatus::Queued);
        model.DecodeReply(ParamReply(101, 54, 1, bytes({13})));
        model.DecodeReply(ParamReply(101, 67, 2, bytes({0x01, 0x2C}))); // never read before
        model.DecodeReply(ParamReply(101, 54, 0, {}));                  // nothing confirmed
        QCOMPARE(set.text(40), QStringLiteral("13 "));
        QCOMPARE(set.text(51), QStringLiteral("30 "));
        QCOMPARE(set.state(51), ParamState::Read);
        QCOMPARE(written.size(), 2);
        QCOMPARE(written.at(0), QVariantList({40, QStringLiteral("12 "), QStringLiteral("13 ")}));
        QCOMPARE(written.at(1), QVariantList({51, QStringLiteral("-"), QStringLiteral("30 ")}));
    }
};

QTEST_GUILESS_MAIN(TestControllerModel)
#include "tst_controllermodel.moc"
