#include "PravonTypes.h"

bool operator==(const PravonPalette& a, const PravonPalette& b) {
    if (a.count != b.count)
        return false;
    for (LONG i = 0; i < a.count && i < 256; ++i) {
        const auto& x = a.entries[i];
        const auto& y = b.entries[i];
        if (x.blue != y.blue || x.green != y.green || x.red != y.red || x.reserved != y.reserved)
            return false;
    }
    return true;
}
