#include "platform/dragkvl1/DRAGKVL1.h"
#include "platform/dragkvl1/DragKvl1Test.h"
#include "platform/dragkvl1/DragToneMap.h"

#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

namespace {

// An image the callbacks read and write: interleaved 16-bit samples. Reads outside are clamped to the
// nearest edge pixel, writes outside are dropped.
struct Picture {
    std::uint32_t width = 0, height = 0, channels = 3;
    std::vector<std::uint16_t> samples;
    Picture* second = nullptr; // grey, read into plane 3
    void* failWith = nullptr;  // the next callback on this picture answers it
    int reads = 0;

    Picture() = default;
    Picture(std::uint32_t w, std::uint32_t h, std::uint32_t c)
        : width(w), height(h), channels(c), samples(static_cast<std::size_t>(w) * h * c) {}
    std::uint16_t& At(std::int64_t x, std::int64_t y, std::uint32_t c) { return samples[Index(x, y, c)]; }
    std::uint16_t Get(std::int64_t x, std::int64_t y, std::uint32_t c) const {
        return samples[Index(x, y, c)];
    }
    std::size_t Index(std::int64_t x, std::int64_t y, std::uint32_t c) const {
        x = std::clamp<std::int64_t>(x, 0, width - 1);
        y = std::clamp<std::int64_t>(y, 0, height - 1);
        return (static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)) * channels + c;
    }
};

Picture RandomPicture(std::uint32_t w, std::uint32_t h, std::uint32_t channels, unsigned seed) {
    Picture p(w, h, channels);
    std::mt19937 random(seed);
    for (auto& s : p.samples)
        s = static_cast<std::uint16_t>(random() & 0xFFFF);
    return p;
}

// A smooth picture: dark at the left, bright at the right.
Picture RampPicture(std::uint32_t w, std::uint32_t h) {
    Picture p(w, h, 3);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            for (std::uint32_t c = 0; c < 3; ++c)
                p.At(x, y, c) = static_cast<std::uint16_t>(2000 + 60000ull * x / (w - 1));
    return p;
}

void* RowSource(const DragRect* rect, std::uint16_t* planar, void* description) {
    auto* picture = static_cast<Picture*>(description);
    ++picture->reads;
    if (picture->failWith)
        return std::exchange(picture->failWith, nullptr);
    const std::size_t n = static_cast<std::size_t>(rect->right - rect->left) * (rect->bottom - rect->top);
    std::size_t i = 0;
    for (std::int32_t y = rect->top; y < rect->bottom; ++y) {
        for (std::int32_t x = rect->left; x < rect->right; ++x, ++i) {
            for (std::uint32_t c = 0; c < 3; ++c)
                planar[c * n + i] = picture->Get(x, y, picture->channels == 1 ? 0 : c);
            if (picture->second)
                planar[3 * n + i] = picture->second->Get(x, y, 0);
        }
    }
    return nullptr;
}

void* RowSink(const DragRect* rect, const std::uint16_t* planar, void* description) {
    auto* picture = static_cast<Picture*>(description);
    if (picture->failWith)
        return std::exchange(picture->failWith, nullptr);
    const std::size_t n = static_cast<std::size_t>(rect->right - rect->left) * (rect->bottom - rect->top);
    std::size_t i = 0;
    for (std::int32_t y = rect->top; y < rect->bottom; ++y)
        for (std::int32_t x = rect->left; x < rect->right; ++x, ++i)
            if (x >= 0 && y >= 0 && x < static_cast<std::int32_t>(picture->width) &&
                y < static_cast<std::int32_t>(picture->height))
                for (std::uint32_t c = 0; c < picture->channels; ++c)
                    picture->At(x, y, c) = planar[c * n + i];
    return nullptr;
}

std::atomic<std::int32_t> g_limit{1 << 25};
std::atomic<void*> g_allocationFailure{nullptr};
int g_errorToken = 0; // an error object of the tests': only its address matters

