#include "sim/parammemory.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace vortan::sim
{

namespace
{

// A 500 kW, 400 V, 50 Hz set with a 1000 A current transformer in a group of four.
// Listed in the order of the service program's parameter list.
constexpr std::array<ParamCell, ParamCellCount> Layout{{
    {0, 2, 1000},                                 // calibration: section voltage
    {2, 2, 1000},                                 // calibration: bus voltage
    {4, 2, 1000},                                 // calibration: phase A voltage
    {6, 2, 1000},   {8, 2, 1000},  {10, 2, 1000}, // calibration: phase A current
    {12, 2, 1000},  {14, 2, 1000}, {16, 2, 4400}, // max. voltage 440.0 V
    {18, 2, 3600},                                // min. voltage 360.0 V
    {20, 1, 5},     {21, 2, 4000},                // rated voltage 400.0 V
    {23, 1, 10},    {24, 2, 525},                 // max. frequency 52.5 Hz
    {26, 2, 475},   {28, 2, 500},                 // rated frequency 50.0 Hz
    {30, 1, 5},     {31, 1, 110},                 // overload (timer) %
    {32, 1, 75},                                  // overload (instant) 150 %
    {33, 1, 30},    {34, 1, 10},   {35, 1, 5},    {36, 1, 20},  {37, 1, 100},   {38, 1, 60},
    {39, 1, 1}, // active power control on
    {40, 1, 2},     {41, 1, 10},   {42, 1, 20},   {43, 1, 0},   {44, 1, 2},     {45, 1, 10},
    {46, 1, 20},    {47, 2, 4500}, {75, 2, 4800}, {49, 1, 10},  {50, 2, 4800},  {77, 2, 5000},
    {52, 1, 5},     {53, 1, 5},    {54, 1, 10},   {55, 1, 1}, // Modbus device address
    {56, 1, 18},    {57, 2, 5000},                            // max. power 500.0 kW
    {59, 2, 1000},                                            // current transformer 1000 A
    {61, 1, 1},     {79, 1, 1},    {63, 1, 2},    {64, 1, 2},   {65, 1, 10},    {66, 1, 20},
    {67, 2, 1000},  {69, 1, 80}, // start the next set above 80 % (timer)
    {70, 1, 90},    {71, 1, 30},   {72, 1, 30},   {73, 1, 120}, {74, 1, 0},     {80, 1, 2},
    {81, 1, 3},     {82, 1, 4},    {83, 1, 5},    {84, 1, 6},   {107, 1, 2},    {88, 1, 30},
    {89, 1, 30},    {140, 1, 0},   {141, 1, 0},   {142, 1, 0},  {143, 1, 0},    {94, 1, 0},
    {95, 1, 0},     {96, 1, 0},    {97, 1, 0},    {98, 1, 0},   {99, 1, 0},     {100, 1, 0},
    {101, 1, 0},    {102, 1, 0},   {103, 1, 0},   {85, 1, 7},   {86, 1, 8},     {104, 1, 5},
    {105, 1, 5},    {106, 1, 0},   {108, 1, 3},   {109, 1, 4},  {110, 1, 5},    {111, 1, 6},
    {112, 1, 7},    {113, 1, 8},   {114, 1, 9},   {115, 1, 10}, {116, 2, 3000}, {118, 1, 10},
    {119, 2, 3500}, {121, 1, 10},  {122, 1, 20},  {123, 1, 80}, {124, 2, 5000}, {126, 1, 40},
    {127, 2, 5000}, {131, 1, 1},   {132, 1, 2},   {133, 1, 0},  {134, 1, 0},    {129, 2, 3750},
    {144, 1, 0},    {145, 1, 0},   {90, 2, 1000}, {146, 1, 4}, // CAN nodes in the group
}};

} // namespace

const std::array<ParamCell, ParamCellCount> &ParamLayout()
{
    return Layout;
}

ParamMemory::ParamMemory()
{
    resetToDefaults();
}

void ParamMemory::resetToDefaults()
{
    m_bytes.fill(0);
    for (const ParamCell &cell : Layout)
        setValue(cell.address, cell.width, cell.defaultRaw);
}

ParamStatus ParamMemory::check(int address, int count)
{
    if (count < 1 || count > ParamMaxTransfer)
        return ParamStatus::BadCount;
    if (address < 0 || address + count > ParamMemorySize)
        return ParamStatus::BadAddress;
    return ParamStatus::Ok;
}

QByteArray ParamMemory::read(int address, int count) const
{
    if (check(address, count) != ParamStatus::Ok)
        return {};
    return QByteArray(reinterpret_cast<const char *>(m_bytes.data()) + address, count);
}

ParamStatus ParamMemory::write(int address, const QByteArray &bytes)
{
    const ParamStatus status = check(address, int(bytes.size()));
    if (status != ParamStatus::Ok)
        return status;
    for (int i = 0; i < bytes.size(); ++i)
        m_bytes[size_t(address + i)] = quint8(bytes.at(i));
    return ParamStatus::Ok;
}

int ParamMemory::value(int address, int width) const
{
    if (width < 1 || width > 2 || address < 0 || address + width > ParamMemorySize)
        return 0;
    int v = 0;
    for (int i = 0; i < width; ++i)
        v = v * 256 + m_bytes[size_t(address + i)];
    return v;
}

void ParamMemory::setValue(int address, int width, int raw)
{
    if (width < 1 || width > 2 || address < 0 || address + width > ParamMemorySize)
        return;
    for (int i = width - 1; i >= 0; --i) {
        m_bytes[size_t(address + i)] = quint8(raw & 0xFF);
        raw >>= 8;
    }
}

ParamMemory::LoadResult ParamMemory::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return LoadResult::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return LoadResult::Corrupt;
    }
    // One byte more than expected is enough to tell an oversized file.
    const QByteArray image = file.read(ParamMemorySize + 1);
    if (image.size() != ParamMemorySize) {
        if (error)
            *error =
                QStringLiteral("expected %1 bytes, found %2%3")
                    .arg(ParamMemorySize)
                    .arg(image.size() > ParamMemorySize ? QStringLiteral("more than ") : QString())
                    .arg(qMin<qsizetype>(image.size(), ParamMemorySize));
        return LoadResult::Corrupt;
    }
    for (int i = 0; i < ParamMemorySize; ++i)
        m_bytes[size_t(i)] = quint8(image.at(i));
    return LoadResult::Loaded;
}

bool ParamMemory::save(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.write(reinterpret_cast<const char *>(m_bytes.data()), ParamMemorySize);
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace vortan::sim
