#include "CDeBayerHQ4RowStages.h"

#include "platform/win/CpuFeatures.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

// The row bodies are inlined into two copies of the step, one compiled for AVX2: the same arithmetic on
// 32-bit values in every lane, so both give the same values bit for bit.
#define KV_INLINE inline __attribute__((always_inline))
#define KV_AVX2 __attribute__((target("avx2")))
#define KV_INLINE_LAMBDA __attribute__((always_inline))

namespace {

using Int64 = std::int64_t;

constexpr Int64 kRootPlusOne = Int64{CDeBayerBase::kMaxRoot} + 1;
// Strength flags: a ring sum of chroma above these is a medium or a strong colour edge.
constexpr LONG kMediumEdge = ((CDeBayerBase::kMaxRoot * 6 + 6) / 256) * 3072;
constexpr LONG kStrongEdge = ((Int64{CDeBayerBase::kMaxRoot} * 15 + 15) / 256) * 3072;
constexpr LONG kMediumFlag = 1;
constexpr LONG kStrongFlag = 2;
// The class: the horizontal/vertical code in bits 2-3, the diagonal code in bits 0-1. Code 1 means the
// first direction named is the busier one (an edge along the other), 2 the second.
constexpr LONG kAxisShift = 2;
constexpr LONG kDiagonalMask = 3;
// Smoothed activities differ by less than this; a threshold beyond it decides like one at it.
constexpr Int64 kThresholdLimit = Int64{1} << 30;

// The rows each ring keeps, from the oldest row a step still reads to the newest it writes.
constexpr LONG kMosaicRows = 12;
constexpr LONG kActivityRows = 5;
constexpr LONG kClassRows = 8;
constexpr LONG kDifferenceRows = 3;
constexpr LONG kSpreadRows = 10;
constexpr LONG kChromaRows = 9;
constexpr LONG kStrengthRows = 2;
constexpr LONG kSecondActivityRows = 5;
constexpr LONG kLuminanceRows = 3;
constexpr LONG kRgbRows = 4;

// Window positions each stage computes, as margins inside the window on the left and the right.
struct Span {
    LONG left;
    LONG right;
};
constexpr Span kActivitySpan{2, 2};
constexpr Span kClassSpan{4, 4};
constexpr Span kSpreadSpan{5, 5};
constexpr Span kNearSpan{6, 6};
constexpr Span kFarSpan{7, 7};
constexpr Span kStrengthSpan{11, 11};
constexpr Span kSecondActivitySpan{9, 9};
constexpr Span kLuminanceSpan{12, 11};
constexpr Span kRgbSpan{13, 12};

// The step's row of each stage, relative to the step's index.
constexpr LONG kActivityLead = 12;
constexpr LONG kClassLead = 10;
constexpr LONG kSpreadLead = 9;
constexpr LONG kChromaLead = 7;
constexpr LONG kSecondActivityLead = 5;
constexpr LONG kStrengthLead = 3;
constexpr LONG kRgbLead = 2;

LONG Threshold(Int64 t) {
    return static_cast<LONG>(std::clamp(t, -kThresholdLimit, kThresholdLimit));
}

KV_INLINE LONG Abs(LONG v) {
    return v < 0 ? -v : v;
}

// Directional activities of the site at j (across, down and along both diagonals), kept as the two
// differences the classification compares: across less down, falling less rising.
KV_INLINE void ActivityRow(const LONG* __restrict n, const LONG* __restrict m, const LONG* __restrict s,
                           LONG* __restrict axis, LONG* __restrict diagonal, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG c = m[j], w = m[j - 1], e = m[j + 1], up = n[j], down = s[j];
        const LONG nw = n[j - 1], ne = n[j + 1], sw = s[j - 1], se = s[j + 1];
        const LONG h = Abs(w - c) + Abs(e - c);
        const LONG v = Abs(down - c) + Abs(up - c);
        const LONG falling = Abs(w - down) + Abs(nw - c) + Abs(se - c) + Abs(up - e) + Abs(nw - se);
        const LONG rising = Abs(sw - c) + Abs(e - down) + Abs(ne - c) + Abs(up - w) + Abs(ne - sw);
        axis[j] = h - v;
        diagonal[j] = falling - rising;
    }
}

