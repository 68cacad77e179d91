#include "filters/CPravonFilterHistogram.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using namespace kvtest;

// A histogram filter whose counted-tile stopwatch a test can read.
class Histogram : public CPravonFilterHistogram {
public:
    using CPravonFilterHistogram::CPravonFilterHistogram;
    using CPravonFilterHistogram::GetChrono;
};

// Records what a filter tells its watchers, the watcher-list changes left out.
class WatcherLog : public CPravonFilterWatcher {
public:
    IPravonError* PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) override {
        if (type != kWatcherChange)
            heard.push_back(type);
        return nullptr;
    }
    std::vector<LONG> heard;
};

// The channels of a colour space as the filter counts them, written out pixel by pixel.
struct Layout {
    const char* name;
    LONG colorSpace;
    LONG nativeBits;
    LONG firstChannel;
    // What channel (first channel + index) counts for the pixel at (x, y).
    std::vector<std::function<ULONG(const TestPlane&, LONG, LONG)>> channels;
};

ULONG S(const TestPlane& p, LONG x, LONG y, LONG c) {
    return p.Sample(x, y, c);
}

const auto kSample0 = [](const TestPlane& p, LONG x, LONG y) { return S(p, x, y, 0); };
const auto kSample1 = [](const TestPlane& p, LONG x, LONG y) { return S(p, x, y, 1); };
const auto kSample2 = [](const TestPlane& p, LONG x, LONG y) { return S(p, x, y, 2); };
const auto kSample3 = [](const TestPlane& p, LONG x, LONG y) { return S(p, x, y, 3); };
const auto kMeanOf3 = [](const TestPlane& p, LONG x, LONG y) {
    return (S(p, x, y, 0) + S(p, x, y, 1) + S(p, x, y, 2)) / 3;
};
const auto kInk = [](const TestPlane& p, LONG x, LONG y) {
    return (S(p, x, y, 0) + S(p, x, y, 1) + 2 * S(p, x, y, 2)) / 4;
};

const std::vector<Layout>& Layouts() {
    static const std::vector<Layout> layouts = {
        {"grey 8", PravonColorSpace::kGrey8, 8, 0, {kSample0}},
        {"palette 8", 0x08020100, 8, 0, {kSample0}},
        {"RGB 8", PravonColorSpace::kRGB8, 8, 0, {kMeanOf3, kSample0, kSample1, kSample2}},
        {"BGR 8", PravonColorSpace::kBGR8, 8, 0, {kMeanOf3, kSample0, kSample1, kSample2}},
        {"LCh 8", PravonColorSpace::kLCh8, 8, 1, {kSample0, kSample1, kSample2}},
        {"Lab 8", PravonColorSpace::kLab8, 8, 1, {kSample0, kSample1, kSample2}},
        {"YCbCr 8", 0x08060205, 8, 1, {kSample0, kSample1, kSample2}},
        {"CMYK 8", PravonColorSpace::kCMYK8, 8, 0, {kInk, kSample0, kSample1, kSample2, kSample3}},
        {"grey 16", PravonColorSpace::kGrey16, 16, 0, {kSample0}},
        {"mosaic 16", PravonColorSpace::kRawMosaic16, 16, 0, {kSample0}},
        {"mosaic 16 (second)", 0x10020402, 16, 0, {kSample0}},
        {"RGB 16", PravonColorSpace::kRGB16, 16, 0, {kMeanOf3, kSample0, kSample1, kSample2}},
        {"LCh 16", PravonColorSpace::kLCh16, 16, 1, {kSample0, kSample1, kSample2}},
        {"Lab 16", PravonColorSpace::kLab16, 16, 1, {kSample0, kSample1, kSample2}},
        {"YCbCr 16", PravonColorSpace::kYCbCr16, 16, 1, {kSample0, kSample1, kSample2}},
    };
    return layouts;
}

