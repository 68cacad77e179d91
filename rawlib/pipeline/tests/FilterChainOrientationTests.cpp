// The orientation of a development end to end: the stored settings' turn and mirror, the source's own
// orientation tags, both together, as the pulled picture shows them and as GetImageInfo reports them, and
// an orientation set by the caller, stored and read again by a fresh object.
#include "ChainPicture.h"
#include "ExifOrientation.h"

#include "rawlib/pipeline/CKvnFilterChain.h"
#include "rawlib/settings/CKvImageAttributes.h"
#include "testing/ProfileMachine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace {

using kvtest::ChainPicture;

constexpr LONG kW = ChainPicture::kDevelopedWidth;
constexpr LONG kH = ChainPicture::kDevelopedHeight;
constexpr LONG kMarker = 12;
constexpr WORD kBackground = 200, kMedium = 1500, kBright = 3500;
constexpr ULONG kSourceFlipTag = 0x10004, kSourceAngleTag = 0x10005;

using kvtest::ExifPoint;
using kvtest::ExifUpright;

// The code of a mirror (applied after the turn) and a counter-clockwise turn, as the codes define them.
LONG CodeOf(bool flip, int angle) {
    switch (angle) {
    case 90:
        return flip ? 7 : 8;
    case 180:
        return flip ? 4 : 3;
    case 270:
        return flip ? 5 : 6;
    default:
        return flip ? 2 : 1;
    }
}

// A bright block in the developed picture's top-left corner and a dimmer one in its top-right corner.
ChainPicture MarkedPicture() {
    return ChainPicture([](LONG x, LONG y, WORD) -> WORD {
        const LONG dx = x - ChainPicture::kMargin, dy = y - ChainPicture::kMargin;
        if (dy >= 0 && dy < kMarker && dx >= 0 && dx < kMarker)
            return kBright;
        if (dy >= 0 && dy < kMarker && dx >= kW - kMarker && dx < kW)
            return kMedium;
        return kBackground;
    });
}

enum Corner { kTopLeft, kTopRight, kBottomLeft, kBottomRight };

Corner CornerOf(ExifPoint p, LONG w, LONG h) {
    const bool right = p.x >= w / 2, bottom = p.y >= h / 2;
    return bottom ? (right ? kBottomRight : kBottomLeft) : (right ? kTopRight : kTopLeft);
}

// The mean green of the 6 x 6 box in each corner of the picture.
std::array<double, 4> CornerMeans(const kvtest::TestPlane& plane) {
    constexpr LONG kBox = 6;
    std::array<double, 4> means{};
    const LONG xs[] = {0, plane.width - kBox, 0, plane.width - kBox};
    const LONG ys[] = {0, 0, plane.height - kBox, plane.height - kBox};
    for (int c = 0; c < 4; ++c) {
        double sum = 0;
        for (LONG y = ys[c]; y < ys[c] + kBox; ++y)
            for (LONG x = xs[c]; x < xs[c] + kBox; ++x)
                sum += plane.Sample(x, y, 1);
        means[static_cast<std::size_t>(c)] = sum / (kBox * kBox);
    }
    return means;
}

// The corners the bright and the dim block came out in, for a picture developed with `code`.
void ExpectMarkersWhereTheCodeStandsThem(const kvtest::TestPlane& developed, LONG code) {
    const bool exchanged = code >= 5;
    const LONG w = exchanged ? kH : kW, h = exchanged ? kW : kH;
    ASSERT_EQ(developed.width, w);
    ASSERT_EQ(developed.height, h);
    const std::array<double, 4> means = CornerMeans(developed);
    std::array<int, 4> order = {0, 1, 2, 3};
    std::sort(order.begin(), order.end(), [&](int a, int b) { return means[a] > means[b]; });
    EXPECT_EQ(order[0], CornerOf(ExifUpright(code, {0, 0}, kW, kH), w, h)) << "the bright block";
    EXPECT_EQ(order[1], CornerOf(ExifUpright(code, {kW - 1, 0}, kW, kH), w, h)) << "the dim block";
}