void* Allocate(void** memory, std::uint32_t size) {
    if (void* failure = g_allocationFailure.exchange(nullptr))
        return failure;
    *memory = std::malloc(size);
    return nullptr;
}
void* Release(void* memory) {
    std::free(memory);
    return nullptr;
}
void* Limit(std::int32_t low, std::int32_t high, std::int32_t, std::int32_t* out) {
    *out = std::max(low, std::min(high, g_limit.load()));
    return nullptr;
}

DragImageRef Ref(Picture& p, std::uint32_t planes, std::uint32_t left, std::uint32_t top, std::uint32_t right,
                 std::uint32_t bottom) {
    return {&p, p.width, p.height, planes, right, left, top, bottom};
}

DragParams Common(std::uint32_t pass, std::uint32_t height) {
    DragParams p{};
    p.size = sizeof(DragParams);
    p.inputCount = 1;
    p.one = 1;
    p.sampleBits = 16;
    p.resolution = 300;
    p.lastRow = height - 1;
    p.rowSource = RowSource;
    p.rowSink = RowSink;
    p.allocate = Allocate;
    p.release = Release;
    p.limit = Limit;
    p.pass = pass;
    return p;
}

DragParams StatisticsParams(Picture& source, std::uint32_t l, std::uint32_t t, std::uint32_t r,
                            std::uint32_t b) {
    DragParams p = Common(DRAG_PASS_STATISTICS, source.height);
    p.inputCount = source.second ? 2 : 1;
    p.measured = Ref(source, source.second ? 4 : 3, l, t, r, b);
    p.measuredOption = 1;
    return p;
}

struct OutputSetting {
    std::uint8_t lift = 127, target = 190, contrast = 127;
};

// The output pass over one strip of rows [top, bottom) and the source's full width.
DragParams OutputParams(Picture& source, Picture& buffer, Picture& statistics, Picture& destination,
                        std::uint32_t top, std::uint32_t bottom, OutputSetting setting) {
    DragParams p = Common(DRAG_PASS_OUTPUT, source.height);
    const std::uint32_t w = source.width, h = bottom - top, m = DRAG_STRIP_MARGIN;
    buffer = Picture(w + 2 * m, h + 2 * m, 3);
    p.source = Ref(source, 3, 0, top, w, bottom);
    p.buffer = Ref(buffer, 3, m, m, w + m, h + m);
    p.statistics = Ref(statistics, 1, 0, 0, statistics.width, statistics.height);
    p.destination = Ref(destination, 3, 0, top, w, bottom);
    p.useLowest = 0;
    p.lowest = -1;
    p.useHighest = 0;
    p.highest = -1;
    p.option = 1;
    p.lift = setting.lift;
    p.target = setting.target;
    p.contrast = setting.contrast;
    return p;
}

class DragLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        DragTestReset();
        g_limit = 1 << 25;
        ASSERT_EQ(DRAGLoad(), DRAG_OK);
    }
    void TearDown() override {
        DRAGUnload();
        EXPECT_EQ(DragTestLiveAllocations(), 0u) << "the library gave back all its memory";
        DragTestReset();
    }

    // Runs a whole pass; the result of the first call that failed.
    static std::int32_t Run(std::uint32_t handle, const DragParams& params, Picture* statistics = nullptr,
                            std::int32_t amount = 100) {
        DragInfo info{sizeof(DragInfo), 0, 0};
        DragError error{};
        if (std::int32_t r = DRAGInit(handle, &params, &info, &error))
            return r;
        if (params.pass == DRAG_PASS_STATISTICS) {
            *statistics = Picture(info.statisticsWidth, info.statisticsHeight, 1);
            const DragImageRef ref = Ref(*statistics, 1, 0, 0, statistics->width, statistics->height);
            if (std::int32_t r = DRAGSetStatisticsImageInfo(handle, &ref))
                return r;
        }
        if (std::int32_t r = DRAGBegin(handle, &error))
            return r;
        std::int32_t progress = -1, last = -1;
        while (!DRAGComplete(handle)) {
            if (std::int32_t r = DRAGProcess(handle, amount, &progress, &error))
                return r;
            EXPECT_GE(progress, last) << "progress never goes back";
            last = progress;
        }
        EXPECT_EQ(progress, 100);
        return DRAGEnd(handle, &error);
    }

    // Measures source and maps it in strips of the given rows (0: one strip).
    static Picture Develop(std::uint32_t handle, Picture& source, OutputSetting setting,
                           std::uint32_t stripRows = 0) {
        Picture statistics;
        EXPECT_EQ(Run(handle, StatisticsParams(source, 0, 0, source.width, source.height), &statistics),
                  DRAG_OK);
        Picture destination(source.width, source.height, 3);
        Picture buffer;
        const std::uint32_t rows = stripRows ? stripRows : source.height;
        for (std::uint32_t top = 0; top < source.height; top += rows) {
            const std::uint32_t bottom = std::min(top + rows, source.height);
            EXPECT_EQ(
                Run(handle, OutputParams(source, buffer, statistics, destination, top, bottom, setting)),
                DRAG_OK);
        }
        return destination;
    }
};

