#pragma once

#include "format/logging.h"

#include <QString>
#include <QVector>

#include <array>

namespace vortan
{

enum class ParamGroup { Calibration, Parameters };

// One programmable parameter in the controller's parameter memory (the EEPROM).
struct ParamEntry {
    int address = 0; // byte address of the most significant byte
    int width = 0;   // 1 or 2 data bytes, unsigned, big-endian
    double scale = 1.0;
    QString caption;
    bool ownCaption = true; // boxes 103..105 stand under the caption of 102
    ParamGroup group = ParamGroup::Parameters;
};

// A run of consecutive indices lying back to back in parameter memory: one request.
struct ParamRun {
    int first = 0;
    int last = 0;
    int address = 0;
    int bytes = 0;
    int count() const { return last - first + 1; }
};

enum class RunPurpose { Read, Write };

class ParamTable
{
public:
    static constexpr int Count = 111;
    static constexpr int NotFound = 255;
    static constexpr int CalibrationCount = 8;
    // "Адрес устр. Modbus": written alone and last, so a new bus address cannot cut the link
    // before the rest of the set has arrived.
    static constexpr int DeviceAddressIndex = 41;
    // A controller answers only on a unicast address: 0 is broadcast, 248..255 are reserved.
    static constexpr int FirstDeviceAddress = 1;
    static constexpr int LastDeviceAddress = 247;
    static constexpr int MaxRunParams = 40;

    ParamTable() { BuildParamTable(); }

    void BuildParamTable();

    static bool isValidIndex(int i) { return i >= 0 && i < Count; }
    const ParamEntry &entry(int i) const;
    int Width(int i) const { return entry(i).width; }
    double Scale(int i) const { return entry(i).scale; }
    int Address(int i) const { return entry(i).address; }
    // The caption shown beside box i (102's for 103..105).
    QString caption(int i) const;
    ParamGroup group(int i) const { return entry(i).group; }
    // Largest raw value the width can carry: 255 or 65535.
    qint32 maxRaw(int i) const { return Width(i) == 2 ? 65535 : 255; }

    int FindParamByAddress(int address) const;
    QVector<ParamRun> runs(RunPurpose purpose) const;

private:
    std::array<ParamEntry, Count> m_entries;
};

} // namespace vortan
