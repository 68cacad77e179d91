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
    m_units = 0;
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
    const std::size_t units = (static_cast<std::size_t>(pixels) * m_pixelBytes + 1) / 2;
    if (units > m_capacity) {
        m_storage.reset();
        m_capacity = 0;
        m_storage.reset(new (std::nothrow) std::uint16_t[units]);
        if (!m_storage) {
            m_picturePart = {};
            return false;
        }
        m_capacity = units;
    }
    m_units = units;
    return true;
}

void CFisheyeWindow::RepeatEdges() {
    if (m_units == 0)
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
    const Sample* row = reinterpret_cast<const Sample*>(m_storage.get()) +
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
// order, so both give the same bytes. It fuses a multiply and an add only where the fused result is the
// plain path's: where the product is exact (a power of two times a value, or a sum's exact parts), so that
// the one rounding left is the one the plain path makes. The processors it runs on all have both.
// The loops over taps, rows, pixels and channels of all SIMD paths are unrolled whole: kept as loops, they
// pass their vectors through memory and the paths spend more time there than on arithmetic.
#define KV_AVX2 __attribute__((target("avx2")))
#define KV_AVX2FMA __attribute__((target("avx2,fma")))

namespace {

// A value of the window's bytes at p, read without regard to alignment.
template <class Word, class Sample>
inline Word Load(const Sample* p) {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// Row n of a block (its four pixels' twelve samples) as 32-bit numbers: samples 0 to 7, then 8 to 11.
template <class Sample>
KV_AVX2 inline void Avx2WidenRow(const Sample* row, __m256i& front, __m128i& back) {
    if constexpr (sizeof(Sample) == 1) {
        front = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)));
        back = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(Load<std::int32_t>(row + 8)));
    } else {
        front = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
        back = _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 8)));
    }
}

// Four pixels' distances from the centre (dx across, r in all) and their place in the table.
struct FourReach {
    __m256d dx;
    __m256d r;
    __m256d u;
    __m256d sx;
    __m256d sy;
};

// Where four pixels read the window: each lane's first sample, its fractions, and the lanes written.
struct FourPlaces {
    alignas(16) std::int32_t base[4];
    __m256d fx;
    __m256d fy;
    unsigned covered;
};

// Whether tap (m, n) of a block is one of its four corners.
constexpr bool IsCorner(int m, int n) {
    return (m == 0 || m == 3) && (n == 0 || n == 3);
}

// Whether tap (m, n) is one of the four middle pixels: at most a pixel away along each axis, so at most a
// root of 2 in all, never 2 or more; and the only ones that can lie nearer than 1, the others being a whole
// pixel or more away along one axis.
constexpr bool IsMiddle(int m, int n) {
    return (m == 1 || m == 2) && (n == 1 || n == 2);
}

// The kernel's pieces at distance d on the AVX2 path, in the one-pixel routine's order: 2.5 d², then the
// far piece below 2 and the near piece below 1 from it.
KV_AVX2 inline __m256d Avx2Square25(__m256d d) {
    return _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(2.5), d), d);
}
// Halving and negating are exact, so ((-0.5 d) d) d is -0.5 ((d d) d) to the last bit, and the sum with
// 2.5 d² and the step by -4 d are the plain path's roundings when fused with their exact products.
KV_AVX2FMA inline __m256d Avx2Far(__m256d d, __m256d d2) {
    const __m256d cube = _mm256_mul_pd(_mm256_mul_pd(d, d), d);
    const __m256d rise = _mm256_fmadd_pd(cube, _mm256_set1_pd(-0.5), d2);
    return _mm256_add_pd(_mm256_fnmadd_pd(_mm256_set1_pd(4.0), d, rise), _mm256_set1_pd(2.0));
}
KV_AVX2 inline __m256d Avx2Near(__m256d d, __m256d d2) {
    const __m256d cube = _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(1.5), d), d), d);
    return _mm256_add_pd(_mm256_sub_pd(cube, d2), _mm256_set1_pd(1.0));
}

// The squared offsets of a four's positions from its source columns and rows. The distances made from them
// are worked out a four ahead of the interpolation that uses them: the roots take the divider long, and
// started early they run beside the previous four's sums.
struct FourSquares {
    __m256d dx2[4];
    __m256d dy2[4];
};
KV_AVX2 inline void Avx2Squares(const FourPlaces& p, FourSquares& squares) {
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        const __m256d offset = _mm256_set1_pd(k - 1);
        const __m256d dx = _mm256_sub_pd(p.fx, offset), dy = _mm256_sub_pd(p.fy, offset);
        squares.dx2[k] = _mm256_mul_pd(dx, dx);
        squares.dy2[k] = _mm256_mul_pd(dy, dy);
    }
}

// Row 0 ... 3 of the distances (the corners with row 0, then rows 1 to 3), so that the roots can be spread
// over the previous four's rows. The corners' entries hold their weights.
KV_AVX2FMA inline void Avx2Distances(const FourSquares& squares, int part, __m256d* distances) {
    const __m256d* dx2 = squares.dx2;
    const __m256d* dy2 = squares.dy2;
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m)
        if (!IsCorner(m, part))
            distances[4 * part + m] = _mm256_sqrt_pd(_mm256_add_pd(dx2[m], dy2[part]));
    if (part != 0)
        return;
    // Opposite corners share one root and one weight. A corner weighs something only nearer than 2 (a
    // square below 4), and no lane has both opposite corners that near: the squares of the corners'
    // distances add up to at least 9. The root of the smaller square is the distance of the corner whose
    // square is below 4, if either is; its weight goes to that corner, and the other weighs nothing, as it
    // does at its own distance.
    const __m256d four = _mm256_set1_pd(4.0), two = _mm256_set1_pd(2.0);
#pragma GCC unroll 2
    for (int corner = 0; corner < 2; ++corner) {
        const int m = corner == 0 ? 0 : 3;
        const __m256d near = _mm256_add_pd(dx2[m], dy2[0]), far = _mm256_add_pd(dx2[3 - m], dy2[3]);
        const __m256d nearIn = _mm256_cmp_pd(near, four, _CMP_LT_OQ),
                      farIn = _mm256_cmp_pd(far, four, _CMP_LT_OQ);
        const __m256d root = _mm256_sqrt_pd(_mm256_min_pd(near, far));
        const __m256d weight =
            _mm256_and_pd(Avx2Far(root, Avx2Square25(root)), _mm256_cmp_pd(root, two, _CMP_LT_OQ));
        distances[m] = _mm256_and_pd(weight, nearIn);
        distances[15 - m] = _mm256_and_pd(weight, farIn);
    }
}

// All of a four's distances at once.
KV_AVX2FMA inline void Avx2Distances(const FourPlaces& p, __m256d* distances) {
    FourSquares squares;
    Avx2Squares(p, squares);
#pragma GCC unroll 4
    for (int part = 0; part < 4; ++part)
        Avx2Distances(squares, part, distances);
}

// 2^52 as a double: a whole number n below 2^32 put in the low bits of its pattern makes 2^52 + n exactly.
constexpr std::int32_t kBiasHigh = 0x43300000;
constexpr double kBias = 4503599627370496.0;

