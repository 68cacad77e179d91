#include "PravonImageData.h"

#include "platform/win/FourCC.h"

#include <cstring>

namespace {
constexpr LONG kComponent = FourCC("PRVN");
} // namespace

IPravonError* PravonSetData(IPravonImage* image, const PravonRect& rect, const void* buffer,
                            std::size_t rowBytes) {
    if (!image || !buffer)
        return IPravonError::Add(nullptr, kComponent, __LINE__, PravonKind::kBadArgument,
                                 "no image or buffer");
    LONG colorSpace = 0, width = 0, height = 0;
    if (IPravonError* e = image->GetColorSpace(&colorSpace))
        return e;
    if (IPravonError* e = image->GetSize(&width, &height))
        return e;
    const LONG bpp = PravonColorSpace::BitsPerPixel(colorSpace);
    if (bpp <= 0 || bpp % 8 != 0)
        return IPravonError::Add(nullptr, kComponent, __LINE__, PravonKind::kUnsupportedColorSpace);
    const std::size_t pixelBytes = static_cast<std::size_t>(bpp / 8);
    if (rect.Width() > 0 && rowBytes < static_cast<std::size_t>(rect.Width()) * pixelBytes)
        return IPravonError::Add(nullptr, kComponent, __LINE__, PravonKind::kBadArgument, "rows too short");
    const CPravonRect want = CPravonRect(rect).Intersect(CPravonRect(0, 0, width, height));
    if (want.Empty())
        return nullptr;

    IPravonTileGrid* grid = nullptr;
    if (IPravonError* e = image->MapRect(want, &grid))
        return e;
    IPravonError* err = nullptr;
    const auto* in = static_cast<const BYTE*>(buffer);
    for (LONG r = 0; r < grid->GetRowCount() && !err; ++r) {
        for (LONG c = 0; c < grid->GetColumnCount() && !err; ++c) {
            void* data = nullptr;
            PravonRect tileRect, clip;
            LONG tileRowBytes = 0;
            if ((err = image->LockTile(grid, c, r, &data, &tileRect, &clip, &tileRowBytes)))
                break;
            auto* out = static_cast<BYTE*>(data);
            for (LONG y = clip.top; y < clip.bottom; ++y) {
                std::memcpy(out + static_cast<std::ptrdiff_t>(y - tileRect.top) * tileRowBytes +
                                static_cast<std::size_t>(clip.left - tileRect.left) * pixelBytes,
                            in + static_cast<std::size_t>(y - rect.top) * rowBytes +
                                static_cast<std::size_t>(clip.left - rect.left) * pixelBytes,
                            static_cast<std::size_t>(clip.right - clip.left) * pixelBytes);
            }
            // Only a tile written whole becomes valid: the rest of a partly written one keeps its state.
            IPravonTile* tile = nullptr;
            if (CPravonRect(clip) == CPravonRect(tileRect).Intersect(CPravonRect(0, 0, width, height)) &&
                (err = grid->GetTile(c, r, &tile)) == nullptr)
                tile->SetValid();
            err = IPravonError::Chain(err, image->UnlockTile(grid, c, r));
        }
    }
    grid->Release();
    return err;
}
