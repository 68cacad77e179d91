#include "mail_plugin/MailPreviewDocument.h"
#include "mail_plugin/TdocDataSource.h"

#include "platform/dadadud/DadaDudTest.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class DataSourceWrapper : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(docStartup(), 1); }
    void TearDown() override { EXPECT_EQ(docShutdown(), 1); }
};

TEST_F(DataSourceWrapper, OwnsItsHandleUntilDeleted) {
    kvtest::TempFolder folder;
    const std::wstring path = Utf::Utf8ToWide(folder.Write("bndl.xml", std::string("<bundle/>")));
    const std::wstring text = L"<template><cluster id='1'/></template>";
    std::unique_ptr<TdocDataSource> fromFile(TdocDataSource::Create(TString(path.c_str())));
    std::unique_ptr<TdocDataSource> fromText(
        TdocDataSource::Create2(text.c_str(), static_cast<LONG>(text.size())));
    ASSERT_TRUE(fromFile && fromText);
    EXPECT_NE(fromFile->GetHandle(), fromText->GetHandle());
    EXPECT_EQ(DadaDudTest::LiveHandles(), 2u);
    fromFile.reset();
    fromText.reset();
    EXPECT_EQ(DadaDudTest::LiveHandles(), 0u);
}

TEST_F(DataSourceWrapper, GivesNothingWhenTheLibraryRefuses) {
    kvtest::TempFolder folder;
    EXPECT_EQ(TdocDataSource::Create(TString(Utf::Utf8ToWide(folder.File("none.xml")).c_str())), nullptr);
    EXPECT_EQ(TdocDataSource::Create2(L"<a/>", 0), nullptr);
    ASSERT_EQ(docShutdown(), 1);
    EXPECT_EQ(TdocDataSource::Create2(L"<a/>", 4), nullptr) << "a stopped library makes no source";
    ASSERT_EQ(docStartup(), 1);
}

// Objects whose contents are the host item ids 5000 + k, as the modules' bundles give them.
std::string PictureBundle(int count) {
    std::string text = "<?xml version='1.0' encoding='utf-8'?><bundle>";
    for (int k = 0; k < count; ++k)
        text += "<object id='" + std::to_string(k) + "'><content>" + std::to_string(5000 + k) +
                "</content><caption kind='basic'>IMG_" + std::to_string(k) + ".jpg</caption></object>";
    return text + "</bundle>";
}

std::wstring Text(const TdocObject& object, const wchar_t* path) {
    TString value;
    return object.GetStringProperty(path, value, 0) == 1 ? std::wstring(static_cast<const wchar_t*>(value))
                                                         : L"(none)";
}

TEST_F(DataSourceWrapper, ThePreviewShowsOnePicturePerPageOfTheAttachmentSize) {
    kvtest::TempFolder folder;
    const TString bundle(Utf::Utf8ToWide(folder.Write("bndl.xml", PictureBundle(3))).c_str());
    const struct {
        graphtypes::TSize_T<LONG> attachment;
        graphtypes::TSize_T<double> page;
    } cases[] = {
        {{640, 480}, {640, 480}},
        {{1024, 768}, {1024, 768}},
        {{0, 0}, {800, 600}},
    };
    for (const auto& c : cases) {
        // A button face colour word: red 0xEC in the low byte, then green 0xE9 and blue 0xD8.
        std::unique_ptr<TdocDocument> document(MailPreviewDocument::Create(c.attachment, 0x00D8E9EC, bundle));
        ASSERT_TRUE(document) << c.attachment.cx;
        EXPECT_EQ(DadaDudTest::LiveHandles(), 1u) << "the two sources are gone, the document stays";
        ASSERT_EQ(document->GetPageCount(), 3);
        for (LONG index = 0; index < 3; ++index) {
            std::unique_ptr<TdocPage> page(document->GetPage(index));
            ASSERT_TRUE(page);
            graphtypes::TSize_T<double> size;
            ASSERT_TRUE(page->GetSize(size));
            EXPECT_EQ(size, c.page) << index;
            EXPECT_EQ(Text(*page, L"property[@name='background']/attr[@name='color']"), L"#ece9d800");
            EXPECT_EQ(Text(*page, L"property[@name='content-alignment']/attr[@name='horizontal']"), L"c");
            std::unique_ptr<TdocItem> item(page->GetItem(0));
            ASSERT_TRUE(item);
            graphtypes::TRect_T<double> box;
            ASSERT_TRUE(item->GetBoundingBox(box));
            EXPECT_EQ(box, graphtypes::TRect_T<double>(0, 0, c.page.cx, c.page.cy));
            EXPECT_EQ(Text(*item, L"content/image[@refType='NUID']"), std::to_wstring(5000 + index));
        }
    }
}

