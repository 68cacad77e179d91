// What the Revelation suites share: a fixture that starts every test with the library's controls reset and
// checks afterwards that no session, library memory or tile lock was left behind, pictures to develop,
// and a whole development through a session.
#pragma once

#include "platform/dragkvl1/DragKvl1Test.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "rawlib/filters/revelation/CREVProcess.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"

#include <gtest/gtest.h>

namespace revtest {

// The output-pass values that change nothing: lift and contrast neutral, the picture's own mean.
constexpr LONG kNeutralLift = 127;
constexpr LONG kOwnMean = 190;
constexpr LONG kNeutralContrast = 127;

struct Setting {
    LONG p1 = kNeutralLift;
    LONG p2 = kOwnMean;
    LONG p3 = kNeutralContrast;
    LONG kind = 11;
    LONG depth = 16;
    BYTE flag = 0;
};

class RevelationTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Drives the session's run to its end, checking that progress never goes back and ends at 100.
    static IPravonError* RunToEnd(CDRAGBase& session, LONG amount = 100);
    // Measures source and maps it into destination (fitted), whole.
    static IPravonError* Develop(CDRAGBase& session, IPravonDataSource* source, IPravonImage* destination,
                                 const Setting& setting);

    PravonImagePtr NewImage();

    CPravonMemoryManager m_manager{16};
};

// A smooth ramp from dark at the left to bright at the right with a little texture, so that both the
// measured brightness and the detail move the output.
kvtest::TestPlane Scene(LONG width, LONG height, LONG colorSpace);

} // namespace revtest
