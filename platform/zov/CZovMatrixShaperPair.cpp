#include "CZovMatrixShaperPair.h"

#include "ZovPixelsAvx2.h"

#include "platform/win/CpuFeatures.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr std::size_t kCodes = 65536;
// Colorants this close to lying in one plane make no RGB space.
constexpr double kSmallestDeterminant = 1e-9;
// The smallest linear value the output table holds, as float bits: 2^-kOctaves.
constexpr std::uint32_t kLowestBits = std::uint32_t(127 - CZovMatrixShaperPair::kOctaves) << 23;
constexpr int kFractionBits = 23 - CZovMatrixShaperPair::kStepBits;
constexpr std::uint32_t kFractionMask = (1u << kFractionBits) - 1;
constexpr float kFractionScale = 1.0f / float(1u << kFractionBits);
// Probes of the check against the library: the levels of each channel, and how far a linear value may
// stray from the library's, which evaluates in single precision.
constexpr int kProbeLevels = 12;
constexpr double kLinearTolerance = 1e-6;

float LowestLinear() {
    return std::bit_cast<float>(kLowestBits);
}

struct Matrix3 {
    double m[3][3];
};

bool ReadColorants(cmsHPROFILE profile, Matrix3* rgbToXyz) {
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
        if (!xyz || !std::isfinite(xyz->X) || !std::isfinite(xyz->Y) || !std::isfinite(xyz->Z))
            return false;
        rgbToXyz->m[0][c] = xyz->X;
        rgbToXyz->m[1][c] = xyz->Y;
        rgbToXyz->m[2][c] = xyz->Z;
    }
    return true;
}

bool Invert(const Matrix3& a, Matrix3* inverse) {
    const auto& m = a.m;
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::fabs(det) < kSmallestDeterminant)
        return false;
    // The adjugate over the determinant.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inverse->m[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    return true;
}

bool IsRgbMatrixShaper(cmsHPROFILE profile, cmsUInt32Number intent, int direction) {
    return profile && cmsGetColorSpace(profile) == cmsSigRgbData && cmsIsMatrixShaper(profile) &&
           !cmsIsCLUT(profile, intent, direction);
}

const cmsToneCurve* Curve(cmsHPROFILE profile, int channel) {
    const cmsTagSignature tags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    return static_cast<const cmsToneCurve*>(cmsReadTag(profile, tags[channel]));
}

// The curve at x in [0, 1]. A formula is evaluated by the library; a table is read here between its
// entries in double precision: the library would round both the position and the value to 16 bits, which
// near black moves a linear value by a good part of its size.
double Forward(const cmsToneCurve* curve, double x) {
    if (cmsGetToneCurveParametricType(curve) != 0)
        return cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(x));
    const cmsUInt32Number entries = cmsGetToneCurveEstimatedTableEntries(curve);
    const cmsUInt16Number* table = cmsGetToneCurveEstimatedTable(curve);
    if (entries < 2 || !table)
        return cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(x));
    const double position = std::clamp(x, 0.0, 1.0) * double(entries - 1);
    const auto below = std::min(static_cast<cmsUInt32Number>(position), entries - 2);
    const double fraction = position - double(below);
    return (table[below] + (double(table[below + 1]) - table[below]) * fraction) / 65535.0;
}

// The curve at every 16-bit code.
std::vector<double> AtEveryCode(const cmsToneCurve* curve) {
    std::vector<double> values(kCodes);
    for (std::size_t k = 0; k < kCodes; ++k)
        values[k] = Forward(curve, double(k) / (kCodes - 1));
    return values;
}

// The output code (fractional, 16-bit units) whose curve value is `linear`: the curve, known at every code
// and linear between them, inverted exactly where it rises.
double InverseAt(const std::vector<double>& forward, double linear) {
    const auto above = std::upper_bound(forward.begin(), forward.end(), linear);
    if (above == forward.begin())
        return 0;
    if (above == forward.end())
        return double(kCodes - 1);
    const std::size_t k = static_cast<std::size_t>(above - forward.begin()) - 1;
    const double rise = forward[k + 1] - forward[k];
    return double(k) + (rise > 0 ? (linear - forward[k]) / rise : 0.0);
}

// The library's narrowing of 16-bit values to 8 bits, so that both roads round alike.
inline std::uint32_t To8(std::uint32_t value16) {
    return (value16 * 65281u + 8388608u) >> 24;
}

