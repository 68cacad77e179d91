#include "CZovRgbGrid.h"

#include "ZovPixelsAvx2.h"
#include "ZovTableLookup.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

constexpr int kN = CZovRgbGrid::kNodes;
constexpr std::size_t kNodeCount = std::size_t(kN) * kN * kN;
// Node strides of the three input channels, the first varying slowest.
constexpr int kStrideR = kN * kN, kStrideG = kN, kStrideB = 1;
constexpr int kStrideAll = kStrideR + kStrideG + kStrideB;
// Cells per side: a 16-bit code times this is its position in 16.16 fixed point, as the library places it.
constexpr std::uint32_t kDomain = kN - 1;
constexpr int kDomainShift = 5;
static_assert(kDomain == 1u << kDomainShift, "the AVX2 road places codes by a shift");
constexpr std::uint32_t kFractionMask = 0xFFFF;
// The library's rounding of a sum of weighted differences in 16.16 fixed point to a whole difference.
constexpr std::uint32_t kRestRounding = 0x8001;
// A word shuffle's selector that takes word i of each lane into all four places: i times this.
constexpr int kEveryPlace = 0x55;
// A pixel's place in a block as a constant the shuffles' selectors can be made of, also in unoptimised
// builds.
template <int I>
constexpr std::integral_constant<int, I> kPlace{};
// Pixels of the AVX-512 road's block.
constexpr std::size_t kWideBlock = 16;
// Probes of the check against the library's own 16-bit conversion.
constexpr int kRandomProbes = 4096;
constexpr int kProbeLevels = 9;

// The code of node i, as the library places its nodes.
USHORT NodeCode(int i) {
    return static_cast<USHORT>(std::floor(i * 65535.0 / (kN - 1) + 0.5));
}

// The library's own narrowing of 16-bit values to 8 bits, so that both roads round alike.
inline std::uint32_t To8(std::uint32_t value16) {
    return (value16 * 65281u + 8388608u) >> 24;
}

// Asks for the cache lines of bytes from .. from + bytes - 1 to be brought in as data read once, into the
// nearest cache rather than the second level, where they would push out the grid's nodes and the tables
// the stretches are looked up in. Always inlined: as a function of its own, the compiler finds that it
// changes no memory and drops its calls, prefetches and all.
__attribute__((always_inline)) inline void Prefetch(const std::uint8_t* from, std::size_t bytes) {
    constexpr std::size_t kLine = 64;
    for (std::size_t offset = 0; offset < bytes; offset += kLine)
        _mm_prefetch(reinterpret_cast<const char*>(from + offset), _MM_HINT_NTA);
    if (bytes)
        _mm_prefetch(reinterpret_cast<const char*>(from + bytes - 1), _MM_HINT_NTA);
}

// The position of a code among the nodes in 16.16 fixed point, as the library computes it: code * domain
// plus (code * domain + 0x7FFF) / 0xFFFF, the division done by a shift and add that gives the same
// quotient for every code (checked below, at compile time).
constexpr std::uint32_t Position(std::uint32_t code) {
    const std::uint32_t scaled = code << kDomainShift;
    const std::uint32_t b = scaled + 0x8000;
    return scaled + ((b + (b >> 16)) >> 16);
}

constexpr bool PositionIsTheLibrarys() {
    for (std::uint32_t code = 0; code <= 65535; ++code) {
        const std::uint32_t scaled = code * kDomain;
        if (Position(code) != scaled + (scaled + 0x7FFF) / 0xFFFF)
            return false;
    }
    return true;
}
static_assert(PositionIsTheLibrarys());

// The cell of a pixel and its tetrahedron: the node at the cell's low corner, the offsets of the corners
// reached by stepping the largest fraction's channel first, then the next, and the four weights in 16-bit
// fractions, the low corner's negative: they sum to 0, so that the sum of the weighted corners is the
// library's sum of weighted differences between them. Where fractions tie, the corner whose weight is 0 is
// the only one that depends on the order chosen.
struct Cell {
    int base;
    int first;
    int second;
    std::int32_t weight[4];
};

inline Cell Locate(const USHORT input[3]) {
    int node[3];
    std::int32_t fraction[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t position = Position(input[c]);
        node[c] = static_cast<int>(position >> 16);
        fraction[c] = static_cast<std::int32_t>(position & kFractionMask);
    }
    const std::int32_t r = fraction[0], g = fraction[1], b = fraction[2];
    const std::int32_t largest = std::max(std::max(r, g), b);
    const std::int32_t smallest = std::min(std::min(r, g), b);
    const std::int32_t middle = std::max(std::min(r, g), std::min(std::max(r, g), b));
    const bool rLargest = r == largest, gLargest = !rLargest && g == largest;
    const bool rSmallest = r == smallest, gSmallest = !rSmallest && g == smallest;
    Cell cell;
    cell.base = node[0] * kStrideR + node[1] * kStrideG + node[2] * kStrideB;
    // Chosen by arithmetic rather than branches, which the fractions' order would mislead.
    cell.first = kStrideB + int(rLargest) * (kStrideR - kStrideB) + int(gLargest) * (kStrideG - kStrideB);
    cell.second = kStrideAll - (kStrideB + int(rSmallest) * (kStrideR - kStrideB) +
                                int(gSmallest) * (kStrideG - kStrideB));
    cell.weight[0] = -largest;
    cell.weight[1] = largest - middle;
    cell.weight[2] = middle - smallest;
    cell.weight[3] = smallest;
    return cell;
}

