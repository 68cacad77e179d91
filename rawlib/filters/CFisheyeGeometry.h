// The geometry of the fisheye remap over a source of width x height pixels: a point moves along its ray from
// the picture's centre to the radius a lens table gives for its own radius, both measured in half diagonals;
// a rectangle maps to the box of its mapped corners and of the points where it crosses the centre lines.
#pragma once

#include "platform/pravon/PravonTypes.h"
#include "platform/win/wintypes.h"

#include <cmath>

class CFisheyeGeometry {
public:
    static constexpr int kLastEntry = 4095;

    // `table` holds CKvLensInformation::kTableLength entries and must outlive the geometry.
    CFisheyeGeometry(const double* table, LONG width, LONG height);

    // The radial map of the point, which may land outside the picture (or, from a table holding
    // non-finite values, nowhere: NaN).
    void Map(double& x, double& y) const {
        const double dx = x - m_centreX;
        const double dy = y - m_centreY;
        const double r = std::sqrt(dx * dx + dy * dy);
        if (r == 0) {
            x = m_centreX;
            y = m_centreY;
            return;
        }
        // In the order the map is stated in, (cx, cy) + d v R / r, so that it can be checked to the last bit.
        const double v = TableAt(r);
        x = m_centreX + dx * v * m_radius / r;
        y = m_centreY + dy * v * m_radius / r;
    }
    // The radial map held to 0 <= x <= width and 0 <= y <= height; a point that lands nowhere is held to 0.
    void MapHeld(double& x, double& y) const;
    // The rectangle map: left and top cut down to whole pixels, right and bottom cut down and one added, all
    // held to the picture. Where the map is undefined the rectangle reaches to that edge of the picture.
    PravonDblRect MapRect(const PravonDblRect& rect) const;

    const double* GetTable() const { return m_table; }
    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    double GetCentreX() const { return m_centreX; }
    double GetCentreY() const { return m_centreY; }
    // The half diagonal, at least 1 so that a one-pixel picture divides by nothing smaller.
    double GetRadius() const { return m_radius; }

private:
    // The table at radius r (4095 r / R entries): interpolated linearly between its entries; from the last
    // entry on (and for a radius that is no number) the last entry.
    double TableAt(double r) const {
        const double u = kLastEntry * r / m_radius;
        if (!(u < kLastEntry))
            return m_table[kLastEntry];
        const int i = static_cast<int>(u);
        return m_table[i] * (1 - (u - i)) + m_table[i + 1] * (u - i);
    }

    const double* m_table;
    LONG m_width;
    LONG m_height;
    double m_centreX;
    double m_centreY;
    double m_radius;
};
