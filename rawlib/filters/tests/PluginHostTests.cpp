#include "rawlib/filters/tests/PluginTestSupport.h"

#include "filters/CPravonFilterScale.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/FourCC.h"
#include "platform/win/WinDebug.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <limits>

namespace {

using namespace kvtest;
using namespace KvPlugin;

struct LoadCase {
    const char* library;
    SHORT result;
    const char* name;
    const char* category;
    DWORD scriptingId;
};

TEST(PluginHost, LoadsPluginsAndReadsWhatTheirResourcesHold) {
    const LoadCase cases[] = {
        {"KvInvert", kNoError, "Invert", "Test Filters", static_cast<DWORD>(FourCC("KvIv"))},
        {"KvNoResources", kNoError, "?", "?", 0},
        {"KvBadPipl", kNoError, "?", "?", static_cast<DWORD>(FourCC("KvBp"))},
        {"KvBadAete", kNoError, "Bad Description", "Test Host", 0},
        {"KvNoEntry", kErrNoModule, "?", "?", 0},
        {"NoSuchLibrary", kErrNoModule, "?", "?", 0},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.library);
        SHORT result = 0;
        auto plugin = LoadTestPlugin(c.library, &result);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(plugin->IsLoaded(), c.result == kNoError);
        EXPECT_STREQ(plugin->GetDisplayName(), c.name);
        EXPECT_STREQ(plugin->GetCategory(), c.category);
        EXPECT_EQ(plugin->GetScriptingId(), c.scriptingId);
        EXPECT_EQ(plugin->CallEntry(kSelectorAbout, nullptr, nullptr),
                  c.result == kNoError ? kNoError : kErrNotLoaded);
    }
}

TEST(PluginHost, TheSameFileAgainChangesNothingAndAnotherStartsAfresh) {
    KvTestPlugins::Probe probe("KvInvert");
    auto plugin = LoadTestPlugin("KvInvert");
    ASSERT_EQ(plugin->CallSelector(kSelectorAbout), kNoError);
    ASSERT_TRUE(plugin->IsInitialised());

    std::string shouted = KvTestPlugins::PathOf("KvInvert");
    std::transform(shouted.begin(), shouted.end(), shouted.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    EXPECT_EQ(plugin->SetPluginFile(shouted.c_str()), kNoError) << "the file is named without regard to case";
    EXPECT_TRUE(plugin->IsInitialised());
    EXPECT_STREQ(plugin->GetPluginFile(), KvTestPlugins::PathOf("KvInvert").c_str());

    ASSERT_EQ(plugin->SetPluginFile(KvTestPlugins::PathOf("KvBlur").c_str()), kNoError);
    EXPECT_FALSE(plugin->IsInitialised());
    EXPECT_STREQ(plugin->GetDisplayName(), "Box Blur");
    EXPECT_EQ(plugin->SetPluginFile(KvTestPlugins::PathOf("KvNoEntry").c_str()), kErrNoModule);
    EXPECT_FALSE(plugin->IsLoaded());
    EXPECT_EQ(plugin->CallSelector(kSelectorPrepare), kNoError) << "nothing loaded: nothing is called";
}

TEST(PluginHost, TheInitialCallComesOnceAndAFailureStopsTheCallItPrecedes) {
    KvTestPlugins::Probe probe("KvMisbehave");
    auto plugin = LoadTestPlugin("KvMisbehave");
    probe.SetControl("mode", 1);
    EXPECT_EQ(plugin->CallSelector(kSelectorPrepare), 7);
    EXPECT_EQ(plugin->CallSelector(kSelectorPrepare), 7);
    EXPECT_EQ(probe.Log(), "13 13") << "the wanted selector is never called";
    EXPECT_FALSE(plugin->IsInitialised());

    probe.SetControl("mode", 0);
    EXPECT_EQ(plugin->CallSelector(kSelectorAbout), kNoError);
    EXPECT_EQ(plugin->CallSelector(kSelectorPrepare), kNoError);
    EXPECT_EQ(probe.Log(), "13 13 13 0 2");
}

// Each pass of the plug-in filter over source tiles, as the selectors the plug-in hears.
TEST(PluginHost, RunsCallTheSelectorsInTheirOrder) {
    CPravonMemoryManager manager(16);
    const TestPlane plane = MakePlane(16, 12, PravonColorSpace::kRGB8, FillPattern::Random, 3);
    PravonImagePtr source = MakeImage(manager, plane);
    KvTestPlugins::Probe probe("KvInvert");
    auto plugin = LoadTestPlugin("KvInvert");

    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 16, 12}}).result, kNoError);
    EXPECT_EQ(probe.Log(), "13 2 12 3 11 5") << "a fresh plug-in runs, starts and processes";
    probe.Reset();
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, Bands(16, 12, 4)).result, kNoError);
    EXPECT_EQ(probe.Log(), "2 11 5 2 11 5 2 11 5") << "nothing asks for a run or a start";
    probe.Reset();
    plugin->SettingsChanged();
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, Bands(16, 12, 6)).result, kNoError);
    EXPECT_EQ(probe.Log(), "2 12 3 11 5 2 11 5") << "a change runs and starts once";
    EXPECT_FALSE(plugin->IsReady());
}

