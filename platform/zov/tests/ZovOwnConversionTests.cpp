// Conversions between RGB profiles done on our side. Two matrix-shaper profiles: checked on a sweep of the
// RGB cube against the conversion the profiles define, computed here in double precision from their
// colorants and curves (the curves as standard formulas, or as the tables they store), and measured against
// lcms2's own 16-bit and double-precision roads. A table-based profile: against lcms2's 16-bit road, whose
// grid ours interpolates.
#include "platform/win/CpuFeatures.h"
#include "platform/zov/CZovConversion.h"
#include "platform/zov/KVCM.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

// IEC 61966-2-1's curve, in lcms2's parametric form 4.
constexpr double kSrgbParameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
enum class Curve { kSrgb, kGamma22, kAdobe };

cmsToneCurve* Build(Curve curve) {
    switch (curve) {
    case Curve::kSrgb:
        return cmsBuildParametricToneCurve(nullptr, 4, kSrgbParameters);
    case Curve::kGamma22:
        return cmsBuildGamma(nullptr, 2.2);
    case Curve::kAdobe:
        return cmsBuildGamma(nullptr, 563.0 / 256.0);
    }
    return nullptr;
}

struct ProfileContent {
    const char* name;
    Curve curve;
    double version;
    bool camera; // colorants of a camera's own matrix, with negative entries; else primaries
    cmsCIExyYTRIPLE primaries;
    cmsCIExyY white;
};

const cmsCIExyY kD65 = {0.3127, 0.3290, 1.0};
const cmsCIExyY kD50 = {0.3457, 0.3585, 1.0};
const cmsCIExyYTRIPLE kSrgbPrimaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
const cmsCIExyYTRIPLE kWidePrimaries = {{0.7347, 0.2653, 1}, {0.1152, 0.8264, 1}, {0.1566, 0.0177, 1}};
const cmsCIExyYTRIPLE kAdobePrimaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
// A camera's balanced RGB to XYZ (D50), columns red, green and blue, as the camera raw loader writes it.
constexpr double kCameraToXyz[9] = {0.60, 0.25, 0.12, 0.27, 0.80, -0.07, 0.02, -0.10, 0.90};

const ProfileContent kCamera{"camera.icc", Curve::kSrgb, 4.3, true, {}, kD50};
// Version 2 stores the curve as a table of 4096 entries, as the standard profile "KVsRGB.icm" does.
const ProfileContent kSrgbTable{"srgb2.icc", Curve::kSrgb, 2.1, false, kSrgbPrimaries, kD65};
const ProfileContent kSrgbFormula{"srgb4.icc", Curve::kSrgb, 4.3, false, kSrgbPrimaries, kD65};
const ProfileContent kWide{"wide.icc", Curve::kGamma22, 2.1, false, kWidePrimaries, kD50};
const ProfileContent kAdobe{"adobe.icc", Curve::kAdobe, 2.1, false, kAdobePrimaries, kD65};

std::string Write(const kvtest::TempFolder& folder, const ProfileContent& content) {
    cmsToneCurve* curve = Build(content.curve);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = nullptr;
    if (content.camera) {
        profile = cmsCreateProfilePlaceholder(nullptr);
        cmsSetDeviceClass(profile, cmsSigInputClass);
        cmsSetColorSpace(profile, cmsSigRgbData);
        cmsSetPCS(profile, cmsSigXYZData);
        const cmsCIEXYZ colorants[3] = {{kCameraToXyz[0], kCameraToXyz[3], kCameraToXyz[6]},
                                        {kCameraToXyz[1], kCameraToXyz[4], kCameraToXyz[7]},
                                        {kCameraToXyz[2], kCameraToXyz[5], kCameraToXyz[8]}};
        const cmsTagSignature colorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                                 cmsSigBlueColorantTag};
        const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (int c = 0; c < 3; ++c) {
            cmsWriteTag(profile, colorantTags[c], &colorants[c]);
            cmsWriteTag(profile, curveTags[c], curve);
        }
        cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    } else {
        profile = cmsCreateRGBProfile(&content.white, &content.primaries, curves);
    }
    cmsFreeToneCurve(curve);
    cmsSetProfileVersion(profile, content.version);
    const kvtest::TempFolder& f = folder;
    const std::string path = f.File(content.name);
    EXPECT_TRUE(cmsSaveProfileToFile(profile, path.c_str()));
    cmsCloseProfile(profile);
    return path;
}

// An input profile of tables, as the camera base profiles are: per-channel curves, a grid of 17 nodes a side
// to Lab (a camera's colours: sRGB's, mixed and bent) and curves after it.
std::string WriteTableProfile(const kvtest::TempFolder& folder) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
    const auto sampler = [](const cmsUInt16Number in[], cmsUInt16Number out[],
                            void* cargo) -> cmsInt32Number {
        const double r = in[0] / 65535.0, g = in[1] / 65535.0, b = in[2] / 65535.0;
        const double mixed[3] = {std::pow(0.85 * r + 0.15 * g, 1.1), 0.1 * r + 0.8 * g + 0.1 * b, 0.95 * b};
        cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), mixed, out, 1);
        return TRUE;
    };
    cmsStageSampleCLut16bit(grid, sampler, toLab, 0);
    cmsToneCurve* bend = cmsBuildGamma(nullptr, 0.9);
    cmsToneCurve* identity = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* before[3] = {bend, bend, bend};
    cmsToneCurve* after[3] = {identity, identity, identity};
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, before));
    cmsPipelineInsertStage(pipeline, cmsAT_END, grid);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, after));
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigInputClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    const std::string path = folder.File("table.icc");
    EXPECT_TRUE(cmsSaveProfileToFile(profile, path.c_str()));
    cmsCloseProfile(profile);
    cmsPipelineFree(pipeline);
    cmsFreeToneCurve(bend);
    cmsFreeToneCurve(identity);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return path;
}

