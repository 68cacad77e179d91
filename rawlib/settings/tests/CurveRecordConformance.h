// The conformance suite of the curve records (the LUT group and its channels), whose headers differ from
// the common framing: a channel record carries its channel id at 16 and a marker and version of its own, the
// group a marker, an 8-bit version and a length filled in last, and none of them is refused for its version
// alone. The suite checks size queries, whole-field prefixes at every buffer size, cut records, foreign ids,
// versions stepped over, hand-built records of older layouts, round trips, copies and the default bytes.
//
// A record plugs in with a description type that has `using Record = <class>;` and a static `Describe()`
// returning a CurveRecordDescription<Record>, and one line in its test file:
//
//     INSTANTIATE_TYPED_TEST_SUITE_P(HueChannel, CurveRecordConformance, HueChannelRecord);
#pragma once

#include "RecordConformance.h"

namespace kvtest {

template <class T>
struct CurveRecordDescription {
    // Every byte after the 16-byte id, in order; header bytes (marker, version, length, spare) have no copy.
    std::vector<RecordField<T>> fields;
    // Cuts below this size are read by another layout; only their results are checked.
    int headerSize = 16;
    // Offset of a length field that holds the distance from offset 18 to the end of the last byte written,
    // filled in when anything after it was written; -1 for none.
    int lengthOffset = -1;
    std::function<T()> sample;
    // Equality over what the record stores.
    std::function<bool(const T&, const T&)> same;
    // What reading the sample's record cut to `cut` bytes (16 or more) returns.
    std::function<int(int cut)> cutResult;
    // The record with its version field set to `version`.
    std::function<Bytes(Bytes record, WORD version)> withVersion;
    // Versions the reader does not read, and what it returns for them: 0 (refused, nothing changes) or the
    // bytes it steps over (only the channel id is taken).
    std::vector<WORD> unknownVersions;
    int unknownResult = 0;
    Bytes defaultRecord;
    std::vector<RecordCase<T>> cases;
    std::function<void(T&, std::mt19937&)> randomize;
    // Optional: what assigning `source` to `target` gives, when the class's assignment keeps something of
    // the target; by default the source.
    std::function<T(const T& target, const T& source)> assigned;
};

template <class Description>
class CurveRecordConformance : public ::testing::Test {
protected:
    using T = typename Description::Record;

    CurveRecordConformance() : desc(Description::Describe()) {}

    T Sample() const { return desc.sample(); }
    Bytes SampleRecord() const {
        T s = Sample();
        return WriteRecord(s);
    }
    // Defaults with the stored fields that end within `available` bytes copied from the sample.
    T PartialSample(int available) const {
        T expected;
        const T sample = Sample();
        for (const auto& f : desc.fields)
            if (f.copy && f.offset + f.width <= available)
                f.copy(expected, sample);
        return expected;
    }
    ::testing::AssertionResult Same(const T& expected, const T& actual) const {
        if (desc.same(expected, actual))
            return ::testing::AssertionSuccess();
        T e(expected), a(actual);
        return ::testing::AssertionFailure()
               << "objects differ; as records:\n  expected " << HexText(WriteRecord(e)) << "\n  actual   "
               << HexText(WriteRecord(a));
    }

