// The demo host's development through the exported filter-chain object.
#include "rawlib/settings/CKvBrightness.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/TempFolder.h"
#include "tools/CKvChainDevelop.h"
#include "tools/CKvSampleMaker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <utility>

namespace {

double Mean(const std::vector<BYTE>& rgb) {
    return std::accumulate(rgb.begin(), rgb.end(), 0.0) / static_cast<double>(rgb.size());
}

// The middle sample: unlike the mean it stays with the flat areas when sharpening overshoots at the test
// scene's many hard edges and the overshoot clips at white.
BYTE Median(std::vector<BYTE> rgb) {
    std::nth_element(rgb.begin(), rgb.begin() + rgb.size() / 2, rgb.end());
    return rgb[rgb.size() / 2];
}

// Writes a sample of the given size into the folder; its path, empty when it could not be made.
std::string MakeSample(const kvtest::TempFolder& folder, const char* name, LONG width, LONG height,
                       bool settings = false, WORD cameraModel = 258, const char* pattern = "RGGB") {
    CKvSampleMaker::Options options;
    options.width = width;
    options.height = height;
    options.settings = settings;
    options.cameraModel = cameraModel;
    options.pattern = pattern;
    options.samplePath = folder.File(name);
    PravonErrorPtr err(CKvSampleMaker::Make(options));
    EXPECT_FALSE(err) << err->Describe();
    return err ? std::string() : options.samplePath;
}

TEST(ChainDevelop, DevelopsTheSampleAndAnExposureChangeBrightensIt) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string path = MakeSample(folder, "chain.kvraw", 120, 90);
    ASSERT_FALSE(path.empty());
    CKvChainDevelop chain;
    ASSERT_PV_OK(chain.Open(path));
    std::vector<BYTE> first;
    LONG width = 0, height = 0, lastDone = 0, lastTotal = 0;
    ASSERT_PV_OK(chain.Develop(&first, &width, &height, [&](LONG done, LONG total) {
        lastDone = done;
        lastTotal = total;
    }));
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_EQ(first.size(), static_cast<std::size_t>(width) * height * 3);
    EXPECT_EQ(lastDone, lastTotal);
    ASSERT_PV_OK(chain.SetExposure(1.0));
    std::vector<BYTE> brighter;
    ASSERT_PV_OK(chain.Develop(&brighter, &width, &height, nullptr));
    EXPECT_GT(Mean(brighter), Mean(first));
}

// The sample developed upright, then with the output settings: the picture the chain gives.
struct Developed {
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
};

Developed DevelopSample(const std::string& path, LONG degrees, double scale) {
    CKvChainDevelop chain;
    Developed out;
    EXPECT_PV_OK(chain.Open(path));
    EXPECT_PV_OK(chain.SetModes(false));
    if (degrees != 0 || scale != 1.0) {
        EXPECT_PV_OK(chain.SetOutput(degrees, scale));
    }
    EXPECT_PV_OK(chain.Develop(&out.rgb, &out.width, &out.height, nullptr));
    return out;
}

TEST(ChainDevelop, AQuarterTurnIsTheUprightPictureTurnedClockwise) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string path = MakeSample(folder, "turn.kvraw", 64, 40);
    ASSERT_FALSE(path.empty());
    const Developed upright = DevelopSample(path, 0, 1.0);
    for (const LONG degrees : {90, 180, 270}) {
        SCOPED_TRACE(degrees);
        const Developed turned = DevelopSample(path, degrees, 1.0);
        const bool quarter = degrees != 180;
        ASSERT_EQ(turned.width, quarter ? upright.height : upright.width);
        ASSERT_EQ(turned.height, quarter ? upright.width : upright.height);
        // Where the upright pixel (x, y) lands after a clockwise turn.
        const auto at = [&](LONG x, LONG y) {
            const LONG w = upright.width, h = upright.height;
            const LONG tx = degrees == 90 ? h - 1 - y : degrees == 180 ? w - 1 - x : y;
            const LONG ty = degrees == 90 ? x : degrees == 180 ? h - 1 - y : w - 1 - x;
            return (static_cast<std::size_t>(ty) * turned.width + tx) * 3;
        };
        for (LONG y = 0; y < upright.height; ++y)
            for (LONG x = 0; x < upright.width; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_EQ(turned.rgb[at(x, y) + ch],
                              upright.rgb[(static_cast<std::size_t>(y) * upright.width + x) * 3 + ch])
                        << x << "," << y;
    }
    const Developed half = DevelopSample(path, 90, 0.5);
    EXPECT_EQ(half.width, upright.height / 2);
    EXPECT_EQ(half.height, upright.width / 2);
}

