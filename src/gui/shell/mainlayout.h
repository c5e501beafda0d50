#pragma once

#include "widgets/twips.h"

#include <QString>

#include <cstddef>

namespace vortan::layout
{

enum class Kind {
    Frame, // captioned frame, a member of Frame2
    Label, // transparent caption or value label
    Lamp,  // indicator label with an opaque button-face background
    Alert, // warning label with an opaque red background
    CheckBox,
    EditCombo, // editable drop-down list
    ListCombo, // non-editable drop-down list
    Button,
    TextBox,
    Line, // horizontal line; height is ignored
};

enum class Align { Left, Centre, Right };

// One control of the main window as the layout gives it.
struct Control {
    Kind kind;
    const char *name;
    int index; // member index in a control array, -1 for a single control
    const char *text;
    int left; // twips, relative to the holding frame or the client area
    int top;
    int width;
    int height;
    Align align;
    double points; // font size; 0 = the window's default font
    int frame;     // Frame2 index of the holding frame, -1 = the client area
    const char *tag;
    bool visible;
};

struct ControlTable {
    const Control *first;
    std::size_t count;
    const Control *begin() const { return first; }
    const Control *end() const { return first + count; }
};

// The main window's controls in creation order: a frame before its content, and later
// controls drawn above earlier ones where they overlap.
ControlTable MainLayout();

// One bit of the control-state word (register 4002) and the check box that sets it.
struct ControlBit {
    const char *checkBox;
    int bit;
};

struct ControlBitTable {
    const ControlBit *first;
    std::size_t count;
    const ControlBit *begin() const { return first; }
    const ControlBit *end() const { return first + count; }
};

ControlBitTable ControlWordBits();

constexpr int ClientWidthTwips = 20865;
constexpr int ClientHeightTwips = 9870;
// Close to the 8-point MS Sans Serif the layout was drawn with.
constexpr double DefaultPoints = 8;
constexpr const char *FontFace = "DejaVu Sans";

// Twips become pixels in one place for every window.
constexpr int Px(int twips)
{
    return TwipsToPixels(twips);
}

// objectName of a control: its name, or name_index for a member of a control array.
QString ObjectName(const char *name, int index);
inline QString ObjectName(const Control &c)
{
    return ObjectName(c.name, c.index);
}

} // namespace vortan::layout
