#include "TestPlane.h"

#include "PravonTestSupport.h"

#include <cstring>
#include <random>

namespace kvtest {

TestPlane::TestPlane(LONG w, LONG h, LONG cs) : width(w), height(h), colorSpace(cs) {
    const std::uint64_t bits = static_cast<std::uint64_t>(w) * PravonColorSpace::BitsPerPixel(cs);
    rowBytes = static_cast<std::size_t>((bits + 7) / 8);
    data.assign(rowBytes * static_cast<std::size_t>(h), 0);
}

ULONG TestPlane::Sample(LONG x, LONG y, LONG channel) const {
    const LONG bits = BitsPerSample();
    const std::uint8_t* row = Row(y);
    if (bits == 8)
        return row[static_cast<std::size_t>(x) * Channels() + channel];
    if (bits == 16) {
        std::uint16_t v;
        std::memcpy(&v, row + 2 * (static_cast<std::size_t>(x) * Channels() + channel), 2);
        return v;
    }
    if (bits == 32) {
        std::uint32_t v;
        std::memcpy(&v, row + 4 * (static_cast<std::size_t>(x) * Channels() + channel), 4);
        return v;
    }
    const std::size_t bit = static_cast<std::size_t>(x) * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

void TestPlane::SetSample(LONG x, LONG y, LONG channel, ULONG value) {
    const LONG bits = BitsPerSample();
    std::uint8_t* row = Row(y);
    if (bits == 8) {
        row[static_cast<std::size_t>(x) * Channels() + channel] = static_cast<std::uint8_t>(value);
    } else if (bits == 16) {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(row + 2 * (static_cast<std::size_t>(x) * Channels() + channel), &v, 2);
    } else if (bits == 32) {
        std::memcpy(row + 4 * (static_cast<std::size_t>(x) * Channels() + channel), &value, 4);
    } else {
        const std::size_t bit = static_cast<std::size_t>(x) * bits;
        const unsigned shift = 8 - bits - bit % 8;
        const auto mask = static_cast<std::uint8_t>(((1u << bits) - 1) << shift);
        row[bit / 8] = static_cast<std::uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
    }
}

TestPlane TestPlane::Crop(const PravonRect& rect) const {
    const CPravonRect r = CPravonRect(rect).Intersect(CPravonRect(0, 0, width, height));
    TestPlane out(r.Width(), r.Height(), colorSpace);
    for (LONG y = 0; y < out.height; ++y)
        for (LONG x = 0; x < out.width; ++x)
            for (LONG c = 0; c < Channels(); ++c)
                out.SetSample(x, y, c, Sample(r.left + x, r.top + y, c));
    return out;
}

TestPlane TestPlane::Inverted(const PravonRect& rect) const {
    const CPravonRect r = CPravonRect(rect).Intersect(CPravonRect(0, 0, width, height));
    const LONG bits = BitsPerSample();
    const auto maximum = static_cast<ULONG>((bits >= 32 ? 0x100000000ull : 1ull << bits) - 1);
    TestPlane out = *this;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            for (LONG c = 0; c < Channels(); ++c)
                out.SetSample(x, y, c, maximum - Sample(x, y, c));
    return out;
}

TestPlane MakePlane(LONG width, LONG height, LONG colorSpace, FillPattern pattern, ULONG seedOrValue) {
    TestPlane plane(width, height, colorSpace);
    const LONG bits = plane.BitsPerSample();
    const std::uint64_t range = bits >= 32 ? 0x100000000ull : (1ull << bits);
    const ULONG maximum = static_cast<ULONG>(range - 1);
    std::mt19937 random(seedOrValue);
    const LONG channels = bits < 8 ? 1 : plane.Channels();
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            for (LONG c = 0; c < channels; ++c) {
                std::uint64_t v = 0;
                switch (pattern) {
                case FillPattern::Constant:
                    v = seedOrValue;
                    break;
                case FillPattern::Gradient:
                    v = (static_cast<std::uint64_t>(x) * (range / 64 + 1) + static_cast<std::uint64_t>(y) * 3 +
                         static_cast<std::uint64_t>(c) * (range / 5));
                    break;
                case FillPattern::Random:
                    v = random();
                    break;
                case FillPattern::Checker:
                    v = ((x / 3 + y / 3) % 2) ? maximum : 0;
                    break;
                case FillPattern::Coordinates:
                    v = static_cast<std::uint64_t>(x) * 31 + static_cast<std::uint64_t>(y) * 17 +
                        static_cast<std::uint64_t>(c) * 7 + (bits > 8 ? static_cast<std::uint64_t>(x) << 8 : 0);
                    break;
                }
                plane.SetSample(x, y, c, static_cast<ULONG>(v % range));
            }
        }
    }
    return plane;
}

IPravonError* WritePlane(IPravonImage* image, const TestPlane& plane) {
    if (IPravonError* e = image->SetColorSpace(plane.colorSpace))
        return e;
    if (IPravonError* e = image->SetSize(plane.width, plane.height))
        return e;
    IPravonTileGrid* grid = nullptr;
    if (IPravonError* e = image->MapRect(CPravonRect(0, 0, plane.width, plane.height), &grid))
        return e;
    const LONG bpp = PravonColorSpace::BitsPerPixel(plane.colorSpace);
    IPravonError* err = nullptr;
    for (LONG r = 0; r < grid->GetRowCount() && !err; ++r) {
        for (LONG c = 0; c < grid->GetColumnCount() && !err; ++c) {
            void* data = nullptr;
            PravonRect tileRect;
            LONG rowBytes = 0;
            if ((err = image->LockTile(grid, c, r, &data, &tileRect, nullptr, &rowBytes)))
                break;
            auto* out = static_cast<std::uint8_t*>(data);
            for (LONG y = tileRect.top; y < tileRect.bottom; ++y) {
                std::uint8_t* dst = out + static_cast<std::size_t>(y - tileRect.top) * rowBytes;
                if (bpp % 8 == 0) {
                    std::memcpy(dst, plane.Row(y) + static_cast<std::size_t>(tileRect.left) * (bpp / 8),
                                static_cast<std::size_t>(tileRect.right - tileRect.left) * (bpp / 8));
                } else {
                    for (LONG x = tileRect.left; x < tileRect.right; ++x) {
                        const std::size_t bit = static_cast<std::size_t>(x - tileRect.left) * bpp;
                        const unsigned shift = 8 - bpp - bit % 8;
                        const auto mask = static_cast<std::uint8_t>(((1u << bpp) - 1) << shift);
                        dst[bit / 8] = static_cast<std::uint8_t>((dst[bit / 8] & ~mask) |
                                                                 ((plane.Sample(x, y, 0) << shift) & mask));
                    }
                }
            }
            IPravonTile* tile = nullptr;
            if ((err = grid->GetTile(c, r, &tile)) == nullptr)
                tile->SetValid();
            err = IPravonError::Chain(err, image->UnlockTile(grid, c, r));
        }
    }
    grid->Release();
    return err;
}

PravonImagePtr MakeImage(IPravonManager& manager, const TestPlane& plane) {
    IPravonImage* image = nullptr;
    if (!Succeeded(manager.CreateImage(1, &image)))
        return nullptr;
    PravonImagePtr owned(image);
    if (!Succeeded(WritePlane(image, plane)))
        return nullptr;
    return owned;
}

} // namespace kvtest