TEST(ChainDevelop, RefusesToDevelopWithoutASample) {
    CKvChainDevelop chain;
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    EXPECT_PV_KIND(chain.Develop(&rgb, &width, &height, nullptr), PravonKind::kInvalidState);
    EXPECT_PV_KIND(chain.SetExposure(1.0), PravonKind::kInvalidState);
    EXPECT_PV_KIND(chain.SetOutput(90, 1.0), PravonKind::kInvalidState);
}

TEST(ChainDevelop, RefusesAnOutputItCannotGive) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string path = MakeSample(folder, "refused.kvraw", 64, 40);
    ASSERT_FALSE(path.empty());
    CKvChainDevelop chain;
    ASSERT_PV_OK(chain.Open(path));
    for (const auto& [degrees, scale] :
         {std::pair<LONG, double>{45, 1.0}, {-90, 1.0}, {360, 1.0}, {0, 0.0}, {0, -1.0}, {0, std::nan("")}})
        EXPECT_PV_KIND(chain.SetOutput(degrees, scale), PravonKind::kOutOfRange) << degrees << " " << scale;
}

} // namespace

namespace {

// The stored settings reach the development: the same sample without them develops darker (their exposure
// is half a stop up; their sharpening moves the edges, not the middle sample), and the object reads back
// the stored exposure.
TEST(ChainDevelop, TheSettingsStoredInTheSampleAreDevelopedWith) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    std::vector<BYTE> developed[2];
    for (const bool settings : {false, true}) {
        const std::string path =
            MakeSample(folder, settings ? "edited.kvraw" : "plain.kvraw", 384, 256, settings);
        ASSERT_FALSE(path.empty());
        CKvChainDevelop chain;
        ASSERT_PV_OK(chain.Open(path));
        LONG width = 0, height = 0;
        ASSERT_PV_OK(chain.Develop(&developed[settings], &width, &height, nullptr));
        double exposure = -1;
        ASSERT_PV_OK(chain.GetStoredExposure(&exposure));
        EXPECT_EQ(exposure, settings ? CKvSampleMaker::kStoredExposure : 0.0);
    }
    EXPECT_GT(Median(developed[1]), Median(developed[0]) * 1.1);
}

} // namespace

// The automatic brightness through the chain: the settings hear the levels the chain's histogram measured
// before the development.
TEST(ChainDevelop, TheAutomaticBrightnessIsMeasuredOverTheChainsHistogram) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string path = MakeSample(folder, "bright.kvraw", 120, 90);
    ASSERT_FALSE(path.empty());
    CKvChainDevelop chain;
    EXPECT_EQ(chain.GetBrightness(), nullptr);
    ASSERT_PV_OK(chain.Open(path));
    ASSERT_PV_OK(chain.SetAutoBrightness());
    ASSERT_TRUE(chain.GetBrightness()->IsMeasurementFresh());
    EXPECT_LT(chain.GetBrightness()->GetBlackLevel(), chain.GetBrightness()->GetWhiteLevel());
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    EXPECT_PV_OK(chain.Develop(&rgb, &width, &height, nullptr));
}

