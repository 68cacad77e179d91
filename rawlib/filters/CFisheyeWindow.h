// The source pixels one fisheye tile reads, and the radial cubic interpolation over them. The window covers
// the source area the tile needs with one pixel more before and two after on each axis; where it reaches past
// the picture it repeats the nearest edge pixel. Pixels are three samples of 8 or 16 bits.
#pragma once

#include "CFisheyeGeometry.h"
#include "platform/pravon/PravonTypes.h"
#include "platform/win/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CFisheyeWindow {
public:
    // The largest window made, in pixels; a tile whose source area is larger (only tables that throw nearby
    // pixels far apart ask for that) reads every pixel through the caller's fallback instead.
    static constexpr std::size_t kMaxPixels = std::size_t(1) << 22;
    // How far the interpolation reaches from the source pixel a position falls in: the 4 x 4 pixels from one
    // before to two after on each axis.
    static constexpr LONG kReachBefore = 1;
    static constexpr LONG kReachAfter = 2;

    // The 16 weights of the source pixels around (i0 + fx, j0 + fy), 0 <= fx, fy < 1: row by row from j0 - 1,
    // column by column from i0 - 1, each the cubic kernel (a = -0.5) of the pixel's distance.
    struct Weights {
        double w[16];
        double sum;
    };
    static Weights WeightsAt(double fx, double fy);
    // The kernel at distance s: 1.5s³ - 2.5s² + 1 below 1, -0.5s³ + 2.5s² - 4s + 2 below 2, else 0.
    static double Kernel(double s) {
        if (s < 1)
            return 1.5 * s * s * s - 2.5 * s * s + 1;
        if (s < 2)
            return -0.5 * s * s * s + 2.5 * s * s - 4 * s + 2;
        return 0;
    }
    // The weighted mean of 16 samples, cut to a whole number (a mean short of one by no more than rounding
    // counts as that number) and held to [0, maximum].
    static unsigned Resolve(const double* samples, const Weights& weights, unsigned maximum);

    // Makes the window over `area` (inside a picture of width x height) for samples of bytesPerSample bytes.
    // False when the window would exceed kMaxPixels or memory runs out; the window is then empty. The
    // memory of an earlier window is used again where it is large enough, and a new window's pixels are
    // undefined until filled.
    bool Reset(const PravonRect& area, LONG width, LONG height, int bytesPerSample);
    // The part of the window inside the picture, which the caller fills through At, row by row.
    const PravonRect& GetPicturePart() const { return m_picturePart; }
    // The window's bytes of picture pixel (x, y), which must lie in the picture part.
    BYTE* At(LONG x, LONG y) {
        return Bytes() + (static_cast<std::size_t>(y - m_top) * m_columns + (x - m_left)) * m_pixelBytes;
    }
    // Once the picture part is filled: repeats its edge pixels over the rest of the window.
    void RepeatEdges();

    // Whether the window holds no pixels (it was never made, or could not be).
    bool IsEmpty() const { return m_units == 0; }
    // The bytes the window keeps for its pixels, for a caller that keeps it from tile to tile.
    std::size_t GetCapacityBytes() const { return m_capacity * sizeof(std::uint16_t); }
    // Whether the 4 x 4 pixels around column i0 and row j0 all lie in the window.
    bool Covers(LONG i0, LONG j0) const {
        return m_units != 0 && i0 - kReachBefore >= m_left && i0 + kReachAfter < m_left + m_columns &&
               j0 - kReachBefore >= m_top && j0 + kReachAfter < m_top + m_rows;
    }
    // Interpolates the pixel at (i0 + fx, j0 + fy) from the window into `out` (three samples of the window's
    // width); the window must cover (i0, j0).
    void Interpolate(LONG i0, LONG j0, const Weights& weights, BYTE* out) const;

    // Remaps output pixels x0 ... x1 - 1 of row y into `out` (pixel x0 of the row) through the geometry's
    // radial map: a pixel whose source lies outside the picture is left as it is, one whose 4 x 4 source
    // pixels leave the window is added to `missed` for the caller. Four pixels at a time with AVX2 and fused
    // multiply-add where the processor has them (CpuFeatures), eight at a time with AVX-512, two at a time
    // with SSE2 otherwise and one at a time for what is left of a row; all give the same bytes.
    void RemapRow(const CFisheyeGeometry& geometry, LONG y, LONG x0, LONG x1, BYTE* out,
                  std::vector<LONG>& missed) const;

    // Where the window's pixels lie, for the row routines: pixel (x, y) of the window starts at sample
    // ((y - top) * columns + (x - left)) * 3 of `samples`.
    struct Layout {
        const void* samples;
        LONG left;
        LONG top;
        LONG columns;
        LONG rows;
    };
    Layout GetLayout() const { return {m_storage.get(), m_left, m_top, m_columns, m_rows}; }

private:
    template <class Sample>
    void InterpolateSamples(LONG i0, LONG j0, const Weights& weights, Sample* out) const;
    template <class Sample>
    void RemapPlain(const CFisheyeGeometry& geometry, LONG y, LONG x0, LONG x1, Sample* out,
                    std::vector<LONG>& missed) const;

    BYTE* Bytes() { return reinterpret_cast<BYTE*>(m_storage.get()); }

    // 16-bit units, so that 16-bit samples are read as what they are; 8-bit ones are read as bytes. Each
    // pixel is written before it is read, so the units are left unset when made.
    std::unique_ptr<std::uint16_t[]> m_storage;
    std::size_t m_units = 0;
    std::size_t m_capacity = 0;
    PravonRect m_picturePart;
    LONG m_left = 0;
    LONG m_top = 0;
    LONG m_columns = 0;
    LONG m_rows = 0;
    int m_bytesPerSample = 1;
    int m_pixelBytes = 3;
};
