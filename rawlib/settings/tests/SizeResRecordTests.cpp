#include "RecordConformance.h"
#include "SizeTestPrinters.h"

#include "rawlib/settings/CKvSizeRes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using kvtest::Bytes;
using kvtest::Hex;
using kvtest::RecordBytes;
using kvtest::RecordDescription;

constexpr DWORD kCrop = CHeuristic::kTypeLockCrop;
constexpr DWORD kSize = CHeuristic::kTypeLockSize;

// Reads as the aggregate settings record does when its orientation items agree with the record: the
// record's own orientation (none before version 2) is set on the target first, and the image size is not
// known. The orientation turn and the fit to the image have tests of their own.
class SizeResAsStored : public CKvSizeRes {
public:
    SizeResAsStored() = default;
    SizeResAsStored(const CKvSizeRes& other) : CKvSizeRes(other) {}

    int ReadState(const BYTE* buffer, int size) override {
        if (buffer && size >= 18 && KvStateIds::kSizeRes.Matches(buffer)) {
            SetOrientation(0, 0, 0);
            const WORD version = static_cast<WORD>(KvGetValue(buffer + 16, 2));
            const std::int64_t header = version >= 3 ? 22 : 18;
            if (version >= 2 && size >= header + 8) {
                const std::int64_t at =
                    header + 8 + static_cast<std::int64_t>(KvGetValue(buffer + header + 4, 4));
                if (at + 5 <= size)
                    SetOrientation(buffer[at], static_cast<LONG>(KvGetValue(buffer + at + 1, 4)), 0);
            }
        }
        return ReadRecord(buffer, size, 0, 0);
    }
};

Bytes HeuristicBytes(const CHeuristic& h) {
    Bytes bytes(CHeuristic::kRecordSize);
    int size = CHeuristic::kRecordSize;
    const_cast<CHeuristic&>(h).WriteState(bytes.data(), size);
    return bytes;
}

// The same heuristic record in the layout of versions 1 and 2: no length field.
Bytes OldHeuristicBytes(const CHeuristic& h) {
    Bytes bytes = HeuristicBytes(h);
    bytes.erase(bytes.begin() + 18, bytes.begin() + 22);
    return kvtest::WithVersion(bytes, 1);
}

void ReadHeuristic(CKvSizeRes& to, const Bytes& record) {
    (*to.GetHeuristicSlot())->ReadState(record.data(), static_cast<int>(record.size()));
    to.SyncOutputFixed();
}

CKvSizeRes Sample() {
    const CKvRect crop(200, 100, 1700, 2100);
    CKvSizeRes s(3000, 2000, &crop, UnitValue::PerInch(300));
    s.SetHeuristicType(kSize);
    s.SetPrintWidth(UnitValue::Inches(4));
    s.SetOrientation(1, 270, 1);
    s.SetFlagByte(1);
    return s;
}

// A state holding the sample's heuristic values as they are stored, with the given type and orientation.
CKvSizeRes SampleValues(DWORD type, int mirrored, LONG angle, BYTE flag = 0) {
    CKvSizeRes e;
    ReadHeuristic(e, HeuristicBytes(Sample().GetHeuristic()));
    e.SetHeuristicType(type);
    e.SetOrientation(mirrored, angle, 0);
    e.SetFlagByte(flag);
    return e;
}

CKvSizeRes DefaultWith(DWORD type, int mirrored, LONG angle, BYTE flag) {
    CKvSizeRes e;
    e.SetHeuristicType(type);
    e.SetOrientation(mirrored, angle, 0);
    e.SetFlagByte(flag);
    return e;
}

Bytes WithDouble(Bytes heuristic, int index, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    KvPutValue(heuristic.data() + 22 + 8 * index, bits, 8);
    return heuristic;
}

