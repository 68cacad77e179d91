#include "RecordConformance.h"

#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvLEGeneral.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using kvtest::Bytes;
using kvtest::Hex;
using kvtest::RecordBytes;
using kvtest::RecordDescription;

LONG RandomLong(std::mt19937& random, LONG low, LONG high) {
    return std::uniform_int_distribution<LONG>(low, high)(random);
}

struct BrightnessRecord {
    using Record = CKvBrightness;
    static RecordDescription<CKvBrightness> Describe() {
        RecordDescription<CKvBrightness> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 1;
        s.sample = [] {
            CKvBrightness b;
            b.SetValue(1.25);
            b.SetAutoMode(true);
            b.SetLevels(1200, 60000);
            return b;
        };
        s.fields = {
            {"value", 22, 8, [](auto& to, const auto& from) { to.SetValue(from.GetValue()); }},
            {"automatic mode", 30, 1, [](auto& to, const auto& from) { to.SetAutoMode(from.GetAutoMode()); }},
            {"black level", 31, 4,
             [](auto& to, const auto& from) { to.SetLevels(from.GetBlackLevel(), to.GetWhiteLevel()); }},
            {"white level", 35, 4,
             [](auto& to, const auto& from) { to.SetLevels(to.GetBlackLevel(), from.GetWhiteLevel()); }},
        };
        s.defaultRecord = Hex("34 94 58 84 C0 E9 3F 40 AA 15 53 B0 7F 51 A6 97  01 00  15 00 00 00"
                              "00 00 00 00 00 00 00 00  00  FF FF FF FF  FF FF FF FF");
        s.cases = {
            {"any non-zero mode byte reads as on",
             RecordBytes(KvStateIds::kBrightness, 1).Length().F64(-0.5).U8(7).I32(10).I32(20), 39,
             [] {
                 CKvBrightness b;
                 b.SetValue(-0.5);
                 b.SetAutoMode(true);
                 b.SetLevels(10, 20);
                 return b;
             }},
        };
        s.randomize = [](CKvBrightness& b, std::mt19937& random) {
            b.SetValue(std::uniform_real_distribution<double>(-4.0, 4.0)(random));
            b.SetAutoMode(random() & 1);
            b.SetLevels(RandomLong(random, -1, 65535), RandomLong(random, -1, 65535));
        };
        return s;
    }
};

