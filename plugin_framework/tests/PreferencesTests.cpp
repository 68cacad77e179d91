#include "plugin_framework/TKorvelRegServPrefs.h"
#include "plugin_framework/TXMLFilePreferences.h"

#include "platform/host/CHostRegistryService.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr KvwResult kRefused = 0x1101;

std::string Narrow(const TStringA& text) {
    return std::string(static_cast<const char*>(text));
}
std::wstring Wide(const TString& text) {
    return std::wstring(static_cast<const wchar_t*>(text));
}
std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(RegistryServicePrefs, KeyPathsSplitAtTheirLastSlash) {
    const struct {
        const wchar_t* path;
        const char* key;
        const char* name;
    } cases[] = {
        {L"PrintPI\\index_print\\easy\\nb_cols", "PrintPI\\index_print\\easy\\nb_cols", "Default"},
        {L"PrintPI/margin", "PrintPI", "margin"},
        {L"PrintPI/layout/rows", "PrintPI/layout", "rows"},
        {L"Mail/", "Mail", ""},
        {L"", "", "Default"},
    };
    for (const auto& c : cases) {
        TStringA key, name;
        TKorvelRegServPrefs::SplitKey(c.path, key, name);
        EXPECT_EQ(Narrow(key), c.key) << Utf::WideToUtf8(c.path);
        EXPECT_EQ(Narrow(name), c.name) << Utf::WideToUtf8(c.path);
    }
}

class RegistryServiceBackend : public ::testing::Test {
protected:
    void SetUp() override { m_prefs.SetService(&m_service); }

    CHostRegistryService m_service;
    TKorvelRegServPrefs m_prefs;
};

TEST_F(RegistryServiceBackend, ValuesRoundTripUnderTheSplitKeyAndEveryKeyIsClosed) {
    const std::wstring text = L"Gr\u00fc\u00dfe \u65e5\u672c \u20ac";
    ASSERT_TRUE(m_prefs.SetString(L"Mail/layout/caption", text.c_str()));
    EXPECT_EQ(m_service.Text("Mail/layout", "caption"), Utf::WideToUtf8(text)) << "stored as UTF-8";
    TString back;
    ASSERT_TRUE(m_prefs.GetString(L"Mail/layout/caption", back));
    EXPECT_EQ(Wide(back), text);

    ASSERT_TRUE(m_prefs.SetLong(L"PrintPI\\nb_cols", -7));
    EXPECT_EQ(m_service.Text("PrintPI\\nb_cols", "Default"), "-7");
    ASSERT_TRUE(m_prefs.SetDouble(L"PrintPI/margin", 2.5));
    EXPECT_EQ(m_service.Text("PrintPI", "margin"), "2.500000");
    EXPECT_EQ(m_service.OpenKeys(), 0u);
    EXPECT_TRUE(m_prefs.Open());
    EXPECT_EQ(m_service.Commits(), 1);
}

TEST_F(RegistryServiceBackend, RealNumbersIgnoreTheUsersLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    // A locale with a decimal comma, when the machine has one; the C locale otherwise.
    const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    ASSERT_TRUE(m_prefs.SetDouble(L"Opts/zoom", 0.25));
    double zoom = 0;
    m_service.PutText("Opts", "ratio", "1.75");
    EXPECT_TRUE(m_prefs.GetDouble(L"Opts/ratio", &zoom));
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(m_service.Text("Opts", "zoom"), "0.250000") << (comma ? "under a comma locale" : "");
    EXPECT_EQ(zoom, 1.75);
}

TEST_F(RegistryServiceBackend, WholeNumbersParseTheirLeadingDigitsWithinThirtyTwoBits) {
    const struct {
        const char* stored;
        LONG expected;
    } cases[] = {
        {"12abc", 12},
        {"abc", 555},
        {"99999999999", 555},
        {"-2147483648", INT32_MIN},
        {"2147483647", INT32_MAX},
        {"2147483648", 555},
        {"  42", 42},
        {"", 555},
    };
    for (const auto& c : cases) {
        m_service.PutText("Opts", "n", c.stored);
        LONG value = 555;
        EXPECT_TRUE(m_prefs.GetLong(L"Opts/n", &value)) << c.stored << ": a text that is read answers true";
        EXPECT_EQ(value, c.expected) << c.stored;
    }
    LONG value = 555;
    EXPECT_FALSE(m_prefs.GetLong(L"Opts/missing", &value));
    EXPECT_EQ(value, 555);
}

