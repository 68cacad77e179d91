#include "DustTestSupport.h"

#include "rawlib/filters/dust/CDustAnalyzer.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>

namespace {

using namespace dusttest;
using kvtest::FillPattern;
using kvtest::MakePlane;
using kvtest::TestPlane;

constexpr double kDistance257 = 1.9313;

TestPlane Flat(LONG width, LONG height, BYTE value) {
    return MakePlane(width, height, PravonColorSpace::kGrey8, FillPattern::Constant, value);
}

// A reference, the image's tags and the analyzer, on one manager.
struct Analysis {
    explicit Analysis(LONG tileSize = 32) : manager(tileSize), reference(&manager), analyzer(&manager) {}

    void LoadReference(const TestPlane& plane, ULONG lens, ULONG aperture, ULONG cameraType = 257) {
        ReferenceFields fields;
        fields.cameraType = cameraType;
        fields.lensCode = lens;
        fields.apertureCode = aperture;
        const Bytes blob = ReferenceBlob(fields, plane);
        ASSERT_PV_OK(reference.Load(static_cast<ULONG>(blob.size()), blob.data()));
    }
    IPravonError* Begin(BYTE imageLens, double fNumber, WORD cameraModel = 257) {
        CameraTags t = DefaultCameraTags();
        t.cameraModel = cameraModel;
        t.fNumber = fNumber;
        t.lensData = LensData("0100", imageLens, 0);
        tags = MakeTags(t);
        return analyzer.Begin(&reference, tags.get());
    }
    // Steps to the end; the progress of every step.
    std::vector<std::pair<LONG, LONG>> Run() {
        std::vector<std::pair<LONG, LONG>> progress;
        for (int guard = 0; guard < 100000; ++guard) {
            LONG position = -1;
            LONG total = -1;
            PravonErrorPtr error(analyzer.Step(&position, &total));
            EXPECT_EQ(error, nullptr) << (error ? error->Describe() : "");
            if (error)
                break;
            progress.emplace_back(position, total);
            if (position >= total)
                break;
        }
        return progress;
    }

