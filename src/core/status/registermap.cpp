#include "status/registermap.h"

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
using G = FieldGroup;

// MeasValidity bits: the set's, the common buses' and the section's frequency were measured.
constexpr quint16 SetFreq = 0x0001;
constexpr quint16 BusFreq = 0x0002;
constexpr quint16 SectionFreq = 0x0004;

// clang-format off
constexpr RegisterField Map[] = {
// offset type label                 factor decimals unit prefix   validity
//      group, caption, unit of the number
    { 0, Ver, "lbl_pr_ver",          1,     0,       "",  "",      0,
        G::Service, "Протокол", ""},
    { 1, Ver, "lbl_sw_ver",          1,     0,       "",  "",      0,
        G::Service, "Версия ПО", ""},
    { 4, U16, "lbl_phAU",            0.1,   1,       "",  "",      0,
        G::Set, "U фазы A", "В"},
    { 5, U16, "lbl_phBU",            0.1,   1,       "",  "",      0,
        G::Set, "U фазы B", "В"},
    { 6, U16, "lbl_phCU",            0.1,   1,       "",  "",      0,
        G::Set, "U фазы C", "В"},
    { 7, U16, "lbl_phAI",            0.1,   1,       "",  "",      0,
        G::Set, "I фазы A", "А"},
    { 8, U16, "lbl_phBI",            0.1,   1,       "",  "",      0,
        G::Set, "I фазы B", "А"},
    { 9, U16, "lbl_phCI",            0.1,   1,       "",  "",      0,
        G::Set, "I фазы C", "А"},
    {16, U16, "lbl_fr",              0.01,  2,       "",  "",      0,
        G::Set, "Частота ЭА", "Гц"},
    { 2, U16, "lbl_netAU",           0.1,   1,       "",  "",      0,
        G::Buses, "Напр. общих шин", "В"},
    {14, U16, "lbl_netfr",           0.01,  2,       "",  "",      0,
        G::Buses, "Частота общих шин", "Гц"},
    { 3, U16, "lbl_secAU",           0.1,   1,       "",  "",      0,
        G::Section, "Напр. секции", "В"},
    {15, U16, "lbl_secfr",           0.01,  2,       "",  "",      0,
        G::Section, "Частота секции", "Гц"},
    {10, S16, "lbl_ap",              0.1,   1,       "",  "",      0,
        G::Set, "Pа", "кВт"},
    {11, U16, "lbl_fp",              0.1,   1,       "",  "",      0,
        G::Set, "Pп", "кВт"},
    {12, U16, "lbl_rp",              0.1,   1,       "",  "",      0,
        G::Set, "Pр", "кВт"},
    {13, S16, "lbl_cosfi",           0.001, 3,       "",  "",      0,
        G::Set, "COS Fi", ""},
    {25, S16, "lbl_ovl_duty",        0.1,   1,       "%", "",      0,
        G::LoadSharing, "Нагрузка общая", "%"},
    {60, S16, "lbl_ovl_duty_wofg",   0.1,   1,       "%", "",      0,
        G::LoadSharing, "Нагрузка общая ( - ав+зр)", "%"},
    {61, S16, "lbl_ovl_duty_prev",   0.1,   1,       "%", "",      0,
        G::LoadSharing, "Нагрузка общая (пред.)", "%"},
    {62, S16, "lbl_ovl_duty_dstr",   0.1,   1,       "%", "",      0,
        G::LoadSharing, "Нагрузка общая (распр.)", "%"},
    {26, S16, "lbl_own_duty",        0.1,   1,       "%", "",      0,
        G::LoadSharing, "Нагрузка собственная", "%"},
    {71, H16, "lbl_dbg",             1,     0,       "",  "",      0,
        G::Service, "Отладка", ""},
    {28, H32, "lbl_vfsf",            1,     0,       "",  "VFSF ", 0,
        G::Service, "VFSF", ""},
    {56, H32, "lbl_cf0",             1,     0,       "",  "CF0 ",  0,
        G::Service, "CF0", ""},
    {58, H32, "lbl_cf1",             1,     0,       "",  "CF1 ",  0,
        G::Service, "CF1", ""},
    {19, U16, "lbl_frt",             0.01,  2,       "",  "",      SetFreq,
        G::Synchroniser, "Синхр.: частота ЭА", "Гц"},
    {17, U16, "lbl_netfrt",          0.01,  2,       "",  "",      BusFreq,
        G::Synchroniser, "Синхр.: частота общих шин", "Гц"},
    {18, U16, "lbl_secfrt",          0.01,  2,       "",  "",      SectionFreq,
        G::Synchroniser, "Синхр.: частота секции", "Гц"},
    {20, S16, "lbl_dng",             0.1,   1,       "",  "",      SetFreq | BusFreq,
        G::Synchroniser, "Синхр.: разность фаз с общими шинами", ""},
    {21, S16, "lbl_dsg",             0.1,   1,       "",  "",      SetFreq | SectionFreq,
        G::Synchroniser, "Синхр.: разность фаз с секцией", ""},
};

