#include "HQ4Tuning.h"

#include <algorithm>
#include <iterator>

namespace {

// The extended high settings are read from the image as -1 and -2.
constexpr HQ4SensitivityLevel kBase200[] = {
    {200, 3}, {250, 3},  {280, 4},  {320, 4},  {400, 4},  {500, 4}, {570, 6}, {630, 6},
    {800, 6}, {1010, 6}, {1130, 7}, {1270, 7}, {1600, 7}, {-1, 15}, {-2, 30},
};
constexpr HQ4SensitivityLevel kBase125[] = {
    {125, 3}, {140, 4}, {160, 4}, {200, 4}, {250, 4}, {280, 6}, {320, 6},
    {400, 6}, {500, 6}, {570, 7}, {630, 7}, {800, 7}, {-1, 15}, {-2, 30},
};

} // namespace

namespace HQ4SensitivityTables {

std::span<const HQ4SensitivityLevel> Base200() {
    return kBase200;
}

std::span<const HQ4SensitivityLevel> Base125() {
    return kBase125;
}

std::size_t IndexOf(std::span<const HQ4SensitivityLevel> table, LONG sensitivity) {
    const auto found =
        std::find_if(table.begin(), table.end(), [sensitivity](const HQ4SensitivityLevel& row) {
            return row.sensitivity == sensitivity;
        });
    return static_cast<std::size_t>(std::distance(table.begin(), found));
}

} // namespace HQ4SensitivityTables

void HQ4Tuning::Reset() {
    *this = HQ4Tuning{};
}

bool HQ4Tuning::SetByTable(std::span<const HQ4SensitivityLevel> table, LONG sensitivity) {
    const std::size_t index = HQ4SensitivityTables::IndexOf(table, sensitivity);
    if (index == table.size())
        return true;
    const LONG found = table[index].level;
    *this = HQ4Tuning{};
    std::fill(std::begin(level), std::end(level), found);
    return false;
}

bool HQ4Tuning::SetBySensitivity(LONG sensitivity) {
    return SetByTable(HQ4SensitivityTables::Base200(), sensitivity);
}

bool HQ4Tuning::SetBySensitivityBase125(LONG sensitivity) {
    return SetByTable(HQ4SensitivityTables::Base125(), sensitivity);
}