// Two 128-bit halves as one vector, low then high.
KV_AVX2 inline __m256i Avx2Halves(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Row n of a block for pixels a, b, c and d as pairs, a and b in the low 128 bits, c and d in the high ones:
// pairs[h] holds the 16-bit samples 4h ... 4h + 3 as a b a b ... (c d c d ... above).
template <class Sample>
KV_AVX2 inline void Avx2PairRows(const Sample* a, const Sample* b, const Sample* c, const Sample* d,
                                 __m256i pairs[3]) {
    if constexpr (sizeof(Sample) == 1) {
        // Bytes 0 to 7 and 4 to 11 of each row, the rows' bytes paired, then widened to 16 bits.
        const auto low = [](const Sample* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); };
        const __m256i front = _mm256_unpacklo_epi8(Avx2Halves(low(a), low(c)), Avx2Halves(low(b), low(d)));
        const __m256i back =
            _mm256_unpacklo_epi8(Avx2Halves(low(a + 4), low(c + 4)), Avx2Halves(low(b + 4), low(d + 4)));
        const __m256i zero = _mm256_setzero_si256();
        pairs[0] = _mm256_unpacklo_epi8(front, zero);
        pairs[1] = _mm256_unpackhi_epi8(front, zero);
        pairs[2] = _mm256_unpackhi_epi8(back, zero);
    } else {
        // Samples 0 to 7 and 4 to 11 of each row.
        const auto row = [](const Sample* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
        const __m256i front0 = Avx2Halves(row(a), row(c)), front1 = Avx2Halves(row(b), row(d));
        const __m256i back0 = Avx2Halves(row(a + 4), row(c + 4)), back1 = Avx2Halves(row(b + 4), row(d + 4));
        pairs[0] = _mm256_unpacklo_epi16(front0, front1);
        pairs[1] = _mm256_unpackhi_epi16(front0, front1);
        pairs[2] = _mm256_unpackhi_epi16(back0, back1);
    }
}

// The cubic weights of a four's positions at the given distances, tap by tap, and the weighted sums of the
// samples there. Each lane holds one pixel's sample as 2^52 plus the sample, made from the rows by shuffles
// alone; the weighted sample w s is then w (2^52 + s) less w 2^52 in one fused step, whose exact sum before
// its one rounding is w s: the plain path's product, without a conversion.
template <class Sample>
KV_AVX2FMA void Avx2Four(const CFisheyeWindow::Layout& layout, const FourPlaces& p, const __m256d* distances,
                         const FourPlaces* next, __m256d* nextDistances, __m256d* sums, __m256d& weightSum) {
    FourSquares nextSquares;
    if (next)
        Avx2Squares(*next, nextSquares);
    const std::size_t stride = static_cast<std::size_t>(layout.columns) * 3;
    const Sample* first[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k)
        first[k] = static_cast<const Sample*>(layout.samples) + p.base[k];
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0);
    const __m256d lessBias = _mm256_set1_pd(-kBias);
    const __m256i bias = _mm256_set1_epi32(kBiasHigh), wordZero = _mm256_setzero_si256();
    weightSum = zero;
    sums[0] = sums[1] = sums[2] = zero;
#pragma GCC unroll 4
    for (int n = 0; n < 4; ++n) {
        // A quarter of the next four's roots, beside this row's sums.
        if (next)
            Avx2Distances(nextSquares, n, nextDistances);
        const std::size_t offset = static_cast<std::size_t>(n) * stride;
        __m256i pairs[3];
        Avx2PairRows(first[0] + offset, first[1] + offset, first[2] + offset, first[3] + offset, pairs);
        // Sample j of the four pixels, biased: the pairs widened to 32 bits (halves[j / 2]), then to 64 with
        // the bias above, where the tap takes it.
        __m256i halves[6];
#pragma GCC unroll 3
        for (int q = 0; q < 3; ++q) {
            halves[2 * q] = _mm256_unpacklo_epi16(pairs[q], wordZero);
            halves[2 * q + 1] = _mm256_unpackhi_epi16(pairs[q], wordZero);
        }
        auto sample = [&](int j) KV_AVX2 {
            return _mm256_castsi256_pd(j % 2 ? _mm256_unpackhi_epi32(halves[j / 2], bias)
                                             : _mm256_unpacklo_epi32(halves[j / 2], bias));
        };
#pragma GCC unroll 4
        for (int m = 0; m < 4; ++m) {
            const __m256d d = distances[4 * n + m];
            __m256d w = d;
            if (IsMiddle(m, n)) {
                const __m256d d2 = Avx2Square25(d);
                w = _mm256_blendv_pd(Avx2Far(d, d2), Avx2Near(d, d2), _mm256_cmp_pd(d, one, _CMP_LT_OQ));
            } else if (!IsCorner(m, n)) {
                w = _mm256_and_pd(Avx2Far(d, Avx2Square25(d)), _mm256_cmp_pd(d, two, _CMP_LT_OQ));
            }
            weightSum = _mm256_add_pd(weightSum, w);
            // w 2^52 is exact: a weight is no more than a few units.
            const __m256d wBias = _mm256_mul_pd(w, lessBias);
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c)
                sums[c] = _mm256_add_pd(sums[c], _mm256_fmadd_pd(w, sample(3 * m + c), wBias));
        }
    }
}

// How many groups (fours on the AVX2 path, twos on the plain one) a row routine places ahead of the one it
// interpolates, in a ring of places.
constexpr LONG kPlacesAhead = 4;
// The groups whose positions are on the way at once: reached, aimed and placed.
constexpr LONG kReaches = kPlacesAhead + 2;
constexpr unsigned kAllFour = 0xF;

