#include "platform/dragkvl1/DragRuns.h"

#include "platform/dragkvl1/DragHooks.h"

#include <algorithm>
#include <climits>

namespace dragkvl1 {

namespace {

std::int32_t ReadRows(const DragParams& params, const DragRect& rect, std::uint16_t* planar,
                      void* description, void** object) {
    CountRowSource();
    if (void* error = params.rowSource(&rect, planar, description)) {
        *object = error;
        return DRAG_ERR_OBJECT;
    }
    return DRAG_OK;
}

std::int32_t WriteRows(const DragParams& params, const DragRect& rect, const std::uint16_t* planar,
                       void* description, void** object) {
    CountRowSink();
    if (void* error = params.rowSink(&rect, planar, description)) {
        *object = error;
        return DRAG_ERR_OBJECT;
    }
    return DRAG_OK;
}

DragRect Rect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom) {
    return {static_cast<std::int32_t>(left), static_cast<std::int32_t>(top), static_cast<std::int32_t>(right),
            static_cast<std::int32_t>(bottom)};
}

std::int32_t Percent(std::uint64_t done, std::uint64_t total) {
    return total ? static_cast<std::int32_t>(done * 100 / total) : 100;
}

} // namespace

std::int32_t CDragRun::BandRows(std::uint64_t bytesPerRow, std::uint32_t* rows, void** object) const {
    const auto clampToInt = [](std::uint64_t v) {
        return static_cast<std::int32_t>(std::min<std::uint64_t>(v, INT32_MAX));
    };
    const std::int32_t low = clampToInt(bytesPerRow);
    const std::int32_t high = clampToInt(bytesPerRow * kPreferredBandRows);
    std::int32_t bytes = 0;
    if (void* error = m_params.limit(low, high, 0, &bytes)) {
        *object = error;
        return DRAG_ERR_OBJECT;
    }
    const std::uint64_t granted = static_cast<std::uint64_t>(std::max(bytes, low));
    *rows = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(granted / std::max<std::uint64_t>(bytesPerRow, 1), 1, kPreferredBandRows));
    return DRAG_OK;
}

CStatisticsRun::CStatisticsRun(const DragParams& params, const DragImageRef& statistics)
    : CDragRun(params), m_statistics(statistics), m_width(params.measured.right - params.measured.left),
      m_height(params.measured.bottom - params.measured.top), m_planes(params.measured.planes),
      m_blocksAcross(StatisticsSize(m_width)) {}

std::int32_t CStatisticsRun::Begin(void** object) {
    std::int32_t result =
        BandRows(std::uint64_t{m_width} * m_planes * sizeof(std::uint16_t), &m_bandRows, object);
    if (result == DRAG_OK)
        result =
            m_band.Allocate<std::uint16_t>(m_params, std::uint64_t{m_width} * m_bandRows * m_planes, object);
    if (result == DRAG_OK)
        result = m_sums.Allocate<std::uint64_t>(m_params, m_blocksAcross, object);
    if (result == DRAG_OK)
        result = m_means.Allocate<std::uint16_t>(m_params, m_blocksAcross, object);
    if (result == DRAG_OK)
        std::fill_n(m_sums.As<std::uint64_t>(), m_blocksAcross, 0);
    return result;
}

std::int32_t CStatisticsRun::Step(std::int32_t rows, void** object) {
    const bool brightest = m_params.flagSet != 0;
    std::uint16_t* band = m_band.As<std::uint16_t>();
    std::uint64_t* sums = m_sums.As<std::uint64_t>();
    const DragImageRef& measured = m_params.measured;
    while (rows > 0 && !Done()) {
        const std::uint32_t n = std::min({m_bandRows, m_height - m_done, static_cast<std::uint32_t>(rows)});
        const std::int64_t top = std::int64_t{measured.top} + m_done;
        const DragRect rect = Rect(measured.left, top, measured.right, top + n);
        if (std::int32_t result = ReadRows(m_params, rect, band, measured.description, object))
            return result;
        const std::size_t plane = static_cast<std::size_t>(m_width) * n;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::size_t row = static_cast<std::size_t>(k) * m_width;
            for (std::uint32_t x = 0; x < m_width; ++x) {
                const std::size_t i = row + x;
                // With a second source, its grey samples are what is measured.
                const std::uint32_t y =
                    m_planes == 4 ? band[3 * plane + i]
                                  : Brightness(band[i], band[plane + i], band[2 * plane + i], brightest);
                sums[x / DRAG_STATISTICS_BLOCK] += y;
            }
            ++m_done;
            if (++m_rowsInBlock == DRAG_STATISTICS_BLOCK || Done()) {
                if (std::int32_t result = EmitBlockRow(object))
                    return result;
            }
        }
        rows -= static_cast<std::int32_t>(n);
    }
    return DRAG_OK;
}

