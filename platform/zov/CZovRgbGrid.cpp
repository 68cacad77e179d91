#include "CZovRgbGrid.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

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

inline float Blend(const float* nodes, const Cell& cell) {
    return ((cell.weight[0] * nodes[cell.base] + cell.weight[1] * nodes[cell.base + cell.first]) +
            cell.weight[2] * nodes[cell.base + cell.second]) +
           cell.weight[3] * nodes[cell.base + kStrideAll];
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
    for (int c = 0; c < 3; ++c) {
        std::vector<float>& nodes = made->m_nodes[std::size_t(c)];
        nodes.resize(kNodeCount);
        for (std::size_t n = 0; n < kNodeCount; ++n) {
            // The library's own sampling: the value in 16-bit units, rounded and held to the range.
            const double v = values[3 * n + std::size_t(c)] * 65535.0 + 0.5;
            nodes[n] = !(v > 0) ? 0.0f : v >= 65535.0 ? 65535.0f : static_cast<float>(std::floor(v));
        }
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
        made->m_nodes[std::size_t(c)][kNodeCount - 1] = whiteOut[c];
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
        if (avx2)
            ConvertRowAvx2(in, out, std::size_t(width));
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
            values[c] = Rounded(Blend(m_nodes[std::size_t(c)].data(), cell));
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

// Eight pixels at a time: the samples gathered from their interleaved places, each lane's cell and
// tetrahedron chosen by comparisons, the four corners of each output channel gathered. Each pixel's
// arithmetic is the plain road's, operation for operation.
__attribute__((target("avx2"))) void CZovRgbGrid::ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out,
                                                                 std::size_t count) const {
    const std::size_t outPixel = std::size_t(3 * m_outBits / 8);
    const __m256i pixelOffsets = _mm256_setr_epi32(0, 6, 12, 18, 24, 30, 36, 42);
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256 toNode = _mm256_set1_ps(kCodeToNode), oneF = _mm256_set1_ps(1.0f);
    const __m256i lastCell = _mm256_set1_epi32(kN - 2);
    const __m256i strideR = _mm256_set1_epi32(kStrideR), strideG = _mm256_set1_epi32(kStrideG),
                  strideB = _mm256_set1_epi32(kStrideB), strideAll = _mm256_set1_epi32(kStrideAll);
    const __m256i top = _mm256_set1_epi32(65535), zero = _mm256_setzero_si256();
    alignas(32) std::int32_t results[3][8];
    std::size_t x = 0;
    // The gathers read four bytes from the last sample of a pixel: the pixel after the eight must exist.
    for (; x + 9 <= count; x += 8, in += 48, out += 8 * outPixel) {
        const __m256i first = _mm256_i32gather_epi32(reinterpret_cast<const int*>(in), pixelOffsets, 1);
        const __m256i last = _mm256_i32gather_epi32(reinterpret_cast<const int*>(in + 4), pixelOffsets, 1);
        const __m256i codes[3] = {_mm256_and_si256(first, low16), _mm256_srli_epi32(first, 16),
                                  _mm256_and_si256(last, low16)};
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
        const __m256i corner1 = _mm256_add_epi32(base, firstStep);
        const __m256i corner2 = _mm256_add_epi32(base, _mm256_sub_epi32(strideAll, smallestStep));
        const __m256i corner3 = _mm256_add_epi32(base, strideAll);
        const __m256 w0 = _mm256_sub_ps(oneF, largest), w1 = _mm256_sub_ps(largest, middle),
                     w2 = _mm256_sub_ps(middle, smallest), w3 = smallest;
        for (int c = 0; c < 3; ++c) {
            const float* nodes = m_nodes[std::size_t(c)].data();
            const __m256 value = _mm256_add_ps(
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(w0, _mm256_i32gather_ps(nodes, base, 4)),
                                            _mm256_mul_ps(w1, _mm256_i32gather_ps(nodes, corner1, 4))),
                              _mm256_mul_ps(w2, _mm256_i32gather_ps(nodes, corner2, 4))),
                _mm256_mul_ps(w3, _mm256_i32gather_ps(nodes, corner3, 4)));
            __m256i rounded = _mm256_min_epi32(_mm256_max_epi32(_mm256_cvtps_epi32(value), zero), top);
            if (m_outBits == 8)
                rounded =
                    _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(rounded, _mm256_set1_epi32(65281)),
                                                       _mm256_set1_epi32(8388608)),
                                      24);
            _mm256_store_si256(reinterpret_cast<__m256i*>(results[c]), rounded);
        }
        for (int i = 0; i < 8; ++i)
            for (int c = 0; c < 3; ++c) {
                if (m_outBits == 8) {
                    out[3 * i + c] = static_cast<std::uint8_t>(results[c][i]);
                } else {
                    const USHORT word = static_cast<USHORT>(results[c][i]);
                    std::memcpy(out + 6 * i + 2 * c, &word, 2);
                }
            }
    }
    ConvertRow(in, out, count - x);
}