    CurveRecordDescription<T> desc;
};

TYPED_TEST_SUITE_P(CurveRecordConformance);

TYPED_TEST_P(CurveRecordConformance, FieldsDescribeTheWholeRecord) {
    int at = 16;
    for (const auto& f : this->desc.fields) {
        EXPECT_EQ(f.offset, at) << f.name << " does not follow the previous field";
        at = f.offset + f.width;
    }
    EXPECT_EQ(at, static_cast<int>(this->SampleRecord().size()))
        << "the fields end before or after the record";
}

TYPED_TEST_P(CurveRecordConformance, SizeQueriesAgreeWithTheWrittenRecord) {
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
}

TYPED_TEST_P(CurveRecordConformance, WritesWholeFieldsOnlyAtEveryBufferSize) {
    auto sample = this->Sample();
    const Bytes full = WriteRecord(sample);
    const int size = static_cast<int>(full.size());
    const int lengthAt = this->desc.lengthOffset;
    for (int s = 0; s <= size + 1; ++s) {
        Bytes expected(static_cast<std::size_t>(size) + 8, 0xCC);
        int lastEnd = 0;
        if (s >= 16) {
            std::copy(full.begin(), full.begin() + 16, expected.begin());
            lastEnd = 16;
        }
        for (const auto& f : this->desc.fields) {
            if (f.offset == lengthAt || f.offset + f.width > s)
                continue;
            std::copy(full.begin() + f.offset, full.begin() + f.offset + f.width,
                      expected.begin() + f.offset);
            lastEnd = f.offset + f.width;
        }
        if (lengthAt >= 0 && lastEnd > lengthAt + 4)
            KvPutValue(expected.data() + lengthAt, static_cast<std::uint64_t>(lastEnd - 18), 4);

        Bytes actual(expected.size(), 0xCC);
        IKvState& state = sample;
        EXPECT_EQ(state.WriteState(actual.data(), s), size) << "buffer of " << s << " bytes";
        EXPECT_EQ(HexText(actual), HexText(expected)) << "buffer of " << s << " bytes";
    }
}

TYPED_TEST_P(CurveRecordConformance, ReadsACutRecordUpToTheCut) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const int size = static_cast<int>(full.size());
    const T sample = this->Sample();
    for (int cut = 0; cut <= size; ++cut) {
        SCOPED_TRACE("record cut to " + std::to_string(cut) + " bytes");
        T fromSample(sample), fromDefaults;
        const int r1 = ReadRecord(fromSample, full, static_cast<std::size_t>(cut));
        const int r2 = ReadRecord(fromDefaults, full, static_cast<std::size_t>(cut));
        EXPECT_EQ(r1, r2);
        if (cut < 16) {
            EXPECT_EQ(r1, 0);
            EXPECT_TRUE(this->Same(sample, fromSample));
            continue;
        }
        EXPECT_EQ(r1, this->desc.cutResult(cut));
        if (cut < this->desc.headerSize)
            continue; // read by another layout: see the hand-built cases
        if (r1 == 0) {
            EXPECT_TRUE(this->Same(sample, fromSample)) << "a refused record changes nothing";
            EXPECT_TRUE(this->Same(T(), fromDefaults)) << "a refused record changes nothing";
            continue;
        }
        const T expected = this->PartialSample(cut);
        EXPECT_TRUE(this->Same(expected, fromSample)) << "fields past the cut must be defaults";
        EXPECT_TRUE(this->Same(expected, fromDefaults)) << "fields before the cut must be read";
    }
}

TYPED_TEST_P(CurveRecordConformance, RefusesEveryOtherIdAndLeavesTheObjectUnchanged) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const T sample = this->Sample();
    T probe;
    const BYTE* ownId = static_cast<IKvState&>(probe).GetStateId();
    int tried = 0;
    for (const auto& named : KvStateIds::All()) {
        if (named.id->Matches(ownId))
            continue;
        for (const auto& form : {named.id->stored, named.id->alternate}) {
            T target(sample);
            EXPECT_EQ(ReadRecord(target, WithId(full, form)), 0) << named.name;
            EXPECT_TRUE(this->Same(sample, target)) << named.name;
            ++tried;
        }
    }
    EXPECT_GT(tried, 80);
    for (int bit = 0; bit < 128; ++bit) {
        Bytes bent = full;
        bent[bit / 8] ^= static_cast<BYTE>(1u << (bit % 8));
        T target(sample);
        EXPECT_EQ(ReadRecord(target, bent), 0) << "id bit " << bit;
        EXPECT_TRUE(this->Same(sample, target)) << "id bit " << bit;
    }
}

TYPED_TEST_P(CurveRecordConformance, AcceptsBothFormsOfItsOwnId) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const KvStateId* own = nullptr;
    for (const auto& named : KvStateIds::All())
        if (std::equal(named.id->stored.begin(), named.id->stored.end(), full.begin()))
            own = named.id;
    ASSERT_NE(own, nullptr) << "the record's id is missing from KvStateIds::All()";
    T viaAlternate;
    EXPECT_EQ(ReadRecord(viaAlternate, WithId(full, own->alternate)), static_cast<int>(full.size()));
    EXPECT_TRUE(this->Same(this->Sample(), viaAlternate));
}

