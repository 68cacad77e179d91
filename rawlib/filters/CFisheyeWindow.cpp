#include "CFisheyeWindow.h"

#include "platform/win/CpuFeatures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <new>

namespace {

// How far below a whole number a mean may fall by rounding and still count as that number: a flat area
// weighs equal samples, whose mean can come out a few units in the last place short of their value.
constexpr double kRoundingGuard = 1e-7;

// A weighted mean cut to a whole number and held to [0, maximum]; a mean that is no number (weights that
// cancel out) comes out as 0.
unsigned Held(double sum, double weightSum, unsigned maximum) {
    const double mean = sum / weightSum + kRoundingGuard;
    if (!(mean >= 1))
        return 0;
    return mean >= maximum ? maximum : static_cast<unsigned>(mean);
}

template <class Sample>
constexpr unsigned kMaximum = sizeof(Sample) == 1 ? 255 : 65535;

} // namespace

CFisheyeWindow::Weights CFisheyeWindow::WeightsAt(double fx, double fy) {
    // Written as loops without branches over all 16 pixels, so that the compiler can run them side by side;
    // each weight is the kernel's own expression, and the sum is taken in order.
    double dx2[4], dy2[4];
    for (int k = 0; k < 4; ++k) {
        const double dx = fx - (k - 1);
        const double dy = fy - (k - 1);
        dx2[k] = dx * dx;
        dy2[k] = dy * dy;
    }
    double s[16];
    for (int k = 0; k < 16; ++k)
        s[k] = std::sqrt(dx2[k % 4] + dy2[k / 4]);
    Weights weights;
    for (int k = 0; k < 16; ++k) {
        const double d = s[k];
        const double near = 1.5 * d * d * d - 2.5 * d * d + 1;
        const double far = -0.5 * d * d * d + 2.5 * d * d - 4 * d + 2;
        weights.w[k] = d < 1 ? near : d < 2 ? far : 0.0;
    }
    double sum = 0;
    for (int k = 0; k < 16; ++k)
        sum += weights.w[k];
    weights.sum = sum;
    return weights;
}

unsigned CFisheyeWindow::Resolve(const double* samples, const Weights& weights, unsigned maximum) {
    double sum = 0;
    for (int k = 0; k < 16; ++k)
        sum += weights.w[k] * samples[k];
    return Held(sum, weights.sum, maximum);
}

bool CFisheyeWindow::Reset(const PravonRect& area, LONG width, LONG height, int bytesPerSample) {
    m_storage.clear();
    m_bytesPerSample = bytesPerSample;
    m_pixelBytes = 3 * bytesPerSample;
    m_left = area.left - kReachBefore;
    m_top = area.top - kReachBefore;
    m_columns = std::max<LONG>(area.right - area.left, 0) + kReachBefore + kReachAfter;
    m_rows = std::max<LONG>(area.bottom - area.top, 0) + kReachBefore + kReachAfter;
    m_picturePart = {std::max<LONG>(m_left, 0), std::max<LONG>(m_top, 0), std::min(m_left + m_columns, width),
                     std::min(m_top + m_rows, height)};
    const std::uint64_t pixels = static_cast<std::uint64_t>(m_columns) * static_cast<std::uint64_t>(m_rows);
    if (m_picturePart.right <= m_picturePart.left || m_picturePart.bottom <= m_picturePart.top ||
        pixels > kMaxPixels) {
        m_picturePart = {};
        return false;
    }
    try {
        m_storage.assign((static_cast<std::size_t>(pixels) * m_pixelBytes + 1) / 2, 0);
    } catch (const std::bad_alloc&) {
        m_picturePart = {};
        return false;
    }
    return true;
}

