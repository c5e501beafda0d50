#pragma once

namespace vortan
{

// Where a value of the set stands.
enum class ParamState {
    NotRead,   // nothing known yet ("-")
    Read,      // read from (or echoed by) the controller
    Edited,    // typed by the engineer, not yet confirmed
    Requested, // a read of the whole set is under way; the value may be stale
    Written,   // queued for writing, the controller's echo not yet in
    FromFile,  // loaded from, or saved to, a parameter file
    Missing,   // the file of the last load or comparison lacks this key
    Equal,     // equal (as a number) to the compared file
    Differs,   // different from the compared file
};

} // namespace vortan
