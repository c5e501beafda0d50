#include "monitor/registermap.h"

#include "format/formatting.h"

namespace vortan
{

namespace
{

constexpr FieldType Ver = FieldType::Version;
constexpr FieldType U16 = FieldType::U16;
constexpr FieldType S16 = FieldType::S16;
constexpr FieldType H16 = FieldType::Hex16;
constexpr FieldType H32 = FieldType::Hex32;

// MeasValidity bits: the set's, the common buses' and the section's frequency were measured.
constexpr quint16 SetFreq = 0x0001;
constexpr quint16 BusFreq = 0x0002;
constexpr quint16 SectionFreq = 0x0004;

// clang-format off
constexpr RegisterField Map[] = {
// offset type label                 factor decimals unit prefix   validity
    { 0, Ver, "lbl_pr_ver",          1,     0,       "",  "",      0},
    { 1, Ver, "lbl_sw_ver",          1,     0,       "",  "",      0},
    { 4, U16, "lbl_phAU",            0.1,   1,       "",  "",      0},
    { 5, U16, "lbl_phBU",            0.1,   1,       "",  "",      0},
    { 6, U16, "lbl_phCU",            0.1,   1,       "",  "",      0},
    { 7, U16, "lbl_phAI",            0.1,   1,       "",  "",      0},
    { 8, U16, "lbl_phBI",            0.1,   1,       "",  "",      0},
    { 9, U16, "lbl_phCI",            0.1,   1,       "",  "",      0},
    {16, U16, "lbl_fr",              0.01,  2,       "",  "",      0},
    { 2, U16, "lbl_netAU",           0.1,   1,       "",  "",      0},
    {14, U16, "lbl_netfr",           0.01,  2,       "",  "",      0},
    { 3, U16, "lbl_secAU",           0.1,   1,       "",  "",      0},
    {15, U16, "lbl_secfr",           0.01,  2,       "",  "",      0},
    {10, S16, "lbl_ap",              0.1,   1,       "",  "",      0},
    {11, U16, "lbl_fp",              0.1,   1,       "",  "",      0},
    {12, U16, "lbl_rp",              0.1,   1,       "",  "",      0},
    {13, S16, "lbl_cosfi",           0.001, 3,       "",  "",      0},
    {25, S16, "lbl_ovl_duty",        0.1,   1,       "%", "",      0},
    {60, S16, "lbl_ovl_duty_wofg",   0.1,   1,       "%", "",      0},
    {61, S16, "lbl_ovl_duty_prev",   0.1,   1,       "%", "",      0},
    {62, S16, "lbl_ovl_duty_dstr",   0.1,   1,       "%", "",      0},
    {26, S16, "lbl_own_duty",        0.1,   1,       "%", "",      0},
    {71, H16, "lbl_dbg",             1,     0,       "",  "",      0},
    {28, H32, "lbl_vfsf",            1,     0,       "",  "VFSF ", 0},
    {56, H32, "lbl_cf0",             1,     0,       "",  "CF0 ",  0},
    {58, H32, "lbl_cf1",             1,     0,       "",  "CF1 ",  0},
    {19, U16, "lbl_frt",             0.01,  2,       "",  "",      SetFreq},
    {17, U16, "lbl_netfrt",          0.01,  2,       "",  "",      BusFreq},
    {18, U16, "lbl_secfrt",          0.01,  2,       "",  "",      SectionFreq},
    {20, S16, "lbl_dng",             0.1,   1,       "",  "",      SetFreq | BusFreq},
    {21, S16, "lbl_dsg",             0.1,   1,       "",  "",      SetFreq | SectionFreq},
};

// Bit k of a unit's state word; bit 2 is the Cyrillic capital ES.
constexpr const char16_t *StateLetters[] = {
    u"\u0410", u"\u041A", u"\u0421", u"\u0417", u"\u041D", u"\u0420",
    u"\u0411", u"\u041E", u"*",      u"\u0441", u"\u043A",
};
// clang-format on

} // namespace

RegisterMap StatusRegisterMap()
{
    return {Map, sizeof Map / sizeof Map[0]};
}

int FieldWidth(FieldType type)
{
    return type == FieldType::Hex32 ? 2 : 1;
}

QString VersionText(int hi, int lo)
{
    const QString empty;
    return FormatScaled(hi, 0, 1, empty) + QLatin1String(lo > 9 ? "." : ".0") +
           FormatScaled(lo, 0, 1, empty);
}

QString UnitStateLetters(quint16 word)
{
    QString letters;
    const int count = int(sizeof StateLetters / sizeof StateLetters[0]);
    for (int k = 0; k < count; ++k) {
        if (word & (1u << k))
            letters += QString::fromUtf16(StateLetters[k]);
    }
    return letters;
}

} // namespace vortan