void CFisheyeWindow::RepeatEdges() {
    if (m_storage.empty())
        return;
    const PravonRect& p = m_picturePart;
    const std::size_t bytes = static_cast<std::size_t>(m_pixelBytes);
    // Left and right of the picture part on its own rows, then whole rows above and below it.
    for (LONG y = p.top; y < p.bottom; ++y) {
        const BYTE* first = At(p.left, y);
        const BYTE* last = At(p.right - 1, y);
        for (LONG x = m_left; x < p.left; ++x)
            std::memcpy(At(x, y), first, bytes);
        for (LONG x = p.right; x < m_left + m_columns; ++x)
            std::memcpy(At(x, y), last, bytes);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(m_columns) * bytes;
    for (LONG y = m_top; y < p.top; ++y)
        std::memcpy(At(m_left, y), At(m_left, p.top), rowBytes);
    for (LONG y = p.bottom; y < m_top + m_rows; ++y)
        std::memcpy(At(m_left, y), At(m_left, p.bottom - 1), rowBytes);
}

template <class Sample>
void CFisheyeWindow::InterpolateSamples(LONG i0, LONG j0, const Weights& weights, Sample* out) const {
    const std::size_t stride = static_cast<std::size_t>(m_columns) * 3;
    const Sample* row = reinterpret_cast<const Sample*>(m_storage.data()) +
                        static_cast<std::size_t>(j0 - 1 - m_top) * stride +
                        static_cast<std::size_t>(i0 - 1 - m_left) * 3;
    double sums[3] = {0, 0, 0};
    for (int n = 0; n < 4; ++n, row += stride) {
        const double* w = weights.w + n * 4;
        for (int m = 0; m < 4; ++m) {
            sums[0] += w[m] * row[m * 3];
            sums[1] += w[m] * row[m * 3 + 1];
            sums[2] += w[m] * row[m * 3 + 2];
        }
    }
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<Sample>(Held(sums[c], weights.sum, kMaximum<Sample>));
}

void CFisheyeWindow::Interpolate(LONG i0, LONG j0, const Weights& weights, BYTE* out) const {
    if (m_bytesPerSample == 1)
        InterpolateSamples(i0, j0, weights, out);
    else
        InterpolateSamples(i0, j0, weights, reinterpret_cast<std::uint16_t*>(out));
}

template <class Sample>
void CFisheyeWindow::RemapPlain(const CFisheyeGeometry& geometry, LONG y, LONG x0, LONG x1, Sample* out,
                                std::vector<LONG>& missed) const {
    const double width = geometry.GetWidth(), height = geometry.GetHeight();
    for (LONG x = x0; x < x1; ++x, out += 3) {
        double sx = x, sy = y;
        geometry.Map(sx, sy);
        if (!(sx >= 0 && sx < width && sy >= 0 && sy < height))
            continue;
        const LONG i0 = static_cast<LONG>(sx), j0 = static_cast<LONG>(sy);
        if (Covers(i0, j0))
            InterpolateSamples(i0, j0, WeightsAt(sx - i0, sy - j0), out);
        else
            missed.push_back(x);
    }
}

// The AVX2 path: every lane is one output pixel and does the plain path's operations in the plain path's
// order (no fused multiply-add), so both give the same bytes.
#define KV_AVX2 __attribute__((target("avx2")))

namespace {

// Four pixels whose 4 x 4 source pixels all lie in the window.
template <class Sample>
KV_AVX2 void Avx2Four(const CFisheyeWindow::Layout& layout, const LONG* i0, const LONG* j0, const double* fx,
                      const double* fy, Sample* const* out) {
    const __m256d vfx = _mm256_loadu_pd(fx), vfy = _mm256_loadu_pd(fy);
    __m256d dx2[4], dy2[4];
    for (int k = 0; k < 4; ++k) {
        const __m256d offset = _mm256_set1_pd(k - 1);
        const __m256d dx = _mm256_sub_pd(vfx, offset), dy = _mm256_sub_pd(vfy, offset);
        dx2[k] = _mm256_mul_pd(dx, dx);
        dy2[k] = _mm256_mul_pd(dy, dy);
    }
    const std::size_t stride = static_cast<std::size_t>(layout.columns) * 3;
    // Each lane's first sample, counted from the window's start.
    auto firstSample = [&](int k) {
        return static_cast<std::size_t>(j0[k] - 1 - layout.top) * stride +
               static_cast<std::size_t>(i0[k] - 1 - layout.left) * 3;
    };
    const std::size_t base[4] = {firstSample(0), firstSample(1), firstSample(2), firstSample(3)};
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0);
    const __m256d c15 = _mm256_set1_pd(1.5), c25 = _mm256_set1_pd(2.5), cm05 = _mm256_set1_pd(-0.5),
                  c4 = _mm256_set1_pd(4.0);
    __m256d weightSum = zero;
    __m256d sums[3] = {zero, zero, zero};
    for (int n = 0; n < 4; ++n) {
        for (int m = 0; m < 4; ++m) {
            const __m256d d = _mm256_sqrt_pd(_mm256_add_pd(dx2[m], dy2[n]));
            const __m256d d2 = _mm256_mul_pd(_mm256_mul_pd(c25, d), d);
            const __m256d nearK = _mm256_add_pd(
                _mm256_sub_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(c15, d), d), d), d2), one);
            const __m256d farK = _mm256_add_pd(
                _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(cm05, d), d), d), d2),
                              _mm256_mul_pd(c4, d)),
                two);
            const __m256d w =
                _mm256_blendv_pd(_mm256_blendv_pd(zero, farK, _mm256_cmp_pd(d, two, _CMP_LT_OQ)), nearK,
                                 _mm256_cmp_pd(d, one, _CMP_LT_OQ));
            weightSum = _mm256_add_pd(weightSum, w);
            const std::size_t at = static_cast<std::size_t>(n) * stride + static_cast<std::size_t>(m) * 3;
            for (int c = 0; c < 3; ++c) {
                const Sample* sp = static_cast<const Sample*>(layout.samples) + at + c;
                const __m256d samples =
                    _mm256_cvtepi32_pd(_mm_setr_epi32(sp[base[0]], sp[base[1]], sp[base[2]], sp[base[3]]));
                sums[c] = _mm256_add_pd(sums[c], _mm256_mul_pd(w, samples));
            }
        }
    }
    const __m256d guard = _mm256_set1_pd(kRoundingGuard);
    const __m256d maximum = _mm256_set1_pd(kMaximum<Sample>);
    for (int c = 0; c < 3; ++c) {
        // max(mean, 0) also turns a mean that is no number into 0, as the plain path does.
        const __m256d mean = _mm256_add_pd(_mm256_div_pd(sums[c], weightSum), guard);
        alignas(16) std::int32_t held[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(held),
                        _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(mean, zero), maximum)));
        for (int k = 0; k < 4; ++k)
            out[k][c] = static_cast<Sample>(held[k]);
    }
}

