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
// A 16-bit code to its position in nodes.
constexpr float kCodeToNode = float(kN - 1) / 65535.0f;
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

// The cell of a pixel and its tetrahedron: the node at the cell's low corner, the offsets of the corners
// reached by stepping the largest fraction's channel first, then the next, and the four weights.
struct Cell {
    int base;
    int first;
    int second;
    float weight[4];
};

inline Cell Locate(const USHORT input[3]) {
    int node[3];
    float fraction[3];
    for (int c = 0; c < 3; ++c) {
        const float position = float(input[c]) * kCodeToNode;
        node[c] = std::min(static_cast<int>(position), kN - 2);
        fraction[c] = position - float(node[c]);
    }
    const float r = fraction[0], g = fraction[1], b = fraction[2];
    const float largest = std::max(std::max(r, g), b);
    const float smallest = std::min(std::min(r, g), b);
    const float middle = std::max(std::min(r, g), std::min(std::max(r, g), b));
    const bool rLargest = r >= g && r >= b, gLargest = !rLargest && g >= b;
    const bool rSmallest = r <= g && r <= b, gSmallest = !rSmallest && g <= b;
    Cell cell;
    cell.base = node[0] * kStrideR + node[1] * kStrideG + node[2] * kStrideB;
    cell.first = rLargest ? kStrideR : gLargest ? kStrideG : kStrideB;
    cell.second = kStrideAll - (rSmallest ? kStrideR : gSmallest ? kStrideG : kStrideB);
    cell.weight[0] = 1.0f - largest;
    cell.weight[1] = largest - middle;
    cell.weight[2] = middle - smallest;
    cell.weight[3] = smallest;
    return cell;
}

template <class Node>
inline float Blend(const Node* nodes, const Cell& cell, int c) {
    const auto at = [&](int offset) { return nodes[cell.base + offset].sample[c]; };
    return ((cell.weight[0] * at(0) + cell.weight[1] * at(cell.first)) + cell.weight[2] * at(cell.second)) +
           cell.weight[3] * at(kStrideAll);
}

// The nodes of two pixels, one in each half of a register.
__attribute__((target("avx2"), always_inline)) inline __m256 NodePair(const float* low, const float* high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(low)), _mm_load_ps(high), 1);
}

inline std::uint32_t Rounded(float value) {
    return static_cast<std::uint32_t>(std::clamp<long>(std::lrintf(value), 0, 65535));
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
    made->m_values.resize(kNodeCount);
    for (std::size_t n = 0; n < kNodeCount; ++n)
        for (std::size_t c = 0; c < 3; ++c) {
            // The library's own sampling: the value in 16-bit units, rounded and held to the range.
            const double v = values[3 * n + c] * 65535.0 + 0.5;
            made->m_values[n].sample[c] = !(v > 0)       ? 0.0f
                                          : v >= 65535.0 ? 65535.0f
                                                         : static_cast<float>(std::floor(v));
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
        made->m_values[kNodeCount - 1].sample[c] = float(whiteOut[c]);
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
        std::uint32_t values[3];
        for (int c = 0; c < 3; ++c)
            values[c] = Rounded(Blend(m_values.data(), cell, c));
        for (int c = 0; c < 3; ++c) {
            if (m_outBits == 8) {
                out[c] = static_cast<std::uint8_t>(To8(values[c]));
            } else {
                const USHORT word = static_cast<USHORT>(values[c]);
                std::memcpy(out + 2 * c, &word, 2);
            }
        }
    }
}

