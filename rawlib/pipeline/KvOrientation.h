// The picture's orientation as the exported records, the settings and the source's tags give it: a turn
// counter-clockwise by `angle` degrees, then a left-to-right mirror when `flip` is set. That is the
// convention of the EXIF orientation codes: code 6 (270 degrees) stands upright after a clockwise quarter
// turn. The transform stage mirrors first and then turns clockwise; conversions and the combination of two
// orientations go through its terms.
#pragma once

#include "platform/win/wintypes.h"

struct KvOrientation {
    bool flip = false;
    double angle = 0.0; // degrees counter-clockwise, in [0, 360)

    // Codes 1 to 8; any other code is no turn and no mirror.
    static KvOrientation FromCode(LONG code);
    // 1 for an angle that is not a quarter turn.
    LONG ToCode() const;
    // Any finite angle brought into [0, 360); one that is not finite counts as 0.
    static KvOrientation Of(bool flip, double angle);

    bool IsNone() const { return !flip && angle == 0.0; }
    // The width and height of the picture change places.
    bool ExchangesSides() const { return angle == 90.0 || angle == 270.0; }

    // The clockwise angle that the transform stage, which mirrors first, turns by for this orientation.
    double TransformRotation() const;
    static KvOrientation FromTransform(bool flip, double clockwise);

    // This orientation and then `next` on top of it.
    KvOrientation Then(const KvOrientation& next) const;
    // What undoes this orientation.
    KvOrientation Inverse() const;

    bool operator==(const KvOrientation&) const = default;
};
