#include "plugin_framework/TDBufDocument.h"
#include "plugin_framework/TdocObject.h"

#include "platform/dadadud/DadaDudTest.h"
#include "platform/win/WinSeams.h"
#include "platform/win/utf16.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

std::string Layout(int pageId, const std::string& title) {
    return "<?xml version='1.0' encoding='UTF-8'?><ldf version='1'>"
           "<page id='" +
           std::to_string(pageId) + "' cx='2100' cy='2970.5' title='" + title +
           "'>"
           "<item id='11' kind='image'><bounding-box x='100.5' y='120' cx='1900' cy='1300'/></item>"
           "<item id='12' kind='text'><bounding-box x='7' y='9'/></item>"
           "<item id='not a number' kind='text'/></page>"
           "<page id='99999999999' cx='800'/></ldf>";
}

class DocumentWrappers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(docStartup(), 1);
        WinSeams::SetTempBase(m_base.Path());
        m_tempFolder = m_base.Path() + "/Korvel-" + std::to_string(geteuid()) + "/Korvel/Test plugin";
    }
    void TearDown() override {
        DadaDudTest::SetCallObserver(nullptr);
        WinSeams::ResetAll();
        docShutdown();
    }

    std::unique_ptr<TdocDocument> Open(const std::string& text, const std::string& name = "layout.ldf") {
        const std::string path = m_base.Write(name, text);
        return std::unique_ptr<TdocDocument>(TdocDocument::CreateFromLDF(Utf::Utf8ToWide(path).c_str()));
    }
    void Watch(const std::string& name) {
        m_calls = 0;
        DadaDudTest::SetCallObserver([this, name](const char* call, DocHandle) {
            if (name == call)
                ++m_calls;
        });
    }
    // Files the copies left in the module's temporary folder.
    std::vector<std::string> LeftInTempFolder() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(m_tempFolder, error))
            names.push_back(entry.path().filename().string());
        return names;
    }

    kvtest::TempFolder m_base;
    std::string m_tempFolder;
    std::atomic<int> m_calls{0};
};

TEST_F(DocumentWrappers, PagesItemsAndTheirPropertiesByIndex) {
    std::unique_ptr<TdocDocument> document = Open(Layout(7, "Harbour"));
    ASSERT_NE(document, nullptr);
    std::unique_ptr<TdocPage> page(document->GetPage(0));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->GetLongProperty(), 7);
    TSize_T<double> size;
    ASSERT_TRUE(page->GetSize(size));
    EXPECT_EQ(size.cx, 2100);
    EXPECT_EQ(size.cy, 2970.5);
    TString title;
    EXPECT_EQ(page->GetStringProperty(L"@title", title, 0), 1);
    EXPECT_EQ(title, TString(L"Harbour"));

    std::unique_ptr<TdocItem> item(page->GetItem(0));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetLongProperty(), 11);
    TRect_T<double> box;
    ASSERT_TRUE(item->GetBoundingBox(box));
    EXPECT_EQ(box, TRect_T<double>(100.5, 120, 2000.5, 1420));

    EXPECT_EQ(std::unique_ptr<TdocItem>(page->GetItem(3)), nullptr);
    EXPECT_EQ(std::unique_ptr<TdocPage>(document->GetPage(2)), nullptr);
    EXPECT_EQ(std::unique_ptr<TdocItem>(page->GetItem(2))->GetLongProperty(), 0)
        << "text that is not a number";
    std::unique_ptr<TdocPage> last(document->GetPage(1));
    EXPECT_EQ(last->GetLongProperty(), 0x7FFFFFFF) << "beyond the range: its end";
    EXPECT_FALSE(last->GetSize(size)) << "no @cy";
    EXPECT_EQ(std::unique_ptr<TdocItem>(last->GetItem(0)), nullptr);
    EXPECT_EQ(std::unique_ptr<TdocDocument>(TdocDocument::CreateFromLDF(L"/nonexistent.ldf")), nullptr);
}

TEST_F(DocumentWrappers, BoundingBoxWithoutWidthFailsWithLeftAndTopWritten) {
    std::unique_ptr<TdocDocument> document = Open(Layout(1, "t"));
    std::unique_ptr<TdocItem> item(std::unique_ptr<TdocPage>(document->GetPage(0))->GetItem(1));
    TRect_T<double> box(-1, -1, -1, -1);
    EXPECT_FALSE(item->GetBoundingBox(box));
    EXPECT_EQ(box, TRect_T<double>(7, 9, -1, -1));
    TString text = L"kept";
    EXPECT_EQ(item->GetStringProperty(L"@missing", text, 0), 0);
    EXPECT_EQ(text, TString(L"kept")) << "a failed read leaves the text as it was";
}