// Pixels x0 ... of the row four at a time, as far as whole fours go; returns the first pixel left over.
template <class Sample>
KV_AVX2FMA LONG Avx2Row(const CFisheyeWindow& window, const CFisheyeGeometry& geometry, LONG y, LONG x0,
                        LONG x1, Sample* out, std::vector<LONG>& missed) {
    const CFisheyeWindow::Layout layout = window.GetLayout();
    const double* table = geometry.GetTable();
    const __m256d cx = _mm256_set1_pd(geometry.GetCentreX()), cy = _mm256_set1_pd(geometry.GetCentreY());
    const __m256d radius = _mm256_set1_pd(geometry.GetRadius());
    const __m256d width = _mm256_set1_pd(geometry.GetWidth()), height = _mm256_set1_pd(geometry.GetHeight());
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    const __m256d lastEntry = _mm256_set1_pd(CFisheyeGeometry::kLastEntry);
    const __m256d lastValue = _mm256_set1_pd(table[CFisheyeGeometry::kLastEntry]);
    const __m256d dy = _mm256_sub_pd(_mm256_set1_pd(y), cy);
    const __m256d lanes = _mm256_setr_pd(0, 1, 2, 3);
    // The source pixels whose blocks the window covers (as Covers has it): columns from firstI to lastI,
    // rows from firstJ to lastJ.
    const bool empty = window.IsEmpty();
    const __m128i firstI = _mm_set1_epi32(layout.left + CFisheyeWindow::kReachBefore);
    const __m128i lastI = _mm_set1_epi32(layout.left + layout.columns - CFisheyeWindow::kReachAfter - 1);
    const __m128i firstJ = _mm_set1_epi32(layout.top + CFisheyeWindow::kReachBefore);
    const __m128i lastJ = _mm_set1_epi32(layout.top + layout.rows - CFisheyeWindow::kReachAfter - 1);
    const __m128i stride = _mm_set1_epi32(layout.columns * 3);
    const __m128i three = _mm_set1_epi32(3);

    // The places of the four pixels from x; none covered where no source lies in the picture.
    // Placing four pixels from x goes in three steps, each a four ahead of the next, so that none waits on
    // the roots and divisions of the step before. The first: the distances from the centre, and where these
    // fall in the table (4095 r / R).
    auto reach = [&](LONG x, FourReach & q) KV_AVX2FMA __attribute__((always_inline)) {
        q.dx = _mm256_sub_pd(_mm256_add_pd(_mm256_set1_pd(x), lanes), cx);
        q.r = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(q.dx, q.dx), _mm256_mul_pd(dy, dy)));
        q.u = _mm256_div_pd(_mm256_mul_pd(lastEntry, q.r), radius);
    };
    // The second: the source positions, a four ahead of the rest.
    auto aim = [&](FourReach & q) KV_AVX2FMA __attribute__((always_inline)) {
        const __m256d dx = q.dx, r = q.r, u = q.u;
        // A lane at or past the last entry (or with no number) takes the last entry.
        const __m256d inTable = _mm256_cmp_pd(u, lastEntry, _CMP_LT_OQ);
        const __m256d used = _mm256_and_pd(u, inTable);
        const __m128i entry = _mm256_cvttpd_epi32(used);
        // Four loads of each: on the processors measured they beat a gathered load.
        alignas(16) std::int32_t at[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(at), entry);
        const __m256d below = _mm256_setr_pd(table[at[0]], table[at[1]], table[at[2]], table[at[3]]);
        const __m256d above =
            _mm256_setr_pd(table[at[0] + 1], table[at[1] + 1], table[at[2] + 1], table[at[3] + 1]);
        const __m256d f = _mm256_sub_pd(used, _mm256_cvtepi32_pd(entry));
        const __m256d v = _mm256_blendv_pd(
            lastValue, _mm256_add_pd(_mm256_mul_pd(below, _mm256_sub_pd(one, f)), _mm256_mul_pd(above, f)),
            inTable);
        const __m256d atCentre = _mm256_cmp_pd(r, zero, _CMP_EQ_OQ);
        q.sx = _mm256_blendv_pd(
            _mm256_add_pd(cx, _mm256_div_pd(_mm256_mul_pd(_mm256_mul_pd(dx, v), radius), r)), cx, atCentre);
        q.sy = _mm256_blendv_pd(
            _mm256_add_pd(cy, _mm256_div_pd(_mm256_mul_pd(_mm256_mul_pd(dy, v), radius), r)), cy, atCentre);
    };
    // The last: which lanes the window covers, and where they read it.
    auto place = [&](LONG x, const FourReach& q, FourPlaces& p) KV_AVX2FMA __attribute__((always_inline)) {
        // Nothing covered works out over the window's first block, as a lane not written does.
        p.covered = 0;
        _mm_store_si128(reinterpret_cast<__m128i*>(p.base), _mm_setzero_si128());
        p.fx = p.fy = zero;
        const __m256d sx = q.sx, sy = q.sy;
        const __m256d inside = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(sx, zero, _CMP_GE_OQ), _mm256_cmp_pd(sx, width, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(sy, zero, _CMP_GE_OQ), _mm256_cmp_pd(sy, height, _CMP_LT_OQ)));
        const unsigned insideLanes = static_cast<unsigned>(_mm256_movemask_pd(inside));
        if (insideLanes == 0)
            return;
        // Lanes outside the picture take position 0, which converts to a whole number like any other.
        const __m256d heldX = _mm256_and_pd(sx, inside), heldY = _mm256_and_pd(sy, inside);
        const __m128i i0 = _mm256_cvttpd_epi32(heldX), j0 = _mm256_cvttpd_epi32(heldY);
        const __m128i coveredLanes = _mm_andnot_si128(
            _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi32(firstI, i0), _mm_cmpgt_epi32(i0, lastI)),
                         _mm_or_si128(_mm_cmpgt_epi32(firstJ, j0), _mm_cmpgt_epi32(j0, lastJ))),
            _mm_set1_epi32(-1));
        p.covered =
            empty ? 0u : insideLanes & static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(coveredLanes)));
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k)
            if ((insideLanes & ~p.covered) & (1u << k))
                missed.push_back(x + k);
        // Lanes not written are worked out over the window's first covered block, which is always there.
        const __m128i blockI = _mm_blendv_epi8(firstI, i0, coveredLanes);
        const __m128i blockJ = _mm_blendv_epi8(firstJ, j0, coveredLanes);
        const __m128i base = _mm_add_epi32(
            _mm_mullo_epi32(
                _mm_sub_epi32(blockJ, _mm_add_epi32(_mm_set1_epi32(layout.top), _mm_set1_epi32(1))), stride),
            _mm_mullo_epi32(
                _mm_sub_epi32(blockI, _mm_add_epi32(_mm_set1_epi32(layout.left), _mm_set1_epi32(1))), three));
        _mm_store_si128(reinterpret_cast<__m128i*>(p.base), base);
        p.fx = _mm256_sub_pd(heldX, _mm256_cvtepi32_pd(i0));
        p.fy = _mm256_sub_pd(heldY, _mm256_cvtepi32_pd(j0));
    };

    const __m256d guard = _mm256_set1_pd(kRoundingGuard);
    const __m256d maximum = _mm256_set1_pd(kMaximum<Sample>);
    // A four is reached kPlacesAhead + 1 fours, aimed kPlacesAhead fours and placed kPlacesAhead - 1 fours
    // before it is interpolated: each step of its position's chain of roots and divisions then runs beside
    // the interpolation of other fours. Worked out whole, or in a burst, the interpolation waits on the
    // chain: the interpolation's roots keep the divider busy, and the chain waits its turn there at every
    // step.
    FourPlaces places[kPlacesAhead];
    FourReach reaches[kReaches];
    const LONG fours = (x1 - x0) / 4;
    for (LONG e = 0; e < std::min<LONG>(fours, kPlacesAhead + 1); ++e)
        reach(x0 + 4 * e, reaches[e]);
    for (LONG e = 0; e < std::min<LONG>(fours, kPlacesAhead); ++e)
        aim(reaches[e]);
    for (LONG e = 0; e < std::min<LONG>(fours, kPlacesAhead - 1); ++e)
        place(x0 + 4 * e, reaches[e], places[e]);
    __m256d distances[2][16];
    int current = 0;
    // Whether distances[current] holds the four's distances, worked out beside the four before it.
    bool ready = false;
    LONG x = x0;
    for (LONG e = 0; e < fours; ++e, x += 4, out += 12) {
        if (e + kPlacesAhead - 1 < fours)
            place(x + 4 * (kPlacesAhead - 1), reaches[(e + kPlacesAhead - 1) % kReaches],
                  places[(e + kPlacesAhead - 1) % kPlacesAhead]);
        if (e + kPlacesAhead < fours)
            aim(reaches[(e + kPlacesAhead) % kReaches]);
        if (e + kPlacesAhead + 1 < fours)
            reach(x + 4 * (kPlacesAhead + 1), reaches[(e + kPlacesAhead + 1) % kReaches]);
        const FourPlaces& p = places[e % kPlacesAhead];
        if (p.covered == 0) {
            ready = false;
            continue;
        }
        if (!ready)
            Avx2Distances(p, distances[current]);
        const FourPlaces* next = e + 1 < fours ? &places[(e + 1) % kPlacesAhead] : nullptr;
        if (next && next->covered == 0)
            next = nullptr;
        __m256d sums[3], weightSum;
        Avx2Four<Sample>(layout, p, distances[current], next, distances[1 - current], sums, weightSum);
        ready = next != nullptr;
        if (ready)
            current = 1 - current;
        __m128i channels[3];
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            // max(mean, 0) also turns a mean that is no number into 0, as the plain path does.
            const __m256d mean = _mm256_add_pd(_mm256_div_pd(sums[c], weightSum), guard);
            channels[c] = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(mean, zero), maximum));
        }
        if (p.covered != kAllFour) {
            alignas(16) std::int32_t held[3][4];
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c)
                _mm_store_si128(reinterpret_cast<__m128i*>(held[c]), channels[c]);
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) {
                if (!(p.covered & (1u << k)))
                    continue;
#pragma GCC unroll 3
                for (int c = 0; c < 3; ++c)
                    out[3 * k + c] = static_cast<Sample>(held[c][k]);
            }
            continue;
        }
        // The four pixels' samples, held to the sample range, put in pixel order by byte shuffles: first
        // the channels packed as [R0-3 G0-3] and [B0-3 B0-3].
        const __m128i redGreen = _mm_packus_epi32(channels[0], channels[1]);
        const __m128i blue = _mm_packus_epi32(channels[2], channels[2]);
        if constexpr (sizeof(Sample) == 1) {
            // Bytes R0-3 G0-3 B0-3 to R0 G0 B0 R1 ... B3.
            const __m128i bytes = _mm_packus_epi16(redGreen, blue);
            const __m128i pixels =
                _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), pixels);
            const std::int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(pixels, 8));
            std::memcpy(out + 8, &last, sizeof last);
        } else {
            // R0 G0 B0 R1 G1 B1 R2 G2, then B2 R3 G3 B3.
            const __m128i front = _mm_or_si128(
                _mm_shuffle_epi8(redGreen,
                                 _mm_setr_epi8(0, 1, 8, 9, -1, -1, 2, 3, 10, 11, -1, -1, 4, 5, 12, 13)),
                _mm_shuffle_epi8(blue,
                                 _mm_setr_epi8(-1, -1, -1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1)));
            const __m128i back = _mm_or_si128(
                _mm_shuffle_epi8(redGreen,
                                 _mm_setr_epi8(-1, -1, 6, 7, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
                _mm_shuffle_epi8(blue,
                                 _mm_setr_epi8(4, 5, -1, -1, -1, -1, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), front);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8), back);
        }
    }
    return x;
}