std::int32_t CStatisticsRun::EmitBlockRow(void** object) {
    std::uint64_t* sums = m_sums.As<std::uint64_t>();
    std::uint16_t* means = m_means.As<std::uint16_t>();
    for (std::uint32_t i = 0; i < m_blocksAcross; ++i) {
        const std::uint64_t columns = std::min(DRAG_STATISTICS_BLOCK, m_width - i * DRAG_STATISTICS_BLOCK);
        const std::uint64_t count = columns * m_rowsInBlock;
        means[i] = static_cast<std::uint16_t>((sums[i] + count / 2) / count);
        sums[i] = 0;
    }
    m_rowsInBlock = 0;
    const DragRect rect = Rect(0, m_blockRow, m_blocksAcross, std::int64_t{m_blockRow} + 1);
    ++m_blockRow;
    return WriteRows(m_params, rect, means, m_statistics.description, object);
}

std::int32_t CStatisticsRun::Progress() const {
    return Percent(m_done, m_height);
}

COutputRun::COutputRun(const DragParams& params, std::int32_t kind)
    : CDragRun(params), m_stripWidth(params.source.right - params.source.left),
      m_stripHeight(params.source.bottom - params.source.top), m_bufferWidth(params.buffer.width),
      m_bufferHeight(params.buffer.height) {
    m_mapping.lift = params.lift;
    m_mapping.contrast = params.contrast;
    m_mapping.radius = DetailRadius(kind);
    m_mapping.lowest = params.useLowest ? std::clamp(params.lowest, 0, 65535) : 0;
    m_mapping.highest = params.useHighest ? std::clamp(params.highest, 0, 65535) : 65535;
}

std::int32_t COutputRun::Begin(void** object) {
    const DragImageRef& statistics = m_params.statistics;
    const std::uint64_t cells = std::uint64_t{statistics.width} * statistics.height;
    {
        // The row source gives a grey image in all three planes; plane 0 is the statistics.
        CCallbackMemory samples;
        if (std::int32_t result = samples.Allocate<std::uint16_t>(m_params, cells * 3, object))
            return result;
        const DragRect all = Rect(0, 0, statistics.width, statistics.height);
        if (std::int32_t result =
                ReadRows(m_params, all, samples.As<std::uint16_t>(), statistics.description, object))
            return result;
        const DragImageRef& s = m_params.source;
        m_field.Assign(samples.As<std::uint16_t>(), statistics.width, statistics.height, s.width, s.height,
                       static_cast<std::int32_t>(s.left), static_cast<std::int32_t>(s.top),
                       static_cast<std::int32_t>(s.right), static_cast<std::int32_t>(s.bottom));
    }
    m_mapping.target = static_cast<std::int32_t>(std::min<std::uint64_t>(
        65535, (std::uint64_t{m_field.Mean()} * m_params.target + kOwnMean / 2) / kOwnMean));

    const std::uint32_t reach = static_cast<std::uint32_t>(m_mapping.radius);
    const std::uint64_t inWidth = m_stripWidth + 2 * reach;
    // Per row of a band: the copy (3 planes), the mapping's input (3 planes and the brightness) and its
    // output (3 planes), none wider than the buffer.
    std::int32_t result = BandRows(std::uint64_t{m_bufferWidth} * (6 + 6 + 4 + 6), &m_bandRows, object);
    const std::uint64_t inRows = m_bandRows + 2 * reach;
    if (result == DRAG_OK)
        result =
            m_copy.Allocate<std::uint16_t>(m_params, std::uint64_t{m_bufferWidth} * m_bandRows * 3, object);
    if (result == DRAG_OK)
        result = m_in.Allocate<std::uint16_t>(m_params, inWidth * inRows * 3, object);
    if (result == DRAG_OK)
        result = m_brightness.Allocate<std::uint32_t>(m_params, inWidth * inRows, object);
    if (result == DRAG_OK)
        result = m_columns.Allocate<std::uint32_t>(m_params, inWidth, object);
    if (result == DRAG_OK)
        result =
            m_out.Allocate<std::uint16_t>(m_params, std::uint64_t{m_stripWidth} * m_bandRows * 3, object);
    return result;
}

