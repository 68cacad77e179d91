#include "platform/davuzozi/davuzOzi.h"

#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace {

using kvtest::TempFolder;

std::wstring Wide(const std::string& path) {
    return Utf::Utf8ToWide(path);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class XmlDocument : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(utlStartup(), 1); }
    void TearDown() override { utlShutdown(); }

    UtlHandle Open(const std::string& path) {
        UtlHandle document = 0;
        EXPECT_EQ(utlCreateXmlDoc(Wide(path).c_str(), &document), 1) << path;
        return document;
    }
    // The value through a buffer of the given room; nothing when the call does not answer 1.
    static std::optional<std::wstring> Get(UtlHandle document, const wchar_t* key, LONG room = 4096) {
        std::wstring buffer(static_cast<std::size_t>(room), L'#');
        LONG size = room;
        if (utlGetXmlNodeValue(document, key, buffer.data(), &size) != 1)
            return std::nullopt;
        EXPECT_EQ(buffer[static_cast<std::size_t>(size - 1)], L'\0');
        return buffer.substr(0, static_cast<std::size_t>(size - 1));
    }
    static bool Set(UtlHandle document, const wchar_t* key, const std::wstring& value) {
        return utlSetXmlNodeValue(document, key, value.c_str()) == 1;
    }

    TempFolder m_folder;
};

TEST_F(XmlDocument, AnAbsentFileIsAnEmptyDocumentThatTheFirstSaveWrites) {
    const std::string path = m_folder.File("prefs.xml");
    UtlHandle document = Open(path);
    EXPECT_EQ(Get(document, L"anything"), std::nullopt);
    EXPECT_EQ(Get(document, L"count(*)"), L"0");
    std::ifstream absent(path);
    EXPECT_FALSE(absent.good()) << "opening writes nothing";

    ASSERT_TRUE(Set(document, L"units/current", L"mm"));
    ASSERT_EQ(utlSaveXmlDoc(document, nullptr), 1);
    ASSERT_EQ(utlReleaseHandle(document), 1);

    UtlHandle again = Open(path);
    EXPECT_EQ(Get(again, L"units/current"), L"mm");
    EXPECT_EQ(Get(again, L"name(/*)"), L"root");
}

TEST_F(XmlDocument, AFileThatDoesNotParseIsRefusedAndLeftAsItWas) {
    const std::string texts[] = {
        "<config><units>mm</units>",
        "not xml at all",
        "<?xml version=\"1.0\"?><!DOCTYPE config SYSTEM \"http://127.0.0.1:1/x.dtd\"><config/>",
        "<!DOCTYPE c [<!ENTITY e \"boom\">]><c>&e;</c>",
        "",
    };
    for (const std::string& text : texts) {
        const std::string path = m_folder.Write("corrupt.xml", text);
        UtlHandle document = 7;
        EXPECT_EQ(utlCreateXmlDoc(Wide(path).c_str(), &document), 0) << text;
        EXPECT_EQ(document, kUtlNoHandle);
        EXPECT_EQ(ReadAll(path), text);
    }
    UtlHandle none = 7;
    EXPECT_EQ(utlCreateXmlDoc(Wide(m_folder.Path()).c_str(), &none), 0) << "a folder is no document";
    EXPECT_EQ(utlCreateXmlDoc(nullptr, &none), 0);
    EXPECT_EQ(utlCreateXmlDoc(L"", &none), 0);
}

