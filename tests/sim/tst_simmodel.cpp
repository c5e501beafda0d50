#include "sim/faultplan.h"
#include "sim/parammemory.h"
#include "sim/simmodel.h"
#include "sim/simoptions.h"
#include "sim/simserver.h"

#include <QtTest>

using namespace vortan::sim;

namespace
{

quint32 dword(const StatusBlock &b, int n)
{
    return quint32(b[size_t(n)]) << 16 | b[size_t(n + 1)];
}

QModbusRequest request(int fc, const QByteArray &hex)
{
    return QModbusRequest(QModbusPdu::FunctionCode(fc), QByteArray::fromHex(hex.data()));
}

int exceptionOf(const QModbusResponse &r)
{
    return r.isException() ? int(r.exceptionCode()) : 0;
}

struct World {
    ParamMemory memory;
    SimModel model{1, memory};
    SimCounters counters;
    SimServer server{model, memory, counters};
};

} // namespace

// The simulator's parts without a line: parameter memory, model, faults, options, server.
class TstSimModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { SimServer::RegisterControllerFunctions(); }

    void rangeChecks_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("status");
        QTest::newRow("first run") << 0 << 49 << int(ParamStatus::Ok);
        QTest::newRow("80 bytes up to the end") << 67 << 80 << int(ParamStatus::Ok);
        QTest::newRow("one past the end") << 146 << 2 << int(ParamStatus::BadAddress);
        QTest::newRow("start past the end") << 147 << 1 << int(ParamStatus::BadAddress);
        QTest::newRow("count 0") << 0 << 0 << int(ParamStatus::BadCount);
        QTest::newRow("count 81") << 0 << 81 << int(ParamStatus::BadCount);
    }
    void rangeChecks()
    {
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(int, status);
        ParamMemory memory;
        const auto before = memory.bytes();
        const QByteArray run(count, char(0x5A));
        QCOMPARE(int(memory.write(address, run)), status);
        const bool ok = status == int(ParamStatus::Ok);
        QCOMPARE(memory.read(address, count), ok ? run : QByteArray());
        QCOMPARE(memory.bytes() == before, !ok);
    }

    void seedMakesARunRepeatable()
    {
        const ParamMemory memory;
        SimModel a(11, memory), b(11, memory), c(12, memory);
        bool differs = false;
        for (int i = 0; i < 50; ++i) {
            const StatusBlock blockA = a.nextStatusBlock();
            QVERIFY(blockA == b.nextStatusBlock());
            differs = differs || blockA != c.nextStatusBlock();
        }
        QVERIFY(differs);
    }

    // Reset clears what is latched, and a condition that is still there comes straight back.
    void resetKeepsStandingConditions()
    {
        const ParamMemory memory;
        SimModel model(1, memory);
        OperatorInputs in;
        in.control = ControlBit::Breakdown;
        model.setOperatorInputs(in);
        QCOMPARE(dword(model.nextStatusBlock(), Status::Alarms), 1u << 6); // latched at power-up
        model.applyCommand(Command::ResetAlarms);
        const StatusBlock b = model.nextStatusBlock();
        QCOMPARE(dword(b, Status::Alarms), 0u);
        QCOMPARE(dword(b, Status::Alarms1), 0x2u);
    }

    // reg names one status register, the low word of a 32-bit field being offset + 1.
    void operatorInputsShow_data()
    {
        QTest::addColumn<quint16>("control");
        QTest::addColumn<quint16>("flr");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("mask");
        QTest::newRow("load: Нагрузку вкл.")
            << ControlBit::Load << quint16(0) << Status::ControlFlags + 1 << 0x0080;
        QTest::newRow("load: contactor letter")
            << ControlBit::Load << quint16(0) << Status::UnitState << 0x0002;
        QTest::newRow("section: Секцию вкл. (flag bit 18)")
            << ControlBit::Section << quint16(0) << Status::ControlFlags << 0x0004;
        QTest::newRow("breakdown: red external disconnect")
            << ControlBit::Breakdown << quint16(0) << Status::Alarms1 + 1 << 0x0002;
        QTest::newRow("fault: yellow reserve warning")
            << ControlBit::Fault << quint16(0) << Status::Warnings + 1 << 0x0010;
        QTest::newRow("Авария ДГУ box: red external disconnect")
            << quint16(0) << quint16(2) << Status::Alarms1 + 1 << 0x0002;
    }
    void operatorInputsShow()
    {
        QFETCH(quint16, control);
        QFETCH(quint16, flr);
        QFETCH(int, reg);
        QFETCH(int, mask);
        const ParamMemory memory;
        SimModel model(1, memory);
        model.applyCommand(Command::ResetAlarms);
        QCOMPARE(model.nextStatusBlock()[size_t(reg)] & mask, 0);
        OperatorInputs in;
        in.control = control;
        in.flr = flr;
        model.setOperatorInputs(in);
        const StatusBlock b = model.nextStatusBlock();
        QCOMPARE(b[size_t(reg)] & mask, mask);
        // The echo of what the operator sent.
        QCOMPARE(b[Status::Vfsf + 1], control);
    }

    void priorityConflictWithAnotherUnit()
    {
        const ParamMemory memory;
        SimModel model(1, memory);
        StatusBlock b = model.nextStatusBlock();
        QCOMPARE(b[Status::PriorityConflict] & 1, 0);
        QCOMPARE(b[Status::UnitMaxPower], quint16(5000));
        OperatorInputs in;
        in.sections = 0x0002; // priority 2, taken by the third unit of the group
        model.setOperatorInputs(in);
        b = model.nextStatusBlock();
        QCOMPARE(b[Status::PriorityConflict] & 1, 1);
        QVERIFY(dword(b, Status::Alarms) & (1u << 7));
        QCOMPARE(b[Status::UnitMaxPower + 2], quint16(5000));
        QCOMPARE(b[Status::UnitColours] & 1, 1); // row 0 now empty
    }
    void replyFrameLength_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        QTest::newRow("status header only") << QByteArray::fromHex("010490") << 0;
        QTest::newRow("full status block")
            << (QByteArray::fromHex("010490") + QByteArray(146, 0)) << 149;
        QTest::newRow("status and the next reply")
            << (QByteArray::fromHex("010490") + QByteArray(150, 0)) << 149;
        QTest::newRow("write echo") << QByteArray::fromHex("01060FA1CBD08D90") << 8;
        QTest::newRow("23 reply") << QByteArray::fromHex("01170200000000") << 7;
        QTest::newRow("param reply")
            << (QByteArray::fromHex("0164000031") + QByteArray(51, 0)) << 56;
        QTest::newRow("exception") << QByteArray::fromHex("01E402EAC1") << 5;
        QTest::newRow("unknown function") << QByteArray::fromHex("01420000") << -1;
    }
    void replyFrameLength()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QCOMPARE(ReplyFrameLength(bytes), length);
    }

    // A dropped reply has nothing else to suffer, and a one-shot fault gives way to the
    // standing setting after its reply.
    void dropExcludesTheOtherFaults()
    {
        FaultPlan plan(1);
        plan.setDelayMs(20);
        plan.armDrop();
        plan.armCorrupt();
        plan.armSplit(30);
        plan.armDelay(100);
        const FaultDecision d = plan.nextReply();
        QVERIFY(d.drop && !d.corrupt && d.splitMs == -1 && d.delayMs == -1);
        const FaultDecision next = plan.nextReply();
        QVERIFY(!next.drop && !next.corrupt && next.splitMs == -1);
        QCOMPARE(next.delayMs, 20);
    }

    // The tap names the read whose block the client got intact; whatever else arrives leaves it.
    void statusTapFollowsTheDeliveredReply()
    {
        auto blockOf = [](quint16 seed) {
            StatusBlock b{};
            for (int n = 0; n < Status::Count; ++n)
                b[size_t(n)] = quint16(seed * 1000 + n);
            b[Status::Count - 1] = 0xFFFF; // bytes with the top bit set survive the decoding
            return b;
        };
        auto frameOf = [](const StatusBlock &b) {
            QByteArray f = QByteArray::fromHex("010490");
            for (quint16 r : b)
                f.append(char(r >> 8)).append(char(r & 0xFF));
            return f.append(2, '\0');
        };
        StatusTap tap;
        QCOMPARE(tap.toJson(), QStringLiteral("{\"status\":[],\"read\":0}"));
        for (quint32 read = 1; read <= 3; ++read)
            tap.served(read, blockOf(quint16(read)));
        tap.delivered(frameOf(blockOf(2))); // the reply to read 1 was lost
        tap.delivered(QByteArray::fromHex("01170200010000"));
        tap.delivered(frameOf(blockOf(3)).chopped(1));
        QCOMPARE(tap.read(), 2u);
        QVERIFY(tap.block() == blockOf(2));
        tap.delivered(frameOf(blockOf(3)));
        QCOMPARE(tap.read(), 3u);
        tap.delivered(frameOf(blockOf(3))); // each read is delivered once
        QCOMPARE(tap.read(), 0u);
        tap.delivered(frameOf(blockOf(9)));
        QCOMPARE(tap.read(), 0u);
        QVERIFY(tap.block() == blockOf(9));
    }

    void commandLine()
    {
        const ParsedArguments p = ParseSimArguments(
            QStringLiteral("vortan-sim --seed 4000000000 --drop 0.1 --exception 4:2 --exception "
                           "101:3 --scenario alarms --address 17")
                .split(QLatin1Char(' ')));
        QCOMPARE(int(p.outcome), int(ParsedArguments::Outcome::Run));
        QCOMPARE(p.options.seed, 4000000000u);
        QCOMPARE(p.options.drop, 0.1);
        QCOMPARE(p.options.exceptions.size(), 2);
        QCOMPARE(p.options.exceptions[1].functionCode, 101);
        QCOMPARE(int(p.options.scenario), int(Scenario::Alarms));
        QVERIFY(p.options.addressGiven && p.options.address == 17);
        QVERIFY(!p.options.line.active());
        const LineSettings usb =
            ParseSimArguments(QStringLiteral("vortan-sim --line usb --turnaround 5").split(' '))
                .options.line;
        QVERIFY(usb.pace && usb.usbLatencyMs == 16 && usb.turnaroundMs == 5 && !usb.echo);
        QCOMPARE(int(ParseSimArguments({QStringLiteral("vortan-sim"), QStringLiteral("--help")})
                         .outcome),
                 int(ParsedArguments::Outcome::Help));
    }

    // Each refused with a text that names what was wrong.
    void badCommandLine_data()
    {
        QTest::addColumn<QString>("args");
        QTest::newRow("negative seed") << "--seed -1";
        QTest::newRow("probability not a number") << "--corrupt nan";
        QTest::newRow("probability above 1") << "--drop 5";
        QTest::newRow("address 0") << "--address 0";
        QTest::newRow("exception without code") << "--exception 4";
        QTest::newRow("negative split") << "--split -1";
        QTest::newRow("unknown scenario") << "--scenario fire";
        QTest::newRow("unknown line model") << "--line fast";
        QTest::newRow("USB latency 0") << "--usb-latency 0";
        QTest::newRow("unknown option") << "--bogus";
    }
    void badCommandLine()
    {
        QFETCH(QString, args);
        const ParsedArguments r = ParseSimArguments(QStringList{QStringLiteral("vortan-sim")} +
                                                    args.split(QLatin1Char(' ')));
        QCOMPARE(int(r.outcome), int(ParsedArguments::Outcome::Error));
        const QString culprit = args.section(QLatin1Char(' '), 0, 0).remove(QStringLiteral("--"));
        QVERIFY2(r.text.contains(culprit), qPrintable(r.text));
    }

    void refusals_data()
    {
        QTest::addColumn<int>("fc");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("exception");
        QTest::newRow("status beyond 2071") << 4 << QByteArray("07D00049") << 2;
        QTest::newRow("command to 4002") << 6 << QByteArray("0FA20001") << 2;
        QTest::newRow("23 reading 4001")
            << 23 << QByteArray("0FA100010FA200050A00000000000000000000") << 2;
        QTest::newRow("23 writing 4007")
            << 23 << QByteArray("0FAA00010FA300050A00000000000000000000") << 2;
        QTest::newRow("23 byte count wrong")
            << 23 << QByteArray("0FAA00010FA200050800000000000000000000") << 3;
        QTest::newRow("read holding registers") << 3 << QByteArray("0FA10001") << 1;
        QTest::newRow("param write short of data") << 101 << QByteArray("00100201") << 3;
        QTest::newRow("param write of 81 bytes")
            << 101 << (QByteArray("000051") + QByteArray(162, '0')) << 3;
    }
    void refusals()
    {
        QFETCH(int, fc);
        QFETCH(QByteArray, data);
        QFETCH(int, exception);
        World w;
        const auto before = w.memory.bytes();
        QSignalSpy written(&w.server, &SimServer::memoryWritten);
        QCOMPARE(exceptionOf(w.server.serve(request(fc, data))), exception);
        QVERIFY(w.memory.bytes() == before);
        QCOMPARE(written.count(), 0);
    }

    // A write reports the device address only when its run covers byte 55.
    void deviceAddressWriteIsReported()
    {
        World w;
        QSignalSpy address(&w.server, &SimServer::deviceAddressWritten);
        QCOMPARE(w.server.serve(request(101, "0035020A0B")).data(),
                 QByteArray::fromHex("0035020A0B"));
        QCOMPARE(address.count(), 0);
        w.server.serve(request(101, "0036020A09"));
        QCOMPARE(address.count(), 1);
        QCOMPARE(address.at(0).at(0).toInt(), 9);
        w.server.serve(request(101, "003801FF"));
        QCOMPARE(address.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TstSimModel)
#include "tst_simmodel.moc"