TEST(PluginHost, ReadyUntilTheFirstPrepareAndThenWhenARunIsAskedFor) {
    CPravonMemoryManager manager;
    PravonImagePtr source =
        MakeImage(manager, MakePlane(4, 4, PravonColorSpace::kGrey8, FillPattern::Gradient));
    auto plugin = LoadTestPlugin("KvInvert");
    EXPECT_TRUE(plugin->IsReady());
    ASSERT_TRUE(plugin->PrepareForSource(source.get(), 1, 300));
    ASSERT_EQ(plugin->Prepare(), kNoError);
    EXPECT_FALSE(plugin->IsReady()) << "no source is set";
    ASSERT_EQ(plugin->SetupRun(source.get(), &manager, {0, 0, 4, 4}), kNoError);
    EXPECT_TRUE(plugin->IsReady());
    ASSERT_EQ(plugin->Run(nullptr, nullptr), kNoError);
    ASSERT_EQ(plugin->Process(), kNoError);
    EXPECT_FALSE(plugin->IsReady());
    plugin->SettingsChanged();
    EXPECT_TRUE(plugin->IsReady());
    ASSERT_EQ(plugin->Finish(), kNoError);
    EXPECT_FALSE(plugin->IsReady()) << "the finish step forgets the source";
}

TEST(PluginHost, FillsTheRecordFromTheSource) {
    struct Case {
        LONG colorSpace;
        bool supported;
        SHORT mode, planes, depth;
    };
    const Case cases[] = {
        {PravonColorSpace::kGrey8, true, kModeGrey, 1, 8},
        {PravonColorSpace::kRGB8, true, kModeRGB, 3, 8},
        {PravonColorSpace::kCMYK8, true, kModeFourChannel, 4, 8},
        {PravonColorSpace::kGrey16, true, kModeGrey16, 1, 16},
        {PravonColorSpace::kRGB16, true, kModeRGB16, 3, 16},
        {PravonColorSpace::kLab16, false, 0, 0, 0},
        {PravonColorSpace::kLCh8, false, 0, 0, 0},
        {PravonColorSpace::kBGR8, false, 0, 0, 0},
    };
    CPravonMemoryManager manager;
    auto plugin = LoadTestPlugin("KvInvert");
    for (const Case& c : cases) {
        SCOPED_TRACE(FourCCText(c.colorSpace));
        PravonImagePtr source = MakeImage(manager, MakePlane(7, 5, c.colorSpace, FillPattern::Constant, 9));
        ASSERT_EQ(plugin->PrepareForSource(source.get(), 0.5, 240.25), c.supported);
        if (!c.supported)
            continue;
        const KvFilterRecord& r = plugin->GetFilterRecord();
        EXPECT_EQ(r.imageMode, c.mode);
        EXPECT_EQ(r.planes, c.planes);
        EXPECT_EQ(r.depth, c.depth);
        EXPECT_EQ(r.imageWidth, 7);
        EXPECT_EQ(r.imageHeight, 5);
        EXPECT_EQ(r.imageResolution, 240 * 65536 + 16384);
        EXPECT_EQ(r.imageScale, 32768);
        EXPECT_EQ(r.hostSignature, static_cast<std::uint32_t>(FourCC("8BIM")));
        EXPECT_EQ(r.backgroundColor[2], 255);
        EXPECT_EQ(r.foregroundColor[0], 255);
        EXPECT_EQ(r.bufferSuite->version, 2);
        EXPECT_EQ(r.bufferSuite->count, 5);
        EXPECT_EQ(r.handleSuite->version, 1);
        EXPECT_EQ(r.handleSuite->count, 7);
        EXPECT_EQ(r.inputRate, kFixedOne);
    }
    ASSERT_TRUE(plugin->PrepareForSource(
        MakeImage(manager, MakePlane(2, 2, PravonColorSpace::kGrey8, FillPattern::Constant)).get(), 1e9,
        -1e12));
    EXPECT_EQ(plugin->GetFilterRecord().imageScale, std::numeric_limits<std::int32_t>::max()) << "saturated";
    EXPECT_EQ(plugin->GetFilterRecord().imageResolution, std::numeric_limits<std::int32_t>::min());
}

