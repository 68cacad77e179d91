#include "rawlib/pipeline/CKvnFilterChain.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/IccTestProfiles.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr LONG kWidth = 76;
constexpr LONG kHeight = 52;

// One picture: a random 12-bit mosaic with its tags, developed through a fresh exported object.
class Picture {
public:
    // A random mosaic, or one of a single 12-bit value when flat is 0 to 4095.
    explicit Picture(int flat = -1) {
        mosaic = kvtest::MakePlane(kWidth, kHeight, PravonColorSpace::kRawMosaic16,
                                   kvtest::FillPattern::Random, 7);
        for (LONG y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<WORD*>(mosaic.Row(y));
            for (LONG x = 0; x < kWidth; ++x)
                row[x] = flat >= 0 ? static_cast<WORD>(flat) : row[x] & 0x0FFF;
        }
        image = kvtest::MakeImage(manager, mosaic);
        tags = new CPravonTagControl();
        const LONG longs[][2] = {
            {0x10000, kWidth}, {0x10001, kHeight}, {0x10002, PravonColorSpace::kRawMosaic16}};
        for (const auto& tag : longs)
            EXPECT_PV_OK(tags->WriteTag(static_cast<ULONG>(tag[0]), 4, 4, &tag[1]));
        const BYTE pattern[] = {0, 2, 0, 2, 0, 1, 1, 2};
        EXPECT_PV_OK(tags->WriteTag(0xA302, 1, sizeof pattern, pattern));
        tags->SetCameraModel(258);
        // Taken in sRGB, which the development then keeps as its output space.
        const LONG srgbMode = 0;
        EXPECT_PV_OK(tags->WriteTag(0x8008D, 9, 4, &srgbMode));
        // The camera's automatic white balance, as its own files record it.
        const LONG automaticWhiteBalance[2] = {0, 0};
        EXPECT_PV_OK(tags->WriteTag(0x80005, 9, sizeof automaticWhiteBalance, automaticWhiteBalance));
    }
    ~Picture() {
        if (object)
            object->Destroy();
        tags->Release();
    }
    IPravonError* Open() {
        if (IPravonError* e = IKvnFilterChain::CreateObject(&object))
            return e;
        return object->Initialize(&manager, image.get(), tags);
    }
    // The chain's output, pulled whole in random tile order.
    kvtest::TestPlane Develop() {
        IPravonFilterChain* chain = nullptr;
        kvtest::TestPlane out;
        EXPECT_PV_OK(object->GetFilterChain(&chain));
        if (chain) {
            EXPECT_PV_OK(kvtest::PullAll(chain->GetOutput(), &out, kvtest::PullOrder::RandomOrder));
        }
        return out;
    }

    CPravonMemoryManager manager{16};
    kvtest::TestPlane mosaic;
    PravonImagePtr image;
    CPravonTagControl* tags = nullptr;
    IKvnFilterChain* object = nullptr;
};

void ExpectSame(const kvtest::TestPlane& expected, const kvtest::TestPlane& actual) {
    const kvtest::PlaneDifference difference = kvtest::ComparePlanes(expected, actual);
    EXPECT_TRUE(difference.sameGeometry);
    EXPECT_EQ(difference.maxError, 0u) << difference.Describe();
}

TEST(FilterChainDevelop, TheChainDemosaicsTheMosaicIntoRgb) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    Picture picture;
    ASSERT_PV_OK(picture.Open());
    const kvtest::TestPlane developed = picture.Develop();
    EXPECT_EQ(developed.colorSpace, PravonColorSpace::kRGB16);
    EXPECT_GT(developed.width, 0);
}

