#include "LensFileSupport.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/quasel/CPravonTagControl.h"
#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/CFisheyeFilter.h"
#include "rawlib/filters/CFisheyeGeometry.h"
#include "testing/InvalidArea.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kvtest;
using Info = CKvLensInformation;

// Tags that name the fisheye lens by its focal lengths and apertures.
class FisheyeTags {
public:
    FisheyeTags() : m_tags(new CPravonTagControl) {
        const double range[4] = {10.5, 10.5, 2.8, 2.8};
        EXPECT_PV_OK(m_tags->WriteTag(kKvLensRangeTag, 12, sizeof range, range));
    }
    ~FisheyeTags() { m_tags->Release(); }
    CPravonTagControl* Get() const { return m_tags; }

private:
    CPravonTagControl* m_tags;
};

// The remap written out from its definition, pixel by pixel: the centre and half diagonal in whole pixels,
// the table read at 4095 r / R with linear interpolation, the 16 neighbours (the picture's edge repeated)
// weighted by the cubic kernel of their distance, the mean cut and held. `before` is what the tile held.
TestPlane Reference(const TestPlane& source, const double* table, bool background, LONG mode,
                    const TestPlane& before) {
    const LONG w = source.width, h = source.height;
    const double cx = w / 2, cy = h / 2;
    const double radius = std::max(1.0, std::sqrt(double(h * h / 4 + w * w / 4)));
    const ULONG maximum = source.BitsPerSample() == 8 ? 255 : 65535;
    auto kernel = [](double s) {
        if (s < 1)
            return 1.5 * s * s * s - 2.5 * s * s + 1;
        if (s < 2)
            return -0.5 * s * s * s + 2.5 * s * s - 4 * s + 2;
        return 0.0;
    };
    TestPlane out = before;
    WORD colour[3];
    CFisheyeFilter::GetBackground(mode, colour);
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 0; x < w; ++x) {
            if (background)
                for (int c = 0; c < 3; ++c)
                    out.SetSample(x, y, c, maximum == 255 ? colour[c] / 257 : colour[c]);
            double sx = cx, sy = cy;
            const double dx = x - cx, dy = y - cy, r = std::sqrt(dx * dx + dy * dy);
            if (r > 0) {
                const double u = 4095 * r / radius;
                const int i = static_cast<int>(std::floor(u));
                const double v = u >= 4095 ? table[4095] : table[i] * (1 - (u - i)) + table[i + 1] * (u - i);
                sx = cx + dx * v * radius / r;
                sy = cy + dy * v * radius / r;
            }
            if (!(sx >= 0 && sx < w && sy >= 0 && sy < h))
                continue;
            const LONG i0 = static_cast<LONG>(std::floor(sx)), j0 = static_cast<LONG>(std::floor(sy));
            for (int c = 0; c < 3; ++c) {
                double sum = 0, weights = 0;
                for (LONG j = j0 - 1; j <= j0 + 2; ++j) {
                    for (LONG i = i0 - 1; i <= i0 + 2; ++i) {
                        const double k = kernel(std::sqrt((sx - i) * (sx - i) + (sy - j) * (sy - j)));
                        sum += k *
                               source.Sample(std::clamp<LONG>(i, 0, w - 1), std::clamp<LONG>(j, 0, h - 1), c);
                        weights += k;
                    }
                }
                const double mean = sum / weights;
                // A mean within rounding of a whole number counts as that number.
                const double whole = std::floor(mean + 1e-7);
                out.SetSample(x, y, c, whole < 0 ? 0 : whole > maximum ? maximum : static_cast<ULONG>(whole));
            }
        }
    }
    return out;
}

