// The lens model of the vignette correction: three circular stops on the optical axis (the aperture, a
// front and a rear stop), each a distance from the image plane and a radius in millimetres. Seen from an
// image point off the axis, the front and rear stops project onto the aperture plane as circles moved off
// the axis; the light reaching the point is the area the three circles have in common, times the natural
// fall-off (D0^2 / (D0^2 + r^2))^2.
#pragma once

#include "platform/win/wintypes.h"

#include <array>
#include <vector>

class CVignetteLensModel {
public:
    // The lens data's descriptor: three pairs of a signed and an unsigned byte.
    static constexpr std::size_t kDescriptorSize = 6;
    using Descriptor = std::array<BYTE, kDescriptorSize>;

    // A stop: its distance from the image plane and its radius.
    struct Stop {
        double distance = 0;
        double radius = 0;
    };
    // A circle on the aperture plane whose centre lies on the line from the axis towards the image point.
    struct Disc {
        double centre = 0;
        double radius = 0;
    };

    // Without a descriptor, or with one whose signed bytes include a 0 (a stop at an infinite distance),
    // the stops of the standard lens: the aperture at 38 with a lens f-number of 1, a front stop at 47.6 of
    // radius 23.8, a rear stop at 28.4 of radius 14.2. With a descriptor, pair k (c, d) puts stop k at 2000
    // / c; pair 0 gives the lens f-number 2^(d / 24), pairs 1 and 2 the radii |distance / 2^((d - 48) /
    // 24)|. The aperture's radius is |distance / N / 2|, N the larger of the lens and the set f-number.
    CVignetteLensModel(const Descriptor* descriptor, double fNumber);

    bool UsesStandardStops() const { return m_standard; }
    double GetLensFNumber() const { return m_lensFNumber; }
    // 0 the aperture, 1 the front stop, 2 the rear stop (as the descriptor orders them).
    const Stop& GetStop(int k) const { return m_stops[static_cast<std::size_t>(k)]; }

    // The three circles as seen from the image point radius millimetres off the axis: the aperture, then
    // the projections of the other two stops.
    std::array<Disc, 3> DiscsAt(double radius) const;
    // The light reaching the image point radius millimetres off the axis, in square millimetres.
    double Illumination(double radius) const;

    // The area common to three discs whose centres lie on one line.
    static double CommonArea(const std::array<Disc, 3>& discs);

private:
    std::array<Stop, 3> m_stops;
    double m_lensFNumber = 1;
    bool m_standard = true;
};