// Counts every pixel of area (already cut to the plane) directly.
std::vector<std::vector<ULONG>> DirectCount(const TestPlane& plane, const Layout& layout,
                                            const PravonRect& area) {
    std::vector<std::vector<ULONG>> bins(layout.channels.size(), std::vector<ULONG>(1u << layout.nativeBits));
    for (LONG y = area.top; y < area.bottom; ++y)
        for (LONG x = area.left; x < area.right; ++x)
            for (std::size_t c = 0; c < layout.channels.size(); ++c)
                ++bins[c][layout.channels[c](plane, x, y)];
    return bins;
}

::testing::AssertionResult CountsMatch(const CPravonFilterHistogram& histogram, const Layout& layout,
                                       const std::vector<std::vector<ULONG>>& expected) {
    if (histogram.GetNativeBits() != layout.nativeBits)
        return ::testing::AssertionFailure() << "native bits " << histogram.GetNativeBits();
    for (std::size_t c = 0; c < expected.size(); ++c) {
        std::vector<ULONG> bins(expected[c].size());
        const LONG channel = layout.firstChannel + static_cast<LONG>(c);
        if (histogram.GetHistogram(channel, bins.data(), layout.nativeBits) != layout.nativeBits)
            return ::testing::AssertionFailure() << "channel " << channel << " delivered nothing";
        for (std::size_t i = 0; i < bins.size(); ++i)
            if (bins[i] != expected[c][i])
                return ::testing::AssertionFailure() << "channel " << channel << ", entry " << i << ": "
                                                     << bins[i] << " instead of " << expected[c][i];
    }
    return ::testing::AssertionSuccess();
}

// A plane under a histogram filter, with a recorder downstream.
struct Counted {
    explicit Counted(const TestPlane& p, LONG tileSize = 16)
        : manager(tileSize), plane(p), source(MakeImage(manager, plane)), histogram(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &histogram));
        EXPECT_PV_OK(PravonConnect(&histogram, &recorder));
    }
    ~Counted() {
        PravonErrorPtr(PravonDisconnect(&histogram, &recorder));
        PravonErrorPtr(PravonDisconnect(source.get(), &histogram));
    }
    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    Histogram histogram;
    NotificationRecorder recorder;
};

TEST(HistogramFilter, CountsEveryLayoutAsADirectCountDoesAtEveryTileSizeAndPullOrder) {
    const PravonRect crops[] = {{0, 0, 0, 0}, {5, 3, 29, 17}, {29, 17, 5, 3}, {-4, -9, 100, 8}};
    for (const Layout& layout : Layouts()) {
        const TestPlane plane = MakePlane(37, 23, layout.colorSpace, FillPattern::Random, 11);
        for (const PravonRect& crop : crops) {
            const CPravonRect whole(0, 0, plane.width, plane.height);
            const CPravonRect area =
                crop == CPravonRect()
                    ? whole
                    : CPravonRect(std::min(crop.left, crop.right), std::min(crop.top, crop.bottom),
                                  std::max(crop.left, crop.right), std::max(crop.top, crop.bottom))
                          .Intersect(whole);
            const auto expected = DirectCount(plane, layout, area);
            for (LONG tileSize : kSweepTileSizes) {
                for (bool grid : {false, true}) {
                    Counted c(plane, tileSize);
                    ASSERT_PV_OK(c.histogram.SetCrop(crop));
                    TestPlane out;
                    ASSERT_PV_OK(PullAll(&c.histogram, &out, PullOrder::RandomOrder, 3, grid));
                    EXPECT_TRUE(PlanesMatch(plane, out)) << "the source passes through unchanged";
                    EXPECT_TRUE(c.histogram.IsComplete());
                    EXPECT_TRUE(CountsMatch(c.histogram, layout, expected))
                        << layout.name << ", crop " << crop.left << "," << crop.top << "," << crop.right
                        << "," << crop.bottom << ", tiles of " << tileSize << (grid ? ", grid locks" : "");
                }
            }
        }
    }
}

