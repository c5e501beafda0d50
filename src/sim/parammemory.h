#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>

namespace vortan::sim
{

// The controller's byte-addressed parameter memory ("ЭСППЗУ") as functions 100 and 101 see it.
constexpr int ParamMemorySize = 147;
// Largest run one function-100/101 request may move; the service program never asks for more.
constexpr int ParamMaxTransfer = 80;

// One stored value: where it lies, how wide it is (big-endian) and what a fresh set holds.
struct ParamCell {
    quint8 address;
    quint8 width;
    quint16 defaultRaw;
};
constexpr int ParamCellCount = 111;
const std::array<ParamCell, ParamCellCount> &ParamLayout();

// Addresses of the values the live model reads.
namespace ParamAddress
{
constexpr int CalSectionVoltage = 0;
constexpr int CalBusVoltage = 2;
constexpr int CalPhaseVoltageA = 4;  // then B at 6, C at 8
constexpr int CalPhaseCurrentA = 10; // then B at 12, C at 14
constexpr int MaxVoltage = 16;
constexpr int MinVoltage = 18;
constexpr int RatedVoltage = 21;
constexpr int MaxFrequency = 24;
constexpr int MinFrequency = 26;
constexpr int RatedFrequency = 28;
constexpr int OverloadTimerPercent = 31;
constexpr int ActivePowerControl = 39;
constexpr int DeviceAddress = 55;
constexpr int MaxPower = 57;
constexpr int CurrentTransformer = 59;
constexpr int StartNextPercent = 69;
constexpr int CanNodes = 146;
} // namespace ParamAddress

enum class ParamStatus { Ok, BadAddress, BadCount };

class ParamMemory
{
public:
    ParamMemory();

    void resetToDefaults();

    // Count is checked first (1..ParamMaxTransfer), then the range against the memory size.
    static ParamStatus check(int address, int count);
    // Empty when the range is refused.
    QByteArray read(int address, int count) const;
    ParamStatus write(int address, const QByteArray &bytes);

    // Big-endian value of width 1 or 2 at address; 0 outside the memory.
    int value(int address, int width) const;
    void setValue(int address, int width, int raw);

    const std::array<quint8, ParamMemorySize> &bytes() const { return m_bytes; }

    enum class LoadResult { Loaded, Missing, Corrupt };
    // The file is a 147-byte image of the memory. Anything else is corrupt and leaves the
    // memory untouched.
    LoadResult load(const QString &path, QString *error);
    // Written through a temporary file so a crash never leaves half an image.
    bool save(const QString &path, QString *error) const;

private:
    std::array<quint8, ParamMemorySize> m_bytes{};
};

} // namespace vortan::sim
