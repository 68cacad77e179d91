#include "ChainPicture.h"
#include "StageRegeneration.h"

#include "rawlib/pipeline/CKvnFilterChain.h"

#include "filters/CPravonFilterCML.h"
#include "filters/CPravonFilterLut.h"
#include "rawlib/settings/CKvImageAttributes.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/IccTestProfiles.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Picture = kvtest::ChainPicture;
constexpr LONG kWidth = Picture::kWidth;
constexpr LONG kHeight = Picture::kHeight;

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

// Lets every lookup-table stage of the built chain be read through, or none.
void SetReadThrough(const CKvTolmoFilterChain& chain, bool allowed) {
    for (const int number : CKvTolmoFilterChain::ProcessingOrder())
        if (auto* lut = dynamic_cast<CPravonFilterLut*>(chain.GetStage(number)))
            lut->SetReadThrough(allowed);
}

// After each kind of change, only the stage the change reaches first and the working stages after it
// compute tiles again; every working stage before it answers from its cache. Counted with every stage
// making its own tiles (as the chain developed before lookup-table stages were read through) and with
// read-through: the stages read through make none, the stage after them makes their pixels, the
// pictures are the same, and no more tiles are made again than before.
TEST(FilterChainDevelop, EachKindOfChangeRegeneratesFromTheFirstStageItTouchesWithAndWithoutReadThrough) {
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
        kvtest::TestPlane developed[2][2]; // [read-through][before, after the change]
        std::uint64_t again[2] = {};
        for (const bool readThrough : {false, true}) {
            Picture picture;
            ASSERT_PV_OK(picture.Open());
            IPravonFilterChain* built = nullptr;
            ASSERT_PV_OK(picture.object->GetFilterChain(&built));
            CKvTolmoFilterChain* chain = static_cast<CKvnFilterChain*>(picture.object)->GetInternalChain();
            ASSERT_NE(chain, nullptr);
            SetReadThrough(*chain, readThrough);
            developed[readThrough][0] = picture.Develop();
            const kvtest::StageRegeneration regeneration(*chain);
            ASSERT_PV_OK(c.change(picture.object));
            developed[readThrough][1] = picture.Develop();
            regeneration.ExpectFrom(c.firstTouched);
            std::printf("%s, read-through %s, tiles made again by stage:", c.name,
                        readThrough ? "on" : "off");
            for (const CPravonFilterBase* stage : regeneration.Stages())
                if (stage->IsEnabled() && !stage->IsPassThrough()) {
                    std::printf(" %d:%llu", regeneration.Number(stage),
                                static_cast<unsigned long long>(stage->GetGeneratedTileCount()));
                    again[readThrough] += stage->GetGeneratedTileCount();
                }
            std::printf("\n");
        }
        ExpectSame(developed[0][0], developed[1][0]);
        ExpectSame(developed[0][1], developed[1][1]);
        EXPECT_LE(again[1], again[0]);
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

// The samples that reach the output conversion (stage 8's input) and the developed picture, taken apart
// from the development: the sRGB encoding of the grey's linear level, worked out here with the sRGB formula,
// and lcms2's own conversion of that encoding from the picture's camera profile to lcms2's own sRGB.
TEST(FilterChainDevelop, AFlatGreyComesOutDisplayEncoded) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder scratch;
    const std::string lcmsSrgb =
        kvtest::WriteIccTestProfile(scratch, kvtest::IccTestProfile::SRGB, "srgb.icm");
    // 0.1 % of the range covers the square-root demosaicing's rounding; 1 % the grid of the camera profile
    // and the two profiles' sRGB curves.
    constexpr double kEncodingTolerance = 65535.0 * 0.001;
    constexpr double kOutputTolerance = 65535.0 * 0.01;
    const auto srgb = [](double linear) {
        return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    };
    for (const int value : {16, 64, 512, 1500, 3000, 4000}) {
        SCOPED_TRACE(value);
        Picture picture(value);
        ASSERT_PV_OK(picture.Open());
        const kvtest::TestPlane developed = picture.Develop();
        ASSERT_EQ(developed.width, Picture::kDevelopedWidth);
        const double encoded = 65535.0 * srgb(value / 4095.0);

        CKvTolmoFilterChain* chain = static_cast<CKvnFilterChain*>(picture.object)->GetInternalChain();
        ASSERT_NE(chain, nullptr);
        IPravonFilterChain* stages = chain->GetOutput();
        const LONG conversion =
            stages->GetPosition(chain->GetStage(CKvTolmoFilterChain::kOutputConversionStage));
        ASSERT_GT(conversion, 0);
        kvtest::TestPlane reaching;
        ASSERT_PV_OK(kvtest::PullAll(stages->GetAt(conversion - 1), &reaching));
        for (LONG y = 0; y < reaching.height; ++y)
            for (LONG x = 0; x < reaching.width; ++x)
                for (LONG ch = 0; ch < 3; ++ch)
                    ASSERT_NEAR(reaching.Sample(x, y, ch), encoded, kEncodingTolerance)
                        << "at " << x << "," << y << " channel " << ch;

        const WORD level = static_cast<WORD>(std::lround(encoded));
        const WORD grey[3] = {level, level, level};
        const std::vector<WORD> expected =
            kvtest::Lcms2ConvertRgb16(GeneratedProfile(root.Folder()), lcmsSrgb, grey, 1);
        ASSERT_EQ(expected.size(), 3u) << "no camera profile was generated";
        for (LONG y = 4; y < developed.height - 4; ++y)
            for (LONG x = 4; x < developed.width - 4; ++x)
                for (LONG ch = 0; ch < 3; ++ch)
                    ASSERT_NEAR(developed.Sample(x, y, ch), expected[static_cast<std::size_t>(ch)],
                                kOutputTolerance)
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
        const kvtest::StageRegeneration regeneration(*chain);
        ASSERT_PV_OK(set(incremental.object, c));
        EXPECT_TRUE(chain->GetStage(c.stage)->IsEnabled());
        const kvtest::TestPlane changed = incremental.Develop();
        EXPECT_NE(kvtest::ComparePlanes(plain, changed).maxError, 0u);
        regeneration.ExpectFrom(c.stage);

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
    EXPECT_FALSE(chain->GetStage(CKvTolmoFilterChain::kMoireStage)->IsEnabled());
    EXPECT_FALSE(chain->GetStage(CKvTolmoFilterChain::kFineEdgeStage)->IsEnabled());
}

// The settings tag of a record made from attributes the caller changed.
void StoreSettings(CPravonTagControl* tags, const std::function<void(CKvImageAttributes&)>& edit) {
    CKvImageAttributes edited;
    edit(edited);
    CKvImageProcSet set;
    edited.GetStateTable(set);
    std::vector<BYTE> record(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(record.data(), static_cast<int>(record.size()));
    ASSERT_PV_OK(
        tags->WriteTag(CKvnFilterChain::kSettingsTag, 1, static_cast<ULONG>(record.size()), record.data()));
}

// A sample written before the sample maker recorded the camera's colour mode and white balance is developed
// as a picture of the camera's sRGB mode in daylight, never refused.
TEST(FilterChainDevelop, ARawPictureWithoutColourModeAndWhiteBalanceTagsIsDeveloped) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    for (const int flat : {-1, 1500}) {
        SCOPED_TRACE(flat);
        Picture picture(flat, Picture::CameraTags::kWithoutColorModeAndWhiteBalance);
        ASSERT_FALSE(picture.tags->TagExists(0x8008D));
        ASSERT_FALSE(picture.tags->TagExists(0x80005));
        ASSERT_PV_OK(picture.Open());
        IPravonFilterChain* chain = nullptr;
        ASSERT_PV_OK(picture.object->GetFilterChain(&chain));
        const kvtest::TestPlane developed = picture.Develop();
        EXPECT_EQ(developed.width, Picture::kDevelopedWidth);
        EXPECT_EQ(developed.height, Picture::kDevelopedHeight);
        EXPECT_FALSE(GeneratedProfile(root.Folder()).empty()) << "a camera profile was generated";
        if (flat >= 0) {
            // A flat mosaic stays flat.
            const ULONG first = developed.Sample(4, 4, 1);
            for (LONG y = 4; y < developed.height - 4; ++y)
                for (LONG x = 4; x < developed.width - 4; ++x)
                    ASSERT_EQ(developed.Sample(x, y, 1), first) << x << "," << y;
        }
    }
}

// The output profile GetImageInfo names is the one the output conversion's engine converts to, before and
// after the chain is built: for a picture whose stored camera settings shot in Adobe RGB (colour mode 2),
// that profile.
TEST(FilterChainDevelop, GetImageInfoNamesTheProfileOfTheOutputConversion) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    struct Case {
        LONG colorMode;
        const char* profile;
    };
    for (const Case& c : {Case{2, "KVAdobe.icm"}, Case{1, "KVsRGB.icm"}}) {
        SCOPED_TRACE(c.colorMode);
        Picture picture;
        StoreSettings(picture.tags, [&](CKvImageAttributes& a) { a.exposure.SetSecondValue(c.colorMode); });
        ASSERT_PV_OK(picture.Open());
        strKvnProfileRequest before;
        strKvnImageInfoParam info;
        info.profile = &before;
        ASSERT_PV_OK(picture.object->GetImageInfo(&info));
        EXPECT_EQ(std::string(before.path), root.Profile(c.profile));

        picture.Develop();
        CKvTolmoFilterChain* chain = static_cast<CKvnFilterChain*>(picture.object)->GetInternalChain();
        ASSERT_NE(chain, nullptr);
        auto* conversion =
            static_cast<CPravonFilterCML*>(chain->GetStage(CKvTolmoFilterChain::kOutputConversionStage));
        ASSERT_TRUE(conversion->IsEnabled());
        ASSERT_NE(conversion->GetCMLEngine(), nullptr);
        PravonFile source, destination, proof;
        conversion->GetCMLEngine()->GetProfiles(&source, &destination, &proof);
        strKvnProfileRequest after;
        info.profile = &after;
        ASSERT_PV_OK(picture.object->GetImageInfo(&info));
        EXPECT_EQ(std::string(after.path), destination.path);
        EXPECT_EQ(destination.path, root.Profile(c.profile));
    }
}

