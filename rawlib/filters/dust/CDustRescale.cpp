#include "CDustRescale.h"

#include "KvDustFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

double CDustRescale::ScaleFactor(double distance, ULONG imageLens, ULONG referenceLens) {
    const double image = 2000.0 / imageLens;
    const double reference = 2000.0 / referenceLens;
    return distance / (image - distance) * ((reference - image) / reference) + 1;
}

IPravonError* CDustRescale::BuildMap(LONG count, double scale, std::vector<LONG>* map) {
    try {
        map->resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for a rescale map");
    }
    const double centre = (count - 1) / 2.0;
    for (LONG i = 0; i < count; ++i)
        (*map)[i] = static_cast<LONG>(std::floor((centre + (i - centre) / scale) * 4096 + 0.5));
    return nullptr;
}

IPravonError* CDustRescale::Build(LONG width, LONG height, double scale) {
    if (!(scale > 0) || !std::isfinite(scale))
        return PravonFail(KvDust::kComponent, PravonKind::kOutOfRange, "the lens rescale factor is unusable");
    if (IPravonError* e = BuildMap(width, scale, &m_columns))
        return e;
    return BuildMap(height, scale, &m_rows);
}

void CDustRescale::Release() {
    std::vector<LONG>().swap(m_columns);
    std::vector<LONG>().swap(m_rows);
    std::vector<BYTE>().swap(m_window);
}

IPravonError* CDustRescale::Process(IPravonDataSource* source, const PravonRect& rect, BYTE* out,
                                    std::size_t stride) {
    const LONG width = static_cast<LONG>(m_columns.size());
    const LONG height = static_cast<LONG>(m_rows.size());
    // The maps grow with the position, so the first and last entries bound the source window; each sample
    // also reads its right and lower neighbour.
    const LONG left = m_columns[rect.left] >> kFractionBits;
    const LONG right = (m_columns[rect.right - 1] >> kFractionBits) + 2;
    const LONG top = m_rows[rect.top] >> kFractionBits;
    const LONG bottom = (m_rows[rect.bottom - 1] >> kFractionBits) + 2;
    const std::size_t windowWidth = static_cast<std::size_t>(right - left);
    try {
        m_window.assign(windowWidth * static_cast<std::size_t>(bottom - top),
                        static_cast<BYTE>(kOutsideSample));
    } catch (const std::bad_alloc&) {
        return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for the rescale window");
    }
    const CPravonRect inside =
        CPravonRect(left, top, right, bottom).Intersect(CPravonRect(0, 0, width, height));
    if (!inside.Empty()) {
        BYTE* at =
            m_window.data() + static_cast<std::size_t>(inside.top - top) * windowWidth + (inside.left - left);
        if (IPravonError* e = source->GetData(inside, at, windowWidth))
            return e;
    }
    constexpr std::int64_t kOne = std::int64_t{1} << kFractionBits;
    constexpr LONG kMask = static_cast<LONG>(kOne - 1);
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        const LONG rowEntry = m_rows[y];
        const std::int64_t fy = rowEntry & kMask;
        const BYTE* upper =
            m_window.data() + static_cast<std::size_t>((rowEntry >> kFractionBits) - top) * windowWidth;
        const BYTE* lower = upper + windowWidth;
        BYTE* to = out + static_cast<std::size_t>(y - rect.top) * stride;
        for (LONG x = rect.left; x < rect.right; ++x) {
            const LONG columnEntry = m_columns[x];
            const std::int64_t fx = columnEntry & kMask;
            const std::size_t c = static_cast<std::size_t>((columnEntry >> kFractionBits) - left);
            const std::int64_t up = upper[c] * (kOne - fx) + upper[c + 1] * fx;
            const std::int64_t down = lower[c] * (kOne - fx) + lower[c + 1] * fx;
            to[x - rect.left] = static_cast<BYTE>((up * (kOne - fy) + down * fy) >> (2 * kFractionBits));
        }
    }
    return nullptr;
}
