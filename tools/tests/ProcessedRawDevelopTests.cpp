// A sample of camera model 513 developed as a user develops it: its mosaic converted by the raw processor
// through the signal-processing library, the result developed by the filter-chain object, the picture
// judged against the scene the sample was made from.
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/TempFolder.h"
#include "tools/CKvChainDevelop.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleMaker.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr LONG kWidth = 384;
constexpr LONG kHeight = 256;
// Where the scene's pixel (x, y) lands: the library leaves out 8 columns and 3 rows before its picture,
// the demo's demosaicing 6 of each.
constexpr LONG kProcessedLeft = 8;
constexpr LONG kProcessedTop = 3;
constexpr LONG kDemoFrame = 6;

// The display value (0 to 255) of linear light by the sRGB transfer curve.
double Srgb8(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    const double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
    return 255.0 * encoded;
}

struct Picture {
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    LONG left = 0, top = 0; // the scene's pixel at the picture's origin

    // Channel c of the developed pixel showing the scene's pixel (x, y).
    int At(LONG x, LONG y, int c) const {
        return rgb[(static_cast<std::size_t>(y - top) * width + (x - left)) * 3 + c];
    }
    // The mean of channel c over the scene's rectangle [x0, x1) x [y0, y1).
    double Mean(LONG x0, LONG y0, LONG x1, LONG y1, int c) const {
        double sum = 0;
        for (LONG y = y0; y < y1; ++y)
            for (LONG x = x0; x < x1; ++x)
                sum += At(x, y, c);
        return sum / static_cast<double>((x1 - x0) * (y1 - y0));
    }
};

std::string MakeSample(const kvtest::TempFolder& folder, WORD model, const char* pattern) {
    CKvSampleMaker::Options options;
    options.width = kWidth;
    options.height = kHeight;
    options.cameraModel = model;
    options.pattern = pattern;
    options.samplePath = folder.File(std::to_string(model) + pattern + ".kvraw");
    PravonErrorPtr err(CKvSampleMaker::Make(options));
    EXPECT_FALSE(err) << err->Describe();
    return options.samplePath;
}

// Through the raw processor and the filter-chain object, as the demo host develops it.
Picture DevelopProcessed(const std::string& path) {
    Picture picture;
    picture.left = kProcessedLeft;
    picture.top = kProcessedTop;
    CKvChainDevelop chain;
    EXPECT_PV_OK(chain.Open(path));
    EXPECT_PV_OK(chain.Develop(&picture.rgb, &picture.width, &picture.height, nullptr));
    return picture;
}

// Through the demo's own graph: the library's demosaicing, the as-shot gains, the sRGB display curve.
Picture DevelopDemo(const std::string& path) {
    Picture picture;
    picture.left = kDemoFrame;
    picture.top = kDemoFrame;
    CKvDemoHost host;
    EXPECT_PV_OK(host.Open(path));
    EXPECT_PV_OK(host.BuildGraph());
    EXPECT_PV_OK(host.Develop(&picture.rgb, &picture.width, &picture.height, nullptr));
    return picture;
}