// Each change applied to a developed chain gives what a chain built with the change from the start gives.
TEST(FilterChainDevelop, AnIncrementalChangeEqualsADevelopmentFromScratch) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    struct Case {
        const char* name;
        std::function<IPravonError*(IKvnFilterChain*)> change;
    };
    const Case cases[] = {
        {"high-quality mode",
         [](IKvnFilterChain* o) {
             strKvnModeParam mode;
             mode.developmentMode = 3;
             return o->SetMode(&mode);
         }},
        {"quarter turn",
         [](IKvnFilterChain* o) {
             strKvnImageInfoParam info;
             info.orientation = 6;
             return o->SetImageInfo(&info, false);
         }},
        {"exposure one stop up",
         [](IKvnFilterChain* o) {
             strKvnExposureOption ev;
             ev.value = 1.0;
             strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kExposure, &ev};
             return o->SetRawOption(&raw);
         }},
        {"white-balance preset",
         [](IKvnFilterChain* o) {
             strKvnWhiteBalanceOption wb;
             wb.preset = 256;
             wb.temperature = 3000;
             strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kWhiteBalance, &wb};
             return o->SetRawOption(&raw);
         }},
        {"eight bits per channel",
         [](IKvnFilterChain* o) {
             strKvnImageInfoParam info;
             info.bytesPerChannel = 1;
             return o->SetImageInfo(&info, false);
         }},
        {"half size",
         [](IKvnFilterChain* o) {
             strKvnImageInfoParam info;
             info.width = kWidth / 2;
             info.height = kHeight / 2;
             return o->SetImageInfo(&info, false);
         }},
        {"linear scaling at a third of the size",
         [](IKvnFilterChain* o) {
             strKvnModeParam mode;
             mode.scalingMethod = 2;
             if (IPravonError* e = o->SetMode(&mode))
                 return e;
             strKvnImageInfoParam info;
             info.width = kWidth / 3;
             info.height = kHeight / 3;
             return o->SetImageInfo(&info, false);
         }},
        {"mirror",
         [](IKvnFilterChain* o) {
             strKvnImageInfoParam info;
             info.orientation = 2;
             return o->SetImageInfo(&info, false);
         }},
    };
    for (const Case& c : cases) {
        Picture incremental;
        ASSERT_PV_OK(incremental.Open());
        incremental.Develop();
        ASSERT_PV_OK(c.change(incremental.object)) << c.name;
        const kvtest::TestPlane changed = incremental.Develop();

        Picture scratch;
        ASSERT_PV_OK(scratch.Open());
        ASSERT_PV_OK(c.change(scratch.object)) << c.name;
        SCOPED_TRACE(c.name);
        ExpectSame(scratch.Develop(), changed);
    }
}

double MeanSample(const kvtest::TestPlane& plane) {
    double sum = 0;
    for (LONG y = 0; y < plane.height; ++y) {
        const auto* row = reinterpret_cast<const WORD*>(plane.Row(y));
        for (LONG i = 0; i < plane.width * 3; ++i)
            sum += row[i];
    }
    return sum / (static_cast<double>(plane.width) * plane.height * 3);
}

TEST(FilterChainDevelop, MoreExposureGivesABrighterPictureAndResetGivesTheFirstBack) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    Picture picture;
    ASSERT_PV_OK(picture.Open());
    const kvtest::TestPlane first = picture.Develop();
    strKvnExposureOption ev;
    ev.value = 1.0;
    strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kExposure, &ev};
    ASSERT_PV_OK(picture.object->SetRawOption(&raw));
    EXPECT_GT(MeanSample(picture.Develop()), MeanSample(first) * 1.1);
    ASSERT_PV_OK(picture.object->ResetRawOption(&raw));
    ExpectSame(first, picture.Develop());
}

TEST(FilterChainDevelop, OneBytePerChannelGivesEightBitOutput) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    Picture picture;
    ASSERT_PV_OK(picture.Open());
    const kvtest::TestPlane wide = picture.Develop();
    strKvnImageInfoParam info;
    info.bytesPerChannel = 1;
    ASSERT_PV_OK(picture.object->SetImageInfo(&info, false));
    const kvtest::TestPlane narrow = picture.Develop();
    EXPECT_EQ(narrow.colorSpace, PravonColorSpace::kRGB8);
    EXPECT_EQ(narrow.width, wide.width);
    strKvnImageInfoParam got;
    ASSERT_PV_OK(picture.object->GetImageInfo(&got));
    EXPECT_EQ(got.bytesPerChannel, 1);
}

TEST(FilterChainDevelop, TurningBackGivesTheFirstDevelopmentAgain) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    Picture picture;
    ASSERT_PV_OK(picture.Open());
    const kvtest::TestPlane first = picture.Develop();
    strKvnImageInfoParam info;
    info.orientation = 3;
    ASSERT_PV_OK(picture.object->SetImageInfo(&info, false));
    const kvtest::TestPlane turned = picture.Develop();
    EXPECT_NE(kvtest::ComparePlanes(first, turned).maxError, 0u);
    info.orientation = 1;
    ASSERT_PV_OK(picture.object->SetImageInfo(&info, false));
    ExpectSame(first, picture.Develop());
}

