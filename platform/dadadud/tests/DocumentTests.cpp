#include "DocProperty.h"
#include "platform/dadadud/CDocDocument.h"
#include "platform/dadadud/DadaDudTest.h"

#include "platform/win/utf16.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

namespace {

const char* const kLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<ldf version="1">
  <page id="7" cx="2100" cy="2970.5">
    <item id="1" kind="image">
      <bounding-box x="100" y="120" cx="1900" cy="1300"/>
      <content><image refType="NUID">4294967301</image></content>
    </item>
    <item id="2" kind="text">
      <bounding-box x="100" y="1500"/>
      <content><text>Harbour at dawn</text></content>
      <metadata><property name="kind">UI_Helper</property></metadata>
    </item>
  </page>
  <page id="8" cx="800" cy="600"/>
</ldf>
)";

std::wstring Wide(const std::string& text) {
    return Utf::Utf8ToWide(text);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Documents : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(docStartup(), 1); }
    void TearDown() override {
        DadaDudTest::SetCallObserver(nullptr);
        EXPECT_EQ(docShutdown(), 1);
        EXPECT_EQ(DadaDudTest::LiveHandles(), 0u) << "the last shutdown releases every handle";
    }

    DocHandle Open(const std::string& text, const std::string& name = "layout.ldf") {
        DocHandle document = kDocNoHandle;
        EXPECT_EQ(docCreateDocumentFromLDF(Wide(m_folder.Write(name, text)).c_str(), &document), 1);
        return document;
    }
    DocHandle Page(DocHandle document, LONG index) {
        DocHandle page = kDocNoHandle;
        EXPECT_EQ(docGetPageByIndex(document, index, &page), 1);
        return page;
    }
    DocHandle Item(DocHandle page, LONG index) {
        DocHandle item = kDocNoHandle;
        EXPECT_EQ(docGetItem(page, index, &item), 1);
        return item;
    }

    kvtest::TempFolder m_folder;
};

TEST(DocumentLibrary, AnswersNothingUntilStartedAndAfterTheLastShutdown) {
    kvtest::TempFolder folder;
    const std::wstring path = Wide(folder.Write("a.ldf", std::string("<ldf/>")));
    DocHandle document = 3;
    EXPECT_EQ(docCreateDocumentFromLDF(path.c_str(), &document), 0);
    EXPECT_EQ(document, kDocNoHandle);
    EXPECT_EQ(docShutdown(), 0);
    ASSERT_EQ(docStartup(), 1);
    ASSERT_EQ(docStartup(), 1);
    ASSERT_EQ(docCreateDocumentFromLDF(path.c_str(), &document), 1);
    EXPECT_EQ(docShutdown(), 1);
    LONG pages = -1;
    EXPECT_EQ(docGetDocNbPages(document, &pages), 1) << "one start is still open";
    EXPECT_EQ(pages, 0);
    EXPECT_EQ(docShutdown(), 1);
    EXPECT_EQ(docGetDocNbPages(document, &pages), 0);
}

TEST_F(Documents, PagesAndItemsAreFoundByIndexFromZero) {
    DocHandle document = Open(kLayout);
    LONG pages = 0;
    ASSERT_EQ(docGetDocNbPages(document, &pages), 1);
    EXPECT_EQ(pages, 2);
    DocHandle first = Page(document, 0);
    DocHandle second = Page(document, 1);
    EXPECT_EQ(Property(first, L"@id"), L"7");
    EXPECT_EQ(Property(second, L"@cx"), L"800");

    DocHandle missing = 5;
    EXPECT_EQ(docGetPageByIndex(document, 2, &missing), 0);
    EXPECT_EQ(missing, kDocNoHandle);
    EXPECT_EQ(docGetPageByIndex(document, -1, &missing), 0);
    EXPECT_EQ(docGetItem(first, 2, &missing), 0);
    EXPECT_EQ(docGetItem(second, 0, &missing), 0) << "a page without items";
    EXPECT_EQ(docGetItem(document, 0, &missing), 0) << "a document is not a page";
    EXPECT_EQ(docGetPageByIndex(first, 0, &missing), 0) << "nor a page a document";
    EXPECT_EQ(docGetDocNbPages(first, &pages), 0);
    EXPECT_EQ(docSaveLDF(first, Wide(m_folder.File("page.ldf")).c_str()), 0);
}

