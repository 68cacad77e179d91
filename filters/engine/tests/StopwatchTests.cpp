#include "filters/engine/CTalvoChrono.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

ULONGLONG g_now = 1000;
ULONGLONG FakeClock() {
    return g_now;
}

class Stopwatch : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        CTalvoTime::SetClockForTesting(&FakeClock);
    }
    void TearDown() override { CTalvoTime::SetClockForTesting(nullptr); }
};

TEST_F(Stopwatch, NothingElapsesOnANewOrResetStopwatchUntilStarted) {
    CTalvoChrono chrono;
    g_now += 500;
    EXPECT_EQ(chrono.Elapsed(), 0u);
    chrono.Start();
    g_now += 70;
    chrono.Increment();
    EXPECT_EQ(chrono.Elapsed(), 70u);
    chrono.Reset();
    g_now += 30;
    EXPECT_EQ(chrono.Elapsed(), 0u);
    EXPECT_EQ(chrono.Counter(), 1) << "a reset keeps the counter";
    chrono.Resume();
    g_now += 5;
    EXPECT_EQ(chrono.Elapsed(), 5u) << "resuming a reset stopwatch starts it from now";
}

TEST_F(Stopwatch, ThePausedIntervalIsNotCounted) {
    CTalvoChrono chrono;
    chrono.Start();
    g_now += 100;
    chrono.Pause();
    g_now += 1000;
    chrono.Pause();
    EXPECT_EQ(chrono.Elapsed(), 100u);
    chrono.Resume();
    g_now += 20;
    chrono.Pause();
    EXPECT_EQ(chrono.Elapsed(), 120u);
}

TEST_F(Stopwatch, TheCounterNeverReadsZero) {
    g_now = 0;
    EXPECT_EQ(CTalvoTime::Now(), 1u);
    CTalvoChrono chrono;
    chrono.Start();
    g_now = 9;
    chrono.Pause();
    EXPECT_EQ(chrono.Elapsed(), 8u) << "a start at the clock's zero is still a running stopwatch";
}

TEST(StopwatchTracker, ANamedStopwatchMadeWithoutATrackerStaysUnregistered) {
    CTalvoChrono chrono("early");
    EXPECT_FALSE(chrono.IsRegistered());
    CTalvoChronoTracker tracker;
    chrono.SetName("renamed");
    EXPECT_FALSE(chrono.IsRegistered()) << "only a stopwatch that had no name joins on naming";
    EXPECT_STREQ(chrono.Name(), "renamed");
    EXPECT_TRUE(tracker.ChronoArray().empty());
}

TEST(StopwatchTracker, TheNewestTrackerCollectsUntilAnotherIsChosen) {
    CTalvoChronoTracker a;
    auto b = std::make_unique<CTalvoChronoTracker>();
    CTalvoChrono one("one");
    ASSERT_EQ(b->ChronoArray().size(), 1u);
    EXPECT_EQ(b->ChronoArray()[0], &one);
    b.reset();
    EXPECT_FALSE(one.IsRegistered()) << "its tracker is gone";
    CTalvoChrono two("two");
    ASSERT_EQ(a.ChronoArray().size(), 1u);
    EXPECT_EQ(a.ChronoArray()[0], &two);
    CTalvoChronoTracker c;
    a.AddToMe();
    CTalvoChrono three("three");
    EXPECT_EQ(a.ChronoArray().size(), 2u);
    EXPECT_TRUE(c.ChronoArray().empty());
    three.SetName(nullptr);
    EXPECT_FALSE(three.IsRegistered());
    EXPECT_EQ(a.ChronoArray().size(), 1u);
}

TEST(StopwatchTracker, DestroyingAnotherTrackerKeepsTheCollectingOne) {
    auto a = std::make_unique<CTalvoChronoTracker>();
    CTalvoChronoTracker b;
    auto c = std::make_unique<CTalvoChronoTracker>();
    a.reset(); // made before the collecting tracker c
    {
        CTalvoChrono chrono("after a");
        EXPECT_TRUE(chrono.IsRegistered());
        EXPECT_EQ(c->ChronoArray().size(), 1u);
    }
    b.AddToMe();
    c.reset(); // made after the chosen tracker b
    CTalvoChrono chrono("after c");
    EXPECT_TRUE(chrono.IsRegistered());
    EXPECT_EQ(b.ChronoArray().size(), 1u);
    EXPECT_EQ(CTalvoChronoTracker::TrackerToAddTo(), 0);
}

TEST(StopwatchTracker, CopiesOwnTheirNamesAndTheirMembership) {
    CTalvoChronoTracker tracker;
    auto original = std::make_unique<CTalvoChrono>("phase");
    original->Increment();
    CTalvoChrono copy(*original);
    EXPECT_STREQ(copy.Name(), "phase");
    EXPECT_NE(copy.Name(), original->Name());
    EXPECT_EQ(copy.Counter(), 1);
    EXPECT_TRUE(copy.IsRegistered());
    EXPECT_EQ(tracker.ChronoArray().size(), 2u);
    original.reset();
    EXPECT_STREQ(copy.Name(), "phase");

    CTalvoChrono unnamed;
    copy = unnamed;
    EXPECT_EQ(copy.Name(), nullptr);
    EXPECT_FALSE(copy.IsRegistered());
    EXPECT_TRUE(tracker.ChronoArray().empty()) << "no tracker keeps a stopwatch that left by assignment";
}

TEST(StopwatchTracker, TheLibraryStopwatchStartsUnnamedAndReset) {
    EXPECT_EQ(talvoChrono.Name(), nullptr);
    EXPECT_FALSE(talvoChrono.IsRegistered());
    EXPECT_EQ(talvoChrono.Elapsed(), 0u);
}

} // namespace