// The AVX-512 path: the plain path's operations on eight pixels at a time, lane by lane in the same order
// (no fused multiply-add), so that all paths give the same bytes. The blocks' rows are read whole and turned,
// two fours side by side; lanes whose source lies outside the picture or whose block
// leaves the window are worked out over a block that is there and not written.
#define KV_AVX512 __attribute__((target("avx512f,avx2")))

// g++ 12 takes the "undefined" vectors inside its own AVX-512 intrinsics for uninitialised reads.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Where eight pixels read the window: each lane's first sample, its fractions, and the lanes written.
struct EightPlaces {
    __m256i base;
    __m512d fx;
    __m512d fy;
    unsigned covered;
};

// The squared offsets of an eight's positions from their source columns and rows; their distances are
// worked out an eight ahead, as on the AVX2 path.
struct EightSquares {
    __m512d dx2[4];
    __m512d dy2[4];
};
KV_AVX512 inline void Avx512Squares(const EightPlaces& p, EightSquares& squares) {
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        const __m512d offset = _mm512_set1_pd(k - 1);
        const __m512d dx = _mm512_sub_pd(p.fx, offset), dy = _mm512_sub_pd(p.fy, offset);
        squares.dx2[k] = _mm512_mul_pd(dx, dx);
        squares.dy2[k] = _mm512_mul_pd(dy, dy);
    }
}

// The kernel's pieces on the AVX-512 path, as Avx2Square25, Avx2Far and Avx2Near work them out.
KV_AVX512 inline __m512d Avx512Square25(__m512d d) {
    return _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(2.5), d), d);
}
KV_AVX512 inline __m512d Avx512Far(__m512d d, __m512d d2) {
    const __m512d cube = _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(-0.5), d), d), d);
    return _mm512_add_pd(_mm512_sub_pd(_mm512_add_pd(cube, d2), _mm512_mul_pd(_mm512_set1_pd(4.0), d)),
                         _mm512_set1_pd(2.0));
}
KV_AVX512 inline __m512d Avx512Near(__m512d d, __m512d d2) {
    const __m512d cube = _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(1.5), d), d), d);
    return _mm512_add_pd(_mm512_sub_pd(cube, d2), _mm512_set1_pd(1.0));
}

// Row 0 ... 3 of the distances, the corners with row 0; opposite corners share one root and one weight,
// which the corners' entries hold, as Avx2Distances has it.
KV_AVX512 inline void Avx512Distances(const EightSquares& squares, int part, __m512d* distances) {
    const __m512d* dx2 = squares.dx2;
    const __m512d* dy2 = squares.dy2;
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m)
        if (!IsCorner(m, part))
            distances[4 * part + m] = _mm512_sqrt_pd(_mm512_add_pd(dx2[m], dy2[part]));
    if (part != 0)
        return;
    const __m512d four = _mm512_set1_pd(4.0), two = _mm512_set1_pd(2.0);
#pragma GCC unroll 2
    for (int corner = 0; corner < 2; ++corner) {
        const int m = corner == 0 ? 0 : 3;
        const __m512d near = _mm512_add_pd(dx2[m], dy2[0]), far = _mm512_add_pd(dx2[3 - m], dy2[3]);
        const __mmask8 nearIn = _mm512_cmp_pd_mask(near, four, _CMP_LT_OQ),
                       farIn = _mm512_cmp_pd_mask(far, four, _CMP_LT_OQ);
        const __m512d root = _mm512_sqrt_pd(_mm512_min_pd(near, far));
        const __mmask8 rootIn = _mm512_cmp_pd_mask(root, two, _CMP_LT_OQ);
        const __m512d weight = Avx512Far(root, Avx512Square25(root));
        distances[m] = _mm512_maskz_mov_pd(rootIn & nearIn, weight);
        distances[15 - m] = _mm512_maskz_mov_pd(rootIn & farIn, weight);
    }
}

// All of an eight's distances at once.
KV_AVX512 inline void Avx512Distances(const EightPlaces& p, __m512d* distances) {
    EightSquares squares;
    Avx512Squares(p, squares);
#pragma GCC unroll 4
    for (int part = 0; part < 4; ++part)
        Avx512Distances(squares, part, distances);
}

// The cubic weights of eight positions at the given distances, tap by tap, and the weighted sums of the
// samples there. Each block row is read whole, pixel k beside pixel k + 4, and turned so that each lane
// holds one pixel's sample.
template <class Sample>
KV_AVX512 void Avx512Eight(const CFisheyeWindow::Layout& layout, const EightPlaces& p,
                           const __m512d* distances, const EightPlaces* next, __m512d* nextDistances,
                           __m512d sums[3], __m512d& weightSum) {
    EightSquares nextSquares;
    if (next)
        Avx512Squares(*next, nextSquares);
    alignas(32) std::int32_t base[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(base), p.base);
    const std::size_t stride = static_cast<std::size_t>(layout.columns) * 3;
    const Sample* first[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k)
        first[k] = static_cast<const Sample*>(layout.samples) + base[k];
    const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0), two = _mm512_set1_pd(2.0);
    weightSum = zero;
    sums[0] = sums[1] = sums[2] = zero;
    // Unrolled whole, so that the sums stay in registers.