TEST_F(RegistryServiceBackend, EveryFailingEntryAnswersFalseAndKeepsTheCallersValue) {
    m_service.PutText("Opts", "text", "stored");
    const BYTE bytes[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(m_prefs.SetBinary(L"Opts/bytes", bytes, sizeof(bytes)));
    for (CHostRegistryService::Entry entry : CHostRegistryService::kEntries) {
        m_service.FailEntry(entry, kRefused);
        const bool opens = entry == CHostRegistryService::kOpenKey;
        const bool readsText = opens || entry == CHostRegistryService::kGetText;
        const bool readsBytes = opens || entry == CHostRegistryService::kGetBinary;
        const bool creates = entry == CHostRegistryService::kCreateKey;
        const bool writesText = creates || entry == CHostRegistryService::kSetText;
        const bool writesBytes = creates || entry == CHostRegistryService::kSetBinary;
        TString text = L"default";
        EXPECT_EQ(m_prefs.GetString(L"Opts/text", text), !readsText) << entry;
        EXPECT_EQ(Wide(text), readsText ? L"default" : L"stored") << entry;
        BYTE* buffer = reinterpret_cast<BYTE*>(1);
        DWORD size = 99;
        const bool gotBinary = m_prefs.GetBinary(L"Opts/bytes", buffer, size);
        EXPECT_EQ(gotBinary, !readsBytes) << entry;
        if (gotBinary) {
            EXPECT_EQ(size, sizeof(bytes));
            delete[] buffer;
        } else {
            EXPECT_EQ(buffer, nullptr) << entry;
            EXPECT_EQ(size, 0u) << entry;
        }
        EXPECT_EQ(m_prefs.SetString(L"Opts/other", L"x"), !writesText) << entry;
        EXPECT_EQ(m_prefs.SetBinary(L"Opts/more", bytes, 2), !writesBytes) << entry;
        EXPECT_EQ(m_prefs.Open(), entry != CHostRegistryService::kCommit) << entry;
        EXPECT_EQ(m_service.OpenKeys(), 0u) << entry;
        m_service.ClearFailures();
    }
}

TEST_F(RegistryServiceBackend, BinaryValuesComeBackInANewArray) {
    const BYTE bytes[] = {0, 0xFF, 7};
    ASSERT_TRUE(m_prefs.SetBinary(L"Opts/bin", bytes, sizeof(bytes)));
    BYTE* buffer = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(m_prefs.GetBinary(L"Opts/bin", buffer, size));
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 0xFF);
    EXPECT_EQ(buffer[2], 7);
    delete[] buffer;
    EXPECT_FALSE(m_prefs.GetBinary(L"Opts/absent", buffer, size));
    EXPECT_EQ(buffer, nullptr);
}

// A service whose second binary read fails, or reports more than the size it gave first.
class SecondReadService : public CHostRegistryService {
public:
    KvwResult GetBinary(const char* name, BYTE* buffer, DWORD bufferSize, DWORD* size) override {
        if (!buffer)
            return CHostRegistryService::GetBinary(name, buffer, bufferSize, size);
        if (failSecond)
            return kRefused;
        const KvwResult result = CHostRegistryService::GetBinary(name, buffer, bufferSize, size);
        *size = bufferSize + 100;
        return result;
    }
    bool failSecond = true;
};

TEST(RegistryServicePrefsBinary, AFailedSecondReadGivesNothingAndTheSizeNeverExceedsTheArray) {
    SecondReadService service;
    TKorvelRegServPrefs prefs;
    prefs.SetService(&service);
    const BYTE bytes[] = {4, 5, 6, 7};
    ASSERT_TRUE(prefs.SetBinary(L"Opts/bin", bytes, sizeof(bytes)));
    BYTE* buffer = nullptr;
    DWORD size = 0;
    EXPECT_FALSE(prefs.GetBinary(L"Opts/bin", buffer, size));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    service.failSecond = false;
    ASSERT_TRUE(prefs.GetBinary(L"Opts/bin", buffer, size));
    EXPECT_EQ(size, sizeof(bytes));
    EXPECT_EQ(buffer[3], 7);
    delete[] buffer;
    EXPECT_EQ(service.OpenKeys(), 0u);
}