TEST_F(XmlDocument, AShortBufferAnswersZeroWithTheSizeNeededCountingTheTerminator) {
    UtlHandle document = Open(m_folder.File("values.xml"));
    const struct {
        std::size_t length;
        LONG room;
        bool fits;
    } cases[] = {
        {254, 255, true}, {255, 255, false}, {256, 255, false}, {300, 255, false},
        {255, 256, true}, {300, 301, true},  {300, 300, false}, {0, 1, true},
    };
    for (const auto& c : cases) {
        const std::wstring value(c.length, L'v');
        ASSERT_TRUE(Set(document, L"text", value));
        std::wstring buffer(static_cast<std::size_t>(c.room), L'#');
        LONG size = c.room;
        EXPECT_EQ(utlGetXmlNodeValue(document, L"text", buffer.data(), &size), c.fits ? 1 : 0) << c.length;
        EXPECT_EQ(size, static_cast<LONG>(c.length + 1)) << c.length;
        if (c.fits)
            EXPECT_EQ(buffer.substr(0, c.length + 1), value + L'\0');
        else
            EXPECT_EQ(buffer, std::wstring(static_cast<std::size_t>(c.room), L'#')) << "nothing copied";
    }
    ASSERT_TRUE(Set(document, L"text", std::wstring(300, L'v')));
    LONG size = 10;
    EXPECT_EQ(utlGetXmlNodeValue(document, L"text", nullptr, &size), 0) << "no buffer";
    EXPECT_EQ(size, 301);
    size = 10;
    wchar_t small[10];
    EXPECT_EQ(utlGetXmlNodeValue(document, L"missing", small, &size), 0);
    EXPECT_EQ(size, 0) << "nothing is needed for a node that is not there";
}