struct ExposureRecord {
    using Record = CKvExposureAdjustment;
    static CKvExposureAdjustment WithFirstFields(double ev, LONG mode) {
        CKvExposureAdjustment e;
        e.SetCompensation(ev);
        e.SetMode(mode);
        return e;
    }
    static RecordDescription<CKvExposureAdjustment> Describe() {
        RecordDescription<CKvExposureAdjustment> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 6;
        s.sample = [] {
            CKvExposureAdjustment e = WithFirstFields(-1.234, 4);
            e.SetSecondValue(-7);
            e.SetFirstFlag(1);
            e.SetFourthValue(9);
            e.SetThirdValue(300);
            e.SetSecondFlag(1);
            e.SetFifthValue(-100000);
            e.SetSixthValue(12);
            return e;
        };
        s.fields = {
            {"compensation in hundredths", 22, 2,
             [](auto& to, const auto& from) {
                 to.SetCompensation(std::trunc(from.GetCompensation() * 100) * 0.01);
             }},
            {"mode", 24, 2, [](auto& to, const auto& from) { to.SetMode(from.GetMode()); }},
            {"second value", 26, 2,
             [](auto& to, const auto& from) { to.SetSecondValue(from.GetSecondValue()); }},
            {"first flag", 28, 1, [](auto& to, const auto& from) { to.SetFirstFlag(from.GetFirstFlag()); }},
            {"fourth value", 29, 4,
             [](auto& to, const auto& from) { to.SetFourthValue(from.GetFourthValue()); }},
            {"third value", 33, 2,
             [](auto& to, const auto& from) { to.SetThirdValue(from.GetThirdValue()); }},
            {"second flag", 35, 1,
             [](auto& to, const auto& from) { to.SetSecondFlag(from.GetSecondFlag()); }},
            {"fifth value", 36, 4,
             [](auto& to, const auto& from) { to.SetFifthValue(from.GetFifthValue()); }},
            {"compensation", 40, 8,
             [](auto& to, const auto& from) { to.SetCompensation(from.GetCompensation()); }},
            {"sixth value", 48, 2,
             [](auto& to, const auto& from) { to.SetSixthValue(from.GetSixthValue()); }},
        };
        s.defaultRecord = Hex("60 42 A5 56 9B 04 D4 11 A9 0A 00 AA 00 B1 C1 B7  06 00  20 00 00 00"
                              "00 00  00 00  00 00  00  03 00 00 00  00 00  00  00 00 00 00"
                              "00 00 00 00 00 00 00 00  00 00");
        const KvStateId& id = KvStateIds::kExposureAdjustment;
        s.cases = {
            {"version 1 holds the compensation in hundredths and the mode",
             RecordBytes(id, 1).Length().I16(-150).I16(4), 26, [] { return WithFirstFields(-1.5, 4); }},
            {"version 1 ignores bytes of later fields",
             RecordBytes(id, 1).Length().I16(-150).I16(4).I16(-7).U8(1).I32(9), 26,
             [] { return WithFirstFields(-1.5, 4); }},
            {"version 2 adds the second value, the first flag and the fourth value; 16-bit fields are signed",
             RecordBytes(id, 2).Length().I16(250).I16(-1).I16(-3).U8(1).I32(7), 33,
             [] {
                 CKvExposureAdjustment e = WithFirstFields(2.5, -1);
                 e.SetSecondValue(-3);
                 e.SetFirstFlag(1);
                 e.SetFourthValue(7);
                 return e;
             }},
            {"version 3 adds the third value",
             RecordBytes(id, 3).Length().I16(0).I16(1).I16(0).U8(0).I32(3).I16(-300), 35,
             [] {
                 CKvExposureAdjustment e = WithFirstFields(0.0, 1);
                 e.SetThirdValue(-300);
                 return e;
             }},
            {"version 4 adds the second flag and the fifth value",
             RecordBytes(id, 4).Length().I16(0).I16(0).I16(0).U8(0).I32(3).I16(0).U8(1).I32(123456), 40,
             [] {
                 CKvExposureAdjustment e;
                 e.SetSecondFlag(1);
                 e.SetFifthValue(123456);
                 return e;
             }},
            {"version 5 carries the full-precision compensation, which replaces the rounded one",
             RecordBytes(id, 5).Length().I16(33).I16(0).I16(0).U8(0).I32(3).I16(0).U8(0).I32(0).F64(0.333),
             48, [] { return WithFirstFields(0.333, 0); }},
            {"version 6 ignores the rounded compensation and adds the sixth value",
             RecordBytes(id, 6)
                 .Length()
                 .I16(999)
                 .I16(2)
                 .I16(0)
                 .U8(0)
                 .I32(3)
                 .I16(0)
                 .U8(0)
                 .I32(0)
                 .F64(1.75)
                 .I16(-2),
             50,
             [] {
                 CKvExposureAdjustment e = WithFirstFields(1.75, 2);
                 e.SetSixthValue(-2);
                 return e;
             }},
        };
        s.randomize = [](CKvExposureAdjustment& e, std::mt19937& random) {
            e.SetCompensation(std::uniform_real_distribution<double>(-400.0, 400.0)(random));
            e.SetMode(RandomLong(random, -32768, 32767));
            e.SetSecondValue(RandomLong(random, -32768, 32767));
            e.SetThirdValue(RandomLong(random, -32768, 32767));
            e.SetSixthValue(RandomLong(random, -32768, 32767));
            e.SetFourthValue(static_cast<LONG>(random()));
            e.SetFifthValue(static_cast<LONG>(random()));
            e.SetFirstFlag(static_cast<BYTE>(random()));
            e.SetSecondFlag(static_cast<BYTE>(random()));
        };
        return s;
    }
};

struct ChromaBoosterRecord {
    using Record = CKvChromaBooster;
    static CKvChromaBooster With(LONG amount, bool enabled) {
        CKvChromaBooster c;
        c.SetAmount(amount);
        c.SetEnabled(enabled);
        return c;
    }
    static RecordDescription<CKvChromaBooster> Describe() {
        RecordDescription<CKvChromaBooster> s;
        s.policy = KvVersionPolicy::kExact;
        s.version = 1;
        s.sample = [] { return With(42, false); };
        s.fields = {
            {"enabled", 22, 1, [](auto& to, const auto& from) { to.SetEnabled(from.GetEnabled()); }},
            {"amount", 23, 4, [](auto& to, const auto& from) { to.SetAmount(from.GetAmount()); }},
        };
        s.defaultRecord =
            Hex("B9 99 A3 6F 3F 1E 88 4B AC 63 59 64 73 8F 33 EF  01 00  09 00 00 00  01  00 00 00 00");
        const KvStateId& id = KvStateIds::kChromaBooster;
        s.cases = {
            {"an amount above 100 reads as 100", RecordBytes(id, 1).Length().U8(1).I32(250), 27,
             [] { return With(100, true); }},
            {"a negative amount reads as 0", RecordBytes(id, 1).Length().U8(0).I32(-5), 27,
             [] { return With(0, false); }},
            {"any non-zero flag byte reads as enabled", RecordBytes(id, 1).Length().U8(7).I32(3), 27,
             [] { return With(3, true); }},
        };
        s.randomize = [](CKvChromaBooster& c, std::mt19937& random) {
            c.SetAmount(RandomLong(random, 0, 100));
            c.SetEnabled(random() & 1);
        };
        return s;
    }
};

