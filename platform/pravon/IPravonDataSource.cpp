#include "IPravonDataSource.h"

#include "PravonGraph.h"
#include "platform/win/FourCC.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr LONG kComponent = FourCC("PRVN");

// Reads the bits of one sample run at a bit offset, most significant bit first.
ULONG ReadBits(const BYTE* row, std::int64_t bitOffset, LONG bits) {
    ULONG v = 0;
    for (LONG b = 0; b < bits; ++b) {
        const std::int64_t bit = bitOffset + b;
        v = (v << 1) | ((row[bit >> 3] >> (7 - (bit & 7))) & 1u);
    }
    return v;
}

void WriteBits(BYTE* row, std::int64_t bitOffset, LONG bits, ULONG v) {
    for (LONG b = 0; b < bits; ++b) {
        const std::int64_t bit = bitOffset + b;
        const BYTE mask = static_cast<BYTE>(0x80u >> (bit & 7));
        if ((v >> (bits - 1 - b)) & 1u)
            row[bit >> 3] |= mask;
        else
            row[bit >> 3] &= static_cast<BYTE>(~mask);
    }
}
} // namespace

IPravonDataSource::~IPravonDataSource() {
    const std::vector<IPravonDataDestination*> destinations = m_pravonDestinations;
    for (IPravonDataDestination* d : destinations)
        if (PravonIsConnected(this, d))
            PravonErrorPtr(d->PravonNotify(this, PravonNotification::kDestroyed, nullptr));
    for (IPravonDataDestination* d : destinations) {
        auto& sources = PravonGraph::Sources(d);
        auto it = std::find(sources.begin(), sources.end(), this);
        if (it == sources.end())
            continue;
        sources.erase(it);
        std::erase(m_pravonDestinations, d);
        PravonErrorPtr(d->PravonRemovedDataSource(this));
    }
}

IPravonDataDestination::~IPravonDataDestination() {
    const std::vector<IPravonDataSource*> sources = m_pravonSources;
    for (IPravonDataSource* s : sources) {
        auto& destinations = PravonGraph::Destinations(s);
        auto it = std::find(destinations.begin(), destinations.end(), this);
        if (it == destinations.end())
            continue;
        destinations.erase(it);
        std::erase(m_pravonSources, s);
        PravonErrorPtr(s->PravonRemovedDataDestination(this));
    }
}

IPravonError* IPravonDataSource::PravonAddDataDestinationCheck(IPravonDataDestination* destination) {
    if (!destination)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no destination");
    if (PravonIsConnected(this, destination))
        return PravonFail(kComponent, PravonKind::kBadArgument, "already connected");
    if (PravonGraph::WouldCycle(this, destination))
        return PravonFail(kComponent, PravonKind::kBadArgument, "the connection would close a cycle");
    return nullptr;
}

IPravonError* IPravonDataSource::PravonRemoveDataDestinationCheck(IPravonDataDestination* destination) {
    if (!destination || !PravonIsConnected(this, destination))
        return PravonFail(kComponent, PravonKind::kBadArgument, "not connected");
    return nullptr;
}

IPravonError* IPravonDataDestination::PravonAddDataSourceCheck(IPravonDataSource* source) {
    if (!source)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no source");
    return nullptr;
}

IPravonError* IPravonDataDestination::PravonRemoveDataSourceCheck(IPravonDataSource* source) {
    if (!source)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no source");
    return nullptr;
}

IPravonError* IPravonDataSource::GetSize(LONG* width, LONG* height) {
    if (IPravonError* e = GetWidth(width))
        return e;
    return GetHeight(height);
}

LONG IPravonDataSource::RowBytesFor(LONG tileSize, LONG colorSpace) {
    const std::int64_t bits = static_cast<std::int64_t>(tileSize) * GetBitsPerPixel(colorSpace);
    return static_cast<LONG>((bits + 31) / 32 * 4);
}

IPravonError* IPravonDataSource::GetRowBytes(LONG* rowBytes) {
    LONG tileSize = 0;
    LONG colorSpace = 0;
    if (IPravonError* e = GetTileSize(&tileSize))
        return e;
    if (IPravonError* e = GetColorSpace(&colorSpace))
        return e;
    *rowBytes = RowBytesFor(tileSize, colorSpace);
    return nullptr;
}

IPravonError* IPravonDataSource::GetTransform(bool* flip, double* angle) {
    if (IPravonError* e = GetFlip(flip))
        return e;
    return GetRotation(angle);
}

