#include "mail_plugin/TdocDataSource.h"

#include "platform/dadadud/DadaDudTest.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>

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

} // namespace