TEST_F(DocumentWrappers, LongValuesAreReadInOneCallUpTo255Characters) {
    const struct {
        std::size_t length;
        int calls;
    } cases[] = {{0, 1}, {254, 1}, {255, 1}, {256, 2}, {4000, 2}};
    for (const auto& c : cases) {
        const std::string value(c.length, 'v');
        std::unique_ptr<TdocDocument> document = Open(Layout(1, value));
        std::unique_ptr<TdocPage> page(document->GetPage(0));
        Watch("docGetPropertyValue");
        TString text;
        EXPECT_EQ(page->GetStringProperty(L"@title", text, 0), 1) << c.length;
        EXPECT_EQ(m_calls.load(), c.calls) << c.length;
        EXPECT_EQ(text.GetLength(), static_cast<int>(c.length));
        EXPECT_EQ(std::string(TStringA(static_cast<const wchar_t*>(text))), value);
        DadaDudTest::SetCallObserver(nullptr);
    }
}

TEST_F(DocumentWrappers, ReleasingTwiceCallsTheLibraryOnce) {
    std::unique_ptr<TdocDocument> document = Open(Layout(1, "t"));
    Watch("docReleaseHandle");
    document->Release();
    document->Release();
    EXPECT_EQ(m_calls.load(), 1);
    EXPECT_EQ(document->GetHandle(), kDocNoHandle);
    document.reset();
    EXPECT_EQ(m_calls.load(), 1) << "the destructor has nothing left to release";
}

TEST_F(DocumentWrappers, CopyHolderKeepsAPrivateCopyAndDeletesOnlyIt) {
    const std::size_t before = DadaDudTest::LiveHandles();
    TdocDocument* source = Open(Layout(3, "Z\xC3\xBCrich \xF0\x9F\x8C\x85")).release();
    {
        TDBufDocument holder(source);
        ASSERT_NE(holder.GetCopy(), nullptr);
        EXPECT_NE(holder.GetCopy()->GetHandle(), source->GetHandle());
        TString title;
        EXPECT_EQ(
            std::unique_ptr<TdocPage>(holder.GetCopy()->GetPage(0))->GetStringProperty(L"@title", title, 0),
            1);
        EXPECT_EQ(title, TString(L"Z\u00fcrich \U0001F305")) << "non-ASCII text survives the copy";
        const DocHandle first = holder.GetCopy()->GetHandle();
        EXPECT_TRUE(holder.Refresh());
        EXPECT_NE(holder.GetCopy()->GetHandle(), first);
        EXPECT_EQ(DadaDudTest::LiveHandles(), before + 2) << "the first copy was released";
    }
    EXPECT_EQ(DadaDudTest::LiveHandles(), before + 1) << "the source stays the owner's";
    EXPECT_EQ(std::unique_ptr<TdocPage>(source->GetPage(0))->GetLongProperty(), 3);

    TDBufDocument holder(source);
    holder.ReleaseAll();
    EXPECT_EQ(holder.GetCopy(), nullptr);
    EXPECT_EQ(holder.GetSource(), nullptr);
    EXPECT_EQ(DadaDudTest::LiveHandles(), before);
    EXPECT_TRUE(LeftInTempFolder().empty());
}

TEST_F(DocumentWrappers, FailedCopyGivesNoCopyAndLeavesNoTemporaryFile) {
    std::unique_ptr<TdocDocument> source = Open(Layout(3, "t"));
    TDBufDocument holder(source.get());
    ASSERT_NE(holder.GetCopy(), nullptr);
    source->Release();
    EXPECT_FALSE(holder.Refresh()) << "a source the library no longer holds cannot be saved";
    EXPECT_EQ(holder.GetCopy(), nullptr);
    EXPECT_TRUE(LeftInTempFolder().empty());

    WinSeams::SetTempBase(m_base.File("missing/folder"));
    EXPECT_EQ(TDBufDocument::Copy(*Open(Layout(4, "t"), "other.ldf")), nullptr) << "no temporary folder";
}

// Eight threads each copy a document of their own at once; each copy reads back its own page id, so no
// two copies shared a temporary file.
TEST_F(DocumentWrappers, EightThreadsCopyingAtOnceEachReadBackTheirOwnDocument) {
    kvtest::Watchdog watchdog("eight copies at once");
    std::vector<std::unique_ptr<TdocDocument>> sources;
    for (int t = 0; t < 8; ++t)
        sources.push_back(Open(Layout(100 + t, "t"), "layout" + std::to_string(t) + ".ldf"));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                std::unique_ptr<TdocDocument> copy = TDBufDocument::Copy(*sources[t]);
                if (!copy || std::unique_ptr<TdocPage>(copy->GetPage(0))->GetLongProperty() != 100 + t)
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(LeftInTempFolder().empty());
}

TEST_F(DocumentWrappers, FourThreadsReadADocumentWhileAnotherCopiesIt) {
    kvtest::Watchdog watchdog("reads during copies");
    std::unique_ptr<TdocDocument> source = Open(Layout(5, "shared"));
    TDBufDocument holder(source.get());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                std::unique_ptr<TdocPage> page(source->GetPage(0));
                TRect_T<double> box;
                std::unique_ptr<TdocItem> item(page ? page->GetItem(0) : nullptr);
                if (!page || page->GetLongProperty() != 5 || !item || !item->GetBoundingBox(box) ||
                    box.right != 2000.5)
                    ++wrong;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 20; ++i) {
            if (!holder.Refresh() ||
                std::unique_ptr<TdocPage>(holder.GetCopy()->GetPage(0))->GetLongProperty() != 5)
                ++wrong;
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
