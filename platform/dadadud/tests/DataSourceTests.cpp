#include "platform/dadadud/DadaDud.h"
#include "platform/dadadud/DadaDudTest.h"
#include "platform/dadadud/DocLibrary.h"

#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <libxml/tree.h>

#include <filesystem>
#include <functional>

namespace {

using kvtest::TempFolder;

class DataSource : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(docStartup(), 1); }
    void TearDown() override {
        EXPECT_EQ(docShutdown(), 1);
        EXPECT_EQ(DadaDudTest::LiveHandles(), 0u);
    }
    static std::string RootName(DocHandle handle) {
        std::shared_ptr<const CDocDataSource> source = DocLibrary::FindDataSource(handle);
        if (!source)
            return "(no source)";
        KvXmlTreePtr tree = source->Parse();
        xmlNodePtr root = tree ? xmlDocGetRootElement(tree.get()) : nullptr;
        return root ? reinterpret_cast<const char*>(root->name) : "(not XML)";
    }
};

TEST_F(DataSource, FromTextKeepsTheGivenCharactersOnly) {
    // The modules' in-memory texts declare UTF-16 although they are wide text already.
    const std::wstring text = L"<?xml version='1.0' encoding='utf-16' ?><template>\u00e9t\u00e9</template>"
                              L"<trailing/>";
    const LONG length = static_cast<LONG>(text.find(L"<trailing/>"));
    DocHandle handle = kDocNoHandle;
    ASSERT_EQ(docCreateDataSource2(text.c_str(), length, &handle), 1);
    EXPECT_EQ(RootName(handle), "template");
    const auto bytes = DocLibrary::FindDataSource(handle)->Bytes();
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Utf::WideToUtf8(text.substr(0, length)));
    EXPECT_EQ(docReleaseHandle(handle), 1);
    EXPECT_EQ(docReleaseHandle(handle), 0) << "a released source is gone";
}

TEST_F(DataSource, FromFileIsASnapshotInTheFilesOwnEncoding) {
    TempFolder folder;
    std::vector<std::uint8_t> utf16{0xFF, 0xFE};
    Utf::AppendUtf16LE(utf16,
                       u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><bundle><object id=\"1\"/></bundle>");
    const std::string path = folder.Write("bndl.xml", utf16);
    DocHandle handle = kDocNoHandle;
    ASSERT_EQ(docCreateDataSource(Utf::Utf8ToWide(path).c_str(), &handle), 1);
    folder.Write("bndl.xml", std::string("<changed/>"));
    std::filesystem::remove(path);
    EXPECT_EQ(RootName(handle), "bundle") << "the source keeps what the file held when it was made";
    EXPECT_EQ(docReleaseHandle(handle), 1);
}

TEST_F(DataSource, RefusesWhatGivesNoText) {
    TempFolder folder;
    const std::wstring empty = Utf::Utf8ToWide(folder.Write("empty.xml", std::string()));
    const std::wstring missing = Utf::Utf8ToWide(folder.File("missing.xml"));
    const std::wstring directory = Utf::Utf8ToWide(folder.Path());
    struct Case {
        const char* what;
        std::function<LONG(DocHandle*)> make;
    };
    const Case cases[] = {
        {"empty file", [&](DocHandle* h) { return docCreateDataSource(empty.c_str(), h); }},
        {"missing file", [&](DocHandle* h) { return docCreateDataSource(missing.c_str(), h); }},
        {"a folder", [&](DocHandle* h) { return docCreateDataSource(directory.c_str(), h); }},
        {"null path", [](DocHandle* h) { return docCreateDataSource(nullptr, h); }},
        {"empty path", [](DocHandle* h) { return docCreateDataSource(L"", h); }},
        {"null text", [](DocHandle* h) { return docCreateDataSource2(nullptr, 5, h); }},
        {"length 0", [](DocHandle* h) { return docCreateDataSource2(L"<a/>", 0, h); }},
        {"negative length", [](DocHandle* h) { return docCreateDataSource2(L"<a/>", -4, h); }},
        {"length past the cap", [](DocHandle* h) { return docCreateDataSource2(L"<a/>", 0x7FFFFFFF, h); }},
    };
    for (const Case& c : cases) {
        DocHandle handle = 12345;
        EXPECT_EQ(c.make(&handle), 0) << c.what;
        EXPECT_EQ(handle, kDocNoHandle) << c.what;
    }
    EXPECT_EQ(docCreateDataSource2(L"<a/>", 4, nullptr), 0);
    EXPECT_EQ(DadaDudTest::LiveHandles(), 0u);
}

TEST_F(DataSource, IsNoDocumentAndNeedsTheLibraryStarted) {
    DocHandle handle = kDocNoHandle;
    ASSERT_EQ(docCreateDataSource2(L"<ldf version='1'><page id='1'/></ldf>", 36, &handle), 1);
    LONG count = -1;
    EXPECT_EQ(docGetDocNbPages(handle, &count), 0);
    wchar_t buffer[16];
    LONG size = 15;
    EXPECT_EQ(docGetPropertyValue(handle, L"@version", buffer, &size, 0), 0);
    DocHandle page = 0;
    EXPECT_EQ(docGetPageByIndex(handle, 0, &page), 0);
    ASSERT_EQ(docShutdown(), 1);
    EXPECT_EQ(DocLibrary::FindDataSource(handle), nullptr) << "the last shutdown lets go of every source";
    EXPECT_EQ(docCreateDataSource2(L"<a/>", 4, &handle), 0);
    ASSERT_EQ(docStartup(), 1);
}

} // namespace