// The low corner's sample plus the rounded sum of the weighted corners, in the library's arithmetic: its
// 32-bit sum wraps as the library's does, and its result is kept to 16 bits as the library stores it.
inline std::uint32_t Finish(std::int32_t low, std::uint32_t sum) {
    const auto rest = static_cast<std::int32_t>(sum + kRestRounding);
    const auto rounded = static_cast<std::int32_t>(std::uint32_t(rest) + std::uint32_t(rest >> 16)) >> 16;
    return std::uint32_t(low + rounded) & 0xFFFF;
}

template <class Node>
inline std::uint32_t Blend(const Node* nodes, const Cell& cell, int c) {
    const std::int32_t low = nodes[cell.base].sample[c];
    const std::uint32_t sum =
        std::uint32_t(cell.weight[0]) * std::uint32_t(low) +
        std::uint32_t(cell.weight[1]) * std::uint32_t(nodes[cell.base + cell.first].sample[c]) +
        std::uint32_t(cell.weight[2]) * std::uint32_t(nodes[cell.base + cell.second].sample[c]) +
        std::uint32_t(cell.weight[3]) * std::uint32_t(nodes[cell.base + kStrideAll].sample[c]);
    return Finish(low, sum);
}

} // namespace

std::unique_ptr<const CZovRgbGrid> CZovRgbGrid::Make(cmsHPROFILE input, cmsHPROFILE output,
                                                     cmsUInt32Number intent, LONG outBits) {
    if (!input || !output || (outBits != 8 && outBits != 16) || cmsGetColorSpace(input) != cmsSigRgbData ||
        cmsGetColorSpace(output) != cmsSigRgbData)
        return nullptr;
    cmsHTRANSFORM precise = cmsCreateTransform(input, TYPE_RGB_16, output, TYPE_RGB_DBL, intent, 0);
    if (!precise)
        return nullptr;
    std::vector<USHORT> codes(kNodeCount * 3);
    for (int r = 0; r < kN; ++r)
        for (int g = 0; g < kN; ++g)
            for (int b = 0; b < kN; ++b) {
                USHORT* code = &codes[3 * std::size_t(r * kStrideR + g * kStrideG + b * kStrideB)];
                code[0] = NodeCode(r);
                code[1] = NodeCode(g);
                code[2] = NodeCode(b);
            }
    std::vector<double> values(kNodeCount * 3);
    cmsDoTransform(precise, codes.data(), values.data(), static_cast<cmsUInt32Number>(kNodeCount));
    cmsDeleteTransform(precise);

    std::unique_ptr<CZovRgbGrid> made(new CZovRgbGrid());
    made->m_values.assign(kNodeCount + kStrideAll, Node{});
    for (std::size_t n = 0; n < kNodeCount; ++n)
        for (std::size_t c = 0; c < 3; ++c) {
            // The library's own sampling: the value in 16-bit units, rounded and held to the range.
            const double v = values[3 * n + c] * 65535.0 + 0.5;
            made->m_values[n].sample[c] = !(v > 0)       ? 0
                                          : v >= 65535.0 ? 65535
                                                         : static_cast<std::int32_t>(std::floor(v));
        }

    // The library sets the node of white to its exact conversion of white. Its own 16-bit conversion on
    // probes of the cube then tells whether it takes another road for this pair (another grid, curves
    // around it): then the grid is not its conversion.
    cmsHTRANSFORM library = cmsCreateTransform(input, TYPE_RGB_16, output, TYPE_RGB_16, intent, 0);
    if (!library)
        return nullptr;
    const USHORT white[3] = {65535, 65535, 65535};
    USHORT whiteOut[3];
    cmsDoTransform(library, white, whiteOut, 1);
    for (int c = 0; c < 3; ++c)
        made->m_values[kNodeCount - 1].sample[c] = whiteOut[c];
    std::vector<USHORT> probes;
    for (int r = 0; r < kProbeLevels; ++r)
        for (int g = 0; g < kProbeLevels; ++g)
            for (int b = 0; b < kProbeLevels; ++b)
                for (int level : {r, g, b})
                    probes.push_back(static_cast<USHORT>(65535 * level / (kProbeLevels - 1)));
    std::uint32_t state = 0x9E3779B9u;
    for (int i = 0; i < 3 * kRandomProbes; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        probes.push_back(static_cast<USHORT>(state));
    }
    const std::size_t count = probes.size() / 3;
    std::vector<USHORT> expected(probes.size()), got(probes.size());
    cmsDoTransform(library, probes.data(), expected.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(library);
    made->ConvertRow(reinterpret_cast<const std::uint8_t*>(probes.data()),
                     reinterpret_cast<std::uint8_t*>(got.data()), count);
    for (std::size_t i = 0; i < probes.size(); ++i)
        if (std::abs(int(got[i]) - int(expected[i])) > 1)
            return nullptr;
    made->m_outBits = outBits;
    made->PairNodes();
    return made;
}

void CZovRgbGrid::PairNodes() {
    // Nodes past the zero nodes are read only with a weight of 0 (a sample at the top of its range) or
    // never; they are zero too.
    const auto node = [&](std::size_t n) { return n < m_values.size() ? m_values[n] : Node{}; };
    const auto pair = [&](std::size_t n, std::size_t step) {
        NodePair two{};
        std::memcpy(two.sample, node(n).sample, sizeof(Node));
        std::memcpy(two.sample + 4, node(n + step).sample, sizeof(Node));
        return two;
    };
    m_farPairs.resize(kNodeCount);
    for (std::size_t n = 0; n < kNodeCount; ++n)
        m_farPairs[n] = pair(n, kStrideAll);
    // A first corner lies at most one step along the slowest axis past the last node.
    const std::size_t firstCorners = kNodeCount + kStrideR;
    const std::size_t steps[3] = {kStrideR, kStrideG, kStrideB};
    m_axisPairs.resize(3 * firstCorners);
    for (std::size_t m = 0; m < firstCorners; ++m)
        for (std::size_t a = 0; a < 3; ++a)
            m_axisPairs[3 * m + a] = pair(m, steps[a]);
}

void CZovRgbGrid::Convert(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                          std::size_t sourceRowBytes, std::size_t destinationRowBytes) const {
    const bool avx512 = CpuHas(CpuFeature::kAVX512F | CpuFeature::kAVX512BW | CpuFeature::kAVX2);
    const bool avx2 = CpuHas(CpuFeature::kAVX2);
    for (LONG y = 0; y < height; ++y) {
        const std::uint8_t* in = source + std::size_t(y) * sourceRowBytes;
        std::uint8_t* out = destination + std::size_t(y) * destinationRowBytes;
        const auto n = std::size_t(width);
        if (avx512 && m_outBits == 8)
            ConvertRowAvx512<8>(in, out, n);
        else if (avx512)
            ConvertRowAvx512<16>(in, out, n);
        else if (avx2 && m_outBits == 8)
            ConvertRowAvx2<8>(in, out, n);
        else if (avx2)
            ConvertRowAvx2<16>(in, out, n);
        else
            ConvertRow(in, out, n);
    }
}

void CZovRgbGrid::ConvertThroughTables(LONG width, LONG height, const std::uint8_t* source,
                                       std::uint8_t* destination, std::size_t sourceRowBytes,
                                       std::size_t destinationRowBytes, const USHORT* const tables[3]) const {
    const bool avx512 = CpuHas(CpuFeature::kAVX512F | CpuFeature::kAVX512BW | CpuFeature::kAVX2);
    const bool avx2 = CpuHas(CpuFeature::kAVX2);
    const std::size_t outPixel = std::size_t(3 * m_outBits / 8);
    for (LONG y = 0; y < height; ++y) {
        const std::uint8_t* in = source + std::size_t(y) * sourceRowBytes;
        std::uint8_t* out = destination + std::size_t(y) * destinationRowBytes;
        for (std::size_t x = 0, n = std::size_t(width); x < n; x += kStretch) {
            const std::size_t count = std::min(kStretch, n - x);
            // The next stretch's samples are asked for while this one is converted: they mostly come from
            // memory, and the lookup would otherwise wait on them.
            if (x + kStretch < n)
                Prefetch(in + 6 * (x + kStretch), 6 * std::min(kStretch, n - x - kStretch));
            else if (y + 1 < height)
                Prefetch(in + sourceRowBytes, 6 * std::min(kStretch, n));
            ConvertStretch(in + 6 * x, out + outPixel * x, count, tables, avx512, avx2);
        }
    }
}

void CZovRgbGrid::ConvertStretch(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                                 const USHORT* const tables[3], bool avx512, bool avx2) const {
    if (avx512 || avx2) {
        // Each channel's looked-up samples in a plane of their own: the SIMD roads load them as they are,
        // rather than taking interleaved pixels apart.
        alignas(64) USHORT planes[3 * kStretch];
        ZovTables::LookUpRgb16Planes(in, planes, kStretch, count, tables);
        // The SIMD roads read their last block whole: the samples past the stretch's pixels are zeros,
        // converted and never stored.
        const std::size_t blockEnd = std::min(kStretch, (count + kWideBlock - 1) / kWideBlock * kWideBlock);
        if (blockEnd > count)
            for (std::size_t c = 0; c < 3; ++c)
                std::fill(planes + c * kStretch + count, planes + c * kStretch + blockEnd, USHORT(0));
        if (avx512 && m_outBits == 8)
            ConvertRowAvx512<8, true>(in, out, count, planes);
        else if (avx512)
            ConvertRowAvx512<16, true>(in, out, count, planes);
        else if (m_outBits == 8)
            ConvertRowAvx2<8, true>(in, out, count, planes);
        else
            ConvertRowAvx2<16, true>(in, out, count, planes);
        return;
    }
    alignas(64) std::uint8_t mapped[3 * kStretch * sizeof(USHORT)];
    ZovTables::LookUpRgb16(in, mapped, count, tables);
    ConvertRow(mapped, out, count);
}

void CZovRgbGrid::ConvertRow(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const {
    const std::size_t outPixel = std::size_t(3 * m_outBits / 8);
    for (std::size_t x = 0; x < count; ++x, in += 6, out += outPixel) {
        USHORT samples[3];
        std::memcpy(samples, in, sizeof samples);
        const Cell cell = Locate(samples);
        const std::uint32_t values[3] = {Blend(m_values.data(), cell, 0), Blend(m_values.data(), cell, 1),
                                         Blend(m_values.data(), cell, 2)};
        if (m_outBits == 8) {
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>(To8(values[c]));
        } else {
            const USHORT words[3] = {USHORT(values[0]), USHORT(values[1]), USHORT(values[2])};
            std::memcpy(out, words, sizeof words);
        }
    }
}

// Eight pixels at a time: the samples taken apart from their interleaved places, each lane's cell,
// tetrahedron and weights chosen by comparisons, then two pixels at a time (pixel j and pixel j + 4, one in
// each half of a register) interpolated from their corners' nodes, read as two pairs of nodes a pixel, each
// weight spread over its pixel's half by one shuffle, and written out in overlapping stores. Each pixel's
// arithmetic is the plain road's, operation for operation, so both give the same samples. (Each pixel
// interpolated on its own, its weights loaded into every lane, cost about a tenth more.)
template <int OutBits, bool Planar>
__attribute__((target("avx2"))) void CZovRgbGrid::ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out,
                                                                 std::size_t count,
                                                                 const USHORT* planes) const {
    constexpr std::size_t outPixel = std::size_t(3 * OutBits / 8);
    const __m256i fractionMask = _mm256_set1_epi32(kFractionMask), half = _mm256_set1_epi32(0x8000);
    const __m256i strideR = _mm256_set1_epi32(kStrideR), strideG = _mm256_set1_epi32(kStrideG),
                  strideB = _mm256_set1_epi32(kStrideB), strideAll = _mm256_set1_epi32(kStrideAll);
    const __m256i restRounding = _mm256_set1_epi32(kRestRounding), low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i narrowFactor = _mm256_set1_epi32(65281), narrowHalf = _mm256_set1_epi32(8388608);
    // Of each 128-bit half holding two pixels' red, green, blue and spare words, the first three of each
    // (12 bytes); of one holding four pixels' bytes, likewise.
    const __m256i dropSpareWords = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1, 0,
                                                    1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    const __m256i dropSpareBytes = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                                    1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const auto* const farPairs = reinterpret_cast<const std::uint8_t*>(m_farPairs.data());
    const auto* const axisPairs = reinterpret_cast<const std::uint8_t*>(m_axisPairs.data());
    // As on the AVX-512 road: up to a stretch of blocks placed first, then interpolated.
    constexpr std::size_t kPixels = 8, kBlocks = kStretch / kPixels;
    alignas(32) std::int32_t corners[kBlocks][2][kPixels];
    alignas(32) std::int32_t weighting[kBlocks][4][kPixels];
    std::size_t x = 0;
    while (x + kPixels <= count) {
        const std::size_t blocks = std::min(kBlocks, (count - x) / kPixels);
        for (std::size_t k = 0; k < blocks; ++k) {
            __m256i codes[3];
            if constexpr (Planar) {
                for (int c = 0; c < 3; ++c)
                    codes[c] = _mm256_cvtepu16_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(
                        planes + std::size_t(c) * kStretch + x + kPixels * k)));
            } else {
                ZovPixelsAvx2::Load16(in + 6 * kPixels * k, codes);
            }
            __m256i node[3], fraction[3];
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                const __m256i scaled = _mm256_slli_epi32(codes[c], kDomainShift);
                const __m256i b = _mm256_add_epi32(scaled, half);
                const __m256i position = _mm256_add_epi32(
                    scaled, _mm256_srli_epi32(_mm256_add_epi32(b, _mm256_srli_epi32(b, 16)), 16));
                node[c] = _mm256_srli_epi32(position, 16);
                fraction[c] = _mm256_and_si256(position, fractionMask);
            }
            const __m256i r = fraction[0], g = fraction[1], b = fraction[2];
            const __m256i largest = _mm256_max_epi32(_mm256_max_epi32(r, g), b);
            const __m256i smallest = _mm256_min_epi32(_mm256_min_epi32(r, g), b);
            const __m256i middle =
                _mm256_max_epi32(_mm256_min_epi32(r, g), _mm256_min_epi32(_mm256_max_epi32(r, g), b));
            const __m256i rLargest = _mm256_cmpeq_epi32(r, largest);
            const __m256i gLargest = _mm256_andnot_si256(rLargest, _mm256_cmpeq_epi32(g, largest));
            const __m256i rSmallest = _mm256_cmpeq_epi32(r, smallest);
            const __m256i gSmallest = _mm256_andnot_si256(rSmallest, _mm256_cmpeq_epi32(g, smallest));
            const __m256i firstStep =
                _mm256_blendv_epi8(_mm256_blendv_epi8(strideB, strideG, gLargest), strideR, rLargest);
            const __m256i smallestStep =
                _mm256_blendv_epi8(_mm256_blendv_epi8(strideB, strideG, gSmallest), strideR, rSmallest);
            const __m256i base = _mm256_add_epi32(
                _mm256_add_epi32(_mm256_mullo_epi32(node[0], strideR), _mm256_mullo_epi32(node[1], strideG)),
                _mm256_mullo_epi32(node[2], strideB));
            // The pairs' places, as on the AVX-512 road.
            const __m256i middleStep = _mm256_sub_epi32(_mm256_sub_epi32(strideAll, firstStep), smallestStep);
            const __m256i middleAxis =
                _mm256_blendv_epi8(_mm256_blendv_epi8(_mm256_set1_epi32(2), _mm256_set1_epi32(1),
                                                      _mm256_cmpeq_epi32(middleStep, strideG)),
                                   _mm256_setzero_si256(), _mm256_cmpeq_epi32(middleStep, strideR));
            constexpr int kPairShift = 5;
            static_assert(sizeof(NodePair) == 1u << kPairShift);
            const __m256i firstCorner = _mm256_add_epi32(base, firstStep);
            _mm256_store_si256(reinterpret_cast<__m256i*>(corners[k][0]),
                               _mm256_slli_epi32(base, kPairShift));
            _mm256_store_si256(
                reinterpret_cast<__m256i*>(corners[k][1]),
                _mm256_slli_epi32(
                    _mm256_add_epi32(_mm256_mullo_epi32(firstCorner, _mm256_set1_epi32(3)), middleAxis),
                    kPairShift));
            _mm256_store_si256(reinterpret_cast<__m256i*>(weighting[k][0]),
                               _mm256_sub_epi32(_mm256_setzero_si256(), largest));
            _mm256_store_si256(reinterpret_cast<__m256i*>(weighting[k][1]),
                               _mm256_sub_epi32(largest, middle));
            _mm256_store_si256(reinterpret_cast<__m256i*>(weighting[k][2]),
                               _mm256_sub_epi32(middle, smallest));
            _mm256_store_si256(reinterpret_cast<__m256i*>(weighting[k][3]), smallest);
        }
        for (std::size_t k = 0; k < blocks; ++k, in += 6 * kPixels, out += kPixels * outPixel) {
            const auto corner = corners[k];
            const __m256i weights[4] = {_mm256_load_si256(reinterpret_cast<const __m256i*>(weighting[k][0])),
                                        _mm256_load_si256(reinterpret_cast<const __m256i*>(weighting[k][1])),
                                        _mm256_load_si256(reinterpret_cast<const __m256i*>(weighting[k][2])),
                                        _mm256_load_si256(reinterpret_cast<const __m256i*>(weighting[k][3]))};
            // Pixels j and j + 4: their samples in one register, pixel j's in the low half.
            const auto pair = [&](auto place) __attribute__((target("avx2"), always_inline)) {
                constexpr int j = decltype(place)::value;
                // Pair k of pixels j and j + 4, parted into its two nodes, pixel j's in the low half.
                const auto nodes = [&](int k, __m256i& near, __m256i& far)
                    __attribute__((target("avx2"), always_inline)) {
                    const std::uint8_t* const pairs = k == 0 ? farPairs : axisPairs;
                    const __m256i low =
                        _mm256_load_si256(reinterpret_cast<const __m256i*>(pairs + corner[k][j]));
                    const __m256i high =
                        _mm256_load_si256(reinterpret_cast<const __m256i*>(pairs + corner[k][j + 4]));
                    near = _mm256_permute2x128_si256(low, high, 0x20);
                    far = _mm256_permute2x128_si256(low, high, 0x31);
                };
                // Pixels j and j + 4 are word j of each half of the weights: spread within each half.
                const auto weight = [&](int k) __attribute__((target("avx2"), always_inline)) {
                    return _mm256_shuffle_epi32(weights[k], j * kEveryPlace);
                };
                __m256i d0, d1, d2, d3;
                nodes(0, d0, d3);
                nodes(1, d1, d2);
                __m256i sum =
                    _mm256_add_epi32(_mm256_mullo_epi32(d0, weight(0)), _mm256_mullo_epi32(d1, weight(1)));
                sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(d2, weight(2)));
                sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(d3, weight(3)));
                const __m256i rest = _mm256_add_epi32(sum, restRounding);
                __m256i value = _mm256_and_si256(
                    _mm256_add_epi32(
                        d0, _mm256_srai_epi32(_mm256_add_epi32(rest, _mm256_srai_epi32(rest, 16)), 16)),
                    low16);
                if constexpr (OutBits == 8)
                    value = _mm256_srli_epi32(
                        _mm256_add_epi32(_mm256_mullo_epi32(value, narrowFactor), narrowHalf), 24);
                return value;
            };
            const __m256i p04 = pair(kPlace<0>), p15 = pair(kPlace<1>), p26 = pair(kPlace<2>),
                          p37 = pair(kPlace<3>);
            // Packing works within each half of a register: pixels 0, 1 (low) and 4, 5 (high), then 2, 3 and
            // 6, 7.
            const __m256i words0145 = _mm256_packus_epi32(p04, p15),
                          words2367 = _mm256_packus_epi32(p26, p37);
            // Out in overlapping stores, each part's four spare bytes written over by the next part, and no
            // byte written past the eight pixels.
            if constexpr (OutBits == 8) {
                // Pixels 0 to 3 in the low half, 4 to 7 in the high half, four bytes each: already in order.
                const __m256i packed =
                    _mm256_shuffle_epi8(_mm256_packus_epi16(words0145, words2367), dropSpareBytes);
                const __m128i second = _mm256_extracti128_si256(packed, 1);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12), second);
                const int last = _mm_extract_epi32(second, 2);
                std::memcpy(out + 20, &last, 4);
            } else {
                const __m256i first = _mm256_shuffle_epi8(words0145, dropSpareWords);
                const __m256i second = _mm256_shuffle_epi8(words2367, dropSpareWords);
                const __m128i last = _mm256_extracti128_si256(second, 1);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(first));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_castsi256_si128(second));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_extracti128_si256(first, 1));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 36), last);
                const int tail = _mm_extract_epi32(last, 2);
                std::memcpy(out + 44, &tail, 4);
            }
        }
        x += blocks * kPixels;
    }
    if constexpr (Planar) {
        // The last pixels short of a block: a whole block converted, from the zeros past them in the
        // planes, into a scratch, and as many pixels as are left copied out.
        if (x < count) {
            alignas(32) std::uint8_t last[kPixels * outPixel];
            ConvertRowAvx2<OutBits, true>(in, last, kPixels, planes + x);
            std::memcpy(out, last, (count - x) * outPixel);
        }
    } else {
        ConvertRow(in, out, count - x);
    }
}