TEST_F(DragLibrary, SessionsExistOnlyWhileTheLibraryIsLoadedAndForTheirKinds) {
    EXPECT_EQ(DRAGNew(1, 0, 0), 0u);
    EXPECT_EQ(DRAGNew(12, 0, 0), 0u);
    EXPECT_EQ(DRAGNew(11, 1, 0), 0u) << "the further words must be 0";
    const std::uint32_t a = DRAGNew(2, 0, 0);
    const std::uint32_t b = DRAGNew(11, 0, 0);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    DragError error{};
    DRAGDelete(a);
    EXPECT_EQ(DRAGAbort(a, &error), DRAG_ERR_HANDLE) << "a deleted handle names nothing";
    EXPECT_EQ(DRAGAbort(b, &error), DRAG_OK);
    DRAGUnload();
    EXPECT_EQ(DRAGAbort(b, &error), DRAG_ERR_HANDLE) << "unloading drops every session";
    EXPECT_EQ(DRAGNew(11, 0, 0), 0u) << "no sessions while unloaded";
    ASSERT_EQ(DRAGLoad(), DRAG_OK);
}

TEST_F(DragLibrary, InitRefusesBlocksItCannotRun) {
    Picture source = RandomPicture(40, 30, 3, 1), buffer, statistics(3, 2, 1), destination(40, 30, 3);
    const DragParams goodStatistics = StatisticsParams(source, 0, 0, 40, 30);
    const DragParams goodOutput = OutputParams(source, buffer, statistics, destination, 0, 30, {});
    struct Case {
        const char* what;
        DragParams params;
    };
    std::vector<Case> cases;
    const auto add = [&](const char* what, const DragParams& base, auto change) {
        DragParams p = base;
        change(p);
        cases.push_back({what, p});
    };
    add("size", goodStatistics, [](DragParams& p) { p.size = 284; });
    add("sample bits", goodStatistics, [](DragParams& p) { p.sampleBits = 8; });
    add("no row source", goodStatistics, [](DragParams& p) { p.rowSource = nullptr; });
    add("no limit", goodOutput, [](DragParams& p) { p.limit = nullptr; });
    add("pass 2", goodStatistics, [](DragParams& p) { p.pass = 2; });
    add("region past the right", goodStatistics, [](DragParams& p) { p.measured.right = 41; });
    add("empty region", goodStatistics, [](DragParams& p) { p.measured.bottom = p.measured.top; });
    add("planes for two inputs", goodStatistics, [](DragParams& p) { p.inputCount = 2; });
    add("last row", goodStatistics, [](DragParams& p) { p.lastRow = 30; });
    add("buffer without margin", goodOutput, [](DragParams& p) { p.buffer.width -= 2; });
    add("buffer area", goodOutput, [](DragParams& p) { p.buffer.left = 0; });
    add("statistics area", goodOutput, [](DragParams& p) { p.statistics.right = 1; });
    add("destination rows", goodOutput, [](DragParams& p) { p.destination.bottom = 29; });
    add("destination outside", goodOutput, [](DragParams& p) { p.destination.width = 20; });
    add("two inputs in the output pass", goodOutput, [](DragParams& p) { p.inputCount = 2; });
    add("lowest above highest", goodOutput, [](DragParams& p) {
        p.useLowest = p.useHighest = 1;
        p.lowest = 5000;
        p.highest = 4000;
    });
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    for (const Case& c : cases) {
        DragInfo info{sizeof(DragInfo), 0, 0};
        DragError error{};
        EXPECT_EQ(DRAGInit(handle, &c.params, &info, &error), DRAG_ERR_PARAM) << c.what;
    }
    DragInfo info{sizeof(DragInfo), 0, 0};
    DragError error{};
    EXPECT_EQ(DRAGInit(handle, &goodStatistics, nullptr, &error), DRAG_ERR_PARAM)
        << "the statistics pass fills info";
    DragInfo wrongSize{8, 0, 0};
    EXPECT_EQ(DRAGInit(handle, &goodStatistics, &wrongSize, &error), DRAG_ERR_PARAM);
    EXPECT_EQ(DRAGInit(handle, &goodStatistics, &info, &error), DRAG_OK);
    EXPECT_EQ(DRAGInit(handle, &goodOutput, &info, &error), DRAG_OK) << "a session may be initialised again";
    DRAGDelete(handle);
}

