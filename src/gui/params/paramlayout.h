#pragma once

#include "widgets/twips.h"
#include "params/boxcolours.h"

#include <QRect>
#include <QtGlobal>

namespace vortan::paramlayout
{

// Positions and sizes are in twips, as the window was drawn; 15 twips make one pixel.
using vortan::PixelsToTwips;
using vortan::TwipsRect;
using vortan::TwipsToPixels;

enum class Kind {
    Frame,
    Button,
    Label,
    TextBox,
    DriveList,
    DirList,
    FileList,
    Line,
    VScrollBar,
    HScrollBar,
};

enum class Parent { Window, Prg, Calibr };

// One control; `index` >= 0 makes the objectName name_index (members of a control array).
struct ControlDef {
    Kind kind;
    const char *name;
    int index;
    const char *text;
    int left;
    int top;
    int width;
    int height;
    Qt::Alignment alignment;
    double fontPoints; // 0: the window font
    Parent parent;
    bool visible;
};

// A value box txt_par_<index>; its caption label lblc_par_<index> ends CaptionGap twips left
// of the box and starts at captionLeft (negative: no label of its own).
struct BoxPlace {
    int index;
    Parent parent;
    int left;
    int top;
    int captionLeft;
};

// One row of the colour legend: the square Shape<n> and the text Label31_<row>.
struct LegendRow {
    const char *shape;
    int top;
    int textHeight;
    const char *text;
    BoxColour colour;
};

constexpr int WindowClientWidth = 22365;
constexpr int WindowClientHeight = 12285;
// The outer size (border and title bar included) that the size limits and the scroll rules
// speak of, as the window system adds it to the client area.
constexpr int OuterExtraWidth = 120;
constexpr int OuterExtraHeight = 515;
constexpr int MaxOuterWidth = 22485;
constexpr int MaxOuterHeight = 12800;
constexpr int MinOuterWidth = 7000;
constexpr int MinOuterHeight = 4000;

constexpr int PrgLeft = 120;
constexpr int PrgTop = 120;
constexpr int PrgWidth = 21855;
constexpr int PrgHeight = 11895;
constexpr int ScrollBarThickness = 255;
constexpr int ScrollSmallStep = 200;
constexpr int ScrollLargeStep = 1000;

constexpr int BoxWidth = 1215;
constexpr int BoxHeight = 375;
constexpr int NarrowBoxWidth = 375; // boxes 102..105
constexpr int CaptionGap = 240;

constexpr int LegendSquareLeft = 13200;
constexpr int LegendSquareWidth = 495;
constexpr int LegendSquareHeight = 255;
constexpr int LegendTextLeft = 13800;
constexpr int LegendTextWidth = 2280;

constexpr double WindowFontPoints = 8;
constexpr double CaptionFontPoints = 12;
constexpr double ButtonFontPoints = 9.75;
constexpr double FrameFontPoints = 13.5;

extern const ControlDef kControls[];
extern const int kControlCount;
extern const BoxPlace kBoxPlaces[];
extern const int kBoxPlaceCount;
extern const LegendRow kLegend[];
extern const int kLegendCount;

} // namespace vortan::paramlayout
