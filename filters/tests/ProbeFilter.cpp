#include "ProbeFilter.h"

#include <cstring>

namespace kvtest {

ProbeFilter::ProbeFilter(IPravonManager* manager, BYTE addend, LONG cacheUsage)
    : CPravonFilterBase(manager, cacheUsage), m_addend(addend) {}

TestPlane ProbeFilter::Expected(const TestPlane& source) const {
    TestPlane out = source;
    for (LONG y = 0; y < out.height; ++y) {
        std::uint8_t* row = out.Row(y);
        for (std::size_t i = 0;
             i < static_cast<std::size_t>(out.width) * (out.BitsPerSample() * out.Channels() / 8); ++i)
            row[i] = static_cast<std::uint8_t>(row[i] + m_addend);
    }
    return out;
}

// The pattern every filter follows: find what is invalid, fetch exactly the source part it needs
// through the source's grid, compute, and validate only on success.
IPravonError* ProbeFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = GetFirstSource(info, &source))
        return e;
    PravonRect invalid;
    if (!tile->IsInvalid(&invalid))
        return nullptr;
    calls.push_back(Call{invalid, tile->GetRect(), info});

    LONG colorSpace = 0;
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return e;
    const LONG bpp = GetBitsPerPixel(colorSpace);
    if (bpp < 8 || bpp % 8 != 0)
        return IPravonError::Add(nullptr, kCode, __LINE__, PravonKind::kUnsupportedColorSpace,
                                 "Bad source data color space");
    const std::size_t pixel = static_cast<std::size_t>(bpp / 8);

    void* out = nullptr;
    if (IPravonError* e = tile->Lock(&out, nullptr))
        return e;
    if (during)
        during();
    const PravonRect tileRect = tile->GetRect();
    const LONG outRowBytes = tile->GetRowBytes();
    IPravonTileGrid* grid = nullptr;
    IPravonError* err = source->MapRect(invalid, &grid);
    for (LONG r = 0; !err && r < grid->GetRowCount(); ++r) {
        for (LONG c = 0; !err && c < grid->GetColumnCount(); ++c) {
            void* in = nullptr;
            PravonRect cellRect;
            PravonRect clip;
            LONG inRowBytes = 0;
            if ((err = source->LockTile(grid, c, r, &in, &cellRect, &clip, &inRowBytes)))
                break;
            for (LONG y = clip.top; y < clip.bottom; ++y) {
                const auto* from = static_cast<const BYTE*>(in) +
                                   static_cast<std::size_t>(y - cellRect.top) * inRowBytes +
                                   static_cast<std::size_t>(clip.left - cellRect.left) * pixel;
                auto* to = static_cast<BYTE*>(out) +
                           static_cast<std::size_t>(y - tileRect.top) * outRowBytes +
                           static_cast<std::size_t>(clip.left - tileRect.left) * pixel;
                for (std::size_t i = 0; i < static_cast<std::size_t>(clip.right - clip.left) * pixel; ++i)
                    to[i] = static_cast<BYTE>(from[i] + m_addend);
            }
            err = source->UnlockTile(grid, c, r);
            if (!err && failures > 0) {
                --failures;
                err = IPravonError::Add(nullptr, kCode, __LINE__, failKind, "probe failure");
            }
        }
    }
    if (grid)
        grid->Release();
    err = IPravonError::Chain(err, tile->Unlock());
    if (!err)
        tile->Validate();
    return err;
}

} // namespace kvtest