TEST_F(DragLibrary, CallsOutOfOrderAreRefused) {
    Picture source = RandomPicture(40, 30, 3, 1), statistics;
    const DragParams params = StatisticsParams(source, 0, 0, 40, 30);
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    DragError error{};
    std::int32_t progress = 0;
    DragInfo info{sizeof(DragInfo), 0, 0};
    EXPECT_EQ(DRAGBegin(handle, &error), DRAG_ERR_STATE) << "nothing initialised";
    EXPECT_EQ(DRAGProcess(handle, 10, &progress, &error), DRAG_ERR_STATE);
    EXPECT_EQ(DRAGEnd(handle, &error), DRAG_ERR_STATE);
    ASSERT_EQ(DRAGInit(handle, &params, &info, &error), DRAG_OK);
    EXPECT_EQ(DRAGBegin(handle, &error), DRAG_ERR_STATE) << "the statistics pass needs its image";
    statistics = Picture(info.statisticsWidth, info.statisticsHeight, 1);
    DragImageRef wrong = Ref(statistics, 1, 0, 0, statistics.width, statistics.height);
    wrong.width += 1;
    EXPECT_EQ(DRAGSetStatisticsImageInfo(handle, &wrong), DRAG_ERR_PARAM);
    const DragImageRef ref = Ref(statistics, 1, 0, 0, statistics.width, statistics.height);
    ASSERT_EQ(DRAGSetStatisticsImageInfo(handle, &ref), DRAG_OK);
    ASSERT_EQ(DRAGBegin(handle, &error), DRAG_OK);
    EXPECT_EQ(DRAGInit(handle, &params, &info, &error), DRAG_ERR_STATE) << "not while running";
    EXPECT_EQ(DRAGProcess(handle, 0, &progress, &error), DRAG_ERR_PARAM);
    ASSERT_EQ(DRAGProcess(handle, 5, &progress, &error), DRAG_OK);
    EXPECT_EQ(progress, 5 * 100 / 30);
    EXPECT_EQ(DRAGComplete(handle), 0);
    EXPECT_EQ(DRAGEnd(handle, &error), DRAG_ERR_STATE) << "an unfinished run is aborted, not ended";
    EXPECT_EQ(DRAGAbort(handle, &error), DRAG_OK);
    EXPECT_EQ(DRAGProcess(handle, 5, &progress, &error), DRAG_ERR_STATE);
    EXPECT_EQ(DRAGAbort(handle, &error), DRAG_OK) << "aborting an idle session does nothing";
    DRAGDelete(handle);
}