TEST(RegistryServicePrefsWithoutService, AnswersFalseAndHoldsOneReference) {
    TKorvelRegServPrefs prefs;
    TString text = L"kept";
    EXPECT_FALSE(prefs.HasService());
    EXPECT_FALSE(prefs.GetString(L"a/b", text));
    EXPECT_FALSE(prefs.SetString(L"a/b", L"c"));
    EXPECT_FALSE(prefs.Open());
    EXPECT_EQ(Wide(text), L"kept");
    CHostRegistryService first, second;
    prefs.SetService(&first);
    prefs.SetService(&first);
    EXPECT_EQ(first.HeldByModules(), 1);
    prefs.SetService(&second);
    EXPECT_EQ(first.HeldByModules(), 0);
    EXPECT_EQ(second.HeldByModules(), 1);
    prefs.SetService(nullptr);
    EXPECT_EQ(second.HeldByModules(), 0);
}

class XmlFileBackend : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(utlStartup(), 1); }
    void TearDown() override { utlShutdown(); }
    std::wstring Path(const std::string& name) const { return Utf::Utf8ToWide(m_folder.File(name)); }

    kvtest::TempFolder m_folder;
};

TEST_F(XmlFileBackend, AMissingFileOpensOnlyWhenCreated) {
    TXMLFilePreferences prefs;
    EXPECT_FALSE(prefs.Open(Path("options.xml").c_str(), false));
    EXPECT_FALSE(prefs.IsOpen());
    EXPECT_FALSE(prefs.Open(nullptr, true));
    ASSERT_TRUE(prefs.Open(Path("options.xml").c_str(), true));
    ASSERT_TRUE(prefs.SetString(L"print/margin", L"12"));
    ASSERT_TRUE(prefs.SetString(L"print/title", L"\u00c9t\u00e9 & <hiver>"));
    ASSERT_TRUE(prefs.Save());
    prefs.Close();

    TXMLFilePreferences again;
    ASSERT_TRUE(again.Open(Path("options.xml").c_str(), false));
    LONG margin = 0;
    EXPECT_TRUE(again.GetLong(L"print/margin", &margin));
    EXPECT_EQ(margin, 12);
    TString title;
    EXPECT_TRUE(again.GetString(L"print/title", title));
    EXPECT_EQ(Wide(title), L"\u00c9t\u00e9 & <hiver>");
    BYTE* buffer = nullptr;
    DWORD size = 1;
    EXPECT_FALSE(again.GetBinary(L"print/margin", buffer, size));
    EXPECT_FALSE(again.SetBinary(L"print/margin", nullptr, 0));
}

TEST_F(XmlFileBackend, ValuesAroundTheFirstBufferAreReadWhole) {
    std::string xml = "<root>";
    for (int length : {254, 255, 256, 300})
        xml += "<v" + std::to_string(length) + ">" + std::string(length, 'a' + length % 26) + "</v" +
               std::to_string(length) + ">";
    xml += "<item/><item/><item/></root>";
    m_folder.Write("long.xml", xml);
    TXMLFilePreferences prefs;
    ASSERT_TRUE(prefs.Open(Path("long.xml").c_str(), false));
    for (int length : {254, 255, 256, 300}) {
        TString value;
        ASSERT_TRUE(prefs.GetString(Utf::Utf8ToWide("v" + std::to_string(length)).c_str(), value)) << length;
        EXPECT_EQ(Wide(value), std::wstring(static_cast<std::size_t>(length), L'a' + length % 26)) << length;
    }
    LONG count = 0;
    EXPECT_TRUE(prefs.GetLong(L"count(item)", &count));
    EXPECT_EQ(count, 3);
    TString kept = L"kept";
    EXPECT_FALSE(prefs.GetString(L"nothing/here", kept));
    EXPECT_EQ(Wide(kept), L"kept");
}

TEST_F(XmlFileBackend, ACorruptFileIsNotOpenedEvenWithCreateAndStaysAsItWas) {
    const std::string corrupt = "<root><print>12</prin";
    const std::string path = m_folder.Write("corrupt.xml", corrupt);
    TXMLFilePreferences prefs;
    EXPECT_FALSE(prefs.Open(Path("corrupt.xml").c_str(), true));
    EXPECT_FALSE(prefs.Save());
    EXPECT_FALSE(prefs.SetString(L"print", L"1"));
    prefs.Close();
    EXPECT_EQ(ReadFile(path), corrupt);
}

} // namespace
