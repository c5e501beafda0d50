#pragma once

#include "sim/parammemory.h"
#include "sim/simrandom.h"

#include <QtGlobal>
#include <array>

namespace vortan::sim
{

// What the service program last wrote into registers 4002..4006 with function 23.
struct OperatorInputs {
    quint16 control = 0;  // 4002: one bit per status check box
    quint16 sections = 0; // 4003: next section * 16 + section in the high byte, priority low
    quint16 bdn = 0;      // 4004
    quint16 flr = 0;      // 4005
    quint16 iflr = 0;     // 4006

    int priority() const { return sections & 0xFF; }
};

// Bits of register 4002.
namespace ControlBit
{
constexpr quint16 Present = 0x0001;
constexpr quint16 Load = 0x0002;
constexpr quint16 Cooldown = 0x0004;
constexpr quint16 Auto = 0x0008;
constexpr quint16 Work = 0x0010;
constexpr quint16 Ready = 0x0020;
constexpr quint16 Breakdown = 0x0040;
constexpr quint16 Fault = 0x0080;
constexpr quint16 Section = 0x0100;
constexpr quint16 ExtDesk = 0x0200;
constexpr quint16 OffWithoutUnload = 0x0400;
constexpr quint16 Syren = 0x8000;
} // namespace ControlBit

// Offsets in the status block (input registers 2000..2071).
namespace Status
{
constexpr int ProtocolVersion = 0;
constexpr int SoftwareVersion = 1;
constexpr int BusVoltage = 2;
constexpr int SectionVoltage = 3;
constexpr int PhaseVoltageA = 4;
constexpr int PhaseCurrentA = 7;
constexpr int ActivePower = 10;
constexpr int FullPower = 11;
constexpr int ReactivePower = 12;
constexpr int CosPhi = 13;
constexpr int BusFrequency = 14;
constexpr int SectionFrequency = 15;
constexpr int SetFrequency = 16;
constexpr int SyncBusFrequency = 17;
constexpr int SyncSectionFrequency = 18;
constexpr int SyncSetFrequency = 19;
constexpr int BusPhaseDifference = 20;
constexpr int SectionPhaseDifference = 21;
constexpr int MeasValidity = 22;
constexpr int PriorityConflict = 23;
constexpr int UnitColours = 24;
constexpr int OverallDuty = 25;
constexpr int OwnDuty = 26;
constexpr int DiscreteInputs = 27;
constexpr int Vfsf = 28;
constexpr int Alarms = 30;
constexpr int Alarms1 = 32;
constexpr int UnitMaxPower = 34;
constexpr int UnitActivePower = 42;
constexpr int Warnings = 52;
constexpr int Warnings1 = 54;
constexpr int ControlFlags = 56;
constexpr int Cf1 = 58;
constexpr int DutyWithoutFaulty = 60;
constexpr int DutyPrevious = 61;
constexpr int DutyDistributed = 62;
constexpr int UnitState = 63;
constexpr int Debug = 71;
constexpr int Count = 72;
} // namespace Status

// Command words written to register 4001.
namespace Command
{
constexpr quint16 ResetAlarms = 0xCBD0;
constexpr quint16 SetHighestPriority = 0xF1A5;
constexpr quint16 PriorityDone = 0xAD5E;
} // namespace Command

enum class Scenario { Normal, Alarms };

using StatusBlock = std::array<quint16, Status::Count>;

// The controller's live picture: a running set in a group of up to eight units, with measurements
// that drift on every read, latched alarms, and the reactions to the operator's inputs and
// commands. One call of nextStatusBlock() is one step, so a run is reproducible from its seed.
class SimModel
{
public:
    static constexpr int UnitCount = 8;
    // Status reads per step of the alarms scenario; at the service program's pace (a block read
    // every 80 ms) the whole cycle of four steps takes about 2.6 s.
    static constexpr int ScenarioReadsPerPhase = 8;
    static constexpr int ScenarioPhases = 4;

    SimModel(quint32 seed, const ParamMemory &memory);

    void setScenario(Scenario scenario);
    Scenario scenario() const { return m_scenario; }

    void setOperatorInputs(const OperatorInputs &inputs) { m_inputs = inputs; }
    const OperatorInputs &operatorInputs() const { return m_inputs; }

    // A write of register 4001. Unknown words are accepted and ignored, as the controller does.
    void applyCommand(quint16 word);
    // Register 4010: 0xA500 | new priority after "set highest priority", 0 after the
    // acknowledgement.
    quint16 priorityCode() const { return m_priorityCode; }

    StatusBlock nextStatusBlock();
    quint32 reads() const { return m_reads; }

private:
    struct Electrical {
        int activePower = 0; // 0.1 kW, signed
        int fullPower = 0;   // 0.1 kVA
        int reactivePower = 0;
        int cosPhi = 0;  // 0.001
        int current = 0; // 0.1 A
    };

    void drift();
    void applyScenarioPhase(int phase);
    Electrical ownElectrical(int ownPower) const;
    int calibrated(int raw, int calibrationAddress) const;

    const ParamMemory &m_memory;
    SimRandom m_random;
    Scenario m_scenario = Scenario::Normal;
    OperatorInputs m_inputs;
    quint16 m_priorityCode = 0;
    quint32 m_reads = 0;

    quint32 m_latchedAlarms = 0;
    quint32 m_latchedAlarms1 = 0;
    quint32 m_latchedWarnings = 0;
    quint32 m_latchedWarnings1 = 0;

    // Slowly drifting state, in per-mille or raw units.
    int m_groupLoadPermille = 550; // of the running units' capacity
    int m_cosPhi = 860;
    std::array<int, 3> m_voltagePermille{{1000, 1000, 1000}};
    std::array<int, 3> m_currentPermille{{1000, 1000, 1000}};
    int m_busVoltagePermille = 1000;
    int m_sectionVoltagePermille = 1000;
    int m_setFrequencyOffset = 0; // 0.01 Hz
    int m_busFrequencyOffset = 0;
    int m_sectionFrequencyOffset = 0;
    int m_busPhase = 0; // 0.1 degree
    int m_sectionPhase = 0;
    int m_previousDuty = 0;
};

} // namespace vortan::sim