// A machine with a lens file, the picture's tags, and the graph source -> fisheye.
class Fisheye : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lens.Write({})); }
    void TearDown() override { EXPECT_EQ(CFisheyeLensCache::GetEntryCount(), 0u); }

    // Builds source -> filter with the lens selected, the flag and mode set.
    GraphBuilder Builder(const TestPlane& plane, BYTE flag, LONG mode) const {
        return [=, this](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
            IPravonImage* source = graph.Own(MakeImage(manager, plane));
            CFisheyeFilter* filter = graph.Own(new CFisheyeFilter(&manager));
            graph.output = filter;
            if (IPravonError* e = PravonConnect(source, filter))
                return e;
            if (IPravonError* e = filter->SelectLensModel(tags.Get()))
                return e;
            if (IPravonError* e = filter->SetTableFlag(flag, false))
                return e;
            return filter->SetMode(mode, false);
        };
    }

    // The table the filter remaps through, as the lens file holds it.
    std::vector<double> BackTable(BYTE flag) const {
        CFisheyeFilter probe(nullptr);
        EXPECT_PV_OK(probe.SelectLensModel(tags.Get()));
        const double* t = probe.GetLensInformation()->GetTable(flag == 1 ? Info::kTableA : Info::kTableB);
        return std::vector<double>(t, t + Info::kTableLength);
    }

    // One graph of the builder, with its manager.
    struct Built {
        explicit Built(LONG tileSize) : manager(tileSize) {}
        CPravonMemoryManager manager;
        TestGraph graph;
        CFisheyeFilter* filter = nullptr;
    };
    std::unique_ptr<Built> Build(const TestPlane& plane, BYTE flag, LONG mode, LONG tileSize = 16) const {
        auto built = std::make_unique<Built>(tileSize);
        EXPECT_PV_OK(Builder(plane, flag, mode)(built->manager, built->graph));
        built->filter = static_cast<CFisheyeFilter*>(built->graph.output);
        return built;
    }

    LensMachine lens;
    FisheyeTags tags;
};

TEST_F(Fisheye, RemapsLikeTheKernelWrittenOutAtEveryTileSize) {
    struct Case {
        const char* name;
        std::vector<std::string> lensFile;
        LONG colorSpace;
        BYTE flag;
        LONG mode;
    };
    const Case cases[] = {
        {"standard lens, 16 bits, tables B", {}, PravonColorSpace::kRGB16, 0, 3},
        {"standard lens, 16 bits, tables A, red", {}, PravonColorSpace::kRGB16, 1, 4},
        {"standard lens, 8 bits, tables A, light grey", {}, PravonColorSpace::kRGB8, 1, 1},
        {"wide view past the lens, 8 bits, tables B",
         {"--lens", "equidistant:100", "--second", "rectilinear:150"},
         PravonColorSpace::kRGB8,
         0,
         3},
        {"wide view past the lens, 16 bits, tables A, cyan",
         {"--lens", "equisolid:120", "--first", "rectilinear:160"},
         PravonColorSpace::kRGB16,
         1,
         7},
        {"identity tables", {"--identity"}, PravonColorSpace::kRGB16, 0, 3},
        // Tables that rise and fall send pixels outside the source area the corners bound.
        {"rippled tables, 16 bits", {"--ripple", "0.15"}, PravonColorSpace::kRGB16, 1, 0},
        {"rippled tables, 8 bits",
         {"--ripple", "0.4", "--first", "stereographic:200"},
         PravonColorSpace::kRGB8,
         1,
         9},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(lens.Write(c.lensFile));
        const TestPlane plane = MakePlane(61, 43, c.colorSpace, FillPattern::Random, 11);
        const TestPlane fresh(plane.width, plane.height, plane.colorSpace);
        const std::vector<double> table = BackTable(c.flag);
        const TestPlane expected = Reference(plane, table.data(), c.flag == 1, c.mode, fresh);
        // The widest SIMD path the processor has, AVX2 alone, and the plain path.
        const struct {
            const char* name;
            DWORD off;
        } paths[] = {{", widest SIMD path", 0},
                     {", AVX2 path", CpuFeature::kAVX512F},
                     {", plain path", CpuFeature::kAVX2 | CpuFeature::kAVX512F}};
        for (const auto& path : paths) {
            SCOPED_TRACE(std::string(c.name) + path.name);
            CCpuFeatureOverride features(0, path.off);
            TestPlane out;
            ASSERT_TRUE(SameAtEveryTileSize(Builder(plane, c.flag, c.mode), &out));
            EXPECT_TRUE(PlanesMatch(expected, out));
        }
    }
}

TEST_F(Fisheye, AFlatPictureStaysFlat) {
    ASSERT_TRUE(lens.Write({"--second", "stereographic:150"})); // a narrower view: every source inside
    const TestPlane plane = MakePlane(40, 30, PravonColorSpace::kRGB16, FillPattern::Constant, 30000);
    TestPlane out;
    ASSERT_TRUE(SameAtEveryTileSize(Builder(plane, 0, 3), &out));
    EXPECT_TRUE(PlanesMatch(plane, out));
}