// The conversion a pair of profiles defines, in double precision: each input curve, the input colorants,
// the inverse of the output colorants, the output curve inverted by bisection. A curve is the standard
// formula with the parameters the file stores, or the 4096-entry table a version 2 profile stores for a
// formula it has no type for, read between its entries.
class Reference {
public:
    Reference(const std::string& in, const std::string& out) {
        m_decodeIn = DecodeOf(in);
        m_decodeOut = DecodeOf(out);
        double a[3][3], b[3][3];
        Colorants(in, a);
        Colorants(out, b);
        double inverse[3][3];
        const double det = b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
                           b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
                           b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
                inverse[r][c] = (b[r1][c1] * b[r2][c2] - b[r1][c2] * b[r2][c1]) / det;
            }
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                m_matrix[r][c] = 0;
                for (int k = 0; k < 3; ++k)
                    m_matrix[r][c] += inverse[r][k] * a[k][c];
            }
    }

    // Output values in 16-bit units, unrounded and held to the range.
    void Convert(const std::uint16_t in[3], double out[3]) const {
        double linear[3];
        for (int c = 0; c < 3; ++c)
            linear[c] = m_decodeIn(in[c] / 65535.0);
        for (int r = 0; r < 3; ++r) {
            const double l =
                m_matrix[r][0] * linear[0] + m_matrix[r][1] * linear[1] + m_matrix[r][2] * linear[2];
            out[r] = Encode(l) * 65535.0;
        }
    }

private:
    // The curve the file holds: a parametric curve's stored parameters in its standard formula, a table
    // read between its entries.
    static std::function<double(double)> DecodeOf(const std::string& path) {
        cmsHPROFILE profile = cmsOpenProfileFromFile(path.c_str(), "r");
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigRedTRCTag));
        const int type = cmsGetToneCurveParametricType(curve);
        std::function<double(double)> decode;
        if (type == 1 || type == 4) {
            const cmsFloat64Number* p = cmsGetToneCurveParams(curve);
            const double g = p[0], a = p[1], b = p[2], c = p[3], d = p[4];
            decode = type == 1 ? std::function<double(double)>([g](double x) { return std::pow(x, g); })
                               : [=](double x) { return x >= d ? std::pow(a * x + b, g) : c * x; };
        } else {
            const cmsUInt16Number* entries = cmsGetToneCurveEstimatedTable(curve);
            std::vector<double> table(entries, entries + cmsGetToneCurveEstimatedTableEntries(curve));
            decode = [table](double v) {
                const double at = std::clamp(v, 0.0, 1.0) * double(table.size() - 1);
                const std::size_t i = std::min(static_cast<std::size_t>(at), table.size() - 2);
                return (table[i] + (table[i + 1] - table[i]) * (at - double(i))) / 65535.0;
            };
        }
        cmsCloseProfile(profile);
        return decode;
    }

    static void Colorants(const std::string& path, double m[3][3]) {
        cmsHPROFILE profile = cmsOpenProfileFromFile(path.c_str(), "r");
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        for (int c = 0; c < 3; ++c) {
            const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
            m[0][c] = xyz->X;
            m[1][c] = xyz->Y;
            m[2][c] = xyz->Z;
        }
        cmsCloseProfile(profile);
    }

    double Encode(double linear) const {
        if (linear <= m_decodeOut(0.0))
            return 0;
        if (linear >= m_decodeOut(1.0))
            return 1;
        double lo = 0, hi = 1;
        for (int i = 0; i < 60; ++i) {
            const double mid = (lo + hi) / 2;
            (m_decodeOut(mid) < linear ? lo : hi) = mid;
        }
        return (lo + hi) / 2;
    }

    std::function<double(double)> m_decodeIn, m_decodeOut;
    double m_matrix[3][3];
};

// Codes of one channel for the sweep: dense just above black, where curves rise steeply, then spread to
// white; and pixels of random codes.
std::vector<std::uint16_t> SweepPixels() {
    std::vector<std::uint16_t> levels = {0, 1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610};
    constexpr int kSpread = 26;
    for (int i = 1; i <= kSpread; ++i)
        levels.push_back(static_cast<std::uint16_t>(std::lround(65535.0 * std::pow(i / double(kSpread), 2))));
    std::vector<std::uint16_t> pixels;
    for (std::uint16_t r : levels)
        for (std::uint16_t g : levels)
            for (std::uint16_t b : levels)
                pixels.insert(pixels.end(), {r, g, b});
    std::mt19937 rng(64);
    for (int i = 0; i < 30000; ++i)
        pixels.push_back(static_cast<std::uint16_t>(rng()));
    while (pixels.size() % 3)
        pixels.push_back(0);
    return pixels;
}

// The roads of our own conversions, each taken by forcing the features of the wider ones off; a road the
// processor has not the features for is skipped.
struct Road {
    const char* name;
    DWORD needs;
    DWORD off;
};
constexpr Road kRoads[] = {
    {"AVX-512", CpuFeature::kAVX512F | CpuFeature::kAVX512BW | CpuFeature::kAVX2, 0},
    {"AVX2", CpuFeature::kAVX2, CpuFeature::kAVX512F},
    {"plain", 0, CpuFeature::kAVX2 | CpuFeature::kAVX512F},
};
constexpr const Road& kPlainRoad = kRoads[2];

bool Takes(const Road& road) {
    if ((CpuDetectedFeatures() & road.needs) == road.needs)
        return true;
    std::printf("no %s road on this processor\n", road.name);
    return false;
}

struct Configured {
    HKVCMXFORM xform = nullptr;
    HKVCMCML object = nullptr;
    Configured(const std::string& in, const std::string& out, LONG intent, LONG inBits, LONG outBits) {
        EXPECT_EQ(KVCMCreateXForm(&xform), KVCM_OK);
        EXPECT_EQ(KVCMCreateCML(&object), KVCM_OK);
        EXPECT_EQ(KVCMSetInputProfileFile(xform, in.c_str()), KVCM_OK);
        EXPECT_EQ(KVCMSetOutputProfileFile(xform, out.c_str()), KVCM_OK);
        EXPECT_EQ(KVCMSetIntent(xform, intent), KVCM_OK);
        EXPECT_EQ(KVCMSetTransform(object, xform), KVCM_OK);
        EXPECT_EQ(KVCMSetInputBitSize(object, inBits), KVCM_OK);
        EXPECT_EQ(KVCMSetOutputBitSize(object, outBits), KVCM_OK);
    }
    ~Configured() {
        KVCMDestroyCML(object);
        KVCMDestroyXForm(xform);
    }
    // Converted as one row of pixels.
    std::vector<std::uint8_t> Convert(const std::vector<std::uint8_t>& in, std::size_t pixels,
                                      std::size_t outPixel) const {
        std::vector<std::uint8_t> out(pixels * outPixel);
        EXPECT_EQ(
            KVCMProcessInterleavedData(object, static_cast<LONG>(pixels), 1, in.data(), out.data(), 0, 0),
            KVCM_OK);
        return out;
    }
};