inline USHORT Sample(const std::uint8_t* pixel, LONG bits, int c) {
    if (bits == 8)
        return pixel[c];
    USHORT v;
    std::memcpy(&v, pixel + 2 * c, 2);
    return v;
}

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

// The output profile's colorants with linear curves, of the same class, version and white.
ProfilePtr LinearTwin(cmsHPROFILE output) {
    ProfilePtr twin(cmsCreateProfilePlaceholder(nullptr));
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    bool made = twin && linear;
    if (made) {
        cmsHPROFILE p = twin.get();
        cmsSetProfileVersion(p, cmsGetProfileVersion(output));
        cmsSetDeviceClass(p, cmsGetDeviceClass(output));
        cmsSetColorSpace(p, cmsSigRgbData);
        cmsSetPCS(p, cmsGetPCS(output));
        const cmsTagSignature copied[4] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                           cmsSigBlueColorantTag, cmsSigMediaWhitePointTag};
        for (cmsTagSignature tag : copied)
            if (const void* value = cmsReadTag(output, tag))
                made = made && cmsWriteTag(p, tag, value);
        const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (cmsTagSignature tag : curves)
            made = made && cmsWriteTag(p, tag, linear);
    }
    if (linear)
        cmsFreeToneCurve(linear);
    return made ? std::move(twin) : nullptr;
}

} // namespace

bool CZovMatrixShaperPair::AgreesWithLibrary(const CZovMatrixShaperPair& pair, cmsHPROFILE input,
                                             cmsHPROFILE output, cmsUInt32Number intent) {
    const ProfilePtr twin = LinearTwin(output);
    cmsHTRANSFORM reference =
        twin ? cmsCreateTransform(input, TYPE_RGB_16, twin.get(), TYPE_RGB_DBL, intent, cmsFLAGS_NOCACHE)
             : nullptr;
    if (!reference)
        return false;
    bool agrees = true;
    for (int r = 0; r < kProbeLevels && agrees; ++r)
        for (int g = 0; g < kProbeLevels && agrees; ++g)
            for (int b = 0; b < kProbeLevels && agrees; ++b) {
                // Levels that an 8-bit input holds too: its codes are the 16-bit codes over 257.
                const int levels[3] = {r, g, b};
                USHORT probe[3], given[3];
                for (int c = 0; c < 3; ++c) {
                    const auto code8 =
                        static_cast<USHORT>(std::lround(255.0 * levels[c] / (kProbeLevels - 1)));
                    probe[c] = static_cast<USHORT>(code8 * 257);
                    given[c] = pair.m_inBits == 8 ? code8 : probe[c];
                }
                double expected[3];
                cmsDoTransform(reference, probe, expected, 1);
                for (int c = 0; c < 3 && agrees; ++c)
                    agrees = std::isfinite(expected[c]) &&
                             std::fabs(pair.Linear(given, c) - std::clamp(expected[c], 0.0, 1.0)) <=
                                 kLinearTolerance;
            }
    cmsDeleteTransform(reference);
    return agrees;
}

