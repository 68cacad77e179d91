// What the benchmarks that race a filter against a peer library over the same pixels share: an error ends
// the run with its description, pixels are copied between a flat buffer and a node's tiles (a source image
// made from them), a consumer pulls every tile of a filter after its source announced new pixels, and the
// two roads are timed in turns with the best time of each kept.
#pragma once

#include "platform/pravon/IPravonDataSource.h"
#include "platform/pravon/IPravonImage.h"
#include "platform/pravon/PravonGraph.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kvbench {

inline void Check(IPravonError* error, const char* what) {
    if (!error)
        return;
    std::fprintf(stderr, "%s: %s\n", what, error->Describe().c_str());
    error->Release();
    std::exit(1);
}

// Copies width x height pixels of pixelBytes each between the flat buffer (rows packed) and the node's
// tiles, into the node or out of it.
inline void CopyTiles(IPravonDataSource* node, void* flat, LONG width, LONG height, std::size_t pixelBytes,
                      bool intoNode) {
    IPravonTileGrid* grid = nullptr;
    Check(node->MapRect(CPravonRect(0, 0, width, height), &grid), "grid");
    for (LONG r = 0; r < grid->GetRowCount(); ++r)
        for (LONG c = 0; c < grid->GetColumnCount(); ++c) {
            void* data = nullptr;
            PravonRect rect;
            PravonRect part;
            LONG rowBytes = 0;
            Check(node->LockTile(grid, c, r, &data, &rect, &part, &rowBytes), "lock");
            for (LONG y = part.top; y < part.bottom; ++y) {
                auto* tileRow = static_cast<std::uint8_t*>(data) + std::size_t(y - rect.top) * rowBytes +
                                std::size_t(part.left - rect.left) * pixelBytes;
                auto* flatRow =
                    static_cast<std::uint8_t*>(flat) + (std::size_t(y) * width + part.left) * pixelBytes;
                const std::size_t n = std::size_t(part.right - part.left) * pixelBytes;
                if (intoNode)
                    std::memcpy(tileRow, flatRow, n);
                else
                    std::memcpy(flatRow, tileRow, n);
            }
            Check(node->UnlockTile(grid, c, r), "unlock");
        }
    grid->Release();
}

// An image of the manager's holding width x height pixels of the colour space (interleaved, rows packed)
// in its tiles.
inline PravonImagePtr MakeSource(IPravonManager& manager, LONG colorSpace, const void* pixels, LONG width,
                                 LONG height) {
    IPravonImage* raw = nullptr;
    Check(manager.CreateImage(1, &raw), "create a source");
    PravonImagePtr image(raw);
    Check(image->SetColorSpace(colorSpace), "colour space");
    Check(image->SetSize(width, height), "size");
    const std::size_t pixel = static_cast<std::size_t>(PravonColorSpace::BitsPerPixel(colorSpace) / 8);
    CopyTiles(image.get(), const_cast<void*>(pixels), width, height, pixel, true);
    return image;
}

// The source says all its pixels changed, and a consumer locks and unlocks every output tile of the
// filter, whose output may be of another size than the source.
inline void PullEveryTile(IPravonDataSource* source, IPravonDataSource* filter) {
    LONG sourceWidth = 0;
    LONG sourceHeight = 0;
    Check(source->GetSize(&sourceWidth, &sourceHeight), "source size");
    CPravonRect whole(0, 0, sourceWidth, sourceHeight);
    Check(PravonSendDataNotification(source, PravonNotification::kData, &whole), "invalidate");
    LONG width = 0;
    LONG height = 0;
    LONG tileSize = 0;
    Check(filter->GetSize(&width, &height), "output size");
    Check(filter->GetTileSize(&tileSize), "tile size");
    const LONG columns = (width + tileSize - 1) / tileSize;
    const LONG rows = (height + tileSize - 1) / tileSize;
    for (LONG r = 0; r < rows; ++r)
        for (LONG c = 0; c < columns; ++c) {
            void* data = nullptr;
            Check(filter->LockTile(c, r, &data, nullptr), "lock output");
            benchmark::DoNotOptimize(data);
            Check(filter->UnlockTile(c, r), "unlock output");
        }
}

struct CBestTimes {
    double first = 1e300;
    double second = 1e300;
};

// Runs both roads once an iteration, taking turns at going first, and keeps the fastest time of each, so
// that other load on the machine counts as little as it can.
template <class First, class Second>
CBestTimes TimeInTurns(benchmark::State& state, First&& first, Second&& second) {
    using Clock = std::chrono::steady_clock;
    const auto timed = [](auto&& body) {
        const auto start = Clock::now();
        body();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    CBestTimes best;
    bool firstFirst = true;
    for (auto _ : state) {
        double a = 0;
        double b = 0;
        if (firstFirst) {
            a = timed(first);
            b = timed(second);
        } else {
            b = timed(second);
            a = timed(first);
        }
        firstFirst = !firstFirst;
        best.first = std::min(best.first, a);
        best.second = std::min(best.second, b);
        state.SetIterationTime(a + b);
    }
    return best;
}

} // namespace kvbench
