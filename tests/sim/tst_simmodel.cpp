#include "sim/parammemory.h"
#include "sim/simmodel.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <map>
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
        const QByteArray run(count, char(0x5A));
        QCOMPARE(int(memory.write(address, run)), status);
        const bool ok = status == int(ParamStatus::Ok);
        QCOMPARE(memory.read(address, count), ok ? run : QByteArray());
        QCOMPARE(memory.bytes() == before, !ok);
    }

    // Only a 147-byte image is taken; anything else leaves the memory as it was.
    void wrongSizedFileIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mem.bin"));
        ParamMemory memory;
        const auto defaults = memory.bytes();
        for (int size : {146, 148, 0}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(QByteArray(size, '\1')), qint64(size));
            f.close();
            QString error;
            QCOMPARE(memory.load(path, &error), ParamMemory::LoadResult::Corrupt);
            QVERIFY(!error.isEmpty());
            QVERIFY(memory.bytes() == defaults);
        }
    }

    void measurementsArePlausibleAndMove()
    {
        const ParamMemory memory;
        SimModel model(3, memory);
        OperatorInputs in;
        in.control = ControlBit::Load;
        model.setOperatorInputs(in);
        std::set<int> voltages;
        for (int i = 0; i < 40; ++i) {
            const StatusBlock b = model.nextStatusBlock();
            QCOMPARE(b[Status::MeasValidity], quint16(0x0007));
            for (int k = 0; k < 3; ++k)
                QVERIFY(std::abs(b[size_t(Status::PhaseVoltageA + k)] - 4000) < 50);
            voltages.insert(b[Status::PhaseVoltageA]);
            for (int n : {Status::BusFrequency, Status::SectionFrequency, Status::SetFrequency})
                QVERIFY(std::abs(int(b[size_t(n)]) - 5000) <= 12);
            // P = S cos(phi), S^2 = P^2 + Q^2, S = sqrt(3) U I.
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
        }
        QVERIFY2(voltages.size() > 3, "the voltage drifts from read to read");
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
        QTest::newRow("load: aux contact input")
            << ControlBit::Load << quint16(0) << Status::DiscreteInputs << 0x0080;
        QTest::newRow("section: Секцию вкл. (flag bit 18)")
            << ControlBit::Section << quint16(0) << Status::ControlFlags << 0x0004;
        QTest::newRow("auto: letter А")
            << ControlBit::Auto << quint16(0) << Status::UnitState << 0x0001;
        QTest::newRow("breakdown: red external disconnect")
            << ControlBit::Breakdown << quint16(0) << Status::Alarms1 + 1 << 0x0002;
        QTest::newRow("fault: yellow reserve warning")
            << ControlBit::Fault << quint16(0) << Status::Warnings + 1 << 0x0010;
        QTest::newRow("Авария ДГУ box: red external disconnect")
            << quint16(0) << quint16(2) << Status::Alarms1 + 1 << 0x0002;
        QTest::newRow("work without load: connecting letter")
            << ControlBit::Work << quint16(0) << Status::UnitState << 0x0400;
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

    // Over one cycle of the scenario every indicator shows each state its kind can show.
    void alarmsScenarioShowsEveryColour()
    {
        const ParamMemory memory;
        SimModel model(1, memory);
        model.setScenario(Scenario::Alarms);
        // Indicator -> the states it showed: 0 clear, 1 set (or warning), 2 alarm.
        std::map<QString, std::set<int>> seen;
        auto key = [](const char *name, int i) {
            return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i);
        };
        for (int i = 0; i < SimModel::ScenarioReadsPerPhase * SimModel::ScenarioPhases; ++i) {
            const StatusBlock b = model.nextStatusBlock();
            auto alarms = [&](const char *name, int count, int alarm, int warning) {
                for (int bit = 0; bit < count; ++bit)
                    seen[key(name, bit)].insert(
                        (dword(b, alarm) >> bit & 1) ? 2 : int(dword(b, warning) >> bit & 1));
            };
            auto lamps = [&](const char *name, int count, quint32 word) {
                for (int bit = 0; bit < count; ++bit)
                    seen[key(name, bit)].insert(int(word >> bit & 1));
            };
            alarms("lbl_fl", 32, Status::Alarms, Status::Warnings);
            alarms("lbl_fl1", 2, Status::Alarms1, Status::Warnings1);
            const quint32 flags = dword(b, Status::ControlFlags);
            // lbl_cf 13..15 show flag bits 18..20.
            lamps("lbl_cf", 16, (flags & 0x1FFF) | (flags >> 5 & 0xE000));
            lamps("lbl_eds", 10, b[Status::DiscreteInputs]);
            lamps("unit row", 8, b[Status::UnitColours]);
            lamps("lbl_node_cnflct", 1, b[Status::PriorityConflict]);
            quint32 letters = 0;
            for (int row = 0; row < SimModel::UnitCount; ++row)
                letters |= b[size_t(Status::UnitState + row)];
            lamps("unit letter", 11, letters);
            // Each synchroniser value is a number when its ends are measured, else "?".
            for (int ends : {1, 2, 3, 4, 5})
                seen[key("synchroniser", ends)].insert((b[Status::MeasValidity] & ends) == ends);
        }
        QCOMPARE(seen.size(), size_t(32 + 2 + 16 + 10 + 8 + 1 + 11 + 5));
        QStringList lacking;
        for (const auto &[name, states] : seen) {
            if (states.size() != (name.startsWith(QLatin1String("lbl_fl")) ? 3u : 2u))
                lacking << name;
        }
        QVERIFY2(lacking.isEmpty(), qPrintable(lacking.join(QLatin1Char(' '))));
    }
};

QTEST_GUILESS_MAIN(TstSimModel)
#include "tst_simmodel.moc"