struct SizeResRecord {
    using Record = SizeResAsStored;
    static RecordDescription<SizeResAsStored> Describe() {
        RecordDescription<SizeResAsStored> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 5;
        s.zeroVersionResult = 18;
        s.sample = [] { return SizeResAsStored(Sample()); };
        s.fields = {
            {"heuristic type (applies with the whole record)", 22, 4, nullptr},
            {"heuristic record size", 26, 4, nullptr},
            {"heuristic record", 30, 223,
             [](auto& to, const auto& from) { ReadHeuristic(to, HeuristicBytes(from.GetHeuristic())); }},
            {"mirrored", 253, 1,
             [](auto& to, const auto& from) { to.SetOrientation(from.IsMirrored(), to.GetAngle(), 0); }},
            {"angle", 254, 4,
             [](auto& to, const auto& from) { to.SetOrientation(to.IsMirrored(), from.GetAngle(), 0); }},
            {"flag byte (the record is whole: its heuristic type applies)", 258, 1,
             [](auto& to, const auto& from) {
                 to.SetFlagByte(from.GetFlagByte());
                 to.SetHeuristicType(from.GetHeuristicType());
             }},
        };
        // Until the heuristic's size is there, the record counts as one with an empty heuristic.
        s.cutResult = [](int cut) { return cut < 30 ? 36 : 259; };

        RecordBytes def(KvStateIds::kSizeRes, 5);
        def.Length().U32(kCrop).U32(223).Raw(HeuristicBytes(CHeuristic())).U8(0).I32(0).U8(0);
        s.defaultRecord = def;
        EXPECT_EQ(
            kvtest::HexText(Bytes(s.defaultRecord.begin(), s.defaultRecord.begin() + 30)),
            "E0 33 42 37 B8 CC D2 11 0A A9 B7 C1 B1 00 AA 00 05 00 F1 00 00 00 70 6F 72 43 DF 00 00 00");

        const KvStateId& id = KvStateIds::kSizeRes;
        const CKvSizeRes sample = Sample();
        const CHeuristic& h = sample.GetHeuristic();
        const Bytes v3 = HeuristicBytes(h);
        const Bytes v1 = OldHeuristicBytes(h);
        CHeuristic neverSetUp;
        neverSetUp.SetCrop(DblRect(5, 5, 50, 50), 0);
        s.cases = {
            {"version 1 has no length field and no orientation",
             RecordBytes(id, 1).U32(kSize).U32(219).Raw(v1), 18 + 8 + 219,
             [] { return SizeResAsStored(SampleValues(kSize, 0, 0)); }},
            {"version 2 adds the orientation", RecordBytes(id, 2).U32(kSize).U32(219).Raw(v1).U8(1).I32(90),
             18 + 8 + 219 + 5, [] { return SizeResAsStored(SampleValues(kSize, 1, 90)); }},
            {"version 3 has a length field",
             RecordBytes(id, 3).Length().U32(kCrop).U32(223).Raw(v3).U8(0).I32(180), 258,
             [] { return SizeResAsStored(SampleValues(kCrop, 0, 180)); }},
            {"version 4 reads as version 3",
             RecordBytes(id, 4).Length().U32(kCrop).U32(223).Raw(v3).U8(0).I32(180).U8(9), 258,
             [] { return SizeResAsStored(SampleValues(kCrop, 0, 180)); }},
            {"an angle beyond a turn is brought into [0, 360)",
             RecordBytes(id, 5).Length().U32(kSize).U32(223).Raw(v3).U8(2).I32(-90).U8(3), 259,
             [] { return SizeResAsStored(SampleValues(kSize, 1, 270, 3)); }},
            {"an angle that is not a right angle reads as no orientation",
             RecordBytes(id, 5).Length().U32(kSize).U32(223).Raw(v3).U8(1).I32(45).U8(7), 259,
             [] { return SizeResAsStored(SampleValues(kSize, 0, 0, 7)); }},
            {"the most negative angle is no right angle either",
             RecordBytes(id, 5).Length().U32(kSize).U32(223).Raw(v3).U8(1).I32(INT_MIN).U8(0), 259,
             [] { return SizeResAsStored(SampleValues(kSize, 0, 0)); }},
            {"an unknown heuristic type keeps the locked crop",
             RecordBytes(id, 5).Length().U32(CHeuristic::kTypeDevSetup).U32(223).Raw(v3).U8(0).I32(0).U8(0),
             259, [] { return SizeResAsStored(SampleValues(kCrop, 0, 0)); }},
            {"a state never set up (both scale limits 1) reads as the default",
             RecordBytes(id, 5)
                 .Length()
                 .U32(kSize)
                 .U32(223)
                 .Raw(HeuristicBytes(neverSetUp))
                 .U8(1)
                 .I32(90)
                 .U8(2),
             259, [] { return SizeResAsStored(DefaultWith(kSize, 1, 90, 2)); }},
            {"a value that is not a number reads as the default",
             RecordBytes(id, 5)
                 .Length()
                 .U32(kSize)
                 .U32(223)
                 .Raw(WithDouble(v3, 16, std::numeric_limits<double>::quiet_NaN()))
                 .U8(0)
                 .I32(0)
                 .U8(0),
             259, [] { return SizeResAsStored(DefaultWith(kSize, 0, 0, 0)); }},
            {"a heuristic larger than the record reads nothing",
             RecordBytes(id, 5).Length().U32(kSize).U32(1000).Raw(v3).U8(1).I32(90).U8(2), 22 + 8 + 1000 + 6,
             [] { return SizeResAsStored(); }},
        };
        s.randomize = [](SizeResAsStored& object, std::mt19937& random) {
            auto uniform = [&](double low, double high) {
                return std::uniform_real_distribution<double>(low, high)(random);
            };
            const LONG w = std::uniform_int_distribution<LONG>(10, 5000)(random);
            const LONG h = std::uniform_int_distribution<LONG>(10, 5000)(random);
            CKvSizeRes s(w, h, nullptr, UnitValue::PerInch(uniform(10, 1000)));
            s.SetHeuristicType(random() & 1 ? kCrop : kSize);
            s.SetCrop(uniform(0, w), uniform(0, h), uniform(w, 2 * w), uniform(h, 2 * h), 0);
            s.SetPrintWidth(UnitValue::Inches(uniform(0.5, 30)));
            s.SetResolution(UnitValue::PerInch(uniform(10, 1000)), random() & 1);
            s.SetOrientation(random() & 1, 90 * static_cast<LONG>(random() % 4), 1);
            s.SetFlagByte(static_cast<BYTE>(random()));
            object = SizeResAsStored(s);
        };
        return s;
    }
};

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(SizeRes, RecordConformance, SizeResRecord);
} // namespace kvtest

