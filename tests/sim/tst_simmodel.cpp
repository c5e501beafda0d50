#include "sim/parammemory.h"
#include "sim/simmodel.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <set>

using namespace vortan::sim;

namespace
{

quint32 dword(const StatusBlock &b, int n)
{
    return quint32(b[size_t(n)]) << 16 | b[size_t(n + 1)];
}

} // namespace

class TstSimModel : public QObject
{
    Q_OBJECT
private slots:
    void layoutCoversTheParameterMemory()
    {
        std::set<int> used;
        std::set<int> starts;
        for (const ParamCell &cell : ParamLayout()) {
            QVERIFY(cell.width == 1 || cell.width == 2);
            QVERIFY(cell.defaultRaw < (cell.width == 1 ? 256 : 65536));
            QVERIFY2(starts.insert(cell.address).second, "each parameter has its own address");
            for (int i = 0; i < cell.width; ++i)
                QVERIFY2(used.insert(cell.address + i).second,
                         qPrintable(QStringLiteral("byte %1 used twice").arg(cell.address + i)));
        }
        QCOMPARE(int(starts.size()), ParamCellCount);
        const std::set<int> gaps{62, 87, 92, 93, 135, 136, 137, 138, 139};
        for (int a = 0; a < ParamMemorySize; ++a)
            QCOMPARE(used.count(a) == 1, gaps.count(a) == 0);
    }

