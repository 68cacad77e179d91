#include "platform/dragkvl1/DragToneMap.h"

#include <algorithm>

namespace dragkvl1 {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

Tap CStatisticsField::AxisTap(std::int64_t p, std::uint32_t n, std::uint32_t m) {
    // (p + 1/2) * m / n - 1/2 in 1/256 steps: block centres land on whole sample positions.
    const std::int64_t s = FloorDiv((2 * p + 1) * static_cast<std::int64_t>(m) * 128, n) - 128;
    const std::int64_t first = FloorDiv(s, 256);
    const std::int64_t last = static_cast<std::int64_t>(m) - 1;
    Tap tap;
    tap.first = static_cast<std::uint32_t>(std::clamp<std::int64_t>(first, 0, last));
    tap.second = static_cast<std::uint32_t>(std::clamp<std::int64_t>(first + 1, 0, last));
    tap.weight = static_cast<std::uint32_t>(s - first * 256);
    return tap;
}

void CStatisticsField::Assign(const std::uint16_t* samples, std::uint32_t width, std::uint32_t height,
                              std::uint32_t sourceWidth, std::uint32_t sourceHeight, std::int32_t left,
                              std::int32_t top, std::int32_t right, std::int32_t bottom) {
    const std::size_t count = static_cast<std::size_t>(width) * height;
    m_samples.assign(samples, samples + count);
    m_width = width;
    std::uint64_t sum = 0;
    for (std::uint16_t s : m_samples)
        sum += s;
    m_mean = count ? static_cast<std::uint32_t>((sum + count / 2) / count) : 0;
    m_left = left;
    m_top = top;
    m_columns.resize(static_cast<std::size_t>(std::max(right - left, 0)));
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        m_columns[i] = AxisTap(left + static_cast<std::int64_t>(i), sourceWidth, width);
    m_rows.resize(static_cast<std::size_t>(std::max(bottom - top, 0)));
    for (std::size_t j = 0; j < m_rows.size(); ++j)
        m_rows[j] = AxisTap(top + static_cast<std::int64_t>(j), sourceHeight, height);
}

std::uint32_t CStatisticsField::LocalMean(std::int32_t x, std::int32_t y) const {
    const Tap& c = m_columns[static_cast<std::size_t>(x - m_left)];
    const Tap& r = m_rows[static_cast<std::size_t>(y - m_top)];
    const std::uint16_t* row0 = m_samples.data() + static_cast<std::size_t>(r.first) * m_width;
    const std::uint16_t* row1 = m_samples.data() + static_cast<std::size_t>(r.second) * m_width;
    const std::uint64_t top =
        std::uint64_t{row0[c.first]} * (256 - c.weight) + std::uint64_t{row0[c.second]} * c.weight;
    const std::uint64_t bottom =
        std::uint64_t{row1[c.first]} * (256 - c.weight) + std::uint64_t{row1[c.second]} * c.weight;
    return static_cast<std::uint32_t>((top * (256 - r.weight) + bottom * r.weight + 32768) >> 16);
}

void MapBand(const std::uint16_t* in, std::uint32_t inWidth, std::uint32_t inHeight, std::int32_t x0,
             std::int32_t y0, bool brightest, const CStatisticsField& statistics, const ToneMapping& mapping,
             std::uint32_t* brightness, std::uint32_t* columns, std::uint16_t* out) {
    const std::uint32_t r = static_cast<std::uint32_t>(mapping.radius);
    const std::uint32_t side = 2 * r + 1;
    if (inWidth < side || inHeight < side)
        return;
    const std::uint32_t outWidth = inWidth - 2 * r;
    const std::uint32_t outHeight = inHeight - 2 * r;
    const std::size_t inPlane = static_cast<std::size_t>(inWidth) * inHeight;
    const std::size_t outPlane = static_cast<std::size_t>(outWidth) * outHeight;
    for (std::size_t i = 0; i < inPlane; ++i)
        brightness[i] = Brightness(in[i], in[inPlane + i], in[2 * inPlane + i], brightest);

    const std::uint32_t area = side * side;
    const std::int64_t lift = mapping.lift - static_cast<std::int32_t>(kNeutral);
    const std::int64_t contrast = mapping.contrast - static_cast<std::int32_t>(kNeutral);
    for (std::uint32_t oy = 0; oy < outHeight; ++oy) {
        // Column sums over the rows oy .. oy + 2r, slid down one row at a time.
        if (oy == 0) {
            std::fill(columns, columns + inWidth, 0u);
            for (std::uint32_t k = 0; k < side; ++k)
                for (std::uint32_t x = 0; x < inWidth; ++x)
                    columns[x] += brightness[static_cast<std::size_t>(k) * inWidth + x];
        } else {
            const std::uint32_t* leaving = brightness + static_cast<std::size_t>(oy - 1) * inWidth;
            const std::uint32_t* entering = brightness + static_cast<std::size_t>(oy + 2 * r) * inWidth;
            for (std::uint32_t x = 0; x < inWidth; ++x)
                columns[x] = columns[x] + entering[x] - leaving[x];
        }
        std::uint32_t window = 0;
        for (std::uint32_t k = 0; k < side; ++k)
            window += columns[k];
        for (std::uint32_t ox = 0; ox < outWidth; ++ox) {
            if (ox > 0)
                window = window + columns[ox + 2 * r] - columns[ox - 1];
            const std::size_t at = static_cast<std::size_t>(oy + r) * inWidth + ox + r;
            const std::int64_t detail =
                static_cast<std::int64_t>(brightness[at]) - (window + area / 2) / area;
            const std::int64_t local =
                statistics.LocalMean(x0 + static_cast<std::int32_t>(ox), y0 + static_cast<std::int32_t>(oy));
            const std::int64_t delta = FloorDiv(lift * (mapping.target - local) + contrast * detail, 128);
            const std::size_t o = static_cast<std::size_t>(oy) * outWidth + ox;
            for (int c = 0; c < 3; ++c) {
                const std::int64_t v = in[c * inPlane + at] + delta;
                out[c * outPlane + o] =
                    static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, mapping.lowest, mapping.highest));
            }
        }
    }
}

} // namespace dragkvl1
