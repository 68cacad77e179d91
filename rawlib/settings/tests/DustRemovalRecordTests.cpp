#include "RecordConformance.h"

#include "rawlib/filters/dust/tests/DustTestSupport.h"
#include "rawlib/settings/CKvDustRemoval.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/AllocationSeam.h"
#include "testing/TestPlane.h"

#include <climits>

namespace {

using kvtest::Bytes;
using kvtest::Hex;
using kvtest::RecordBytes;
using kvtest::RecordDescription;

CKvDustRemoval Dust(const Bytes& reference, CKvDustRemoval::Stamp stamp = {}, WORD first = 0,
                    WORD second = 0) {
    CKvDustRemoval d;
    if (!reference.empty()) {
        EXPECT_TRUE(d.SetReferenceSize(static_cast<DWORD>(reference.size())));
        std::copy(reference.begin(), reference.end(), d.GetReference());
    }
    d.SetStamp(stamp);
    d.SetFirstExtra(first);
    d.SetSecondExtra(second);
    return d;
}

Bytes ReferenceOf(const CKvDustRemoval& d) {
    return Bytes(d.GetReference(), d.GetReference() + d.GetReferenceSize());
}

template <auto Member>
auto CopyStamp() {
    return [](CKvDustRemoval& to, const CKvDustRemoval& from) {
        CKvDustRemoval::Stamp stamp = to.GetStamp();
        stamp.*Member = from.GetStamp().*Member;
        to.SetStamp(stamp);
    };
}

struct DustRemovalRecord {
    using Record = CKvDustRemoval;
    static RecordDescription<CKvDustRemoval> Describe() {
        using Stamp = CKvDustRemoval::Stamp;
        RecordDescription<CKvDustRemoval> s;
        s.policy = KvVersionPolicy::kExact;
        s.version = 1;
        s.sample = [] { return Dust({1, 2, 3, 4, 5}, Stamp{2026, 12, 9, 13, 45, 30}, 7, 9); };
        s.fields = {
            {"reference size", 22, 4, nullptr},
            {"reference bytes", 26, 5,
             [](auto& to, const auto& from) {
                 to.SetReferenceSize(from.GetReferenceSize());
                 std::copy(from.GetReference(), from.GetReference() + from.GetReferenceSize(),
                           to.GetReference());
             }},
            {"stamp year", 31, 2, CopyStamp<&Stamp::year>()},
            {"stamp month", 33, 1, CopyStamp<&Stamp::month>()},
            {"stamp day", 34, 1, CopyStamp<&Stamp::day>()},
            {"stamp hour", 35, 1, CopyStamp<&Stamp::hour>()},
            {"stamp minute", 36, 1, CopyStamp<&Stamp::minute>()},
            {"stamp second", 37, 1, CopyStamp<&Stamp::second>()},
            {"first extra value", 38, 2,
             [](auto& to, const auto& from) { to.SetFirstExtra(from.GetFirstExtra()); }},
            {"second extra value", 40, 2,
             [](auto& to, const auto& from) { to.SetSecondExtra(from.GetSecondExtra()); }},
        };
        s.defaultRecord = Hex("7D 75 52 F8 4C 65 0B 46 9D 02 64 66 5E 45 69 6B  01 00  13 00 00 00"
                              "00 00 00 00  6C 07  01 01 00 00 00  00 00  00 00");
        // The stated count is counted whether or not its bytes are there.
        s.cutResult = [](int cut) { return cut < 26 ? 37 : 42; };
        const KvStateId& id = KvStateIds::kDustRemoval;
        s.cases = {
            {"no reference",
             RecordBytes(id, 1).Length().U32(0).U16(2001).U8(2).U8(3).U8(4).U8(5).U8(6).U16(1).U16(2), 37,
             [] {
                 return Dust({}, Stamp{2001, 2, 3, 4, 5, 6}, 1, 2);
             }},
            {"a count beyond the bytes present reads no reference and nothing after it",
             RecordBytes(id, 1).Length().U32(10).Raw(Bytes(5, 0xAB)), 47, [] { return CKvDustRemoval(); }},
            {"a count of four gigabytes allocates nothing and saturates the size",
             RecordBytes(id, 1).Length().U32(0xFFFFFFFF).Raw(Bytes(11, 1)), INT_MAX,
             [] { return CKvDustRemoval(); }},
            {"the count plus 26 passing 32 bits is still beyond the bytes",
             RecordBytes(id, 1).Length().U32(0xFFFFFFF0).Raw(Bytes(40, 1)), INT_MAX,
             [] { return CKvDustRemoval(); }},
        };
        s.randomize = [](CKvDustRemoval& d, std::mt19937& random) {
            Bytes reference(random() % 40);
            for (BYTE& b : reference)
                b = static_cast<BYTE>(random());
            d = Dust(reference,
                     Stamp{static_cast<WORD>(random()), static_cast<BYTE>(random()),
                           static_cast<BYTE>(random()), static_cast<BYTE>(random()),
                           static_cast<BYTE>(random()), static_cast<BYTE>(random())},
                     static_cast<WORD>(random()), static_cast<WORD>(random()));
        };
        return s;
    }
};

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(DustRemoval, RecordConformance, DustRemovalRecord);
} // namespace kvtest