TEST_F(XmlDocument, PathsAreXPathFromTheRootElement) {
    const std::string path = m_folder.Write(
        "config.xml",
        std::string("<?xml version=\"1.0\"?>\n<config>\n"
                    "  <standard_layouts><nb_rows_cols>\n"
                    "    <layout><name>2 x 2</name><data>2x2</data></layout>\n"
                    "    <layout><name>3 x 4</name><data>3x4</data></layout>\n"
                    "    <layout><name>\xC3\xA9t\xC3\xA9 &amp; co</name><data>1x1</data></layout>\n"
                    "  </nb_rows_cols></standard_layouts>\n"
                    "  <printer_types><printer_type res_dpi=\"300x600\"/></printer_types>\n"
                    "</config>\n"));
    UtlHandle document = Open(path);
    const struct {
        const wchar_t* key;
        std::optional<std::wstring> value;
    } cases[] = {
        {L"count(standard_layouts/nb_rows_cols/layout)", L"3"},
        {L"count(standard_layouts/image_size/layout)", L"0"},
        {L"standard_layouts/nb_rows_cols/layout[2]/name", L"3 x 4"},
        {L"standard_layouts/nb_rows_cols/layout[3]/name", L"\u00E9t\u00E9 & co"},
        {L"standard_layouts/nb_rows_cols/layout[4]/name", std::nullopt},
        {L"printer_types/printer_type/@res_dpi", L"300x600"},
        {L"count(printer_types/printer_type) > 0", L"true"},
        {L"concat(standard_layouts/nb_rows_cols/layout[1]/data, '!')", L"2x2!"},
        {L"config", std::nullopt},
        {L"standard_layouts/[", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Get(document, c.key), c.value) << Utf::WideToUtf8(c.key);
}

TEST_F(XmlDocument, SettingMakesMissingElementsOnlyWhereTheyWouldComeNext) {
    UtlHandle document = Open(m_folder.File("set.xml"));
    ASSERT_TRUE(Set(document, L"list/item", L"one"));
    ASSERT_TRUE(Set(document, L"list/item[2]", L"two"));
    ASSERT_TRUE(Set(document, L"list/item[2]/@kind", L"second"));
    ASSERT_TRUE(Set(document, L"list/item[1]", L"first"));
    EXPECT_FALSE(Set(document, L"list/item[4]", L"four")) << "the third comes first";
    EXPECT_FALSE(Set(document, L"other/item[2]", L"x")) << "an element that is made is the first of its name";
    EXPECT_EQ(Get(document, L"count(other)"), L"0") << "a refused path changes nothing";
    EXPECT_EQ(Get(document, L"count(list/item)"), L"2");
    EXPECT_EQ(Get(document, L"list/item[1]"), L"first");
    EXPECT_EQ(Get(document, L"list/item[2]/@kind"), L"second");

    const wchar_t* refused[] = {L"",   L"/",    L"a//b",  L"a/", L"@x/b", L"a[0]", L"a[b]",       L"a[1",
                                L"1a", L"ns:a", L"a[1]]", L"..", L"*",    L"a/@",  L"a[99999999]"};
    for (const wchar_t* key : refused)
        EXPECT_FALSE(Set(document, key, L"v")) << Utf::WideToUtf8(key);
    EXPECT_FALSE(Set(document, L"bad", std::wstring(L"a\x01z"))) << "XML cannot hold U+0001";
    EXPECT_EQ(Get(document, L"count(bad)"), L"0");
    EXPECT_EQ(utlSetXmlNodeValue(document, L"x", nullptr), 0);
}

TEST_F(XmlDocument, ValuesRoundTripThroughTheFileAsTheyWereSet) {
    const std::string path = m_folder.File("round.xml");
    const std::wstring values[] = {
        L"plain",
        L"<tag> & \"quoted\" 'single' ]]>",
        L"\u00E9\u00E8 \u4E2D\u6587 \U0001F600",
        L"line one\nline two\ttab\r\nend",
        L"  spaced  ",
        L"",
    };
    UtlHandle document = Open(path);
    for (std::size_t i = 0; i < std::size(values); ++i) {
        const std::wstring key = L"values/value[" + std::to_wstring(i + 1) + L"]";
        ASSERT_TRUE(Set(document, key.c_str(), values[i]));
        ASSERT_TRUE(Set(document, (key + L"/@copy").c_str(), values[i]));
    }
    ASSERT_EQ(utlSaveXmlDoc(document, nullptr), 1);
    utlReleaseHandle(document);
    UtlHandle again = Open(path);
    for (std::size_t i = 0; i < std::size(values); ++i) {
        const std::wstring key = L"values/value[" + std::to_wstring(i + 1) + L"]";
        EXPECT_EQ(Get(again, key.c_str()), values[i]) << i;
        EXPECT_EQ(Get(again, (key + L"/@copy").c_str()), values[i]) << i;
    }
}

TEST_F(XmlDocument, ASaveThatCannotBeWrittenLeavesNothingAndSavesElsewhereOnRequest) {
    const std::string path = m_folder.Write("keep.xml", std::string("<c><v>old</v></c>"));
    UtlHandle document = Open(path);
    ASSERT_TRUE(Set(document, L"v", L"new"));
    const std::string missingFolder = m_folder.File("missing/keep.xml");
    EXPECT_EQ(utlSaveXmlDoc(document, Wide(missingFolder).c_str()), 0);
    EXPECT_EQ(ReadAll(path), "<c><v>old</v></c>") << "only the own path or the one given is written";

    const std::string copy = m_folder.File("copy.xml");
    ASSERT_EQ(utlSaveXmlDoc(document, Wide(copy).c_str()), 1);
    EXPECT_EQ(ReadAll(path), "<c><v>old</v></c>");
    EXPECT_NE(ReadAll(copy).find("<v>new</v>"), std::string::npos);
    ASSERT_EQ(utlSaveXmlDoc(document, nullptr), 1);
    EXPECT_NE(ReadAll(path).find("<v>new</v>"), std::string::npos);
    EXPECT_EQ(ReadAll(path).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
}

TEST_F(XmlDocument, ReleasedAndForeignHandlesFailAndShutdownReleasesEverything) {
    UtlHandle document = Open(m_folder.File("h.xml"));
    ASSERT_TRUE(Set(document, L"a", L"1"));
    ASSERT_EQ(utlReleaseHandle(document), 1);
    EXPECT_EQ(utlReleaseHandle(document), 0);
    EXPECT_FALSE(Set(document, L"a", L"2"));
    EXPECT_EQ(utlSaveXmlDoc(document, nullptr), 0);
    EXPECT_EQ(Get(document, L"a"), std::nullopt);
    EXPECT_EQ(utlReleaseHandle(kUtlNoHandle), 0);

    UtlHandle kept = Open(m_folder.File("k.xml"));
    ASSERT_EQ(utlShutdown(), 1);
    ASSERT_EQ(utlStartup(), 1);
    EXPECT_EQ(Get(kept, L"count(*)"), std::nullopt) << "the last shutdown let go of it";
    utlShutdown();
    UtlHandle none = 0;
    EXPECT_EQ(utlCreateXmlDoc(Wide(m_folder.File("n.xml")).c_str(), &none), 0) << "not started";
    utlStartup();
}

} // namespace