TEST(HistogramFilter, AnRgbPixelCountsItsMeanAndEachSample) {
    TestPlane plane(1, 1, PravonColorSpace::kRGB8);
    plane.SetSample(0, 0, 0, 10);
    plane.SetSample(0, 0, 1, 20);
    plane.SetSample(0, 0, 2, 60);
    Counted c(plane);
    ASSERT_PV_OK(c.histogram.ForceCompletion());
    const struct {
        LONG channel;
        ULONG entry;
    } ones[] = {{0, 30}, {1, 10}, {2, 20}, {3, 60}};
    for (const auto& one : ones) {
        const ULONG* bins = c.histogram.ReadHistogram(one.channel);
        ASSERT_NE(bins, nullptr);
        for (ULONG i = 0; i < 256; ++i)
            EXPECT_EQ(bins[i], i == one.entry ? 1u : 0u) << "channel " << one.channel << ", entry " << i;
    }
    EXPECT_EQ(c.histogram.ReadHistogram(4), nullptr);
}

TEST(HistogramFilter, AnotherColourSpaceCompletesWithoutCountingAnything) {
    Counted c(MakePlane(20, 20, 0x08040001, FillPattern::Random, 2)); // two 8-bit channels
    ASSERT_PV_OK(c.histogram.ForceCompletion());
    EXPECT_TRUE(c.histogram.IsComplete());
    std::vector<ULONG> bins(256, 7);
    ASSERT_EQ(c.histogram.GetHistogram(0, bins.data(), 8), 8);
    EXPECT_EQ(bins, std::vector<ULONG>(256, 0));
}

TEST(HistogramFilter, ATileLockedTwiceIsCountedOnce) {
    Counted c(MakePlane(40, 40, PravonColorSpace::kGrey8, FillPattern::Constant, 9));
    for (int i = 0; i < 2; ++i) {
        void* data = nullptr;
        ASSERT_PV_OK(c.histogram.LockTile(1, 1, &data, nullptr));
        ASSERT_PV_OK(c.histogram.UnlockTile(1, 1));
    }
    EXPECT_EQ(c.histogram.ReadHistogram(0)[9], 256u) << "one 16 x 16 tile";
    EXPECT_EQ(c.histogram.GetChrono().Counter(), 1);
    EXPECT_EQ(c.manager.GetLockCount(), 0);
}

TEST(HistogramFilter, FewerBitsSumTheNativeEntriesAndMoreBitsAreCutToTheNativeOnes) {
    Counted wide(MakePlane(30, 20, PravonColorSpace::kGrey16, FillPattern::Random, 5));
    ASSERT_PV_OK(wide.histogram.ForceCompletion());
    const ULONG* native = wide.histogram.ReadHistogram(0);
    std::vector<ULONG> bins(256);
    ASSERT_EQ(wide.histogram.GetHistogram(0, bins.data(), 8), 8);
    for (std::size_t k = 0; k < 256; ++k) {
        ULONG sum = 0;
        for (std::size_t i = 0; i < 256; ++i)
            sum += native[k * 256 + i];
        EXPECT_EQ(bins[k], sum) << "entry " << k;
    }
    ULONG total = 0;
    ASSERT_EQ(wide.histogram.GetHistogram(0, &total, 0), 0) << "no bits, nothing delivered";
    EXPECT_EQ(total, 0u);

    Counted narrow(MakePlane(30, 20, PravonColorSpace::kLab8, FillPattern::Random, 5));
    ASSERT_PV_OK(narrow.histogram.ForceCompletion());
    std::vector<ULONG> ten(1024);
    EXPECT_EQ(narrow.histogram.GetHistogram(1, ten.data(), 10), 8);
    EXPECT_EQ(narrow.histogram.GetHistogram(0, ten.data(), 8), 0) << "Lab counts channels 1 to 3";
    EXPECT_EQ(narrow.histogram.GetHistogram(4, ten.data(), 8), 0);
    EXPECT_EQ(narrow.histogram.GetHistogram(1, nullptr, 8), 0);
}