TEST(PluginHost, HandsPluginsTheMainWindowAndSaysWhenThereIsNone) {
    std::string traced;
    WinDebug::SetOutputSink([&traced](std::string_view text) { traced += text; });
    CPluginWin plugin;
    plugin.ResetFilterRecord();
    EXPECT_NE(traced.find("Warning: CPluginWin has no main window handle.\n"), std::string::npos);
    traced.clear();
    int window = 0;
    IPlugin::SetMainWindow(&window);
    plugin.ResetFilterRecord();
    EXPECT_TRUE(traced.empty());
    EXPECT_EQ(*static_cast<void**>(plugin.GetFilterRecord().platformData), &window);
    IPlugin::SetMainWindow(nullptr);
    WinDebug::SetOutputSink({});
}

ULONG Invert(ULONG value, LONG colorSpace) {
    return (PravonColorSpace::BitsPerSample(colorSpace) == 16 ? 65535u : 255u) - value;
}

TEST(PluginHost, InvertsEveryDepthAndPlaneCountInEitherOutputLayout) {
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kGrey16, PravonColorSpace::kRGB8,
                            PravonColorSpace::kRGB16, PravonColorSpace::kCMYK8}) {
        for (bool planar : {false, true}) {
            SCOPED_TRACE(FourCCText(colorSpace) + (planar ? " planar" : " interleaved"));
            CPravonMemoryManager manager(8);
            const TestPlane plane = MakePlane(13, 9, colorSpace, FillPattern::Random, 17);
            PravonImagePtr source = MakeImage(manager, plane);
            KvTestPlugins::Probe probe("KvInvert");
            probe.SetControl("planar", planar);
            auto plugin = LoadTestPlugin("KvInvert");
            const PluginPass pass = RunPass(*plugin, source.get(), &manager, Bands(13, 9, 4));
            ASSERT_EQ(pass.result, kNoError);
            TestPlane expected = plane;
            for (LONG y = 0; y < plane.height; ++y)
                for (LONG x = 0; x < plane.width; ++x)
                    for (LONG p = 0; p < plane.Channels(); ++p)
                        expected.SetSample(x, y, p, Invert(plane.Sample(x, y, p), colorSpace));
            EXPECT_TRUE(PlanesMatch(expected, pass.output));
        }
    }
}

