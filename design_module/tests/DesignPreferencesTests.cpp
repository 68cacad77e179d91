#include "design_module/TKorvelDbPrefs.h"

#include "platform/host/CHostRecordDatabase.h"
#include "platform/host/CHostServices.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

constexpr KvwItemId kItem = 0x0202000000000007ull;
constexpr DWORD kOtherKind = 0x1500;

// The host callback has no context word: the fixture's database answers it.
CHostRecordDatabase* g_database = nullptr;

KvwResult DatabaseCallback(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                           KvwWord p7, KvwWord p8) {
    return g_database->OnRequest(id, {p1, p2, p3, p4, p5, p6, p7, p8});
}

// A text as the preferences store it: UTF-16 units, low byte first, and a terminating zero unit.
std::vector<BYTE> StoredText(std::u16string_view text) {
    std::vector<BYTE> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

class DesignPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_database = &m_database;
        m_items.SetRecordDatabase(&m_database);
        m_prefs.SetHost(&DatabaseCallback, &m_items);
        m_prefs.SetItem(KvwItemIdLow(kItem), KvwItemIdHigh(kItem));
    }
    void TearDown() override {
        g_database = nullptr;
        m_prefs.Release();
    }

    KvwItemId Seed(const std::string& name, DWORD kind, LONG value, std::vector<BYTE> data = {}) {
        const KvwItemId id = m_database.Add({name, kind, value, std::move(data)});
        m_database.Attach(kItem, id);
        return id;
    }
    CHostRecordDatabase::Record RecordOf(KvwItemId id) {
        CHostRecordDatabase::Record record;
        EXPECT_TRUE(m_database.Find(id, &record));
        return record;
    }

    CHostRecordDatabase m_database;
    CHostItemService m_items;
    // Reference-counted: released, not destroyed, at the end.
    TKorvelDbPrefs& m_prefs = *new TKorvelDbPrefs;
};

struct TextCase {
    const wchar_t* text;
    std::vector<BYTE> stored;
};

TEST_F(DesignPreferencesTest, TextsAreStoredAsUtf16WithTheirTerminatorAndReadBack) {
    const std::vector<TextCase> cases = {
        {L"", {0, 0}},
        {L"a", {'a', 0, 0, 0}},
        {L"C:\\L\u00e9.ltf", StoredText(u"C:\\L\u00e9.ltf")},
        {L"\U0001F600", {0x3D, 0xD8, 0x00, 0xDE, 0, 0}},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        CHostRecordDatabase fresh;
        g_database = &fresh;
        m_items.SetRecordDatabase(&fresh);
        ASSERT_TRUE(m_prefs.SetString(L"Saved_Ltf_Path", c.text));
        const KvwItemIdList attached = fresh.Attached(kItem);
        ASSERT_EQ(attached.size(), 1u);
        CHostRecordDatabase::Record record;
        ASSERT_TRUE(fresh.Find(attached[0], &record));
        EXPECT_EQ(record.name, "Saved_Ltf_Path");
        EXPECT_EQ(record.kind, TKorvelDbPrefs::kRecordKind);
        EXPECT_EQ(record.data, c.stored);
        TString read(L"old");
        ASSERT_TRUE(m_prefs.GetString(L"Saved_Ltf_Path", read));
        EXPECT_EQ(std::wstring(read), std::wstring(c.text));
    }
    m_items.SetRecordDatabase(&m_database);
    g_database = &m_database;
}

TEST_F(DesignPreferencesTest, StoredTextsOfOddShapeAreReadSafely) {
    struct OddCase {
        const char* what;
        std::vector<BYTE> data;
        std::wstring expected;
    };
    const std::vector<OddCase> cases = {
        {"no terminator", {'a', 0, 'b', 0}, L"ab"},           {"odd length", {'a', 0, 'b'}, L"a"},
        {"early terminator", {'a', 0, 0, 0, 'b', 0}, L"a"},   {"empty block", {}, L""},
        {"lone surrogate", {0x3D, 0xD8, 'x', 0}, L"\uFFFDx"},
    };
    for (const OddCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string key = std::string("odd ") + c.what;
        Seed(key, TKorvelDbPrefs::kRecordKind, 0, c.data);
        TString read;
        ASSERT_TRUE(m_prefs.GetString(TString(key.c_str()), read));
        EXPECT_EQ(std::wstring(read), c.expected);
    }
}

