#include "CDustBoxBlur.h"

#include "KvDustFormat.h"
#include "KvDustImageRows.h"

#include <algorithm>
#include <cmath>
#include <new>

LONG CDustBoxBlur::BoxSize(double distance, double fNumber, double pitch) {
    const double size = std::floor(1000.0 * distance / (fNumber * pitch) + 0.5);
    // A box can never be narrower than the pixel itself; corrupt apertures would otherwise give none.
    if (!(size >= 1))
        return 1;
    return size > 65535 ? 65535 : static_cast<LONG>(size);
}

CDustBoxBlur::Axis CDustBoxBlur::MakeAxis(LONG size) {
    Axis axis;
    axis.size = std::max(size, LONG{1});
    axis.half = (axis.size - 1) / 2;
    axis.even = axis.size % 2 == 0;
    return axis;
}

void CDustBoxBlur::SetUp(LONG boxWidth, LONG boxHeight) {
    m_width = MakeAxis(boxWidth);
    m_height = MakeAxis(boxHeight);
}

void CDustBoxBlur::Release() {
    std::vector<BYTE>().swap(m_window);
    std::vector<std::int64_t>().swap(m_columnCore);
    std::vector<std::int64_t>().swap(m_columnTotal);
}

IPravonError* CDustBoxBlur::Process(IPravonDataSource* source, const PravonRect& rect, BYTE* out,
                                    std::size_t stride, std::int64_t* darkCount) {
    const LONG reachX = m_width.Reach();
    const LONG reachY = m_height.Reach();
    const CPravonRect window(rect.left - reachX, rect.top - reachY, rect.right + reachX,
                             rect.bottom + reachY);
    const std::size_t windowWidth = static_cast<std::size_t>(window.Width());
    try {
        m_window.resize(windowWidth * static_cast<std::size_t>(window.Height()));
        m_columnCore.assign(windowWidth, 0);
        m_columnTotal.resize(windowWidth);
    } catch (const std::bad_alloc&) {
        return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for the blur window");
    }
    if (IPravonError* e = KvDust::GetClampedRect(source, window, m_window.data(), windowWidth))
        return e;
    const auto at = [&](std::size_t x, LONG windowRow) -> std::int64_t {
        return m_window[static_cast<std::size_t>(windowRow) * windowWidth + x];
    };
    // Sums in whole units: each even axis doubles the core weight so that its edge samples count 1.
    const std::int64_t divisor = std::int64_t{GetArea()} * m_width.Scale() * m_height.Scale();
    const LONG hx = m_width.half;
    const LONG hy = m_height.half;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        const LONG row = y - window.top; // the output row's centre in the window
        for (std::size_t x = 0; x < windowWidth; ++x) {
            if (y == rect.top) {
                std::int64_t core = 0;
                for (LONG d = -hy; d <= hy; ++d)
                    core += at(x, row + d);
                m_columnCore[x] = core;
            } else {
                m_columnCore[x] += at(x, row + hy) - at(x, row - hy - 1);
            }
            std::int64_t total = m_columnCore[x] * m_height.Scale();
            if (m_height.even)
                total += at(x, row - hy - 1) + at(x, row + hy + 1);
            m_columnTotal[x] = total;
        }
        BYTE* to = out + static_cast<std::size_t>(y - rect.top) * stride;
        std::int64_t core = 0;
        for (LONG d = -hx; d <= hx; ++d)
            core += m_columnTotal[static_cast<std::size_t>(reachX + d)];
        for (LONG x = 0; x < rect.right - rect.left; ++x) {
            const std::size_t centre = static_cast<std::size_t>(x + reachX);
            if (x > 0)
                core += m_columnTotal[centre + hx] - m_columnTotal[centre - hx - 1];
            std::int64_t total = core * m_width.Scale();
            if (m_width.even)
                total += m_columnTotal[centre - hx - 1] + m_columnTotal[centre + hx + 1];
            const std::int64_t value = total / divisor;
            to[x] = static_cast<BYTE>(value);
            if (value < kDarkLevel)
                ++*darkCount;
        }
    }
    return nullptr;
}