std::unique_ptr<const CZovMatrixShaperPair> CZovMatrixShaperPair::Make(cmsHPROFILE input, cmsHPROFILE output,
                                                                       cmsUInt32Number intent, LONG inBits,
                                                                       LONG outBits) {
    if ((inBits != 8 && inBits != 16) || (outBits != 8 && outBits != 16) ||
        intent == INTENT_ABSOLUTE_COLORIMETRIC || !IsRgbMatrixShaper(input, intent, LCMS_USED_AS_INPUT) ||
        !IsRgbMatrixShaper(output, intent, LCMS_USED_AS_OUTPUT))
        return nullptr;
    Matrix3 in{}, out{}, outInverse{};
    if (!ReadColorants(input, &in) || !ReadColorants(output, &out) || !Invert(out, &outInverse))
        return nullptr;
    std::unique_ptr<CZovMatrixShaperPair> made(new CZovMatrixShaperPair());
    made->m_inBits = inBits;
    made->m_outBits = outBits;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += outInverse.m[r][k] * in.m[k][c];
            made->m_matrix[std::size_t(3 * r + c)] = sum;
        }

    // The library scales the black point of version 4 profiles for the perceptual and saturation intents;
    // with black at 0 on both sides that changes nothing.
    for (int c = 0; c < 3; ++c)
        if (!Curve(input, c) || !Curve(output, c) || Forward(Curve(input, c), 0.0) != 0.0 ||
            Forward(Curve(output, c), 0.0) != 0.0)
            return nullptr;
    const std::size_t inCodes = std::size_t(1) << inBits;
    std::array<std::size_t, 3> inputOf{}, outputOf{};
    for (int c = 0; c < 3; ++c) {
        std::vector<float> table(inCodes);
        for (std::size_t k = 0; k < inCodes; ++k)
            table[k] = static_cast<float>(Forward(Curve(input, c), double(k) / double(inCodes - 1)));
        const auto same = std::find(made->m_inputTables.begin(), made->m_inputTables.end(), table);
        inputOf[std::size_t(c)] = std::size_t(same - made->m_inputTables.begin());
        if (same == made->m_inputTables.end())
            made->m_inputTables.push_back(std::move(table));
    }
    for (int c = 0; c < 3; ++c) {
        const cmsToneCurve* curve = Curve(output, c);
        if (!cmsIsToneCurveMonotonic(curve))
            return nullptr;
        const std::vector<double> forward = AtEveryCode(curve);
        std::vector<float> values(kOutputNodes + 1);
        for (std::size_t n = 0; n <= kOutputNodes; ++n) {
            const float linear = std::bit_cast<float>(kLowestBits + (std::uint32_t(n) << kFractionBits));
            values[n] = static_cast<float>(InverseAt(forward, linear));
        }
        std::vector<Node> table(kOutputNodes + 1);
        for (std::size_t n = 0; n <= kOutputNodes; ++n)
            table[n] = {values[n], n < kOutputNodes ? values[n + 1] - values[n] : 0.0f};
        const auto same = std::find_if(
            made->m_outputTables.begin(), made->m_outputTables.end(), [&](const std::vector<Node>& t) {
                return std::equal(t.begin(), t.end(), table.begin(),
                                  [](Node a, Node b) { return a.value == b.value && a.rise == b.rise; });
            });
        outputOf[std::size_t(c)] = std::size_t(same - made->m_outputTables.begin());
        if (same == made->m_outputTables.end())
            made->m_outputTables.push_back(std::move(table));
    }
    for (std::size_t c = 0; c < 3; ++c) {
        made->m_input[c] = made->m_inputTables[inputOf[c]].data();
        made->m_output[c] = made->m_outputTables[outputOf[c]].data();
    }

    // The library's own conversion in double precision, to the output's colorants with linear curves, on
    // a sweep of the cube: the linear values it gives tell of what the colorants and curves alone do not
    // say (a scaled black point, an intent that changes the colorants).
    const bool agrees = AgreesWithLibrary(*made, input, output, intent);
    if (!agrees)
        return nullptr;
    return made;
}

float CZovMatrixShaperPair::Linear(const USHORT input[3], int channel) const {
    const double* row = &m_matrix[std::size_t(3 * channel)];
    const double value = row[0] * double(m_input[0][input[0]]) + row[1] * double(m_input[1][input[1]]) +
                         row[2] * double(m_input[2][input[2]]);
    return std::min(std::max(static_cast<float>(value), LowestLinear()), 1.0f);
}

float CZovMatrixShaperPair::Output(int channel, float linear) const {
    const std::uint32_t above = std::bit_cast<std::uint32_t>(linear) - kLowestBits;
    const std::size_t node = above >> kFractionBits;
    const float fraction = float(above & kFractionMask) * kFractionScale;
    const Node at = m_output[std::size_t(channel)][node];
    return at.value + at.rise * fraction;
}

void CZovMatrixShaperPair::Evaluate(const USHORT input[3], double output[3]) const {
    for (int c = 0; c < 3; ++c)
        output[c] = Output(c, Linear(input, c));
}