#pragma GCC unroll 4
    for (int n = 0; n < 4; ++n) {
        // A quarter of the next eight's roots, beside this row's sums.
        if (next)
            Avx512Distances(nextSquares, n, nextDistances);
        __m512i front[4];
        __m256i back[4];
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            __m256i frontLow, frontHigh;
            __m128i backLow, backHigh;
            Avx2WidenRow(first[k] + static_cast<std::size_t>(n) * stride, frontLow, backLow);
            Avx2WidenRow(first[k + 4] + static_cast<std::size_t>(n) * stride, frontHigh, backHigh);
            front[k] = _mm512_inserti64x4(_mm512_castsi256_si512(frontLow), frontHigh, 1);
            back[k] = _mm256_inserti128_si256(_mm256_castsi128_si256(backLow), backHigh, 1);
        }
        // A transpose of four rows of twelve, twice: 128-bit lanes 0 to 3 of sXY hold samples X of pixels 0
        // to 3, Y of 0 to 3, X of 4 to 7 and Y of 4 to 7; lanes 0 and 2 moved together give sample X of all
        // eight.
        const __m512i lo01 = _mm512_unpacklo_epi32(front[0], front[1]);
        const __m512i hi01 = _mm512_unpackhi_epi32(front[0], front[1]);
        const __m512i lo23 = _mm512_unpacklo_epi32(front[2], front[3]);
        const __m512i hi23 = _mm512_unpackhi_epi32(front[2], front[3]);
        constexpr int kPairLanes = _MM_SHUFFLE(3, 1, 2, 0);
        const __m512i s04 = _mm512_shuffle_i64x2(_mm512_unpacklo_epi64(lo01, lo23),
                                                 _mm512_unpacklo_epi64(lo01, lo23), kPairLanes);
        const __m512i s15 = _mm512_shuffle_i64x2(_mm512_unpackhi_epi64(lo01, lo23),
                                                 _mm512_unpackhi_epi64(lo01, lo23), kPairLanes);
        const __m512i s26 = _mm512_shuffle_i64x2(_mm512_unpacklo_epi64(hi01, hi23),
                                                 _mm512_unpacklo_epi64(hi01, hi23), kPairLanes);
        const __m512i s37 = _mm512_shuffle_i64x2(_mm512_unpackhi_epi64(hi01, hi23),
                                                 _mm512_unpackhi_epi64(hi01, hi23), kPairLanes);
        const __m256i blo01 = _mm256_unpacklo_epi32(back[0], back[1]),
                      bhi01 = _mm256_unpackhi_epi32(back[0], back[1]);
        const __m256i blo23 = _mm256_unpacklo_epi32(back[2], back[3]),
                      bhi23 = _mm256_unpackhi_epi32(back[2], back[3]);
        const __m256i samples[12] = {
            _mm512_castsi512_si256(s04),         _mm512_castsi512_si256(s15),
            _mm512_castsi512_si256(s26),         _mm512_castsi512_si256(s37),
            _mm512_extracti64x4_epi64(s04, 1),   _mm512_extracti64x4_epi64(s15, 1),
            _mm512_extracti64x4_epi64(s26, 1),   _mm512_extracti64x4_epi64(s37, 1),
            _mm256_unpacklo_epi64(blo01, blo23), _mm256_unpackhi_epi64(blo01, blo23),
            _mm256_unpacklo_epi64(bhi01, bhi23), _mm256_unpackhi_epi64(bhi01, bhi23)};
#pragma GCC unroll 4
        for (int m = 0; m < 4; ++m) {
            const __m512d d = distances[4 * n + m];
            __m512d w = d;
            if (IsMiddle(m, n)) {
                const __m512d d2 = Avx512Square25(d);
                w = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(d, one, _CMP_LT_OQ), Avx512Far(d, d2),
                                         Avx512Near(d, d2));
            } else if (!IsCorner(m, n)) {
                w = _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(d, two, _CMP_LT_OQ),
                                        Avx512Far(d, Avx512Square25(d)));
            }
            weightSum = _mm512_add_pd(weightSum, w);
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c)
                sums[c] = _mm512_add_pd(sums[c], _mm512_mul_pd(w, _mm512_cvtepi32_pd(samples[3 * m + c])));
        }
    }
}

// Pixels of a row the AVX-512 path places before it interpolates them: the positions of a run of pixels
// are independent of each other, so worked out together they overlap, where pixel by pixel each
// interpolation would wait on its own position.
constexpr LONG kRunEights = 8;
constexpr unsigned kAllEight = 0xFF;
constexpr __mmask16 kTwelvePairs = 0x0FFF;

