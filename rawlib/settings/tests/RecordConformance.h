// The conformance suite every settings record passes: size queries, whole-field prefixes at every buffer
// size, cut records, foreign ids, the version policy, hand-built records of older versions, round trips,
// copy and compare, and the default record's bytes.
//
// A record plugs in with a description type that has `using Record = <class>;` and a static
// `Describe()` returning a RecordDescription<Record>, and one line in its test file:
//
//     INSTANTIATE_TYPED_TEST_SUITE_P(Brightness, RecordConformance, BrightnessRecord);
//
// The record class needs a default constructor (its defaults), copy construction and assignment (its
// own assignment rule), and operator== over what the record stores.
#pragma once

#include "rawlib/settings/IKvState.h"
#include "rawlib/settings/KvRecordCursor.h"
#include "rawlib/settings/KvStateIds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kvtest {

using Bytes = std::vector<BYTE>;

// "34 94 58 84" or "34945884": whitespace is ignored.
Bytes Hex(std::string_view text);
std::string HexText(const Bytes& bytes);

// A field of the complete record of the current version: where it lies, and how to copy its value from
// one object to another (what a reader that got this field, and only this field, takes from the record).
// An empty `copy` marks a field that carries no value of its own, such as an entry count.
template <class T>
struct RecordField {
    const char* name;
    int offset;
    int width;
    std::function<void(T& to, const T& from)> copy;
};

// Hand-built bytes (typically of an older version) and what they read into, starting from defaults.
template <class T>
struct RecordCase {
    const char* name;
    Bytes bytes;
    int expectedResult;
    std::function<T()> expected;
};

template <class T>
struct RecordDescription {
    KvVersionPolicy policy = KvVersionPolicy::kZeroResets;
    WORD version = 1;
    bool lengthField = true;
    // An object whose every stored field is away from its default.
    std::function<T()> sample;
    // The sample's record, field by field in order, covering everything after the header.
    std::vector<RecordField<T>> fields;
    // The record of a default object.
    Bytes defaultRecord;
    std::vector<RecordCase<T>> cases;
    // Optional: sets random values that the record can carry exactly.
    std::function<void(T&, std::mt19937&)> randomize;
    // Optional: what reading the sample's record cut to `cut` bytes returns (at least 18 bytes);
    // by default the full size, as for records whose size does not depend on what they hold.
    std::function<int(int cut)> cutResult;
    // Zero-resets policy: what a record of version 0, or one too short to hold a version, returns.
    int zeroVersionResult = 22;
    // Exact policy: the versions before the current one are read too (the cases show how).
    bool readsEarlierVersions = false;
    // Zero-rejects policy: a refused record of version 0 (or too short to hold a version) leaves the
    // object as a default one rather than unchanged.
    bool zeroVersionEmpties = false;
};

template <class T>
Bytes WriteRecord(T& object) {
    IKvState& state = object;
    const int size = state.GetStateSize();
    Bytes bytes(static_cast<std::size_t>(size));
    state.WriteState(bytes.data(), size);
    return bytes;
}