std::vector<std::uint8_t> Bytes(const std::vector<std::uint16_t>& samples) {
    std::vector<std::uint8_t> bytes(samples.size() * 2);
    if (!samples.empty())
        std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<std::uint16_t> Words(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint16_t> words(bytes.size() / 2);
    std::memcpy(words.data(), bytes.data(), words.size() * 2);
    return words;
}

// lcms2's own conversion of 16-bit pixels, to 16-bit samples or to doubles in 16-bit units.
std::vector<double> Lcms2(const std::string& in, const std::string& out, LONG intent,
                          const std::vector<std::uint16_t>& pixels, bool doubles) {
    cmsHPROFILE a = cmsOpenProfileFromFile(in.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(out.c_str(), "r");
    cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_RGB_16, b, doubles ? TYPE_RGB_DBL : TYPE_RGB_16,
                                         static_cast<cmsUInt32Number>(intent), 0);
    std::vector<double> result(pixels.size());
    const auto count = static_cast<cmsUInt32Number>(pixels.size() / 3);
    if (doubles) {
        cmsDoTransform(t, pixels.data(), result.data(), count);
        for (double& v : result)
            v = std::clamp(v, 0.0, 1.0) * 65535.0;
    } else {
        std::vector<std::uint16_t> words(pixels.size());
        cmsDoTransform(t, pixels.data(), words.data(), count);
        std::copy(words.begin(), words.end(), result.begin());
    }
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return result;
}

// Whether the grid road takes the pair at 16 bits.
bool GridTakes(const std::string& in, const std::string& out, LONG intent) {
    cmsHPROFILE a = cmsOpenProfileFromFile(in.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(out.c_str(), "r");
    const bool takes = CZovRgbGrid::Make(a, b, static_cast<cmsUInt32Number>(intent), 16) != nullptr;
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return takes;
}

struct Deviation {
    double worst = 0;
    std::size_t at = 0;
    std::size_t beyondOne = 0;
};

Deviation Compare(const std::vector<std::uint16_t>& got, const std::vector<double>& expected) {
    Deviation d;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double e = std::fabs(got[i] - expected[i]);
        d.beyondOne += e > 1.0;
        if (e > d.worst) {
            d.worst = e;
            d.at = i;
        }
    }
    return d;
}

struct PairCase {
    const ProfileContent* in;
    const ProfileContent* out;
    LONG intent;
};

const PairCase kPairs[] = {{&kCamera, &kSrgbTable, 0},   {&kCamera, &kSrgbTable, 1},
                           {&kCamera, &kSrgbFormula, 0}, {&kCamera, &kAdobe, 1},
                           {&kSrgbFormula, &kWide, 2},   {&kWide, &kSrgbTable, 0},
                           {&kAdobe, &kSrgbFormula, 1}};

// Every pair of the table within a level of the conversion the profiles define, on every sample of the
// sweep. lcms2's 16-bit road resamples the conversion into a grid, which strays by thousands of levels
// where a channel clips at the gamut's edge and by tens just above black; wherever it is right (within
// half a level of the exact conversion) ours is within a level of it. Both roads' distances are printed.
TEST(ZovOwnConversion, MatrixShaperPairsConvertWithinALevelOfTheExactConversion) {
    kvtest::TempFolder folder;
    const std::vector<std::uint16_t> pixels = SweepPixels();
    const std::size_t count = pixels.size() / 3;
    for (const PairCase& c : kPairs) {
        const std::string in = Write(folder, *c.in), out = Write(folder, *c.out);
        SCOPED_TRACE(testing::Message() << c.in->name << " to " << c.out->name << ", intent " << c.intent);
        const Reference reference(in, out);
        std::vector<double> exact(pixels.size());
        for (std::size_t p = 0; p < count; ++p)
            reference.Convert(&pixels[3 * p], &exact[3 * p]);

        const Configured ours(in, out, c.intent, 16, 16);
        const std::vector<std::uint16_t> got = Words(ours.Convert(Bytes(pixels), count, 6));
        const Deviation d = Compare(got, exact);
        EXPECT_LE(d.worst, 1.0) << "at sample " << d.at << " (pixel " << pixels[d.at / 3 * 3] << ' '
                                << pixels[d.at / 3 * 3 + 1] << ' ' << pixels[d.at / 3 * 3 + 2] << ')';

        const std::vector<double> library16 = Lcms2(in, out, c.intent, pixels, false);
        std::size_t libraryRight = 0, apart = 0;
        double worstLibrary = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            worstLibrary = std::max(worstLibrary, std::fabs(library16[i] - exact[i]));
            if (std::fabs(library16[i] - exact[i]) <= 0.5) {
                ++libraryRight;
                apart += std::fabs(got[i] - library16[i]) > 1.0;
            }
        }
        EXPECT_EQ(apart, 0u) << "samples where lcms2's 16-bit road is right and ours is not within a level";
        const Deviation doubles = Compare(got, Lcms2(in, out, c.intent, pixels, true));
        std::printf(
            "%s to %s, intent %d: ours within %.2f of the exact conversion; lcms2's 16-bit road within "
            "%.0f (right on %.1f%% of the samples), its double road within %.1f of ours\n",
            c.in->name, c.out->name, int(c.intent), d.worst, worstLibrary,
            100.0 * double(libraryRight) / double(got.size()), doubles.worst);
    }
}

// Each SIMD road and the plain road give the same samples, for every pair of bit sizes, from rows whose
// lengths leave every remainder of sixteen pixels.
TEST(ZovOwnConversion, TheSimdAndThePlainRoadsGiveTheSameSamples) {
    kvtest::TempFolder folder;
    const std::string camera = Write(folder, kCamera), srgb = Write(folder, kSrgbTable);
    const std::string table = WriteTableProfile(folder);
    std::vector<std::uint16_t> pixels = SweepPixels();
    pixels.resize(3 * 4099);
    for (const auto& [in, out] : {std::pair{camera, srgb}, {table, srgb}})
        for (const auto& [inBits, outBits] : {std::pair{16, 16}, {16, 8}, {8, 8}, {8, 16}}) {
            std::vector<std::uint8_t> input = Bytes(pixels);
            if (inBits == 8)
                input.resize(pixels.size());
            const std::size_t count = pixels.size() / 3, outPixel = std::size_t(3 * outBits / 8);
            std::vector<std::uint8_t> plain;
            {
                const CCpuFeatureOverride road(0, kPlainRoad.off);
                const Configured o(in, out, 0, inBits, outBits);
                plain = o.Convert(input, count, outPixel);
            }
            for (const Road& road : kRoads) {
                if (&road == &kPlainRoad || !Takes(road))
                    continue;
                SCOPED_TRACE(testing::Message()
                             << in << ", " << inBits << " to " << outBits << " bits, " << road.name);
                const CCpuFeatureOverride forced(0, road.off);
                const Configured o(in, out, 0, inBits, outBits);
                EXPECT_EQ(o.Convert(input, count, outPixel), plain);
            }
        }
}