// The statistics image against block means computed here.
TEST_F(DragLibrary, TheStatisticsPassMeasuresBlockMeansOfTheRegion) {
    Picture source = RandomPicture(53, 41, 3, 5);
    Picture guide = RandomPicture(53, 41, 1, 6);
    struct Case {
        std::uint32_t l, t, r, b;
        bool brightest, second;
    };
    const Case cases[] = {
        {0, 0, 53, 41, false, false},
        {5, 3, 50, 40, false, false},
        {0, 0, 53, 41, true, false},
        {2, 7, 35, 41, false, true},
    };
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    for (const Case& c : cases) {
        source.second = c.second ? &guide : nullptr;
        DragParams params = StatisticsParams(source, c.l, c.t, c.r, c.b);
        params.flagSet = c.brightest;
        params.flag = c.brightest ? 3 : 0;
        g_limit = 1; // one row per band
        Picture statistics;
        ASSERT_EQ(Run(handle, params, &statistics, 7), DRAG_OK);
        const std::uint32_t w = c.r - c.l, h = c.b - c.t;
        ASSERT_EQ(statistics.width, (w + 15) / 16);
        ASSERT_EQ(statistics.height, (h + 15) / 16);
        for (std::uint32_t j = 0; j < statistics.height; ++j) {
            for (std::uint32_t i = 0; i < statistics.width; ++i) {
                std::uint64_t sum = 0, count = 0;
                for (std::uint32_t y = c.t + 16 * j; y < std::min(c.t + 16 * j + 16, c.b); ++y) {
                    for (std::uint32_t x = c.l + 16 * i; x < std::min(c.l + 16 * i + 16, c.r); ++x, ++count) {
                        const std::uint32_t r = source.At(x, y, 0), g = source.At(x, y, 1),
                                            b = source.At(x, y, 2);
                        if (c.second)
                            sum += guide.At(x, y, 0);
                        else if (c.brightest)
                            sum += std::max({r, g, b});
                        else
                            sum += (77 * r + 150 * g + 29 * b + 128) >> 8;
                    }
                }
                ASSERT_EQ(statistics.At(i, j, 0), (sum + count / 2) / count) << "block " << i << ", " << j;
            }
        }
    }
    DRAGDelete(handle);
}

TEST_F(DragLibrary, NeutralSettingsGiveTheSourceBack) {
    Picture source = RandomPicture(61, 47, 3, 9);
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    const Picture out = Develop(handle, source, {127, 190, 127});
    EXPECT_EQ(out.samples, source.samples);
    DRAGDelete(handle);
}

TEST_F(DragLibrary, StripsGiveWhatOneStripGives) {
    Picture source = RandomPicture(70, 90, 3, 13);
    for (std::int32_t kind : {2, 11}) {
        const std::uint32_t handle = DRAGNew(kind, 0, 0);
        const OutputSetting setting{220, 150, 40};
        const Picture whole = Develop(handle, source, setting);
        for (std::uint32_t rows : {1u, 7u, 30u, 89u}) {
            g_limit = rows == 7 ? 1 : 1 << 25;
            const Picture strips = Develop(handle, source, setting, rows);
            EXPECT_EQ(strips.samples, whole.samples) << "kind " << kind << ", strips of " << rows;
        }
        DRAGDelete(handle);
    }
}

// The pulled-in brightness against the measured means: with a strong lift, the dark side of a ramp gets
// brighter and the bright side darker, each towards the picture's mean; the target moves that mean.
TEST_F(DragLibrary, LiftPullsLocalBrightnessTowardsTheMeasuredMean) {
    Picture source = RampPicture(128, 64);
    const std::uint32_t handle = DRAGNew(2, 0, 0);
    const Picture lifted = Develop(handle, source, {255, 190, 127});
    const auto mean = [](const Picture& p, std::uint32_t x0, std::uint32_t x1) {
        std::uint64_t sum = 0;
        for (std::uint32_t y = 0; y < p.height; ++y)
            for (std::uint32_t x = x0; x < x1; ++x)
                sum += p.Get(x, y, 1);
        return static_cast<double>(sum) / (p.height * (x1 - x0));
    };
    const double sourceMean = mean(source, 0, 128);
    EXPECT_GT(mean(lifted, 0, 16), mean(source, 0, 16) + 10000);
    EXPECT_LT(mean(lifted, 112, 128), mean(source, 112, 128) - 10000);
    EXPECT_NEAR(mean(lifted, 0, 128), sourceMean, 1500) << "the mean stays where it was";

    const Picture brighter = Develop(handle, source, {255, 250, 127});
    EXPECT_GT(mean(brighter, 0, 128), sourceMean + 5000);
    DRAGDelete(handle);
}