IPravonError* IPravonDataSource::GetDataSize(const PravonRect& rect, std::size_t* bytes) {
    LONG colorSpace = 0;
    if (IPravonError* e = GetColorSpace(&colorSpace))
        return e;
    if (rect.Width() < 0 || rect.Height() < 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "inverted rectangle");
    const std::uint64_t rowBits = static_cast<std::uint64_t>(rect.Width()) * GetBitsPerPixel(colorSpace);
    *bytes = static_cast<std::size_t>((rowBits + 7) / 8 * static_cast<std::uint64_t>(rect.Height()));
    return nullptr;
}

IPravonError* IPravonDataSource::GetData(const PravonRect& rect, void* buffer, std::size_t rowBytes) {
    LONG colorSpace = 0;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = GetColorSpace(&colorSpace))
        return e;
    if (IPravonError* e = GetSize(&width, &height))
        return e;
    if (!buffer)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no buffer");
    const LONG bpp = GetBitsPerPixel(colorSpace);
    if (bpp <= 0)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace, "the image has no pixel size");
    const CPravonRect want = CPravonRect(rect).Intersect(CPravonRect(0, 0, width, height));
    if (want.Empty())
        return nullptr;
    if (rowBytes < (static_cast<std::uint64_t>(rect.Width()) * bpp + 7) / 8)
        return PravonFail(kComponent, PravonKind::kBadArgument, "rows too short");

    IPravonTileGrid* grid = nullptr;
    if (IPravonError* e = MapRect(want, &grid))
        return e;
    IPravonError* err = nullptr;
    auto* out = static_cast<BYTE*>(buffer);
    for (LONG r = 0; r < grid->GetRowCount() && !err; ++r) {
        for (LONG c = 0; c < grid->GetColumnCount() && !err; ++c) {
            void* data = nullptr;
            PravonRect tileRect;
            PravonRect clip;
            LONG tileRowBytes = 0;
            err = LockTile(grid, c, r, &data, &tileRect, &clip, &tileRowBytes);
            if (err)
                break;
            const auto* in = static_cast<const BYTE*>(data);
            for (LONG y = clip.top; y < clip.bottom; ++y) {
                const BYTE* src = in + static_cast<std::ptrdiff_t>(y - tileRect.top) * tileRowBytes;
                BYTE* dst = out + static_cast<std::ptrdiff_t>(y - rect.top) * rowBytes;
                if (bpp % 8 == 0) {
                    const std::size_t bytesPerPixel = static_cast<std::size_t>(bpp / 8);
                    std::memcpy(dst + static_cast<std::size_t>(clip.left - rect.left) * bytesPerPixel,
                                src + static_cast<std::size_t>(clip.left - tileRect.left) * bytesPerPixel,
                                static_cast<std::size_t>(clip.right - clip.left) * bytesPerPixel);
                } else {
                    for (LONG x = clip.left; x < clip.right; ++x)
                        WriteBits(dst, static_cast<std::int64_t>(x - rect.left) * bpp, bpp,
                                  ReadBits(src, static_cast<std::int64_t>(x - tileRect.left) * bpp, bpp));
                }
            }
            err = IPravonError::Chain(err, UnlockTile(grid, c, r));
        }
    }
    grid->Release();
    return err;
}

IPravonError* IPravonDataSource::GetPixel(LONG x, LONG y, PravonPixel* pixel) {
    LONG colorSpace = 0;
    if (IPravonError* e = GetColorSpace(&colorSpace))
        return e;
    const LONG channels = PravonColorSpace::Channels(colorSpace);
    const LONG bits = PravonColorSpace::BitsPerSample(colorSpace);
    if (channels <= 0 || channels > 8 || bits <= 0 || bits > 32)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the image's samples cannot be read");
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = GetSize(&width, &height))
        return e;
    if (x < 0 || y < 0 || x >= width || y >= height)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "pixel outside the image");
    BYTE raw[32] = {};
    if (IPravonError* e = GetData(CPravonRect(x, y, x + 1, y + 1), raw, sizeof raw))
        return e;
    pixel->colorSpace = colorSpace;
    pixel->channels = channels;
    for (LONG ch = 0; ch < channels; ++ch) {
        if (bits == 8)
            pixel->sample[ch] = raw[ch];
        else if (bits == 16)
            pixel->sample[ch] = static_cast<ULONG>(raw[2 * ch] | (raw[2 * ch + 1] << 8));
        else if (bits == 32)
            std::memcpy(&pixel->sample[ch], raw + 4 * ch, 4);
        else
            pixel->sample[ch] = ReadBits(raw, static_cast<std::int64_t>(ch) * bits, bits);
    }
    return nullptr;
}