// Reads exactly `size` bytes from a block of that size, so that any read past the end is caught.
template <class T>
int ReadRecord(T& object, const Bytes& bytes, std::size_t size) {
    const Bytes exact(bytes.begin(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
    IKvState& state = object;
    return state.ReadState(exact.empty() ? nullptr : exact.data(), static_cast<int>(exact.size()));
}

template <class T>
int ReadRecord(T& object, const Bytes& bytes) {
    return ReadRecord(object, bytes, bytes.size());
}

template <class T>
::testing::AssertionResult SameRecord(const T& expected, const T& actual) {
    if (expected == actual)
        return ::testing::AssertionSuccess();
    T e(expected), a(actual);
    return ::testing::AssertionFailure()
           << "objects differ; as records:\n  expected " << HexText(WriteRecord(e)) << "\n  actual   "
           << HexText(WriteRecord(a));
}

// Builds record bytes field by field for hand-made test vectors, independently of the record writer.
class RecordBytes {
public:
    RecordBytes(const std::array<BYTE, 16>& id, WORD version);
    RecordBytes(const KvStateId& id, WORD version) : RecordBytes(id.stored, version) {}
    // A length field, filled with the distance from offset 18 to the end when the bytes are taken.
    RecordBytes& Length();
    RecordBytes& U8(BYTE v) { return Put(v, 1); }
    RecordBytes& U16(WORD v) { return Put(v, 2); }
    RecordBytes& I16(SHORT v) { return Put(static_cast<WORD>(v), 2); }
    RecordBytes& U32(DWORD v) { return Put(v, 4); }
    RecordBytes& I32(LONG v) { return Put(static_cast<DWORD>(v), 4); }
    RecordBytes& F64(double v);
    RecordBytes& Raw(const Bytes& bytes);
    operator Bytes() const;

private:
    RecordBytes& Put(std::uint64_t value, int width);
    Bytes m_bytes;
    bool m_length = false;
};

inline Bytes WithVersion(Bytes bytes, WORD version) {
    KvPutValue(bytes.data() + 16, version, 2);
    return bytes;
}

inline Bytes WithId(Bytes bytes, const std::array<BYTE, 16>& id) {
    std::copy(id.begin(), id.end(), bytes.begin());
    return bytes;
}

template <class Description>
class RecordConformance : public ::testing::Test {
protected:
    using T = typename Description::Record;

    RecordConformance() : desc(Description::Describe()) {}

    T Sample() const { return desc.sample(); }
    Bytes SampleRecord() const {
        T s = Sample();
        return WriteRecord(s);
    }
    int FullSize() const { return static_cast<int>(SampleRecord().size()); }
    int HeaderSize() const { return desc.lengthField ? 22 : 18; }

    // Defaults with the fields that end within `available` bytes copied from the sample; `shift` moves
    // every field that much closer to the header (a record written without room for its length).
    T PartialSample(int available, int shift = 0) const {
        T expected;
        const T sample = Sample();
        for (const auto& f : desc.fields)
            if (f.copy && f.offset - shift + f.width <= available)
                f.copy(expected, sample);
        return expected;
    }

    RecordDescription<T> desc;
};

TYPED_TEST_SUITE_P(RecordConformance);

TYPED_TEST_P(RecordConformance, FieldsDescribeTheWholeRecord) {
    int at = this->HeaderSize();
    for (const auto& f : this->desc.fields) {
        EXPECT_EQ(f.offset, at) << f.name << " does not follow the previous field";
        at = f.offset + f.width;
    }
    EXPECT_EQ(at, this->FullSize()) << "the fields end before or after the record";
}

TYPED_TEST_P(RecordConformance, SizeQueriesAgreeWithTheWrittenRecord) {
    auto sample = this->Sample();
    IKvState& state = sample;
    const int size = state.GetStateSize();
    EXPECT_EQ(state.WriteState(nullptr, 0), size);
    EXPECT_EQ(state.WriteState(nullptr, size + 100), size) << "no buffer is a size query";

    Bytes big(static_cast<std::size_t>(size) + 16, 0xCC);
    EXPECT_EQ(state.WriteState(big.data(), static_cast<int>(big.size())), size);
    EXPECT_TRUE(std::all_of(big.begin() + size, big.end(), [](BYTE b) { return b == 0xCC; }))
        << "a larger buffer gets nothing past the record";
    EXPECT_TRUE(std::equal(big.begin(), big.begin() + 16, state.GetStateId()));
    EXPECT_EQ(KvGetValue(big.data() + 16, 2), this->desc.version);
    if (this->desc.lengthField) {
        EXPECT_EQ(KvGetValue(big.data() + 18, 4), static_cast<std::uint64_t>(size - 18));
    }
}

TYPED_TEST_P(RecordConformance, WritesWholeFieldsOnlyAtEveryBufferSize) {
    auto sample = this->Sample();
    const Bytes full = WriteRecord(sample);
    const int size = static_cast<int>(full.size());
    for (int s = 0; s <= size + 1; ++s) {
        Bytes expected(static_cast<std::size_t>(size) + 8, 0xCC);
        int lastEnd = 0;
        if (s >= 16) {
            std::copy(full.begin(), full.begin() + 16, expected.begin());
            lastEnd = 16;
        }
        if (s >= 18) {
            std::copy(full.begin() + 16, full.begin() + 18, expected.begin() + 16);
            lastEnd = 18;
        }
        const bool lengthWritten = this->desc.lengthField && s >= 22;
        const int shift = this->desc.lengthField && s < 22 ? 4 : 0;
        if (lengthWritten)
            lastEnd = 22;
        for (const auto& f : this->desc.fields) {
            const int at = f.offset - shift;
            if (at + f.width <= s) {
                std::copy(full.begin() + f.offset, full.begin() + f.offset + f.width, expected.begin() + at);
                lastEnd = at + f.width;
            }
        }
        if (lengthWritten)
            KvPutValue(expected.data() + 18, static_cast<std::uint64_t>(lastEnd - 18), 4);

        Bytes actual(expected.size(), 0xCC);
        IKvState& state = sample;
        EXPECT_EQ(state.WriteState(actual.data(), s), size) << "buffer of " << s << " bytes";
        EXPECT_EQ(HexText(actual), HexText(expected)) << "buffer of " << s << " bytes";
    }
}

TYPED_TEST_P(RecordConformance, ReadsACutRecordUpToTheCut) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const int size = static_cast<int>(full.size());
    const T sample = this->Sample();
    const T defaults;
    for (int cut = 0; cut <= size; ++cut) {
        SCOPED_TRACE("record cut to " + std::to_string(cut) + " bytes");
        T fromSample(sample), fromDefaults;
        const int r1 = ReadRecord(fromSample, full, static_cast<std::size_t>(cut));
        const int r2 = ReadRecord(fromDefaults, full, static_cast<std::size_t>(cut));
        EXPECT_EQ(r1, r2);
        if (cut < 16) {
            EXPECT_EQ(r1, 0);
            EXPECT_TRUE(SameRecord(sample, fromSample));
            continue;
        }
        if (cut < 18) { // no version: it counts as 0
            if (this->desc.policy == KvVersionPolicy::kZeroResets) {
                EXPECT_EQ(r1, this->desc.zeroVersionResult);
                EXPECT_TRUE(SameRecord(defaults, fromSample));
            } else {
                EXPECT_EQ(r1, 0);
                EXPECT_TRUE(SameRecord(this->desc.zeroVersionEmpties ? defaults : sample, fromSample));
            }
            continue;
        }
        EXPECT_EQ(r1, this->desc.cutResult ? this->desc.cutResult(cut) : size);
        if (this->desc.lengthField && cut < 22)
            continue; // fields start at 18 here: see ReadsTheShortFormItsWriterMakes
        const T expected = this->PartialSample(cut);
        EXPECT_TRUE(SameRecord(expected, fromSample)) << "fields past the cut must be defaults";
        EXPECT_TRUE(SameRecord(expected, fromDefaults)) << "fields before the cut must be read";
    }
}

TYPED_TEST_P(RecordConformance, ReadsTheShortFormItsWriterMakes) {
    using T = typename TestFixture::T;
    if (!this->desc.lengthField)
        GTEST_SKIP() << "records without a length field have one form";
    auto sample = this->Sample();
    for (int s = 18; s < 22; ++s) {
        Bytes bytes(static_cast<std::size_t>(s));
        static_cast<IKvState&>(sample).WriteState(bytes.data(), s);
        T read;
        ReadRecord(read, bytes);
        EXPECT_TRUE(SameRecord(this->PartialSample(s, 4), read)) << "buffer of " << s << " bytes";
    }
}

TYPED_TEST_P(RecordConformance, RefusesEveryOtherIdAndLeavesTheObjectUnchanged) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const T defaults;
    T probe;
    const BYTE* ownId = static_cast<IKvState&>(probe).GetStateId();
    int tried = 0;
    for (const auto& named : KvStateIds::All()) {
        if (named.id->Matches(ownId))
            continue;
        for (const auto& form : {named.id->stored, named.id->alternate}) {
            T target;
            EXPECT_EQ(ReadRecord(target, WithId(full, form)), 0) << named.name;
            EXPECT_TRUE(SameRecord(defaults, target)) << named.name;
            ++tried;
        }
    }
    EXPECT_GT(tried, 80);
    for (int bit = 0; bit < 128; ++bit) {
        Bytes bent = full;
        bent[bit / 8] ^= static_cast<BYTE>(1u << (bit % 8));
        T target;
        EXPECT_EQ(ReadRecord(target, bent), 0) << "id bit " << bit;
        EXPECT_TRUE(SameRecord(defaults, target)) << "id bit " << bit;
    }
}