    CPravonMemoryManager manager;
    CDustReference reference;
    CDustAnalyzer analyzer;
    PravonTagControlPtr tags;
};

// The box mean the analysis is stated by: weights 1 in the core and 1/2 on each side just outside an even
// size's core, positions clamped into the image, ⌊sum / area + 1e-10⌋.
TestPlane NaiveBlur(const TestPlane& in, LONG boxWidth, LONG boxHeight) {
    TestPlane out(in.width, in.height, in.colorSpace);
    const auto weights = [](LONG n) {
        std::vector<std::pair<LONG, double>> w;
        const LONG half = (n - 1) / 2;
        for (LONG d = -half; d <= half; ++d)
            w.emplace_back(d, 1.0);
        if (n % 2 == 0) {
            w.emplace_back(-half - 1, 0.5);
            w.emplace_back(half + 1, 0.5);
        }
        return w;
    };
    const auto wx = weights(boxWidth);
    const auto wy = weights(boxHeight);
    for (LONG y = 0; y < in.height; ++y) {
        for (LONG x = 0; x < in.width; ++x) {
            double sum = 0;
            for (const auto& [dy, vy] : wy)
                for (const auto& [dx, vx] : wx)
                    sum += vx * vy *
                           in.Sample(std::clamp(x + dx, LONG{0}, in.width - 1),
                                     std::clamp(y + dy, LONG{0}, in.height - 1), 0);
            out.SetSample(x, y, 0, static_cast<ULONG>(std::floor(sum / (boxWidth * boxHeight) + 1e-10)));
        }
    }
    return out;
}

TEST(DustAnalyzer, CameraConstantsPerType) {
    struct Case {
        ULONG type;
        double distance;
        double pitch;
    };
    for (const Case c : {Case{257, 1.9313, 11.8}, Case{258, 1.9313, 11.8}, Case{259, 1.4807, 5.9},
                         Case{260, 2.1668, 9.4}, Case{1025, 1.4673, 7.8}, Case{1026, 2.1533, 7.8}}) {
        double d = 0, px = 0, py = 0;
        ASSERT_PV_OK(CDustAnalyzer::CameraConstants(c.type, &d, &px, &py));
        EXPECT_EQ(d, c.distance);
        EXPECT_EQ(px, c.pitch);
        EXPECT_EQ(py, c.pitch);
    }
    double d = 0, px = 0, py = 0;
    EXPECT_PV_KIND(CDustAnalyzer::CameraConstants(513, &d, &px, &py), PravonKind::kOutOfRange);
}

TEST(DustAnalyzer, BoxSizesFollowTheAperture) {
    struct Case {
        double distance;
        double pitch;
        ULONG code;
        LONG size;
    };
    // ⌊1000 D / (2^(code / 24) P) + 0.5⌋, worked apart; at least one pixel even for absurd apertures.
    for (const Case c : {Case{1.9313, 11.8, 72, 20}, Case{1.9313, 11.8, 120, 5}, Case{1.9313, 11.8, 150, 2},
                         Case{1.9313, 11.8, 180, 1}, Case{1.9313, 11.8, 201, 1}, Case{1.9313, 11.8, 255, 1},
                         Case{1.4807, 5.9, 72, 31}, Case{2.1668, 9.4, 72, 29}, Case{1.4673, 7.8, 72, 24},
                         Case{2.1533, 7.8, 72, 35}, Case{2.1533, 7.8, 240, 1}, Case{2.1533, 7.8, 0, 276}}) {
        EXPECT_EQ(CDustBoxBlur::BoxSize(c.distance, KvDust::FNumberOfCode(c.code), c.pitch), c.size)
            << c.code;
    }
}

TEST(DustAnalyzer, SameLensAndApertureCopiesAndCompressesInTwoPhases) {
    for (double fNumber : {8.0, 11.0}) { // the same aperture as the reference, and a smaller one
        Analysis a(32);
        const TestPlane plane = MakePlane(120, 100, PravonColorSpace::kGrey8, FillPattern::Random, 3);
        a.LoadReference(plane, 50, 72);
        ASSERT_PV_OK(a.Begin(50, fNumber));
        EXPECT_EQ(a.analyzer.GetState(), CDustAnalyzer::kCopy);
        EXPECT_FALSE(a.analyzer.HasLensChange());
        EXPECT_FALSE(a.analyzer.HasWiderAperture());
        const LONG tiles = 4 * 4;
        EXPECT_EQ(a.analyzer.GetTileCount(), tiles);
        const auto progress = a.Run();
        ASSERT_FALSE(progress.empty());
        // Every copy step is one tile; the compression counts a row of tiles per strip.
        for (std::size_t i = 0; i < progress.size(); ++i) {
            EXPECT_EQ(progress[i].second, 2 * tiles);
            const LONG expected =
                i < tiles ? static_cast<LONG>(i) + 1 : tiles + 4 * static_cast<LONG>(i - tiles + 1);
            EXPECT_EQ(progress[i].first, expected) << i;
        }
        EXPECT_EQ(progress.back().first, 2 * tiles);
        ASSERT_TRUE(a.analyzer.IsComplete());
        EXPECT_EQ(a.analyzer.GetDarkPixelCount(), -1);
        ASSERT_NE(a.analyzer.GetAnalysedImage(), nullptr);
        EXPECT_TRUE(kvtest::PlanesMatch(plane, Pull(a.analyzer.GetAnalysedImage())));
        EXPECT_EQ(Inflate(a.analyzer.GetCompressed().ToBytes(), 120 * 100), Samples(plane));
        // The analysed reference stays upright at the reference's resolution; the map orients it later.
        bool flip = true;
        double angle = -1;
        double resolution = 0;
        LONG colorSpace = 0;
        ASSERT_PV_OK(a.analyzer.GetAnalysedImage()->GetTransform(&flip, &angle));
        ASSERT_PV_OK(a.analyzer.GetAnalysedImage()->GetResolution(&resolution));
        ASSERT_PV_OK(a.analyzer.GetAnalysedImage()->GetColorSpace(&colorSpace));
        EXPECT_FALSE(flip);
        EXPECT_EQ(angle, 0.0);
        EXPECT_EQ(resolution, 300.0);
        EXPECT_EQ(colorSpace, PravonColorSpace::kGrey8);
        LONG position = 0, total = 0;
        EXPECT_PV_OK(a.analyzer.Step(&position, &total));
        EXPECT_EQ(position, 1);
        EXPECT_EQ(total, 1);
    }
}

TEST(DustAnalyzer, LensChangeAndWiderApertureRunThreePhases) {
    Analysis a(32);
    a.LoadReference(MakePlane(100, 130, PravonColorSpace::kGrey8, FillPattern::Random, 9), 50, 72);
    ASSERT_PV_OK(a.Begin(35, 4.0));
    EXPECT_EQ(a.analyzer.GetState(), CDustAnalyzer::kRescale);
    EXPECT_TRUE(a.analyzer.HasLensChange());
    EXPECT_TRUE(a.analyzer.HasWiderAperture());
    const LONG tiles = 4 * 5;
    std::vector<LONG> states;
    std::vector<std::pair<LONG, LONG>> progress;
    for (int i = 0; i < 1000 && !a.analyzer.IsComplete(); ++i) {
        states.push_back(a.analyzer.GetState());
        LONG position = 0, total = 0;
        ASSERT_PV_OK(a.analyzer.Step(&position, &total));
        progress.emplace_back(position, total);
    }
    ASSERT_TRUE(a.analyzer.IsComplete());
    EXPECT_EQ(std::count(states.begin(), states.end(), CDustAnalyzer::kRescale), tiles);
    EXPECT_EQ(std::count(states.begin(), states.end(), CDustAnalyzer::kBlur), tiles);
    EXPECT_EQ(progress[tiles - 1], std::make_pair(tiles, 3 * tiles));
    EXPECT_EQ(progress[2 * tiles - 1], std::make_pair(2 * tiles, 3 * tiles));
    EXPECT_EQ(progress.back(), std::make_pair(3 * tiles, 3 * tiles));
    EXPECT_GE(a.analyzer.GetDarkPixelCount(), 0);
}

TEST(DustAnalyzer, AnImageAtF8OnType257GetsAnEvenBoxOf20) {
    Analysis a;
    a.LoadReference(Flat(100, 100, 90), 50, 96);
    ASSERT_PV_OK(a.Begin(50, 8.0));
    EXPECT_EQ(a.analyzer.GetState(), CDustAnalyzer::kBlur);
    const CDustBoxBlur& blur = a.analyzer.GetBlur();
    EXPECT_EQ(blur.GetBoxWidth(), 20);
    EXPECT_EQ(blur.GetBoxHeight(), 20);
    EXPECT_EQ(blur.GetHalfWidth(), 9);
    EXPECT_TRUE(blur.IsWidthEven());
    EXPECT_EQ(blur.GetArea(), 400);
    a.Run();
    EXPECT_TRUE(kvtest::PlanesMatch(Flat(100, 100, 90), Pull(a.analyzer.GetAnalysedImage())));
    EXPECT_EQ(a.analyzer.GetDarkPixelCount(), 100 * 100);
}

TEST(DustAnalyzer, BlurValuesWorkedByHand) {
    struct Case {
        const char* what;
        double fNumber; // gives the image's aperture code
        LONG box;
        BYTE background;
        std::vector<std::pair<PravonRect, BYTE>> dark; // filled rectangles of the reference
        std::vector<std::tuple<LONG, LONG, ULONG>> expected;
        std::int64_t darkCount;
    };
    const Case cases[] = {
        // A 3 x 3 block of 0 on 200, box 3: each output is the mean of the 3 x 3 around it.
        {"box 3",
         57.0,
         3,
         200,
         {{{49, 49, 52, 52}, 0}},
         {{50, 50, 0},
          {49, 50, 66},
          {49, 49, 111},
          {48, 50, 133},
          {48, 49, 155},
          {48, 48, 177},
          {10, 10, 200}},
         9},
        // One 0 on 120, box 2: weights 1 at the centre, 1/2 beside it, 1/4 at the corners, area 4.
        {"box 2",
         76.1,
         2,
         120,
         {{{50, 50, 51, 51}, 0}},
         {{50, 50, 90},
          {51, 50, 105},
          {49, 50, 105},
          {50, 49, 105},
          {51, 51, 112},
          {49, 49, 112},
          {52, 50, 120}},
         100 * 100},
        // Box 1 leaves every sample as it is.
        {"box 1",
         181.0,
         1,
         200,
         {{{0, 0, 10, 1}, 123}, {{0, 1, 10, 2}, 124}},
         {{5, 0, 123}, {5, 1, 124}, {5, 2, 200}},
         10},
    };
    for (const Case& c : cases) {
        TestPlane plane = Flat(100, 100, c.background);
        for (const auto& [rect, value] : c.dark)
            for (LONG y = rect.top; y < rect.bottom; ++y)
                for (LONG x = rect.left; x < rect.right; ++x)
                    plane.SetSample(x, y, 0, value);
        Analysis a(16);
        a.LoadReference(plane, 50, 210);
        ASSERT_PV_OK(a.Begin(50, c.fNumber)) << c.what;
        ASSERT_EQ(a.analyzer.GetBlur().GetBoxWidth(), c.box) << c.what;
        a.Run();
        ASSERT_NE(a.analyzer.GetAnalysedImage(), nullptr) << c.what;
        const TestPlane out = Pull(a.analyzer.GetAnalysedImage());
        for (const auto& [x, y, value] : c.expected)
            EXPECT_EQ(out.Sample(x, y, 0), value) << c.what << " at " << x << "," << y;
        EXPECT_EQ(a.analyzer.GetDarkPixelCount(), c.darkCount) << c.what;
        if (c.box == 1) {
            EXPECT_TRUE(kvtest::PlanesMatch(plane, out));
        }
    }
}

TEST(DustAnalyzer, BlurMatchesTheBoxMeanAtEveryTileSize) {
    const TestPlane plane = MakePlane(131, 117, PravonColorSpace::kGrey8, FillPattern::Random, 21);
    struct Case {
        double fNumber;
        LONG box;
    };
    for (const Case c : {Case{32.0, 5}, Case{40.0, 4}, Case{8.0, 20}}) {
        const TestPlane expected = NaiveBlur(plane, c.box, c.box);
        for (LONG tileSize : {7, 16, 256}) {
            Analysis a(tileSize);
            a.LoadReference(plane, 50, 250);
            ASSERT_PV_OK(a.Begin(50, c.fNumber));
            ASSERT_EQ(a.analyzer.GetBlur().GetBoxWidth(), c.box);
            a.Run();
            ASSERT_TRUE(a.analyzer.IsComplete());
            ASSERT_NE(a.analyzer.GetAnalysedImage(), nullptr);
            EXPECT_TRUE(kvtest::PlanesMatch(expected, Pull(a.analyzer.GetAnalysedImage())))
                << "box " << c.box << ", tile size " << tileSize;
        }
    }
}

TEST(DustAnalyzer, ABlurThatLeavesNoDarkPixelEndsWithoutAnImage) {
    TestPlane plane = Flat(100, 100, 200);
    plane.SetSample(50, 50, 0, 0); // a speck that a box of 20 spreads away
    Analysis a;
    a.LoadReference(plane, 50, 96);
    ASSERT_PV_OK(a.Begin(50, 8.0));
    const auto progress = a.Run();
    ASSERT_TRUE(a.analyzer.IsComplete());
    EXPECT_EQ(a.analyzer.GetDarkPixelCount(), 0);
    EXPECT_EQ(a.analyzer.GetAnalysedImage(), nullptr);
    EXPECT_EQ(a.analyzer.GetCompressed().GetLength(), 0u);
    EXPECT_EQ(progress.back(), std::make_pair(1, 1));
    EXPECT_FALSE(a.analyzer.GetTuning().empty());
    EXPECT_EQ(a.manager.GetImageCount(), 1u) << "only the reference's image is left";
}

// The centre stays, and every other point moves towards or away from it by the lens factor.
TEST(DustAnalyzer, RescaleMovesTheShadowsAboutTheCentre) {
    const LONG size = 301; // centre 150
    TestPlane plane = Flat(size, size, 200);
    for (LONG y = 148; y <= 152; ++y)
        for (LONG x = 248; x <= 252; ++x)
            plane.SetSample(x, y, 0, 0); // a dot 100 pixels right of the centre
    const double image = 2000.0 / 14;
    const double reference = 2000.0 / 255;
    const double s = kDistance257 / (image - kDistance257) * ((reference - image) / reference) + 1;
    for (LONG tileSize : {16, 256}) {
        Analysis a(tileSize);
        a.LoadReference(plane, 255, 72);
        ASSERT_PV_OK(a.Begin(14, 8.0));
        EXPECT_NEAR(a.analyzer.GetScaleFactor(), s, 1e-12);
        a.Run();
        ASSERT_TRUE(a.analyzer.IsComplete());
        const TestPlane out = Pull(a.analyzer.GetAnalysedImage());
        double weight = 0, sumX = 0, sumY = 0;
        // Around where the dot should land, inside the part that still maps into the reference.
        for (LONG y = 130; y < 170; ++y) {
            for (LONG x = 200; x < 255; ++x) {
                const double dark = 200.0 - static_cast<double>(out.Sample(x, y, 0));
                if (dark > 0) {
                    weight += dark;
                    sumX += dark * x;
                    sumY += dark * y;
                }
            }
        }
        ASSERT_GT(weight, 0);
        // Samples are truncated to 8 bits, which shifts the centroid by a few hundredths of a pixel.
        EXPECT_NEAR(sumX / weight, 150 + 100 * s, 0.1) << "tile size " << tileSize;
        EXPECT_NEAR(sumY / weight, 150, 0.05);
        EXPECT_EQ(out.Sample(150, 150, 0), 200u);
        // The reference shrinks, so the border samples beyond it, which count as 128.
        EXPECT_EQ(out.Sample(0, 150, 0), 128u);
        EXPECT_EQ(out.Sample(150, size - 1, 0), 128u);
    }
}

TEST(DustAnalyzer, ReferenceLensCodesOutsideAByteAreRefusedWhenTheLensChanged) {
    for (ULONG lens : {0u, 256u, 1400u}) {
        Analysis a;
        a.LoadReference(Flat(100, 100, 200), lens, 72);
        EXPECT_PV_KIND(a.Begin(50, 8.0), PravonKind::kNoSource) << lens;
        EXPECT_EQ(a.analyzer.GetState(), CDustAnalyzer::kIdle);
        EXPECT_EQ(a.manager.GetImageCount(), 1u);
    }
    Analysis a;
    a.LoadReference(Flat(100, 100, 200), 255, 72);
    EXPECT_PV_OK(a.Begin(50, 8.0));
}

TEST(DustAnalyzer, AnApertureTooSmallForAnyBoxBlursByOnePixel) {
    Analysis a;
    const TestPlane plane = MakePlane(100, 100, PravonColorSpace::kGrey8, FillPattern::Random, 4);
    a.LoadReference(plane, 50, 250);
    ASSERT_PV_OK(a.Begin(50, KvDust::FNumberOfCode(240)));
    EXPECT_EQ(a.analyzer.GetApertureCode(), 240u);
    EXPECT_EQ(a.analyzer.GetBlur().GetArea(), 1);
    a.Run();
    EXPECT_TRUE(kvtest::PlanesMatch(plane, Pull(a.analyzer.GetAnalysedImage())));
}

TEST(DustAnalyzer, StateRules) {
    Analysis a;
    LONG position = 5, total = 5;
    EXPECT_PV_KIND(a.analyzer.Step(&position, &total), PravonKind::kInvalidState);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(total, 0);
    EXPECT_PV_KIND(a.analyzer.Begin(nullptr, nullptr), PravonKind::kBadArgument);
    PravonTagControlPtr tags = MakeTags(DefaultCameraTags());
    EXPECT_PV_KIND(a.analyzer.Begin(&a.reference, nullptr), PravonKind::kBadArgument);
    EXPECT_PV_KIND(a.analyzer.Begin(&a.reference, tags.get()), PravonKind::kNoSource)
        << "reference not loaded";

    a.LoadReference(Flat(100, 100, 200), 50, 72, 258);
    EXPECT_PV_KIND(a.Begin(50, 8.0, 257), PravonKind::kBadArgument) << "camera types differ";
    EXPECT_PV_KIND(a.Begin(50, 8.0, 513), PravonKind::kOutOfRange) << "no dust constants";
    EXPECT_EQ(a.analyzer.GetState(), CDustAnalyzer::kIdle);

    ASSERT_PV_OK(a.Begin(50, 8.0, 258));
    ASSERT_PV_OK(a.analyzer.Step(&position, &total));
    EXPECT_PV_KIND(a.Begin(50, 8.0, 258), PravonKind::kInvalidState) << "busy";
    a.analyzer.Abort();
    EXPECT_PV_KIND(a.analyzer.Step(&position, &total), PravonKind::kInvalidState) << "after Abort";

    ASSERT_PV_OK(a.Begin(50, 8.0, 258));
    a.Run();
    ASSERT_TRUE(a.analyzer.IsComplete());
    a.analyzer.Abort();
    EXPECT_TRUE(a.analyzer.IsComplete()) << "Abort keeps a complete result";
    EXPECT_NE(a.analyzer.GetAnalysedImage(), nullptr);
    EXPECT_PV_OK(a.Begin(50, 8.0, 258)) << "a complete analyzer starts again";
}

TEST(DustAnalyzer, AbortInTheMiddleLeavesNothingHalfBuilt) {
    const TestPlane plane = MakePlane(140, 120, PravonColorSpace::kGrey8, FillPattern::Random, 8);
    for (int steps : {1, 10, 25, 31}) {
        Analysis a(32);
        a.LoadReference(plane, 50, 72);
        ASSERT_PV_OK(a.Begin(35, 4.0)); // rescale 20 tiles, blur 20, compression 4 strips
        LONG position = 0, total = 0;
        for (int i = 0; i < steps; ++i)
            ASSERT_PV_OK(a.analyzer.Step(&position, &total));
        EXPECT_FALSE(a.analyzer.IsComplete());
        a.analyzer.Abort();
        EXPECT_EQ(a.analyzer.GetState(), CDustAnalyzer::kIdle) << steps;
        EXPECT_EQ(a.analyzer.GetAnalysedImage(), nullptr);
        EXPECT_EQ(a.analyzer.GetCompressed().GetLength(), 0u);
        EXPECT_TRUE(a.analyzer.GetTuning().empty());
        EXPECT_EQ(a.analyzer.GetDarkPixelCount(), -1);
        EXPECT_EQ(a.manager.GetImageCount(), 1u) << "the scratch images are gone";
        EXPECT_PV_KIND(a.analyzer.Step(&position, &total), PravonKind::kInvalidState);
        // And it runs whole afterwards.
        ASSERT_PV_OK(a.Begin(35, 4.0));
        a.Run();
        EXPECT_TRUE(a.analyzer.IsComplete());
    }
}

TEST(DustAnalyzer, TheResultIsTheSameAtEveryTileSize) {
    const TestPlane plane = MakePlane(150, 110, PravonColorSpace::kGrey8, FillPattern::Random, 17);
    TestPlane first;
    Bytes firstStream;
    for (LONG tileSize : {7, 16, 256}) {
        Analysis a(tileSize);
        a.LoadReference(plane, 50, 120);
        ASSERT_PV_OK(a.Begin(23, 5.6));
        a.Run();
        ASSERT_TRUE(a.analyzer.IsComplete());
        const TestPlane out = Pull(a.analyzer.GetAnalysedImage());
        const Bytes stream = a.analyzer.GetCompressed().ToBytes();
        if (first.width == 0) {
            first = out;
            firstStream = stream;
            continue;
        }
        EXPECT_TRUE(kvtest::PlanesMatch(first, out)) << "tile size " << tileSize;
        EXPECT_EQ(stream, firstStream) << "tile size " << tileSize;
    }
}

} // namespace
