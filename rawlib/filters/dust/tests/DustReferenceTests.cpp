#include "testing/AllocationSeam.h"
#include "DustTestSupport.h"

#include "rawlib/filters/dust/CDustReference.h"
#include "rawlib/filters/dust/KvDustReferenceFormat.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"

#include <zlib.h>

#include <gtest/gtest.h>

namespace {

using namespace dusttest;
using kvtest::AllocationWatch;
using kvtest::FillPattern;
using kvtest::MakePlane;

constexpr LONG kBad = PravonKind::kNoSource; // bad or short blobs

kvtest::TestPlane ReferencePlane(LONG width = 100, LONG height = 100) {
    return MakePlane(width, height, PravonColorSpace::kGrey8, FillPattern::Coordinates);
}

IPravonError* Load(CDustReference& reference, const Bytes& blob) {
    return reference.Load(static_cast<ULONG>(blob.size()), blob.data());
}

TEST(DustReference, LoadsTheImageAndTheShootingParameters) {
    CPravonMemoryManager manager(32);
    const kvtest::TestPlane plane = ReferencePlane(120, 101);
    ReferenceFields fields;
    fields.cameraType = 259;
    fields.shootingWord = 77;
    fields.lensCode = 35;
    fields.apertureCode = 96;
    const Bytes blob = ReferenceBlob(fields, plane);
    CDustReference reference(&manager);
    EXPECT_EQ(reference.GetState(), 0);
    EXPECT_EQ(reference.GetShootingWord(), 200u);
    EXPECT_EQ(reference.GetImage(), nullptr);
    ASSERT_PV_OK(Load(reference, blob));
    EXPECT_EQ(reference.GetState(), 11);
    EXPECT_EQ(reference.GetCameraType(), 259u);
    EXPECT_EQ(reference.GetShootingWord(), 77u);
    EXPECT_EQ(reference.GetWidth(), 120u);
    EXPECT_EQ(reference.GetHeight(), 101u);
    EXPECT_EQ(reference.GetLensCode(), 35u);
    EXPECT_EQ(reference.GetApertureCode(), 96u);
    EXPECT_EQ(reference.GetCompressedLength(), blob.size() - 40);

    IPravonImage* image = reference.GetImage();
    ASSERT_NE(image, nullptr);
    LONG colorSpace = 0;
    double resolution = 0;
    bool flip = true;
    double angle = 1;
    ASSERT_PV_OK(image->GetColorSpace(&colorSpace));
    ASSERT_PV_OK(image->GetResolution(&resolution));
    ASSERT_PV_OK(image->GetTransform(&flip, &angle));
    EXPECT_EQ(colorSpace, 0x08020001);
    EXPECT_EQ(resolution, 300.0);
    EXPECT_FALSE(flip);
    EXPECT_EQ(angle, 0.0);
    EXPECT_TRUE(kvtest::PlanesMatch(plane, Pull(image)));
}

TEST(DustReference, DecodesAlikeWhateverTheImagesStripHeight) {
    const kvtest::TestPlane plane = MakePlane(157, 103, PravonColorSpace::kGrey8, FillPattern::Random, 5);
    const Bytes blob = ReferenceBlob({}, plane);
    for (LONG tileSize : {7, 16, 100, 103, 256}) {
        CPravonMemoryManager manager(tileSize);
        CDustReference reference(&manager);
        ASSERT_PV_OK(Load(reference, blob));
        EXPECT_TRUE(kvtest::PlanesMatch(plane, Pull(reference.GetImage()))) << "tile size " << tileSize;
    }
}

TEST(DustReference, HeaderRulesAtTheirLimits) {
    const Bytes stream100 = ZlibStream(Samples(ReferencePlane()));
    const Bytes stream99 = ZlibStream(Samples(ReferencePlane(99, 100)));
    struct Case {
        const char* what;
        ReferenceFields fields;
        const Bytes* stream;
        LONG kind; // 0 for success
    };
    ReferenceFields h27;
    h27.headerSize = 27;
    ReferenceFields h40;
    h40.headerSize = 40;
    ReferenceFields w99;
    w99.width = 99;
    ReferenceFields h99;
    h99.height = 99;
    ReferenceFields magic;
    magic.magic = 0x4C747344;
    ReferenceFields l11;
    l11.length = 11;
    ReferenceFields beyond;
    beyond.length = static_cast<ULONG>(stream100.size() + 1);
    ReferenceFields w70000;
    w70000.width = 70000;
    const Case cases[] = {
        {"header size 28, exactly 40 + L bytes", {}, &stream100, 0},
        {"longer header skipped", h40, &stream100, 0},
        {"header size 27", h27, &stream100, kBad},
        {"width 99", w99, &stream99, kBad},
        {"height 99", h99, &stream99, kBad},
        {"another magic", magic, &stream100, kBad},
        {"compressed length 11", l11, &stream100, kBad},
        {"compressed length beyond the blob", beyond, &stream100, kBad},
        {"width 70000", w70000, &stream100, kBad},
    };
    for (const Case& c : cases) {
        CPravonMemoryManager manager;
        CDustReference reference(&manager);
        const Bytes blob = ReferenceBlob(c.fields, *c.stream);
        if (c.kind == 0)
            EXPECT_PV_OK(Load(reference, blob)) << c.what;
        else
            EXPECT_PV_KIND(Load(reference, blob), c.kind) << c.what;
        EXPECT_EQ(reference.IsLoaded(), c.kind == 0) << c.what;
    }
}

TEST(DustReference, ShortBlobsReadAsAbsentFieldsAndFail) {
    const Bytes full = ReferenceBlob({}, ReferencePlane());
    for (std::size_t size : {0, 3, 4, 11, 12, 15, 16, 39, 40}) {
        CPravonMemoryManager manager;
        CDustReference reference(&manager);
        EXPECT_PV_KIND(reference.Load(static_cast<ULONG>(size), size ? full.data() : nullptr), kBad) << size;
        EXPECT_EQ(manager.GetImageCount(), 0u) << size;
    }
}

// Headers whose words would wrap a 32-bit sum, or claim images far beyond what the stream can hold: refused
// before anything is made, and no request for memory beyond the input's scale.
TEST(DustReference, LyingHeadersAllocateNothing) {
    const Bytes stream = ZlibStream(Samples(ReferencePlane()));
    struct Case {
        const char* what;
        ReferenceFields fields;
    };
    ReferenceFields hugeHeader;
    hugeHeader.headerSize = 0xFFFFFFF0;
    ReferenceFields hugeLength;
    hugeLength.length = 0xFFFFFFF0; // 12 + 28 + L wraps to 24 in 32 bits
    ReferenceFields bothHuge;
    bothHuge.headerSize = 0x80000000;
    bothHuge.length = 0x80000000;
    ReferenceFields manyPixels;
    manyPixels.width = 65535;
    manyPixels.height = 65535;
    ReferenceFields tooBigForStream;
    tooBigForStream.width = 60000;
    tooBigForStream.height = 30000;
    for (const Case& c :
         {Case{"huge header size", hugeHeader}, Case{"huge length", hugeLength}, Case{"both huge", bothHuge},
          Case{"over 2^31 pixels", manyPixels}, Case{"image the stream cannot hold", tooBigForStream}}) {
        CPravonMemoryManager manager;
        CDustReference reference(&manager);
        const Bytes blob = ReferenceBlob(c.fields, stream);
        AllocationWatch watch;
        EXPECT_PV_KIND(Load(reference, blob), kBad) << c.what;
        EXPECT_LT(watch.GetLargest(), 4096u) << c.what;
        EXPECT_EQ(manager.GetImageCount(), 0u) << c.what;
    }
}

TEST(DustReference, BadStreamsAreRefusedAndLeakNothing) {
    const Bytes samples = Samples(ReferencePlane());
    const Bytes good = ZlibStream(samples);
    Bytes cut(good.begin(), good.end() - 20);
    Bytes noTrailer(good.begin(), good.end() - 2);
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes corrupt = good;
    corrupt[0] ^= 0xFF; // no zlib header
    Bytes garbled = good;
    garbled[good.size() / 2] ^= 0x55;
    Bytes extra = samples;
    extra.insert(extra.end(), 100, 7);
    const Bytes tooLong = ZlibStream(extra);
    struct Case {
        const char* what;
        const Bytes* stream;
        LONG kind;
    };
    for (const Case& c :
         {Case{"stream cut short", &cut, kBad}, Case{"check value missing", &noTrailer, kBad},
          Case{"a byte after the stream", &trailing, kBad}, Case{"no zlib header", &corrupt, Z_DATA_ERROR},
          Case{"stream longer than the image", &tooLong, kBad}}) {
        CPravonMemoryManager manager;
        CDustReference reference(&manager);
        EXPECT_PV_KIND(Load(reference, ReferenceBlob({}, *c.stream)), c.kind) << c.what;
        EXPECT_FALSE(reference.IsLoaded());
        EXPECT_EQ(manager.GetImageCount(), 0u) << c.what << ": the half-decoded image is released";
    }
    // A garbled middle either breaks the stream or its check value; zlib's errors carry their code.
    CPravonMemoryManager manager;
    CDustReference reference(&manager);
    PravonErrorPtr error(Load(reference, ReferenceBlob({}, garbled)));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetComponent(), 0x64757374);
    if (error->GetKind() == Z_DATA_ERROR) {
        EXPECT_EQ(error->GetEntry(0).secondary, 0x7A6C6962) << "zlib errors carry the secondary code";
    }
}