namespace {

Bytes MapBytes(LONG width, LONG height) {
    using namespace dusttest;
    MapFields fields;
    fields.width = static_cast<ULONG>(width);
    fields.height = static_cast<ULONG>(height);
    fields.toneEntries = 65792;
    const auto plane =
        kvtest::MakePlane(width, height, PravonColorSpace::kGrey8, kvtest::FillPattern::Coordinates);
    return MapBlob(fields, ToneStream(ToneTable(65792)), ZlibStream(Samples(plane)), {});
}

Bytes StoredMap(const CKvDustRemoval& d) {
    const auto map = d.GetDustMap();
    if (!map)
        return {};
    Bytes out(map->GetDataSize());
    PravonErrorPtr(map->WriteData(static_cast<ULONG>(out.size()), out.data()));
    return out;
}

class DustRecordWithMap : public ::testing::Test {
protected:
    void SetUp() override {
        record = Dust({9, 8, 7}, {2020, 5, 6, 7, 8, 9}, 3, 4);
        ASSERT_EQ(record.LoadDustMap(&manager, blob.data(), static_cast<DWORD>(blob.size())),
                  CKvDustRemoval::kDone);
    }
    CPravonMemoryManager manager;
    const Bytes blob = MapBytes(30, 20);
    CKvDustRemoval record;
};

TEST_F(DustRecordWithMap, CopiesGetAMapOfTheirOwnWithTheSameBytes) {
    const CKvDustRemoval copied(record);
    CKvDustRemoval assigned;
    assigned = record;
    for (const CKvDustRemoval* d : {&copied, static_cast<const CKvDustRemoval*>(&assigned)}) {
        EXPECT_TRUE(*d == record);
        ASSERT_TRUE(d->HasDustMap());
        EXPECT_NE(d->GetDustMap(), record.GetDustMap());
        EXPECT_TRUE(d->GetDustMap()->IsComplete());
        EXPECT_EQ(StoredMap(*d), blob);
    }
}

TEST_F(DustRecordWithMap, SelfAssignmentKeepsTheReferenceAndTheMap) {
    const auto map = record.GetDustMap();
    CKvDustRemoval& self = record;
    record = self;
    EXPECT_EQ(ReferenceOf(record), (Bytes{9, 8, 7}));
    EXPECT_EQ(record.GetStamp().year, 2020);
    EXPECT_EQ(record.GetDustMap(), map);
}

TEST_F(DustRecordWithMap, ReadingARecordReplacesTheReferenceAndDropsTheMap) {
    CKvDustRemoval other = Dust({1, 1, 2, 3, 5, 8}, {1999, 12, 31, 23, 59, 58});
    const Bytes stored = kvtest::WriteRecord(other);
    ASSERT_EQ(kvtest::ReadRecord(record, stored), 43);
    EXPECT_EQ(ReferenceOf(record), (Bytes{1, 1, 2, 3, 5, 8}));
    EXPECT_EQ(record.GetStamp().second, 58);
    EXPECT_FALSE(record.HasDustMap());
}

TEST_F(DustRecordWithMap, LoadDustMapKeepsTheMapOnBadArgumentsAndDropsItOnBadBytes) {
    const auto map = record.GetDustMap();
    EXPECT_EQ(record.LoadDustMap(&manager, blob.data(), 0), CKvDustRemoval::kBadArgument);
    EXPECT_EQ(record.LoadDustMap(nullptr, blob.data(), static_cast<DWORD>(blob.size())),
              CKvDustRemoval::kBadArgument);
    EXPECT_EQ(record.LoadDustMap(&manager, nullptr, 10), CKvDustRemoval::kBadArgument);
    EXPECT_EQ(record.GetDustMap(), map);
    EXPECT_EQ(record.LoadDustMap(&manager, blob.data(), static_cast<DWORD>(blob.size() - 1)),
              CKvDustRemoval::kUnreadable);
    EXPECT_FALSE(record.HasDustMap());
    EXPECT_TRUE(map->IsComplete()) << "a filter that shares the old map keeps it whole";
}

TEST_F(DustRecordWithMap, ACopyThatRunsOutOfMemoryIsWholeOrWithout) {
    for (int n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        kvtest::FailNthAllocation(n);
        bool copiedWhole = false;
        {
            const CKvDustRemoval copy(record);
            const bool failed = kvtest::StopFailingAllocations();
            EXPECT_TRUE(copy.GetReferenceSize() == 0 || ReferenceOf(copy) == ReferenceOf(record));
            if (copy.HasDustMap()) {
                EXPECT_EQ(StoredMap(copy), blob);
            }
            copiedWhole = !failed;
            if (copiedWhole) {
                EXPECT_TRUE(copy.HasDustMap());
            }
        }
        if (copiedWhole)
            break;
    }
}

TEST(DustRemoval, ResetAndEmptiness) {
    CPravonMemoryManager manager;
    CKvDustRemoval d;
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_EQ(d.LoadDustReference(&manager, nullptr, 4), CKvDustRemoval::kBadArgument);
    const Bytes reference{4, 3, 2, 1};
    EXPECT_EQ(d.LoadDustReference(nullptr, reference.data(), 4), CKvDustRemoval::kBadArgument);
    EXPECT_EQ(d.LoadDustReference(&manager, reference.data(), 0), CKvDustRemoval::kBadArgument);
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_EQ(d.LoadDustReference(&manager, reference.data(), 4), CKvDustRemoval::kDone);
    EXPECT_FALSE(d.IsEmpty());
    EXPECT_EQ(ReferenceOf(d), reference);
    d.SetFirstExtra(5);
    d.Reset();
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_TRUE(d == CKvDustRemoval());
}

TEST(DustRemoval, AHostileCountAsksForNoMoreThanTheRecordHolds) {
    const Bytes stored = RecordBytes(KvStateIds::kDustRemoval, 1).Length().U32(0x7FFFFFFF).Raw(Bytes(64, 2));
    CKvDustRemoval d;
    kvtest::AllocationWatch watch;
    kvtest::ReadRecord(d, stored);
    EXPECT_LT(watch.GetLargest(), std::size_t{4096});
    EXPECT_TRUE(d.IsEmpty());
}

} // namespace