TEST_F(Fisheye, ResultsAreHeldToTheSampleRange) {
    // Black and white blocks: the kernel's negative lobes overshoot at every edge.
    const TestPlane plane = MakePlane(48, 36, PravonColorSpace::kRGB8, FillPattern::Checker);
    TestPlane out;
    ASSERT_TRUE(SameAtEveryTileSize(Builder(plane, 0, 3), &out));
    const std::vector<double> table = BackTable(0);
    EXPECT_TRUE(
        PlanesMatch(Reference(plane, table.data(), false, 3, TestPlane(48, 36, plane.colorSpace)), out));
    std::size_t black = 0, white = 0;
    for (std::uint8_t v : out.data) {
        black += v == 0;
        white += v == 255;
    }
    EXPECT_GT(black, 0u);
    EXPECT_GT(white, 0u);
}

TEST_F(Fisheye, EveryModeHasItsBackground) {
    ASSERT_TRUE(lens.Write({"--lens", "equidistant:100", "--first", "rectilinear:170"}));
    const WORD expected[10][3] = {
        {65535, 65535, 65535}, {54227, 54227, 54227}, {43433, 43433, 43433}, {0, 0, 0},
        {65535, 0, 0},         {0, 32896, 0},         {0, 0, 65535},         {0, 65535, 65535},
        {65535, 0, 65535},     {65535, 65535, 0}};
    for (LONG mode = 0; mode < 10; ++mode) {
        WORD colour[3];
        CFisheyeFilter::GetBackground(mode, colour);
        EXPECT_EQ(std::vector<WORD>(colour, colour + 3),
                  std::vector<WORD>(expected[mode], expected[mode] + 3));
        for (LONG space : {PravonColorSpace::kRGB8, PravonColorSpace::kRGB16}) {
            const TestPlane plane = MakePlane(30, 20, space, FillPattern::Random, 5);
            const auto built = Build(plane, 1, mode);
            TestPlane out;
            ASSERT_PV_OK(PullAll(built->filter, &out));
            // The corner's ray lies outside this lens's field: the corner shows the background.
            const ULONG scale = space == PravonColorSpace::kRGB8 ? 257 : 1;
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(out.Sample(0, 0, c), expected[mode][c] / scale) << "mode " << mode;
        }
    }
}

TEST_F(Fisheye, WithTablesBPixelsWithoutASourceKeepWhatTheTileHeld) {
    ASSERT_TRUE(lens.Write(
        {"--lens", "equidistant:100", "--first", "rectilinear:170", "--second", "rectilinear:170"}));
    const TestPlane plane = MakePlane(30, 20, PravonColorSpace::kRGB16, FillPattern::Random, 9);
    const auto built = Build(plane, 1, 4);
    CFisheyeFilter* filter = built->filter;
    TestPlane red;
    ASSERT_PV_OK(PullAll(filter, &red));
    ASSERT_EQ(red.Sample(0, 0, 0), 65535u);
    ASSERT_PV_OK(filter->SetTableFlag(0, true));
    TestPlane out;
    ASSERT_PV_OK(PullAll(filter, &out));
    const std::vector<double> table = BackTable(0);
    EXPECT_TRUE(PlanesMatch(Reference(plane, table.data(), false, 4, red), out));
    EXPECT_EQ(out.Sample(0, 0, 0), 65535u) << "the corner still shows the red of the earlier pass";
}

TEST_F(Fisheye, SettersCompareStoreAndAnnounceTheWholePicture) {
    const TestPlane plane = MakePlane(30, 20, PravonColorSpace::kRGB8, FillPattern::Gradient);
    const auto built = Build(plane, 0, 3);
    CFisheyeFilter* filter = built->filter;
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(filter, &recorder));
    recorder.Clear();

    EXPECT_PV_OK(filter->SetMode(3, true));
    EXPECT_PV_OK(filter->SetTableFlag(0, true));
    EXPECT_TRUE(recorder.heard.empty()) << "unchanged values announce nothing";
    EXPECT_PV_KIND(filter->SetMode(10, true), PravonKind::kBadArgument);
    EXPECT_PV_KIND(filter->SetMode(-1, true), PravonKind::kBadArgument);
    EXPECT_EQ(filter->GetMode(), 3);
    EXPECT_TRUE(recorder.heard.empty());

    EXPECT_PV_OK(filter->SetMode(8, true));
    EXPECT_PV_OK(filter->SetTableFlag(1, true));
    EXPECT_PV_OK(filter->SetTableFlag(0, false));
    ASSERT_EQ(recorder.heard.size(), 2u);
    for (const auto& heard : recorder.heard) {
        EXPECT_EQ(heard.type, PravonNotification::kData);
        ASSERT_TRUE(heard.rect);
        EXPECT_EQ(heard.rect->right, 30);
        EXPECT_EQ(heard.rect->bottom, 20);
        EXPECT_EQ(heard.rect->left, 0);
    }
    ASSERT_PV_OK(filter->Enable(false, false));
    recorder.Clear();
    EXPECT_PV_OK(filter->SetMode(2, true));
    EXPECT_TRUE(recorder.heard.empty()) << "a disabled filter announces nothing";
    EXPECT_EQ(filter->GetMode(), 2);
    EXPECT_PV_OK(PravonDisconnect(filter, &recorder));
}