TEST_F(DragLibrary, CallbackErrorsComeBackAsTheirObjects) {
    Picture source = RandomPicture(40, 40, 3, 1), statistics;
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    const DragParams params = StatisticsParams(source, 0, 0, 40, 40);
    DragInfo info{sizeof(DragInfo), 0, 0};
    DragError error{};
    ASSERT_EQ(DRAGInit(handle, &params, &info, &error), DRAG_OK);
    statistics = Picture(info.statisticsWidth, info.statisticsHeight, 1);
    const DragImageRef ref = Ref(statistics, 1, 0, 0, statistics.width, statistics.height);
    ASSERT_EQ(DRAGSetStatisticsImageInfo(handle, &ref), DRAG_OK);

    g_allocationFailure = &g_errorToken;
    EXPECT_EQ(DRAGBegin(handle, &error), DRAG_ERR_OBJECT);
    EXPECT_EQ(error.object, &g_errorToken);
    EXPECT_EQ(DragTestLiveAllocations(), 0u) << "what Begin had allocated went back";

    ASSERT_EQ(DRAGBegin(handle, &error), DRAG_OK);
    source.failWith = &g_errorToken;
    std::int32_t progress = 0;
    EXPECT_EQ(DRAGProcess(handle, 10, &progress, &error), DRAG_ERR_OBJECT);
    EXPECT_EQ(error.object, &g_errorToken);
    statistics.failWith = &g_errorToken;
    EXPECT_EQ(DRAGProcess(handle, 16, &progress, &error), DRAG_ERR_OBJECT) << "the sink's error too";
    EXPECT_EQ(DRAGAbort(handle, &error), DRAG_OK);
    DRAGDelete(handle);
}

TEST_F(DragLibrary, TheLimitCallbackBoundsTheRowsOfABand) {
    Picture source = RandomPicture(40, 100, 3, 1), statistics;
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    struct Case {
        std::int32_t limit;
        int reads;
    };
    // A row of 40 pixels in three planes is 240 bytes; the preferred band is 64 rows.
    const Case cases[] = {{1, 100}, {240 * 10, 10}, {240 * 10 + 239, 10}, {1 << 25, 2}};
    for (const Case& c : cases) {
        g_limit = c.limit;
        source.reads = 0;
        ASSERT_EQ(Run(handle, StatisticsParams(source, 0, 0, 40, 100), &statistics, 1000), DRAG_OK);
        EXPECT_EQ(source.reads, c.reads) << "limit " << c.limit;
    }
    DRAGDelete(handle);
}

