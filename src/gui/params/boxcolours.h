#pragma once

#include "params/paramstate.h"

namespace vortan
{

// Where the text of a value box came from; each has its own background colour.
enum class BoxColour {
    Changed,    // clr_changed: typed or set, not yet confirmed by the controller or a file
    FromEeprom, // clr_from_eeprom: read from (or echoed by) the controller
    NotRead,    // clr_not_read: legend only
    FromFile,   // clr_from_file
    NotInFile,  // clr_not_in_file
    FileEqual,  // clr_file_equal
    FileDiffer, // clr_file_differ
};

// The colour a value's state is shown in; NotRead keeps the box's default background.
constexpr BoxColour boxColourOf(ParamState state)
{
    switch (state) {
    case ParamState::Read:
        return BoxColour::FromEeprom;
    case ParamState::FromFile:
        return BoxColour::FromFile;
    case ParamState::Missing:
        return BoxColour::NotInFile;
    case ParamState::Equal:
        return BoxColour::FileEqual;
    case ParamState::Differs:
        return BoxColour::FileDiffer;
    case ParamState::NotRead:
        return BoxColour::NotRead;
    case ParamState::Edited:
    case ParamState::Requested:
    case ParamState::Written:
        break;
    }
    return BoxColour::Changed;
}

struct Rgb {
    int red;
    int green;
    int blue;
};

constexpr Rgb boxColourRgb(BoxColour colour)
{
    switch (colour) {
    case BoxColour::Changed:
        return {255, 255, 255};
    case BoxColour::FromEeprom:
        return {0, 255, 0};
    case BoxColour::NotRead:
        return {255, 0, 0};
    case BoxColour::FromFile:
        return {75, 175, 255};
    case BoxColour::NotInFile:
        return {255, 255, 128};
    case BoxColour::FileEqual:
        return {192, 255, 192};
    case BoxColour::FileDiffer:
        return {255, 128, 128};
    }
    return {255, 255, 255};
}

} // namespace vortan