TEST(DustReference, AFailedLoadKeepsThePreviousReference) {
    CPravonMemoryManager manager;
    CDustReference reference(&manager);
    const kvtest::TestPlane first = ReferencePlane(110, 100);
    ReferenceFields fields;
    fields.lensCode = 23;
    ASSERT_PV_OK(Load(reference, ReferenceBlob(fields, first)));
    IPravonImage* image = reference.GetImage();
    ReferenceFields bad;
    bad.width = 99;
    EXPECT_PV_KIND(Load(reference, ReferenceBlob(bad, ReferencePlane(99, 100))), kBad);
    EXPECT_EQ(reference.GetImage(), image);
    EXPECT_EQ(reference.GetLensCode(), 23u);
    EXPECT_EQ(reference.GetWidth(), 110u);
    EXPECT_TRUE(kvtest::PlanesMatch(first, Pull(reference.GetImage())));
}

// A loaded reference written out again is the same blob, whatever its stream's length against the blocks.
TEST(DustReference, RoundTripsStreamsOfWholeBlocksAndOneByteMore) {
    for (std::size_t length :
         {std::size_t{16384}, std::size_t{16385}, std::size_t{32768}, std::size_t{32769}}) {
        const LONG width = 200;
        const LONG height = static_cast<LONG>(length / 150);
        const Bytes samples = SamplesWithStreamOf(length, width, height);
        ASSERT_FALSE(samples.empty());
        const Bytes stream = ZlibStream(samples);
        ASSERT_EQ(stream.size(), length);
        ReferenceFields fields;
        fields.width = static_cast<ULONG>(width);
        fields.height = static_cast<ULONG>(height);
        const Bytes blob = ReferenceBlob(fields, stream);
        CPravonMemoryManager manager;
        CDustReference reference(&manager);
        ASSERT_PV_OK(Load(reference, blob));
        EXPECT_EQ(reference.GetBlocks().GetLength(), length);
        Bytes written;
        ASSERT_PV_OK(KvDust::WriteReference(reference.GetHeader(), reference.GetBlocks(), &written));
        EXPECT_EQ(written, blob) << length;
        EXPECT_TRUE(kvtest::PlanesMatch(PlaneOf(width, height, samples), Pull(reference.GetImage())));
    }
}

} // namespace