// Pixels x0 ... of the row four at a time, as far as whole fours go; returns the first pixel left over.
template <class Sample>
KV_AVX2 LONG Avx2Row(const CFisheyeWindow& window, const CFisheyeGeometry& geometry, LONG y, LONG x0, LONG x1,
                     Sample* out, std::vector<LONG>& missed) {
    const CFisheyeWindow::Layout layout = window.GetLayout();
    const double* table = geometry.GetTable();
    const __m256d cx = _mm256_set1_pd(geometry.GetCentreX()), cy = _mm256_set1_pd(geometry.GetCentreY());
    const __m256d radius = _mm256_set1_pd(geometry.GetRadius());
    const __m256d width = _mm256_set1_pd(geometry.GetWidth()), height = _mm256_set1_pd(geometry.GetHeight());
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    const __m256d lastEntry = _mm256_set1_pd(CFisheyeGeometry::kLastEntry);
    const __m256d lastValue = _mm256_set1_pd(table[CFisheyeGeometry::kLastEntry]);
    const __m256d dy = _mm256_sub_pd(_mm256_set1_pd(y), cy);
    LONG x = x0;
    for (; x + 4 <= x1; x += 4, out += 12) {
        const __m256d dx = _mm256_sub_pd(_mm256_setr_pd(x, x + 1, x + 2, x + 3), cx);
        const __m256d r = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)));
        // The table at 4095 r / R; a lane at or past the last entry (or with no number) takes the last entry.
        const __m256d u = _mm256_div_pd(_mm256_mul_pd(lastEntry, r), radius);
        const __m256d inTable = _mm256_cmp_pd(u, lastEntry, _CMP_LT_OQ);
        const __m256d used = _mm256_blendv_pd(zero, u, inTable);
        const __m128i entry = _mm256_cvttpd_epi32(used);
        const __m256d below = _mm256_i32gather_pd(table, entry, 8);
        const __m256d above = _mm256_i32gather_pd(table + 1, entry, 8);
        const __m256d f = _mm256_sub_pd(used, _mm256_cvtepi32_pd(entry));
        const __m256d v = _mm256_blendv_pd(
            lastValue, _mm256_add_pd(_mm256_mul_pd(below, _mm256_sub_pd(one, f)), _mm256_mul_pd(above, f)),
            inTable);
        const __m256d atCentre = _mm256_cmp_pd(r, zero, _CMP_EQ_OQ);
        const __m256d sx = _mm256_blendv_pd(
            _mm256_add_pd(cx, _mm256_div_pd(_mm256_mul_pd(_mm256_mul_pd(dx, v), radius), r)), cx, atCentre);
        const __m256d sy = _mm256_blendv_pd(
            _mm256_add_pd(cy, _mm256_div_pd(_mm256_mul_pd(_mm256_mul_pd(dy, v), radius), r)), cy, atCentre);
        const __m256d inside = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(sx, zero, _CMP_GE_OQ), _mm256_cmp_pd(sx, width, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(sy, zero, _CMP_GE_OQ), _mm256_cmp_pd(sy, height, _CMP_LT_OQ)));
        const int insideLanes = _mm256_movemask_pd(inside);
        if (insideLanes == 0)
            continue;
        alignas(32) double px[4], py[4];
        _mm256_store_pd(px, sx);
        _mm256_store_pd(py, sy);
        LONG i0[4], j0[4];
        double fx[4], fy[4];
        bool all = insideLanes == 0xF;
        for (int k = 0; k < 4; ++k) {
            if (!(insideLanes & (1 << k)))
                continue;
            i0[k] = static_cast<LONG>(px[k]);
            j0[k] = static_cast<LONG>(py[k]);
            fx[k] = px[k] - i0[k];
            fy[k] = py[k] - j0[k];
            all = all && window.Covers(i0[k], j0[k]);
        }
        if (all) {
            Sample* const pixels[4] = {out, out + 3, out + 6, out + 9};
            Avx2Four(layout, i0, j0, fx, fy, pixels);
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            if (!(insideLanes & (1 << k)))
                continue;
            if (window.Covers(i0[k], j0[k]))
                window.Interpolate(i0[k], j0[k], CFisheyeWindow::WeightsAt(fx[k], fy[k]),
                                   reinterpret_cast<BYTE*>(out + 3 * k));
            else
                missed.push_back(x + k);
        }
    }
    return x;
}

} // namespace

void CFisheyeWindow::RemapRow(const CFisheyeGeometry& geometry, LONG y, LONG x0, LONG x1, BYTE* out,
                              std::vector<LONG>& missed) const {
    const bool simd = CpuHas(CpuFeature::kAVX2);
    if (m_bytesPerSample == 1) {
        const LONG rest = simd ? Avx2Row(*this, geometry, y, x0, x1, out, missed) : x0;
        RemapPlain(geometry, y, rest, x1, out + 3 * static_cast<std::size_t>(rest - x0), missed);
    } else {
        auto* wide = reinterpret_cast<std::uint16_t*>(out);
        const LONG rest = simd ? Avx2Row(*this, geometry, y, x0, x1, wide, missed) : x0;
        RemapPlain(geometry, y, rest, x1, wide + 3 * static_cast<std::size_t>(rest - x0), missed);
    }
}