TEST_F(DragLibrary, ForcedResultsAnswerInsteadOfTheCall) {
    Picture source = RandomPicture(40, 40, 3, 1), statistics;
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    const DragParams params = StatisticsParams(source, 0, 0, 40, 40);

    DragTestForce({DragCall::kInit, DRAG_ERR_TEXT, "no room at the inn"});
    DragInfo info{sizeof(DragInfo), 0, 0};
    DragError error{};
    EXPECT_EQ(DRAGInit(handle, &params, &info, &error), DRAG_ERR_TEXT);
    ASSERT_NE(error.text, nullptr);
    EXPECT_STREQ(error.text, "no room at the inn");
    EXPECT_EQ(info.statisticsWidth, 0u) << "a forced call does nothing";
    EXPECT_EQ(Run(handle, params, &statistics), DRAG_OK) << "one failure by default";

    DragTestForce({DragCall::kProcess, DRAG_ERR_OBJECT, "", &g_errorToken, /*skip*/ 1, /*times*/ 0});
    EXPECT_EQ(Run(handle, params, &statistics, 10), DRAG_ERR_OBJECT);
    ASSERT_EQ(DRAGAbort(handle, &error), DRAG_OK);
    EXPECT_EQ(Run(handle, params, &statistics, 10), DRAG_ERR_OBJECT) << "times 0 keeps failing";
    const auto log = DragTestCallLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().call, DragCall::kProcess);
    EXPECT_TRUE(log.back().forced);
    EXPECT_EQ(log.back().pass, static_cast<std::int32_t>(DRAG_PASS_STATISTICS));
    ASSERT_EQ(DRAGAbort(handle, &error), DRAG_OK);

    DragTestReset();
    DragTestForce({DragCall::kNew, DRAG_ERR_MEMORY, ""});
    EXPECT_EQ(DRAGNew(11, 0, 0), 0u);
    DragTestForce({DragCall::kLoad, -42, ""});
    EXPECT_EQ(DRAGLoad(), -42);
    EXPECT_EQ(DragTestCallCount(DragCall::kLoad), 1u);
    DRAGDelete(handle);
}

TEST_F(DragLibrary, AForceCanAimAtOnePass) {
    Picture source = RandomPicture(40, 40, 3, 1), statistics, buffer, destination(40, 40, 3);
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    DragTestForce({DragCall::kBegin, -77, "", nullptr, 0, 1, static_cast<std::int32_t>(DRAG_PASS_OUTPUT)});
    ASSERT_EQ(Run(handle, StatisticsParams(source, 0, 0, 40, 40), &statistics), DRAG_OK);
    EXPECT_EQ(Run(handle, OutputParams(source, buffer, statistics, destination, 0, 40, {})), -77);
    EXPECT_EQ(Run(handle, OutputParams(source, buffer, statistics, destination, 0, 40, {})), DRAG_OK);
    const DragParams kept = DragTestLastParams(DRAG_PASS_OUTPUT);
    EXPECT_EQ(kept.destination.description, &destination);
    EXPECT_EQ(kept.buffer.width, 40u + 48);
    DRAGDelete(handle);
}

TEST_F(DragLibrary, TheCancelPointActsInTheMiddleOfAPass) {
    Picture source = RandomPicture(40, 100, 3, 1), statistics;
    const std::uint32_t handle = DRAGNew(11, 0, 0);
    DragError error{};
    // The action may call the library on the same session: it aborts the run from inside the second call.
    int ran = 0;
    DragTestSetCancelPoint(DRAG_PASS_STATISTICS, 2, [&] {
        ++ran;
        DragError inner{};
        EXPECT_EQ(DRAGAbort(handle, &inner), DRAG_OK);
    });
    EXPECT_EQ(Run(handle, StatisticsParams(source, 0, 0, 40, 100), &statistics, 10), DRAG_ERR_STATE);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(DRAGComplete(handle), 0);
    EXPECT_EQ(DRAGAbort(handle, &error), DRAG_OK);
    DRAGDelete(handle);
}

// Two sessions on two threads at once give what each gives alone.
TEST_F(DragLibrary, SessionsOnTwoThreadsDoNotDisturbEachOther) {
    kvtest::Watchdog watchdog("two sessions");
    Picture a = RandomPicture(50, 60, 3, 21), b = RandomPicture(45, 70, 3, 22);
    const std::uint32_t ha = DRAGNew(5, 0, 0), hb = DRAGNew(9, 0, 0);
    const Picture aloneA = Develop(ha, a, {200, 170, 60}, 13);
    const Picture aloneB = Develop(hb, b, {30, 200, 220}, 9);
    Picture together[2];
    std::thread other([&] { together[1] = Develop(hb, b, {30, 200, 220}, 9); });
    together[0] = Develop(ha, a, {200, 170, 60}, 13);
    other.join();
    EXPECT_EQ(together[0].samples, aloneA.samples);
    EXPECT_EQ(together[1].samples, aloneB.samples);
    DRAGDelete(ha);
    DRAGDelete(hb);
}

} // namespace