TEST(HistogramFilter, EachCountedTileIsAnnouncedAndTheLastAsComplete) {
    Counted c(MakePlane(40, 33, PravonColorSpace::kRGB8, FillPattern::Random, 1)); // 3 x 3 tiles of 16
    WatcherLog watcher;
    ASSERT_PV_OK(c.histogram.AddWatcher(&watcher));
    ASSERT_PV_OK(c.histogram.ForceCompletion());
    std::vector<LONG> user;
    for (const auto& heard : c.recorder.heard) {
        EXPECT_EQ(heard.data, static_cast<void*>(&c.histogram));
        user.push_back(heard.type);
    }
    std::vector<LONG> grew(8, CPravonFilterHistogram::kHistogramGrew);
    grew.push_back(CPravonFilterHistogram::kHistogramComplete);
    EXPECT_EQ(user, grew);
    std::vector<LONG> watched(8, FourCC("hsto"));
    watched.push_back(FourCC("hstp"));
    EXPECT_EQ(watcher.heard, watched);
    EXPECT_EQ(c.histogram.GetChrono().Counter(), 9);
    ASSERT_PV_OK(c.histogram.RemoveWatcher(&watcher));
}

TEST(HistogramFilter, NoTimeSetsTheHistogramUpButCountsNothing) {
    Counted c(MakePlane(40, 33, PravonColorSpace::kGrey8, FillPattern::Random, 1));
    EXPECT_EQ(c.histogram.GetNativeBits(), 0);
    ASSERT_PV_OK(c.histogram.SpendTime(0));
    EXPECT_EQ(c.histogram.GetNativeBits(), 8);
    EXPECT_FALSE(c.histogram.IsComplete());
    std::vector<ULONG> bins(256, 1);
    ASSERT_EQ(c.histogram.GetHistogram(0, bins.data(), 8), 8);
    EXPECT_EQ(bins, std::vector<ULONG>(256, 0));
    EXPECT_TRUE(c.recorder.heard.empty());
}

// A clock for the time slices that moves one millisecond each time it is read.
class SteppingClock : public ::testing::Test {
protected:
    void SetUp() override {
        s_now = 1;
        CTalvoTime::SetClockForTesting(&Read);
    }
    void TearDown() override {
        CTalvoTime::SetClockForTesting(nullptr);
        s_step = kMillisecond;
    }
    static ULONGLONG Read() { return s_now += s_step; }

    static constexpr ULONGLONG kMillisecond = 1'000'000; // the counter counts nanoseconds
    static inline ULONGLONG s_now = 1;
    static inline ULONGLONG s_step = kMillisecond;
};

TEST_F(SteppingClock, SlicesOfTimeCountLowestTilesFirstAndEndAsOnePassEnds) {
    const TestPlane plane =
        MakePlane(70, 45, PravonColorSpace::kRGB16, FillPattern::Random, 8); // 5 x 3 tiles
    Counted sliced(plane);
    int slices = 0;
    std::vector<int> countedAfterSlice;
    while (!sliced.histogram.IsComplete() && slices < 100) {
        ASSERT_PV_OK(sliced.histogram.SpendTime(4));
        ++slices;
        countedAfterSlice.push_back(sliced.histogram.GetChrono().Counter());
    }
    ASSERT_TRUE(sliced.histogram.IsComplete());
    EXPECT_GT(slices, 2) << "each slice counts only a few tiles";
    for (std::size_t i = 1; i < countedAfterSlice.size(); ++i)
        EXPECT_GT(countedAfterSlice[i], countedAfterSlice[i - 1]) << "every slice counts something";
    // Lowest index first: the first slice's tiles are the top row's, from the left.
    Counted first(plane);
    ASSERT_PV_OK(first.histogram.SpendTime(4));
    const int counted = first.histogram.GetChrono().Counter();
    ASSERT_GT(counted, 0);
    ASSERT_LT(counted, 5);
    for (LONG column = 0; column < 5; ++column) {
        const ULONG before = static_cast<ULONG>(first.histogram.GetChrono().Counter());
        void* data = nullptr;
        ASSERT_PV_OK(first.histogram.LockTile(column, 0, &data, nullptr));
        ASSERT_PV_OK(first.histogram.UnlockTile(column, 0));
        const bool wasCounted = static_cast<ULONG>(first.histogram.GetChrono().Counter()) == before;
        EXPECT_EQ(wasCounted, column < counted) << "column " << column;
    }

    Counted whole(plane);
    ASSERT_PV_OK(whole.histogram.ForceCompletion());
    for (LONG channel = 0; channel < 4; ++channel) {
        std::vector<ULONG> a(65536);
        std::vector<ULONG> b(65536);
        ASSERT_EQ(sliced.histogram.GetHistogram(channel, a.data(), 16), 16);
        ASSERT_EQ(whole.histogram.GetHistogram(channel, b.data(), 16), 16);
        EXPECT_EQ(a, b) << "channel " << channel;
    }
}