// The code of two activities, each smoothed over the nine red or blue sites around j (weight 4 for the
// site, 2 for its diagonal neighbours, 1 for the sites two columns or rows away): 1 when the first exceeds
// the second by more than the threshold, 2 the other way round, else 0. The rows hold the first less the
// second: the smoothing is linear and every partial sum fits, so smoothing the difference gives the
// difference of the smoothed activities exactly.
KV_INLINE void CodeRow(const LONG* __restrict a0, const LONG* __restrict a1, const LONG* __restrict a2,
                       const LONG* __restrict a3, const LONG* __restrict a4, LONG threshold,
                       LONG* __restrict out, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG d = 4 * a2[j] + 2 * (a1[j - 1] + a1[j + 1] + a3[j - 1] + a3[j + 1]) + a2[j - 2] +
                       a2[j + 2] + a0[j] + a4[j];
        out[j] = d > threshold ? 1 : (-d > threshold ? 2 : 0);
    }
}

KV_INLINE void CombineClassRow(const LONG* __restrict axis, const LONG* __restrict diagonal,
                               LONG* __restrict out, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j)
        out[j] = (axis[j] << kAxisShift) | diagonal[j];
}

// 16 x (C - green estimate), the estimate steered by the horizontal/vertical code.
KV_INLINE void DifferenceRow(const LONG* __restrict m0, const LONG* __restrict m1, const LONG* __restrict m2,
                             const LONG* __restrict m3, const LONG* __restrict m4,
                             const LONG* __restrict classes, LONG* __restrict out, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG c = m2[j];
        const LONG upDown = m1[j] + m3[j];
        const LONG leftRight = m2[j - 1] + m2[j + 1];
        // The greens one column aside two rows up and down, and two columns aside one row up and down.
        const LONG farRows = m0[j - 1] + m0[j + 1] + m4[j - 1] + m4[j + 1];
        const LONG farColumns = m1[j - 2] + m1[j + 2] + m3[j - 2] + m3[j + 2];
        // Busier across, the green estimate follows the column; busier down, the row.
        const LONG alongColumn = 16 * c + 2 * farRows - 4 * leftRight - 8 * upDown;
        const LONG alongRow = 16 * c + 2 * farColumns - 4 * upDown - 8 * leftRight;
        const LONG even = 16 * c + farRows + farColumns - 6 * (upDown + leftRight);
        const LONG axis = classes[j] >> kAxisShift;
        out[j] = axis == 1 ? alongColumn : axis == 2 ? alongRow : even;
    }
}

// Both differences at every site, times 4: own for the colour of the row, other for that of the rows
// above and below.
KV_INLINE void SpreadRow(const LONG* __restrict above, const LONG* __restrict centre,
                         const LONG* __restrict below, LONG* __restrict own, LONG* __restrict other,
                         LONG parity, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const bool green = ((j + parity) & 1) != 0;
        own[j] = green ? 2 * (centre[j - 1] + centre[j + 1]) : 4 * centre[j];
        other[j] =
            green ? 2 * (above[j] + below[j]) : above[j - 1] + above[j + 1] + below[j - 1] + below[j + 1];
    }
}

// Weights 1, 2, 1 across over the sites step apart.
KV_INLINE void AcrossRow(const LONG* __restrict in, LONG* __restrict out, LONG step, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j)
        out[j] = in[j - step] + 2 * in[j] + in[j + step];
}

// (|r| + |r - b| + |b|) / 16 of both differences smoothed 1, 2, 1 down over the rows two apart (the rows
// given are smoothed across already).
KV_INLINE void ChromaRow(const LONG* __restrict r0, const LONG* __restrict r1, const LONG* __restrict r2,
                         const LONG* __restrict b0, const LONG* __restrict b1, const LONG* __restrict b2,
                         LONG* __restrict out, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG r = r0[j] + 2 * r1[j] + r2[j];
        const LONG b = b0[j] + 2 * b1[j] + b2[j];
        out[j] = (Abs(r) + Abs(r - b) + Abs(b)) / 16;
    }
}

// The ring sum of chroma around j against the two edge thresholds.
KV_INLINE void StrengthRow(const LONG* __restrict up4, const LONG* __restrict up2,
                           const LONG* __restrict centre, const LONG* __restrict down2,
                           const LONG* __restrict down4, LONG* __restrict out, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG ring = 8 * centre[j] + centre[j - 4] + centre[j + 4] + up4[j] + down4[j] + up2[j - 2] +
                          up2[j + 2] + down2[j - 2] + down2[j + 2];
        out[j] = (ring > kStrongEdge ? kStrongFlag : 0) | (ring > kMediumEdge ? kMediumFlag : 0);
    }
}