// g++ 12 takes the "undefined" vectors inside its own AVX-512 intrinsics for uninitialised reads.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

// Of 48 interleaved 16-bit samples (the first 32 in one register, the rest in a second), the places of
// channel c's sixteen, in the form a two-register word permute takes; the upper sixteen lanes unused.
constexpr std::array<std::uint16_t, 32> ChannelWords(int c) {
    std::array<std::uint16_t, 32> places{};
    for (int i = 0; i < 16; ++i)
        places[std::size_t(i)] = std::uint16_t(3 * i + c);
    return places;
}

// Sixteen pixels' samples come out of the interpolation packed in two registers: of the first, each
// 128-bit lane L holds pixels 4L and 4L + 1 as four words each (red, green, blue, spare); of the second,
// pixels 4L + 2 and 4L + 3. The places, in the form a two-register word permute takes, of the output's
// interleaved samples from `first` on.
constexpr std::array<std::uint16_t, 32> OutputWords(int first) {
    std::array<std::uint16_t, 32> places{};
    for (int w = first; w < first + 32 && w < 48; ++w) {
        const int pixel = w / 3, c = w % 3, lane = pixel / 4, j = pixel % 4;
        places[std::size_t(w - first)] = std::uint16_t((j >= 2 ? 32 : 0) + 8 * lane + 4 * (j % 2) + c);
    }
    return places;
}