TEST_F(SteppingClock, ADisabledFilterDoesNotSpinThroughItsSlice) {
    s_step = 0; // time stands still: only the lack of progress can end the slice
    Counted c(MakePlane(40, 40, PravonColorSpace::kGrey8, FillPattern::Random, 3));
    ASSERT_PV_OK(c.histogram.Enable(false, true));
    EXPECT_FALSE(c.histogram.IsEnabled());
    ASSERT_PV_OK(c.histogram.SpendTime(10));
    ASSERT_PV_OK(c.histogram.ForceCompletion());
    EXPECT_FALSE(c.histogram.IsComplete());
    EXPECT_EQ(c.histogram.GetChrono().Counter(), 0);
    EXPECT_TRUE(c.recorder.heard.empty()) << "enabling and disabling send nothing";
    ASSERT_PV_OK(c.histogram.Enable(true, true));
    ASSERT_PV_OK(c.histogram.SpendTime(10));
    EXPECT_TRUE(c.histogram.IsComplete()) << "a clock that stands still leaves the slice to the tiles";
}

TEST(HistogramFilter, ChangesOfThePixelsStartAgainAndOtherNotificationsDoNot) {
    using namespace PravonNotification;
    struct Case {
        LONG type;
        bool resets;
    };
    const Case cases[] = {{kData, true},      {kSize, true},     {kColorSpace, true}, {kResolution, false},
                          {kTransform, true}, {kPalette, false}, {kDestroyed, true},  {kUpdateAll, true},
                          {8, false},         {-5, false}};
    for (const Case& k : cases) {
        Counted c(MakePlane(20, 20, PravonColorSpace::kGrey8, FillPattern::Random, 4));
        ASSERT_PV_OK(c.histogram.ForceCompletion());
        c.recorder.Clear();
        CPravonRect whole(0, 0, 20, 20);
        IPravonDataDestination::ChangeSize size{20, 20, 20, 20};
        void* data = k.type == kData ? static_cast<void*>(&whole) : k.type == kSize ? &size : nullptr;
        ASSERT_PV_OK(PravonSendDataNotification(c.source.get(), k.type, data));
        EXPECT_EQ(c.histogram.IsComplete(), !k.resets) << "type " << k.type;
        ASSERT_EQ(c.recorder.heard.size(), 1u) << "type " << k.type << " goes on";
        EXPECT_EQ(c.recorder.heard[0].type, k.type);
        EXPECT_EQ(c.recorder.heard[0].data, data);
        if (k.resets) {
            EXPECT_EQ(c.histogram.ReadHistogram(0), nullptr) << "type " << k.type;
            ASSERT_PV_OK(c.histogram.ForceCompletion());
            EXPECT_TRUE(c.histogram.IsComplete()) << "counted again after type " << k.type;
        }
    }
}

TEST(HistogramFilter, ANewCropStartsAgainAndTheSameOneKeepsTheCounts) {
    Counted c(MakePlane(40, 40, PravonColorSpace::kGrey8, FillPattern::Constant, 3));
    ASSERT_PV_OK(c.histogram.ForceCompletion());
    ASSERT_PV_OK(c.histogram.SetCrop(PravonRect{0, 0, 0, 0}));
    EXPECT_TRUE(c.histogram.IsComplete());
    ASSERT_PV_OK(c.histogram.SetCrop(PravonRect{10, 10, 20, 30}));
    EXPECT_EQ(c.histogram.GetCrop(), (PravonRect{10, 10, 20, 30}));
    EXPECT_FALSE(c.histogram.IsComplete());
    ASSERT_PV_OK(c.histogram.ForceCompletion());
    EXPECT_EQ(c.histogram.ReadHistogram(0)[3], 200u);
    EXPECT_EQ(c.histogram.GetChrono().Counter(), 9 + 4)
        << "the whole image's 3 x 3 tiles, then the crop's 2 x 2";
}

