#include "CKvTolmoScaleSplit.h"

#include <algorithm>

namespace {

// Below this many pixels on the short side, the first reduction stops and leaves the rest to the second,
// so that the reductions after the turn still see enough of the picture.
constexpr double kSmallestFirstReduction = 150.0;

} // namespace

bool CKvTolmoScaleSplit::Compute(const Input& in, CKvTolmoScaleSplit* split) {
    *split = CKvTolmoScaleSplit{};
    const double s = in.scale, k = in.settingsScale;
    double reduce = 1.0, firstEnlarge = 1.0, enlarge = 1.0;
    if (s > 1 && k > 1) {
        firstEnlarge = std::min(s, k);
        enlarge = s;
    } else {
        reduce = std::min(s, k);
        enlarge = s > k ? s / k : 1.0;
    }
    double aspect = in.aspect;
    if (reduce != 1.0 || (in.fisheye && aspect != 1.0)) {
        if (in.width <= 0 || in.height <= 0)
            return false;
        const double shortSide = std::min(in.width, in.height);
        double s13 = reduce, rest = 1.0;
        if (shortSide * reduce < kSmallestFirstReduction) {
            s13 = kSmallestFirstReduction / shortSide;
            rest = reduce / s13;
        }
        split->firstReduction = s13;
        const bool toSize = !in.cropped && rest == 1.0 && enlarge == 1.0;
        Stage& first = split->first;
        first.enabled = true;
        if (aspect == 1.0) {
            first.bySize = toSize;
            first.sx = first.sy = s13;
        } else if (1.0 / aspect <= reduce && !in.fisheye) {
            first.sx = s13;
            first.sy = 1.0;
        } else {
            first.bySize = toSize;
            first.sx = s13;
            first.sy = s13 * aspect;
            aspect = 1.0;
            split->aspectConsumedByFirst = true;
        }
        if (rest != 1.0) {
            Stage& second = split->second;
            second.enabled = true;
            if (aspect == 1.0) {
                second.bySize = enlarge == 1.0;
                second.sx = second.sy = rest;
            } else if (1.0 / aspect <= reduce) {
                second.sx = rest;
                second.sy = 1.0;
            } else {
                second.bySize = enlarge == 1.0;
                second.sx = rest;
                second.sy = rest * aspect;
                aspect = 1.0;
            }
        }
    }
    if (enlarge != 1.0) {
        const double q = enlarge / firstEnlarge;
        if (firstEnlarge != 1.0) {
            Stage& stage = split->enlarge;
            stage.enabled = true;
            stage.bySize = q == 1.0;
            stage.sx = stage.sy = firstEnlarge;
            if (q == 1.0)
                aspect = 1.0;
        }
        if (q != 1.0) {
            Stage& stage = split->enlargeToSize;
            stage.enabled = stage.bySize = true;
            stage.sx = stage.sy = q;
            aspect = 1.0;
        }
    }
    if (aspect != 1.0) {
        Stage& stage = split->aspectStage;
        stage.enabled = stage.bySize = true;
        stage.sy = aspect;
    }
    return true;
}
