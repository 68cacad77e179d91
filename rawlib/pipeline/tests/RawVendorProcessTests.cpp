#include "rawlib/pipeline/CKvnProcessRawVendor1.h"

#include "NamedSettingsRecord.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/pravon/PravonImageData.h"
#include "platform/quasel/CPravonTagControl.h"
#include "platform/veruzoraz/VeruzorazTest.h"
#include "rawlib/pipeline/CKvnFilterChain.h"
#include "rawlib/settings/CKvImageAttributes.h"
#include "testing/AllocationSeam.h"
#include "testing/ImageCompare.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr BYTE kBGGR[8] = {0, 2, 0, 2, 2, 1, 1, 0};
constexpr BYTE kYCGM[8] = {0, 2, 0, 2, 5, 3, 1, 4};

// A loader that only offers sub-images: one complementary mosaic of the given size when asked to.
class SubImageLoad final : public IPravonLoad {
public:
    LONG subWidth = 0, subHeight = 0;
    IPravonError* Open(IPravonFileStream*, IPravonTagControl*) override { return nullptr; }
    IPravonError* Begin(IPravonImage*) override { return nullptr; }
    IPravonError* Step() override { return nullptr; }
    bool IsComplete() const override { return true; }
    LONG GetSubImageCount() override { return subWidth ? 2 : 0; }
    IPravonError* GetSubImageColorSpace(LONG index, LONG* code) override {
        *code = index == 2 ? CProcessRawVendor1::kComplementaryMosaic : 0x10020401;
        return nullptr;
    }
    IPravonError* LoadSubImage(LONG, IPravonImage* image) override {
        PravonErrorPtr(image->SetColorSpace(CProcessRawVendor1::kComplementaryMosaic));
        return image->SetSize(subWidth, subHeight);
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
};

// The caller's progress object: every value it hears, and the value at which it asks to stop.
struct Listener : IKvnProcessRawVendor1::IProgress {
    std::vector<LONG> heard;
    LONG stopAt = -100;
    int Progress(LONG current, LONG) override {
        heard.push_back(current);
        return current == stopAt;
    }
};

// The blue, green and red of one cell of the blue-green-green-red mosaic.
struct CellValues {
    WORD blue, green, red;
};
CellValues FlatCells(LONG, LONG) {
    return {400, 1000, 800};
}

// One picture of camera model 513: a mosaic of BGGR cells (flat 40 x 30 unless told), its size tags, its
// pattern and private data.
struct Picture {
    explicit Picture(WORD model = 513, const BYTE* pattern = kBGGR, ULONG patternBytes = 8, LONG width = 40,
                     LONG height = 30, CellValues (*scene)(LONG, LONG) = FlatCells) {
        tagControl = new CPravonTagControl();
        tags.reset(tagControl);
        tagControl->SetCameraModel(model);
        const LONG sizeTags[3] = {width, height, 0x10020401};
        for (ULONG i = 0; i < 3; ++i)
            PravonErrorPtr(tagControl->WriteTag(0x10000 + i, 4, 4, &sizeTags[i]));
        PravonErrorPtr(tagControl->WriteTag(CProcessRawVendor1::kPatternTag, 1, patternBytes, pattern));
        std::vector<BYTE> privateData(400, 0);
        for (int i = 0; i < 400; ++i)
            privateData[i] = static_cast<BYTE>(i * 7);
        privateData[0] = model <= 514 ? 1 : 0;
        PravonErrorPtr(tagControl->WriteTag(CProcessRawVendor1::kPrivateTag, 1, 400, privateData.data()));
        IPravonImage* made = nullptr;
        PravonErrorPtr(manager.CreateImage(0, &made));
        mosaic.reset(made);
        PravonErrorPtr(mosaic->SetColorSpace(0x10020401));
        PravonErrorPtr(mosaic->SetSize(width, height));
        std::vector<WORD> samples(static_cast<std::size_t>(width * height));
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width; ++x) {
                const CellValues cell = scene(x / 2, y / 2);
                samples[y * width + x] =
                    y % 2 == 0 ? (x % 2 == 0 ? cell.blue : cell.green) : (x % 2 == 0 ? cell.green : cell.red);
            }
        PravonErrorPtr(PravonSetData(mosaic.get(), {0, 0, width, height}, samples.data(), 2 * width));
    }
    IKvnProcessRawVendor1* Create() {
        IKvnProcessRawVendor1* object = nullptr;
        PravonErrorPtr(IKvnProcessRawVendor1::CreateObject(&manager, &object));
        return object;
    }
    CPravonMemoryManager manager{16};
    CPravonTagControl* tagControl = nullptr;
    PravonTagControlPtr tags;
    PravonImagePtr mosaic;
    SubImageLoad load;
};