TEST_F(Fisheye, PointsAndRectanglesMapThroughTheTablesOfTheFlag) {
    const TestPlane plane = MakePlane(200, 80, PravonColorSpace::kRGB8, FillPattern::Constant, 1);
    const auto built = Build(plane, 0, 3, 64);
    CFisheyeFilter* filter = built->filter;
    const Info* info = filter->GetLensInformation();
    for (BYTE flag : {0, 1}) {
        ASSERT_PV_OK(filter->SetTableFlag(flag, false));
        const CFisheyeGeometry back(info->GetTable(flag ? Info::kTableA : Info::kTableB), 200, 80);
        const CFisheyeGeometry forward(info->GetTable(flag ? Info::kTableC : Info::kTableD), 200, 80);
        double x = 150.5, y = 12.25, ex = x, ey = y;
        ASSERT_PV_OK(filter->DefilterPoint(&x, &y, nullptr, 0));
        back.MapHeld(ex, ey);
        EXPECT_EQ(x, ex);
        EXPECT_EQ(y, ey);
        x = ex = 150.5, y = ey = 12.25;
        ASSERT_PV_OK(filter->FilterPoint(&x, &y, nullptr, 0));
        forward.MapHeld(ex, ey);
        EXPECT_EQ(x, ex);
        EXPECT_EQ(y, ey);
        LONG ix = 100, iy = 40;
        ASSERT_PV_OK(filter->DefilterPoint(&ix, &iy, nullptr, 0));
        EXPECT_EQ(ix, 100) << "the centre maps to itself";
        EXPECT_EQ(iy, 40);
        ASSERT_PV_OK(filter->FilterPoint(&ix, &iy, nullptr, 0));
        EXPECT_EQ(ix, 100);
        EXPECT_EQ(iy, 40);

        PravonRect rect{90, 10, 130, 40};
        ASSERT_PV_OK(filter->DefilterRect(&rect, nullptr, 0));
        const PravonDblRect expected = back.MapRect({90, 10, 130, 40});
        EXPECT_EQ(rect.left, expected.left);
        EXPECT_EQ(rect.top, expected.top);
        EXPECT_EQ(rect.right, expected.right);
        EXPECT_EQ(rect.bottom, expected.bottom);
        PravonDblRect forwardRect{20, 30, 60, 70};
        ASSERT_PV_OK(filter->FilterRect(&forwardRect, nullptr, 0));
        const PravonDblRect forwardExpected = forward.MapRect({20, 30, 60, 70});
        EXPECT_EQ(forwardRect.left, forwardExpected.left);
        EXPECT_EQ(forwardRect.bottom, forwardExpected.bottom);
    }

    // The size comes from the source given to the call.
    const TestPlane small = MakePlane(20, 10, PravonColorSpace::kRGB8, FillPattern::Constant, 1);
    PravonImagePtr other = MakeImage(built->manager, small);
    IPravonDataSource* const given[1] = {other.get()};
    LONG cx = 10, cy = 5;
    ASSERT_PV_OK(filter->DefilterPoint(&cx, &cy, given, 1));
    EXPECT_EQ(cx, 10);
    EXPECT_EQ(cy, 5);
    LONG far = 150, low = 70;
    ASSERT_PV_OK(filter->DefilterPoint(&far, &low, given, 1));
    EXPECT_LE(far, 20) << "held to the given source's width";
    EXPECT_LE(low, 10);

    ASSERT_PV_OK(filter->Enable(false, false));
    double x = 150.5, y = 12.25;
    ASSERT_PV_OK(filter->DefilterPoint(&x, &y, nullptr, 0));
    EXPECT_EQ(x, 150.5) << "a disabled filter moves nothing";
    EXPECT_EQ(y, 12.25);
}

