// The EXIF orientation codes as their definition gives them, the tests' reference for orientations: where
// each code stands a stored pixel once the picture is shown upright, and the code of two codes in turn.
#pragma once

#include "platform/win/wintypes.h"

#include <initializer_list>

namespace kvtest {

struct ExifPoint {
    LONG x, y;
    bool operator==(const ExifPoint&) const = default;
};

inline bool ExifExchangesSides(LONG code) {
    return code >= 5 && code <= 8;
}

// Where the stored pixel (x, y) of a w x h picture stands upright for the code (the row and column that the
// code says hold the visual top and left).
inline ExifPoint ExifUpright(LONG code, ExifPoint p, LONG w, LONG h) {
    switch (code) {
    case 2: // mirrored left to right
        return {w - 1 - p.x, p.y};
    case 3: // upside down
        return {w - 1 - p.x, h - 1 - p.y};
    case 4: // mirrored top to bottom
        return {p.x, h - 1 - p.y};
    case 5: // mirrored along the main diagonal
        return {p.y, p.x};
    case 6: // turned a quarter clockwise
        return {h - 1 - p.y, p.x};
    case 7: // mirrored along the other diagonal
        return {h - 1 - p.y, w - 1 - p.x};
    case 8: // turned a quarter counter-clockwise
        return {p.y, w - 1 - p.x};
    default:
        return p;
    }
}

// The code that stands pixels where `first` and then `second` do; 0 when none does.
inline LONG ExifThen(LONG first, LONG second) {
    constexpr LONG w = 5, h = 3;
    for (LONG code = 1; code <= 8; ++code) {
        bool same = true;
        for (const ExifPoint p : {ExifPoint{0, 0}, ExifPoint{w - 1, 0}, ExifPoint{1, h - 1}}) {
            const ExifPoint between = ExifUpright(first, p, w, h);
            const ExifPoint after = ExifExchangesSides(first) ? ExifUpright(second, between, h, w)
                                                              : ExifUpright(second, between, w, h);
            same = same && after == ExifUpright(code, p, w, h);
        }
        if (same)
            return code;
    }
    return 0;
}

} // namespace kvtest