void CZovMatrixShaperPair::Convert(LONG width, LONG height, const std::uint8_t* source,
                                   std::uint8_t* destination, std::size_t sourceRowBytes,
                                   std::size_t destinationRowBytes) const {
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

void CZovMatrixShaperPair::ConvertRow(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const {
    const std::size_t inPixel = std::size_t(3 * m_inBits / 8), outPixel = std::size_t(3 * m_outBits / 8);
    for (std::size_t x = 0; x < count; ++x, in += inPixel, out += outPixel) {
        const USHORT samples[3] = {Sample(in, m_inBits, 0), Sample(in, m_inBits, 1), Sample(in, m_inBits, 2)};
        double values[3];
        Evaluate(samples, values);
        for (int c = 0; c < 3; ++c) {
            const auto v = static_cast<std::uint32_t>(std::lrintf(static_cast<float>(values[c])));
            if (m_outBits == 8) {
                out[c] = static_cast<std::uint8_t>(To8(v));
            } else {
                const USHORT word = static_cast<USHORT>(v);
                std::memcpy(out + 2 * c, &word, 2);
            }
        }
    }
}

// Eight pixels at a time: the input samples taken apart from their interleaved places, their linear values
// gathered from the tables, the matrix in double precision, the output table read at the linear values'
// float bits. Each pixel's arithmetic is the plain road's, operation for operation.
__attribute__((target("avx2"))) void
CZovMatrixShaperPair::ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const {
    const std::size_t inPixel = std::size_t(3 * m_inBits / 8), outPixel = std::size_t(3 * m_outBits / 8);
    const bool wideIn = m_inBits == 16;
    const __m256 lowest = _mm256_set1_ps(LowestLinear()), one = _mm256_set1_ps(1.0f);
    const __m256i lowestBits = _mm256_set1_epi32(static_cast<int>(kLowestBits));
    const __m256i fractionMask = _mm256_set1_epi32(static_cast<int>(kFractionMask));
    const __m256 fractionScale = _mm256_set1_ps(kFractionScale);
    const __m256i pairOrder = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    __m256d m[9];
    for (std::size_t i = 0; i < 9; ++i)
        m[i] = _mm256_set1_pd(m_matrix[i]);
    __m256i results[3];
    std::size_t x = 0;
    for (; x + 8 <= count; x += 8, in += 8 * inPixel, out += 8 * outPixel) {
        __m256i channel[3];
        if (wideIn)
            ZovPixelsAvx2::Load16(in, channel);
        else
            ZovPixelsAvx2::Load8(in, channel);
        __m256d linear[2][3]; // halves of four pixels, channels
        for (int c = 0; c < 3; ++c) {
            const __m256 gathered = _mm256_i32gather_ps(m_input[std::size_t(c)], channel[c], 4);
            linear[0][c] = _mm256_cvtps_pd(_mm256_castps256_ps128(gathered));
            linear[1][c] = _mm256_cvtps_pd(_mm256_extractf128_ps(gathered, 1));
        }
        for (int c = 0; c < 3; ++c) {
            __m128 halves[2];
            for (int h = 0; h < 2; ++h) {
                const __m256d sum = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m[3 * c], linear[h][0]),
                                                                _mm256_mul_pd(m[3 * c + 1], linear[h][1])),
                                                  _mm256_mul_pd(m[3 * c + 2], linear[h][2]));
                halves[h] = _mm256_cvtpd_ps(sum);
            }
            __m256 l = _mm256_insertf128_ps(_mm256_castps128_ps256(halves[0]), halves[1], 1);
            l = _mm256_min_ps(_mm256_max_ps(l, lowest), one);
            const __m256i above = _mm256_sub_epi32(_mm256_castps_si256(l), lowestBits);
            const __m256i node = _mm256_srli_epi32(above, kFractionBits);
            const __m256 fraction =
                _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(above, fractionMask)), fractionScale);
            // Each node's value and rise come in one 8-byte read: the lanes of pixels 0, 1, 4 and 5 from the
            // first gather and of 2, 3, 6 and 7 from the second, so that picking every other float of the
            // two gives the values, and of the rest the rises, in the pixels' order.
            const auto* table = reinterpret_cast<const long long*>(m_output[std::size_t(c)]);
            const __m256i split = _mm256_permutevar8x32_epi32(node, pairOrder);
            const __m256 first4 =
                _mm256_castsi256_ps(_mm256_i32gather_epi64(table, _mm256_castsi256_si128(split), 8));
            const __m256 last4 =
                _mm256_castsi256_ps(_mm256_i32gather_epi64(table, _mm256_extracti128_si256(split, 1), 8));
            const __m256 at = _mm256_shuffle_ps(first4, last4, _MM_SHUFFLE(2, 0, 2, 0));
            const __m256 rise = _mm256_shuffle_ps(first4, last4, _MM_SHUFFLE(3, 1, 3, 1));
            const __m256 value = _mm256_add_ps(at, _mm256_mul_ps(rise, fraction));
            __m256i rounded = _mm256_cvtps_epi32(value);
            if (m_outBits == 8)
                rounded =
                    _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(rounded, _mm256_set1_epi32(65281)),
                                                       _mm256_set1_epi32(8388608)),
                                      24);
            results[c] = rounded;
        }
        if (m_outBits == 8)
            ZovPixelsAvx2::Store8(results, out);
        else
            ZovPixelsAvx2::Store16(results, out);
    }
    ConvertRow(in, out, count - x);
}
