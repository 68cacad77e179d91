// The rows of a filter whose output pixel (x, y) is made from source pixel (x, y) alone: every run of an
// output tile's invalid part that one source tile holds is handed over as the source pixels and the output
// pixels of the run, both at its first pixel. Per-pixel filters (tone, colour, display) read as the
// computation of one run.
#pragma once

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"

#include <cstddef>

// run(from, to, x, y, count): count pixels of row y from column x; from points at the source pixel (x, y)
// of sourcePixelBytes bytes, to at the output pixel (x, y) of outPixelBytes bytes. Out is the output tile a
// filter is handed (invalid, rect, Row(y)). Pixels of the invalid part beyond the source's present size are
// written black first, so that a filter that writes every invalid pixel keeps its word.
template <class Out, class Run>
IPravonError* ForEachSourceRun(IPravonDataSource* source, const Out& out, std::size_t sourcePixelBytes,
                               std::size_t outPixelBytes, Run&& run) {
    if (IPravonError* e = ClearOutsideSource(source, out, static_cast<LONG>(outPixelBytes * 8)))
        return e;
    return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
        const CPravonRect& part = piece.part;
        const LONG count = part.right - part.left;
        const std::size_t fromOffset =
            static_cast<std::size_t>(part.left - piece.tileRect.left) * sourcePixelBytes;
        const std::size_t toOffset = static_cast<std::size_t>(part.left - out.rect.left) * outPixelBytes;
        for (LONG y = part.top; y < part.bottom; ++y)
            run(static_cast<const BYTE*>(piece.Row(y) + fromOffset), out.Row(y) + toOffset, part.left, y,
                count);
        return nullptr;
    });
}