// Runs of sixteen pixels inside one cell of lcms2's grid of 33 a side, their fractions in one order (one
// tetrahedron), as the smooth parts of a picture give them, and such runs with one pixel, first, last or
// between, moved to the next cell or to another tetrahedron: each SIMD road gives the plain road's samples,
// and every sample stays within a level of lcms2's own 16-bit conversion.
TEST(ZovOwnConversion, RunsOfPixelsInOneCellConvertAsThePlainRoad) {
    constexpr int kNodes = 33, kRun = 16, kRuns = 600;
    const auto nodeCode = [](int node) { return int(std::floor(node * 65535.0 / (kNodes - 1) + 0.5)); };
    std::mt19937 rng(16);
    std::vector<std::uint16_t> pixels;
    for (int run = 0; run < kRuns; ++run) {
        int node[3], order[3] = {0, 1, 2};
        for (int& n : node)
            n = int(rng() % (kNodes - 1));
        std::shuffle(order, order + 3, rng);
        // Offsets from the cell's low node: above 0 and short of the next node on every channel (cells
        // are 2047 or 2048 codes wide).
        const auto offset = [&] { return 1 + int(rng() % 2040); };
        // Every fourth run has none; the others one odd pixel out: the run's first, last or one between.
        const int odd = run % 4 == 0 ? -1 : int(rng() % kRun);
        for (int p = 0; p < kRun; ++p) {
            // The largest offset to channel order[0], the smallest to order[2]: one tetrahedron for all.
            int offsets[3] = {offset(), offset(), offset()};
            std::sort(offsets, offsets + 3, std::greater<int>());
            int code[3];
            for (int k = 0; k < 3; ++k)
                code[order[k]] = nodeCode(node[order[k]]) + offsets[k];
            if (p == odd) {
                // Into the next cell, or the run's largest fraction made the smallest.
                const int c = int(rng() % 3);
                if (run % 2)
                    code[c] = std::min(65535, nodeCode(node[c] + 1) + offset());
                else
                    code[order[0]] = nodeCode(node[order[0]]) + 1;
            }
            for (int c = 0; c < 3; ++c)
                pixels.push_back(static_cast<std::uint16_t>(code[c]));
        }
    }
    kvtest::TempFolder folder;
    const std::string table = WriteTableProfile(folder), srgb = Write(folder, kSrgbTable);
    ASSERT_TRUE(GridTakes(table, srgb, 0));
    const std::size_t count = pixels.size() / 3;
    const std::vector<std::uint8_t> input = Bytes(pixels);
    const std::vector<double> library = Lcms2(table, srgb, 0, pixels, false);
    for (const LONG outBits : {16, 8}) {
        const std::size_t outPixel = std::size_t(3 * outBits / 8);
        std::vector<std::uint8_t> plain;
        {
            const CCpuFeatureOverride road(0, kPlainRoad.off);
            const Configured o(table, srgb, 0, 16, outBits);
            plain = o.Convert(input, count, outPixel);
        }
        if (outBits == 16) {
            EXPECT_LE(Compare(Words(plain), library).worst, 1.0);
        }
        for (const Road& road : kRoads) {
            if (&road == &kPlainRoad || !Takes(road))
                continue;
            SCOPED_TRACE(testing::Message() << road.name << ", " << outBits << " bits");
            const CCpuFeatureOverride forced(0, road.off);
            const Configured o(table, srgb, 0, 16, outBits);
            EXPECT_EQ(o.Convert(input, count, outPixel), plain);
        }
    }
}

// The grid's SIMD roads write each run of eight or sixteen pixels in a few stores: converted in place (16
// to 16 bits) a row gives what it gives into memory of its own, and no road writes a byte past the row's
// end.
TEST(ZovOwnConversion, TheGridRoadConvertsInPlaceAndWritesNothingPastTheRow) {
    kvtest::TempFolder folder;
    const std::string table = WriteTableProfile(folder), srgb = Write(folder, kSrgbTable);
    const std::vector<std::uint16_t> sweep = SweepPixels();
    constexpr std::uint8_t kGuard = 0xC3;
    constexpr std::size_t kGuardBytes = 64;
    for (const Road& road : kRoads)
        for (const LONG outBits : {16, 8})
            for (const std::size_t pixels : {1, 7, 8, 9, 15, 16, 17, 23, 24, 31, 32, 33, 47, 48, 257}) {
                if (!Takes(road))
                    break;
                SCOPED_TRACE(testing::Message()
                             << road.name << ", " << outBits << " bits, " << pixels << " pixels");
                const CCpuFeatureOverride forced(0, road.off);
                const Configured o(table, srgb, 0, 16, outBits);
                const std::size_t outPixel = std::size_t(3 * outBits / 8);
                const std::vector<std::uint16_t> samples(sweep.begin(), sweep.begin() + 3 * pixels);
                const std::vector<std::uint8_t> input = Bytes(samples);
                const std::vector<std::uint8_t> apart = o.Convert(input, pixels, outPixel);
                std::vector<std::uint8_t> guarded(pixels * outPixel + kGuardBytes, kGuard);
                ASSERT_EQ(
                    KVCMProcessInterleavedData(o.object, LONG(pixels), 1, input.data(), guarded.data(), 0, 0),
                    KVCM_OK);
                EXPECT_TRUE(std::equal(apart.begin(), apart.end(), guarded.begin()));
                EXPECT_TRUE(std::all_of(guarded.begin() + std::ptrdiff_t(apart.size()), guarded.end(),
                                        [](std::uint8_t b) { return b == kGuard; }));
                if (outBits == 16) {
                    std::vector<std::uint8_t> inPlace = input;
                    inPlace.resize(input.size() + kGuardBytes, kGuard);
                    ASSERT_EQ(KVCMProcessInterleavedData(o.object, LONG(pixels), 1, inPlace.data(),
                                                         inPlace.data(), 0, 0),
                              KVCM_OK);
                    EXPECT_TRUE(std::equal(apart.begin(), apart.end(), inPlace.begin()));
                    EXPECT_TRUE(std::all_of(inPlace.begin() + std::ptrdiff_t(input.size()), inPlace.end(),
                                            [](std::uint8_t b) { return b == kGuard; }));
                }
            }
}

