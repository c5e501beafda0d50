// The service program's frame builders and CRC against the simulator, which frames with Qt's
// Modbus server: two implementations that share no code must agree byte for byte.

#include "modbus/frames.h"
#include "simharness.h"

using namespace vortan::simtest;

class TstSimFrames : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_sim.waitReady()); }
    void init() { QVERIFY(m_line.open(m_sim.device())); }

    void programFramesAreServed_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("independent");
        QTest::addColumn<int>("replyLength");
        vortan::ControlState state;
        state.controlWord = 0x0002;
        state.section = 5;
        state.nextSection = 3;
        state.iflr = 0x12;
        QTest::newRow("status poll")
            << vortan::BuildTxFrame(vortan::StatusPollRequest(), 1) << StatusPoll << 149;
        QTest::newRow("reset alarms")
            << vortan::BuildTxFrame(vortan::WriteRegisterRequest(4001, 0xCBD0), 1) << ResetAlarms
            << 8;
        QTest::newRow("control state")
            << vortan::BuildTxFrame(vortan::ControlStateRequest(state), 1)
            << Frame({1, 23, 0x0F, 0xAA, 0, 1, 0x0F, 0xA2, 0, 5,   10,
                      0, 2,  0x35, 0,    0, 0, 0,    0,    0, 0x12})
            << 7;
        QTest::newRow("first parameter run")
            << vortan::BuildTxFrame(vortan::ParamReadRequest(0, 49), 1) << Frame({1, 100, 0, 0, 49})
            << 56;
        QTest::newRow("single parameter write")
            << vortan::BuildTxFrame(vortan::ParamWriteRequest(67, 0x012C, 2), 1)
            << Frame({1, 101, 0, 67, 2, 0x01, 0x2C}) << 9;
        QTest::newRow("run write")
            << vortan::BuildTxFrame(
                   vortan::ParamRunWriteRequest(131, QByteArray::fromHex("01020003")), 1)
            << Frame({1, 101, 0, 131, 4, 1, 2, 0, 3}) << 11;
    }
    void programFramesAreServed()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, independent);
        QFETCH(int, replyLength);
        QCOMPARE(frame.toHex(' '), independent.toHex(' '));
        const QByteArray reply = m_line.exchange(frame, replyLength);
        QCOMPARE(reply.size(), replyLength);
        QCOMPARE(
            vortan::Crc16Modbus(reply.chopped(2)),
            quint16(quint8(reply.at(replyLength - 2)) | quint8(reply.at(replyLength - 1)) << 8));
        QCOMPARE(quint8(reply.at(1)), quint8(frame.at(1)));
    }

private:
    vortan::test::Simulator m_sim{{}};
    Line m_line;
};

QTEST_GUILESS_MAIN(TstSimFrames)
#include "tst_simframes.moc"