TEST(PluginHost, APaddedRequestGetsTheInputAroundEachRectangleCutToTheImage) {
    CPravonMemoryManager manager(7);
    const TestPlane plane = MakePlane(23, 17, PravonColorSpace::kRGB16, FillPattern::Random, 5);
    PravonImagePtr source = MakeImage(manager, plane);
    KvTestPlugins::Probe probe("KvBlur");
    auto plugin = LoadTestPlugin("KvBlur");
    const BYTE radius[4] = {3, 0, 0, 0};
    ASSERT_TRUE(plugin->SetParameters(radius, 4));
    std::vector<PravonRect> tiles;
    for (LONG top = 0; top < 17; top += 5)
        for (LONG left = 0; left < 23; left += 6)
            tiles.push_back({left, top, left + 6, top + 5});
    const PluginPass pass = RunPass(*plugin, source.get(), &manager, tiles);
    ASSERT_EQ(pass.result, kNoError);
    EXPECT_TRUE(PlanesMatch(BoxBlur(plane, 3), pass.output));
    EXPECT_EQ(probe.Fact("right-padding"), 0) << "the last tile's padding is cut at the image's edges";
    EXPECT_EQ(probe.Fact("bottom-padding"), 0);
    probe.Reset();
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{6, 5, 12, 10}}).result, kNoError);
    EXPECT_EQ(probe.Fact("right-padding"), 3);
    EXPECT_EQ(probe.Fact("bottom-padding"), 3);
}

TEST(PluginHost, TheSuitesServeHandlesBuffersSpaceAndColourServicesThroughThePlugin) {
    CPravonMemoryManager manager;
    PravonImagePtr source =
        MakeImage(manager, MakePlane(6, 5, PravonColorSpace::kGrey8, FillPattern::Gradient));
    KvTestPlugins::Probe probe("KvSuites");
    auto plugin = LoadTestPlugin("KvSuites");
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 6, 5}}).result, kNoError);
    EXPECT_EQ(probe.Fact("handles-ok"), 1) << "a handle keeps its bytes and its size through every resize";
    EXPECT_EQ(probe.Fact("buffers-ok"), 1);
    EXPECT_EQ(probe.Fact("reused-id"), 0) << "the freed slot 0 is the first to be reused";
    EXPECT_EQ(probe.Fact("colour-ok"), 1);
    EXPECT_EQ(probe.Fact("data-kept"), 1) << "the plug-in's data word lives from call to call";
    EXPECT_EQ(probe.Fact("abort"), 0);
    EXPECT_EQ(plugin->GetData(), 0x5EED);
}

TEST(PluginHost, TheParameterBlockTravelsBothWaysAndIsKeptOnlyWhenItChanged) {
    CPravonMemoryManager manager;
    PravonImagePtr source =
        MakeImage(manager, MakePlane(3, 3, PravonColorSpace::kRGB8, FillPattern::Gradient));
    KvTestPlugins::Probe probe("KvSuites");
    auto plugin = LoadTestPlugin("KvSuites");
    const auto block = [&] {
        std::vector<BYTE> bytes(static_cast<std::size_t>(plugin->GetParameterSize()));
        EXPECT_EQ(plugin->GetParameters(bytes.data(), static_cast<LONG>(bytes.size())),
                  plugin->GetParameterSize());
        return bytes;
    };
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 3, 3}}).result, kNoError);
    EXPECT_EQ(block(), (std::vector<BYTE>{1, 0, 0, 0}));
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 3, 3}}).result, kNoError);
    EXPECT_EQ(block(), (std::vector<BYTE>{1, 0, 0, 0, 2, 0, 0, 0}))
        << "the plug-in got the stored block back";

    // A block set by the host reaches the plug-in; a buffer too small for it gets nothing.
    const BYTE stored[12] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    ASSERT_TRUE(plugin->SetParameters(stored, 12));
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 3, 3}}).result, kNoError);
    EXPECT_EQ(probe.Fact("parameter-size"), 16);
    BYTE small[4] = {9, 9, 9, 9};
    EXPECT_EQ(plugin->GetParameters(small, 4), 16);
    EXPECT_EQ(small[0], 9);
    ASSERT_TRUE(plugin->SetParameters(nullptr, 0));
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 3, 3}}).result, kNoError);
    EXPECT_EQ(block(), (std::vector<BYTE>{1, 0, 0, 0})) << "a cleared block starts the plug-in afresh";
}