struct Destroyer {
    void operator()(IKvnProcessRawVendor1* object) const { object->Destroy(); }
};
using ProcessorPtr = std::unique_ptr<IKvnProcessRawVendor1, Destroyer>;

class RawVendorProcess : public ::testing::Test {
protected:
    void SetUp() override {
        VerTestReset();
        CProcessRawVendor1::SetLibraryPathForTesting("");
    }
    void TearDown() override {
        VerTestReset();
        CProcessRawVendor1::SetLibraryPathForTesting("");
    }
};

TEST(RawVendorDerive, GivesTheParametersOfEachModelAndSetting) {
    struct Case {
        WORD model;
        BYTE wbOn;
        LONG wbMode, preset;
        double red, blue;
        BYTE exOn;
        LONG toneMode, fourth;
        double ev;
        LONG toneTag; // 0: no tag
        CProcessRawVendor1::Parameters expected;
        LONG wbModeExpected;
    } cases[] = {
        // As-shot gains 2.0 / 1.5 from the camera information: x128 for 513, x256 for 515, mode 0.
        {513, 0, 2, 0, 0, 0, 0, 0, 0, 0.0, 0, {256, 192, 1, 1, 256, 256}, 0},
        {515, 0, 2, 0, 0, 0, 0, 0, 0, 0.0, 0, {512, 384, 1, 1, 256, 256}, 0},
        // The state's gains in mode 3: preset 256 gives white-balance mode 1, others 2; 700 clamps to 512.
        {514, 1, 3, 256, 1.25, 5.47, 0, 0, 0, 0.0, 0, {160, 512, 1, 1, 256, 256}, 1},
        {516, 1, 1, 512, 4.5, 3.0, 0, 0, 0, 0.0, 0, {1024, 768, 1, 1, 256, 256}, 2},
        // Camera settings: mode codes, exposure 256 x 2^EV (truncated), tone factor from 0x80094.
        {513, 0, 2, 0, 0, 0, 1, 0, 0, 1.0, -2, {256, 192, 1, 1, 512, 192}, 0},
        {513, 0, 2, 0, 0, 0, 1, 2, 2, -0.5, -1, {256, 192, 2, 3, 181, 224}, 0},
        {513, 0, 2, 0, 0, 0, 1, 3, 3, 0.25, 1, {256, 192, 0, 2, 304, 288}, 0},
        {513, 0, 2, 0, 0, 0, 1, 5, 4, 0.0, 5, {256, 192, 3, 3, 256, 256}, 0},
        {513, 0, 2, 0, 0, 0, 1, 6, 9, 40.0, 0, {256, 192, 4, 2, 2147483647, 256}, 0},
        {513, 0, 2, 0, 0, 0, 1, 7, 1, 0.0, 0, {256, 192, 4, 0, 256, 256}, 0},
    };
    for (const Case& c : cases) {
        CPravonTagControl* tags = new CPravonTagControl();
        PravonTagControlPtr owner(tags);
        if (c.toneTag)
            PravonErrorPtr(tags->WriteTag(CKvnProcessRawVendor1::kToneTag, 4, 4, &c.toneTag));
        ImageProperties snapshot;
        snapshot.cameraModelCode = c.model;
        snapshot.tagControl = tags;
        const double asShot[2] = {2.0, 1.5};
        std::memcpy(snapshot.cameraInformation.data(), asShot, sizeof asShot);
        CKvWBAdjustment wb;
        wb.SetMode(c.wbMode);
        wb.SetPreset(c.preset);
        wb.SetGains(c.red, c.blue);
        CKvExposureAdjustment ex;
        ex.SetMode(c.toneMode);
        ex.SetThirdValue(c.fourth);
        ex.SetCompensation(c.ev);
        snapshot.whiteBalanceEnabled = c.wbOn;
        snapshot.whiteBalance = &wb;
        snapshot.exposureEnabled = c.exOn;
        snapshot.exposure = &ex;
        const auto derived = CKvnProcessRawVendor1::DeriveParameters(snapshot, {});
        EXPECT_EQ(derived.parameters, c.expected)
            << "model " << c.model << " ev " << c.ev << " tone " << c.toneMode;
        EXPECT_EQ(derived.whiteBalanceMode, c.wbModeExpected) << "model " << c.model;
    }
    ImageProperties other;
    other.cameraModelCode = 258;
    const CProcessRawVendor1::Parameters current{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(CKvnProcessRawVendor1::DeriveParameters(other, current).parameters, current) << "other models";
}

TEST_F(RawVendorProcess, InitialisationChecksThePatternAndThePrivateData) {
    for (const BYTE* pattern : {kBGGR, kYCGM}) {
        Picture picture(513, pattern);
        ProcessorPtr object(picture.Create());
        EXPECT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    }
    const BYTE wrong[8] = {0, 2, 0, 2, 1, 0, 2, 1};
    Picture bad(513, wrong), shortTag(513, kBGGR, 4), noData;
    PravonErrorPtr(noData.tagControl->RemoveTag(CProcessRawVendor1::kPrivateTag));
    for (Picture* p : {&bad, &shortTag, &noData}) {
        ProcessorPtr object(p->Create());
        PravonErrorPtr error(object->Initialize(&p->load, p->tags.get(), p->mosaic.get()));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetKind(), PravonKind::kInvalidState);
        EXPECT_EQ(error->GetComponent(), FourCC("Raw1"));
    }
    Picture picture;
    ProcessorPtr object(picture.Create());
    EXPECT_PV_KIND(object->Initialize(nullptr, picture.tags.get(), picture.mosaic.get()),
                   PravonKind::kBadArgument);
    EXPECT_PV_KIND(IKvnProcessRawVendor1::CreateObject(nullptr, nullptr), PravonKind::kBadArgument);
}

