// The orientation of the exported records against the EXIF orientation codes' own definitions: the turn
// and mirror each code asks for, the combination of two, and the transform stage's pixels.
#include "rawlib/pipeline/KvOrientation.h"

#include "ExifOrientation.h"

#include "filters/CPravonFilterTransform.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using kvtest::ExifExchangesSides;
using kvtest::ExifPoint;
using kvtest::ExifUpright;

TEST(KvOrientation, CodesAreTheirTurnAndMirror) {
    // The angle counts counter-clockwise: code 6 stands upright after a clockwise quarter turn.
    const std::pair<LONG, KvOrientation> table[] = {{1, {false, 0}},  {2, {true, 0}},   {3, {false, 180}},
                                                    {4, {true, 180}}, {5, {true, 270}}, {6, {false, 270}},
                                                    {7, {true, 90}},  {8, {false, 90}}};
    for (const auto& [code, orientation] : table) {
        EXPECT_EQ(KvOrientation::FromCode(code), orientation) << code;
        EXPECT_EQ(orientation.ToCode(), code);
        EXPECT_EQ(orientation.ExchangesSides(), ExifExchangesSides(code)) << code;
    }
    for (const LONG unknown : {0, 9, -3})
        EXPECT_TRUE(KvOrientation::FromCode(unknown).IsNone()) << unknown;
    EXPECT_EQ((KvOrientation{false, 45}).ToCode(), 1);
    EXPECT_EQ(KvOrientation::Of(false, -90).angle, 270.0);
    EXPECT_EQ(KvOrientation::Of(true, 450).angle, 90.0);
}

// Every pair of codes, one after the other, gives the code of the two mappings composed.
TEST(KvOrientation, CombiningTwoGivesTheComposedMapping) {
    for (LONG first = 1; first <= 8; ++first)
        for (LONG second = 1; second <= 8; ++second) {
            const LONG expected = kvtest::ExifThen(first, second);
            ASSERT_NE(expected, 0);
            EXPECT_EQ(KvOrientation::FromCode(first).Then(KvOrientation::FromCode(second)).ToCode(), expected)
                << first << " then " << second;
        }
}

TEST(KvOrientation, TheInverseUndoesEachCode) {
    for (LONG code = 1; code <= 8; ++code) {
        const KvOrientation turn = KvOrientation::FromCode(code);
        EXPECT_TRUE(turn.Then(turn.Inverse()).IsNone()) << code;
        EXPECT_TRUE(turn.Inverse().Then(turn).IsNone()) << code;
    }
}

// The transform stage, given an orientation's flip and clockwise rotation, moves every pixel where the
// orientation's code says it stands upright.
TEST(KvOrientation, TheTransformStageStandsThePictureUpright) {
    CPravonMemoryManager manager(16);
    const kvtest::TestPlane source =
        kvtest::MakePlane(7, 4, PravonColorSpace::kGrey8, kvtest::FillPattern::Coordinates);
    for (LONG code = 1; code <= 8; ++code) {
        SCOPED_TRACE(code);
        const KvOrientation turn = KvOrientation::FromCode(code);
        PravonImagePtr image = kvtest::MakeImage(manager, source);
        CPravonFilterTransform transform(&manager);
        ASSERT_PV_OK(PravonConnect(image.get(), &transform));
        ASSERT_PV_OK(transform.SetTransform(turn.flip, turn.TransformRotation(), true, false));
        kvtest::TestPlane out;
        ASSERT_PV_OK(kvtest::PullAll(&transform, &out));
        ASSERT_EQ(out.width, ExifExchangesSides(code) ? source.height : source.width);
        for (LONG y = 0; y < source.height; ++y)
            for (LONG x = 0; x < source.width; ++x) {
                const ExifPoint at = ExifUpright(code, {x, y}, source.width, source.height);
                ASSERT_EQ(out.Sample(at.x, at.y, 0), source.Sample(x, y, 0)) << x << "," << y;
            }
        EXPECT_PV_OK(PravonDisconnect(image.get(), &transform));
    }
}

} // namespace