TYPED_TEST_P(RecordConformance, AcceptsBothFormsOfItsOwnId) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const KvStateId* own = nullptr;
    for (const auto& named : KvStateIds::All())
        if (std::equal(named.id->stored.begin(), named.id->stored.end(), full.begin()))
            own = named.id;
    ASSERT_NE(own, nullptr) << "the record's id is missing from KvStateIds::All()";
    T viaAlternate;
    EXPECT_EQ(ReadRecord(viaAlternate, WithId(full, own->alternate)), static_cast<int>(full.size()));
    EXPECT_TRUE(SameRecord(this->Sample(), viaAlternate));
}

TYPED_TEST_P(RecordConformance, FollowsItsVersionPolicy) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const int size = static_cast<int>(full.size());
    const T sample = this->Sample();
    const T defaults;
    const WORD newer = static_cast<WORD>(this->desc.version + 1);

    T zero(sample);
    const int r0 = ReadRecord(zero, WithVersion(full, 0));
    if (this->desc.policy == KvVersionPolicy::kZeroResets) {
        EXPECT_EQ(r0, this->desc.zeroVersionResult);
        EXPECT_TRUE(SameRecord(defaults, zero)) << "version 0 gives the defaults";
    } else {
        EXPECT_EQ(r0, 0);
        EXPECT_TRUE(SameRecord(this->desc.zeroVersionEmpties ? defaults : sample, zero))
            << "a refused version changes nothing, or empties what says so";
    }

    for (WORD later : {newer, static_cast<WORD>(0xFFFF)}) {
        T target;
        const int r = ReadRecord(target, WithVersion(full, later));
        if (this->desc.policy == KvVersionPolicy::kExact) {
            EXPECT_EQ(r, 0) << "version " << later;
            EXPECT_TRUE(SameRecord(defaults, target)) << "version " << later;
        } else {
            EXPECT_EQ(r, size) << "a newer version is read as far as this one goes";
            EXPECT_TRUE(SameRecord(sample, target)) << "version " << later;
        }
    }
    if (this->desc.policy == KvVersionPolicy::kExact && this->desc.version > 1 &&
        !this->desc.readsEarlierVersions) {
        T target;
        EXPECT_EQ(ReadRecord(target, WithVersion(full, static_cast<WORD>(this->desc.version - 1))), 0);
    }
}