// Pixels x0 ... of the row eight at a time, as far as whole eights go; returns the first pixel left over.
template <class Sample>
KV_AVX512 LONG Avx512Row(const CFisheyeWindow& window, const CFisheyeGeometry& geometry, LONG y, LONG x0,
                         LONG x1, Sample* out, std::vector<LONG>& missed) {
    const CFisheyeWindow::Layout layout = window.GetLayout();
    const double* table = geometry.GetTable();
    const __m512d cx = _mm512_set1_pd(geometry.GetCentreX()), cy = _mm512_set1_pd(geometry.GetCentreY());
    const __m512d radius = _mm512_set1_pd(geometry.GetRadius());
    const __m512d width = _mm512_set1_pd(geometry.GetWidth()), height = _mm512_set1_pd(geometry.GetHeight());
    const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0);
    const __m512d lastEntry = _mm512_set1_pd(CFisheyeGeometry::kLastEntry);
    const __m512d lastValue = _mm512_set1_pd(table[CFisheyeGeometry::kLastEntry]);
    const __m512d dy = _mm512_sub_pd(_mm512_set1_pd(y), cy);
    const __m512d lanes = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
    // The source pixels whose blocks the window covers (as Covers has it): columns from firstI to lastI,
    // rows from firstJ to lastJ.
    const bool empty = window.IsEmpty();
    const __m256i firstI = _mm256_set1_epi32(layout.left + CFisheyeWindow::kReachBefore);
    const __m256i lastI = _mm256_set1_epi32(layout.left + layout.columns - CFisheyeWindow::kReachAfter - 1);
    const __m256i firstJ = _mm256_set1_epi32(layout.top + CFisheyeWindow::kReachBefore);
    const __m256i lastJ = _mm256_set1_epi32(layout.top + layout.rows - CFisheyeWindow::kReachAfter - 1);
    const __m256i stride = _mm256_set1_epi32(layout.columns * 3);
    const __m256i three = _mm256_set1_epi32(3);

    // The places of the eight pixels from x; none covered where no source lies in the picture.
    auto place = [&](LONG x) KV_AVX512 {
        EightPlaces p{_mm256_setzero_si256(), zero, zero, 0u};
        const __m512d dx = _mm512_sub_pd(_mm512_add_pd(_mm512_set1_pd(x), lanes), cx);
        const __m512d r = _mm512_sqrt_pd(_mm512_add_pd(_mm512_mul_pd(dx, dx), _mm512_mul_pd(dy, dy)));
        const __m512d u = _mm512_div_pd(_mm512_mul_pd(lastEntry, r), radius);
        const __mmask8 inTable = _mm512_cmp_pd_mask(u, lastEntry, _CMP_LT_OQ);
        const __m512d used = _mm512_maskz_mov_pd(inTable, u);
        const __m256i entry = _mm512_cvttpd_epi32(used);
        // Eight loads of each, as on the AVX2 path: a gathered load takes longer.
        alignas(32) std::int32_t at[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), entry);
        const __m512d below = _mm512_setr_pd(table[at[0]], table[at[1]], table[at[2]], table[at[3]],
                                             table[at[4]], table[at[5]], table[at[6]], table[at[7]]);
        const __m512d above =
            _mm512_setr_pd(table[at[0] + 1], table[at[1] + 1], table[at[2] + 1], table[at[3] + 1],
                           table[at[4] + 1], table[at[5] + 1], table[at[6] + 1], table[at[7] + 1]);
        const __m512d f = _mm512_sub_pd(used, _mm512_cvtepi32_pd(entry));
        const __m512d v = _mm512_mask_blend_pd(
            inTable, lastValue,
            _mm512_add_pd(_mm512_mul_pd(below, _mm512_sub_pd(one, f)), _mm512_mul_pd(above, f)));
        const __mmask8 atCentre = _mm512_cmp_pd_mask(r, zero, _CMP_EQ_OQ);
        const __m512d sx = _mm512_mask_blend_pd(
            atCentre, _mm512_add_pd(cx, _mm512_div_pd(_mm512_mul_pd(_mm512_mul_pd(dx, v), radius), r)), cx);
        const __m512d sy = _mm512_mask_blend_pd(
            atCentre, _mm512_add_pd(cy, _mm512_div_pd(_mm512_mul_pd(_mm512_mul_pd(dy, v), radius), r)), cy);
        const __mmask8 inside =
            _mm512_cmp_pd_mask(sx, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(sx, width, _CMP_LT_OQ) &
            _mm512_cmp_pd_mask(sy, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(sy, height, _CMP_LT_OQ);
        if (inside == 0)
            return p;
        // Lanes outside the picture take position 0, which converts to a whole number like any other.
        const __m512d heldX = _mm512_maskz_mov_pd(inside, sx), heldY = _mm512_maskz_mov_pd(inside, sy);
        const __m256i i0 = _mm512_cvttpd_epi32(heldX), j0 = _mm512_cvttpd_epi32(heldY);
        const __m256i coveredLanes = _mm256_andnot_si256(
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(firstI, i0), _mm256_cmpgt_epi32(i0, lastI)),
                            _mm256_or_si256(_mm256_cmpgt_epi32(firstJ, j0), _mm256_cmpgt_epi32(j0, lastJ))),
            _mm256_set1_epi32(-1));
        p.covered =
            empty ? 0u
                  : inside & static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(coveredLanes)));
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k)
            if ((inside & ~p.covered) & (1u << k))
                missed.push_back(x + k);
        // Lanes not written are worked out over the window's first covered block, which is always there.
        const __m256i blockI = _mm256_blendv_epi8(firstI, i0, coveredLanes);
        const __m256i blockJ = _mm256_blendv_epi8(firstJ, j0, coveredLanes);
        p.base = _mm256_add_epi32(
            _mm256_mullo_epi32(_mm256_sub_epi32(_mm256_sub_epi32(blockJ, _mm256_set1_epi32(1)),
                                                _mm256_set1_epi32(layout.top)),
                               stride),
            _mm256_mullo_epi32(_mm256_sub_epi32(_mm256_sub_epi32(blockI, _mm256_set1_epi32(1)),
                                                _mm256_set1_epi32(layout.left)),
                               three));
        p.fx = _mm512_sub_pd(heldX, _mm512_cvtepi32_pd(i0));
        p.fy = _mm512_sub_pd(heldY, _mm512_cvtepi32_pd(j0));
        return p;
    };

    const __m512d guard = _mm512_set1_pd(kRoundingGuard);
    const __m512d maximum = _mm512_set1_pd(kMaximum<Sample>);
    // Sample e of eight pixels' 24 (pixel e / 3, channel e % 3) in the lanes of the channels: channels 0 and
    // 1 in the first source (lanes 0 to 15), channel 2 in the second (from lane 16).
    auto lane = [](int e) { return (e % 3) * 8 + e / 3; };
    const __m512i lowSamples =
        _mm512_setr_epi32(lane(0), lane(2), lane(4), lane(6), lane(8), lane(10), lane(12), lane(14), lane(16),
                          lane(18), lane(20), lane(22), 0, 0, 0, 0);
    const __m512i highSamples =
        _mm512_setr_epi32(lane(1), lane(3), lane(5), lane(7), lane(9), lane(11), lane(13), lane(15), lane(17),
                          lane(19), lane(21), lane(23), 0, 0, 0, 0);
    EightPlaces places[kRunEights];
    __m512d distances[2][16];
    LONG x = x0;
    while (x + 8 <= x1) {
        const LONG eights = std::min<LONG>(kRunEights, (x1 - x) / 8);
        for (LONG e = 0; e < eights; ++e)
            places[e] = place(x + 8 * e);
        // The distances of the next covered eight are worked out before this one's sums.
        LONG next = 0;
        while (next < eights && places[next].covered == 0)
            ++next;
        int current = 0;
        if (next < eights)
            Avx512Distances(places[next], distances[current]);
        for (LONG e = 0; e < eights; ++e, x += 8, out += 24) {
            const EightPlaces& p = places[e];
            if (p.covered == 0)
                continue;
            next = e + 1;
            while (next < eights && places[next].covered == 0)
                ++next;
            __m512d sums[3], weightSum;
            Avx512Eight<Sample>(layout, p, distances[current], next < eights ? &places[next] : nullptr,
                                distances[1 - current], sums, weightSum);
            current = 1 - current;
            __m256i channels[3];
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                // max(mean, 0) also turns a mean that is no number into 0, as the plain path does.
                const __m512d mean = _mm512_add_pd(_mm512_div_pd(sums[c], weightSum), guard);
                channels[c] = _mm512_cvttpd_epi32(_mm512_min_pd(_mm512_max_pd(mean, zero), maximum));
            }
            if constexpr (sizeof(Sample) == 2) {
                if (p.covered == kAllEight) {
                    // The 24 samples in pixel order as 12 pairs: each pair's low and high sample picked
                    // from the channels, the high one moved up.
                    const __m512i first =
                        _mm512_inserti64x4(_mm512_castsi256_si512(channels[0]), channels[1], 1);
                    const __m512i second = _mm512_castsi256_si512(channels[2]);
                    const __m512i pairs = _mm512_or_si512(
                        _mm512_permutex2var_epi32(first, lowSamples, second),
                        _mm512_slli_epi32(_mm512_permutex2var_epi32(first, highSamples, second), 16));
                    _mm512_mask_storeu_epi32(out, kTwelvePairs, pairs);
                    continue;
                }
            }
            alignas(32) std::int32_t held[3][8];
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c)
                _mm256_store_si256(reinterpret_cast<__m256i*>(held[c]), channels[c]);
#pragma GCC unroll 8
            for (int k = 0; k < 8; ++k) {
                if (!(p.covered & (1u << k)))
                    continue;
#pragma GCC unroll 3
                for (int c = 0; c < 3; ++c)
                    out[3 * k + c] = static_cast<Sample>(held[c][k]);
            }
        }
    }
    return x;
}

#pragma GCC diagnostic pop

} // namespace

// The plain path: the AVX2 path's operations on two pixels at a time with the SSE2 every x86-64 processor
// has, lane by lane in the same order, so that it gives the same bytes. Its roots and divisions, the bulk of
// the work, then go two to an instruction as they do four to one on the AVX2 path.
namespace {

// a where mask is set, else b.
inline __m128d Select(__m128d mask, __m128d a, __m128d b) {
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}

// Where two pixels read the window, as FourPlaces has it for four.
struct TwoPlaces {
    std::size_t base[2];
    __m128d fx;
    __m128d fy;
    unsigned covered;
};

// Samples 4h ... 4h + 3 of a row of twelve (one block row of one pixel) as 32-bit numbers.
template <class Sample>
inline void Sse2WidenRow(const Sample* row, __m128i quarters[3]) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (sizeof(Sample) == 1) {
        const __m128i words = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)), zero);
        const __m128i last = _mm_unpacklo_epi8(_mm_cvtsi32_si128(Load<std::int32_t>(row + 8)), zero);
        quarters[0] = _mm_unpacklo_epi16(words, zero);
        quarters[1] = _mm_unpackhi_epi16(words, zero);
        quarters[2] = _mm_unpacklo_epi16(last, zero);
    } else {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        quarters[0] = _mm_unpacklo_epi16(words, zero);
        quarters[1] = _mm_unpackhi_epi16(words, zero);
        quarters[2] = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 8)), zero);
    }
}

