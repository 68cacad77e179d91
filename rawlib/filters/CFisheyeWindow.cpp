#include "CFisheyeWindow.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
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

} // namespace

CFisheyeWindow::Weights CFisheyeWindow::WeightsAt(double fx, double fy) {
    Weights weights{};
    double dx2[4], dy2[4];
    for (int k = 0; k < 4; ++k) {
        const double dx = fx - (k - 1);
        const double dy = fy - (k - 1);
        dx2[k] = dx * dx;
        dy2[k] = dy * dy;
    }
    double sum = 0;
    for (int n = 0; n < 4; ++n) {
        for (int m = 0; m < 4; ++m) {
            const double w = Kernel(std::sqrt(dx2[m] + dy2[n]));
            weights.w[n * 4 + m] = w;
            sum += w;
        }
    }
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
    m_left = area.left - 1;
    m_top = area.top - 1;
    m_columns = std::max<LONG>(area.right - area.left, 0) + 3;
    m_rows = std::max<LONG>(area.bottom - area.top, 0) + 3;
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
    constexpr unsigned maximum = sizeof(Sample) == 1 ? 255 : 65535;
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<Sample>(Held(sums[c], weights.sum, maximum));
}

void CFisheyeWindow::Interpolate(LONG i0, LONG j0, const Weights& weights, BYTE* out) const {
    if (m_bytesPerSample == 1)
        InterpolateSamples(i0, j0, weights, out);
    else
        InterpolateSamples(i0, j0, weights, reinterpret_cast<std::uint16_t*>(out));
}