// The second activities across and down, kept as their difference like the first ones.
KV_INLINE void SecondActivityRow(const LONG* __restrict n, const LONG* __restrict m, const LONG* __restrict s,
                                 LONG* __restrict axis, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG h = Abs(n[j - 1] - n[j + 1]) + 2 * Abs(m[j - 1] - m[j + 1]) + Abs(s[j - 1] - s[j + 1]);
        const LONG v = Abs(n[j - 1] - s[j - 1]) + 2 * Abs(n[j] - s[j]) + Abs(n[j + 1] - s[j + 1]);
        axis[j] = h - v;
    }
}

// Near colour edges the horizontal/vertical code is the one found again from the second activities.
KV_INLINE void SecondClassRow(const LONG* __restrict axis, const LONG* __restrict classes,
                              const LONG* __restrict strength, LONG* __restrict out, LONG from, LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG again = (axis[j] << kAxisShift) | (classes[j] & kDiagonalMask);
        out[j] = strength[j] != 0 ? again : classes[j];
    }
}

KV_INLINE void LuminanceRow(const LONG* __restrict n, const LONG* __restrict m, const LONG* __restrict s,
                            const LONG* __restrict classes, LONG* __restrict out, LONG parity, LONG from,
                            LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG c = m[j];
        const LONG vertical = n[j] + s[j];
        const LONG horizontal = m[j - 1] + m[j + 1];
        const LONG cross = vertical + horizontal;
        const LONG rising = n[j + 1] + s[j - 1];
        const LONG falling = n[j - 1] + s[j + 1];
        // A red or blue site weighs its neighbours by its class: along the column, along the row or
        // evenly, and along a diagonal or over all four.
        const LONG k = classes[j];
        const LONG axis = k >> kAxisShift;
        const LONG diagonal = k & kDiagonalMask;
        const LONG straight = axis == 1 ? 4 * vertical : axis == 2 ? 4 * horizontal : 2 * cross;
        const LONG slanted = diagonal == 1 ? 2 * rising : diagonal == 2 ? 2 * falling : rising + falling;
        const LONG colourSite = 4 * c + straight + slanted;
        // A green site follows the class of the red or blue site to its left.
        const LONG greenSite =
            classes[j - 1] != 0 ? 2 * (4 * c + cross) : (8 * (n[j - 1] + s[j - 1] + 14 * c)) / 16 + 2 * cross;
        out[j] = ((j + parity) & 1) != 0 ? greenSite : colourSite;
    }
}

// A difference smoothed 1, 2, 1 down and divided by 16: over the rows one apart near strong colour edges,
// else two apart (the rows given are smoothed across already).
KV_INLINE void SmoothDifferenceRow(const LONG* __restrict near0, const LONG* __restrict near1,
                                   const LONG* __restrict near2, const LONG* __restrict far0,
                                   const LONG* __restrict far1, const LONG* __restrict far2,
                                   const LONG* __restrict strength, LONG* __restrict out, LONG from,
                                   LONG to) {
    for (LONG j = from; j < to; ++j) {
        const bool strong = (strength[j] & kStrongFlag) != 0;
        out[j] = (strong ? near0[j] + 2 * near1[j] + near2[j] : far0[j] + 2 * far1[j] + far2[j]) / 16;
    }
}

// Red, green and blue in the square-root domain, stored shifted right by 2, from the sharpened luminance
// and the two smoothed differences.
KV_INLINE void ColourRow(const LONG* __restrict above, const LONG* __restrict centre,
                         const LONG* __restrict below, const LONG* __restrict dr, const LONG* __restrict db,
                         LONG* __restrict red, LONG* __restrict green, LONG* __restrict blue, LONG from,
                         LONG to) {
    for (LONG j = from; j < to; ++j) {
        const LONG block = above[j - 1] + above[j] + above[j + 1] + centre[j - 1] + centre[j] +
                           centre[j + 1] + below[j - 1] + below[j] + below[j + 1];
        const LONG i = 25 * centre[j] - block;
        red[j] = std::clamp<LONG>((i - db[j] + 3 * dr[j]) / 256, 0, CDeBayerBase::kMaxRoot) >> 2;
        green[j] = std::clamp<LONG>((i - db[j] - dr[j]) / 256, 0, CDeBayerBase::kMaxRoot) >> 2;
        blue[j] = std::clamp<LONG>((i + 3 * db[j] - dr[j]) / 256, 0, CDeBayerBase::kMaxRoot) >> 2;
    }
}

} // namespace