TEST_F(RawVendorProcess, ConvertsWithTheDerivedGainsAndReportsProgressInOrder) {
    Picture picture;
    ProcessorPtr object(picture.Create());
    Listener listener;
    ASSERT_PV_OK(object->SetCallbackObject(&listener));
    kvtest::NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(object.get(), &recorder));
    ASSERT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    ASSERT_PV_OK(object->Process());
    EXPECT_EQ(recorder.Count(PravonNotification::kUpdateAll), 1u)
        << "the exported image's destinations hear it";
    LONG w = 0, h = 0;
    ASSERT_PV_OK(object->GetSize(&w, &h));
    EXPECT_EQ(w, 24) << "16 narrower than the mosaic";
    EXPECT_EQ(h, 24) << "6 lower";
    // No as-shot gains in the tags: 1.0 x 128 in 128ths; the cell B 400, G 1000, R 800 comes out on the
    // sRGB curve in 12 bits (within a level), widened to 16 bits.
    PravonPixel pixel{};
    ASSERT_PV_OK(object->GetPixel(5, 7, &pixel));
    const auto srgb16 = [](double linear) {
        const double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
        return static_cast<double>((std::lround(encoded * 4095) * 4097) >> 8);
    };
    EXPECT_NEAR(pixel.sample[0], srgb16(800 / 4095.0), 16);
    EXPECT_NEAR(pixel.sample[1], srgb16(1000 / 4095.0), 16);
    EXPECT_NEAR(pixel.sample[2], srgb16(400 / 4095.0), 16);
    const std::vector<LONG> expected = {0, 16, 24};
    EXPECT_EQ(listener.heard, expected) << "the caller hears only the library's values";
    const auto log = VerTestCallLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].heightMinus1, 29);
    EXPECT_EQ(log[0].width, 40);
    EXPECT_EQ(log[0].pattern, VER_PATTERN_BGGR);
    EXPECT_EQ(log[0].redGain, 128);
    // White-balance mode 0 leaves the private data's fields as they were.
    EXPECT_EQ(log[0].privateData[2 * 148], static_cast<BYTE>(2 * 148 * 7));

    ASSERT_PV_OK(object->Process());
    EXPECT_EQ(VerTestCallLog().size(), 1u) << "nothing changed: no second conversion";
}