// 8-bit samples on either side: their 16-bit codes (times 257) converted, and 8-bit output narrowed from
// 16 bits as lcms2 narrows it, within a level of the exact conversion at the output's depth.
TEST(ZovOwnConversion, EightBitSidesAgreeWithTheExactConversion) {
    kvtest::TempFolder folder;
    const std::string in = Write(folder, kCamera), out = Write(folder, kSrgbTable);
    const Reference reference(in, out);
    std::vector<std::uint8_t> eight;
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 7)
            for (int b = 0; b < 256; b += 3)
                eight.insert(eight.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
    const std::size_t count = eight.size() / 3;
    for (const auto& [inBits, outBits] : {std::pair{8, 8}, {8, 16}, {16, 8}}) {
        SCOPED_TRACE(testing::Message() << inBits << " to " << outBits << " bits");
        std::vector<std::uint16_t> wide(eight.size());
        for (std::size_t i = 0; i < eight.size(); ++i)
            wide[i] = static_cast<std::uint16_t>(eight[i] * 257);
        const Configured ours(in, out, 0, inBits, outBits);
        const std::vector<std::uint8_t> got =
            ours.Convert(inBits == 8 ? eight : Bytes(wide), count, 3 * outBits / 8);
        const std::vector<std::uint16_t> words = outBits == 16 ? Words(got) : std::vector<std::uint16_t>();
        double worst = 0;
        for (std::size_t p = 0; p < count; ++p) {
            double exact[3];
            reference.Convert(&wide[3 * p], exact);
            for (int c = 0; c < 3; ++c) {
                const double value = outBits == 8 ? got[3 * p + c] : words[3 * p + c];
                worst = std::max(worst, std::fabs(value - (outBits == 8 ? exact[c] / 257.0 : exact[c])));
            }
        }
        EXPECT_LE(worst, 1.0);
    }
}

// A camera profile made of tables (input curves, a grid to Lab, output curves) to sRGB, and a pair of
// matrix-shaper profiles at the absolute colorimetric intent, which scales by the profiles' whites: lcms2's
// 16-bit road interpolates a grid of its own, and ours interpolates that grid, within a level of it
// everywhere, white to white as lcms2 converts it. Ours goes the grid road: the grid takes the pair (its
// results may equal lcms2's, whose arithmetic it follows).
TEST(ZovOwnConversion, OtherPairsConvertWithinALevelOfLcms2) {
    kvtest::TempFolder folder;
    const std::string table = WriteTableProfile(folder), camera = Write(folder, kCamera);
    const std::string out = Write(folder, kSrgbTable);
    const std::vector<std::uint16_t> pixels = SweepPixels();
    const std::size_t count = pixels.size() / 3;
    for (const auto& [in, intent] : {std::pair{table, 0}, {table, 1}, {camera, 3}}) {
        SCOPED_TRACE(testing::Message() << in << ", intent " << intent);
        const Configured ours(in, out, intent, 16, 16);
        const std::vector<std::uint16_t> got = Words(ours.Convert(Bytes(pixels), count, 6));
        std::vector<std::uint16_t> library;
        for (double v : Lcms2(in, out, intent, pixels, false))
            library.push_back(static_cast<std::uint16_t>(v));
        EXPECT_TRUE(GridTakes(in, out, intent)) << "the conversion went through lcms2 itself";
        const Deviation d = Compare(got, std::vector<double>(library.begin(), library.end()));
        EXPECT_LE(d.worst, 1.0) << "at sample " << d.at;
        const std::vector<std::uint16_t> white = {65535, 65535, 65535};
        const std::vector<double> libraryWhite = Lcms2(in, out, intent, white, false);
        EXPECT_EQ(Words(ours.Convert(Bytes(white), 1, 6)),
                  std::vector<std::uint16_t>(libraryWhite.begin(), libraryWhite.end()));
    }
}

// Codes of one channel spread over its whole range, and the codes at and around each node of lcms2's grid
// of 33 a side (where a cell ends, its interpolation's fraction wraps) and the top of the range, where the
// last node is reached with no step beyond it.
std::vector<std::uint16_t> CubeLevels() {
    constexpr int kSpread = 64, kNodes = 33;
    std::vector<int> levels;
    for (int i = 0; i <= kSpread; ++i)
        levels.push_back(65535 * i / kSpread);
    for (int node = 0; node < kNodes; ++node) {
        const int code = static_cast<int>(std::floor(node * 65535.0 / (kNodes - 1) + 0.5));
        for (int d = -2; d <= 2; ++d)
            levels.push_back(std::clamp(code + d, 0, 65535));
    }
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    return {levels.begin(), levels.end()};
}

// Over the whole cube (every combination of the levels above, some twelve million pixels, and random
// pixels), each pair the grid road takes converts every 16-bit sample within a level of lcms2's own
// 16-bit conversion, through the AVX-512, the AVX2 and the plain road. How many differ at all is printed.
TEST(ZovOwnConversion, TheGridRoadSweptOverTheCubeStaysWithinALevelOfLcms2) {
    kvtest::TempFolder folder;
    const std::string table = WriteTableProfile(folder), camera = Write(folder, kCamera);
    const std::string out = Write(folder, kSrgbTable);
    const std::vector<std::uint16_t> levels = CubeLevels();
    std::vector<std::uint16_t> pixels;
    pixels.reserve(levels.size() * levels.size() * levels.size() * 3);
    for (std::uint16_t r : levels)
        for (std::uint16_t g : levels)
            for (std::uint16_t b : levels)
                pixels.insert(pixels.end(), {r, g, b});
    std::mt19937 rng(33);
    for (int i = 0; i < 3 * 1000000; ++i)
        pixels.push_back(static_cast<std::uint16_t>(rng()));
    const std::size_t count = pixels.size() / 3;
    const std::vector<std::uint8_t> input = Bytes(pixels);
    for (const auto& [in, intent] : {std::pair{table, 0}, {table, 1}, {camera, 3}}) {
        ASSERT_TRUE(GridTakes(in, out, intent));
        const std::vector<double> library = Lcms2(in, out, intent, pixels, false);
        for (const Road& road : kRoads) {
            if (!Takes(road))
                continue;
            SCOPED_TRACE(testing::Message() << in << ", intent " << intent << ", " << road.name);
            const CCpuFeatureOverride forced(0, road.off);
            const Configured ours(in, out, intent, 16, 16);
            const std::vector<std::uint16_t> got = Words(ours.Convert(input, count, 6));
            const Deviation d = Compare(got, library);
            std::size_t differ = 0;
            for (std::size_t i = 0; i < got.size(); ++i)
                differ += got[i] != library[i];
            EXPECT_LE(d.worst, 1.0) << "at pixel " << pixels[d.at / 3 * 3] << ' ' << pixels[d.at / 3 * 3 + 1]
                                    << ' ' << pixels[d.at / 3 * 3 + 2];
            std::printf("%s, intent %d, %s road: %zu samples, %zu differ from lcms2's, by at most %.0f\n",
                        in.c_str(), int(intent), road.name, got.size(), differ, d.worst);
        }
    }
}