TEST_F(DesignPreferencesTest, BinaryBlocksRoundTripAndReplaceInPlace) {
    const std::array<BYTE, 5> first = {1, 2, 3, 4, 5};
    const std::array<BYTE, 2> second = {9, 8};
    ASSERT_TRUE(m_prefs.SetBinary(L"blob", first.data(), first.size()));
    const KvwItemId id = m_database.Attached(kItem).at(0);
    ASSERT_TRUE(m_prefs.SetBinary(L"blob", second.data(), second.size()));
    EXPECT_EQ(m_database.Attached(kItem), KvwItemIdList{id}) << "the record is replaced, not added";

    BYTE* buffer = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(m_prefs.GetBinary(L"blob", buffer, size));
    ASSERT_EQ(size, 2u);
    EXPECT_EQ(std::vector<BYTE>(buffer, buffer + size), std::vector<BYTE>(second.begin(), second.end()));
    delete[] buffer;

    EXPECT_FALSE(m_prefs.GetBinary(L"missing", buffer, size));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(DesignPreferencesTest, LongsAreTheRecordsOwnValueAndSettingMakesANewRecord) {
    LONG value = 0;
    EXPECT_FALSE(m_prefs.GetLong(L"count", &value));
    ASSERT_TRUE(m_prefs.SetLong(L"count", -5));
    const KvwItemId first = m_database.Attached(kItem).at(0);
    EXPECT_EQ(RecordOf(first).value, -5);
    EXPECT_TRUE(RecordOf(first).data.empty());

    ASSERT_TRUE(m_prefs.SetLong(L"count", 0x7FFFFFFF));
    const KvwItemIdList attached = m_database.Attached(kItem);
    ASSERT_EQ(attached.size(), 1u);
    EXPECT_NE(attached[0], first) << "the record id changes";
    EXPECT_FALSE(m_database.Find(first, nullptr)) << "the old record is deleted";
    ASSERT_TRUE(m_prefs.GetLong(L"count", &value));
    EXPECT_EQ(value, 0x7FFFFFFF);
}

TEST_F(DesignPreferencesTest, TheFirstRecordOfTheNameAndKindIsTheKeys) {
    const KvwItemId stranger = Seed("key", kOtherKind, 11, StoredText(u"other"));
    const KvwItemId first = Seed("key", TKorvelDbPrefs::kRecordKind, 1, StoredText(u"first"));
    const KvwItemId second = Seed("key", TKorvelDbPrefs::kRecordKind, 2, StoredText(u"second"));
    Seed("keys", TKorvelDbPrefs::kRecordKind, 3);

    LONG value = 0;
    ASSERT_TRUE(m_prefs.GetLong(L"key", &value));
    EXPECT_EQ(value, 1);
    TString text;
    ASSERT_TRUE(m_prefs.GetString(L"key", text));
    EXPECT_EQ(std::wstring(text), L"first");

    ASSERT_TRUE(m_prefs.SetString(L"key", L"new"));
    EXPECT_EQ(RecordOf(first).data, StoredText(u"new"));
    EXPECT_EQ(RecordOf(second).data, StoredText(u"second"));
    EXPECT_EQ(RecordOf(stranger).data, StoredText(u"other"));
}

TEST_F(DesignPreferencesTest, ARecordOfAnotherKindIsIgnoredAndSettingAddsOne) {
    Seed("key", kOtherKind, 11, StoredText(u"other"));
    TString text(L"kept");
    EXPECT_FALSE(m_prefs.GetString(L"key", text));
    EXPECT_EQ(std::wstring(text), L"kept");
    ASSERT_TRUE(m_prefs.SetString(L"key", L"mine"));
    const KvwItemIdList attached = m_database.Attached(kItem);
    ASSERT_EQ(attached.size(), 2u);
    EXPECT_EQ(RecordOf(attached[1]).kind, TKorvelDbPrefs::kRecordKind);
}

TEST_F(DesignPreferencesTest, ItemZeroSendsNothing) {
    Seed("key", TKorvelDbPrefs::kRecordKind, 1);
    m_prefs.SetItem(0, 0);
    TString text;
    BYTE* buffer = nullptr;
    DWORD size = 0;
    LONG value = 0;
    const BYTE byte = 1;
    EXPECT_FALSE(m_prefs.GetString(L"key", text));
    EXPECT_FALSE(m_prefs.SetString(L"key", L"x"));
    EXPECT_FALSE(m_prefs.GetBinary(L"key", buffer, size));
    EXPECT_FALSE(m_prefs.SetBinary(L"key", &byte, 1));
    EXPECT_FALSE(m_prefs.GetLong(L"key", &value));
    EXPECT_FALSE(m_prefs.SetLong(L"key", 2));
    EXPECT_TRUE(m_database.Requests().empty());
    EXPECT_EQ(m_database.RecordCount(), 1u);
}

TEST_F(DesignPreferencesTest, ARefusedRequestInSetLongKeepsTheOldValue) {
    for (DWORD refused : {KvwRecordRequest::kCreate, KvwRecordRequest::kAttach, KvwRecordRequest::kDetach}) {
        SCOPED_TRACE(refused);
        CHostRecordDatabase fresh;
        g_database = &fresh;
        m_items.SetRecordDatabase(&fresh);
        ASSERT_TRUE(m_prefs.SetLong(L"count", 4));
        fresh.Withhold(refused);
        EXPECT_FALSE(m_prefs.SetLong(L"count", 5));
        fresh.Restore();
        LONG value = 0;
        ASSERT_TRUE(m_prefs.GetLong(L"count", &value));
        EXPECT_EQ(value, 4);
        EXPECT_EQ(fresh.Attached(kItem).size(), 1u);
        EXPECT_EQ(fresh.RecordCount(), 1u) << "no record is left behind";
    }
    m_items.SetRecordDatabase(&m_database);
    g_database = &m_database;
}

TEST_F(DesignPreferencesTest, ARefusedDeleteInSetLongKeepsTheNewValueAndReportsTheFailure) {
    ASSERT_TRUE(m_prefs.SetLong(L"count", 4));
    m_database.Withhold(KvwRecordRequest::kDelete);
    EXPECT_FALSE(m_prefs.SetLong(L"count", 5));
    m_database.Restore();
    LONG value = 0;
    ASSERT_TRUE(m_prefs.GetLong(L"count", &value));
    EXPECT_EQ(value, 5);
    EXPECT_EQ(m_database.Attached(kItem).size(), 1u);
}

TEST_F(DesignPreferencesTest, ARefusedReadOrReplaceAnswersFalse) {
    ASSERT_TRUE(m_prefs.SetString(L"key", L"old"));
    m_database.Withhold(KvwRecordRequest::kRead);
    TString text;
    EXPECT_FALSE(m_prefs.GetString(L"key", text));
    m_database.Restore();
    m_database.Withhold(KvwRecordRequest::kReplace);
    EXPECT_FALSE(m_prefs.SetString(L"key", L"new"));
    m_database.Restore();
    ASSERT_TRUE(m_prefs.GetString(L"key", text));
    EXPECT_EQ(std::wstring(text), L"old");
}

TEST_F(DesignPreferencesTest, WithoutAHostEverythingFails) {
    m_prefs.SetHost(nullptr, nullptr);
    TString text;
    EXPECT_FALSE(m_prefs.GetString(L"key", text));
    EXPECT_FALSE(m_prefs.SetString(L"key", L"x"));
    EXPECT_EQ(m_database.RecordCount(), 0u);
}

} // namespace