TEST_F(DataSourceWrapper, EachPictureIsPreviewedAtTheSizeItsAttachmentWillHave) {
    kvtest::TempFolder folder;
    using Box = graphtypes::TRect_T<double>;
    const struct {
        const char* what;
        graphtypes::TSize_T<LONG> picture;
        bool designPage;
        Box at640x480;  // within the 640 x 480 box
        Box atFullSize; // on the full size's 800 x 600 page
    } cases[] = {
        {"smaller than the box: its own size", {320, 240}, false, {160, 120, 480, 360}, {240, 180, 560, 420}},
        {"larger: fitted", {1280, 960}, false, {0, 0, 640, 480}, {0, 0, 800, 600}},
        {"upright: fitted by its height", {600, 800}, false, {140, 0, 500, 480}, {175, 0, 625, 600}},
        {"of no known size: the whole page", {0, 0}, false, {0, 0, 640, 480}, {0, 0, 800, 600}},
        {"a design page: the whole page", {65535, 300}, true, {0, 0, 640, 480}, {0, 0, 800, 600}},
    };
    std::vector<TFileSaveData::TItem> items;
    for (const auto& c : cases)
        items.push_back({static_cast<KvwItemId>(5000 + items.size()), c.picture, c.designPage});
    const TString bundle(
        Utf::Utf8ToWide(folder.Write("bndl.xml", PictureBundle(static_cast<int>(items.size())))).c_str());
    for (const bool fullSize : {false, true}) {
        const graphtypes::TSize_T<LONG> attachment =
            fullSize ? graphtypes::TSize_T<LONG>(0, 0) : graphtypes::TSize_T<LONG>(640, 480);
        std::unique_ptr<TdocDocument> document(MailPreviewDocument::Create(attachment, 0, bundle, items));
        ASSERT_TRUE(document);
        ASSERT_EQ(document->GetPageCount(), static_cast<LONG>(items.size()));
        for (std::size_t k = 0; k < items.size(); ++k) {
            std::unique_ptr<TdocPage> page(document->GetPage(static_cast<LONG>(k)));
            ASSERT_TRUE(page);
            graphtypes::TSize_T<double> size;
            ASSERT_TRUE(page->GetSize(size));
            EXPECT_EQ(size, fullSize ? graphtypes::TSize_T<double>(800, 600)
                                     : graphtypes::TSize_T<double>(640, 480));
            std::unique_ptr<TdocItem> item(page->GetItem(0));
            ASSERT_TRUE(item);
            Box box;
            ASSERT_TRUE(item->GetBoundingBox(box));
            const Box& expected = fullSize ? cases[k].atFullSize : cases[k].at640x480;
            EXPECT_NEAR(box.left, expected.left, 1e-3) << cases[k].what;
            EXPECT_NEAR(box.top, expected.top, 1e-3) << cases[k].what;
            EXPECT_NEAR(box.right, expected.right, 1e-3) << cases[k].what;
            EXPECT_NEAR(box.bottom, expected.bottom, 1e-3) << cases[k].what;
            EXPECT_EQ(Text(*item, L"content/image[@refType='NUID']"), std::to_wstring(5000 + k));
        }
    }
}

TEST_F(DataSourceWrapper, NoPreviewWithoutTheItemDataOrFromSourcesOfTheWrongKind) {
    kvtest::TempFolder folder;
    EXPECT_EQ(MailPreviewDocument::Create({640, 480}, 0, TString(Utf::Utf8ToWide(folder.File("x")).c_str())),
              nullptr);
    const std::wstring bundle = Utf::Utf8ToWide(PictureBundle(2));
    std::unique_ptr<TdocDataSource> first(
        TdocDataSource::Create2(bundle.c_str(), static_cast<LONG>(bundle.size())));
    std::unique_ptr<TdocDataSource> second(
        TdocDataSource::Create2(bundle.c_str(), static_cast<LONG>(bundle.size())));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(TdocDataSource::CreateDocumentFromLTF2(*first, *second), nullptr) << "a bundle is no template";
    first.reset();
    second.reset();
    EXPECT_EQ(DadaDudTest::LiveHandles(), 0u);
}

} // namespace