// The squared offsets of two positions from their source columns and rows.
struct TwoSquares {
    __m128d dx2[4];
    __m128d dy2[4];
};
inline void Sse2Squares(const TwoPlaces& p, TwoSquares& squares) {
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        const __m128d offset = _mm_set1_pd(k - 1);
        const __m128d dx = _mm_sub_pd(p.fx, offset), dy = _mm_sub_pd(p.fy, offset);
        squares.dx2[k] = _mm_mul_pd(dx, dx);
        squares.dy2[k] = _mm_mul_pd(dy, dy);
    }
}

// The kernel's pieces on the plain path, each twice what Avx2Square25, Avx2Far and Avx2Near work out. A
// doubling is exact, and commutes with every rounding after it: all weights doubled make every product and
// sum of the interpolation twice its value and leave the means as they are. Twice the far piece then takes
// a multiplication less, its cube coming whole as (d d) d where the halved one needs a third factor.
inline __m128d Sse2TwiceSquare25(__m128d d) {
    return _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(5.0), d), d);
}
inline __m128d Sse2TwiceFar(__m128d d, __m128d twiceD2) {
    const __m128d cube = _mm_mul_pd(_mm_mul_pd(d, d), d);
    return _mm_add_pd(_mm_sub_pd(_mm_sub_pd(twiceD2, cube), _mm_mul_pd(_mm_set1_pd(8.0), d)),
                      _mm_set1_pd(4.0));
}
inline __m128d Sse2TwiceNear(__m128d d, __m128d twiceD2) {
    const __m128d cube = _mm_mul_pd(_mm_mul_pd(_mm_mul_pd(_mm_set1_pd(3.0), d), d), d);
    return _mm_add_pd(_mm_sub_pd(cube, twiceD2), _mm_set1_pd(2.0));
}

// Row 0 ... 3 of two positions' distances from their 16 source pixels, as Avx2Distances works them out for
// four (opposite corners sharing one root and one weight, which the corners' entries hold). Of two squares
// that cannot both lie below 4, the smaller is the one that does, if either does.
inline void Sse2Distances(const TwoSquares& squares, int part, __m128d* distances) {
    const __m128d* dx2 = squares.dx2;
    const __m128d* dy2 = squares.dy2;
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m)
        if (!IsCorner(m, part))
            distances[4 * part + m] = _mm_sqrt_pd(_mm_add_pd(dx2[m], dy2[part]));
    if (part != 0)
        return;
    const __m128d four = _mm_set1_pd(4.0), two = _mm_set1_pd(2.0);
#pragma GCC unroll 2
    for (int corner = 0; corner < 2; ++corner) {
        const int m = corner == 0 ? 0 : 3;
        const __m128d near = _mm_add_pd(dx2[m], dy2[0]), far = _mm_add_pd(dx2[3 - m], dy2[3]);
        const __m128d nearIn = _mm_cmplt_pd(near, four), farIn = _mm_cmplt_pd(far, four);
        const __m128d root = _mm_sqrt_pd(_mm_min_pd(near, far));
        const __m128d weight =
            _mm_and_pd(Sse2TwiceFar(root, Sse2TwiceSquare25(root)), _mm_cmplt_pd(root, two));
        distances[m] = _mm_and_pd(weight, nearIn);
        distances[15 - m] = _mm_and_pd(weight, farIn);
    }
}

// All of two positions' distances at once.
inline void Sse2Distances(const TwoPlaces& p, __m128d* distances) {
    TwoSquares squares;
    Sse2Squares(p, squares);
#pragma GCC unroll 4
    for (int part = 0; part < 4; ++part)
        Sse2Distances(squares, part, distances);
}

// The weighted sums of two pixels at the given distances, as Avx2Four works them out for four, but for the
// weights (and so the sums) being twice theirs.
template <class Sample>
void Sse2Two(const CFisheyeWindow::Layout& layout, const TwoPlaces& p, const __m128d* distances,
             const TwoPlaces* next, __m128d* nextDistances, __m128d sums[3], __m128d& weightSum) {
    TwoSquares nextSquares;
    if (next)
        Sse2Squares(*next, nextSquares);
    const std::size_t stride = static_cast<std::size_t>(layout.columns) * 3;
    const Sample* first[2] = {static_cast<const Sample*>(layout.samples) + p.base[0],
                              static_cast<const Sample*>(layout.samples) + p.base[1]};
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0), two = _mm_set1_pd(2.0);
    weightSum = zero;
    sums[0] = sums[1] = sums[2] = zero;
#pragma GCC unroll 4
    for (int n = 0; n < 4; ++n) {
        // A quarter of the next two's roots, beside this row's sums.
        if (next)
            Sse2Distances(nextSquares, n, nextDistances);
        __m128i a[3], b[3];
        Sse2WidenRow(first[0] + static_cast<std::size_t>(n) * stride, a);
        Sse2WidenRow(first[1] + static_cast<std::size_t>(n) * stride, b);
        // Sample j of both pixels in the low half of samples[j].
        __m128i samples[12];
#pragma GCC unroll 3
        for (int q = 0; q < 3; ++q) {
            const __m128i low = _mm_unpacklo_epi32(a[q], b[q]), high = _mm_unpackhi_epi32(a[q], b[q]);
            samples[4 * q] = low;
            samples[4 * q + 1] = _mm_unpackhi_epi64(low, low);
            samples[4 * q + 2] = high;
            samples[4 * q + 3] = _mm_unpackhi_epi64(high, high);
        }
#pragma GCC unroll 4
        for (int m = 0; m < 4; ++m) {
            const __m128d d = distances[4 * n + m];
            __m128d w = d;
            if (IsMiddle(m, n)) {
                const __m128d d2 = Sse2TwiceSquare25(d);
                w = Select(_mm_cmplt_pd(d, one), Sse2TwiceNear(d, d2), Sse2TwiceFar(d, d2));
            } else if (!IsCorner(m, n)) {
                w = _mm_and_pd(Sse2TwiceFar(d, Sse2TwiceSquare25(d)), _mm_cmplt_pd(d, two));
            }
            weightSum = _mm_add_pd(weightSum, w);
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c)
                sums[c] = _mm_add_pd(sums[c], _mm_mul_pd(w, _mm_cvtepi32_pd(samples[3 * m + c])));
        }
    }
}

// Two pixels' distances from the centre (dx across, r in all), their place in the table and their sources.
struct TwoReach {
    __m128d dx;
    __m128d r;
    __m128d u;
    __m128d sx;
    __m128d sy;
};

