#include "RecordConformance.h"

#include "platform/quasel/CPravonTagControl.h"
#include "platform/win/WinRegistry.h"
#include "rawlib/settings/CKvLensInformation.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using kvtest::Bytes;
using kvtest::RecordBytes;
using Info = CKvLensInformation;

constexpr int kLength = Info::kTableLength;

// A value that tells table and entry apart: table t, entry i.
double Entry(int t, int i) {
    return t + 1 + i / 8192.0;
}

// A whole lens record built field by field, independently of the writer.
Bytes HandBuiltRecord(BYTE model) {
    RecordBytes r(KvStateIds::kLensInformation, 2);
    r.Length().U8(model);
    for (int i = 0; i < kLength; ++i)
        r.F64(Entry(0, i)).F64(Entry(1, i));
    for (int i = 0; i < kLength; ++i)
        r.F64(Entry(2, i)).F64(Entry(3, i));
    return r;
}

int Read(Info& info, const Bytes& bytes) {
    return kvtest::ReadRecord(info, bytes);
}

// An object with all four tables, as a lens file leaves it.
Info Loaded() {
    Info info;
    EXPECT_EQ(Read(info, HandBuiltRecord(0x80)), Info::kRecordSize);
    return info;
}

bool HasNoTables(const Info& info) {
    for (int t = 0; t < Info::kTableCount; ++t)
        if (info.GetTable(static_cast<Info::Table>(t)))
            return false;
    return true;
}

TEST(LensInformation, AWholeRecordFillsTheFourTablesFromTheInterleavedPairs) {
    Info info;
    EXPECT_EQ(Read(info, HandBuiltRecord(0x80)), 131095);
    EXPECT_EQ(info.GetLensModel(), 0x80);
    const double *a, *b, *c, *d;
    info.GetTables(&a, &b, &c, &d);
    ASSERT_TRUE(a && b && c && d);
    const double* tables[] = {a, b, c, d};
    for (int t = 0; t < 4; ++t)
        for (int i : {0, 1, 2047, 4094, 4095})
            EXPECT_EQ(tables[t][i], Entry(t, i)) << "table " << t << " entry " << i;
    EXPECT_TRUE(info.HasLensData());
}

TEST(LensInformation, WritesTheRecordItReads) {
    Info info = Loaded();
    EXPECT_EQ(info.GetStateSize(), 22 + 131073);
    EXPECT_EQ(kvtest::HexText(kvtest::WriteRecord(info)), kvtest::HexText(HandBuiltRecord(0x80)));
}

TEST(LensInformation, WritesOnlyWholeFieldsIntoShortBuffers) {
    Info info = Loaded();
    const Bytes whole = HandBuiltRecord(0x80);
    struct Case {
        int size;
        int written;         // bytes of the whole record that land in the buffer
        std::int64_t length; // the length field, or -1 when it is not written
    };
    const Case cases[] = {{15, 0, -1}, {16, 16, -1}, {18, 18, -1}, {21, 18, -1},
                          {22, 22, 4}, {23, 23, 5},  {30, 23, 5},  {31, 31, 13}};
    for (const Case& c : cases) {
        Bytes buffer(40, 0xCC);
        EXPECT_EQ(info.WriteState(buffer.data(), c.size), Info::kRecordSize) << c.size;
        Bytes expected(40, 0xCC);
        std::copy(whole.begin(), whole.begin() + c.written, expected.begin());
        if (c.length >= 0)
            KvPutValue(expected.data() + 18, static_cast<std::uint64_t>(c.length), 4);
        EXPECT_EQ(kvtest::HexText(buffer), kvtest::HexText(expected)) << "buffer of " << c.size << " bytes";
    }
}

TEST(LensInformation, MissingTablesAreWrittenAsZeros) {
    Info info;
    info.SetLensModel(0x80);
    std::vector<double> ramp(kLength);
    for (int i = 0; i < kLength; ++i)
        ramp[i] = Entry(2, i);
    ASSERT_TRUE(info.SetTable(Info::kTableC, ramp.data()));
    Info read;
    ASSERT_EQ(Read(read, kvtest::WriteRecord(info)), Info::kRecordSize);
    EXPECT_EQ(read.GetTable(Info::kTableC)[4095], Entry(2, 4095));
    for (Info::Table t : {Info::kTableA, Info::kTableB, Info::kTableD})
        for (int i : {0, 4095})
            EXPECT_EQ(read.GetTable(t)[i], 0.0);
}

