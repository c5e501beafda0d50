#include "params/paramlayout.h"

#include <cmath>

namespace vortan::paramlayout
{

namespace
{
constexpr Qt::Alignment Left = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment Centre = Qt::AlignHCenter | Qt::AlignVCenter;
} // namespace

// kind, name, index, text, left, top, width, height, alignment, font, parent, visible
const ControlDef kControls[] = {
    {Kind::Frame, "frm_prg", -1, "Программируемые параметры", PrgLeft, PrgTop, PrgWidth, PrgHeight,
     Left, FrameFontPoints, Parent::Window, true},
    {Kind::VScrollBar, "VScroll1", -1, "", 22080, 0, ScrollBarThickness, 12015, Left, 0,
     Parent::Window, true},
    {Kind::HScrollBar, "HScroll1", -1, "", 0, 12000, 22095, ScrollBarThickness, Left, 0,
     Parent::Window, true},
    {Kind::Frame, "Frame_calibr", -1, "Калибровка", 11640, 6120, 3975, 2415, Left, FrameFontPoints,
     Parent::Prg, true},
    {Kind::Button, "cmd_readall", -1, "Прочитать всё из ЭСППЗУ", 11160, 8760, 1695, 735, Centre,
     ButtonFontPoints, Parent::Prg, true},
    {Kind::Button, "cmd_writeall", -1, "Записать всё в ЭСППЗУ", 11160, 9840, 1695, 735, Centre,
     ButtonFontPoints, Parent::Prg, true},
    {Kind::Button, "cmdReadFile", -1, "Прочитать из файла", 16200, 11160, 1695, 615, Centre,
     ButtonFontPoints, Parent::Prg, true},
    {Kind::Button, "cmdSaveFile", -1, "Сохранить в файл", 18120, 11160, 1575, 615, Centre,
     ButtonFontPoints, Parent::Prg, true},
    {Kind::Button, "cmdCompare", -1, "Сравнить с файлом", 19920, 11160, 1575, 615, Centre,
     ButtonFontPoints, Parent::Prg, true},
    {Kind::DriveList, "Drive2", -1, "", 16200, 7920, 2295, 315, Left, 0, Parent::Prg, true},
    {Kind::DirList, "Dir2", -1, "", 16200, 8280, 2295, 2565, Left, 0, Parent::Prg, true},
    {Kind::TextBox, "Text3", -1, "", 18600, 7920, 2895, 405, Left, 0, Parent::Prg, true},
    {Kind::TextBox, "Text2", -1, "*.*", 18600, 8400, 2895, 375, Left, 0, Parent::Prg, true},
    {Kind::FileList, "File2", -1, "", 18600, 8880, 2895, 2040, Left, 0, Parent::Prg, true},
    {Kind::Label, "Label38", -1, "Диск недоступен", 16200, 9240, 5295, 375, Centre, 0, Parent::Prg,
     false},
    {Kind::DriveList, "Drive1", -1, "", 12840, 11400, 2295, 315, Left, 0, Parent::Prg, false},
    {Kind::Label, "Label30", -1, "Легенда", 13440, 8520, 2295, 255, Centre, 0, Parent::Prg, true},
    {Kind::Line, "Line1", -1, "", 13080, 8640, 0, 11520 - 8640, Left, 0, Parent::Prg, true},
    {Kind::Line, "Line2", -1, "", 13080, 11640, 16080 - 13080, 0, Left, 0, Parent::Prg, true},
};
const int kControlCount = int(sizeof(kControls) / sizeof(kControls[0]));

namespace
{
constexpr int Col1 = 4440;
constexpr int Col2 = 9840;
constexpr int Col3 = 15360;
constexpr int Col4 = 20160;
constexpr int Cap1 = 120;
constexpr int Cap2 = 5760;
constexpr int Cap3 = 11160;
constexpr int Cap4 = 16860; // clear of the four narrow boxes 102..105 ending at 16815
constexpr int None = -1;
} // namespace

// index, parent, left, top, caption left
const BoxPlace kBoxPlaces[] = {
    {8, Parent::Prg, Col1, 600, Cap1},     {9, Parent::Prg, Col1, 960, Cap1},
    {10, Parent::Prg, Col1, 1320, Cap1},   {11, Parent::Prg, Col1, 1680, Cap1},
    {12, Parent::Prg, Col1, 2040, Cap1},   {13, Parent::Prg, Col1, 2400, Cap1},
    {14, Parent::Prg, Col1, 2760, Cap1},   {15, Parent::Prg, Col1, 3120, Cap1},
    {16, Parent::Prg, Col1, 3480, Cap1},   {17, Parent::Prg, Col1, 3840, Cap1},
    {18, Parent::Prg, Col1, 4200, Cap1},   {19, Parent::Prg, Col1, 4560, Cap1},
    {20, Parent::Prg, Col1, 4920, Cap1},   {21, Parent::Prg, Col1, 5280, Cap1},
    {22, Parent::Prg, Col1, 5640, Cap1},   {47, Parent::Prg, Col1, 6000, Cap1},
    {23, Parent::Prg, Col1, 6360, Cap1},   {24, Parent::Prg, Col1, 6720, Cap1},
    {25, Parent::Prg, Col1, 7080, Cap1},   {26, Parent::Prg, Col1, 7440, Cap1},
    {27, Parent::Prg, Col1, 7800, Cap1},   {28, Parent::Prg, Col1, 8160, Cap1},
    {48, Parent::Prg, Col1, 8520, Cap1},   {49, Parent::Prg, Col1, 8880, Cap1},
    {50, Parent::Prg, Col1, 9240, Cap1},   {42, Parent::Prg, Col1, 9600, Cap1},
    {52, Parent::Prg, Col1, 9960, Cap1},   {53, Parent::Prg, Col1, 10320, Cap1},
    {54, Parent::Prg, Col1, 10680, Cap1},  {55, Parent::Prg, Col1, 11040, Cap1},
    {56, Parent::Prg, Col1, 11400, Cap1},

    {51, Parent::Prg, Col2, 240, Cap2},    {109, Parent::Prg, Col2, 600, Cap2},
    {29, Parent::Prg, Col2, 960, Cap2},    {30, Parent::Prg, Col2, 1320, Cap2},
    {31, Parent::Prg, Col2, 1680, Cap2},   {32, Parent::Prg, Col2, 2040, Cap2},
    {33, Parent::Prg, Col2, 2400, Cap2},   {34, Parent::Prg, Col2, 2760, Cap2},
    {35, Parent::Prg, Col2, 3120, Cap2},   {36, Parent::Prg, Col2, 3480, Cap2},
    {37, Parent::Prg, Col2, 3840, Cap2},   {38, Parent::Prg, Col2, 4200, Cap2},
    {39, Parent::Prg, Col2, 4560, Cap2},   {40, Parent::Prg, Col2, 4920, Cap2},
    {80, Parent::Prg, Col2, 5280, Cap2},   {81, Parent::Prg, Col2, 5640, Cap2},
    {46, Parent::Prg, Col2, 6000, Cap2},   {58, Parent::Prg, Col2, 6360, Cap2},
    {59, Parent::Prg, Col2, 6720, Cap2},   {60, Parent::Prg, Col2, 7080, Cap2},
    {61, Parent::Prg, Col2, 7440, Cap2},   {62, Parent::Prg, Col2, 7800, Cap2},
    {70, Parent::Prg, Col2, 8160, Cap2},   {71, Parent::Prg, Col2, 8520, Cap2},
    {72, Parent::Prg, Col2, 8880, Cap2},   {73, Parent::Prg, Col2, 9240, Cap2},
    {74, Parent::Prg, Col2, 9600, Cap2},   {75, Parent::Prg, Col2, 9960, Cap2},
    {76, Parent::Prg, Col2, 10320, Cap2},  {77, Parent::Prg, Col2, 10680, Cap2},
    {78, Parent::Prg, Col2, 11040, Cap2},  {79, Parent::Prg, Col2, 11400, Cap2},

    {64, Parent::Prg, Col3, 240, Cap3},    {65, Parent::Prg, Col3, 600, Cap3},
    {82, Parent::Prg, Col3, 960, Cap3},    {83, Parent::Prg, Col3, 1320, Cap3},
    {84, Parent::Prg, Col3, 1680, Cap3},   {45, Parent::Prg, Col3, 2040, Cap3},
    {41, Parent::Prg, Col3, 2400, Cap3},   {110, Parent::Prg, Col3, 2760, Cap3},
    {43, Parent::Prg, Col3, 3120, Cap3},   {44, Parent::Prg, Col3, 3480, Cap3},
    {57, Parent::Prg, Col3, 3840, Cap3},   {99, Parent::Prg, Col3, 4200, Cap3},
    {100, Parent::Prg, Col3, 4560, Cap3},  {101, Parent::Prg, Col3, 4920, Cap3},
    {106, Parent::Prg, Col3, 5280, Cap3},  {102, Parent::Prg, 15360, 5640, Cap3},
    {103, Parent::Prg, 15720, 5640, None}, {104, Parent::Prg, 16080, 5640, None},
    {105, Parent::Prg, 16440, 5640, None},

    {66, Parent::Prg, Col4, 240, Cap4},    {67, Parent::Prg, Col4, 600, Cap4},
    {68, Parent::Prg, Col4, 960, Cap4},    {69, Parent::Prg, Col4, 1320, Cap4},
    {107, Parent::Prg, Col4, 1680, Cap4},  {108, Parent::Prg, Col4, 2040, Cap4},
    {63, Parent::Prg, Col4, 2400, Cap4},   {85, Parent::Prg, Col4, 2760, Cap4},
    {86, Parent::Prg, Col4, 3120, Cap4},   {87, Parent::Prg, Col4, 3480, Cap4},
    {88, Parent::Prg, Col4, 3840, Cap4},   {89, Parent::Prg, Col4, 4200, Cap4},
    {90, Parent::Prg, Col4, 4560, Cap4},   {91, Parent::Prg, Col4, 4920, Cap4},
    {92, Parent::Prg, Col4, 5280, Cap4},   {93, Parent::Prg, Col4, 5640, Cap4},
    {94, Parent::Prg, Col4, 6000, Cap4},   {95, Parent::Prg, Col4, 6360, Cap4},
    {96, Parent::Prg, Col4, 6720, Cap4},   {97, Parent::Prg, Col4, 7080, Cap4},
    {98, Parent::Prg, Col4, 7440, Cap4},

    {0, Parent::Calibr, 1560, 360, 120},   {1, Parent::Calibr, 1560, 720, 120},
    {2, Parent::Calibr, 720, 1200, 120},   {3, Parent::Calibr, 720, 1560, 120},
    {4, Parent::Calibr, 720, 1920, 120},   {5, Parent::Calibr, 2640, 1200, 2040},
    {6, Parent::Calibr, 2640, 1560, 2040}, {7, Parent::Calibr, 2640, 1920, 2040},
};
const int kBoxPlaceCount = int(sizeof(kBoxPlaces) / sizeof(kBoxPlaces[0]));

// shape, top, text height, text, colour
const LegendRow kLegend[] = {
    {"Shape1", 8760, 360, "Значение из ЭСППЗУ", BoxColour::FromEeprom},
    {"Shape7", 9120, 480, "Значение не прочитано из ЭСППЗУ", BoxColour::NotRead},
    {"Shape2", 9600, 360, "Значение из файла", BoxColour::FromFile},
    {"Shape6", 9960, 360, "Значение отсутствует в файле", BoxColour::NotInFile},
    {"Shape4", 10320, 480, "Значение соответствует данному в файле", BoxColour::FileEqual},
    {"Shape5", 10800, 480, "Значение не соответствует данному в файле", BoxColour::FileDiffer},
    {"Shape3", 11280, 360, "Значение изменено", BoxColour::Changed},
};
const int kLegendCount = int(sizeof(kLegend) / sizeof(kLegend[0]));

} // namespace vortan::paramlayout