TEST_F(Fisheye, AOnePixelPictureRemapsWithoutDividingByNothing) {
    const TestPlane plane = MakePlane(1, 1, PravonColorSpace::kRGB16, FillPattern::Constant, 1234);
    TestPlane out;
    ASSERT_TRUE(SameAtEveryTileSize(Builder(plane, 1, 0), &out));
    EXPECT_TRUE(PlanesMatch(plane, out));
    const auto built = Build(plane, 1, 0, 7);
    PravonRect rect{0, 0, 1, 1};
    ASSERT_PV_OK(built->filter->DefilterRect(&rect, nullptr, 0));
    EXPECT_EQ(rect.right, 1);
    EXPECT_EQ(rect.bottom, 1);
}

TEST_F(Fisheye, TwoFiltersShareOneLensAndReleaseItInEitherOrder) {
    for (bool firstGoesFirst : {true, false}) {
        auto* first = new CFisheyeFilter(nullptr);
        auto* second = new CFisheyeFilter(nullptr);
        ASSERT_PV_OK(first->SelectLensModel(tags.Get()));
        ASSERT_PV_OK(second->SelectLensModel(tags.Get()));
        EXPECT_EQ(first->GetLensInformation(), second->GetLensInformation());
        EXPECT_EQ(CFisheyeLensCache::GetEntryCount(), 1u);
        CFisheyeFilter* early = firstGoesFirst ? first : second;
        CFisheyeFilter* late = firstGoesFirst ? second : first;
        delete early;
        EXPECT_TRUE(late->HasLensData());
        EXPECT_EQ(CFisheyeLensCache::GetEntryCount(), 1u);
        delete late;
        EXPECT_EQ(CFisheyeLensCache::GetEntryCount(), 0u);
    }
}

TEST_F(Fisheye, WithoutALensOrWithAWrongSourceThereIsNoOutput) {
    const TestPlane plane = MakePlane(20, 10, PravonColorSpace::kRGB16, FillPattern::Constant, 1);
    CPravonMemoryManager manager(16);
    PravonImagePtr source = MakeImage(manager, plane);
    CFisheyeFilter filter(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    EXPECT_FALSE(filter.HasLensData());
    double x = 3.5, y = 1.25;
    EXPECT_PV_OK(filter.DefilterPoint(&x, &y, nullptr, 0));
    EXPECT_EQ(x, 3.5) << "nothing moves before a lens is selected";
    EXPECT_EQ(y, 1.25);
    TestPlane out;
    PravonErrorPtr uninitialised(PullAll(&filter, &out));
    ASSERT_TRUE(uninitialised);
    EXPECT_TRUE(uninitialised->HasText("Fisheye Filter not initialized"));

    PravonErrorPtr unknown(filter.SelectLensModel(nullptr));
    ASSERT_TRUE(unknown);
    EXPECT_TRUE(unknown->HasText("Error: fisheye lens model is not supported."));
    EXPECT_EQ(unknown->GetComponent(), CFisheyeFilter::kCode);

    ASSERT_TRUE(lens.Write({"--cut", "131094"}));
    PravonErrorPtr rejected(filter.SelectLensModel(tags.Get()));
    ASSERT_TRUE(rejected);
    EXPECT_EQ(rejected->GetKind(), KvLensFileKind::kRejected);
    EXPECT_FALSE(filter.HasLensData());

    ASSERT_TRUE(lens.Write({}));
    ASSERT_PV_OK(filter.SelectLensModel(tags.Get()));
    ASSERT_PV_OK(PullAll(&filter, &out));
    const TestPlane grey = MakePlane(20, 10, PravonColorSpace::kGrey16, FillPattern::Constant, 1);
    PravonImagePtr wrong = MakeImage(manager, grey);
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(wrong.get(), &filter));
    PravonErrorPtr badSpace(PullAll(&filter, &out));
    ASSERT_TRUE(badSpace);
    EXPECT_EQ(badSpace->GetKind(), PravonKind::kUnsupportedColorSpace);
    EXPECT_TRUE(badSpace->HasText("Bad source data color space"));
    ASSERT_PV_OK(PravonDisconnect(wrong.get(), &filter));
}

} // namespace