TEST(HistogramFilter, WithoutExactlyOneSourceEverythingReportsNoSource) {
    CPravonMemoryManager manager(16);
    CPravonFilterHistogram histogram(&manager);
    LONG value = 0;
    void* data = nullptr;
    EXPECT_PV_KIND(histogram.GetWidth(&value), PravonKind::kNoSource);
    EXPECT_PV_KIND(histogram.GetColorSpace(&value), PravonKind::kNoSource);
    EXPECT_PV_KIND(histogram.LockTile(0, 0, &data, nullptr), PravonKind::kNoSource);
    EXPECT_PV_KIND(histogram.SpendTime(5), PravonKind::kNoSource);
    EXPECT_PV_KIND(histogram.ForceCompletion(), PravonKind::kNoSource);
    EXPECT_PV_KIND(histogram.SetCrop(PravonRect{1, 1, 2, 2}), PravonKind::kNoSource);
    EXPECT_FALSE(histogram.IsComplete());

    const TestPlane plane = MakePlane(8, 8, PravonColorSpace::kGrey8, FillPattern::Random, 1);
    PravonImagePtr a = MakeImage(manager, plane);
    PravonImagePtr b = MakeImage(manager, plane);
    ASSERT_PV_OK(PravonConnect(a.get(), &histogram));
    ASSERT_PV_OK(PravonConnect(b.get(), &histogram));
    EXPECT_PV_KIND(histogram.GetWidth(&value), PravonKind::kNoSource);
    ASSERT_PV_OK(PravonDisconnect(b.get(), &histogram));
    ASSERT_PV_OK(histogram.GetWidth(&value));
    EXPECT_EQ(value, 8);
    ASSERT_PV_OK(PravonDisconnect(a.get(), &histogram));
}

TEST(HistogramFilter, ANewSourceIsCountedAfresh) {
    CPravonMemoryManager manager(16);
    Histogram histogram(&manager);
    PravonImagePtr first =
        MakeImage(manager, MakePlane(8, 8, PravonColorSpace::kGrey8, FillPattern::Constant, 1));
    PravonImagePtr second =
        MakeImage(manager, MakePlane(8, 8, PravonColorSpace::kGrey8, FillPattern::Constant, 2));
    ASSERT_PV_OK(PravonConnect(first.get(), &histogram));
    ASSERT_PV_OK(histogram.ForceCompletion());
    ASSERT_PV_OK(PravonDisconnect(first.get(), &histogram));
    ASSERT_PV_OK(PravonConnect(second.get(), &histogram));
    EXPECT_FALSE(histogram.IsComplete());
    ASSERT_PV_OK(histogram.ForceCompletion());
    EXPECT_EQ(histogram.ReadHistogram(0)[1], 0u);
    EXPECT_EQ(histogram.ReadHistogram(0)[2], 64u);
    ASSERT_PV_OK(PravonDisconnect(second.get(), &histogram));
}

PravonImagePtr NewImage(IPravonManager& manager) {
    IPravonImage* raw = nullptr;
    EXPECT_PV_OK(manager.CreateImage(1, &raw));
    return PravonImagePtr(raw);
}

