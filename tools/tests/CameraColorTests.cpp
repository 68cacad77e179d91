// Camera raw files developed through the exported filter-chain object, judged as a person would judge the
// picture: a colour chart photographed by a camera of the test's own comes out in its colours, the
// picture stands as the file's orientation says, and a damaged file is refused. The expected colours are
// worked out here, through lcms2's own sRGB profile, never through this project's profiles.
#include "testing/DngWriter.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/RunProgram.h"
#include "testing/TempFolder.h"
#include "tools/CKvChainDevelop.h"

#include <gtest/gtest.h>

#include <lcms2.h>

#include <array>
#include <cmath>
#include <fstream>

namespace {

using namespace kvtest;
using Vec = std::array<double, 3>;
using Matrix = std::array<double, 9>;

constexpr std::uint32_t kBlack = 256, kWhite = 16383;
constexpr int kPatch = 24, kColumns = 6, kRows = 5, kMargin = 12;
constexpr std::uint32_t kWidth = kColumns * kPatch + 2 * kMargin, kHeight = kRows * kPatch + 2 * kMargin;
// What the development's demosaicing consumes on each side.
constexpr int kFrame = 6;

// A colour chart's patches as sRGB values, the last six neutral.
constexpr std::array<std::array<int, 3>, 30> kChart{{
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {150, 110, 90},  {60, 140, 190},  {200, 200, 120}, {120, 60, 40},   {90, 160, 120},  {170, 140, 200},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
}};
constexpr int kFirstGrey = 24;

// A camera of the test's own: CIE XYZ of a D65-lit scene to its raw red, green and blue.
constexpr Matrix kCamera{0.70, 0.25, -0.10, -0.30, 1.20, 0.05, 0.02, -0.15, 0.95};
constexpr Matrix kSrgbToXyz{0.4124564, 0.3575761, 0.1804375, 0.2126729, 0.7151522,
                            0.0721750, 0.0193339, 0.1191920, 0.9503041};
constexpr Vec kD65{0.95047, 1.0, 1.08883};

Vec Apply(const Matrix& m, const Vec& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

double SrgbDecode(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// The camera's raw values of a patch, exposed so that the white's green is the sensor's white level.
Vec RawOf(const std::array<int, 3>& srgb) {
    const Vec linear{SrgbDecode(srgb[0] / 255.0), SrgbDecode(srgb[1] / 255.0), SrgbDecode(srgb[2] / 255.0)};
    const Vec raw = Apply(kCamera, Apply(kSrgbToXyz, linear));
    const double whiteGreen = Apply(kCamera, kD65)[1];
    return {raw[0] / whiteGreen, raw[1] / whiteGreen, raw[2] / whiteGreen};
}

Vec Neutral() {
    const Vec white = Apply(kCamera, kD65);
    return {white[0] / white[1], 1, white[2] / white[1]};
}

std::uint16_t SensorValue(double v) {
    return static_cast<std::uint16_t>(std::lround(kBlack + std::clamp(v, 0.0, 1.0) * (kWhite - kBlack)));
}

// The chart as the camera's mosaic (RGGB), or as linear raw RGB.
DngContent Chart(std::uint32_t channels, std::uint16_t orientation = 1) {
    DngContent content;
    content.width = kWidth;
    content.height = kHeight;
    content.channels = channels;
    content.black = kBlack;
    content.white = kWhite;
    content.calibrations.push_back({21, kCamera});
    content.asShotNeutral = Neutral();
    content.orientation = orientation;
    const Vec background = RawOf({128, 128, 128});
    for (std::uint32_t y = 0; y < kHeight; ++y)
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            Vec raw = background;
            const int px = int(x) - kMargin, py = int(y) - kMargin;
            if (px >= 0 && py >= 0 && px < kColumns * kPatch && py < kRows * kPatch)
                raw = RawOf(kChart[std::size_t(py / kPatch * kColumns + px / kPatch)]);
            if (channels == 3) {
                for (int c = 0; c < 3; ++c)
                    content.samples.push_back(SensorValue(raw[std::size_t(c)]));
            } else {
                const int cell = int(y % 2) * 2 + int(x % 2); // R G / G B
                content.samples.push_back(SensorValue(raw[cell == 0 ? 0 : cell == 3 ? 2 : 1]));
            }
        }
    return content;
}

struct Picture {
    std::vector<BYTE> rgb;
    LONG width = 0;
    LONG height = 0;
    std::string input, output;
    std::array<int, 3> At(LONG x, LONG y) const {
        const std::size_t i = (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

Picture Develop(const std::string& path) {
    Picture picture;
    CKvChainDevelop chain;
    PravonErrorPtr error(chain.Open(path));
    EXPECT_FALSE(error) << error->Describe();
    if (error)
        return picture;
    error.reset(chain.Develop(&picture.rgb, &picture.width, &picture.height, nullptr));
    EXPECT_FALSE(error) << error->Describe();
    picture.input = chain.InputProfile();
    picture.output = chain.OutputProfile();
    return picture;
}

// Lab (D50) of 8-bit sRGB values through lcms2's own sRGB profile.
class SrgbToLab {
public:
    SrgbToLab() {
        m_srgb = cmsCreate_sRGBProfile();
        m_lab = cmsCreateLab4Profile(nullptr);
        m_transform =
            cmsCreateTransform(m_srgb, TYPE_RGB_DBL, m_lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    }
    ~SrgbToLab() {
        cmsDeleteTransform(m_transform);
        cmsCloseProfile(m_lab);
        cmsCloseProfile(m_srgb);
    }
    cmsCIELab operator()(const Vec& srgb8) const {
        const double rgb[3] = {srgb8[0] / 255.0, srgb8[1] / 255.0, srgb8[2] / 255.0};
        cmsCIELab lab{};
        cmsDoTransform(m_transform, rgb, &lab, 1);
        return lab;
    }

private:
    cmsHPROFILE m_srgb, m_lab;
    cmsHTRANSFORM m_transform;
};

// The mean of a patch's inner square in the developed picture, whose origin lies kFrame pixels in.
Vec PatchMean(const Picture& picture, int index) {
    const int inset = 6;
    const int left = kMargin + index % kColumns * kPatch + inset - kFrame;
    const int top = kMargin + index / kColumns * kPatch + inset - kFrame;
    Vec sum{};
    int n = 0;
    for (int y = top; y < top + kPatch - 2 * inset; ++y)
        for (int x = left; x < left + kPatch - 2 * inset; ++x, ++n)
            for (int c = 0; c < 3; ++c)
                sum[std::size_t(c)] += picture.At(x, y)[std::size_t(c)];
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

struct ChartScore {
    double meanDeltaE = 0;
    double worstDeltaE = 0;
    double worstGreyChroma = 0;
};

ChartScore Score(const Picture& picture) {
    const SrgbToLab lab;
    ChartScore score;
    for (int i = 0; i < int(kChart.size()); ++i) {
        const auto& c = kChart[std::size_t(i)];
        const cmsCIELab expected = lab({double(c[0]), double(c[1]), double(c[2])});
        const cmsCIELab got = lab(PatchMean(picture, i));
        const double de = cmsCIE2000DeltaE(&expected, &got, 1, 1, 1);
        score.meanDeltaE += de / double(kChart.size());
        score.worstDeltaE = std::max(score.worstDeltaE, de);
        if (i >= kFirstGrey)
            score.worstGreyChroma = std::max(score.worstGreyChroma, std::hypot(got.a, got.b));
    }
    return score;
}

TEST(CameraColor, AChartTakenThroughTheCamerasMatrixDevelopsInItsOwnColours) {
    ProfileMachine machine{KV_MAKE_PROFILES};
    TempFolder folder;
    struct Case {
        const char* what;
        std::uint32_t channels;
    } const cases[] = {{"a mosaic", 1}, {"linear samples", 3}};
    for (const Case& c : cases) {
        const std::string path = folder.Write("chart.dng", WriteDng(Chart(c.channels)).bytes);
        const Picture picture = Develop(path);
        ASSERT_EQ(picture.width, LONG(kWidth) - (c.channels == 1 ? 2 * kFrame : 0)) << c.what;
        const ChartScore score = Score(c.channels == 1 ? picture : [&] {
            // Linear samples are not demosaiced, so nothing is consumed at the edges.
            Picture shifted = picture;
            shifted.rgb.clear();
            shifted.width = picture.width - 2 * kFrame;
            shifted.height = picture.height - 2 * kFrame;
            for (LONG y = kFrame; y < picture.height - kFrame; ++y)
                for (LONG x = kFrame; x < picture.width - kFrame; ++x)
                    for (int v : picture.At(x, y))
                        shifted.rgb.push_back(BYTE(v));
            return shifted;
        }());
        std::printf("[chart] %s: mean Delta E 2000 %.2f, worst %.2f, worst grey chroma %.2f\n", c.what,
                    score.meanDeltaE, score.worstDeltaE, score.worstGreyChroma);
        EXPECT_LE(score.meanDeltaE, 3.0) << c.what;
        EXPECT_LE(score.worstGreyChroma, 2.0) << c.what;
        EXPECT_NE(picture.input.find("Kvx_F"), std::string::npos) << c.what << ": " << picture.input;
        EXPECT_EQ(picture.output, machine.Profile("KVsRGB.icm")) << c.what;
    }
}

// Where the EXIF orientation code puts a stored pixel (x, y) of a w x h picture when it stands upright, as
// the code's definition says: which side of the picture the stored first row and first column are.
std::array<LONG, 2> Upright(std::uint16_t code, LONG x, LONG y, LONG w, LONG h) {
    switch (code) {
    case 2:
        return {w - 1 - x, y};
    case 3:
        return {w - 1 - x, h - 1 - y};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {h - 1 - y, x};
    case 7:
        return {h - 1 - y, w - 1 - x};
    case 8:
        return {y, w - 1 - x};
    default:
        return {x, y};
    }
}

TEST(CameraColor, ThePictureStandsAsTheFilesOrientationSays) {
    ProfileMachine machine{KV_MAKE_PROFILES};
    TempFolder folder;
    const SrgbToLab lab;
    const LONG w = LONG(kWidth) - 2 * kFrame, h = LONG(kHeight) - 2 * kFrame;
    for (std::uint16_t code = 1; code <= 8; ++code) {
        const Picture picture = Develop(folder.Write("turned.dng", WriteDng(Chart(1, code)).bytes));
        const bool sideways = code >= 5;
        ASSERT_EQ(picture.width, sideways ? h : w) << "code " << code;
        ASSERT_EQ(picture.height, sideways ? w : h) << "code " << code;
        // The first two patches of the top row: where they stand tells the turn and the mirror apart.
        for (int patch : {0, 1}) {
            const LONG x = kMargin - kFrame + patch * kPatch + kPatch / 2, y = kMargin - kFrame + kPatch / 2;
            const auto at = Upright(code, x, y, w, h);
            const auto& colour = kChart[std::size_t(patch)];
            const cmsCIELab expected = lab({double(colour[0]), double(colour[1]), double(colour[2])});
            const auto got = picture.At(at[0], at[1]);
            const cmsCIELab gotLab = lab({double(got[0]), double(got[1]), double(got[2])});
            EXPECT_LT(cmsCIE2000DeltaE(&expected, &gotLab, 1, 1, 1), 4.0)
                << "code " << code << ", patch " << patch;
        }
    }
}

TEST(CameraColor, AFileCutShortDevelopsNothingAndTheDemoSaysWhy) {
    ProfileMachine machine{KV_MAKE_PROFILES};
    TempFolder folder;
    const DngFile file = WriteDng(Chart(1));
    const std::string cut = folder.Write(
        "cut.dng",
        std::vector<std::uint8_t>(file.bytes.begin(),
                                  file.bytes.begin() + long(file.imageDataOffset +
                                                            (file.bytes.size() - file.imageDataOffset) / 2)));
    CKvChainDevelop chain;
    PravonErrorPtr error(chain.Open(cut));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetKind(), PravonKind::kMissingInput);
    const std::string png = folder.File("cut.png");
    std::string said;
    EXPECT_NE(RunProgram({KV_DEMO_HOST, cut, png}, &said), 0);
    EXPECT_NE(said.find("the file ends before its image data does"), std::string::npos) << said;
    EXPECT_FALSE(std::ifstream(png).good()) << "no picture is written for a damaged file";
}

} // namespace