namespace {

using namespace kvtest;

// A source change makes invalid every output pixel whose 4 x 4 source pixels reach into it, and not much
// besides; pulling again gives what a fresh filter makes of the changed source.
TEST_F(Fisheye, ASourceChangeInvalidatesTheOutputThatReadsIt) {
    const PravonRect changes[] = {{27, 20, 30, 23}, {3, 3, 6, 5}, {50, 30, 53, 33}, {0, 40, 60, 44}};
    for (BYTE flag : {0, 1}) {
        for (const PravonRect& change : changes) {
            SCOPED_TRACE(testing::Message()
                         << "flag " << int(flag) << ", change at " << change.left << ", " << change.top);
            const TestPlane before = MakePlane(60, 44, PravonColorSpace::kRGB16, FillPattern::Random, 3);
            const auto built = Build(before, flag, 5);
            CFisheyeFilter* filter = built->filter;
            TestPlane pulled;
            ASSERT_PV_OK(PullAll(filter, &pulled));

            TestPlane after = before;
            for (LONG y = change.top; y < change.bottom; ++y)
                for (LONG x = change.left; x < change.right; ++x)
                    for (int c = 0; c < 3; ++c)
                        after.SetSample(x, y, c, 65535 - before.Sample(x, y, c));
            IPravonImage* source = nullptr;
            {
                IPravonDataSource* const* sources = nullptr;
                LONG count = 0;
                filter->GetSources(&sources, &count);
                ASSERT_EQ(count, 1);
                source = static_cast<IPravonImage*>(sources[0]);
            }
            ASSERT_PV_OK(WritePlane(source, after));
            PravonRect changed = change;
            ASSERT_PV_OK(PravonSendDataNotification(source, PravonNotification::kData, &changed));
            TestPlane invalid;
            ASSERT_PV_OK(InvalidArea(filter, &invalid));

            const std::vector<double> table = BackTable(flag);
            const CFisheyeGeometry geometry(table.data(), 60, 44);
            LONG needed = 0, extra = 0;
            for (LONG y = 0; y < 44; ++y) {
                for (LONG x = 0; x < 60; ++x) {
                    double sx = x, sy = y;
                    geometry.Map(sx, sy);
                    bool reads = false;
                    if (sx >= 0 && sx < 60 && sy >= 0 && sy < 44) {
                        const LONG i0 = static_cast<LONG>(sx), j0 = static_cast<LONG>(sy);
                        const LONG left = std::max<LONG>(i0 - 1, 0), right = std::min<LONG>(i0 + 2, 59);
                        const LONG top = std::max<LONG>(j0 - 1, 0), bottom = std::min<LONG>(j0 + 2, 43);
                        reads = left < change.right && right >= change.left && top < change.bottom &&
                                bottom >= change.top;
                    }
                    if (reads) {
                        ++needed;
                        EXPECT_EQ(invalid.Sample(x, y, 0), 1u) << "output pixel " << x << ", " << y;
                    } else if (invalid.Sample(x, y, 0) == 1) {
                        ++extra;
                    }
                }
            }
            EXPECT_GT(needed, 0);
            // The area is the box of the change mapped forward, rounded outward: about as much again.
            EXPECT_LE(extra, 2 * needed + 16) << "the invalid area reaches far past what reads the change";

            TestPlane again;
            ASSERT_PV_OK(PullAll(filter, &again));
            const auto fresh = Build(after, flag, 5);
            TestPlane expected;
            ASSERT_PV_OK(PullAll(fresh->filter, &expected));
            if (flag == 1) {
                EXPECT_TRUE(PlanesMatch(expected, again));
            } else {
                // Pixels without a source keep what the tile held; everywhere else the output is the fresh
                // one.
                for (LONG y = 0; y < 44; ++y) {
                    for (LONG x = 0; x < 60; ++x) {
                        double sx = x, sy = y;
                        geometry.Map(sx, sy);
                        if (!(sx >= 0 && sx < 60 && sy >= 0 && sy < 44))
                            continue;
                        for (int c = 0; c < 3; ++c)
                            ASSERT_EQ(again.Sample(x, y, c), expected.Sample(x, y, c)) << x << ", " << y;
                    }
                }
            }
        }
    }
}

} // namespace
