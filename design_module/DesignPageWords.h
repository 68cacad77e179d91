// The size words of a design's page record: the longer side of the page gets 65535 and the shorter side
// its share of it, truncated toward zero; a square page (0 x 0 among them) gets 65535 for both.
#pragma once

#include "platform/win/wintypes.h"

namespace designpages {

constexpr DWORD kFullSideWord = 0xFFFF;

// False, with the words untouched, for a size that cannot be a page's: negative, NaN or infinite.
bool PageSizeWords(double width, double height, DWORD& widthWord, DWORD& heightWord);

} // namespace designpages
