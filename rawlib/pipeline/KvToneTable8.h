// The fixed 8-bit tone table of the development's tone stage: three rising curves from 0 to 255.
#pragma once

#include "platform/win/wintypes.h"

#include <array>

const std::array<std::array<WORD, 256>, 3>& KvFixedToneTable8();