struct LEGeneralRecord {
    using Record = CKvLEGeneral;
    static CKvLEGeneral With(LONG a, LONG b, LONG c, LONG d) {
        CKvLEGeneral g;
        g.SetValue(0, a);
        g.SetValue(1, b);
        g.SetValue(2, c);
        g.SetValue(3, d);
        return g;
    }
    static RecordDescription<CKvLEGeneral> Describe() {
        RecordDescription<CKvLEGeneral> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 2;
        s.sample = [] { return With(1, 2, 40000, 65535); };
        for (int i = 0; i < 4; ++i) {
            static const char* const kNames[] = {"first value", "second value", "third value",
                                                 "fourth value"};
            s.fields.push_back({kNames[i], 22 + 2 * i, 2,
                                [i](auto& to, const auto& from) { to.SetValue(i, from.GetValue(i)); }});
        }
        s.defaultRecord = Hex("00 1D 5C E5 1B 26 D6 11 BF F7 00 D0 B7 92 41 46  02 00  0C 00 00 00"
                              "00 00  00 00  00 00  00 00");
        const KvStateId& id = KvStateIds::kLEGeneral;
        s.cases = {
            {"version 1 holds the first two values", RecordBytes(id, 1).Length().U16(3).U16(4), 26,
             [] { return With(3, 4, 0, 0); }},
            {"version 1 ignores bytes of later values",
             RecordBytes(id, 1).Length().U16(3).U16(4).U16(5).U16(6), 26, [] { return With(3, 4, 0, 0); }},
            {"values read back unsigned", RecordBytes(id, 2).Length().U16(0xFFFF).U16(0x8000).U16(1).U16(2),
             30, [] { return With(65535, 32768, 1, 2); }},
        };
        s.randomize = [](CKvLEGeneral& g, std::mt19937& random) {
            for (int i = 0; i < 4; ++i)
                g.SetValue(i, RandomLong(random, 0, 65535));
        };
        return s;
    }
};

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(Brightness, RecordConformance, BrightnessRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(ExposureAdjustment, RecordConformance, ExposureRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(ChromaBooster, RecordConformance, ChromaBoosterRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(LEGeneral, RecordConformance, LEGeneralRecord);
} // namespace kvtest

namespace {

// An automatic-brightness filter as the watcher sees it: fixed levels, and the channel asked for.
class FakeLevels : public IKvAutoBrightnessLevels {
public:
    LONG GetBlackLevel(LONG channel) override {
        lastChannel = channel;
        return channel < 0 ? 300 : 999;
    }
    LONG GetWhiteLevel(LONG channel) override {
        lastChannel = channel;
        return channel < 0 ? 64000 : 999;
    }
    LONG GetAutoBrightness() override { return -37; }
    LONG lastChannel = 5;
};

TEST(Brightness, NotificationOfMeasuredLevelsStoresTheFiltersLevelsOverAllChannels) {
    CKvBrightness b;
    FakeLevels filter;
    EXPECT_EQ(b.OnWatcherNotification(&filter, 999, nullptr), nullptr);
    EXPECT_EQ(b.GetBlackLevel(), -1) << "other notifications are ignored";
    EXPECT_FALSE(b.IsMeasurementFresh());

    EXPECT_EQ(b.OnWatcherNotification(&filter, IKvAutoBrightnessLevels::kLevelsMeasured, nullptr), nullptr);
    EXPECT_LT(filter.lastChannel, 0);
    EXPECT_EQ(b.GetBlackLevel(), 300);
    EXPECT_EQ(b.GetWhiteLevel(), 64000);
    EXPECT_EQ(b.GetMeasuredBrightness(), -37);
    EXPECT_TRUE(b.IsMeasurementFresh());
    EXPECT_EQ(b.OnWatcherNotification(nullptr, IKvAutoBrightnessLevels::kLevelsMeasured, nullptr), nullptr);
}

TEST(Brightness, AssignmentAndReadingClearTheFreshFlagAndKeepTheMeasuredBrightness) {
    FakeLevels filter;
    CKvBrightness measured;
    measured.OnWatcherNotification(&filter, IKvAutoBrightnessLevels::kLevelsMeasured, nullptr);
    CKvBrightness other;
    other.SetValue(0.5);
    other.SetLevels(1, 2);

    CKvBrightness target = measured;
    EXPECT_FALSE(target.IsMeasurementFresh());
    EXPECT_EQ(target.GetMeasuredBrightness(), -1) << "the measured brightness is not copied";
    target = measured;
    target.OnWatcherNotification(&filter, IKvAutoBrightnessLevels::kLevelsMeasured, nullptr);
    target = other;
    EXPECT_FALSE(target.IsMeasurementFresh());
    EXPECT_EQ(target.GetMeasuredBrightness(), -37);
    EXPECT_EQ(target.GetBlackLevel(), 1);

    target.OnWatcherNotification(&filter, IKvAutoBrightnessLevels::kLevelsMeasured, nullptr);
    const Bytes record = kvtest::WriteRecord(other);
    ASSERT_EQ(kvtest::ReadRecord(target, record), 39);
    EXPECT_FALSE(target.IsMeasurementFresh());
    EXPECT_EQ(target.GetMeasuredBrightness(), -37);
}

TEST(Brightness, ResetAndNeutralConcernValueAndModeOnly) {
    CKvBrightness b;
    b.SetLevels(5, 6);
    EXPECT_TRUE(b.IsNeutral());
    b.SetAutoMode(true);
    EXPECT_FALSE(b.IsNeutral());
    b.SetAutoMode(false);
    b.SetValue(0.1);
    EXPECT_FALSE(b.IsNeutral());
    b.Reset();
    EXPECT_TRUE(b.IsNeutral());
    EXPECT_EQ(b.GetBlackLevel(), 5);
}

TEST(ExposureAdjustment, TheRoundedCompensationSaturatesInsteadOfWrapping) {
    struct Case {
        double ev;
        SHORT stored;
    };
    const Case cases[] = {{400.0, 32767},
                          {-1e9, -32768},
                          {327.675, 32767},
                          {-327.68, -32768},
                          {-1.239, -123},
                          {std::numeric_limits<double>::infinity(), 32767},
                          {-std::numeric_limits<double>::infinity(), -32768},
                          {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const Case& c : cases) {
        CKvExposureAdjustment e;
        e.SetCompensation(c.ev);
        const Bytes record = kvtest::WriteRecord(e);
        EXPECT_EQ(static_cast<SHORT>(KvGetValue(record.data() + 22, 2)), c.stored) << c.ev;
    }
    CKvExposureAdjustment big;
    big.SetCompensation(400.0);
    CKvExposureAdjustment read;
    ASSERT_EQ(kvtest::ReadRecord(read, kvtest::WriteRecord(big)), 50);
    EXPECT_EQ(read.GetCompensation(), 400.0) << "the full-precision field keeps the value";
}

TEST(ExposureAdjustment, ResetRestoresEveryDefaultIncludingTheFourthValue) {
    CKvExposureAdjustment e = ExposureRecord::Describe().sample();
    EXPECT_FALSE(e.IsNeutral());
    e.Reset();
    EXPECT_TRUE(e.IsNeutral());
    EXPECT_EQ(e.GetFourthValue(), 3);
    e.SetSecondFlag(1);
    EXPECT_FALSE(e.IsNeutral());
}

TEST(ChromaBooster, AssignmentHoldsTheAmountToItsRangeAndKeepsTheSpare) {
    CKvChromaBooster source;
    source.SetAmount(1000);
    CKvChromaBooster target;
    target = source;
    EXPECT_EQ(target.GetAmount(), 100);
    source.SetAmount(-3);
    target = source;
    EXPECT_EQ(target.GetAmount(), 0);
    EXPECT_EQ(target.GetSpare(), -1);
    target.SetAmount(250);
    CKvChromaBooster& alias = target;
    target = alias;
    EXPECT_EQ(target.GetAmount(), 100) << "even assigning to itself holds the amount";
}

TEST(ChromaBooster, NeutralMeansNoBoostWhateverTheFlag) {
    CKvChromaBooster c;
    c.SetEnabled(false);
    EXPECT_TRUE(c.IsNeutral());
    c.SetAmount(1);
    EXPECT_FALSE(c.IsNeutral());
    c.Reset();
    EXPECT_TRUE(c.IsNeutral());
    EXPECT_TRUE(c.GetEnabled());
}

TEST(LEGeneral, ValuesKeepTheirLow16BitsAndIndicesOutsideTheFourAreIgnored) {
    CKvLEGeneral g;
    g.SetValue(0, -1);
    g.SetValue(1, 0x12345);
    g.SetValue(4, 9);
    g.SetValue(-1, 9);
    EXPECT_EQ(g.GetValue(4), 0);
    CKvLEGeneral read;
    ASSERT_EQ(kvtest::ReadRecord(read, kvtest::WriteRecord(g)), 30);
    EXPECT_EQ(read.GetValue(0), 0xFFFF);
    EXPECT_EQ(read.GetValue(1), 0x2345);
}

} // namespace