alignas(64) constexpr std::array<std::uint16_t, 32> kChannelWords[3] = {ChannelWords(0), ChannelWords(1),
                                                                        ChannelWords(2)};
alignas(64) constexpr std::array<std::uint16_t, 32> kOutputWords[2] = {OutputWords(0), OutputWords(32)};

} // namespace

// Sixteen pixels at a time, in the plain road's integer arithmetic lane by lane: the samples taken apart
// by word permutes, each lane's cell, tetrahedron and fractions chosen by comparisons into masks, then four
// pixels at a time (pixels q, q + 4, q + 8 and q + 12, one in each 128-bit lane) interpolated from their
// corners' nodes, read as two pairs of nodes a pixel (low and far corner, first and second), and the
// sixteen put back in order by two word permutes and written in whole stores that
// reach no byte past them.
template <int OutBits, bool Planar>
__attribute__((target("avx512f,avx512bw,avx2"))) void
CZovRgbGrid::ConvertRowAvx512(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                              const USHORT* planes) const {
    constexpr std::size_t outPixel = std::size_t(3 * OutBits / 8);
    constexpr std::size_t kPixels = kWideBlock;
    constexpr __mmask16 kAllPixels = 0xFFFF;
    const __m512i fractionMask = _mm512_set1_epi32(kFractionMask), half = _mm512_set1_epi32(0x8000);
    const __m512i strideR = _mm512_set1_epi32(kStrideR), strideG = _mm512_set1_epi32(kStrideG),
                  strideB = _mm512_set1_epi32(kStrideB), strideAll = _mm512_set1_epi32(kStrideAll);
    const __m512i restRounding = _mm512_set1_epi32(kRestRounding), low16 = _mm512_set1_epi32(0xFFFF);
    const __m512i narrowFactor = _mm512_set1_epi32(65281), narrowHalf = _mm512_set1_epi32(8388608);
    __m512i channelWords[3];
    for (int c = 0; c < 3; ++c)
        channelWords[c] = _mm512_load_si512(kChannelWords[c].data());
    const __m512i outputWords[2] = {_mm512_load_si512(kOutputWords[0].data()),
                                    _mm512_load_si512(kOutputWords[1].data())};
    const auto* const farPairs = reinterpret_cast<const std::uint8_t*>(m_farPairs.data());
    const auto* const axisPairs = reinterpret_cast<const std::uint8_t*>(m_axisPairs.data());
    // Up to a stretch of blocks is placed first, its corners' places, fractions and whether each block
    // lies in one tetrahedron kept aside, then interpolated: no block waits for its own places to reach
    // its loads, and the processor overlaps the blocks' work.
    constexpr std::size_t kBlocks = kStretch / kPixels;
    alignas(64) std::int32_t corners[kBlocks][2][kPixels];
    alignas(64) std::int32_t fractions[kBlocks][3][kPixels];
    bool sharing[kBlocks];
    std::size_t x = 0;
    // The words of the first n pixels' samples of a block, as masks of the block's first 32 and last 16.
    const auto headWords = [](std::size_t n) -> __mmask32 {
        return 3 * n >= 32 ? ~__mmask32(0) : (__mmask32(1) << (3 * n)) - 1;
    };
    const auto tailWords = [](std::size_t n) -> __mmask32 {
        return 3 * n <= 32 ? 0 : (__mmask32(1) << (3 * n - 32)) - 1;
    };
    // A row's last pixels short of a block are a block of their own, read and written under masks: its
    // spare lanes are converted from zeros and never stored.
    while (x < count) {
        const std::size_t blocks = std::min(kBlocks, (count - x + kPixels - 1) / kPixels);
        for (std::size_t k = 0; k < blocks; ++k) {
            const std::uint8_t* const blockIn = in + 6 * kPixels * k;
            const std::size_t blockX = x + kPixels * k;
            __m512i first32, last16;
            if constexpr (!Planar) {
                const std::size_t n = std::min(kPixels, count - blockX);
                first32 = _mm512_maskz_loadu_epi16(headWords(n), blockIn);
                last16 = _mm512_maskz_loadu_epi16(tailWords(n), blockIn + 64);
            }
            __m512i node[3], fraction[3];
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c) {
                __m512i codes;
                if constexpr (Planar)
                    codes = _mm512_cvtepu16_epi32(_mm256_load_si256(
                        reinterpret_cast<const __m256i*>(planes + std::size_t(c) * kStretch + blockX)));
                else
                    codes = _mm512_cvtepu16_epi32(
                        _mm512_castsi512_si256(_mm512_permutex2var_epi16(first32, channelWords[c], last16)));
                const __m512i scaled = _mm512_slli_epi32(codes, kDomainShift);
                const __m512i b = _mm512_add_epi32(scaled, half);
                const __m512i position = _mm512_add_epi32(
                    scaled, _mm512_srli_epi32(_mm512_add_epi32(b, _mm512_srli_epi32(b, 16)), 16));
                node[c] = _mm512_srli_epi32(position, 16);
                fraction[c] = _mm512_and_si512(position, fractionMask);
            }
            const __m512i r = fraction[0], g = fraction[1], b = fraction[2];
            const __m512i largest = _mm512_max_epi32(_mm512_max_epi32(r, g), b);
            const __m512i smallest = _mm512_min_epi32(_mm512_min_epi32(r, g), b);
            const __m512i middle =
                _mm512_max_epi32(_mm512_min_epi32(r, g), _mm512_min_epi32(_mm512_max_epi32(r, g), b));
            const __mmask16 rLargest = _mm512_cmpeq_epi32_mask(r, largest);
            const __mmask16 gLargest = _mm512_cmpeq_epi32_mask(g, largest) & ~rLargest;
            const __mmask16 rSmallest = _mm512_cmpeq_epi32_mask(r, smallest);
            const __mmask16 gSmallest = _mm512_cmpeq_epi32_mask(g, smallest) & ~rSmallest;
            const __m512i firstStep =
                _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(strideB, gLargest, strideG), rLargest, strideR);
            const __m512i smallestStep =
                _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(strideB, gSmallest, strideG), rSmallest, strideR);
            const __m512i base = _mm512_add_epi32(
                _mm512_add_epi32(_mm512_mullo_epi32(node[0], strideR), _mm512_mullo_epi32(node[1], strideG)),
                _mm512_mullo_epi32(node[2], strideB));
            // The middle fraction's axis, as a pair's place among its node's three: the tetrahedron's second
            // corner is its first one step along it. (Where all three fractions are equal, the second step
            // is no axis's; the first and second corners then cancel out of the sum, and the pair of the
            // last axis is read.)
            const __m512i middleStep = _mm512_sub_epi32(_mm512_sub_epi32(strideAll, firstStep), smallestStep);
            const __m512i middleAxis = _mm512_mask_mov_epi32(
                _mm512_mask_mov_epi32(_mm512_set1_epi32(2), _mm512_cmpeq_epi32_mask(middleStep, strideG),
                                      _mm512_set1_epi32(1)),
                _mm512_cmpeq_epi32_mask(middleStep, strideR), _mm512_setzero_si512());
            // Byte offsets of each pixel's two pairs: the low and far corners, the first and second.
            constexpr int kPairShift = 5;
            static_assert(sizeof(NodePair) == 1u << kPairShift);
            const __m512i firstCorner = _mm512_add_epi32(base, firstStep);
            _mm512_store_si512(corners[k][0], _mm512_slli_epi32(base, kPairShift));
            _mm512_store_si512(
                corners[k][1],
                _mm512_slli_epi32(
                    _mm512_add_epi32(_mm512_mullo_epi32(firstCorner, _mm512_set1_epi32(3)), middleAxis),
                    kPairShift));
            _mm512_store_si512(fractions[k][0], largest);
            _mm512_store_si512(fractions[k][1], middle);
            _mm512_store_si512(fractions[k][2], smallest);
            // Neighbouring pixels of a smooth picture often fall into one cell and its same tetrahedron: then
            // the four corners are read once for all sixteen, each spread over every lane, and only the
            // weights differ from pixel to pixel. The arithmetic is the same either way. (About a third of
            // the blocks of a developed picture; pixels that share nothing cost no more than before.)
            const auto sameAsFirst =
                [](__m512i v) __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                return _mm512_cmpeq_epi32_mask(v, _mm512_broadcastd_epi32(_mm512_castsi512_si128(v)));
            };
            sharing[k] =
                (sameAsFirst(base) & sameAsFirst(firstStep) & sameAsFirst(smallestStep)) == kAllPixels;
        }
        for (std::size_t k = 0; k < blocks; ++k, in += 6 * kPixels, out += kPixels * outPixel) {
            const std::size_t pixels = std::min(kPixels, count - x - kPixels * k);
            const auto corner = corners[k];
            // The fractions weigh the steps between the corners: the same sum, modulo 2^32, as the weighted
            // corners the other roads add, with one multiplication fewer.
            const __m512i weights[3] = {_mm512_load_si512(fractions[k][0]),
                                        _mm512_load_si512(fractions[k][1]),
                                        _mm512_load_si512(fractions[k][2])};
            // Pixels q, q + 4, q + 8 and q + 12 from their corners' nodes d0 to d3, one pixel to a 128-bit
            // lane.
            const auto interpolate = [&](auto place, __m512i d0, __m512i d1, __m512i d2, __m512i d3)
                __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                constexpr int q = decltype(place)::value;
                // Pixel q + 4 L is word q of lane L of the weights: spread within each lane, no lane
                // crossed.
                const auto weight = [&](int k)
                    __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                    return _mm512_shuffle_epi32(weights[k], static_cast<_MM_PERM_ENUM>(q * kEveryPlace));
                };
                __m512i sum = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_sub_epi32(d1, d0), weight(0)),
                                               _mm512_mullo_epi32(_mm512_sub_epi32(d2, d1), weight(1)));
                sum = _mm512_add_epi32(sum, _mm512_mullo_epi32(_mm512_sub_epi32(d3, d2), weight(2)));
                const __m512i rest = _mm512_add_epi32(sum, restRounding);
                __m512i value = _mm512_and_si512(
                    _mm512_add_epi32(
                        d0, _mm512_srai_epi32(_mm512_add_epi32(rest, _mm512_srai_epi32(rest, 16)), 16)),
                    low16);
                if constexpr (OutBits == 8)
                    value = _mm512_srli_epi32(
                        _mm512_add_epi32(_mm512_mullo_epi32(value, narrowFactor), narrowHalf), 24);
                return value;
            };
            __m512i q0, q1, q2, q3;
            // Pixel p's pair k: its low and far corners (k 0), its first and second (k 1).
            const auto pairOf = [&](int k, int p)
                __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                return (k == 0 ? farPairs : axisPairs) + corner[k][p];
            };
            if (sharing[k]) {
                const auto shared = [&](int k, int half)
                    __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                    return _mm512_broadcast_i32x4(
                        _mm_load_si128(reinterpret_cast<const __m128i*>(pairOf(k, 0) + 16 * half)));
                };
                const __m512i d0 = shared(0, 0), d1 = shared(1, 0), d2 = shared(1, 1), d3 = shared(0, 1);
                q0 = interpolate(kPlace<0>, d0, d1, d2, d3);
                q1 = interpolate(kPlace<1>, d0, d1, d2, d3);
                q2 = interpolate(kPlace<2>, d0, d1, d2, d3);
                q3 = interpolate(kPlace<3>, d0, d1, d2, d3);
            } else {
                // Pixels q, q + 4, q + 8 and q + 12: pair k of each read whole, two pixels' to a register,
                // then its two nodes parted into two registers, one pixel to a 128-bit lane.
                const auto nodes = [&](int q, int k, __m512i& near, __m512i& far)
                    __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                    const auto at = [&](int p)
                        __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                        return _mm256_load_si256(reinterpret_cast<const __m256i*>(pairOf(k, p)));
                    };
                    const __m512i low = _mm512_inserti64x4(_mm512_castsi256_si512(at(q)), at(q + 4), 1);
                    const __m512i high = _mm512_inserti64x4(_mm512_castsi256_si512(at(q + 8)), at(q + 12), 1);
                    near = _mm512_shuffle_i32x4(low, high, _MM_SHUFFLE(2, 0, 2, 0));
                    far = _mm512_shuffle_i32x4(low, high, _MM_SHUFFLE(3, 1, 3, 1));
                };
                const auto quad = [&](auto place)
                    __attribute__((target("avx512f,avx512bw,avx2"), always_inline)) {
                    constexpr int q = decltype(place)::value;
                    __m512i d0, d1, d2, d3;
                    nodes(q, 0, d0, d3);
                    nodes(q, 1, d1, d2);
                    return interpolate(place, d0, d1, d2, d3);
                };
                q0 = quad(kPlace<0>);
                q1 = quad(kPlace<1>);
                q2 = quad(kPlace<2>);
                q3 = quad(kPlace<3>);
            }
            const __m512i pairs01 = _mm512_packus_epi32(q0, q1), pairs23 = _mm512_packus_epi32(q2, q3);
            const __m512i head = _mm512_permutex2var_epi16(pairs01, outputWords[0], pairs23);
            const __m512i tail = _mm512_permutex2var_epi16(pairs01, outputWords[1], pairs23);
            if (pixels < kPixels) {
                if constexpr (OutBits == 8) {
                    _mm512_mask_cvtepi16_storeu_epi8(out, headWords(pixels), head);
                    _mm512_mask_cvtepi16_storeu_epi8(out + 32, tailWords(pixels), tail);
                } else {
                    _mm512_mask_storeu_epi16(out, headWords(pixels), head);
                    _mm512_mask_storeu_epi16(out + 64, tailWords(pixels), tail);
                }
            } else if constexpr (OutBits == 8) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtepi16_epi8(head));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                                 _mm256_castsi256_si128(_mm512_cvtepi16_epi8(tail)));
            } else {
                _mm512_storeu_si512(out, head);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm512_castsi512_si256(tail));
            }
        }
        x += blocks * kPixels;
    }
}

#pragma GCC diagnostic pop