TEST(PluginHost, ADialogRunsOnceAndItsAnswerBecomesTheParameterBlock) {
    CPravonMemoryManager manager;
    const TestPlane plane = MakePlane(8, 6, PravonColorSpace::kGrey16, FillPattern::Random, 2);
    PravonImagePtr source = MakeImage(manager, plane);
    KvTestPlugins::Probe probe("KvDialogGain");
    auto plugin = LoadTestPlugin("KvDialogGain");
    EXPECT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 8, 6}}).result, kErrUserCanceled)
        << "no scripted answer: the user closed the dialog";
    probe.QueueAnswer(150);
    const PluginPass pass = RunPass(*plugin, source.get(), &manager, {{0, 0, 8, 6}});
    ASSERT_EQ(pass.result, kNoError);
    EXPECT_EQ(probe.Fact("dialogs"), 2);
    EXPECT_EQ(plugin->GetParameterSize(), 4);
    TestPlane expected = plane;
    for (LONG y = 0; y < 6; ++y)
        for (LONG x = 0; x < 8; ++x)
            expected.SetSample(x, y, 0, std::min<ULONG>(plane.Sample(x, y, 0) * 150 / 100, 65535));
    EXPECT_TRUE(PlanesMatch(expected, pass.output));

    plugin->SettingsChanged();
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, Bands(8, 6, 2)).result, kNoError);
    EXPECT_EQ(probe.Fact("dialogs"), 2) << "with parameters the dialog stays closed";
}

TEST(PluginHost, AScaledDownRequestReadsThroughTheScaler) {
    CPravonMemoryManager manager(5);
    const TestPlane plane = MakePlane(11, 7, PravonColorSpace::kGrey8, FillPattern::Random, 4);
    PravonImagePtr source = MakeImage(manager, plane);
    KvTestPlugins::Probe probe("KvSuites");
    probe.SetControl("rate", 2);
    auto plugin = LoadTestPlugin("KvSuites");
    const PluginPass pass = RunPass(*plugin, source.get(), &manager, {{0, 0, 11, 7}});
    ASSERT_EQ(pass.result, kNoError);
    EXPECT_EQ(probe.Fact("scaled-result"), 0);
    // What the scale filter makes of the source at half size, pulled the way any consumer pulls it.
    CPravonFilterScale scale(&manager, CPravonFilterScale::kNearest);
    ASSERT_PV_OK(PravonConnect(source.get(), &scale));
    ASSERT_PV_OK(scale.SetScale(0.5, false));
    TestPlane halved;
    ASSERT_PV_OK(PullAll(&scale, &halved));
    ASSERT_EQ(halved.width, 6);
    ASSERT_EQ(halved.height, 4);
    LONG sum = 0;
    for (LONG y = 0; y < halved.height; ++y)
        for (LONG x = 0; x < halved.width; ++x)
            sum += static_cast<LONG>(halved.Sample(x, y, 0));
    EXPECT_EQ(probe.Fact("scaled-sum"), sum);
    EXPECT_TRUE(PlanesMatch(plane, pass.output)) << "scaled input is no start for the output";

    probe.Reset();
    probe.SetControl("rate", 2);
    EXPECT_EQ(RunPass(*plugin, source.get(), nullptr, {{0, 0, 11, 7}}).result, kNoError);
    EXPECT_EQ(probe.Fact("scaled-result"), kErrWithText);
    EXPECT_EQ(plugin->GetErrorText(), "Cannot scale down image");
}

