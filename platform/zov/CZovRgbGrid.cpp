#include "CZovRgbGrid.h"

#include "ZovPixelsAvx2.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
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
    return made;
}

void CZovRgbGrid::Convert(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                          std::size_t sourceRowBytes, std::size_t destinationRowBytes) const {
    const bool avx2 = CpuHas(CpuFeature::kAVX2);
    for (LONG y = 0; y < height; ++y) {
        const std::uint8_t* in = source + std::size_t(y) * sourceRowBytes;
        std::uint8_t* out = destination + std::size_t(y) * destinationRowBytes;
        if (avx2 && m_outBits == 8)
            ConvertRowAvx2<8>(in, out, std::size_t(width));
        else if (avx2)
            ConvertRowAvx2<16>(in, out, std::size_t(width));
        else
            ConvertRow(in, out, std::size_t(width));
    }
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
// each half of a register) interpolated from their corners' nodes, read whole as four 32-bit lanes, each
// weight spread over its pixel's half by one permute, and written out in overlapping stores. Each pixel's
// arithmetic is the plain road's, operation for operation, so both give the same samples. (Each pixel
// interpolated on its own, its weights loaded into every lane, cost about a tenth more.)
template <int OutBits>
__attribute__((target("avx2"))) void CZovRgbGrid::ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out,
                                                                 std::size_t count) const {
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
    const std::int32_t* values = m_values.data()->sample;
    constexpr std::size_t kFarCorner = 4 * std::size_t(kStrideAll);
    std::size_t x = 0;
    for (; x + 8 <= count; x += 8, in += 48, out += 8 * outPixel) {
        __m256i codes[3];
        ZovPixelsAvx2::Load16(in, codes);
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
        alignas(32) std::int32_t corner[3][8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(corner[0]), _mm256_slli_epi32(base, 2));
        _mm256_store_si256(reinterpret_cast<__m256i*>(corner[1]),
                           _mm256_slli_epi32(_mm256_add_epi32(base, firstStep), 2));
        _mm256_store_si256(
            reinterpret_cast<__m256i*>(corner[2]),
            _mm256_slli_epi32(_mm256_add_epi32(base, _mm256_sub_epi32(strideAll, smallestStep)), 2));
        const __m256i weights[4] = {_mm256_sub_epi32(_mm256_setzero_si256(), largest),
                                    _mm256_sub_epi32(largest, middle), _mm256_sub_epi32(middle, smallest),
                                    smallest};
        // Pixels j and j + 4: their samples in one register, pixel j's in the low half.
        const auto pair = [&](int j) __attribute__((target("avx2"), always_inline)) {
            const auto nodes = [&](const std::int32_t* low, const std::int32_t* high)
                __attribute__((target("avx2"), always_inline)) {
                return _mm256_inserti128_si256(
                    _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(low))),
                    _mm_load_si128(reinterpret_cast<const __m128i*>(high)), 1);
            };
            const __m256i spread = _mm256_setr_epi32(j, j, j, j, j + 4, j + 4, j + 4, j + 4);
            const auto weight = [&](int k) __attribute__((target("avx2"), always_inline)) {
                return _mm256_permutevar8x32_epi32(weights[k], spread);
            };
            const std::int32_t* lowJ = values + corner[0][j];
            const std::int32_t* lowJ4 = values + corner[0][j + 4];
            const __m256i d0 = nodes(lowJ, lowJ4);
            __m256i sum = _mm256_add_epi32(
                _mm256_mullo_epi32(d0, weight(0)),
                _mm256_mullo_epi32(nodes(values + corner[1][j], values + corner[1][j + 4]), weight(1)));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(nodes(values + corner[2][j], values + corner[2][j + 4]), weight(2)));
            sum = _mm256_add_epi32(
                sum, _mm256_mullo_epi32(nodes(lowJ + kFarCorner, lowJ4 + kFarCorner), weight(3)));
            const __m256i rest = _mm256_add_epi32(sum, restRounding);
            __m256i value = _mm256_and_si256(
                _mm256_add_epi32(d0,
                                 _mm256_srai_epi32(_mm256_add_epi32(rest, _mm256_srai_epi32(rest, 16)), 16)),
                low16);
            if constexpr (OutBits == 8)
                value = _mm256_srli_epi32(
                    _mm256_add_epi32(_mm256_mullo_epi32(value, narrowFactor), narrowHalf), 24);
            return value;
        };
        const __m256i p04 = pair(0), p15 = pair(1), p26 = pair(2), p37 = pair(3);
        // Packing works within each half of a register: pixels 0, 1 (low) and 4, 5 (high), then 2, 3 and
        // 6, 7.
        const __m256i words0145 = _mm256_packus_epi32(p04, p15), words2367 = _mm256_packus_epi32(p26, p37);
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
    ConvertRow(in, out, count - x);
}