    void defaultsOfARealSet_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("raw");
        QTest::newRow("rated voltage 400.0 V") << 21 << 2 << 4000;
        QTest::newRow("rated frequency 50.0 Hz") << 28 << 2 << 500;
        QTest::newRow("device address 1") << 55 << 1 << 1;
        QTest::newRow("current transformer 1000 A") << 59 << 2 << 1000;
        QTest::newRow("calibration UA near 1000") << 4 << 2 << 1000;
    }
    void defaultsOfARealSet()
    {
        QFETCH(int, address);
        QFETCH(int, width);
        QFETCH(int, raw);
        ParamMemory memory;
        QCOMPARE(memory.value(address, width), raw);
        const QByteArray bytes = memory.read(address, width);
        QCOMPARE(bytes.size(), width);
        QCOMPARE(quint8(bytes.back()), quint8(raw & 0xFF));
    }

    void rangeChecks_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("status");
        QTest::newRow("first run") << 0 << 49 << int(ParamStatus::Ok);
        QTest::newRow("last byte") << 146 << 1 << int(ParamStatus::Ok);
        QTest::newRow("80 bytes up to the end") << 67 << 80 << int(ParamStatus::Ok);
        QTest::newRow("one past the end") << 146 << 2 << int(ParamStatus::BadAddress);
        QTest::newRow("start past the end") << 147 << 1 << int(ParamStatus::BadAddress);
        QTest::newRow("far address") << 65535 << 1 << int(ParamStatus::BadAddress);
        QTest::newRow("count 0") << 0 << 0 << int(ParamStatus::BadCount);
        QTest::newRow("count 81") << 0 << 81 << int(ParamStatus::BadCount);
        QTest::newRow("count beats address") << 200 << 0 << int(ParamStatus::BadCount);
    }
    void rangeChecks()
    {
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(int, status);
        ParamMemory memory;
        const auto before = memory.bytes();
        QCOMPARE(int(memory.write(address, QByteArray(count, char(0x5A)))), status);
        QCOMPARE(memory.read(address, count).size(), status == int(ParamStatus::Ok) ? count : 0);
        if (status != int(ParamStatus::Ok))
            QVERIFY(memory.bytes() == before);
        else
            QCOMPARE(memory.read(address, count), QByteArray(count, char(0x5A)));
    }

    void fileRoundTripAndRefusals()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mem.bin"));
        ParamMemory written;
        QCOMPARE(written.write(40, QByteArray::fromHex("A1B2C3")), ParamStatus::Ok);
        QString error;
        QVERIFY(written.save(path, &error));

        ParamMemory loaded;
        QCOMPARE(loaded.load(path, &error), ParamMemory::LoadResult::Loaded);
        QVERIFY(loaded.bytes() == written.bytes());

        ParamMemory fresh;
        const auto defaults = fresh.bytes();
        QCOMPARE(fresh.load(dir.filePath(QStringLiteral("none.bin")), &error),
                 ParamMemory::LoadResult::Missing);
        for (const QByteArray &content :
             {QByteArray(146, '\1'), QByteArray(148, '\1'), QByteArray()}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(content);
            f.close();
            error.clear();
            QCOMPARE(fresh.load(path, &error), ParamMemory::LoadResult::Corrupt);
            QVERIFY(!error.isEmpty());
            QVERIFY(fresh.bytes() == defaults);
        }
    }

    void measurementsArePlausibleAndMove()
    {
        ParamMemory memory;
        SimModel model(3, memory);
        OperatorInputs in;
        in.control = ControlBit::Load;
        model.setOperatorInputs(in);
        std::set<int> voltages;
        for (int i = 0; i < 40; ++i) {
            const StatusBlock b = model.nextStatusBlock();
            QCOMPARE(b[Status::ProtocolVersion], quint16(0x0207));
            QCOMPARE(b[Status::SoftwareVersion], quint16(0x020C));
            for (int k = 0; k < 3; ++k) {
                QVERIFY(b[size_t(Status::PhaseVoltageA + k)] > 3950);
                QVERIFY(b[size_t(Status::PhaseVoltageA + k)] < 4050);
            }
            voltages.insert(b[Status::PhaseVoltageA]);
            for (int n : {Status::BusFrequency, Status::SectionFrequency, Status::SetFrequency})
                QVERIFY(std::abs(int(b[size_t(n)]) - 5000) <= 12);
            // Powers agree with each other and with the current: P = S cos(phi), S^2 = P^2 + Q^2,
            // S = sqrt(3) U I.
            const double p = qint16(b[Status::ActivePower]) / 10.0;
            const double s = b[Status::FullPower] / 10.0;
            const double q = b[Status::ReactivePower] / 10.0;
            const double cosPhi = qint16(b[Status::CosPhi]) / 1000.0;
            const double u = b[Status::PhaseVoltageA] / 10.0;
            const double current = b[Status::PhaseCurrentA] / 10.0;
            QVERIFY(p > 50.0);
            QVERIFY(cosPhi > 0.75 && cosPhi < 0.95);
            QVERIFY(std::abs(p - s * cosPhi) < 1.0);
            QVERIFY(std::abs(s * s - p * p - q * q) < 2.0 * s);
            QVERIFY(std::abs(std::sqrt(3.0) * u * current / 1000.0 - s) < 0.03 * s);
            QCOMPARE(b[Status::MeasValidity], quint16(0x0007));
        }
        QVERIFY2(voltages.size() > 3, "the voltage drifts from read to read");
    }

    void seedMakesARunRepeatable()
    {
        ParamMemory memory;
        SimModel a(11, memory), b(11, memory), c(12, memory);
        bool differs = false;
        for (int i = 0; i < 50; ++i) {
            const StatusBlock blockA = a.nextStatusBlock();
            QVERIFY(blockA == b.nextStatusBlock());
            differs = differs || blockA != c.nextStatusBlock();
        }
        QVERIFY(differs);
    }

    void resetClearsLatchedAlarmsOnly()
    {
        ParamMemory memory;
        SimModel model(1, memory);
        StatusBlock b = model.nextStatusBlock();
        QVERIFY(dword(b, Status::Alarms) != 0);
        QVERIFY(dword(b, Status::Warnings) != 0);
        model.applyCommand(Command::ResetAlarms);
        b = model.nextStatusBlock();
        for (int n : {Status::Alarms, Status::Alarms1, Status::Warnings, Status::Warnings1})
            QCOMPARE(dword(b, n), 0u);
        // A condition that is still there comes straight back.
        OperatorInputs in;
        in.control = ControlBit::Breakdown;
        model.setOperatorInputs(in);
        model.applyCommand(Command::ResetAlarms);
        QCOMPARE(dword(model.nextStatusBlock(), Status::Alarms1), 0x2u);
    }

    void priorityCodeFollowsCommands()
    {
        ParamMemory memory;
        SimModel model(1, memory);
        QCOMPARE(model.priorityCode(), quint16(0));
        model.applyCommand(0x1234);
        QCOMPARE(model.priorityCode(), quint16(0));
        model.applyCommand(Command::SetHighestPriority);
        QCOMPARE(model.priorityCode(), quint16(0xA500));
        model.applyCommand(Command::ResetAlarms);
        QCOMPARE(model.priorityCode(), quint16(0xA500));
        model.applyCommand(Command::PriorityDone);
        QCOMPARE(model.priorityCode(), quint16(0));
    }

    void operatorInputsShow_data()
    {
        QTest::addColumn<quint16>("control");
        QTest::addColumn<quint16>("flr");
        QTest::addColumn<int>("offset");
        QTest::addColumn<quint32>("mask");
        QTest::newRow("load: Нагрузку вкл.")
            << ControlBit::Load << quint16(0) << Status::ControlFlags << quint32(1u << 7);
        QTest::newRow("load: contactor letter")
            << ControlBit::Load << quint16(0) << Status::UnitState << quint32(1u << 1);
        QTest::newRow("load: aux contact input")
            << ControlBit::Load << quint16(0) << Status::DiscreteInputs << quint32(1u << 7);
        QTest::newRow("section: Секцию вкл.")
            << ControlBit::Section << quint16(0) << Status::ControlFlags << quint32(1u << 18);
        QTest::newRow("auto: letter А")
            << ControlBit::Auto << quint16(0) << Status::UnitState << quint32(1u << 0);
        QTest::newRow("breakdown: red external disconnect")
            << ControlBit::Breakdown << quint16(0) << Status::Alarms1 << quint32(1u << 1);
        QTest::newRow("fault: yellow reserve warning")
            << ControlBit::Fault << quint16(0) << Status::Warnings << quint32(1u << 4);
        QTest::newRow("Авария ДГУ box: red external disconnect")
            << quint16(0) << quint16(2) << Status::Alarms1 << quint32(1u << 1);
        QTest::newRow("work without load: connecting letter")
            << ControlBit::Work << quint16(0) << Status::UnitState << quint32(1u << 10);
    }
    void operatorInputsShow()
    {
        QFETCH(quint16, control);
        QFETCH(quint16, flr);
        QFETCH(int, offset);
        QFETCH(quint32, mask);
        ParamMemory memory;
        SimModel model(1, memory);
        model.applyCommand(Command::ResetAlarms);
        const bool dwordField = offset == Status::ControlFlags || offset == Status::Alarms1 ||
                                offset == Status::Warnings;
        auto field = [&](const StatusBlock &b) {
            return dwordField ? dword(b, offset) : quint32(b[size_t(offset)]);
        };
        QCOMPARE(field(model.nextStatusBlock()) & mask, 0u);
        OperatorInputs in;
        in.control = control;
        in.flr = flr;
        model.setOperatorInputs(in);
        QCOMPARE(field(model.nextStatusBlock()) & mask, mask);
        // The echo of what the operator sent.
        model.setOperatorInputs(in);
        QCOMPARE(model.nextStatusBlock()[Status::Vfsf + 1], control);
    }

    void priorityConflictWithAnotherUnit()
    {
        ParamMemory memory;
        SimModel model(1, memory);
        OperatorInputs in;
        StatusBlock b = model.nextStatusBlock();
        QCOMPARE(b[Status::PriorityConflict] & 1, 0);
        QCOMPARE(b[Status::UnitMaxPower], quint16(5000));
        in.sections = 0x0002; // priority 2, taken by the third unit of the group
        model.setOperatorInputs(in);
        b = model.nextStatusBlock();
        QCOMPARE(b[Status::PriorityConflict] & 1, 1);
        QVERIFY(dword(b, Status::Alarms) & (1u << 7));
        QCOMPARE(b[Status::UnitMaxPower + 2], quint16(5000));
        QCOMPARE(b[Status::UnitColours] & 1, 1); // row 0 now empty
    }

    void alarmsScenarioShowsEveryColour()
    {
        ParamMemory memory;
        SimModel model(1, memory);
        model.setScenario(Scenario::Alarms);
        std::array<std::set<char>, 32> fl;
        std::array<std::set<char>, 2> fl1;
        std::set<quint32> flagBitsSeen, flagBitsClear, inputSeen, inputClear, rowSet, rowClear;
        std::set<int> letters, conflict, validity;
        const int reads = SimModel::ScenarioReadsPerPhase * SimModel::ScenarioPhases;
        for (int i = 0; i < reads; ++i) {
            const StatusBlock b = model.nextStatusBlock();
            const quint32 alarms = dword(b, Status::Alarms), warnings = dword(b, Status::Warnings);
            const quint32 alarms1 = dword(b, Status::Alarms1);
            const quint32 warnings1 = dword(b, Status::Warnings1);
            auto colour = [](quint32 a, quint32 w, int bit) {
                return (a >> bit & 1) ? 'r' : (w >> bit & 1) ? 'y' : 'd';
            };
            for (int bit = 0; bit < 32; ++bit)
                fl[size_t(bit)].insert(colour(alarms, warnings, bit));
            for (int bit = 0; bit < 2; ++bit)
                fl1[size_t(bit)].insert(colour(alarms1, warnings1, bit));
            const quint32 flags = dword(b, Status::ControlFlags);
            for (int bit : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 18, 19, 20})
                ((flags >> bit & 1) ? flagBitsSeen : flagBitsClear).insert(quint32(bit));
            for (int bit = 0; bit < 10; ++bit)
                ((b[Status::DiscreteInputs] >> bit & 1) ? inputSeen : inputClear)
                    .insert(quint32(bit));
            for (int row = 0; row < 8; ++row) {
                ((b[Status::UnitColours] >> row & 1) ? rowSet : rowClear).insert(quint32(row));
                for (int bit = 0; bit < 11; ++bit)
                    if (b[size_t(Status::UnitState + row)] >> bit & 1)
                        letters.insert(bit);
            }
            conflict.insert(b[Status::PriorityConflict] & 1);
            validity.insert(b[Status::MeasValidity] & 7);
        }
        for (int bit = 0; bit < 32; ++bit)
            QVERIFY2(fl[size_t(bit)].size() == 3,
                     qPrintable(QStringLiteral("lbl_fl %1 lacks a colour").arg(bit)));
        QCOMPARE(int(fl1[0].size()), 3);
        QCOMPARE(int(fl1[1].size()), 3);
        QCOMPARE(int(flagBitsSeen.size()), 16);
        QCOMPARE(int(flagBitsClear.size()), 16);
        QCOMPARE(int(inputSeen.size()), 10);
        QCOMPARE(int(inputClear.size()), 10);
        QCOMPARE(int(rowSet.size()), 8);
        QCOMPARE(int(rowClear.size()), 8);
        QCOMPARE(int(letters.size()), 11);
        QCOMPARE(int(conflict.size()), 2);
        for (int v : {1, 3, 5})
            QVERIFY(validity.count(v));
    }
};

QTEST_GUILESS_MAIN(TstSimModel)
#include "tst_simmodel.moc"