struct MisbehaviourCase {
    const char* name;
    std::int32_t mode;
    SHORT result;
    const char* text; // in the error string, for kErrWithText
};

// The plug-in's requests are checked before anything is copied; under the address sanitizer this also
// shows that no refused request touches memory outside the buffers.
TEST(PluginHost, RequestsOutsideTheImageOrTheBuffersAreRefusedOrCut) {
    const MisbehaviourCase cases[] = {
        {"error text", 3, kErrWithText, "The lens of this filter is cracked"},
        {"bare error", 4, -4711, nullptr},
        {"input beside the image", 5, kNoError, nullptr},
        {"input around the image", 6, kNoError, nullptr},
        {"reversed input", 7, kErrWithText, "reversed rectangle"},
        {"input beyond any buffer", 8, kErrMemory, nullptr},
        {"input plane above the planes", 9, kErrWithText, "input planes"},
        {"input planes reversed", 10, kErrWithText, "input planes"},
        {"negative input plane", 11, kErrWithText, "input planes"},
        {"output beyond the host's buffer", 12, kErrWithText, "output outside"},
        {"output plane above the planes", 13, kErrWithText, "output planes"},
        {"padding beyond the image", 14, kNoError, nullptr},
    };
    for (const MisbehaviourCase& c : cases) {
        SCOPED_TRACE(c.name);
        CPravonMemoryManager manager(4);
        const TestPlane plane = MakePlane(9, 6, PravonColorSpace::kRGB8, FillPattern::Random, 8);
        PravonImagePtr source = MakeImage(manager, plane);
        KvTestPlugins::Probe probe("KvMisbehave");
        probe.SetControl("mode", c.mode);
        auto plugin = LoadTestPlugin("KvMisbehave");
        const PluginPass pass = RunPass(*plugin, source.get(), &manager, {{0, 0, 9, 6}});
        EXPECT_EQ(pass.result, c.result);
        if (c.text) {
            EXPECT_NE(plugin->GetErrorText().find(c.text), std::string::npos) << plugin->GetErrorText();
        }
        if (c.result == kNoError) {
            EXPECT_TRUE(PlanesMatch(plane, pass.output)) << "the output starts as the input";
        }
    }
}

TEST(PluginHost, ARequestBesideTheImageGetsZerosAndTheFullPaddingIsCut) {
    CPravonMemoryManager manager;
    PravonImagePtr source =
        MakeImage(manager, MakePlane(9, 6, PravonColorSpace::kGrey8, FillPattern::Constant, 77));
    KvTestPlugins::Probe probe("KvMisbehave");
    auto plugin = LoadTestPlugin("KvMisbehave");
    probe.SetControl("mode", 5);
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{0, 0, 9, 6}}).result, kNoError);
    EXPECT_EQ(probe.Fact("input-zero"), 1);
    probe.SetControl("mode", 14);
    ASSERT_EQ(RunPass(*plugin, source.get(), &manager, {{2, 1, 5, 4}}).result, kNoError);
    EXPECT_EQ(probe.Fact("input-width"), 9);
}

TEST(PluginHost, APrepareAnswerOfDoneIsNoErrorAndTheRunGoesOn) {
    CPravonMemoryManager manager;
    PravonImagePtr source =
        MakeImage(manager, MakePlane(4, 4, PravonColorSpace::kGrey8, FillPattern::Gradient));
    KvTestPlugins::Probe probe("KvMisbehave");
    probe.SetControl("mode", 2);
    auto plugin = LoadTestPlugin("KvMisbehave");
    ASSERT_TRUE(plugin->PrepareForSource(source.get(), 1, 300));
    ASSERT_EQ(plugin->SetupRun(source.get(), &manager, {0, 0, 4, 4}), kNoError);
    EXPECT_EQ(plugin->Prepare(), kPrepareDone);
    EXPECT_EQ(plugin->Run(nullptr, nullptr), kNoError);
    EXPECT_EQ(plugin->Process(), kNoError);
    EXPECT_EQ(plugin->Finish(), kNoError);
    EXPECT_EQ(probe.Log(), "13 2 12 3 11 5");
}