TEST(FilterChainDevelop, CleanupDropsTheChainAndTheNextCallBuildsAnother) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    Picture picture;
    ASSERT_PV_OK(picture.Open());
    const kvtest::TestPlane first = picture.Develop();
    ASSERT_PV_OK(picture.object->Cleanup(true));
    EXPECT_EQ(static_cast<CKvnFilterChain*>(picture.object)->GetInternalChain(), nullptr);
    ExpectSame(first, picture.Develop());
}

} // namespace

void ResetStageCounts(const CKvTolmoFilterChain& chain) {
    for (const int number : CKvTolmoFilterChain::ProcessingOrder())
        chain.GetStage(number)->ResetGeneratedTileCount();
}

// Every working stage before `first` in processing order answered from its cache; `first` and every working
// stage after it computed tiles again.
void ExpectRegeneratedFrom(const CKvTolmoFilterChain& chain, int first) {
    const auto& order = CKvTolmoFilterChain::ProcessingOrder();
    const auto at = std::find(order.begin(), order.end(), first);
    ASSERT_NE(at, order.end());
    ASSERT_TRUE(chain.GetStage(first)->IsEnabled());
    for (auto it = order.begin(); it != order.end(); ++it) {
        const CPravonFilterBase* stage = chain.GetStage(*it);
        // A conversion between equal profiles passes its source's tiles on and makes none.
        if (!stage->IsEnabled() || stage->IsPassThrough())
            continue;
        if (it < at)
            EXPECT_EQ(stage->GetGeneratedTileCount(), 0u) << "stage " << *it;
        else
            EXPECT_GT(stage->GetGeneratedTileCount(), 0u) << "stage " << *it;
    }
}

// After a change, only the stage the change reaches first and the working stages after it compute tiles
// again; every working stage before it answers from its cache.
TEST(FilterChainDevelop, AChangeRegeneratesOnlyTheStagesFromTheFirstOneItTouches) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    struct Case {
        const char* name;
        int firstTouched;
        std::function<IPravonError*(IKvnFilterChain*)> change;
    };
    const Case cases[] = {
        {"exposure", 5,
         [](IKvnFilterChain* o) {
             strKvnExposureOption ev;
             ev.value = -0.5;
             strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kExposure, &ev};
             return o->SetRawOption(&raw);
         }},
        {"white balance", 5,
         [](IKvnFilterChain* o) {
             strKvnWhiteBalanceOption wb;
             wb.preset = 256;
             wb.temperature = 4500;
             strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kWhiteBalance, &wb};
             return o->SetRawOption(&raw);
         }},
        {"quarter turn", 18,
         [](IKvnFilterChain* o) {
             strKvnImageInfoParam info;
             info.orientation = 8;
             return o->SetImageInfo(&info, false);
         }},
        {"high-quality mode", 1,
         [](IKvnFilterChain* o) {
             strKvnModeParam mode;
             mode.developmentMode = 3;
             return o->SetMode(&mode);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture;
        ASSERT_PV_OK(picture.Open());
        picture.Develop();
        CKvTolmoFilterChain* chain = static_cast<CKvnFilterChain*>(picture.object)->GetInternalChain();
        ASSERT_NE(chain, nullptr);
        ResetStageCounts(*chain);
        ASSERT_PV_OK(c.change(picture.object));
        picture.Develop();
        ExpectRegeneratedFrom(*chain, c.firstTouched);
    }
}

// The chain gives the output size the object reports, smaller or larger than the picture.
TEST(FilterChainDevelop, TheOutputHasTheRequestedSize) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    const LONG widths[] = {kWidth / 2, kWidth / 5, kWidth * 2};
    for (const LONG width : widths) {
        SCOPED_TRACE(width);
        Picture picture;
        ASSERT_PV_OK(picture.Open());
        picture.Develop();
        strKvnImageInfoParam info;
        info.width = width;
        info.height = width * kHeight / kWidth;
        ASSERT_PV_OK(picture.object->SetImageInfo(&info, false));
        const kvtest::TestPlane developed = picture.Develop();
        strKvnImageInfoParam got;
        ASSERT_PV_OK(picture.object->GetImageInfo(&got));
        EXPECT_EQ(developed.width, got.width);
        EXPECT_EQ(developed.height, got.height);
        // The size settings cap an enlargement; a reduction is had as asked.
        if (width < kWidth)
            EXPECT_NEAR(developed.width, width, 1);
        else
            EXPECT_GT(developed.width, kWidth);
    }
}