TYPED_TEST_P(CurveRecordConformance, HandlesVersionsItDoesNotRead) {
    using T = typename TestFixture::T;
    const Bytes full = this->SampleRecord();
    const T sample = this->Sample();
    ASSERT_FALSE(this->desc.unknownVersions.empty());
    for (WORD version : this->desc.unknownVersions) {
        SCOPED_TRACE("version " + std::to_string(version));
        const Bytes bytes = this->desc.withVersion(full, version);
        T fromSample(sample), fromDefaults;
        EXPECT_EQ(ReadRecord(fromSample, bytes), this->desc.unknownResult);
        EXPECT_EQ(ReadRecord(fromDefaults, bytes), this->desc.unknownResult);
        EXPECT_TRUE(this->Same(sample, fromSample)) << "nothing is read";
        // A record that is stepped over still names its channel.
        EXPECT_TRUE(this->Same(this->desc.unknownResult ? this->PartialSample(20) : T(), fromDefaults));
    }
}

TYPED_TEST_P(CurveRecordConformance, ReadsHandBuiltRecords) {
    using T = typename TestFixture::T;
    for (const auto& c : this->desc.cases) {
        SCOPED_TRACE(c.name);
        T fromDefaults;
        T fromSample = this->Sample();
        EXPECT_EQ(ReadRecord(fromDefaults, c.bytes), c.expectedResult);
        EXPECT_EQ(ReadRecord(fromSample, c.bytes), c.expectedResult);
        if (c.expectedResult == 0) {
            EXPECT_TRUE(this->Same(T(), fromDefaults));
            EXPECT_TRUE(this->Same(this->Sample(), fromSample));
        } else {
            EXPECT_TRUE(this->Same(c.expected(), fromDefaults));
            EXPECT_TRUE(this->Same(c.expected(), fromSample));
        }
    }
}

TYPED_TEST_P(CurveRecordConformance, RoundTripsAndRewritesTheSameBytes) {
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
        EXPECT_TRUE(this->Same(object, read));
        EXPECT_EQ(HexText(WriteRecord(read)), HexText(first));
    }
}

TYPED_TEST_P(CurveRecordConformance, CopiesAndComparesEveryStoredField) {
    using T = typename TestFixture::T;
    const T sample = this->Sample();
    const T copied(sample);
    EXPECT_TRUE(this->Same(sample, copied));
    T assigned;
    assigned = sample;
    EXPECT_TRUE(this->Same(this->desc.assigned ? this->desc.assigned(T(), sample) : sample, assigned));
    T self(sample);
    T& alias = self;
    self = alias;
    EXPECT_TRUE(this->Same(sample, self)) << "assigning an object to itself keeps its settings";
    EXPECT_FALSE(this->desc.same(sample, T()));
    for (const auto& f : this->desc.fields) {
        if (!f.copy)
            continue;
        T one;
        f.copy(one, sample);
        EXPECT_FALSE(this->desc.same(one, T()))
            << "comparison misses " << f.name << " (or the sample leaves it at its default)";
    }
}

TYPED_TEST_P(CurveRecordConformance, WritesTheDefaultRecordByteForByte) {
    using T = typename TestFixture::T;
    T defaults;
    EXPECT_EQ(HexText(WriteRecord(defaults)), HexText(this->desc.defaultRecord));
    T read(this->Sample());
    EXPECT_EQ(ReadRecord(read, this->desc.defaultRecord), static_cast<int>(this->desc.defaultRecord.size()));
    EXPECT_TRUE(this->Same(T(), read));
}

REGISTER_TYPED_TEST_SUITE_P(CurveRecordConformance, FieldsDescribeTheWholeRecord,
                            SizeQueriesAgreeWithTheWrittenRecord, WritesWholeFieldsOnlyAtEveryBufferSize,
                            ReadsACutRecordUpToTheCut, RefusesEveryOtherIdAndLeavesTheObjectUnchanged,
                            AcceptsBothFormsOfItsOwnId, HandlesVersionsItDoesNotRead, ReadsHandBuiltRecords,
                            RoundTripsAndRewritesTheSameBytes, CopiesAndComparesEveryStoredField,
                            WritesTheDefaultRecordByteForByte);

} // namespace kvtest