// Asked for the library's road (the reference of the benchmarks and of the development tests), every pair
// converts as lcms2 does, byte for byte.
TEST(ZovOwnConversion, TheLibrarysRoadConvertsAsLcms2) {
    kvtest::TempFolder folder;
    const std::string camera = Write(folder, kCamera), srgb = Write(folder, kSrgbTable);
    const std::string table = WriteTableProfile(folder);
    const std::vector<std::uint16_t> pixels = SweepPixels();
    const std::size_t count = pixels.size() / 3;
    for (const std::string& in : {camera, table}) {
        SCOPED_TRACE(in);
        CZovConversion::SetLibraryOnly(true);
        const Configured o(in, srgb, 0, 16, 16);
        const std::vector<std::uint16_t> got = Words(o.Convert(Bytes(pixels), count, 6));
        CZovConversion::SetLibraryOnly(false);
        const std::vector<double> library = Lcms2(in, srgb, 0, pixels, false);
        EXPECT_EQ(got, std::vector<std::uint16_t>(library.begin(), library.end()));
    }
}

// Per-channel tables of 2^bits entries as a run of lookup-table stages leaves them: a raised gain that
// clips, a curve, and a ramp falling from white, so that the looked-up codes reach both ends of the range.
std::vector<std::vector<std::uint16_t>> RunTables(int bits) {
    const std::size_t entries = std::size_t(1) << bits;
    const double top = double(entries - 1);
    std::vector<std::vector<std::uint16_t>> tables(3, std::vector<std::uint16_t>(entries));
    for (std::size_t k = 0; k < entries; ++k) {
        const double x = double(k) / top;
        tables[0][k] = static_cast<std::uint16_t>(std::lround(std::min(1.0, 1.7 * x) * top));
        tables[1][k] = static_cast<std::uint16_t>(std::lround(std::sqrt(x) * top));
        tables[2][k] = static_cast<std::uint16_t>(std::lround((1.0 - x) * top));
    }
    return tables;
}

// The samples through their channels' tables, as the test's own first step.
std::vector<std::uint8_t> LookedUp(const std::vector<std::uint8_t>& in, int bits,
                                   const std::vector<std::vector<std::uint16_t>>& tables) {
    std::vector<std::uint8_t> out(in.size());
    const std::size_t bytes = std::size_t(bits / 8);
    for (std::size_t i = 0; i < in.size() / bytes; ++i) {
        std::uint16_t sample = in[i];
        if (bits == 16)
            std::memcpy(&sample, &in[2 * i], 2);
        const std::uint16_t mapped = tables[i % 3][sample];
        if (bits == 16)
            std::memcpy(&out[2 * i], &mapped, 2);
        else
            out[i] = static_cast<std::uint8_t>(mapped);
    }
    return out;
}

// Samples for rows of up to `pixels`, from the sweep (its random part reaches every code).
std::vector<std::uint8_t> RowSamples(std::size_t pixels, int bits) {
    const std::vector<std::uint16_t> sweep = SweepPixels();
    std::vector<std::uint16_t> samples(sweep.end() - std::ptrdiff_t(3 * pixels), sweep.end());
    if (bits == 16)
        return Bytes(samples);
    std::vector<std::uint8_t> bytes(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(samples[i] >> 8);
    return bytes;
}

// Rows of every length from 0 to 40 pixels and longer ones over several stretches of each road's lookup,
// converted through tables on every road, give what the tables applied first and then the plain road's
// conversion give: through the grid (a table-based profile), the matrix-shaper pair and 8-bit samples.
TEST(ZovOwnConversion, RowsConvertedThroughTablesAreTheTablesThenTheConversion) {
    kvtest::TempFolder folder;
    const std::string camera = Write(folder, kCamera), srgb = Write(folder, kSrgbTable);
    const std::string table = WriteTableProfile(folder);
    ASSERT_TRUE(GridTakes(table, srgb, 0));
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 40; ++n)
        lengths.push_back(n);
    for (const std::size_t n : {255, 256, 257, 511, 512, 513, 600, 1100, 2049})
        lengths.push_back(n);
    struct Case {
        const std::string* in;
        LONG inBits, outBits;
    };
    const Case cases[] = {{&table, 16, 16}, {&table, 16, 8}, {&camera, 16, 16}, {&table, 8, 8}};
    for (const Case& c : cases) {
        const std::vector<std::vector<std::uint16_t>> tables = RunTables(c.inBits);
        const std::uint16_t* pointers[3] = {tables[0].data(), tables[1].data(), tables[2].data()};
        const std::size_t outPixel = std::size_t(3 * c.outBits / 8);
        const std::vector<std::uint8_t> all = RowSamples(lengths.back(), c.inBits);
        std::vector<std::uint8_t> reference;
        {
            const CCpuFeatureOverride road(0, kPlainRoad.off);
            const Configured o(*c.in, srgb, 0, c.inBits, c.outBits);
            reference = o.Convert(LookedUp(all, c.inBits, tables), lengths.back(), outPixel);
        }
        for (const Road& road : kRoads) {
            if (!Takes(road))
                continue;
            const CCpuFeatureOverride forced(0, road.off);
            const Configured o(*c.in, srgb, 0, c.inBits, c.outBits);
            for (const std::size_t n : lengths) {
                SCOPED_TRACE(testing::Message() << *c.in << ", " << c.inBits << " to " << c.outBits
                                                << " bits, " << road.name << ", " << n << " pixels");
                // The last n pixels of the row, so that each length starts somewhere else in the sweep.
                const std::size_t first = lengths.back() - n;
                const std::vector<std::uint8_t> in(all.begin() + std::ptrdiff_t(first * 3 * c.inBits / 8),
                                                   all.end());
                std::vector<std::uint8_t> out(n * outPixel + 1, 0xA5);
                ASSERT_EQ(KVCMProcessInterleavedDataThroughTables(o.object, LONG(n), 1, in.data(), out.data(),
                                                                  0, 0, pointers, 3),
                          KVCM_OK);
                EXPECT_TRUE(std::equal(out.begin(), out.end() - 1,
                                       reference.begin() + std::ptrdiff_t(first * outPixel)));
                EXPECT_EQ(out.back(), 0xA5) << "a byte written past the row";
            }
        }
    }
}