template <class T>
void CDeBayerSingleHQ4Filter::CRowStages::CRing<T>::Reset(LONG rows, std::size_t width) {
    const ULONG slots = std::bit_ceil(static_cast<ULONG>(rows));
    m_mask = slots - 1;
    m_width = width;
    m_data.assign(static_cast<std::size_t>(slots) * width, T{});
}

bool CDeBayerSingleHQ4Filter::CRowStages::Prepare(LONG columns, LONG firstColumn, const HQ4Tuning& tuning,
                                                  LONG greenPhase, LONG redRowPhase) {
    m_origin = firstColumn - kMosaicMargin;
    m_width = columns + 2 * kMosaicMargin;
    m_greenPhase = greenPhase;
    m_redRowPhase = redRowPhase;
    m_avx2 = CpuHas(CpuFeature::kAVX2);
    // Levels come from settings: worked in 64 bits, any level gives a threshold, however useless.
    m_classThreshold = Threshold(((Int64{tuning.level[0]} * kRootPlusOne) / 256) * 32);
    m_diagonalThreshold = Threshold(((Int64{tuning.level[2]} * kRootPlusOne) / 256) * 80);
    m_secondThreshold = Threshold(((kRootPlusOne * tuning.level[1]) / 256) * 64);
    const std::size_t width = static_cast<std::size_t>(m_width);
    try {
        m_mosaic.Reset(kMosaicRows, width);
        m_axisActivity.Reset(kActivityRows, width);
        m_diagonalActivity.Reset(kActivityRows, width);
        m_class.Reset(kClassRows, width);
        m_difference.Reset(kDifferenceRows, width);
        for (CRing<LONG>* ring : {&m_redNear, &m_redFar, &m_blueNear, &m_blueFar})
            ring->Reset(kSpreadRows, width);
        m_chroma.Reset(kChromaRows, width);
        m_strength.Reset(kStrengthRows, width);
        m_secondActivity.Reset(kSecondActivityRows, width);
        m_secondClass.Reset(1, width);
        m_luminance.Reset(kLuminanceRows, width);
        m_rgb.Reset(kRgbRows, width);
        for (std::vector<LONG>& row : m_scratch)
            row.assign(width, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CDeBayerSingleHQ4Filter::CRowStages::RgbRows(LONG e, const Rgb16* rows[4]) const {
    for (LONG k = 0; k < 4; ++k)
        rows[k] = m_rgb.Row(e - 1 + k) + kMosaicMargin;
}

KV_INLINE void CDeBayerSingleHQ4Filter::CRowStages::StepBody(LONG e) {
    const LONG w = m_width;
    LONG* const scratch[5] = {m_scratch[0].data(), m_scratch[1].data(), m_scratch[2].data(),
                              m_scratch[3].data(), m_scratch[4].data()};

    LONG y = e + kActivityLead;
    ActivityRow(m_mosaic.Row(y - 1), m_mosaic.Row(y), m_mosaic.Row(y + 1), m_axisActivity.Row(y),
                m_diagonalActivity.Row(y), kActivitySpan.left, w - kActivitySpan.right);

    y = e + kClassLead;
    // A lambda is compiled for the default target whatever its caller's; the attribute keeps it inside the
    // step, so that the AVX2 copy vectorises it too.
    const auto codes = [&](const CRing<LONG>& a, LONG threshold, LONG* out, Span span) KV_INLINE_LAMBDA {
        CodeRow(a.Row(y - 2), a.Row(y - 1), a.Row(y), a.Row(y + 1), a.Row(y + 2), threshold, out, span.left,
                w - span.right);
    };
    codes(m_axisActivity, m_classThreshold, scratch[0], kClassSpan);
    codes(m_diagonalActivity, m_diagonalThreshold, scratch[1], kClassSpan);
    CombineClassRow(scratch[0], scratch[1], m_class.Row(y), kClassSpan.left, w - kClassSpan.right);
    DifferenceRow(m_mosaic.Row(y - 2), m_mosaic.Row(y - 1), m_mosaic.Row(y), m_mosaic.Row(y + 1),
                  m_mosaic.Row(y + 2), m_class.Row(y), m_difference.Row(y), kClassSpan.left,
                  w - kClassSpan.right);

    y = e + kSpreadLead;
    // Red into the first scratch row, blue into the second.
    LONG* own = IsRedRow(y) ? scratch[0] : scratch[1];
    LONG* other = IsRedRow(y) ? scratch[1] : scratch[0];
    SpreadRow(m_difference.Row(y - 1), m_difference.Row(y), m_difference.Row(y + 1), own, other,
              GreenParity(y), kSpreadSpan.left, w - kSpreadSpan.right);
    AcrossRow(scratch[0], m_redNear.Row(y), 1, kNearSpan.left, w - kNearSpan.right);
    AcrossRow(scratch[0], m_redFar.Row(y), 2, kFarSpan.left, w - kFarSpan.right);
    AcrossRow(scratch[1], m_blueNear.Row(y), 1, kNearSpan.left, w - kNearSpan.right);
    AcrossRow(scratch[1], m_blueFar.Row(y), 2, kFarSpan.left, w - kFarSpan.right);

    y = e + kChromaLead;
    ChromaRow(m_redFar.Row(y - 2), m_redFar.Row(y), m_redFar.Row(y + 2), m_blueFar.Row(y - 2),
              m_blueFar.Row(y), m_blueFar.Row(y + 2), m_chroma.Row(y), kFarSpan.left, w - kFarSpan.right);

    y = e + kSecondActivityLead;
    SecondActivityRow(m_mosaic.Row(y - 1), m_mosaic.Row(y), m_mosaic.Row(y + 1), m_secondActivity.Row(y),
                      kSecondActivitySpan.left, w - kSecondActivitySpan.right);

    y = e + kStrengthLead;
    StrengthRow(m_chroma.Row(y - 4), m_chroma.Row(y - 2), m_chroma.Row(y), m_chroma.Row(y + 2),
                m_chroma.Row(y + 4), m_strength.Row(y), kStrengthSpan.left, w - kStrengthSpan.right);
    codes(m_secondActivity, m_secondThreshold, scratch[2], kStrengthSpan);
    SecondClassRow(scratch[2], m_class.Row(y), m_strength.Row(y), m_secondClass.Row(y), kStrengthSpan.left,
                   w - kStrengthSpan.right);
    LuminanceRow(m_mosaic.Row(y - 1), m_mosaic.Row(y), m_mosaic.Row(y + 1), m_secondClass.Row(y),
                 m_luminance.Row(y), GreenParity(y), kLuminanceSpan.left, w - kLuminanceSpan.right);

    y = e + kRgbLead;
    // The smoothed differences go to the last two scratch rows, the colours to the first three.
    SmoothDifferenceRow(m_redNear.Row(y - 1), m_redNear.Row(y), m_redNear.Row(y + 1), m_redFar.Row(y - 2),
                        m_redFar.Row(y), m_redFar.Row(y + 2), m_strength.Row(y), scratch[3], kRgbSpan.left,
                        w - kRgbSpan.right);
    SmoothDifferenceRow(m_blueNear.Row(y - 1), m_blueNear.Row(y), m_blueNear.Row(y + 1), m_blueFar.Row(y - 2),
                        m_blueFar.Row(y), m_blueFar.Row(y + 2), m_strength.Row(y), scratch[4], kRgbSpan.left,
                        w - kRgbSpan.right);
    ColourRow(m_luminance.Row(y - 1), m_luminance.Row(y), m_luminance.Row(y + 1), scratch[3], scratch[4],
              scratch[0], scratch[1], scratch[2], kRgbSpan.left, w - kRgbSpan.right);
    Rgb16* out = m_rgb.Row(y);
    for (LONG j = kRgbSpan.left; j < w - kRgbSpan.right; ++j)
        out[j] = Rgb16{static_cast<WORD>(scratch[0][j]), static_cast<WORD>(scratch[1][j]),
                       static_cast<WORD>(scratch[2][j])};
}

void CDeBayerSingleHQ4Filter::CRowStages::Step(LONG e) {
    if (m_avx2)
        StepAvx2(e);
    else
        StepPlain(e);
}

void CDeBayerSingleHQ4Filter::CRowStages::StepPlain(LONG e) {
    StepBody(e);
}

KV_AVX2 void CDeBayerSingleHQ4Filter::CRowStages::StepAvx2(LONG e) {
    StepBody(e);
}
