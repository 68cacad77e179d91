#include "DesignPageWords.h"

#include <cmath>

bool designpages::PageSizeWords(double width, double height, DWORD& widthWord, DWORD& heightWord) {
    if (!std::isfinite(width) || !std::isfinite(height) || width < 0.0 || height < 0.0)
        return false;
    if (width == height) {
        widthWord = heightWord = kFullSideWord;
        return true;
    }
    const bool wide = width > height;
    const double longer = wide ? width : height;
    const double shorter = wide ? height : width;
    // Below 65535 for a shorter side, so the cast cannot overflow.
    const auto share = static_cast<DWORD>(std::trunc(kFullSideWord * shorter / longer));
    widthWord = wide ? kFullSideWord : share;
    heightWord = wide ? share : kFullSideWord;
    return true;
}