TEST_F(RawVendorProcess, TheInternalProcessorsReceiverHearsTheCodesInOrder) {
    struct Recorder : CProcessRawVendor1::IProgress {
        std::vector<LONG> heard;
        int Progress(LONG current, LONG) override {
            heard.push_back(current);
            return 1;
        }
    } recorder;
    Picture picture;
    {
        auto* processor = new CProcessRawVendor1(&picture.manager);
        processor->SetProgressReceiver(&recorder);
        ASSERT_PV_OK(processor->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
        ASSERT_PV_OK(processor->Convert());
        processor->Release();
    }
    const std::vector<LONG> expected = {-3, -1, 0, 16, 24, -2, -4};
    EXPECT_EQ(recorder.heard, expected);
}

TEST_F(RawVendorProcess, AFailedConversionIsReportedAndTriedAgain) {
    struct Case {
        std::int32_t forced;
        LONG kind;
    } cases[] = {{0, 2001}, {2, 2000}, {7, 2000}};
    for (const Case& c : cases) {
        VerTestReset();
        Picture picture;
        ProcessorPtr object(picture.Create());
        ASSERT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
        VerTestForceResult(c.forced);
        PravonErrorPtr error(object->Process());
        ASSERT_TRUE(error) << c.forced;
        EXPECT_EQ(error->GetKind(), c.kind);
        EXPECT_EQ(error->GetEntry(0).secondary, FourCC("sigp"));
        PravonErrorPtr again(object->Process());
        EXPECT_TRUE(again) << "a processor still dirty converts again, and fails again";
        EXPECT_EQ(VerTestCallLog().size(), 2u);
        VerTestReset();
        EXPECT_PV_OK(object->Process());
        EXPECT_EQ(VerTestCallLog().size(), 1u);
    }
}

TEST_F(RawVendorProcess, TheCallersStopEndsTheConversion) {
    Picture picture;
    ProcessorPtr object(picture.Create());
    Listener listener;
    listener.stopAt = 16;
    ASSERT_PV_OK(object->SetCallbackObject(&listener));
    ASSERT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    EXPECT_PV_KIND(object->Process(), 2001);
    EXPECT_EQ(object->GetCallbackObject(), &listener);
}

TEST_F(RawVendorProcess, AMissingLibraryOrCallGives1007) {
    for (const char* path : {"/nonexistent/VERuzOraz.dll", KV_VERUZORAZ_NOEXPORT}) {
        ASSERT_EQ(CProcessRawVendor1::GetLiveCount(), 0) << "the library is freed with the last processor";
        ASSERT_FALSE(CProcessRawVendor1::IsLibraryLoaded());
        CProcessRawVendor1::SetLibraryPathForTesting(path);
        Picture picture;
        ProcessorPtr object(picture.Create());
        ASSERT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
        EXPECT_PV_KIND(object->Process(), PravonKind::kInvalidState) << path;
        EXPECT_FALSE(CProcessRawVendor1::IsLibraryLoaded());
    }
    CProcessRawVendor1::SetLibraryPathForTesting("");
    Picture picture;
    ProcessorPtr first(picture.Create()), second(picture.Create());
    ASSERT_PV_OK(first->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    ASSERT_PV_OK(first->Process());
    EXPECT_TRUE(CProcessRawVendor1::IsLibraryLoaded());
    first.reset();
    EXPECT_TRUE(CProcessRawVendor1::IsLibraryLoaded()) << "a processor still lives";
    second.reset();
    EXPECT_FALSE(CProcessRawVendor1::IsLibraryLoaded());
}

TEST_F(RawVendorProcess, RawOptionsOverrideTheSettings) {
    Picture picture(515);
    ProcessorPtr object(picture.Create());
    ASSERT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    ASSERT_PV_OK(object->Process());
    strKvnExposureOption ex;
    ex.value = 1.0;
    strKvnRawOption option;
    option.type = KvnRawOption::kExposure;
    option.data = &ex;
    ASSERT_PV_OK(object->SetRawOption(&option));
    ASSERT_PV_OK(object->Process());
    ASSERT_EQ(VerTestCallLog().size(), 2u);
    EXPECT_EQ(VerTestCallLog()[1].exposureFactor, 512);
    EXPECT_EQ(VerTestCallLog()[1].firstMode, 1) << "the override turns the default camera settings on";

    strKvnWhiteBalanceOption wb;
    wb.preset = 512;
    wb.temperature = 0;
    option.type = KvnRawOption::kWhiteBalance;
    option.data = &wb;
    ASSERT_PV_OK(object->SetRawOption(&option));
    ASSERT_PV_OK(object->Process());
    ASSERT_EQ(VerTestCallLog().size(), 3u);
    // Temperature 0 gives gains of 1.0: 256 in 256ths, white-balance mode 2 patches every pair.
    EXPECT_EQ(VerTestCallLog()[2].redGain, 256);
    EXPECT_EQ(VerTestCallLog()[2].privateData[2 * 148], 255) << "blue gain - 1";
    EXPECT_EQ(VerTestCallLog()[2].privateData[2 * 167], 255) << "red gain - 1";
    ASSERT_PV_OK(object->SetRawOption(&option));
    ASSERT_PV_OK(object->Process());
    EXPECT_EQ(VerTestCallLog().size(), 3u) << "the same override twice leaves the processor clean";

    strKvnWhiteBalanceOption read;
    option.data = &read;
    ASSERT_PV_OK(object->GetRawOption(&option));
    EXPECT_EQ(read.preset, 512);
    ASSERT_PV_OK(object->ResetRawOption(&option));
    ASSERT_PV_OK(object->GetRawOption(&option));
    EXPECT_EQ(read.preset, 0);
    for (LONG type : {1, 4}) {
        option.type = type;
        EXPECT_PV_KIND(object->SetRawOption(&option), PravonKind::kOutOfRange);
        EXPECT_PV_KIND(object->GetRawOption(&option), PravonKind::kOutOfRange);
    }
    option.type = 5;
    EXPECT_PV_KIND(object->ResetRawOption(&option), PravonKind::kBadArgument);
}

// Stored settings that make their reader run out of memory (the picture's 1234-character name) give an
// error of kind 1005 from Process, never an exception; the next Process reads them and converts with them.
TEST_F(RawVendorProcess, StoredSettingsWhoseReaderRunsOutOfMemoryGiveAnError) {
    constexpr std::size_t kNameLength = 1234;
    CKvImageAttributes edited;
    edited.exposure.SetCompensation(1.0);
    CKvImageProcSet set;
    edited.GetStateTable(set);
    std::vector<BYTE> record(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(record.data(), static_cast<int>(record.size()));
    record = kvtest::WithNameItem(record, kNameLength);
    Picture picture(515);
    ASSERT_PV_OK(picture.tagControl->WriteTag(CKvnFilterChain::kSettingsTag, 1,
                                              static_cast<ULONG>(record.size()), record.data()));
    ProcessorPtr object(picture.Create());
    ASSERT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    IPravonError* error = nullptr;
    kvtest::FailAllocationOfSize(kNameLength + 1);
    EXPECT_NO_THROW(error = object->Process());
    EXPECT_TRUE(kvtest::StopFailingAllocations()) << "the name's copy was refused";
    EXPECT_PV_KIND(error, PravonKind::kOutOfMemory);
    EXPECT_TRUE(VerTestCallLog().empty()) << "nothing converted";
    ASSERT_PV_OK(object->Process());
    ASSERT_EQ(VerTestCallLog().size(), 1u);
    EXPECT_EQ(VerTestCallLog()[0].exposureFactor, 512) << "the stored exposure, one stop up";
}

TEST_F(RawVendorProcess, TheSubImagesGeometryIsTheOneReportedAndHeld) {
    Picture picture;
    picture.load.subWidth = 50;
    picture.load.subHeight = 20;
    auto* processor = new CProcessRawVendor1(&picture.manager);
    ASSERT_PV_OK(processor->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    ASSERT_PV_OK(processor->Convert());
    ASSERT_PV_OK(processor->UseSubImage(true, true));
    EXPECT_TRUE(processor->IsDirty());
    LONG w = 0, h = 0;
    ASSERT_PV_OK(processor->GetSize(&w, &h));
    EXPECT_EQ(w, 34);
    EXPECT_EQ(h, 16) << "4 lower for the complementary pattern";
    ASSERT_PV_OK(processor->Convert());
    PravonPixel pixel{};
    EXPECT_PV_OK(processor->GetPixel(33, 15, &pixel)) << "the result was made at the sub-image's size";
    EXPECT_EQ(VerTestCallLog().back().pattern, VER_PATTERN_YCGM);
    EXPECT_PV_KIND(processor->SetSize(1, 1), PravonKind::kInvalidState);
    processor->Release();
}

TEST_F(RawVendorProcess, TooSmallAMosaicIsRefused) {
    Picture picture;
    PravonErrorPtr(picture.mosaic->SetSize(16, 30));
    ProcessorPtr object(picture.Create());
    ASSERT_PV_OK(object->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
    EXPECT_PV_KIND(object->Process(), PravonKind::kInvalidState);
    EXPECT_TRUE(VerTestCallLog().empty());
}

// A 64 x 46 gradient of model 513, converted by its exported processor and developed by a filter-chain
// object over the processor's image.
struct ChainOverProcessor {
    static CellValues Gradient(LONG x, LONG y) {
        return {static_cast<WORD>(300 + 20 * x), static_cast<WORD>(900 + 10 * y),
                static_cast<WORD>(600 + 15 * (x + y))};
    }
    ChainOverProcessor() : picture(513, kBGGR, 8, 64, 46, Gradient), processor(picture.Create()) {
        EXPECT_PV_OK(processor->Initialize(&picture.load, picture.tags.get(), picture.mosaic.get()));
        EXPECT_PV_OK(processor->Process());
        EXPECT_PV_OK(IKvnFilterChain::CreateObject(&object));
        EXPECT_PV_OK(object->Initialize(&picture.manager, processor.get(), picture.tags.get()));
        IPravonFilterChain* output = nullptr;
        EXPECT_PV_OK(object->GetFilterChain(&output));
        EXPECT_PV_OK(kvtest::PullAll(output->GetOutput(), &developed, kvtest::PullOrder::RandomOrder));
        chain = static_cast<CKvnFilterChain*>(object)->GetInternalChain();
        raw = static_cast<CKvnProcessRawVendor1*>(processor.get())->GetProcessor();
    }
    ~ChainOverProcessor() { object->Destroy(); }
    kvtest::ProfileMachine machine{KV_MAKE_PROFILES};
    Picture picture;
    ProcessorPtr processor;
    IKvnFilterChain* object = nullptr;
    kvtest::TestPlane developed;
    CKvTolmoFilterChain* chain = nullptr;
    CProcessRawVendor1* raw = nullptr;
};

// No demosaicing and no raw stages: the chain gives the processor's RGB at its size, unchanged.
TEST_F(RawVendorProcess, AModel513PictureDevelopsFromTheProcessorsImage) {
    const ChainOverProcessor d;
    kvtest::TestPlane converted;
    ASSERT_PV_OK(kvtest::PullAll(d.processor.get(), &converted));
    EXPECT_EQ(converted.width, 48);
    EXPECT_EQ(converted.height, 40);
    const kvtest::PlaneDifference difference = kvtest::ComparePlanes(converted, d.developed);
    EXPECT_TRUE(difference.sameGeometry && difference.maxError == 0) << difference.Describe();
    for (int stage = 0; stage <= 5; ++stage)
        EXPECT_FALSE(d.chain->GetStage(stage)->IsEnabled()) << "stage " << stage;
}

// A conversion that an update brings about (Revelation's pass pulls the source) reports under the mode bit
// when the chain has the processor; without one, as its owner leaves it, nothing is hooked. The processor's
// own receiver is its receiver again afterwards.
TEST_F(RawVendorProcess, AConversionDuringAChainUpdateReportsThroughItsProgress) {
    using Report = std::array<LONG, 2>;
    const auto record = [](LONG state, LONG percent, LONG category, void* reports) {
        if (category == CKvTolmoFilterChain::kModeChanged)
            static_cast<std::vector<Report>*>(reports)->push_back({state, percent});
    };
    for (const bool hooked : {true, false}) {
        ChainOverProcessor d;
        struct : CProcessRawVendor1::IProgress {
            int Progress(LONG, LONG) override { return 1; }
        } receiver;
        d.raw->SetProgressReceiver(&receiver);
        d.chain->SetRawProcessor(hooked ? d.raw : nullptr);
        ASSERT_PV_OK(d.raw->Invalidate(false));
        auto* object = static_cast<CKvnFilterChain*>(d.object);
        object->revelationEnabled = 1;
        object->revelation.SetFirstAmount(80);
        std::vector<Report> reports;
        ASSERT_EQ(d.chain->Update(object->CreateProperties().get(), CKvTolmoFilterChain::kRevelationChanged,
                                  1.0, record, &reports),
                  CKvTolmoFilterChain::kOk);
        EXPECT_FALSE(d.raw->IsDirty());
        // The library's rows 0, 16, 32 and 40 of 40, as percents of 41.
        const std::vector<Report> expected{{0, 0}, {1, 0}, {1, 39}, {1, 78}, {1, 97}, {2, 100}};
        EXPECT_EQ(reports, hooked ? expected : std::vector<Report>{}) << hooked;
        EXPECT_EQ(d.raw->GetProgressReceiver(), &receiver);
        d.raw->SetProgressReceiver(nullptr);
    }
    // Totals that give no share, values past the total, and the attach codes, which report nothing.
    const std::array<LONG, 4> cases[] = {
        {5, -1, 1, 0}, {50, 10, 1, 100}, {INT32_MAX, INT32_MAX, 1, 99}, {-3, 0, -1, -1}};
    for (const auto& [current, total, state, percent] : cases) {
        LONG s = -1, p = -1;
        EXPECT_EQ(CKvTolmoFilterChain::RawProgressOf(current, total, &s, &p), state >= 0) << current;
        EXPECT_EQ((Report{s, p}), (Report{state, percent})) << current << " of " << total;
    }
}

} // namespace
