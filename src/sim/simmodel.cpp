#include "sim/simmodel.h"

#include <QtMath>
#include <algorithm>
#include <cstdlib>

namespace vortan::sim
{

namespace
{

constexpr quint16 ProtocolVersionWord = 0x0207;
constexpr quint16 SoftwareVersionWord = 0x020C;

// Rated powers (0.1 kW) of the other units of the group, by row; row 0 is left to this set.
constexpr std::array<int, SimModel::UnitCount> PeerMaxPower{
    {5000, 6300, 4000, 8000, 5000, 6300, 4000, 8000}};

namespace UnitBit
{
constexpr quint16 Auto = 1u << 0;
constexpr quint16 Contactor = 1u << 1;
constexpr quint16 Section = 1u << 2;
constexpr quint16 Reserve = 1u << 3;
constexpr quint16 Fault = 1u << 4;
constexpr quint16 Unloading = 1u << 5;
constexpr quint16 Blocked = 1u << 6;
constexpr quint16 Disconnecting = 1u << 7;
constexpr quint16 NoPowerControl = 1u << 8;
constexpr quint16 ConnectingToSet = 1u << 10;
} // namespace UnitBit

namespace FlagBit
{
constexpr quint32 SyncSet = 1u << 2;
constexpr quint32 FrequencyTrim = 1u << 4;
constexpr quint32 PowerControlEnabled = 1u << 5;
constexpr quint32 PowerControlActive = 1u << 6;
constexpr quint32 LoadOn = 1u << 7;
constexpr quint32 Unloading = 1u << 8;
constexpr quint32 MorePower = 1u << 9;
constexpr quint32 StartSet = 1u << 10;
constexpr quint32 LowerSetLoaded = 1u << 11;
constexpr quint32 OnlySet = 1u << 12;
constexpr quint32 SectionOn = 1u << 18;
} // namespace FlagBit

namespace InputBit
{
constexpr quint16 Unloading = 1u << 3;
constexpr quint16 SectionAux = 1u << 6;
constexpr quint16 SetAux = 1u << 7;
constexpr quint16 ReserveRequest = 1u << 8;
} // namespace InputBit

namespace AlarmBit
{
constexpr quint32 BusVoltageCheck = 1u << 5;
constexpr quint32 CanExchange = 1u << 6;
constexpr quint32 PriorityConflict = 1u << 7;
constexpr quint32 ReservePower = 1u << 4;
constexpr quint32 OverloadTimer = 1u << 8;
constexpr quint32 ReversePower = 1u << 17;
constexpr quint32 HighVoltage = 1u << 20;
constexpr quint32 LowVoltage = 1u << 21;
constexpr quint32 HighFrequency = 1u << 22;
constexpr quint32 LowFrequency = 1u << 23;
constexpr quint32 CanVortans = 1u << 0;         // second pair
constexpr quint32 ExternalDisconnect = 1u << 1; // second pair
} // namespace AlarmBit

// The alarms scenario: per step the latched words, then the display words it substitutes.
struct ScenarioPhase {
    quint32 alarms, warnings, alarms1, warnings1;
    quint32 flags;
    quint16 inputs, colours, conflict, validity;
};
constexpr std::array<ScenarioPhase, SimModel::ScenarioPhases> Phases{{
    {0x55555555u, 0xAAAAAAAAu, 0x1, 0x2, 0x00141555u, 0x0155, 0x0055, 0x0003, 0x0001},
    {0xAAAAAAAAu, 0x55555555u, 0x2, 0x1, 0x00080AAAu, 0x02AA, 0x00AA, 0x0002, 0x0003},
    {0x00000000u, 0x00000000u, 0xFFFFFFFCu, 0xFFFFFFFCu, 0x80000000u, 0xFC00, 0xFF00, 0x0001,
     0x0005},
    {0xFFFF0000u, 0xFFFFFFFFu, 0x3, 0x3, 0x0003E000u, 0x03FF, 0x00FF, 0x0000, 0x0000},
}};

quint16 u16(qint64 v)
{
    return quint16(std::clamp<qint64>(v, 0, 65535));
}

quint16 s16(qint64 v)
{
    return quint16(qint16(std::clamp<qint64>(v, -32768, 32767)));
}

int wrapPhase(int tenthsOfDegree)
{
    int v = (tenthsOfDegree + 1800) % 3600;
    if (v < 0)
        v += 3600;
    return v - 1800;
}

void putDWord(StatusBlock &block, int offset, quint32 value)
{
    block[size_t(offset)] = quint16(value >> 16);
    block[size_t(offset + 1)] = quint16(value & 0xFFFF);
}

} // namespace

SimModel::SimModel(quint32 seed, const ParamMemory &memory) : m_memory(memory), m_random(seed)
{
    // A controller that has just been powered up keeps the alarms it saw while its group came up.
    m_latchedAlarms = AlarmBit::CanExchange;
    m_latchedWarnings = AlarmBit::BusVoltageCheck;
}

void SimModel::setScenario(Scenario scenario)
{
    m_scenario = scenario;
}

void SimModel::applyCommand(quint16 word)
{
    switch (word) {
    case Command::ResetAlarms:
        m_latchedAlarms = 0;
        m_latchedAlarms1 = 0;
        m_latchedWarnings = 0;
        m_latchedWarnings1 = 0;
        break;
    case Command::SetHighestPriority:
        m_priorityCode = 0xA500;
        break;
    case Command::PriorityDone:
        m_priorityCode = 0;
        break;
    default:
        break;
    }
}

int SimModel::calibrated(int raw, int calibrationAddress) const
{
    return int(qint64(raw) * m_memory.value(calibrationAddress, 2) / 1000);
}

void SimModel::drift()
{
    const bool onLoad = m_inputs.control & ControlBit::Load;
    m_groupLoadPermille = qBound(300, m_groupLoadPermille + m_random.between(-6, 6), 850);
    m_cosPhi = qBound(800, m_cosPhi + m_random.between(-3, 3), 920);
    for (int &v : m_voltagePermille)
        v = qBound(994, v + m_random.between(-1, 1), 1006);
    for (int &c : m_currentPermille)
        c = qBound(985, c + m_random.between(-2, 2), 1015);
    m_busVoltagePermille = qBound(995, m_busVoltagePermille + m_random.between(-1, 1), 1005);
    m_sectionVoltagePermille =
        qBound(995, m_sectionVoltagePermille + m_random.between(-1, 1), 1005);
    m_busFrequencyOffset = qBound(-8, m_busFrequencyOffset + m_random.between(-1, 1), 8);
    m_sectionFrequencyOffset = qBound(-3, m_sectionFrequencyOffset + m_random.between(-1, 1), 3);
    // A set on the bus runs at the bus frequency; a free-running one drifts on its own.
    if (onLoad)
        m_setFrequencyOffset = m_busFrequencyOffset + m_random.between(-1, 1);
    else
        m_setFrequencyOffset = qBound(-8, m_setFrequencyOffset + m_random.between(-1, 1), 8);
    if (onLoad) {
        m_busPhase = m_random.between(-5, 5);
    } else {
        const int slip = m_setFrequencyOffset - m_busFrequencyOffset;
        m_busPhase = wrapPhase(m_busPhase + slip * 3 + m_random.between(-2, 2) + 7);
    }
    const int sectionSlip = m_setFrequencyOffset - m_busFrequencyOffset - m_sectionFrequencyOffset;
    m_sectionPhase = wrapPhase(m_sectionPhase + sectionSlip * 3 + m_random.between(-2, 2) + 5);
}

void SimModel::applyScenarioPhase(int phase)
{
    const ScenarioPhase &p = Phases[size_t(phase)];
    m_latchedAlarms = p.alarms;
    m_latchedWarnings = p.warnings;
    m_latchedAlarms1 = p.alarms1;
    m_latchedWarnings1 = p.warnings1;
}

SimModel::Electrical SimModel::ownElectrical(int ownPower) const
{
    Electrical e;
    e.activePower = ownPower;
    if (ownPower == 0)
        return e;
    e.cosPhi = ownPower < 0 ? -m_cosPhi : m_cosPhi;
    e.fullPower = int(qint64(std::abs(ownPower)) * 1000 / m_cosPhi);
    const double p = ownPower, s = e.fullPower;
    e.reactivePower = int(qRound(qSqrt(qMax(0.0, s * s - p * p))));
    const int ratedVoltage = m_memory.value(ParamAddress::RatedVoltage, 2);
    // I = S / (sqrt(3) U); S in 0.1 kVA and U in 0.1 V give the current in 0.1 A.
    if (ratedVoltage > 0)
        e.current = int(qRound(s * 10000.0 / (qSqrt(3.0) * ratedVoltage)));
    return e;
}

StatusBlock SimModel::nextStatusBlock()
{
    const int step = int(m_reads);
    ++m_reads;
    drift();

    const int phase = (step / ScenarioReadsPerPhase) % ScenarioPhases;
    const bool scenario = m_scenario == Scenario::Alarms;
    if (scenario && step % ScenarioReadsPerPhase == 0)
        applyScenarioPhase(phase);

    const quint16 control = m_inputs.control;
    const bool onLoad = control & ControlBit::Load;
    const bool onSection = control & ControlBit::Section;
    const bool unloading = (control & ControlBit::Cooldown) && onLoad;
    const bool breakdown = (control & ControlBit::Breakdown) || (m_inputs.flr & 0x2);
    const bool fault = (control & ControlBit::Fault) || (m_inputs.flr & 0x1);
    const bool powerControl = m_memory.value(ParamAddress::ActivePowerControl, 1) != 0;

    // Units of the group by priority: this set at the row of its priority, the others at
    // rows 1 .. nodes-1, the last of them on standby.
    const int priority = m_inputs.priority();
    const int ownRow = priority < UnitCount ? priority : -1;
    const int nodes = qBound(1, m_memory.value(ParamAddress::CanNodes, 1), UnitCount);
    const int standbyRow = nodes >= 3 ? nodes - 1 : -1;
    const bool conflict = ownRow >= 1 && ownRow < nodes;
    const int ownMax = qMin(32767, m_memory.value(ParamAddress::MaxPower, 2));

    std::array<int, UnitCount> maxPower{};
    std::array<int, UnitCount> actPower{};
    std::array<bool, UnitCount> present{};
    std::array<bool, UnitCount> peerRunning{};
    qint64 capacity = onLoad ? ownMax : 0;
    for (int i = 1; i < nodes; ++i) {
        if (i == ownRow)
            continue;
        present[size_t(i)] = true;
        maxPower[size_t(i)] = PeerMaxPower[size_t(i)];
        peerRunning[size_t(i)] = i != standbyRow;
        if (peerRunning[size_t(i)])
            capacity += PeerMaxPower[size_t(i)];
    }
    qint64 groupLoad = 0;
    for (int i = 0; i < UnitCount; ++i) {
        if (!peerRunning[size_t(i)])
            continue;
        const int permille = m_groupLoadPermille + m_random.between(-5, 5);
        actPower[size_t(i)] = int(qint64(maxPower[size_t(i)]) * permille / 1000);
        groupLoad += actPower[size_t(i)];
    }
    int ownPower =
        onLoad ? int(qint64(ownMax) * (m_groupLoadPermille + m_random.between(-5, 5)) / 1000) : 0;
    if (scenario && phase == 3)
        ownPower = -ownMax * 3 / 100;
    if (onLoad)
        groupLoad += ownPower;

    const int overallDuty = capacity > 0 ? int(groupLoad * 1000 / capacity) : 0;
    const int ownDuty = ownMax > 0 ? int(qint64(ownPower) * 1000 / ownMax) : 0;
    int dutyWithoutFaulty = overallDuty;
    if (onLoad && (breakdown || fault) && capacity > ownMax)
        dutyWithoutFaulty = int((groupLoad - ownPower) * 1000 / (capacity - ownMax));
    const bool reserveNeeded = overallDuty > 10 * m_memory.value(ParamAddress::StartNextPercent, 1);

    if (ownRow >= 0) {
        present[size_t(ownRow)] = true;
        maxPower[size_t(ownRow)] = ownMax;
        actPower[size_t(ownRow)] = ownPower;
    }

    quint16 ownState = 0;
    if (control & ControlBit::Auto)
        ownState |= UnitBit::Auto;
    if (onLoad)
        ownState |= UnitBit::Contactor;
    if (onSection)
        ownState |= UnitBit::Section;
    if (reserveNeeded)
        ownState |= UnitBit::Reserve;
    if (breakdown || fault)
        ownState |= UnitBit::Fault;
    if (unloading)
        ownState |= UnitBit::Unloading;
    if (breakdown)
        ownState |= UnitBit::Blocked;
    if (control & ControlBit::OffWithoutUnload)
        ownState |= UnitBit::Disconnecting;
    if (!powerControl)
        ownState |= UnitBit::NoPowerControl;
    const bool synchronising = (control & ControlBit::Work) && !onLoad;
    if (synchronising)
        ownState |= UnitBit::ConnectingToSet;

    quint32 flags = 0;
    if (synchronising)
        flags |= FlagBit::SyncSet | FlagBit::FrequencyTrim;
    if (powerControl)
        flags |= FlagBit::PowerControlEnabled;
    if (powerControl && onLoad)
        flags |= FlagBit::PowerControlActive;
    if (onLoad)
        flags |= FlagBit::LoadOn;
    if (unloading)
        flags |= FlagBit::Unloading;
    if (reserveNeeded)
        flags |= FlagBit::MorePower | FlagBit::StartSet;
    bool anyPeerRunning = false;
    for (int i = 0; i < UnitCount; ++i) {
        if (!peerRunning[size_t(i)])
            continue;
        anyPeerRunning = true;
        if (ownRow >= 0 && i > ownRow)
            flags |= FlagBit::LowerSetLoaded;
    }
    if (onLoad && !anyPeerRunning)
        flags |= FlagBit::OnlySet;
    if (onSection)
        flags |= FlagBit::SectionOn;

    quint16 inputs = 0;
    if (unloading)
        inputs |= InputBit::Unloading;
    if (onSection)
        inputs |= InputBit::SectionAux;
    if (onLoad)
        inputs |= InputBit::SetAux;
    if (reserveNeeded)
        inputs |= InputBit::ReserveRequest;

    const Electrical e = ownElectrical(ownPower);
    const int ratedVoltage = m_memory.value(ParamAddress::RatedVoltage, 2);
    const int ratedFrequency = m_memory.value(ParamAddress::RatedFrequency, 2) * 10;
    std::array<int, 3> phaseVoltage{};
    for (int k = 0; k < 3; ++k)
        phaseVoltage[size_t(k)] =
            calibrated(int(qint64(ratedVoltage) * m_voltagePermille[size_t(k)] / 1000),
                       ParamAddress::CalPhaseVoltageA + 2 * k);
    const int setFrequency = ratedFrequency > 0 ? ratedFrequency + m_setFrequencyOffset : 0;
    const int busFrequency = ratedFrequency > 0 ? ratedFrequency + m_busFrequencyOffset : 0;
    const int sectionFrequency = busFrequency > 0 ? busFrequency + m_sectionFrequencyOffset : 0;

    quint32 activeAlarms = 0, activeAlarms1 = 0, activeWarnings = 0;
    if (conflict)
        activeAlarms |= AlarmBit::PriorityConflict;
    const int maxVoltage = m_memory.value(ParamAddress::MaxVoltage, 2);
    const int minVoltage = m_memory.value(ParamAddress::MinVoltage, 2);
    if (maxVoltage > 0 && phaseVoltage[0] > maxVoltage)
        activeAlarms |= AlarmBit::HighVoltage;
    if (minVoltage > 0 && phaseVoltage[0] < minVoltage)
        activeAlarms |= AlarmBit::LowVoltage;
    const int maxFrequency = m_memory.value(ParamAddress::MaxFrequency, 2) * 10;
    const int minFrequency = m_memory.value(ParamAddress::MinFrequency, 2) * 10;
    if (maxFrequency > 0 && setFrequency > maxFrequency)
        activeAlarms |= AlarmBit::HighFrequency;
    if (minFrequency > 0 && setFrequency < minFrequency)
        activeAlarms |= AlarmBit::LowFrequency;
    if (breakdown)
        activeAlarms1 |= AlarmBit::ExternalDisconnect;
    if (m_inputs.iflr & 0x8)
        activeAlarms1 |= AlarmBit::CanVortans;
    if (fault || reserveNeeded)
        activeWarnings |= AlarmBit::ReservePower;
    const int overloadTimer = m_memory.value(ParamAddress::OverloadTimerPercent, 1) * 10;
    if (onLoad && overloadTimer > 0 && ownDuty > overloadTimer)
        activeWarnings |= AlarmBit::OverloadTimer;
    if (ownPower < 0)
        activeWarnings |= AlarmBit::ReversePower;

    quint16 colours = 0;
    std::array<quint16, UnitCount> unitState{};
    for (int i = 0; i < UnitCount; ++i) {
        if (!present[size_t(i)])
            colours |= quint16(1u << i);
        if (i == ownRow)
            unitState[size_t(i)] = ownState;
        else if (present[size_t(i)])
            unitState[size_t(i)] = peerRunning[size_t(i)]
                                       ? (UnitBit::Auto | UnitBit::Contactor | UnitBit::Section)
                                       : UnitBit::Auto;
    }
    quint16 validity = 0x0007;
    quint16 conflictWord = conflict ? 0x0001 : 0x0000;

    if (scenario) {
        const ScenarioPhase &p = Phases[size_t(phase)];
        flags = p.flags;
        inputs = p.inputs;
        colours = p.colours;
        conflictWord = p.conflict;
        validity = p.validity;
        for (int i = 0; i < UnitCount; ++i) {
            switch (phase) {
            case 0:
                unitState[size_t(i)] = quint16(1u << i);
                break;
            case 1:
                unitState[size_t(i)] = quint16(1u << (i + 3));
                break;
            case 2:
                unitState[size_t(i)] = 0xF800;
                break;
            default:
                unitState[size_t(i)] = 0x07FF;
                break;
            }
        }
    }

    StatusBlock b{};
    b[Status::ProtocolVersion] = ProtocolVersionWord;
    b[Status::SoftwareVersion] = SoftwareVersionWord;
    b[Status::BusVoltage] = u16(calibrated(int(qint64(ratedVoltage) * m_busVoltagePermille / 1000),
                                           ParamAddress::CalBusVoltage));
    b[Status::SectionVoltage] =
        u16(calibrated(int(qint64(ratedVoltage) * m_sectionVoltagePermille / 1000),
                       ParamAddress::CalSectionVoltage));
    for (int k = 0; k < 3; ++k) {
        b[size_t(Status::PhaseVoltageA + k)] = u16(phaseVoltage[size_t(k)]);
        b[size_t(Status::PhaseCurrentA + k)] =
            u16(calibrated(int(qint64(e.current) * m_currentPermille[size_t(k)] / 1000),
                           ParamAddress::CalPhaseCurrentA + 2 * k));
    }
    b[Status::ActivePower] = s16(e.activePower);
    b[Status::FullPower] = u16(e.fullPower);
    b[Status::ReactivePower] = u16(e.reactivePower);
    b[Status::CosPhi] = s16(e.cosPhi);
    b[Status::BusFrequency] = u16(busFrequency);
    b[Status::SectionFrequency] = u16(sectionFrequency);
    b[Status::SetFrequency] = u16(setFrequency);
    b[Status::SyncBusFrequency] = u16(busFrequency);
    b[Status::SyncSectionFrequency] = u16(sectionFrequency);
    b[Status::SyncSetFrequency] = u16(setFrequency);
    b[Status::BusPhaseDifference] = s16(m_busPhase);
    b[Status::SectionPhaseDifference] = s16(m_sectionPhase);
    b[Status::MeasValidity] = validity;
    b[Status::PriorityConflict] = conflictWord;
    b[Status::UnitColours] = colours;
    b[Status::OverallDuty] = s16(overallDuty);
    b[Status::OwnDuty] = s16(ownDuty);
    b[Status::DiscreteInputs] = inputs;
    putDWord(b, Status::Vfsf, quint32(m_inputs.sections) << 16 | m_inputs.control);
    putDWord(b, Status::Alarms, m_latchedAlarms | activeAlarms);
    putDWord(b, Status::Alarms1, m_latchedAlarms1 | activeAlarms1);
    for (int i = 0; i < UnitCount; ++i) {
        b[size_t(Status::UnitMaxPower + i)] = s16(maxPower[size_t(i)]);
        b[size_t(Status::UnitActivePower + i)] = s16(actPower[size_t(i)]);
        b[size_t(Status::UnitState + i)] = unitState[size_t(i)];
    }
    putDWord(b, Status::Warnings, m_latchedWarnings | activeWarnings);
    putDWord(b, Status::Warnings1, m_latchedWarnings1);
    putDWord(b, Status::ControlFlags, flags);
    putDWord(b, Status::Cf1,
             quint32(m_inputs.iflr) << 16 | quint32(m_inputs.bdn & 0xFF) << 8 |
                 (m_inputs.flr & 0xFF));
    b[Status::DutyWithoutFaulty] = s16(dutyWithoutFaulty);
    b[Status::DutyPrevious] = s16(m_previousDuty);
    b[Status::DutyDistributed] = s16((overallDuty + 5) / 10 * 10);
    b[Status::Debug] = quint16(m_reads & 0xFFFF);
    m_previousDuty = overallDuty;
    return b;
}

} // namespace vortan::sim