TEST(HistogramFilter, APassCopiesTheSourceAndCountsTheWholeImage) {
    const TestPlane plane = MakePlane(45, 30, PravonColorSpace::kRGB8, FillPattern::Random, 6);
    Counted c(plane);
    ASSERT_PV_OK(c.histogram.SetCrop(PravonRect{0, 0, 5, 5}));
    PravonImagePtr image = NewImage(c.manager);
    IPravonDataSource* sources[] = {c.source.get()};
    LONG id = 0;
    ASSERT_PV_OK(c.histogram.BeginProcess(&id, sources, 1, image.get()));
    EXPECT_EQ(id, CPravonFilterHistogram::kPassID);
    EXPECT_EQ(c.histogram.GetCrop(), PravonRect{}) << "a pass counts the whole image";
    LONG other = 0;
    EXPECT_PV_KIND(c.histogram.BeginProcess(&other, sources, 1, image.get()), PravonKind::kPassOpen);
    EXPECT_PV_KIND(c.histogram.ExecuteProcess(2, nullptr, nullptr), PravonKind::kNoSuchPass);
    IPravonDataSource* const* passSources = nullptr;
    LONG count = 0;
    IPravonImage* passImage = nullptr;
    ASSERT_PV_OK(c.histogram.GetProcessInfo(id, &passSources, &count, &passImage));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(passSources[0], c.source.get());
    EXPECT_EQ(passImage, image.get());

    std::vector<std::pair<LONG, LONG>> progress;
    LONG done = 0;
    LONG total = 1;
    while (done < total) {
        ASSERT_PV_OK(c.histogram.ExecuteProcess(id, &done, &total));
        progress.emplace_back(done, total);
    }
    const std::vector<std::pair<LONG, LONG>> expected = {{1, 6}, {2, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}};
    EXPECT_EQ(progress, expected) << "3 x 2 tiles of 16";
    ASSERT_PV_OK(c.histogram.ExecuteProcess(id, &done, &total));
    EXPECT_EQ(done, 0);
    EXPECT_EQ(total, 0);
    ASSERT_PV_OK(c.histogram.EndProcess(id));
    EXPECT_PV_KIND(c.histogram.EndProcess(id), PravonKind::kNoSuchPass);

    TestPlane copied;
    ASSERT_PV_OK(PullAll(image.get(), &copied));
    EXPECT_TRUE(PlanesMatch(plane, copied));
    EXPECT_TRUE(
        CountsMatch(c.histogram, Layouts()[2], DirectCount(plane, Layouts()[2], CPravonRect(0, 0, 45, 30))));
    EXPECT_EQ(c.manager.GetLockCount(), 0);
}

TEST(HistogramFilter, APassRefusesAnImageOfAnotherTileLayoutAndEndsAtOnceOnAnEmptyImage) {
    const TestPlane plane = MakePlane(45, 30, PravonColorSpace::kGrey16, FillPattern::Random, 6);
    Counted c(plane);
    CPravonMemoryManager other(32);
    PravonImagePtr image = NewImage(other);
    IPravonDataSource* sources[] = {c.source.get()};
    EXPECT_PV_KIND(c.histogram.Process(sources, 1, image.get()), PravonKind::kBadArgument);
    EXPECT_EQ(c.manager.GetLockCount(), 0);

    ASSERT_PV_OK(c.histogram.Process(sources, 1, nullptr)) << "a pass without an image only counts";
    EXPECT_TRUE(
        CountsMatch(c.histogram, Layouts()[8], DirectCount(plane, Layouts()[8], CPravonRect(0, 0, 45, 30))));

    PravonImagePtr empty = MakeImage(c.manager, TestPlane(0, 0, PravonColorSpace::kGrey8));
    IPravonDataSource* none[] = {empty.get()};
    LONG id = 0;
    ASSERT_PV_OK(c.histogram.BeginProcess(&id, none, 1, nullptr));
    LONG done = 5;
    LONG total = 5;
    ASSERT_PV_OK(c.histogram.ExecuteProcess(id, &done, &total));
    EXPECT_EQ(done, 0);
    EXPECT_EQ(total, 0);
    ASSERT_PV_OK(c.histogram.EndProcess(id));
}

TEST(HistogramFilter, TheSourcePassesThroughAtEveryTileSize) {
    const TestPlane plane = MakePlane(41, 29, PravonColorSpace::kLCh16, FillPattern::Random, 12);
    TestPlane out;
    EXPECT_TRUE(SameAtEveryTileSize(
        [&](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
            IPravonImage* source = graph.Own(MakeImage(manager, plane));
            auto* histogram = graph.Own(new CPravonFilterHistogram(&manager));
            graph.output = histogram;
            return PravonConnect(source, histogram);
        },
        &out));
    EXPECT_TRUE(PlanesMatch(plane, out));
}

} // namespace
