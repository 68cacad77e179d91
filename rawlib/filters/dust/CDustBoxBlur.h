// Blurs a dust reference for an image shot at a wider aperture than the reference: a box filter whose size
// follows from the aperture, with half weights on the two samples just outside the core of an even size,
// positions outside the image read from its nearest edge pixel, and a count of the dark pixels it leaves.
#pragma once

#include "platform/pravon/IPravonDataSource.h"

#include <cstdint>
#include <vector>

class CDustBoxBlur {
public:
    // Outputs below this level are dust shadows.
    static constexpr LONG kDarkLevel = 124;

    // ⌊1000 x D / (N x pitch) + 0.5⌋ pixels, at least 1.
    static LONG BoxSize(double distance, double fNumber, double pitch);

    void SetUp(LONG boxWidth, LONG boxHeight);
    LONG GetBoxWidth() const { return m_width.size; }
    LONG GetBoxHeight() const { return m_height.size; }
    // Half-width (n - 1) / 2 of each axis and whether it is even.
    LONG GetHalfWidth() const { return m_width.half; }
    LONG GetHalfHeight() const { return m_height.half; }
    bool IsWidthEven() const { return m_width.even; }
    bool IsHeightEven() const { return m_height.even; }
    LONG GetArea() const { return m_width.size * m_height.size; }

    // Blurs the output rectangle of the source into `out`, `stride` bytes a row, and adds the outputs below
    // the dark level to `darkCount`.
    IPravonError* Process(IPravonDataSource* source, const PravonRect& rect, BYTE* out, std::size_t stride,
                          std::int64_t* darkCount);
    void Release();

private:
    struct Axis {
        LONG size = 1;
        LONG half = 0;
        bool even = false;
        // How far the box reaches beyond the pixel: the core and, for an even size, one half-weighted sample.
        LONG Reach() const { return half + (even ? 1 : 0); }
        LONG Scale() const { return even ? 2 : 1; }
    };
    static Axis MakeAxis(LONG size);

    Axis m_width;
    Axis m_height;
    std::vector<BYTE> m_window;
    std::vector<std::int64_t> m_columnCore;
    std::vector<std::int64_t> m_columnTotal;
};
