#include "RecordConformance.h"

#include "rawlib/settings/CKvFisheye.h"
#include "rawlib/settings/CKvNoiseReduction.h"
#include "rawlib/settings/CKvRevelation.h"
#include "rawlib/settings/CKvUSM.h"
#include "rawlib/settings/CKvUSMList.h"
#include "rawlib/settings/CKvVignette.h"

#include <gtest/gtest.h>

namespace {

using kvtest::Bytes;
using kvtest::Hex;
using kvtest::RecordBytes;
using kvtest::RecordDescription;

LONG RandomLong(std::mt19937& random, LONG low, LONG high) {
    return std::uniform_int_distribution<LONG>(low, high)(random);
}

SHORT RandomShort(std::mt19937& random) {
    return static_cast<SHORT>(RandomLong(random, -32768, 32767));
}

CKvNoiseReduction NoiseReduction(LONG level, BYTE flag, LONG extra) {
    CKvNoiseReduction n;
    n.SetLevel(level);
    n.SetFlag(flag);
    n.SetExtraValue(extra);
    return n;
}

struct NoiseReductionRecord {
    using Record = CKvNoiseReduction;
    static RecordDescription<CKvNoiseReduction> Describe() {
        RecordDescription<CKvNoiseReduction> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 3;
        s.sample = [] { return NoiseReduction(7, 1, -2); };
        s.fields = {
            {"level", 22, 4, [](auto& to, const auto& from) { to.SetLevel(from.GetLevel()); }},
            {"flag", 26, 1, [](auto& to, const auto& from) { to.SetFlag(from.GetFlag()); }},
            {"extra value", 27, 4,
             [](auto& to, const auto& from) { to.SetExtraValue(from.GetExtraValue()); }},
        };
        s.defaultRecord = Hex("E0 13 6F 92 19 AC D4 11 BF F7 00 01 03 20 81 45  03 00  0D 00 00 00"
                              "00 00 00 00  00  00 00 00 00");
        const KvStateId& id = KvStateIds::kNoiseReduction;
        s.cases = {
            {"version 1 code 2 stands for level 5", RecordBytes(id, 1).Length().U16(2).U8(1), 25,
             [] { return NoiseReduction(5, 1, 0); }},
            {"version 1 code 3 stands for level 8", RecordBytes(id, 1).Length().U16(3).U8(0), 25,
             [] { return NoiseReduction(8, 0, 0); }},
            {"version 1 code 7 stands for no level and keeps the default",
             RecordBytes(id, 1).Length().U16(7).U8(2), 25, [] { return NoiseReduction(0, 2, 0); }},
            {"version 2 holds the level in four bytes and no extra value",
             RecordBytes(id, 2).Length().I32(6).U8(1).I32(99), 27, [] { return NoiseReduction(6, 1, 0); }},
            {"the flag byte is kept as stored", RecordBytes(id, 3).Length().I32(1).U8(0x80).I32(5), 31,
             [] { return NoiseReduction(1, 0x80, 5); }},
        };
        s.randomize = [](CKvNoiseReduction& n, std::mt19937& random) {
            n.SetLevel(static_cast<LONG>(random()));
            n.SetFlag(static_cast<BYTE>(random()));
            n.SetExtraValue(static_cast<LONG>(random()));
        };
        return s;
    }
};

CKvUSM Usm(LONG channels, LONG spare, SHORT radius, SHORT amount, BYTE threshold) {
    CKvUSM u;
    u.SetChannelSelection(channels);
    u.SetSpareValue(spare);
    u.SetRadiusCode(radius);
    u.SetAmountCode(amount);
    u.SetThresholdCode(threshold);
    return u;
}

Bytes UsmRecord(CKvUSM u) {
    return kvtest::WriteRecord(u);
}

struct UsmRecordDescription {
    using Record = CKvUSM;
    static RecordDescription<CKvUSM> Describe() {
        RecordDescription<CKvUSM> s;
        s.policy = KvVersionPolicy::kExact;
        s.version = 1;
        s.lengthField = false;
        s.sample = [] { return Usm(3, 7, 10, 40, 2); };
        s.fields = {
            {"channel selection", 18, 2,
             [](auto& to, const auto& from) { to.SetChannelSelection(from.GetChannelSelection()); }},
            {"spare value", 20, 2,
             [](auto& to, const auto& from) { to.SetSpareValue(from.GetSpareValue()); }},
            {"amount code", 22, 2,
             [](auto& to, const auto& from) { to.SetAmountCode(from.GetAmountCode()); }},
            {"radius code", 24, 2,
             [](auto& to, const auto& from) { to.SetRadiusCode(from.GetRadiusCode()); }},
            {"threshold code", 26, 1,
             [](auto& to, const auto& from) { to.SetThresholdCode(from.GetThresholdCode()); }},
        };
        s.defaultRecord = Hex("60 51 2B E4 DF 5D D2 11 A9 0A 00 AA 00 B1 C1 B7  01 00"
                              "00 00  00 00  00 00  05 00  00");
        s.cases = {
            {"channel selection and spare value read back unsigned",
             RecordBytes(KvStateIds::kUsm, 1).U16(0xFFFF).U16(0x8001).I16(-3).I16(7).U8(9), 27,
             [] { return Usm(65535, 32769, 7, -3, 9); }},
        };
        s.randomize = [](CKvUSM& u, std::mt19937& random) {
            u = Usm(RandomLong(random, 0, 65535), RandomLong(random, 0, 65535), RandomShort(random),
                    RandomShort(random), static_cast<BYTE>(random()));
        };
        return s;
    }
};

CKvUSMList UsmList(std::initializer_list<CKvUSM> entries) {
    CKvUSMList list;
    for (const CKvUSM& e : entries)
        list.Append(e);
    return list;
}

const CKvUSM kUsmA = Usm(1, 0, 5, 20, 0);
const CKvUSM kUsmB = Usm(6, 2, 15, 10, 4);
const CKvUSM kUsmC = Usm(0, 0, 3, 60, 1);

struct UsmListRecord {
    using Record = CKvUSMList;
    static RecordDescription<CKvUSMList> Describe() {
        RecordDescription<CKvUSMList> s;
        s.policy = KvVersionPolicy::kExact;
        s.version = 2;
        s.readsEarlierVersions = true;
        s.sample = [] { return UsmList({kUsmA, kUsmB, kUsmC}); };
        s.fields = {{"entry count", 22, 1, nullptr}};
        for (int i = 0; i < 3; ++i) {
            static const char* const kNames[] = {"first entry", "second entry", "third entry"};
            s.fields.push_back({kNames[i], 23 + 27 * i, 27, [i](auto& to, const auto& from) {
                                    to.Append(from.GetEntry(static_cast<std::size_t>(i)));
                                }});
        }
        s.defaultRecord = Hex("61 51 2B E4 DF 5D D2 11 A9 0A 00 AA 00 B1 C1 B7  02 00  05 00 00 00  00");
        // The result counts the entries the count byte announces, whether or not they are there. Cut
        // before its length field, the record's count is read where the short form puts it (offset 18).
        s.cutResult = [](int cut) {
            if (cut < 22)
                return cut > 18 ? 19 + 27 * (104 - 18) : 19;
            return cut > 22 ? 104 : 23;
        };
        const KvStateId& id = KvStateIds::kUsmList;
        const Bytes foreign = kvtest::WithId(UsmRecord(kUsmB), KvStateIds::kUsmList.stored);
        s.cases = {
            {"version 1 has no length field: the count follows the version",
             RecordBytes(id, 1).U8(2).Raw(UsmRecord(kUsmA)).Raw(UsmRecord(kUsmB)), 73,
             [] {
                 return UsmList({kUsmA, kUsmB});
             }},
            {"an entry with another id ends the list",
             RecordBytes(id, 2).Length().U8(3).Raw(UsmRecord(kUsmA)).Raw(foreign).Raw(UsmRecord(kUsmC)), 104,
             [] { return UsmList({kUsmA}); }},
            {"an entry of another version ends the list",
             RecordBytes(id, 2)
                 .Length()
                 .U8(3)
                 .Raw(UsmRecord(kUsmA))
                 .Raw(UsmRecord(kUsmB))
                 .Raw(kvtest::WithVersion(UsmRecord(kUsmC), 2)),
             104,
             [] {
                 return UsmList({kUsmA, kUsmB});
             }},
            {"a count beyond the entries present keeps those present",
             RecordBytes(id, 2).Length().U8(5).Raw(UsmRecord(kUsmA)).Raw(UsmRecord(kUsmB)), 22 + 1 + 5 * 27,
             [] {
                 return UsmList({kUsmA, kUsmB});
             }},
        };
        s.randomize = [](CKvUSMList& list, std::mt19937& random) {
            const int count = RandomLong(random, 0, 9);
            for (int i = 0; i < count; ++i)
                list.Append(Usm(RandomLong(random, 0, 65535), RandomLong(random, 0, 65535),
                                RandomShort(random), RandomShort(random), static_cast<BYTE>(random())));
        };
        return s;
    }
};

CKvVignette Vignette(SHORT amount) {
    CKvVignette v;
    v.SetAmount(amount);
    return v;
}

struct VignetteRecord {
    using Record = CKvVignette;
    static RecordDescription<CKvVignette> Describe() {
        RecordDescription<CKvVignette> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 1;
        s.sample = [] { return Vignette(-25); };
        s.fields = {{"amount", 22, 2, [](auto& to, const auto& from) { to.SetAmount(from.GetAmount()); }}};
        s.defaultRecord = Hex("C0 D5 6B AC F6 8C D6 11 B1 37 00 D0 B7 92 41 46  01 00  06 00 00 00  50 00");
        s.randomize = [](CKvVignette& v, std::mt19937& random) { v.SetAmount(RandomShort(random)); };
        return s;
    }
};

CKvFisheye Fisheye(bool enabled, LONG mode) {
    CKvFisheye f;
    f.SetEnabled(enabled);
    f.SetMode(mode);
    return f;
}

struct FisheyeRecord {
    using Record = CKvFisheye;
    static RecordDescription<CKvFisheye> Describe() {
        RecordDescription<CKvFisheye> s;
        s.policy = KvVersionPolicy::kExact;
        s.version = 1;
        s.sample = [] { return Fisheye(true, 9); };
        s.fields = {
            {"enabled", 22, 1, [](auto& to, const auto& from) { to.SetEnabled(from.GetEnabled()); }},
            {"mode", 23, 4, [](auto& to, const auto& from) { to.SetMode(from.GetMode()); }},
        };
        s.defaultRecord = Hex("23 7D 93 2D BB 69 9B 4F 88 7C 87 CE 3A CC D6 EA  01 00  09 00 00 00"
                              "00  03 00 00 00");
        s.cases = {
            {"any non-zero enabled byte reads as on",
             RecordBytes(KvStateIds::kFisheye, 1).Length().U8(0x40).I32(0), 27,
             [] { return Fisheye(true, 0); }},
        };
        s.randomize = [](CKvFisheye& f, std::mt19937& random) {
            f = Fisheye(random() & 1, static_cast<LONG>(random()));
        };
        return s;
    }
};

CKvRevelation Revelation(SHORT first, SHORT second, SHORT third) {
    CKvRevelation r;
    r.SetFirstAmount(first);
    r.SetSecondAmount(second);
    r.SetThirdValue(third);
    return r;
}

struct RevelationRecord {
    using Record = CKvRevelation;
    static RecordDescription<CKvRevelation> Describe() {
        RecordDescription<CKvRevelation> s;
        s.policy = KvVersionPolicy::kExact;
        s.version = 1;
        s.sample = [] { return Revelation(10, -20, 30); };
        s.fields = {
            {"first amount", 22, 2,
             [](auto& to, const auto& from) { to.SetFirstAmount(from.GetFirstAmount()); }},
            {"second amount", 24, 2,
             [](auto& to, const auto& from) { to.SetSecondAmount(from.GetSecondAmount()); }},
            {"third value", 26, 2,
             [](auto& to, const auto& from) { to.SetThirdValue(from.GetThirdValue()); }},
        };
        s.defaultRecord = Hex("8E 86 62 AF DC B5 09 4D 96 1C 69 9D D0 54 FA 0A  01 00  0A 00 00 00"
                              "33 00  33 00  BE 00");
        s.randomize = [](CKvRevelation& r, std::mt19937& random) {
            r = Revelation(RandomShort(random), RandomShort(random), RandomShort(random));
        };
        return s;
    }
};

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(NoiseReduction, RecordConformance, NoiseReductionRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(USM, RecordConformance, UsmRecordDescription);
INSTANTIATE_TYPED_TEST_SUITE_P(USMList, RecordConformance, UsmListRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(Vignette, RecordConformance, VignetteRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(Fisheye, RecordConformance, FisheyeRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(Revelation, RecordConformance, RevelationRecord);
} // namespace kvtest

namespace {

TEST(NoiseReduction, IsOffOnlyWithLevelFlagAndExtraValueAllZero) {
    EXPECT_TRUE(CKvNoiseReduction().IsOff());
    EXPECT_FALSE(NoiseReduction(0, 0, 1).IsOff());
    EXPECT_FALSE(NoiseReduction(0, 1, 0).IsOff());
    EXPECT_FALSE(NoiseReduction(4, 0, 0).IsOff());
}

TEST(NoiseReduction, ClearIfDisabledDropsOnlyTheExtraValueAndOnlyWhenDisabled) {
    CKvNoiseReduction n = NoiseReduction(5, 1, 9);
    n.ClearIfDisabled(false);
    EXPECT_EQ(n, NoiseReduction(5, 1, 9));
    n.ClearIfDisabled(true);
    EXPECT_EQ(n, NoiseReduction(5, 1, 0));
}

TEST(USMList, AListOfMoreThan255EntriesIsStoredAsItsFirst255SoTheCountMatches) {
    CKvUSMList list;
    for (int i = 0; i < 300; ++i)
        list.Append(Usm(i, 0, static_cast<SHORT>(i), 1, 0));
    const Bytes record = kvtest::WriteRecord(list);
    ASSERT_EQ(record.size(), 22u + 1 + 255 * 27);
    EXPECT_EQ(record[22], 255);
    CKvUSMList read;
    EXPECT_EQ(kvtest::ReadRecord(read, record), static_cast<int>(record.size()));
    ASSERT_EQ(read.GetCount(), 255u);
    EXPECT_EQ(read.GetEntry(254), list.GetEntry(254));
}

TEST(USMList, CopyAndClearWorkOnTheWholeList) {
    CKvUSMList list = UsmList({kUsmA, kUsmB});
    CKvUSMList copy;
    copy.Append(kUsmC);
    copy = list;
    ASSERT_EQ(copy.GetCount(), 2u);
    EXPECT_EQ(copy.GetEntry(1), kUsmB);
    copy.Clear();
    EXPECT_EQ(copy.GetCount(), 0u);
    EXPECT_EQ(list.GetCount(), 2u);
}

TEST(Vignette, ResetRestoresTheDefaultAmountAndZeroMeansNoCorrection) {
    CKvVignette v = Vignette(0);
    EXPECT_TRUE(v.IsZero());
    v.Reset();
    EXPECT_EQ(v.GetAmount(), 80);
    EXPECT_FALSE(v.IsZero());
}

TEST(Revelation, IsOffWhenBothAmountsAreZeroWhateverTheThirdValue) {
    EXPECT_FALSE(CKvRevelation().IsOff());
    EXPECT_TRUE(Revelation(0, 0, 190).IsOff());
    EXPECT_FALSE(Revelation(0, 1, 0).IsOff());
    EXPECT_FALSE(Revelation(1, 0, 0).IsOff());
}

} // namespace