// Pixels x0 ... of the row two at a time, as far as whole twos go; returns the first pixel left over.
template <class Sample>
LONG Sse2Row(const CFisheyeWindow& window, const CFisheyeGeometry& geometry, LONG y, LONG x0, LONG x1,
             Sample* out, std::vector<LONG>& missed) {
    const CFisheyeWindow::Layout layout = window.GetLayout();
    const double* table = geometry.GetTable();
    const __m128d cx = _mm_set1_pd(geometry.GetCentreX()), cy = _mm_set1_pd(geometry.GetCentreY());
    const __m128d radius = _mm_set1_pd(geometry.GetRadius());
    const __m128d width = _mm_set1_pd(geometry.GetWidth()), height = _mm_set1_pd(geometry.GetHeight());
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    const __m128d lastEntry = _mm_set1_pd(CFisheyeGeometry::kLastEntry);
    const __m128d lastValue = _mm_set1_pd(table[CFisheyeGeometry::kLastEntry]);
    const __m128d dy = _mm_sub_pd(_mm_set1_pd(y), cy);
    const __m128d guard = _mm_set1_pd(kRoundingGuard);
    const __m128d maximum = _mm_set1_pd(kMaximum<Sample>);
    // The places of the two pixels from x in three steps, each a two ahead of the next, as on the AVX2
    // path: the distances from the centre and their place in the table, the source positions, then which
    // lanes the window covers (none where no source lies in the picture). All three are inlined, as on the
    // AVX2 path; left to itself the compiler makes the third a call, whose arguments pass through memory.
    auto reach = [&](LONG x, TwoReach & q) __attribute__((always_inline)) {
        q.dx = _mm_sub_pd(_mm_setr_pd(x, x + 1), cx);
        q.r = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(q.dx, q.dx), _mm_mul_pd(dy, dy)));
        q.u = _mm_div_pd(_mm_mul_pd(lastEntry, q.r), radius);
    };
    auto aim = [&](TwoReach & q) __attribute__((always_inline)) {
        const __m128d dx = q.dx, r = q.r, u = q.u;
        // A lane at or past the last entry (or with no number) takes the last entry.
        const __m128d inTable = _mm_cmplt_pd(u, lastEntry);
        const __m128d used = _mm_and_pd(u, inTable);
        const __m128i entry = _mm_cvttpd_epi32(used);
        const int at0 = _mm_cvtsi128_si32(entry), at1 = _mm_cvtsi128_si32(_mm_srli_si128(entry, 4));
        const __m128d below = _mm_setr_pd(table[at0], table[at1]);
        const __m128d above = _mm_setr_pd(table[at0 + 1], table[at1 + 1]);
        const __m128d f = _mm_sub_pd(used, _mm_cvtepi32_pd(entry));
        const __m128d v = Select(
            inTable, _mm_add_pd(_mm_mul_pd(below, _mm_sub_pd(one, f)), _mm_mul_pd(above, f)), lastValue);
        const __m128d atCentre = _mm_cmpeq_pd(r, zero);
        q.sx = Select(atCentre, cx, _mm_add_pd(cx, _mm_div_pd(_mm_mul_pd(_mm_mul_pd(dx, v), radius), r)));
        q.sy = Select(atCentre, cy, _mm_add_pd(cy, _mm_div_pd(_mm_mul_pd(_mm_mul_pd(dy, v), radius), r)));
    };
    auto place = [&](LONG x, const TwoReach& q, TwoPlaces& p) __attribute__((always_inline)) {
        p.covered = 0;
        p.base[0] = p.base[1] = 0;
        p.fx = p.fy = zero;
        const __m128d sx = q.sx, sy = q.sy;
        const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(sx, zero), _mm_cmplt_pd(sx, width)),
                                          _mm_and_pd(_mm_cmpge_pd(sy, zero), _mm_cmplt_pd(sy, height)));
        const unsigned insideLanes = static_cast<unsigned>(_mm_movemask_pd(inside));
        if (insideLanes == 0)
            return;
        // Lanes outside the picture take position 0, which converts to a whole number like any other.
        const __m128d heldX = _mm_and_pd(sx, inside), heldY = _mm_and_pd(sy, inside);
        const __m128i i0 = _mm_cvttpd_epi32(heldX), j0 = _mm_cvttpd_epi32(heldY);
        p.fx = _mm_sub_pd(heldX, _mm_cvtepi32_pd(i0));
        p.fy = _mm_sub_pd(heldY, _mm_cvtepi32_pd(j0));
        alignas(16) std::int32_t is[4], js[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(is), i0);
        _mm_store_si128(reinterpret_cast<__m128i*>(js), j0);
#pragma GCC unroll 2
        for (int k = 0; k < 2; ++k) {
            if (!(insideLanes & (1u << k)))
                continue;
            if (!window.Covers(is[k], js[k])) {
                missed.push_back(x + k);
                continue;
            }
            p.covered |= 1u << k;
            // Lanes not written are worked out over the window's first block, which is there once one is.
            p.base[k] = (static_cast<std::size_t>(js[k] - 1 - layout.top) * layout.columns +
                         static_cast<std::size_t>(is[k] - 1 - layout.left)) *
                        3;
        }
    };

    TwoPlaces places[kPlacesAhead];
    TwoReach reaches[kReaches];
    const LONG twos = (x1 - x0) / 2;
    for (LONG e = 0; e < std::min<LONG>(twos, kPlacesAhead + 1); ++e)
        reach(x0 + 2 * e, reaches[e]);
    for (LONG e = 0; e < std::min<LONG>(twos, kPlacesAhead); ++e)
        aim(reaches[e]);
    for (LONG e = 0; e < std::min<LONG>(twos, kPlacesAhead - 1); ++e)
        place(x0 + 2 * e, reaches[e], places[e]);
    __m128d distances[2][16];
    int current = 0;
    // Whether distances[current] holds the two's distances, worked out beside the two before it.
    bool ready = false;
    LONG x = x0;
    for (LONG e = 0; e < twos; ++e, x += 2, out += 6) {
        if (e + kPlacesAhead - 1 < twos)
            place(x + 2 * (kPlacesAhead - 1), reaches[(e + kPlacesAhead - 1) % kReaches],
                  places[(e + kPlacesAhead - 1) % kPlacesAhead]);
        if (e + kPlacesAhead < twos)
            aim(reaches[(e + kPlacesAhead) % kReaches]);
        if (e + kPlacesAhead + 1 < twos)
            reach(x + 2 * (kPlacesAhead + 1), reaches[(e + kPlacesAhead + 1) % kReaches]);
        const TwoPlaces& p = places[e % kPlacesAhead];
        if (p.covered == 0) {
            ready = false;
            continue;
        }
        if (!ready)
            Sse2Distances(p, distances[current]);
        const TwoPlaces* next = e + 1 < twos ? &places[(e + 1) % kPlacesAhead] : nullptr;
        if (next && next->covered == 0)
            next = nullptr;
        __m128d sums[3], weightSum;
        Sse2Two<Sample>(layout, p, distances[current], next, distances[1 - current], sums, weightSum);
        ready = next != nullptr;
        if (ready)
            current = 1 - current;
        alignas(16) std::int32_t held[3][4];
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            // max(mean, 0) also turns a mean that is no number into 0, as the one-pixel routine does.
            const __m128d mean = _mm_add_pd(_mm_div_pd(sums[c], weightSum), guard);
            _mm_store_si128(reinterpret_cast<__m128i*>(held[c]),
                            _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(mean, zero), maximum)));
        }
#pragma GCC unroll 2
        for (int k = 0; k < 2; ++k)
            if (p.covered & (1u << k))
#pragma GCC unroll 3
                for (int c = 0; c < 3; ++c)
                    out[3 * k + c] = static_cast<Sample>(held[c][k]);
    }
    return x;
}

} // namespace

void CFisheyeWindow::RemapRow(const CFisheyeGeometry& geometry, LONG y, LONG x0, LONG x1, BYTE* out,
                              std::vector<LONG>& missed) const {
    const bool wide512 = CpuHas(CpuFeature::kAVX512F | CpuFeature::kAVX2);
    const bool simd = CpuHas(CpuFeature::kAVX2 | CpuFeature::kFMA);
    // Eights first, then what is left in fours (or twos without AVX2), then one by one.
    auto run = [&](auto* samples) {
        LONG rest = wide512 ? Avx512Row(*this, geometry, y, x0, x1, samples, missed) : x0;
        const LONG four =
            simd ? Avx2Row(*this, geometry, y, rest, x1, samples + 3 * std::size_t(rest - x0), missed)
                 : Sse2Row(*this, geometry, y, rest, x1, samples + 3 * std::size_t(rest - x0), missed);
        RemapPlain(geometry, y, four, x1, samples + 3 * static_cast<std::size_t>(four - x0), missed);
    };
    if (m_bytesPerSample == 1)
        run(out);
    else
        run(reinterpret_cast<std::uint16_t*>(out));
}
