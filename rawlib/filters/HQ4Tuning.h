// The strength of the high-quality demosaicing, chosen by the sensitivity an image was shot at, and the two
// tables of sensitivities and levels it is chosen from. The tables are shared: the dust map tunes its own
// demosaicing from the base-125 table and picks its thresholds by a sensitivity's place in either list.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <span>

// One row of a sensitivity table: the sensitivity as the development reads it from the image (-1 and -2
// stand for the two extended high settings) and the threshold level it gives.
struct HQ4SensitivityLevel {
    LONG sensitivity;
    LONG level;
};

namespace HQ4SensitivityTables {

// For cameras whose base sensitivity is 200 (all but one camera type), and for the one whose base is 125.
std::span<const HQ4SensitivityLevel> Base200();
std::span<const HQ4SensitivityLevel> Base125();

// Where the sensitivity stands in the table; the table's size when it is not there.
std::size_t IndexOf(std::span<const HQ4SensitivityLevel> table, LONG sensitivity);

} // namespace HQ4SensitivityTables

// Nine 32-bit values: three threshold levels, then six further parameters that the interpolation keeps
// but does not read (they have no names of their own; their usual values are 6, 15, 1, 14, 1, 1).
struct HQ4Tuning {
    static constexpr LONG kDefaultLevel = 3;

    // Level 0 steers the horizontal/vertical classification, level 1 the second classification near
    // strong colour edges, level 2 the diagonal classification.
    LONG level[3] = {kDefaultLevel, kDefaultLevel, kDefaultLevel};
    LONG further[6] = {6, 15, 1, 14, 1, 1};

    // The defaults: levels 3, 3, 3 and the usual further parameters.
    void Reset();
    // A sensitivity found in the base-200 (or base-125) table sets all three levels to its level and the
    // further parameters to their usual values, and the answer is false; a sensitivity not in the table
    // leaves the record as it is, and the answer is true.
    bool SetBySensitivity(LONG sensitivity);
    bool SetBySensitivityBase125(LONG sensitivity);
    // The same by any table.
    bool SetByTable(std::span<const HQ4SensitivityLevel> table, LONG sensitivity);

    bool operator==(const HQ4Tuning&) const = default;
};

static_assert(sizeof(HQ4Tuning) == 36, "nine 32-bit values");