TEST_F(Documents, PropertiesAreXPathRelativeToTheObject) {
    DocHandle document = Open(kLayout);
    DocHandle page = Page(document, 0);
    DocHandle image = Item(page, 0);
    DocHandle text = Item(page, 1);
    const struct {
        DocHandle object;
        const wchar_t* path;
        std::optional<std::wstring> value;
    } cases[] = {
        {page, L"@cy", L"2970.5"},
        {page, L"count(item)", L"2"},
        {page, L"item[metadata/property[@name = 'kind' and text() = 'UI_Helper']][1]/@id", L"2"},
        {image, L"@kind", L"image"},
        {image, L"bounding-box/@x", L"100"},
        {image, L"bounding-box/@cy", L"1300"},
        {image, L"content/image[@refType='NUID']", L"4294967301"},
        {text, L"content/text", L"Harbour at dawn"},
        {text, L"bounding-box/@cx", std::nullopt},
        {text, L"@missing", std::nullopt},
        {document, L"@version", L"1"},
        {document, L"page[2]/@id", L"8"},
        {document, L"count(page) > 1", L"true"},
        {image, L"bounding-box/@x +", std::nullopt},
        {image, L"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Property(c.object, c.path), c.value) << Utf::WideToUtf8(c.path);
}

TEST_F(Documents, ShortBufferAnswersWithTheCountItNeeds) {
    const std::string v255(255, 'a'), v256(256, 'b');
    DocHandle document = Open("<ldf><page id='1' a='" + v255 + "' b='" + v256 + "'/></ldf>");
    DocHandle page = Page(document, 0);
    std::vector<wchar_t> buffer(256, L'#');
    LONG count = 255;
    ASSERT_EQ(docGetPropertyValue(page, L"@a", buffer.data(), &count, 0), 1);
    EXPECT_EQ(count, 255);
    EXPECT_EQ(std::wstring(buffer.data()), Wide(v255)) << "255 characters and the terminator fit";

    buffer.assign(256, L'#');
    count = 255;
    ASSERT_EQ(docGetPropertyValue(page, L"@b", buffer.data(), &count, 0), 1);
    EXPECT_EQ(count, 256) << "the length, terminator not counted";
    EXPECT_EQ(buffer[0], L'#') << "nothing is copied into a buffer that is too short";

    count = 0;
    ASSERT_EQ(docGetPropertyValue(page, L"@b", nullptr, &count, 0), 1);
    EXPECT_EQ(count, 256);
    count = -1;
    EXPECT_EQ(docGetPropertyValue(page, L"@b", buffer.data(), &count, 0), 0);
    EXPECT_EQ(docGetPropertyValue(page, L"@b", buffer.data(), nullptr, 0), 0);
}

TEST_F(Documents, PagesAndItemsKeepTheirDocumentAlive) {
    DocHandle document = Open(kLayout);
    DocHandle item = Item(Page(document, 0), 0);
    ASSERT_EQ(docReleaseHandle(document), 1);
    EXPECT_EQ(docReleaseHandle(document), 0);
    EXPECT_EQ(Property(item, L"@id"), L"1");
    LONG pages = 0;
    EXPECT_EQ(docGetDocNbPages(document, &pages), 0);
}

TEST_F(Documents, SaveWritesUtf16WithAMarkAndNonAsciiSurvivesReload) {
    const std::string caption = "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8C\x85 &lt;quoted&gt;";
    DocHandle document = Open("<ldf><page id='1' title='" + caption + "'><item id='1'><content><text>" +
                              caption + "</text></content></item></page></ldf>");
    const std::string saved = m_folder.File("saved.ldf");
    ASSERT_EQ(docSaveLDF(document, Wide(saved).c_str()), 1);
    const std::vector<std::uint8_t> bytes = ReadBytes(saved);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    const std::string text = Utf::Utf16ToUtf8(Utf::Utf16FromLEBytes(bytes.data() + 2, bytes.size() - 2));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>", 0), 0u) << text;

    DocHandle reloaded = kDocNoHandle;
    ASSERT_EQ(docCreateDocumentFromLDF(Wide(saved).c_str(), &reloaded), 1);
    DocHandle page = Page(reloaded, 0);
    const std::wstring expected = Wide("Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8C\x85 <quoted>");
    EXPECT_EQ(Property(page, L"@title"), expected);
    EXPECT_EQ(Property(Item(page, 0), L"content/text"), expected);

    // Saved again over the file, then once more from the reloaded document: the same bytes.
    ASSERT_EQ(docSaveLDF(reloaded, Wide(saved).c_str()), 1);
    EXPECT_EQ(ReadBytes(saved), bytes);
}

TEST_F(Documents, FailedSaveLeavesNoFile) {
    DocHandle document = Open(kLayout);
    const std::string path = m_folder.File("missing/saved.ldf");
    EXPECT_EQ(docSaveLDF(document, Wide(path).c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(m_folder.File("missing")));
    EXPECT_EQ(docSaveLDF(document, nullptr), 0);
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
}

TEST_F(Documents, FilesThatAreNotLayoutsGiveNoHandle) {
    const std::string secret = m_folder.Write("secret.txt", std::string("the secret text"));
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"plain text", "page 1: a picture"},
        {"cut short", std::string(kLayout).substr(0, 120)},
        {"two roots", "<ldf/><ldf/>"},
        {"another root", "<layout><page id='1'/></layout>"},
        {"root in a namespace", "<ldf xmlns='urn:other'/>"},
        {"undeclared entity", "<ldf><page id='&x;'/></ldf>"},
        {"document type", "<!DOCTYPE ldf><ldf/>"},
        {"external subset", "<!DOCTYPE ldf SYSTEM 'http://127.0.0.1:1/ldf.dtd'><ldf/>"},
        {"external entity",
         "<!DOCTYPE ldf [<!ENTITY s SYSTEM 'file://" + secret + "'>]><ldf><page id='&s;'/></ldf>"},
        {"entity expansion",
         "<!DOCTYPE ldf [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
         "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]>"
         "<ldf><page id='&d;&d;&d;&d;&d;&d;&d;&d;'/></ldf>"},
        {"wrong encoding", std::string("<?xml version='1.0' encoding='UTF-16'?><ldf/>")},
    };
    const std::size_t live = DadaDudTest::LiveHandles();
    for (const auto& c : cases) {
        DocHandle document = 9;
        const std::wstring path = Wide(m_folder.Write("bad.ldf", c.text));
        EXPECT_EQ(docCreateDocumentFromLDF(path.c_str(), &document), 0) << c.name;
        EXPECT_EQ(document, kDocNoHandle) << c.name;
        EXPECT_EQ(DadaDudTest::LiveHandles(), live) << c.name;
    }
    DocHandle document = kDocNoHandle;
    EXPECT_EQ(docCreateDocumentFromLDF(Wide(m_folder.File("missing.ldf")).c_str(), &document), 0);
    EXPECT_EQ(docCreateDocumentFromLDF(Wide(m_folder.Path()).c_str(), &document), 0) << "a folder";
    const std::string large = m_folder.Write("large.ldf", std::string("<ldf/>"));
    std::filesystem::resize_file(large, CDocDocument::kMaxFileBytes + 1);
    EXPECT_EQ(docCreateDocumentFromLDF(Wide(large).c_str(), &document), 0) << "above the size limit";
}

TEST_F(Documents, ReleaseIsObservedOnEachCall) {
    DocHandle document = Open(kLayout);
    int releases = 0;
    DadaDudTest::SetCallObserver([&](const char* call, DocHandle first) {
        if (std::string(call) == "docReleaseHandle" && first == document)
            ++releases;
    });
    EXPECT_EQ(docReleaseHandle(document), 1);
    EXPECT_EQ(docReleaseHandle(document), 0);
    EXPECT_EQ(releases, 2);
}

// Four threads read one document's pages and items while a fifth saves it again and again and a sixth
// opens and releases other documents.
TEST_F(Documents, OneDocumentIsReadBySeveralThreadsWhileItIsSaved) {
    kvtest::Watchdog watchdog("threads on one document");
    DocHandle document = Open(kLayout);
    const std::wstring copy = Wide(m_folder.File("copy.ldf"));
    const std::wstring other = Wide(m_folder.Write("other.ldf", std::string(kLayout)));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                DocHandle page = kDocNoHandle, item = kDocNoHandle;
                if (docGetPageByIndex(document, 0, &page) != 1 || docGetItem(page, 0, &item) != 1 ||
                    Property(item, L"bounding-box/@cx") != L"1900" || Property(page, L"count(item)") != L"2")
                    ++failures;
                docReleaseHandle(item);
                docReleaseHandle(page);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 50; ++i)
            if (docSaveLDF(document, copy.c_str()) != 1)
                ++failures;
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 50; ++i) {
            DocHandle opened = kDocNoHandle;
            if (docCreateDocumentFromLDF(other.c_str(), &opened) != 1 || docReleaseHandle(opened) != 1)
                ++failures;
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

constexpr const wchar_t* kMarker =
    L"<item id=\"2097153\"><bounding-box x=\"100\" y=\"120\" cx=\"1900\" cy=\"1300\" />"
    L"<metadata><property name=\"kind\">UI_Selector</property></metadata></item>";

TEST_F(Documents, ItemsAreMadeInsertedAfterAnItemAndRemoved) {
    const DocHandle page = Page(Open(kLayout), 0);
    const DocHandle first = Item(page, 0);
    DocHandle marker = kDocNoHandle;
    ASSERT_EQ(gdedCreateItemFromStr(page, kMarker, &marker), 1);
    EXPECT_EQ(Property(page, L"count(item)"), L"2"); // made, not yet on the page
    ASSERT_EQ(gdedInsertAfter(first, marker), 1);
    EXPECT_EQ(gdedInsertAfter(first, marker), 0) << "inserted once only";
    EXPECT_EQ(Property(page, L"count(item)"), L"3");
    EXPECT_EQ(Property(Item(page, 1), L"@id"), L"2097153");
    EXPECT_EQ(Property(page, L"item[metadata/property[@name = 'kind' and text() = 'UI_Selector']]/@id"),
              L"2097153");
    ASSERT_EQ(gdedRemoveItem(marker), 1);
    EXPECT_EQ(gdedRemoveItem(marker), 0);
    EXPECT_EQ(Property(page, L"count(item)"), L"2");
    EXPECT_EQ(Property(marker, L"bounding-box/@cx"), L"1900") << "a removed item stays readable";
    EXPECT_EQ(gdedInsertAfter(first, marker), 0);
}

TEST_F(Documents, ItemTextsThatAreNoSingleItemAreRefused) {
    const DocHandle document = Open(kLayout);
    const DocHandle page = Page(document, 0);
    const wchar_t* const refused[] = {
        L"",
        L"<item id=\"1\">",
        L"<page id=\"1\"/>",
        L"<x:item xmlns:x=\"urn:a\"/>",
        L"<!DOCTYPE item [<!ENTITY e \"boom\">]><item>&e;</item>",
        L"<item/><item/>",
    };
    for (const wchar_t* text : refused) {
        DocHandle item = 5;
        EXPECT_EQ(gdedCreateItemFromStr(page, text, &item), 0) << Utf::WideToUtf8(text);
        EXPECT_EQ(item, kDocNoHandle);
    }
    DocHandle item = kDocNoHandle;
    EXPECT_EQ(gdedCreateItemFromStr(document, kMarker, &item), 0) << "a page makes items";
    // An item of another document, or a page, is no place to insert after.
    const DocHandle other = Page(Open(kLayout, "other.ldf"), 0);
    ASSERT_EQ(gdedCreateItemFromStr(other, kMarker, &item), 1);
    EXPECT_EQ(gdedInsertAfter(Item(page, 0), item), 0);
    EXPECT_EQ(gdedInsertAfter(other, item), 0);
    EXPECT_EQ(gdedRemoveItem(page), 0);
    EXPECT_EQ(Property(page, L"count(item)"), L"2");
}

TEST_F(Documents, ReadersKeepReadingWhileItemsComeAndGo) {
    const DocHandle page = Page(Open(kLayout), 0);
    const DocHandle first = Item(page, 0);
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread reader([&] {
        while (!done.load()) {
            DocHandle item = kDocNoHandle;
            if (docGetItem(page, 1, &item) == 1) {
                if (!Property(item, L"@id"))
                    ++failures;
                docReleaseHandle(item);
            }
            if (!Property(page, L"count(item)"))
                ++failures;
        }
    });
    for (int round = 0; round < 300; ++round) {
        DocHandle marker = kDocNoHandle;
        EXPECT_EQ(gdedCreateItemFromStr(page, kMarker, &marker), 1);
        EXPECT_EQ(gdedInsertAfter(first, marker), 1);
        EXPECT_EQ(gdedRemoveItem(marker), 1);
        docReleaseHandle(marker);
    }
    done = true;
    reader.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