std::int32_t COutputRun::Step(std::int32_t rows, void** object) {
    while (rows > 0 && !Done()) {
        const bool copying = m_copied < m_bufferHeight;
        const std::uint32_t left = copying ? m_bufferHeight - m_copied : m_stripHeight - m_mapped;
        const std::uint32_t n = std::min({m_bandRows, left, static_cast<std::uint32_t>(rows)});
        if (std::int32_t result = copying ? CopyBand(n, object) : MapRows(n, object))
            return result;
        rows -= static_cast<std::int32_t>(n);
    }
    return DRAG_OK;
}

std::int32_t COutputRun::CopyBand(std::uint32_t rows, void** object) {
    const DragImageRef& s = m_params.source;
    const std::int64_t margin = m_params.buffer.left;
    const std::int64_t top = std::int64_t{s.top} - margin + m_copied;
    const DragRect from =
        Rect(std::int64_t{s.left} - margin, top, std::int64_t{s.right} + margin, top + rows);
    std::uint16_t* band = m_copy.As<std::uint16_t>();
    if (std::int32_t result = ReadRows(m_params, from, band, s.description, object))
        return result;
    const DragRect to = Rect(0, m_copied, m_bufferWidth, std::int64_t{m_copied} + rows);
    if (std::int32_t result = WriteRows(m_params, to, band, m_params.buffer.description, object))
        return result;
    m_copied += rows;
    return DRAG_OK;
}

std::int32_t COutputRun::MapRows(std::uint32_t rows, void** object) {
    const DragImageRef& b = m_params.buffer;
    const std::int64_t reach = m_mapping.radius;
    const std::int64_t top = std::int64_t{b.top} + m_mapped;
    const DragRect from =
        Rect(std::int64_t{b.left} - reach, top - reach, std::int64_t{b.right} + reach, top + rows + reach);
    if (std::int32_t result = ReadRows(m_params, from, m_in.As<std::uint16_t>(), b.description, object))
        return result;
    const DragImageRef& s = m_params.source;
    MapBand(m_in.As<std::uint16_t>(), m_stripWidth + 2 * static_cast<std::uint32_t>(reach),
            rows + 2 * static_cast<std::uint32_t>(reach), static_cast<std::int32_t>(s.left),
            static_cast<std::int32_t>(s.top + m_mapped), m_params.flagSet != 0, m_field, m_mapping,
            m_brightness.As<std::uint32_t>(), m_columns.As<std::uint32_t>(), m_out.As<std::uint16_t>());
    const DragImageRef& d = m_params.destination;
    const std::int64_t destinationTop = std::int64_t{d.top} + m_mapped;
    const DragRect to = Rect(d.left, destinationTop, d.right, destinationTop + rows);
    if (std::int32_t result = WriteRows(m_params, to, m_out.As<std::uint16_t>(), d.description, object))
        return result;
    m_mapped += rows;
    return DRAG_OK;
}

std::int32_t COutputRun::Progress() const {
    return Percent(std::uint64_t{m_copied} + m_mapped, std::uint64_t{m_bufferHeight} + m_stripHeight);
}

} // namespace dragkvl1