namespace {

Bytes Record(const CKvSizeRes& s) {
    CKvSizeRes copy(s);
    return kvtest::WriteRecord(copy);
}

int Read(CKvSizeRes& into, const Bytes& record, LONG width, LONG height) {
    return into.ReadRecord(record.data(), static_cast<int>(record.size()), width, height);
}

TEST(SizeResRecord, TheStateInterfaceReadsNothingBecauseTheImageSizeIsNeeded) {
    CKvSizeRes target = Sample();
    const Bytes before = Record(target);
    EXPECT_EQ(static_cast<IKvState&>(target).ReadState(before.data(), static_cast<int>(before.size())), 0);
    EXPECT_EQ(Record(target), before);
    EXPECT_EQ(target.GetStateSize(), 259);
}

TEST(SizeResRecord, AStoredStateTurnsIntoTheOrientationOfTheObjectReadingIt) {
    const CKvSizeRes stored = Sample(); // mirrored, 270
    const Bytes record = Record(stored);

    CKvSizeRes same;
    same.SetOrientation(1, 270, 0);
    EXPECT_EQ(Read(same, record, 0, 0), 259);
    EXPECT_EQ(Record(same), record);
    EXPECT_EQ(same.GetRecordVersion(), 5);

    CKvSizeRes upright;
    EXPECT_EQ(Read(upright, record, 0, 0), 259);
    EXPECT_FALSE(upright.IsMirrored());
    EXPECT_EQ(upright.GetAngle(), 0);
    CKvSizeRes expected(stored);
    expected.ResetOrientation();
    EXPECT_EQ(Record(upright), Record(expected)) << "the stored crop is turned back into the upright frame";
}

TEST(SizeResRecord, AVersion1RecordHasNoOrientationSoTheTargetKeepsItsOwn) {
    CKvSizeRes upright = Sample();
    upright.ResetOrientation();
    const Bytes record = RecordBytes(KvStateIds::kSizeRes, 1)
                             .U32(kSize)
                             .U32(219)
                             .Raw(OldHeuristicBytes(upright.GetHeuristic()));

    CKvSizeRes target;
    target.SetOrientation(0, 90, 0);
    EXPECT_EQ(Read(target, record, 0, 0), 245);
    EXPECT_FALSE(target.IsMirrored());
    EXPECT_EQ(target.GetAngle(), 90);
    CKvSizeRes expected(upright);
    expected.RotateClockwise();
    expected.SetFlagByte(0); // not in a version-1 record
    EXPECT_EQ(kvtest::HexText(Record(target)), kvtest::HexText(Record(expected)));
    EXPECT_EQ(target.GetRecordVersion(), 1);
}

TEST(SizeResRecord, AStateIsFittedToTheImageItIsReadFor) {
    const CKvSizeRes stored(3000, 2000, nullptr, UnitValue::PerInch(300));
    const Bytes record = Record(stored);

    CKvSizeRes same;
    Read(same, record, 3000, 2000);
    EXPECT_EQ(Record(same), record) << "the output already matches the image";

    CKvSizeRes half;
    Read(half, record, 1500, 1000);
    EXPECT_EQ(half.GetOutputWidth(), 1500);
    EXPECT_EQ(half.GetOutputHeight(), 1000);
    EXPECT_EQ(half.GetImageWidth(), 3000);
    EXPECT_EQ(half.GetScaleMax(), UnitValue::PerInch(600));
    EXPECT_EQ(half.GetHeuristic().Validate(1), CHeuristic::kValid);

    CKvSizeRes unknown;
    Read(unknown, record, 0, 1000);
    EXPECT_EQ(Record(unknown), record) << "without both sides of the image nothing is fitted";
    Read(unknown, record, -1500, -1000);
    EXPECT_EQ(Record(unknown), record);
}

TEST(SizeResRecord, AStateNeverSetUpIsReplacedByTheDefaultForTheImage) {
    CHeuristic neverSetUp;
    neverSetUp.SetCrop(DblRect(5, 5, 50, 50), 0);
    const Bytes record = RecordBytes(KvStateIds::kSizeRes, 5)
                             .Length()
                             .U32(kCrop)
                             .U32(223)
                             .Raw(HeuristicBytes(neverSetUp))
                             .U8(0)
                             .I32(0)
                             .U8(0);
    CKvSizeRes read;
    EXPECT_EQ(Read(read, record, 3000, 2000), 259);
    EXPECT_EQ(Record(read), Record(CKvSizeRes(3000, 2000, nullptr, UnitValue::PerInch(300))));
    EXPECT_TRUE(read.IsNeutral());
    EXPECT_EQ(read.GetRecordVersion(), 5);
}

// Every value of the stored heuristic that would reach a division or an integer conversion as an
// infinity, a not-a-number or a zero makes the record read as the default for the image.
TEST(SizeResRecord, StoredValuesThatCannotBeUsedGiveTheDefaultForTheImage) {
    const CKvSizeRes stored = Sample();
    const Bytes heuristic = HeuristicBytes(stored.GetHeuristic());
    const Bytes expected = [] {
        CKvSizeRes e(1200, 900, nullptr, UnitValue::PerInch(300));
        e.SetHeuristicType(kSize);
        e.SetOrientation(1, 270, 0);
        e.SetFlagByte(1);
        return Record(e);
    }();
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Indexes of the doubles: crop 0-3, drag start 4-7, bounds 8-11, image 12-13, print 14-15, scale 16,
    // limits 17-18, resolution 19, ratio 20, output 21-23, aspect 24.
    std::vector<std::pair<int, double>> broken;
    for (int i = 0; i < 25; ++i) {
        broken.push_back({i, nan});
        broken.push_back({i, inf});
        broken.push_back({i, -inf});
    }
    for (int i : {12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 24}) {
        broken.push_back({i, 0.0});
        broken.push_back({i, -2.0});
    }
    const DblRect crop = stored.GetCrop();
    broken.push_back({2, crop.left}); // no width
    broken.push_back({3, crop.top});  // no height
    broken.push_back({10, stored.GetBounds().left});
    for (const auto& [index, value] : broken) {
        SCOPED_TRACE("double " + std::to_string(index) + " = " + std::to_string(value));
        const Bytes record = RecordBytes(KvStateIds::kSizeRes, 5)
                                 .Length()
                                 .U32(kSize)
                                 .U32(223)
                                 .Raw(WithDouble(heuristic, index, value))
                                 .U8(1)
                                 .I32(270)
                                 .U8(1);
        CKvSizeRes read;
        EXPECT_EQ(Read(read, record, 1200, 900), 259);
        EXPECT_EQ(kvtest::HexText(Record(read)), kvtest::HexText(expected));
        EXPECT_EQ(read.GetHeuristic().Validate(1), CHeuristic::kValid);
    }
}

TEST(SizeResRecord, ARecordHoldingNoHeuristicReadsAsTheDefaultForTheImage) {
    const CKvSizeRes expected(3000, 2000, nullptr, UnitValue::PerInch(300));
    const Bytes record = Record(Sample());
    for (std::size_t cut : {std::size_t{18}, std::size_t{30}, std::size_t{252}}) {
        CKvSizeRes read = Sample();
        EXPECT_GT(
            Read(read, Bytes(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(cut)), 3000, 2000),
            0);
        EXPECT_EQ(Record(read), Record(expected)) << "cut to " << cut;
    }
    CKvSizeRes empty;
    EXPECT_EQ(Read(empty, kvtest::WithVersion(Bytes(record.begin(), record.begin() + 22), 0), 3000, 2000),
              18);
    EXPECT_EQ(Record(empty), Record(expected)) << "version 0 holds no heuristic either";
}

TEST(SizeResRecord, StoredValuesTooFarApartToSurviveTheFitGiveTheDefaultForTheImage) {
    const Bytes heuristic = WithDouble(HeuristicBytes(Sample().GetHeuristic()), 1, -1e250); // crop top
    const Bytes record =
        RecordBytes(KvStateIds::kSizeRes, 5).Length().U32(kSize).U32(223).Raw(heuristic).U8(1).I32(270).U8(6);
    CKvSizeRes read;
    read.SetOrientation(0, 90, 0);
    EXPECT_EQ(Read(read, record, 1000, 800), 259);
    CKvSizeRes expected(1000, 800, nullptr, UnitValue::PerInch(300));
    expected.SetHeuristicType(kSize);
    expected.SetOrientation(0, 90, 0);
    expected.SetFlagByte(6);
    EXPECT_EQ(kvtest::HexText(Record(read)), kvtest::HexText(Record(expected)));
    CKvSizeRes again;
    again.SetOrientation(0, 90, 0);
    EXPECT_EQ(Read(again, Record(read), 1000, 800), 259);
    EXPECT_EQ(Record(again), Record(read)) << "and that state reads back as it is";
}

TEST(SizeResRecord, ACutRecordKeepsWhatItHoldsButAppliesNeitherTypeNorOrientationTurn) {
    const Bytes record = Record(Sample());
    CKvSizeRes target;
    target.SetOrientation(0, 90, 0);
    EXPECT_EQ(Read(target, Bytes(record.begin(), record.end() - 1), 3000, 2000), 259);
    EXPECT_EQ(target.GetHeuristicType(), kCrop);
    EXPECT_TRUE(target.IsMirrored()) << "the stored orientation, not turned";
    EXPECT_EQ(target.GetAngle(), 270);
    EXPECT_TRUE(target.GetHeuristic().SameRecord(SampleValues(kCrop, 0, 0).GetHeuristic()));

    CKvSizeRes untouched = Sample();
    const Bytes before = Record(untouched);
    Bytes foreign = kvtest::WithId(record, KvStateIds::kHeuristic.stored);
    EXPECT_EQ(Read(untouched, foreign, 3000, 2000), 0);
    EXPECT_EQ(untouched.ReadRecord(record.data(), 15, 3000, 2000), 0);
    EXPECT_EQ(untouched.ReadRecord(nullptr, 259, 3000, 2000), 0);
    EXPECT_EQ(Record(untouched), before);
}

} // namespace