// Bit k of a unit's state word; bit 2 is the Cyrillic capital ES.
constexpr const char16_t *StateLetters[] = {
    u"\u0410", u"\u041A", u"\u0421", u"\u0417", u"\u041D", u"\u0420",
    u"\u0411", u"\u041E", u"*",      u"\u0441", u"\u043A",
};
constexpr const char *InputNames[DiscreteInputLamps] = {
    "Вход 13-14", "Вход 15-16", "Вход 17-18", "Разгрузка", "Доп. конт. НОП1",
    "Доп. конт. НОП2", "Доп. конт. секции", "Доп. конт. ДГУ", "Запрос резерва", "Ручная синхр.",
};
constexpr const char *FlagNames[ControlFlagLamps] = {
    "Синхр.  к шинам", "Синхр. к секции", "Синхр. ДГУ", "Подключение к секции без синхр.",
    "Идет подстройка частоты для синхр.", "Подстр. мощн. разрешена", "Подстр. мощн. работает",
    "Нагрузку вкл.", "Идет разгрузка", "Требуется доп. мощность", "Требуется запустить ДГУ",
    "На шине есть нижестоящий ДГУ под нагрузкой", "Данная ДГУ единственная на шине",
    "Секцию вкл.", "Внешняя синхронизация", "Идет подстройка частоты под нагр.",
};
constexpr const char *AlarmNames[AlarmLamps] = {
    "", "", "", "", "Недостаток резерва мощности", "Отказ контроля напр. на шинах",
    "Ошибка обмена CAN", "Конфликт приоритетов CAN", "Перегруз ДГУ (таймер)",
    "Перегруз ДГУ (мгновенный)", "Модуль расширения Вортана", "Обратное чередование фаз",
    "Контактор Секции не вкл.", "Контактор ДГУ не вкл.", "Контактор Секции не откл.",
    "Контактор ДГУ не откл.", "Неудачная синхр. к шине", "Обратная мощность",
    "Неудачная синхр. к секции", "", "Высокое напряжение ДГУ", "Низкое напряжение ДГУ",
    "Высокая частота ДГУ", "Низкая частота ДГУ", "Высокое напряжение шины",
    "Низкое напряжение шины", "Высокая частота шины", "Низкая частота шины",
    "Высокое напряжение секции", "Низкое напряжение секции", "Высокая частота секции",
    "Низкая частота секции",
};
constexpr const char *Alarm1Names[Alarm1Lamps] = {
    "Отказ CAN 1 и более вортанов", "Внешнее отключение конт. ДГУ",
};
// clang-format on

const char *NameAt(const char *const *names, int count, int lamp)
{
    return lamp >= 0 && lamp < count ? names[lamp] : "";
}

} // namespace

RegisterMap StatusRegisterMap()
{
    return {Map, sizeof Map / sizeof Map[0]};
}

QString RegisterField::heading() const
{
    const QString text = QString::fromUtf8(caption);
    return *quantity ? text + QStringLiteral(", ") + QString::fromUtf8(quantity) : text;
}

QString FieldGroupCaption(FieldGroup group)
{
    switch (group) {
    case FieldGroup::Set:
        return QStringLiteral("ЭА");
    case FieldGroup::Section:
        return QStringLiteral("Секция");
    case FieldGroup::Buses:
        return QStringLiteral("Общие шины");
    case FieldGroup::Synchroniser:
        return QStringLiteral("Синхронизатор");
    case FieldGroup::LoadSharing:
        return QStringLiteral("Распределение");
    case FieldGroup::Service:
        break;
    }
    return QStringLiteral("Служебные");
}

const char *DiscreteInputName(int lamp)
{
    return NameAt(InputNames, DiscreteInputLamps, lamp);
}

const char *ControlFlagName(int lamp)
{
    return NameAt(FlagNames, ControlFlagLamps, lamp);
}

const char *AlarmName(int lamp)
{
    return NameAt(AlarmNames, AlarmLamps, lamp);
}

const char *Alarm1Name(int lamp)
{
    return NameAt(Alarm1Names, Alarm1Lamps, lamp);
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