void StoreOrientation(CPravonTagControl* tags, bool flip, SHORT rotation) {
    CKvImageAttributes edited;
    edited.orientation = flip ? 1 : 0;
    edited.rotation = rotation;
    CKvImageProcSet set;
    edited.GetStateTable(set);
    std::vector<BYTE> record(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(record.data(), static_cast<int>(record.size()));
    ASSERT_PV_OK(
        tags->WriteTag(CKvnFilterChain::kSettingsTag, 1, static_cast<ULONG>(record.size()), record.data()));
}

void TagSourceOrientation(CPravonTagControl* tags, bool flip, double angle) {
    ASSERT_PV_OK(tags->WriteTag(kSourceAngleTag, 12, sizeof angle, &angle));
    const LONG flipped = flip ? 1 : 0;
    ASSERT_PV_OK(tags->WriteTag(kSourceFlipTag, 4, sizeof flipped, &flipped));
}

LONG ReportedCode(IKvnFilterChain* object) {
    strKvnImageInfoParam info;
    info.orientation = 0;
    EXPECT_PV_OK(object->GetImageInfo(&info));
    return info.orientation;
}

// The source's tags come first (they stand the camera's picture upright), the stored settings' turn and
// mirror on top of them.
TEST(FilterChainOrientation, StoredAndSourceOrientationsComeOutTurnedAndReported) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    struct Case {
        const char* name;
        bool storedFlip;
        SHORT storedRotation;
        bool tagged;
        bool tagFlip;
        double tagAngle;
    };
    const Case cases[] = {
        {"unturned", false, 0, false, false, 0},
        {"a stored quarter turn", false, 90, false, false, 0},
        {"a stored half turn, mirrored", true, 180, false, false, 0},
        {"a camera file of orientation 6", false, 0, true, false, 270},
        {"a mirrored source", false, 0, true, true, 0},
        {"a stored quarter turn on a camera file of orientation 6", false, 90, true, false, 270},
        {"a stored mirror on a camera file of orientation 6", true, 0, true, false, 270},
        {"a stored three-quarter turn on a mirrored source turned a half", false, 270, true, true, 180},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChainPicture picture = MarkedPicture();
        if (c.storedFlip || c.storedRotation)
            StoreOrientation(picture.tags, c.storedFlip, c.storedRotation);
        if (c.tagged)
            TagSourceOrientation(picture.tags, c.tagFlip, c.tagAngle);
        const LONG tagCode = CodeOf(c.tagFlip, static_cast<int>(c.tagAngle));
        const LONG storedCode = CodeOf(c.storedFlip, c.storedRotation);
        // The code whose mapping is the source's followed by the stored one.
        const LONG expected = kvtest::ExifThen(tagCode, storedCode);
        ASSERT_PV_OK(picture.Open());
        EXPECT_EQ(ReportedCode(picture.object), expected);
        ExpectMarkersWhereTheCodeStandsThem(picture.Develop(), expected);
        // The live chain's size is what GetImageInfo reports.
        strKvnImageInfoParam info;
        ASSERT_PV_OK(picture.object->GetImageInfo(&info));
        EXPECT_EQ(info.width, expected >= 5 ? kH : kW);
        EXPECT_EQ(info.height, expected >= 5 ? kW : kH);
    }
}

// An orientation the caller sets is applied, written into the settings tag with apply, and a fresh object on
// the same picture reads it back, on a plain source and on a camera file of orientation 6.
TEST(FilterChainOrientation, ASetOrientationIsWrittenBackAndReadAgainByAFreshObject) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    const std::pair<bool, LONG> cases[] = {{false, 3}, {false, 7}, {true, 3}, {true, 1}};
    for (const auto& [cameraTurned, code] : cases) {
        SCOPED_TRACE(testing::Message()
                     << (cameraTurned ? "orientation-6 source, " : "plain source, ") << code);
        ChainPicture picture = MarkedPicture();
        if (cameraTurned)
            TagSourceOrientation(picture.tags, false, 270);
        ASSERT_PV_OK(picture.Open());
        picture.Develop();
        strKvnImageInfoParam info;
        info.orientation = code;
        ASSERT_PV_OK(picture.object->SetImageInfo(&info, true));
        EXPECT_EQ(ReportedCode(picture.object), code);
        ExpectMarkersWhereTheCodeStandsThem(picture.Develop(), code);
        ASSERT_TRUE(picture.tags->TagExists(CKvnFilterChain::kSettingsTag));
        if (!cameraTurned) {
            // Without an orientation of the source's own the record holds the code's turn and mirror.
            std::vector<BYTE> record(picture.tags->GetTagSize(CKvnFilterChain::kSettingsTag));
            ASSERT_PV_OK(picture.tags->ReadTag(CKvnFilterChain::kSettingsTag, 1,
                                               static_cast<ULONG>(record.size()), record.data()));
            CKvImageProcSet stored;
            stored.ReadFromTag(record.data(), static_cast<int>(record.size()), kW, kH);
            EXPECT_EQ(CodeOf(stored.orientation != 0, stored.rotation), code);
        }

        ChainPicture again = MarkedPicture();
        std::swap(again.tags, picture.tags);
        ASSERT_PV_OK(again.Open());
        EXPECT_EQ(ReportedCode(again.object), code);
        ExpectMarkersWhereTheCodeStandsThem(again.Develop(), code);
    }
}

} // namespace