TEST(LensInformation, ARecordThatIsNotAWholeVersionTwoRecordEmptiesTheObject) {
    const Bytes whole = HandBuiltRecord(0x80);
    auto cut = [&](std::size_t n) { return Bytes(whole.begin(), whole.begin() + n); };
    auto longer = [&](std::size_t n) {
        Bytes b = whole;
        b.insert(b.end(), n, 0);
        return b;
    };
    auto lengthSays = [&](std::uint32_t length) {
        Bytes b = whole;
        KvPutValue(b.data() + 18, length, 4);
        return b;
    };
    const std::pair<const char*, Bytes> cases[] = {
        {"version 1", kvtest::WithVersion(whole, 1)},
        {"version 3", kvtest::WithVersion(whole, 3)},
        {"version 0", kvtest::WithVersion(whole, 0)},
        {"one byte short", cut(whole.size() - 1)},
        {"cut in the second pair", cut(70000)},
        {"the header and lens model only", cut(23)},
        {"no length field", cut(18)},
        {"one byte long", longer(1)},
        {"length field one short", lengthSays(131076)},
        {"length field zero", lengthSays(0)},
        {"length field of a longer file", lengthSays(0xFFFFFFFF)},
        {"version 1 of a header's size", RecordBytes(KvStateIds::kLensInformation, 1).Length()},
    };
    for (const auto& [name, bytes] : cases) {
        Info info = Loaded();
        EXPECT_EQ(Read(info, bytes), 0) << name;
        EXPECT_TRUE(HasNoTables(info)) << name;
        EXPECT_FALSE(info.HasLensData()) << name;
    }
}

TEST(LensInformation, AnotherRecordOrNoIdLeavesTheObjectAsItWas) {
    const Bytes whole = HandBuiltRecord(0x80);
    const std::pair<const char*, Bytes> cases[] = {
        {"another id", kvtest::WithId(whole, KvStateIds::kFisheye.stored)},
        {"fifteen bytes", Bytes(whole.begin(), whole.begin() + 15)},
        {"nothing", Bytes()},
    };
    for (const auto& [name, bytes] : cases) {
        Info info = Loaded();
        EXPECT_EQ(Read(info, bytes), 0) << name;
        EXPECT_TRUE(info.HasLensData()) << name;
        EXPECT_EQ(info.GetTable(Info::kTableD)[7], Entry(3, 7)) << name;
    }
}

TEST(LensInformation, AssignmentCopiesTheTablesTheOtherObjectHasAndNoMore) {
    Info source = Loaded();
    source.SetTable(Info::kTableB, nullptr);
    source.SetTable(Info::kTableD, nullptr);
    source.SetLensModel(0x42);
    Info target = Loaded();
    target = source;
    EXPECT_EQ(target.GetLensModel(), 0x42);
    ASSERT_NE(target.GetTable(Info::kTableA), nullptr);
    ASSERT_NE(target.GetTable(Info::kTableC), nullptr);
    EXPECT_NE(target.GetTable(Info::kTableA), source.GetTable(Info::kTableA)) << "copies, not shared";
    EXPECT_EQ(target.GetTable(Info::kTableA)[4095], Entry(0, 4095));
    EXPECT_EQ(target.GetTable(Info::kTableC)[1], Entry(2, 1));
    EXPECT_EQ(target.GetTable(Info::kTableB), nullptr) << "a table the source lacks stays absent";
    EXPECT_EQ(target.GetTable(Info::kTableD), nullptr);
    EXPECT_FALSE(target.HasLensData());

    Info& alias = target;
    target = alias;
    EXPECT_EQ(target.GetTable(Info::kTableA)[4095], Entry(0, 4095)) << "assigning to itself keeps the tables";

    target = Info();
    EXPECT_TRUE(HasNoTables(target));
}

// Records what the information tells its manager.
class RecordingManager : public Info::IMgr {
public:
    void Release(Info* information, int userCount) override { calls.emplace_back(information, userCount); }
    std::vector<std::pair<Info*, int>> calls;
};

TEST(LensInformation, TellsItsManagerTheUserCountAfterEveryChange) {
    RecordingManager manager;
    Info* info = new Info;
    info->SetManager(&manager);
    Info* first = info;
    Info* second = info;
    info->AddUser(&first);
    info->AddUser(&second);
    info->RemoveUser(&first);
    Info* stranger = info;
    info->RemoveUser(&stranger); // never registered
    EXPECT_EQ(manager.calls, (std::vector<std::pair<Info*, int>>{{info, 1}, {info, 2}, {info, 1}}));
    EXPECT_EQ(info->GetUserCount(), 1);
    delete info;
    EXPECT_EQ(second, nullptr) << "the registered user's pointer is emptied";
    EXPECT_NE(first, nullptr) << "an unregistered pointer is not touched";
}

TEST(LensInformation, DestructionEmptiesEveryRegisteredPointer) {
    Info* info = new Info;
    std::vector<Info*> slots(5, info);
    for (Info*& slot : slots)
        info->AddUser(&slot);
    info->AddUser(&slots[2]); // twice: both registrations go at once
    delete info;
    for (Info* slot : slots)
        EXPECT_EQ(slot, nullptr);
}