TYPED_TEST_P(RecordConformance, ReadsHandBuiltRecords) {
    using T = typename TestFixture::T;
    for (const auto& c : this->desc.cases) {
        SCOPED_TRACE(c.name);
        T fromDefaults;
        T fromSample = this->Sample();
        EXPECT_EQ(ReadRecord(fromDefaults, c.bytes), c.expectedResult);
        EXPECT_EQ(ReadRecord(fromSample, c.bytes), c.expectedResult);
        if (c.expectedResult == 0) {
            EXPECT_TRUE(SameRecord(T(), fromDefaults));
            EXPECT_TRUE(SameRecord(this->Sample(), fromSample));
        } else {
            EXPECT_TRUE(SameRecord(c.expected(), fromDefaults));
            EXPECT_TRUE(SameRecord(c.expected(), fromSample));
        }
    }
}

TYPED_TEST_P(RecordConformance, RoundTripsAndRewritesTheSameBytes) {
    using T = typename TestFixture::T;
    std::vector<T> objects{this->Sample(), T()};
    if (this->desc.randomize) {
        std::mt19937 random(20240613);
        for (int i = 0; i < 200; ++i) {
            T object;
            this->desc.randomize(object, random);
            objects.push_back(object);
        }
    }
    for (T& object : objects) {
        const Bytes first = WriteRecord(object);
        T read(this->Sample());
        EXPECT_EQ(ReadRecord(read, first), static_cast<int>(first.size()));
        EXPECT_TRUE(SameRecord(object, read));
        EXPECT_EQ(HexText(WriteRecord(read)), HexText(first));
    }
}

TYPED_TEST_P(RecordConformance, CopiesAndComparesEveryStoredField) {
    using T = typename TestFixture::T;
    const T sample = this->Sample();
    const T copied(sample);
    EXPECT_TRUE(SameRecord(sample, copied));
    T assigned;
    assigned = sample;
    EXPECT_TRUE(SameRecord(sample, assigned));
    T& alias = assigned;
    assigned = alias;
    EXPECT_TRUE(SameRecord(sample, assigned)) << "assigning an object to itself keeps its settings";
    EXPECT_FALSE(sample == T());
    for (const auto& f : this->desc.fields) {
        if (!f.copy)
            continue;
        T one;
        f.copy(one, sample);
        EXPECT_FALSE(one == T()) << "comparison misses " << f.name
                                 << " (or the sample leaves it at its default)";
    }
}

TYPED_TEST_P(RecordConformance, WritesTheDefaultRecordByteForByte) {
    using T = typename TestFixture::T;
    T defaults;
    EXPECT_EQ(HexText(WriteRecord(defaults)), HexText(this->desc.defaultRecord));
    T read(this->Sample());
    EXPECT_EQ(ReadRecord(read, this->desc.defaultRecord), static_cast<int>(this->desc.defaultRecord.size()));
    EXPECT_TRUE(SameRecord(T(), read));
}

REGISTER_TYPED_TEST_SUITE_P(RecordConformance, FieldsDescribeTheWholeRecord,
                            SizeQueriesAgreeWithTheWrittenRecord, WritesWholeFieldsOnlyAtEveryBufferSize,
                            ReadsACutRecordUpToTheCut, ReadsTheShortFormItsWriterMakes,
                            RefusesEveryOtherIdAndLeavesTheObjectUnchanged, AcceptsBothFormsOfItsOwnId,
                            FollowsItsVersionPolicy, ReadsHandBuiltRecords, RoundTripsAndRewritesTheSameBytes,
                            CopiesAndComparesEveryStoredField, WritesTheDefaultRecordByteForByte);

} // namespace kvtest
