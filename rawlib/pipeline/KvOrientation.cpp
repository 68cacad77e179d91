#include "KvOrientation.h"

#include "filters/CPravonFilterTransform.h"

#include <cmath>

namespace {

constexpr double kFullTurn = 360.0;

double Normalised(double angle) {
    return std::isfinite(angle) ? CPravonFilterTransform::ValidateRotation(angle) : 0.0;
}

} // namespace

KvOrientation KvOrientation::FromCode(LONG code) {
    // Index by code: 1 = none, 2 mirrored, 3 = 180, 4 = 180 mirrored, 5 = 270 mirrored, 6 = 270, 7 = 90
    // mirrored, 8 = 90.
    static constexpr double kAngles[9] = {0, 0, 0, 180, 180, 270, 270, 90, 90};
    static constexpr bool kFlips[9] = {false, false, true, false, true, true, false, true, false};
    if (code < 1 || code > 8)
        return {};
    return {kFlips[code], kAngles[code]};
}

LONG KvOrientation::ToCode() const {
    if (angle == 0.0)
        return flip ? 2 : 1;
    if (angle == 180.0)
        return flip ? 4 : 3;
    if (angle == 270.0)
        return flip ? 5 : 6;
    if (angle == 90.0)
        return flip ? 7 : 8;
    return 1;
}

KvOrientation KvOrientation::Of(bool flip, double angle) {
    return {flip, Normalised(angle)};
}

// A counter-clockwise turn followed by a mirror is the mirror followed by the same angle clockwise; without
// the mirror the clockwise angle is the rest of the full turn.
double KvOrientation::TransformRotation() const {
    return flip ? angle : Normalised(kFullTurn - angle);
}

KvOrientation KvOrientation::FromTransform(bool flip, double clockwise) {
    return Of(flip, flip ? clockwise : kFullTurn - clockwise);
}

KvOrientation KvOrientation::Then(const KvOrientation& next) const {
    bool combinedFlip = flip;
    double combined = TransformRotation();
    CPravonFilterTransform::DoStateTransform(&combinedFlip, &combined, next.flip, next.TransformRotation(),
                                             true);
    return FromTransform(combinedFlip, combined);
}

KvOrientation KvOrientation::Inverse() const {
    // A mirrored orientation undoes itself; a plain turn is undone by the rest of the full turn.
    return flip ? *this : Of(false, kFullTurn - angle);
}