TEST(LensInformation, WithoutAManagerTheObjectGoesAtTheReleaseThreshold) {
    Info::ArmReleaseThreshold();
    Info::ArmReleaseThreshold();
    EXPECT_EQ(Info::GetReleaseThreshold(), 1) << "set once, to the same value";
    Info* info = new Info;
    Info* a = info;
    Info* b = info;
    Info* c = info;
    info->AddUser(&a);
    info->AddUser(&b);
    info->AddUser(&c);
    info->RemoveUser(&a);
    EXPECT_EQ(b, info) << "two users are above the threshold";
    EXPECT_EQ(info->GetUserCount(), 2);
    info->RemoveUser(&b);
    EXPECT_EQ(c, nullptr) << "down to one user: the object went and emptied the last pointer";
}

// Tags of a picture for the lens-model lookup.
class LensTags : public ::testing::Test {
protected:
    LensTags() : tags(new CPravonTagControl) {}
    ~LensTags() override { tags->Release(); }

    void LensData(const char* version, int at, BYTE model, ULONG size = 31) {
        std::vector<BYTE> bytes(size, 0x11);
        std::memcpy(bytes.data(), version, 4);
        if (at >= 0 && static_cast<ULONG>(at) < size)
            bytes[at] = model;
        ASSERT_PV_OK(tags->WriteTag(kKvLensDataTag, 7, size, bytes.data()));
    }
    void LensRange(std::vector<double> values) {
        std::vector<BYTE> bytes(values.size() * 8);
        std::memcpy(bytes.data(), values.data(), bytes.size()); // this target is little-endian, as tags are
        ASSERT_PV_OK(tags->WriteTag(kKvLensRangeTag, 12, static_cast<ULONG>(bytes.size()), bytes.data()));
    }

    CPravonTagControl* tags;
};

TEST_F(LensTags, NoTagsNameNoLens) {
    EXPECT_EQ(KvGetLensModelCode(nullptr), 0);
    EXPECT_EQ(KvGetLensModelCode(tags), 0);
}

TEST_F(LensTags, TheLensDataVersionSaysWhereTheModelIs) {
    LensData("0100", 6, 0x80);
    EXPECT_EQ(KvGetLensModelCode(tags), 0x80);
    EXPECT_EQ(tags->GetLastReadType(kKvLensDataTag), 0x108);
    LensData("0101", 11, 0x37);
    EXPECT_EQ(KvGetLensModelCode(tags), 0x37);
    LensData("0101", 6, 0x80);
    EXPECT_EQ(KvGetLensModelCode(tags), 0x11) << "version 0101 reads offset 11, not 6";
    LensRange({10.5, 10.5, 2.8, 2.8});
    LensData("0102", 6, 0x80);
    EXPECT_EQ(KvGetLensModelCode(tags), 0) << "an unknown version names no lens, whatever the lens range";
}

TEST_F(LensTags, WithoutLensDataTheFisheyeLensRangeNamesTheFisheyeLens) {
    LensRange({10.5, 10.5, 2.8, 2.8});
    EXPECT_EQ(KvGetLensModelCode(tags), 0x80);
    EXPECT_EQ(tags->GetLastReadType(kKvLensRangeTag), 0x100);
    LensData("0100", 6, 0x80, 30); // too short to be lens data: it cannot be read
    EXPECT_EQ(KvGetLensModelCode(tags), 0x80);
    const std::vector<double> others[] = {
        {10.5, 10.5, 2.8, 4.0}, {10.5, 17.0, 2.8, 2.8}, {10.0, 10.5, 2.8, 2.8}, {10.5, 10.5, 2.8000001, 2.8}};
    for (const auto& values : others) {
        LensRange(values);
        EXPECT_EQ(KvGetLensModelCode(tags), 0) << values[0] << " " << values[1] << " " << values[2];
    }
    LensRange({10.5, 10.5, 2.8}); // 24 bytes: shorter than the tag
    EXPECT_EQ(KvGetLensModelCode(tags), 0);
}

TEST(LensFilePath, OnlyTheFisheyeLensHasAFile) {
    kvtest::TempSystemRoot machine;
    CKvString path("unchanged");
    EXPECT_EQ(GetLensFilePath(path, 0x7F), -1);
    EXPECT_STREQ(path, "unchanged");
    EXPECT_EQ(GetLensFilePath(path, 0), -1);
    EXPECT_EQ(GetLensFilePath(path, 0x80), 0);
    EXPECT_STREQ(path, (machine.Path() + "/Common Files/Korvel/Profiles/Kv0080.lns").c_str());
}

TEST(LensFilePath, ALongFolderIsNeverCutShort) {
    kvtest::TempSystemRoot machine;
    const std::string folder = "/" + std::string(600, 'f');
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, nullptr,
                             0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "CommonFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>(folder.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    CKvString path;
    ASSERT_EQ(GetLensFilePath(path, 0x80), 0);
    EXPECT_STREQ(path, (folder + "/Korvel/Profiles/Kv0080.lns").c_str());
}

} // namespace