// The grid's own road through tables, converted in place (16 to 16 bits) and into memory of its own, over
// rows of 0 to 40 pixels and over several rows apart from one another: the tables applied first and then
// the plain road's conversion, and nothing written past a row.
TEST(ZovOwnConversion, TheGridThroughTablesConvertsInPlaceAsTheTwoSteps) {
    kvtest::TempFolder folder;
    const std::string table = WriteTableProfile(folder), srgb = Write(folder, kSrgbTable);
    cmsHPROFILE a = cmsOpenProfileFromFile(table.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(srgb.c_str(), "r");
    const std::unique_ptr<const CZovRgbGrid> grid = CZovRgbGrid::Make(a, b, 0, 16);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    ASSERT_TRUE(grid);
    const std::vector<std::vector<std::uint16_t>> tables = RunTables(16);
    const std::uint16_t* pointers[3] = {tables[0].data(), tables[1].data(), tables[2].data()};
    constexpr std::uint8_t kGuard = 0x5A;
    constexpr std::size_t kRows = 3, kGap = 10;
    for (const Road& road : kRoads) {
        if (!Takes(road))
            continue;
        for (std::size_t n = 0; n <= 40; ++n) {
            SCOPED_TRACE(testing::Message() << road.name << ", " << n << " pixels");
            const std::size_t rowBytes = 6 * n + kGap;
            std::vector<std::uint8_t> picture(kRows * rowBytes, kGuard);
            const std::vector<std::uint8_t> samples = RowSamples(kRows * n, 16);
            for (std::size_t y = 0; y < kRows; ++y)
                std::copy_n(samples.begin() + std::ptrdiff_t(y * 6 * n), 6 * n,
                            picture.begin() + std::ptrdiff_t(y * rowBytes));
            std::vector<std::uint8_t> expected(samples.size());
            {
                const CCpuFeatureOverride plain(0, kPlainRoad.off);
                grid->Convert(LONG(kRows * n), 1, LookedUp(samples, 16, tables).data(), expected.data(), 0,
                              0);
            }
            const CCpuFeatureOverride forced(0, road.off);
            std::vector<std::uint8_t> apart(picture.size(), kGuard);
            grid->ConvertThroughTables(LONG(n), LONG(kRows), picture.data(), apart.data(), rowBytes, rowBytes,
                                       pointers);
            grid->ConvertThroughTables(LONG(n), LONG(kRows), picture.data(), picture.data(), rowBytes,
                                       rowBytes, pointers);
            EXPECT_EQ(picture, apart) << "in place and apart differ";
            for (std::size_t y = 0; y < kRows; ++y) {
                const auto row = apart.begin() + std::ptrdiff_t(y * rowBytes);
                EXPECT_TRUE(std::equal(row, row + std::ptrdiff_t(6 * n),
                                       expected.begin() + std::ptrdiff_t(y * 6 * n)))
                    << "row " << y;
                EXPECT_TRUE(std::all_of(row + std::ptrdiff_t(6 * n), row + std::ptrdiff_t(rowBytes),
                                        [](std::uint8_t v) { return v == kGuard; }))
                    << "written past row " << y;
            }
        }
    }
}

// The grids from a table-based profile to sRGB, to 16 and to 8 bits, and the two profiles' files.
struct TableGrids {
    TableGrids() {
        cmsHPROFILE a = cmsOpenProfileFromFile(table.c_str(), "r");
        cmsHPROFILE b = cmsOpenProfileFromFile(srgb.c_str(), "r");
        sixteen = CZovRgbGrid::Make(a, b, 0, 16);
        eight = CZovRgbGrid::Make(a, b, 0, 8);
        cmsCloseProfile(a);
        cmsCloseProfile(b);
    }
    kvtest::TempFolder folder;
    const std::string table = WriteTableProfile(folder), srgb = Write(folder, kSrgbTable);
    std::unique_ptr<const CZovRgbGrid> sixteen;
    std::unique_ptr<const CZovRgbGrid> eight;
};

// Rows starting at odd addresses (rows an odd number of bytes apart on both sides), of every width from 1 to
// 40 pixels and widths across the joins of the lookup's stretches, with samples at 0 and 65535 among random
// ones, converted through the tables on every road to 16 and 8 bits: the tables applied first and then the
// plain road's conversion, and nothing written between the rows.
TEST(ZovOwnConversion, RowsAtOddAddressesConvertThroughTablesAsTheTwoSteps) {
    const TableGrids grids;
    const CZovRgbGrid* const grid16 = grids.sixteen.get();
    const CZovRgbGrid* const grid8 = grids.eight.get();
    ASSERT_TRUE(grid16 && grid8);
    const std::vector<std::vector<std::uint16_t>> tables = RunTables(16);
    const std::uint16_t* pointers[3] = {tables[0].data(), tables[1].data(), tables[2].data()};
    std::vector<std::size_t> widths;
    for (std::size_t n = 1; n <= 40; ++n)
        widths.push_back(n);
    constexpr std::size_t kStretch = CZovRgbGrid::kStretch;
    for (const std::size_t n : {kStretch - 1, kStretch, kStretch + 1, kStretch + 9, 2 * kStretch + 3})
        widths.push_back(n);
    constexpr std::uint8_t kGuard = 0x5A;
    constexpr std::size_t kRows = 3, kOddGap = 7;
    std::mt19937 random(11);
    for (const std::size_t n : widths) {
        std::vector<std::uint16_t> samples(3 * kRows * n);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = i % 4 == 0 ? 0 : i % 9 == 1 ? 65535 : static_cast<std::uint16_t>(random());
        const std::vector<std::uint8_t> bytes = Bytes(samples), looked = LookedUp(bytes, 16, tables);
        const std::size_t inRowBytes = 6 * n + kOddGap;
        // One byte in, so that with the odd gap every row starts at an odd address.
        std::vector<std::uint8_t> picture(1 + kRows * inRowBytes, kGuard);
        for (std::size_t y = 0; y < kRows; ++y)
            std::copy_n(bytes.begin() + std::ptrdiff_t(y * 6 * n), 6 * n,
                        picture.begin() + std::ptrdiff_t(1 + y * inRowBytes));
        for (const CZovRgbGrid* grid : {grid16, grid8}) {
            const std::size_t outPixel = grid == grid16 ? 6 : 3;
            std::vector<std::uint8_t> expected(kRows * n * outPixel);
            {
                const CCpuFeatureOverride plain(0, kPlainRoad.off);
                grid->Convert(LONG(kRows * n), 1, looked.data(), expected.data(), 0, 0);
            }
            const std::size_t outRowBytes = outPixel * n + kOddGap;
            for (const Road& road : kRoads) {
                if (!Takes(road))
                    continue;
                SCOPED_TRACE(testing::Message()
                             << road.name << ", " << n << " pixels to " << outPixel << "-byte pixels");
                const CCpuFeatureOverride forced(0, road.off);
                std::vector<std::uint8_t> out(1 + kRows * outRowBytes, kGuard);
                grid->ConvertThroughTables(LONG(n), LONG(kRows), picture.data() + 1, out.data() + 1,
                                           inRowBytes, outRowBytes, pointers);
                EXPECT_EQ(out.front(), kGuard) << "written before the first row";
                for (std::size_t y = 0; y < kRows; ++y) {
                    const auto row = out.begin() + std::ptrdiff_t(1 + y * outRowBytes);
                    EXPECT_TRUE(std::equal(row, row + std::ptrdiff_t(outPixel * n),
                                           expected.begin() + std::ptrdiff_t(y * outPixel * n)))
                        << "row " << y;
                    EXPECT_TRUE(std::all_of(row + std::ptrdiff_t(outPixel * n),
                                            row + std::ptrdiff_t(outRowBytes),
                                            [](std::uint8_t v) { return v == kGuard; }))
                        << "written past row " << y;
                }
            }
        }
    }
}

// Pixels in cells at the bottom, middle and top of the grid (the top node's code 65535 with nothing above
// it), their offsets into the cell from none to the cell's width on each channel in every combination:
// every tetrahedron, fractions tied two or three ways, zero fractions. Laid out once with neighbours in
// other tetrahedra and once each pixel a block of sixteen, each SIMD road gives the plain road's samples,
// directly and through tables (identity tables: the same samples), and the plain road stays within a
// level of lcms2's own 16-bit conversion.
TEST(ZovOwnConversion, EdgeCellsTiesAndEveryTetrahedronConvertAsThePlainRoad) {
    constexpr int kNodes = 33, kTop = kNodes - 1, kBlock = 16;
    const auto nodeCode = [](int node) { return int(std::floor(node * 65535.0 / (kNodes - 1) + 0.5)); };
    const int cellNodes[] = {0, 15, kTop - 1, kTop};
    const int offsets[] = {0, 1, 1000, 2047};
    std::vector<std::uint16_t> mixed;
    for (const int r : cellNodes)
        for (const int g : cellNodes)
            for (const int b : cellNodes)
                for (const int dr : offsets)
                    for (const int dg : offsets)
                        for (const int db : offsets) {
                            const int node[3] = {r, g, b}, offset[3] = {dr, dg, db};
                            for (int c = 0; c < 3; ++c)
                                mixed.push_back(static_cast<std::uint16_t>(
                                    std::min(65535, nodeCode(node[c]) + offset[c])));
                        }
    std::vector<std::uint16_t> blocks;
    for (std::size_t p = 0; p < mixed.size(); p += 3)
        for (int k = 0; k < kBlock; ++k)
            blocks.insert(blocks.end(), mixed.begin() + std::ptrdiff_t(p),
                          mixed.begin() + std::ptrdiff_t(p + 3));

    const TableGrids grids;
    const CZovRgbGrid* const grid16 = grids.sixteen.get();
    const CZovRgbGrid* const grid8 = grids.eight.get();
    ASSERT_TRUE(grid16 && grid8);
    std::vector<std::uint16_t> identity(65536);
    for (std::size_t i = 0; i < identity.size(); ++i)
        identity[i] = static_cast<std::uint16_t>(i);
    const std::uint16_t* tables[3] = {identity.data(), identity.data(), identity.data()};
    struct Layout {
        const char* name;
        const std::vector<std::uint16_t>* pixels;
    };
    for (const Layout& layout : {Layout{"mixed", &mixed}, Layout{"blocks of one pixel", &blocks}}) {
        const std::vector<std::uint8_t> input = Bytes(*layout.pixels);
        const auto count = LONG(layout.pixels->size() / 3);
        for (const CZovRgbGrid* grid : {grid16, grid8}) {
            const std::size_t outPixel = grid == grid16 ? 6 : 3;
            std::vector<std::uint8_t> plain(std::size_t(count) * outPixel);
            {
                const CCpuFeatureOverride road(0, kPlainRoad.off);
                grid->Convert(count, 1, input.data(), plain.data(), 0, 0);
            }
            if (grid == grid16) {
                EXPECT_LE(Compare(Words(plain), Lcms2(grids.table, grids.srgb, 0, *layout.pixels, false)).worst, 1.0)
                    << layout.name;
            }
            for (const Road& road : kRoads) {
                if (!Takes(road))
                    continue;
                SCOPED_TRACE(testing::Message()
                             << layout.name << ", " << road.name << ", " << outPixel << "-byte pixels");
                const CCpuFeatureOverride forced(0, road.off);
                std::vector<std::uint8_t> direct(plain.size()), looked(plain.size());
                grid->Convert(count, 1, input.data(), direct.data(), 0, 0);
                grid->ConvertThroughTables(count, 1, input.data(), looked.data(), 0, 0, tables);
                EXPECT_EQ(direct, plain);
                EXPECT_EQ(looked, plain) << "through tables";
            }
        }
    }
}

// A table missing or a count other than the input's channels is refused, and nothing is written.
TEST(ZovOwnConversion, ConversionThroughTablesRefusesMissingTables) {
    kvtest::TempFolder folder;
    const std::string table = WriteTableProfile(folder), srgb = Write(folder, kSrgbTable);
    const Configured o(table, srgb, 0, 16, 16);
    const std::vector<std::vector<std::uint16_t>> tables = RunTables(16);
    const std::uint16_t* pointers[4] = {tables[0].data(), tables[1].data(), tables[2].data(),
                                        tables[2].data()};
    const std::uint16_t* missing[3] = {tables[0].data(), nullptr, tables[2].data()};
    std::vector<std::uint8_t> in(6 * 4, 0), out(6 * 4, 0x77);
    const struct {
        const std::uint16_t* const* tables;
        LONG count;
    } refused[] = {{pointers, 2}, {pointers, 4}, {missing, 3}, {nullptr, 3}};
    for (const auto& r : refused) {
        EXPECT_EQ(KVCMProcessInterleavedDataThroughTables(o.object, 4, 1, in.data(), out.data(), 0, 0,
                                                          r.tables, r.count),
                  KVCM_E_ARGUMENT);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t v) { return v == 0x77; }));
    }
}

} // namespace