// A dark left half and a bright right half, the edge between them upright.
Picture EdgePicture() {
    return Picture([](LONG x, LONG, WORD) -> WORD { return x < Picture::kWidth / 2 ? 400 : 2400; });
}

// The spread of green along the middle row: sharpening overshoots on both sides of the edge.
double EdgeSpread(const kvtest::TestPlane& plane) {
    const LONG y = plane.height / 2;
    ULONG low = 65535, high = 0;
    for (LONG x = 0; x < plane.width; ++x) {
        low = std::min(low, plane.Sample(x, y, 1));
        high = std::max(high, plane.Sample(x, y, 1));
    }
    return static_cast<double>(high) - static_cast<double>(low);
}

// The camera's own sharpening, asked for by the stored camera settings (their second flag and a level),
// raises the contrast at an edge; a neutral level, a request without its flag, or raw option 4 at 0 leaves
// the picture as it is without camera sharpening.
TEST(FilterChainDevelop, TheCameraSharpeningSharpensWhenTheCameraSettingsAskForIt) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    Picture plainPicture = EdgePicture();
    ASSERT_PV_OK(plainPicture.Open());
    const kvtest::TestPlane plain = plainPicture.Develop();
    ASSERT_GT(plain.width, 0);

    const auto develop = [](BYTE asked, LONG level, BYTE rawOption4) {
        Picture picture = EdgePicture();
        StoreSettings(picture.tags, [&](CKvImageAttributes& a) {
            a.exposure.SetSecondFlag(asked);
            a.exposure.SetFifthValue(level);
        });
        EXPECT_PV_OK(picture.Open());
        strKvnFlagOption flag;
        flag.flag = rawOption4;
        strKvnRawOption option{sizeof(strKvnRawOption), KvnRawOption::kCameraSettings, &flag};
        EXPECT_PV_OK(picture.object->SetRawOption(&option));
        kvtest::TestPlane developed = picture.Develop();
        const CKvTolmoFilterChain* chain = static_cast<CKvnFilterChain*>(picture.object)->GetInternalChain();
        const bool on = chain && chain->GetStage(CKvTolmoFilterChain::kCameraSharpeningStage)->IsEnabled();
        return std::make_pair(developed, on);
    };
    for (const LONG level : {1, 3, 5}) {
        SCOPED_TRACE(level);
        const auto [sharpened, on] = develop(1, level, 1);
        EXPECT_TRUE(on);
        EXPECT_GT(EdgeSpread(sharpened), EdgeSpread(plain) * 1.01);
    }
    struct Off {
        const char* name;
        BYTE asked;
        LONG level;
        BYTE rawOption4;
    };
    for (const Off& c : {Off{"a neutral level", 1, 0, 1}, Off{"a level not asked for", 0, 5, 1},
                         Off{"raw option 4 at 0", 1, 5, 0}}) {
        SCOPED_TRACE(c.name);
        const auto [developed, on] = develop(c.asked, c.level, c.rawOption4);
        EXPECT_FALSE(on);
        ExpectSame(plain, developed);
    }
}

} // namespace
