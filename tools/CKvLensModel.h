// The lens file's tables made from a documented lens model, and the file's bytes, whole or damaged on
// purpose for tests.
//
// A lens is a projection with a diagonal field of view: a ray at angle θ from the axis lands at image radius
// r(θ), normalised so that half the field of view reaches the half diagonal. The projections are
//   rectilinear r = tan θ, equidistant r = θ, equisolid r = 2 sin(θ/2), orthographic r = sin θ,
//   stereographic r = 2 tan(θ/2).
// The lens file corrects a fisheye picture into two views, each again a projection with a diagonal field of
// view: the first into tables A and C, the second into B and D. Table A (B) gives, for the output radius
// i / 4095 of the view, the source radius that sees the same ray; C (D) the other way round. Source radii
// whose rays the view cannot show (beyond 90° for a rectilinear view) map to kBeyondView.
#pragma once

#include "rawlib/settings/CKvLensInformation.h"

#include <array>
#include <string>
#include <vector>

class CKvLensModel {
public:
    enum class Projection { kRectilinear, kEquidistant, kEquisolid, kOrthographic, kStereographic };

    struct View {
        Projection projection;
        double fieldOfView; // diagonal, in degrees
    };

    // The normalised output radius of a source ray that a view cannot show: far outside any picture.
    static constexpr double kBeyondView = 16.0;

    struct Parameters {
        View lens{Projection::kEquidistant, 180.0};
        View first{Projection::kRectilinear, 140.0};
        View second{Projection::kStereographic, 180.0};
        // Every table maps a radius to itself (the lens and views are then ignored).
        bool identity = false;
        // Adds ripple * sin(10π u) to tables A and B at radius u, for tests that need tables which are not
        // monotonic; 0 adds nothing.
        double ripple = 0.0;
        BYTE lensModel = CKvLensInformation::kFisheyeLens;
    };

    // Departures from a whole lens file, for tests of its readers. Negative values and false change nothing.
    struct Damage {
        long long cut = -1;     // keep only this many bytes
        long long extra = -1;   // append this many bytes
        long long version = -1; // store this version
        long long length = -1;  // store this in the length field
        bool otherId = false;   // store the id in its other form, which readers take as well
    };

    // Empty when the parameters describe a lens and two views; otherwise what is wrong with them.
    static std::string Check(const Parameters& parameters);
    // The four tables, A to D, of kTableLength entries each; the parameters must pass Check.
    static std::array<std::vector<double>, CKvLensInformation::kTableCount>
    Tables(const Parameters& parameters);
    // The lens file's bytes, whole or damaged.
    static std::vector<BYTE> FileBytes(const Parameters& parameters);
    static std::vector<BYTE> FileBytes(const Parameters& parameters, const Damage& damage);

    static const char* Name(Projection projection);
    // "equidistant" and so on; false for a name that is none of them.
    static bool ParseProjection(const std::string& name, Projection* projection);
};
