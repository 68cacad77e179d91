#include "RecordConformance.h"

#include "rawlib/settings/CKvFnRedEye.h"
#include "rawlib/settings/CKvRegionBuffer.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using kvtest::Bytes;
using kvtest::Hex;
using kvtest::RecordBytes;
using kvtest::RecordDescription;

// A buffer of `size` bytes counting up from `first`.
CKvRegionBuffer Region(DWORD size, BYTE first) {
    CKvRegionBuffer buffer;
    EXPECT_TRUE(buffer.Allocate(size));
    for (DWORD i = 0; i < size; ++i) {
        const BYTE b = static_cast<BYTE>(first + i);
        buffer.Write(&b, 1);
    }
    buffer.Rewind();
    return buffer;
}

Bytes BytesOf(DWORD size, BYTE first) {
    Bytes bytes(size);
    for (DWORD i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>(first + i);
    return bytes;
}

CKvFnRedEye RedEye(LONG mode, BYTE keep, std::vector<CKvRegionBuffer> automatic,
                   std::vector<CKvRegionBuffer> manual) {
    CKvFnRedEye r;
    r.SetMode(mode);
    r.SetKeepAutomatic(keep);
    r.GetAutomaticRegions() = std::move(automatic);
    r.GetManualRegions() = std::move(manual);
    return r;
}

// The sample of the record's own worked example: automatic regions of 100 and 60 bytes, one manual of 80.
CKvFnRedEye Sample() {
    return RedEye(CKvFnRedEye::kModeManual, 1, {Region(100, 1), Region(60, 0x80)}, {Region(80, 0x40)});
}

struct RedEyeRecord {
    using Record = CKvFnRedEye;
    static RecordDescription<CKvFnRedEye> Describe() {
        RecordDescription<CKvFnRedEye> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 1;
        s.sample = Sample;
        auto automatic = [](std::size_t i) {
            return [i](CKvFnRedEye& to, const CKvFnRedEye& from) {
                to.GetAutomaticRegions().push_back(from.GetAutomaticRegions()[i]);
            };
        };
        s.fields = {
            {"mode", 22, 4, [](auto& to, const auto& from) { to.SetMode(from.GetMode()); }},
            {"keep-automatic flag", 26, 1,
             [](auto& to, const auto& from) { to.SetKeepAutomatic(from.GetKeepAutomatic()); }},
            {"automatic count", 27, 2, nullptr},
            {"first automatic size", 29, 4, nullptr},
            {"first automatic bytes", 33, 100, automatic(0)},
            {"second automatic size", 133, 4, nullptr},
            {"second automatic bytes", 137, 60, automatic(1)},
            {"manual count", 197, 2, nullptr},
            {"manual size", 199, 4, nullptr},
            {"manual bytes", 203, 80,
             [](auto& to, const auto& from) { to.GetManualRegions().push_back(from.GetManualRegions()[0]); }},
        };
        s.defaultRecord = Hex("3C FC 73 C6 18 1F 7C 49 85 A7 07 15 FC D2 C7 E3  01 00  0D 00 00 00"
                              "00 00 00 00  00  00 00  00 00");
        // The total counts every stated width read, whether or not the bytes are there: a size that was
        // read counts its bytes, a count that was read counts its regions' size fields.
        s.cutResult = [](int cut) {
            if (cut < 22)
                return 27;
            if (cut < 29)
                return 31;
            return 29 + 4 + (cut >= 33 ? 100 : 0) + 4 + (cut >= 137 ? 60 : 0) + 2 +
                   (cut >= 199 ? 4 + (cut >= 203 ? 80 : 0) : 0);
        };
        const KvStateId& id = KvStateIds::kFnRedEye;
        s.cases = {
            {"regions of no bytes are regions",
             RecordBytes(id, 1).Length().I32(1).U8(0).U16(1).U32(0).U16(1).U32(3).Raw(BytesOf(3, 9)), 42,
             [] { return RedEye(1, 0, {Region(0, 0)}, {Region(3, 9)}); }},
            {"a size beyond the bytes present drops that region and the rest",
             RecordBytes(id, 1)
                 .Length()
                 .I32(2)
                 .U8(1)
                 .U16(3)
                 .U32(10)
                 .Raw(BytesOf(10, 5))
                 .U32(1000)
                 .Raw(BytesOf(5, 0)),
             29 + 14 + 1004 + 4 + 2, [] { return RedEye(2, 1, {Region(10, 5)}, {}); }},
            {"a size of four gigabytes allocates nothing",
             RecordBytes(id, 1).Length().I32(1).U8(0).U16(2).U32(0xFFFFFFFF), INT_MAX,
             [] { return RedEye(1, 0, {}, {}); }},
            {"the largest counts with no regions present",
             RecordBytes(id, 1).Length().I32(1).U8(0).U16(0xFFFF), 29 + 4 * 0xFFFF + 2,
             [] { return RedEye(1, 0, {}, {}); }},
            {"the keep-automatic byte is kept as stored",
             RecordBytes(id, 1).Length().I32(-7).U8(0x80).U16(0).U16(0), 31,
             [] { return RedEye(-7, 0x80, {}, {}); }},
            {"a newer version is read as far as this one goes",
             RecordBytes(id, 9).Length().I32(2).U8(0).U16(0).U16(1).U32(2).Raw(BytesOf(2, 7)).U32(77), 37,
             [] { return RedEye(2, 0, {}, {Region(2, 7)}); }},
        };
        s.randomize = [](CKvFnRedEye& r, std::mt19937& random) {
            r.SetMode(static_cast<LONG>(random()));
            r.SetKeepAutomatic(static_cast<BYTE>(random()));
            for (auto* list : {&r.GetAutomaticRegions(), &r.GetManualRegions()}) {
                const int count = static_cast<int>(random() % 4);
                for (int i = 0; i < count; ++i)
                    list->push_back(Region(random() % 40, static_cast<BYTE>(random())));
            }
        };
        return s;
    }
};

TEST(RedEyeRecord, TheWorkedExampleTakes283Bytes) {
    CKvFnRedEye sample = Sample();
    EXPECT_EQ(sample.GetStateSize(), 31 + 104 + 64 + 84);
}

TEST(RedEyeRecord, ClearingTheManualRegionsKeepsTheAutomaticOnes) {
    CKvFnRedEye r = Sample();
    r.SetClearManualRequest(false);
    EXPECT_EQ(r.GetManualRegions().size(), 1u);
    r.SetClearManualRequest(true);
    EXPECT_TRUE(r.GetClearManualRequest());
    EXPECT_TRUE(r.GetManualRegions().empty());
    EXPECT_EQ(r.GetAutomaticRegions().size(), 2u);
}

TEST(RedEyeRecord, AssignmentLeavesTheUnstoredFlagsAndResetClearsThem) {
    CKvFnRedEye source = Sample();
    source.SetAutomaticDone(true);
    source.SetClearManualRequest(true);
    CKvFnRedEye target;
    target = source;
    EXPECT_TRUE(target == source);
    EXPECT_FALSE(target.GetAutomaticDone());
    EXPECT_FALSE(target.GetClearManualRequest());

    target.SetAutomaticDone(true);
    target = target;
    EXPECT_TRUE(target.GetAutomaticDone());
    EXPECT_EQ(target.GetAutomaticRegions().size(), 2u) << "assigning to itself keeps the regions";
    target.Reset();
    EXPECT_FALSE(target.GetAutomaticDone());
    EXPECT_TRUE(target == CKvFnRedEye());
    EXPECT_TRUE(target.IsOff());
}

TEST(RegionBuffer, ReadsAndWritesStopAtTheEnd) {
    CKvRegionBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(6));
    EXPECT_EQ(buffer.GetSize(), 6u);
    const BYTE in[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(buffer.Write(in, 4), 4u);
    EXPECT_EQ(buffer.Write(in + 4, 4), 2u) << "only two bytes are left";
    EXPECT_EQ(buffer.Write(in, 1), 0u);
    buffer.Rewind();
    BYTE out[10] = {};
    EXPECT_EQ(buffer.Read(out, 5), 5u);
    EXPECT_EQ(buffer.Read(out + 5, 5), 1u);
    EXPECT_EQ(Bytes(out, out + 7), (Bytes{1, 2, 3, 4, 5, 6, 0}));

    const CKvRegionBuffer copy(buffer);
    EXPECT_EQ(copy.GetPosition(), 0u) << "a copy starts at the beginning";
    EXPECT_TRUE(copy == buffer);
    ASSERT_TRUE(buffer.Allocate(3));
    EXPECT_EQ(Bytes(buffer.GetData(), buffer.GetData() + 3), (Bytes{0, 0, 0})) << "new bytes are zeroed";
    EXPECT_FALSE(copy == buffer);
    buffer.Free();
    EXPECT_EQ(buffer.GetSize(), 0u);
    EXPECT_EQ(buffer.Read(out, 1), 0u);
    EXPECT_TRUE(buffer.Allocate(0));
    EXPECT_EQ(buffer.GetData(), nullptr);
}

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(FnRedEye, RecordConformance, RedEyeRecord);
} // namespace kvtest