// The camera profile generated in the folder: its only "Kvx_" file.
std::string GeneratedProfile(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("Kvx_", 0) == 0)
            return entry.path().string();
    return {};
}

// A grey of linear light v reaches the colour conversion as the display encoding of v (the development
// squares the demosaiced samples back to linear light before the gains and the display curve), and leaves it
// as lcms2 converts that grey from the picture's generated camera profile.
TEST(FilterChainDevelop, AFlatGreyComesOutDisplayEncoded) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    const auto srgb = [](double linear) {
        return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    };
    for (const int value : {64, 512, 1500, 3000, 4000}) {
        SCOPED_TRACE(value);
        Picture picture(value);
        ASSERT_PV_OK(picture.Open());
        const kvtest::TestPlane developed = picture.Develop();
        ASSERT_GT(developed.width, 8);
        const WORD encoded = static_cast<WORD>(std::lround(65535.0 * srgb(value / 4095.0)));
        const WORD grey[3] = {encoded, encoded, encoded};
        const std::vector<WORD> expected =
            kvtest::Lcms2ConvertRgb16(GeneratedProfile(root.Folder()), root.Profile("KVsRGB.icm"), grey, 1);
        ASSERT_EQ(expected.size(), 3u) << "no camera profile was generated";
        for (LONG y = 4; y < developed.height - 4; ++y)
            for (LONG x = 4; x < developed.width - 4; ++x)
                for (LONG ch = 0; ch < 3; ++ch)
                    ASSERT_NEAR(developed.Sample(x, y, ch), expected[static_cast<std::size_t>(ch)],
                                65535.0 * 0.01)
                        << "at " << x << "," << y << " channel " << ch;
    }
}

// The detail stages follow the noise settings: the same picture whether set before the first development or
// changed afterwards, and only the detail stage and what follows it work again.
TEST(FilterChainDevelop, NoiseSettingsSwitchTheDetailStagesAsIfSetFromTheStart) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    struct Case {
        const char* name;
        int stage;
        BYTE moire;
        LONG fineEdge;
    };
    const Case cases[] = {{"moire level 1", 43, 1, 0}, {"moire level 3", 43, 3, 0}, {"fine edge", 23, 0, 1}};
    const auto set = [](IKvnFilterChain* object, const Case& c) {
        auto* chain = static_cast<CKvnFilterChain*>(object);
        chain->noiseReduction.SetFlag(c.moire);
        chain->noiseReduction.SetExtraValue(c.fineEdge);
        return chain->UpdateChain(CKvTolmoFilterChain::kNoiseReductionChanged);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture incremental;
        ASSERT_PV_OK(incremental.Open());
        const kvtest::TestPlane plain = incremental.Develop();
        CKvTolmoFilterChain* chain = static_cast<CKvnFilterChain*>(incremental.object)->GetInternalChain();
        ASSERT_NE(chain, nullptr) << "the development failed";
        EXPECT_FALSE(chain->GetStage(c.stage)->IsEnabled());
        ASSERT_PV_OK(set(incremental.object, c));
        EXPECT_TRUE(chain->GetStage(c.stage)->IsEnabled());
        ResetStageCounts(*chain);
        const kvtest::TestPlane changed = incremental.Develop();
        EXPECT_NE(kvtest::ComparePlanes(plain, changed).maxError, 0u);
        ExpectRegeneratedFrom(*chain, c.stage);

        Picture scratch;
        ASSERT_PV_OK(scratch.Open());
        ASSERT_PV_OK(set(scratch.object, c));
        ExpectSame(scratch.Develop(), changed);
    }
}

TEST(FilterChainDevelop, TheDetailStagesStayOffBelowFullSize) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    Picture picture;
    ASSERT_PV_OK(picture.Open());
    picture.Develop();
    auto* object = static_cast<CKvnFilterChain*>(picture.object);
    object->noiseReduction.SetFlag(2);
    object->noiseReduction.SetExtraValue(1);
    strKvnModeParam mode;
    mode.nativeOrder = 2;
    ASSERT_PV_OK(object->SetMode(&mode));
    strKvnImageInfoParam info;
    info.width = kWidth / 2;
    info.height = kHeight / 2;
    ASSERT_PV_OK(object->SetImageInfo(&info, false));
    CKvTolmoFilterChain* chain = object->GetInternalChain();
    ASSERT_NE(chain, nullptr) << "the development failed";
    EXPECT_FALSE(chain->GetStage(43)->IsEnabled());
    EXPECT_FALSE(chain->GetStage(23)->IsEnabled());
}