TEST(PluginHost, ResultsBecomeErrorsOfTheCaller) {
    auto plugin = LoadTestPlugin("KvInvert");
    const LONG component = FourCC("Plug");
    EXPECT_EQ(plugin->TranslateResult(kNoError, component), nullptr);
    PravonErrorPtr bare(plugin->TranslateResult(-4711, component));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->GetKind(), PravonKind::kInvalidState);
    EXPECT_EQ(bare->GetComponent(), component);
    EXPECT_TRUE(bare->HasText("-4711"));
    PravonErrorPtr unexplained(plugin->TranslateResult(kErrWithText, component));
    EXPECT_TRUE(unexplained->HasText("The plug-in failed"));
}

struct ProgressLog {
    std::vector<std::pair<LONG, LONG>> heard;
    LONG stopAt = 1000;
};

bool Listen(LONG kind, LONG value, void* user) {
    auto* log = static_cast<ProgressLog*>(user);
    log->heard.emplace_back(kind, value);
    return !(kind == 1 && value >= log->stopAt);
}

TEST(PluginHost, ReportsTheShareOfTheImageReadAndStopsAPluginWhenAsked) {
    CPravonMemoryManager manager(4);
    const TestPlane plane = MakePlane(9, 9, PravonColorSpace::kGrey8, FillPattern::Random, 12);
    PravonImagePtr source = MakeImage(manager, plane);
    KvTestPlugins::Probe probe("KvProgress");
    probe.SetControl("band", 3);
    auto plugin = LoadTestPlugin("KvProgress");

    // A 9 x 9 image is fewer than 100 pixels: the share is counted in whole pixels, not in hundredths.
    ProgressLog log;
    const PluginPass pass = RunPass(*plugin, source.get(), &manager, Bands(9, 9, 3), Listen, &log);
    ASSERT_EQ(pass.result, kNoError);
    const std::vector<std::pair<LONG, LONG>> expected = {{0, 0},   {2, 100}, {1, 33},  {1, 66},
                                                         {1, 100}, {1, 100}, {1, 100}, {1, 100}};
    EXPECT_EQ(log.heard, expected) << "each band's own request counts as well, up to the whole";
    EXPECT_EQ(probe.Fact("bands"), 3);

    ProgressLog stopping;
    stopping.stopAt = 66;
    plugin->SettingsChanged();
    EXPECT_EQ(RunPass(*plugin, source.get(), &manager, Bands(9, 9, 3), Listen, &stopping).result,
              kErrUserCanceled);
    EXPECT_EQ(probe.Fact("cancelled"), 1);
    EXPECT_EQ(plugin->TestAbort(), TRUE);
    ASSERT_TRUE(plugin->PrepareForSource(source.get(), 1, 300));
    EXPECT_EQ(plugin->TestAbort(), FALSE) << "the next pass starts without the request to stop";
}

TEST(PluginHost, AdvanceStateWithoutASourceOrWithNothingAskedForReadsNothing) {
    CPluginWin plugin;
    EXPECT_EQ(plugin.AdvanceState(), kErrNoSource);
    CPravonMemoryManager manager;
    PravonImagePtr source =
        MakeImage(manager, MakePlane(3, 3, PravonColorSpace::kGrey8, FillPattern::Gradient));
    ASSERT_TRUE(plugin.PrepareForSource(source.get(), 1, 300));
    ASSERT_EQ(plugin.SetupRun(source.get(), &manager, {0, 0, 3, 3}), kNoError);
    KvFilterRecord& r = plugin.GetFilterRecord();
    r.inRect = r.outRect = r.maskRect = {2, 2, 2, 5};
    EXPECT_EQ(plugin.AdvanceState(), kNoError);
    EXPECT_EQ(r.inData, nullptr);
}

} // namespace