// Each detail setting set before the first development gives what setting it afterwards gives, and
// changes the picture; a value out of range is refused.
TEST(ChainDevelop, DetailSettingsDevelopThroughTheChain) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string path = MakeSample(folder, "detail.kvraw", 120, 90);
    ASSERT_FALSE(path.empty());
    using Setting = std::function<IPravonError*(CKvChainDevelop&)>;
    const struct {
        const char* name;
        Setting set, refused;
    } cases[] = {
        {"moire and fine edge", [](CKvChainDevelop& c) { return c.SetMoireAndFineEdge(2, true); },
         [](CKvChainDevelop& c) { return c.SetMoireAndFineEdge(4, false); }},
        {"colour noise", [](CKvChainDevelop& c) { return c.SetColorNoise(6); },
         [](CKvChainDevelop& c) { return c.SetColorNoise(11); }},
        {"vignette", [](CKvChainDevelop& c) { return c.SetVignette(100); }, nullptr},
        {"sharpening", [](CKvChainDevelop& c) { return c.SetSharpening(2, 1.5); },
         [](CKvChainDevelop& c) { return c.SetSharpening(2, 0); }},
    };
    std::vector<BYTE> plain;
    LONG width = 0, height = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> before, after;
        CKvChainDevelop early, late;
        ASSERT_PV_OK(early.Open(path));
        ASSERT_PV_OK(c.set(early));
        ASSERT_PV_OK(early.Develop(&before, &width, &height, nullptr));
        ASSERT_PV_OK(late.Open(path));
        ASSERT_PV_OK(late.Develop(&plain, &width, &height, nullptr));
        ASSERT_PV_OK(c.set(late));
        ASSERT_PV_OK(late.Develop(&after, &width, &height, nullptr));
        EXPECT_EQ(before, after);
        EXPECT_NE(plain, after);
        if (c.refused) {
            EXPECT_PV_KIND(c.refused(late), PravonKind::kOutOfRange);
        }
    }
    CKvChainDevelop closed;
    EXPECT_PV_KIND(closed.SetColorNoise(1), PravonKind::kInvalidState);
}

// The sharpening's radius and power are the list's own units: the mask the sample stores, given again in
// pixels and power, develops the same picture.
TEST(ChainDevelop, TheSharpeningIsGivenInPixelsAndPower) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string path = MakeSample(folder, "sharp.kvraw", 120, 90, true);
    ASSERT_FALSE(path.empty());
    // The sample's mask: radius code 20 in fifths of a pixel, amount code 50 in twentieths.
    static_assert(CKvSampleMaker::kStoredSharpenRadius == 20 && CKvSampleMaker::kStoredSharpenAmount == 50);
    std::vector<BYTE> stored, given, other;
    LONG width = 0, height = 0;
    for (const auto& [out, radius] : {std::pair{&stored, 0.0}, {&given, 4.0}, {&other, 3.0}}) {
        CKvChainDevelop chain;
        ASSERT_PV_OK(chain.Open(path));
        if (radius > 0) {
            ASSERT_PV_OK(chain.SetSharpening(radius, 2.5));
        }
        ASSERT_PV_OK(chain.Develop(out, &width, &height, nullptr));
    }
    EXPECT_EQ(given, stored);
    EXPECT_NE(other, stored);
}

// Models 513 to 516 develop from the raw processor's image, 16 columns and 6 rows short of the mosaic
// (the demosaicing's cut is 12 each way); a pattern the processor does not take is refused at opening.
TEST(ChainDevelop, ProcessedRawModelsDevelopFromTheRawProcessor) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const struct {
        WORD model;
        const char* pattern;
        LONG cutWidth, cutHeight; // 0: refused
    } cases[] = {{513, "BGGR", 16, 6}, {516, "BGGR", 16, 6}, {514, "RGGB", 0, 0}, {258, "BGGR", 12, 12}};
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.model) + c.pattern + ".kvraw";
        CKvChainDevelop chain;
        const PravonErrorPtr opened(
            chain.Open(MakeSample(folder, name.c_str(), 120, 90, false, c.model, c.pattern)));
        if (c.cutWidth == 0) {
            EXPECT_TRUE(opened && opened->GetKind() == PravonKind::kInvalidState) << c.model;
            continue;
        }
        ASSERT_FALSE(opened) << opened->Describe();
        std::vector<BYTE> rgb;
        LONG width = 0, height = 0;
        ASSERT_PV_OK(chain.Develop(&rgb, &width, &height, nullptr));
        EXPECT_EQ(width, 120 - c.cutWidth) << c.model;
        EXPECT_EQ(height, 90 - c.cutHeight) << c.model;
    }
}