// Eight pixels at a time: the samples taken apart from their interleaved places, each lane's cell and
// tetrahedron chosen by comparisons, then two pixels at a time (pixel j and pixel j + 4, one in each half of
// a register, so that in-lane shuffles spread their weights) interpolated from their corners' nodes, read
// whole as four floats each, and written out in overlapping stores. Each pixel's arithmetic is the plain
// road's, operation for operation. The far corner sits a fixed distance from the near one, so its node is
// addressed from the near one's index. (Nodes of 16-bit samples, widened and converted at every pixel, and
// pixels put together in memory before being copied out, cost markedly more.)
template <int OutBits>
__attribute__((target("avx2"))) void CZovRgbGrid::ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out,
                                                                 std::size_t count) const {
    constexpr std::size_t outPixel = std::size_t(3 * OutBits / 8);
    const __m256 toNode = _mm256_set1_ps(kCodeToNode), oneF = _mm256_set1_ps(1.0f);
    const __m256i lastCell = _mm256_set1_epi32(kN - 2);
    const __m256i strideR = _mm256_set1_epi32(kStrideR), strideG = _mm256_set1_epi32(kStrideG),
                  strideB = _mm256_set1_epi32(kStrideB), strideAll = _mm256_set1_epi32(kStrideAll);
    const __m256i top = _mm256_set1_epi32(65535), zero = _mm256_setzero_si256();
    const __m256i narrowFactor = _mm256_set1_epi32(65281), narrowHalf = _mm256_set1_epi32(8388608);
    // Of each 128-bit half holding two pixels' red, green, blue and spare words, the first three of each
    // (12 bytes); of one holding four pixels' bytes, likewise.
    const __m256i dropSpareWords = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1, 0,
                                                    1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    const __m256i dropSpareBytes = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                                    1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const float* values = m_values.data()->sample;
    constexpr std::size_t kFarCorner = 4 * std::size_t(kStrideAll);
    // Pixels j and j + 4's samples, rounded and held to 16 bits (narrowed to 8 for 8-bit output), in one
    // register: red, green, blue and the spare of pixel j in the low half, of pixel j + 4 in the high half.
    // Each weight of pixels j and j + 4 spread over their halves by two in-lane unpacks.
    const auto pair = [&](const std::int32_t(&corner)[3][8], const __m256(&weights)[4], auto j)
        __attribute__((target("avx2"), always_inline)) {
        const auto spread = [&](int k) __attribute__((target("avx2"), always_inline)) {
            const __m256 half = j < 2 ? _mm256_unpacklo_ps(weights[k], weights[k])
                                      : _mm256_unpackhi_ps(weights[k], weights[k]);
            return j % 2 == 0 ? _mm256_unpacklo_ps(half, half) : _mm256_unpackhi_ps(half, half);
        };
        const float* lowBase = values + 4 * std::size_t(corner[0][j]);
        const float* highBase = values + 4 * std::size_t(corner[0][j + 4]);
        const __m256 t0 = _mm256_mul_ps(spread(0), NodePair(lowBase, highBase));
        const __m256 t1 = _mm256_mul_ps(spread(1), NodePair(values + 4 * std::size_t(corner[1][j]),
                                                            values + 4 * std::size_t(corner[1][j + 4])));
        const __m256 t2 = _mm256_mul_ps(spread(2), NodePair(values + 4 * std::size_t(corner[2][j]),
                                                            values + 4 * std::size_t(corner[2][j + 4])));
        const __m256 t3 = _mm256_mul_ps(spread(3), NodePair(lowBase + kFarCorner, highBase + kFarCorner));
        // The corners summed in the plain road's order.
        const __m256 value = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(t0, t1), t2), t3);
        __m256i rounded = _mm256_min_epi32(_mm256_max_epi32(_mm256_cvtps_epi32(value), zero), top);
        if constexpr (OutBits == 8)
            rounded = _mm256_srli_epi32(
                _mm256_add_epi32(_mm256_mullo_epi32(rounded, narrowFactor), narrowHalf), 24);
        return rounded;
    };
    std::size_t x = 0;
    for (; x + 8 <= count; x += 8, in += 48, out += 8 * outPixel) {
        __m256i codes[3];
        ZovPixelsAvx2::Load16(in, codes);
        __m256i node[3];
        __m256 fraction[3];
        for (int c = 0; c < 3; ++c) {
            const __m256 position = _mm256_mul_ps(_mm256_cvtepi32_ps(codes[c]), toNode);
            node[c] = _mm256_min_epi32(_mm256_cvttps_epi32(position), lastCell);
            fraction[c] = _mm256_sub_ps(position, _mm256_cvtepi32_ps(node[c]));
        }
        const __m256 r = fraction[0], g = fraction[1], b = fraction[2];
        const __m256 largest = _mm256_max_ps(_mm256_max_ps(r, g), b);
        const __m256 smallest = _mm256_min_ps(_mm256_min_ps(r, g), b);
        const __m256 middle = _mm256_max_ps(_mm256_min_ps(r, g), _mm256_min_ps(_mm256_max_ps(r, g), b));
        const __m256i rLargest = _mm256_castps_si256(
            _mm256_and_ps(_mm256_cmp_ps(r, g, _CMP_GE_OQ), _mm256_cmp_ps(r, b, _CMP_GE_OQ)));
        const __m256i gLargest =
            _mm256_andnot_si256(rLargest, _mm256_castps_si256(_mm256_cmp_ps(g, b, _CMP_GE_OQ)));
        const __m256i rSmallest = _mm256_castps_si256(
            _mm256_and_ps(_mm256_cmp_ps(r, g, _CMP_LE_OQ), _mm256_cmp_ps(r, b, _CMP_LE_OQ)));
        const __m256i gSmallest =
            _mm256_andnot_si256(rSmallest, _mm256_castps_si256(_mm256_cmp_ps(g, b, _CMP_LE_OQ)));
        const __m256i firstStep =
            _mm256_blendv_epi8(_mm256_blendv_epi8(strideB, strideG, gLargest), strideR, rLargest);
        const __m256i smallestStep =
            _mm256_blendv_epi8(_mm256_blendv_epi8(strideB, strideG, gSmallest), strideR, rSmallest);
        const __m256i base = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(node[0], strideR), _mm256_mullo_epi32(node[1], strideG)),
            _mm256_mullo_epi32(node[2], strideB));
        alignas(32) std::int32_t corner[3][8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(corner[0]), base);
        _mm256_store_si256(reinterpret_cast<__m256i*>(corner[1]), _mm256_add_epi32(base, firstStep));
        _mm256_store_si256(reinterpret_cast<__m256i*>(corner[2]),
                           _mm256_add_epi32(base, _mm256_sub_epi32(strideAll, smallestStep)));
        const __m256 weights[4] = {_mm256_sub_ps(oneF, largest), _mm256_sub_ps(largest, middle),
                                   _mm256_sub_ps(middle, smallest), smallest};
        const __m256i p04 = pair(corner, weights, std::integral_constant<int, 0>{}),
                      p15 = pair(corner, weights, std::integral_constant<int, 1>{}),
                      p26 = pair(corner, weights, std::integral_constant<int, 2>{}),
                      p37 = pair(corner, weights, std::integral_constant<int, 3>{});
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