class ProcessedRawDevelop : public ::testing::Test {
protected:
    kvtest::ProfileMachine machine{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    CKvSampleScene scene{kWidth, kHeight};

    void ExpectGreys(const Picture& processed, const Picture& demo) const;
};

// The chart's grey row and the background between its patches: the pictures of models 513 and 516 show
// each grey as the sRGB curve shows its reflectance, neutral, and as the same scene made as model 258
// develops through the library's own demosaicing and the sRGB display curve.
TEST_F(ProcessedRawDevelop, TheGreysComeOutAsTheSceneAndAsModel258Shows) {
    const Picture demo = DevelopDemo(MakeSample(folder, 258, "RGGB"));
    // Model 513 gives its gains in 128ths, model 516 in 256ths.
    for (const WORD model : {513, 516}) {
        SCOPED_TRACE(model);
        const Picture processed = DevelopProcessed(MakeSample(folder, model, "BGGR"));
        ASSERT_EQ(processed.width, kWidth - 16);
        ASSERT_EQ(processed.height, kHeight - 6);
        ExpectGreys(processed, demo);
    }
}

void ProcessedRawDevelop::ExpectGreys(const Picture& processed, const Picture& demo) const {
    // The chart has 6 x 4 cells; a grey fills a cell but for a tenth on each side.
    const LONG cell = kWidth / 2 / 6;
    const LONG inner = cell / 4, side = cell / 2;
    struct Grey {
        const char* name;
        LONG x0, y0, w, h; // a rectangle of the scene inside the grey
        double reflectance;
    } greys[] = {
        {"3 %", inner, inner, side, side, 0.03},
        {"9 %", cell + inner, inner, side, side, 0.09},
        {"18 %", 2 * cell + inner, inner, side, side, 0.18},
        {"36 %", 3 * cell + inner, inner, side, side, 0.36},
        {"60 %", 4 * cell + inner, inner, side, side, 0.6},
        {"90 %", 5 * cell + inner, inner, side, side, 0.9},
        {"background between the first two", cell - 2, inner, 4, side, 0.18},
    };
    for (const Grey& g : greys) {
        SCOPED_TRACE(g.name);
        const LONG x1 = g.x0 + g.w, y1 = g.y0 + g.h;
        ASSERT_EQ(scene.At(g.x0, g.y0, 1), std::lround(g.reflectance * CKvSampleScene::kMaxValue));
        ASSERT_EQ(scene.At(x1 - 1, y1 - 1, 1), std::lround(g.reflectance * CKvSampleScene::kMaxValue));
        const double expected = Srgb8(g.reflectance);
        const double green = processed.Mean(g.x0, g.y0, x1, y1, 1);
        for (int c = 0; c < 3; ++c) {
            const double value = processed.Mean(g.x0, g.y0, x1, y1, c);
            EXPECT_NEAR(value, expected, 1.5) << "channel " << c;
            EXPECT_NEAR(value, green, 1.5) << "channel " << c << " keeps the grey neutral";
            EXPECT_NEAR(value, demo.Mean(g.x0, g.y0, x1, y1, c), 5.0) << "channel " << c << " as model 258";
        }
    }
}

// The one- to four-pixel lines of the line chart: every pixel of the picture, in every channel, is ink or
// paper as the scene's pixel it shows, at full resolution (each pixel its own, not a 2 x 2 cell's), and
// close to the scene's display value.
TEST_F(ProcessedRawDevelop, TheLinesAreResolvedWhereTheSceneHasThem) {
    const Picture processed = DevelopProcessed(MakeSample(folder, 513, "BGGR"));
    const double ink = Srgb8(0.02), paper = Srgb8(0.8);
    const LONG stripHeight = kHeight / 2 / 4, groupWidth = kWidth / 2 / 4;
    const LONG top = kHeight / 2;
    struct Run {
        const char* name;
        LONG x0, y0, dx, dy, count; // scene pixels x0 + i dx, y0 + i dy
    } runs[] = {
        // Across the vertical lines of 2, 3 and 4 pixels, along the middle of their strip.
        {"vertical", groupWidth + 2, top + stripHeight / 2, 1, 0, 3 * groupWidth - 4},
        // Down the horizontal lines of 2, 3 and 4 pixels, in the middle of each group.
        {"horizontal 2", groupWidth + groupWidth / 2, top + stripHeight + 2, 0, 1, stripHeight - 4},
        {"horizontal 3", 2 * groupWidth + groupWidth / 2, top + stripHeight + 2, 0, 1, stripHeight - 4},
        {"horizontal 4", 3 * groupWidth + groupWidth / 2, top + stripHeight + 2, 0, 1, stripHeight - 4},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        int misplaced = 0;
        double worst = 0;
        for (LONG i = 0; i < run.count; ++i) {
            const LONG x = run.x0 + i * run.dx, y = run.y0 + i * run.dy;
            const double truth = Srgb8(scene.At(x, y, 1) / 4095.0);
            const bool inked = std::abs(truth - ink) < std::abs(truth - paper);
            for (int c = 0; c < 3; ++c) {
                const int v = processed.At(x, y, c);
                misplaced += (std::abs(v - ink) < std::abs(v - paper)) != inked;
                worst = std::max(worst, std::abs(v - truth));
            }
        }
        EXPECT_EQ(misplaced, 0);
        EXPECT_LE(worst, 3.0);
    }
}

} // namespace
