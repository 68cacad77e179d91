// The mail options over the scripted host's registry service, and the configuration file's limit.
#include "mail_plugin/TConfigSettings.h"
#include "mail_plugin/TUserOptions.h"

#include "plugin_framework/TBasicQWComp.h"

#include "platform/davuzozi/davuzOzi.h"
#include "platform/host/CScriptedHost.h"
#include "testing/ScriptedModuleTest.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace {

class OptionsModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Mail options test module"; }
    TString GetLanguageDllName() override { return L"NoMailTestLang.dll"; }
};

// This program's module object, started by the scripted host, whose registry service keeps the options.
class MailOptionsTest : public ScriptedModuleTest<OptionsModule> {
protected:
    void Put(const std::string& path, const std::string& text) {
        m_host->Registry().PutText("MailPI\\" + path, "Default", text);
    }
    std::optional<std::string> Stored(const std::string& path) const {
        return m_host->Registry().Text("MailPI\\" + path, "Default");
    }
};

TEST_F(MailOptionsTest, TheDefaultsAreThoseOfAFirstUse) {
    TUserOptions options;
    EXPECT_EQ(options.sendAs, TUserOptions::kIndexSheet);
    EXPECT_EQ(options.pageLayout, 0);
    EXPECT_EQ(options.pageSize, 0);
    EXPECT_EQ(options.imageSize, 1);
    EXPECT_EQ(options.jpegQuality, 80);
    EXPECT_FALSE(options.showMoreOptions);
    EXPECT_FALSE(options.useCaption);
    EXPECT_TRUE(options.connectionName.IsEmpty());
    EXPECT_EQ(options.pageBackgroundColour, 0xFFFFFFFFu);
    ASSERT_TRUE(options.Load()) << "an empty section keeps every default";
    EXPECT_EQ(options.sendAs, TUserOptions::kIndexSheet);
    EXPECT_EQ(options.jpegQuality, 80);
    EXPECT_EQ(options.pageBackgroundColour, 0xFFFFFFFFu);
}

TEST_F(MailOptionsTest, TheQualityIsClampedIntoFiftyToAHundred) {
    const struct {
        const char* stored;
        LONG read;
    } cases[] = {{"30", 50}, {"50", 50}, {"51", 51}, {"100", 100}, {"250", 100}, {"-7", 50}, {"many", 80}};
    for (const auto& c : cases) {
        Put("output_jpeg_quality", c.stored);
        TUserOptions options;
        ASSERT_TRUE(options.Load());
        EXPECT_EQ(options.jpegQuality, c.read) << c.stored;
    }
}

TEST_F(MailOptionsTest, OnlyTheExactWordIndexSheetMeansIndexSheets) {
    const struct {
        const char* stored;
        LONG read;
    } cases[] = {{"index_sheet", 1}, {"Index_Sheet", 0}, {"individual", 0}, {"", 1}, {"index_sheet ", 0}};
    for (const auto& c : cases) {
        Put("send_as", c.stored);
        TUserOptions options;
        ASSERT_TRUE(options.Load());
        EXPECT_EQ(options.sendAs, c.read) << '"' << c.stored << '"';
    }
    EXPECT_EQ(TUserOptions::SendAsToString(1), L"index_sheet");
    EXPECT_EQ(TUserOptions::SendAsToString(0), L"individual");
    EXPECT_EQ(TUserOptions::SendAsToString(5), L"individual");
}

TEST_F(MailOptionsTest, NegativeIndexesBecomeZeroAndLargeOnesAreKeptAsRead) {
    Put("index_print\\page_size", "-3");
    Put("index_print\\page_layout", "-1");
    Put("image_attachments\\image_size", "-9");
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    EXPECT_EQ(options.pageSize, 0);
    EXPECT_EQ(options.pageLayout, 0);
    EXPECT_EQ(options.imageSize, 0);

    // Out of range above: kept by Load and Save, guarded where the dialog reads them.
    Put("index_print\\page_size", "9");
    Put("image_attachments\\image_size", "12");
    Put("index_print\\page_layout", "40");
    ASSERT_TRUE(options.Load());
    EXPECT_EQ(options.pageSize, 9);
    EXPECT_EQ(options.imageSize, 12);
    EXPECT_EQ(options.pageLayout, 40);
    EXPECT_EQ(options.GetPageSize(), 0);
    EXPECT_EQ(options.GetImageSize(), TUserOptions::kDefaultImageSize);
    ASSERT_TRUE(options.Save());
    EXPECT_EQ(Stored("index_print\\page_size"), "9");
    EXPECT_EQ(Stored("image_attachments\\image_size"), "12");

    const std::pair<LONG, LONG> pageSizes[] = {{0, 0}, {3, 3}, {4, 0}};
    for (auto [stored, used] : pageSizes) {
        options.pageSize = stored;
        EXPECT_EQ(options.GetPageSize(), used) << stored;
    }
    const std::pair<LONG, LONG> imageSizes[] = {{0, 0}, {6, 6}, {7, 7}, {8, 1}};
    for (auto [stored, used] : imageSizes) {
        options.imageSize = stored;
        EXPECT_EQ(options.GetImageSize(), used) << stored;
    }
}

TEST_F(MailOptionsTest, FlagsTextsAndColoursFollowTheirOwnRules) {
    Put("index_print\\use_caption", "1");
    Put("Show_more_options", "2");
    Put("connection_name", "Dial-up \"home\"");
    Put("index_print\\page_bkcolor", "#ff8000");
    TUserOptions options;
    options.showMoreOptions = true;
    ASSERT_TRUE(options.Load());
    EXPECT_TRUE(options.useCaption);
    EXPECT_FALSE(options.showMoreOptions) << "present and not 1";
    EXPECT_EQ(options.connectionName, L"Dial-up \"home\"");
    EXPECT_EQ(options.pageBackgroundColour, 0xFF0080FFu);

    // An empty text keeps the field; a malformed colour keeps it too.
    const char* badColours[] = {"", "#ff80", "ff8000", "#ff80zz", "#ff8000ff00"};
    for (const char* colour : badColours) {
        Put("index_print\\page_bkcolor", colour);
        Put("connection_name", "");
        ASSERT_TRUE(options.Load());
        EXPECT_EQ(options.pageBackgroundColour, 0xFF0080FFu) << '"' << colour << '"';
        EXPECT_EQ(options.connectionName, L"Dial-up \"home\"");
    }
}

TEST_F(MailOptionsTest, SaveWritesEveryKeyAndTheDefaultColourAsWhite) {
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    options.connectionName = L"Office";
    options.useCaption = true;
    ASSERT_TRUE(options.Save());
    const std::pair<const char*, const char*> stored[] = {{"send_as", "index_sheet"},
                                                          {"output_jpeg_quality", "80"},
                                                          {"connection_name", "Office"},
                                                          {"index_print\\page_layout", "0"},
                                                          {"index_print\\page_size", "0"},
                                                          {"index_print\\use_caption", "1"},
                                                          {"index_print\\page_bkcolor", "#ffffff"},
                                                          {"image_attachments\\image_size", "1"},
                                                          {"Show_more_options", "0"}};
    for (auto [path, text] : stored)
        EXPECT_EQ(Stored(path), text) << path;

    // A round trip gives the same options.
    TUserOptions again;
    again.sendAs = 0;
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.sendAs, 1);
    EXPECT_EQ(again.connectionName, L"Office");
    EXPECT_TRUE(again.useCaption);
    EXPECT_EQ(again.pageBackgroundColour, 0xFFFFFFFFu);
}

TEST_F(MailOptionsTest, ARestrictedHostSendsIndividualPicturesNeverAtTheirOwnSize) {
    Put("send_as", "index_sheet");
    Put("image_attachments\\image_size", "7");
    m_host->Panes().SetNumber(TUserOptions::kRestrictedHostNumber);
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    EXPECT_TRUE(options.IsRestrictedHost());
    EXPECT_EQ(options.GetSendAs(), 0);
    EXPECT_EQ(options.GetImageSize(), 2);
    options.imageSize = 3;
    EXPECT_EQ(options.GetImageSize(), 3);
    options.imageSize = 9; // past the own size: the default, never an unscaled picture
    EXPECT_EQ(options.GetImageSize(), 1);
    options.imageSize = 7;
    ASSERT_TRUE(options.Save());
    EXPECT_EQ(Stored("send_as"), "index_sheet");
    EXPECT_EQ(Stored("image_attachments\\image_size"), "7");

    m_host->Panes().SetNumber(0);
    EXPECT_FALSE(options.IsRestrictedHost());
    EXPECT_EQ(options.GetSendAs(), 1);
    EXPECT_EQ(options.GetImageSize(), 7);
}

TEST_F(MailOptionsTest, WithoutARegistryServiceLoadAndSaveFailAndNothingChanges) {
    m_host->WithholdService(KvwService::kRegistry, 0x1101);
    TUserOptions options;
    options.jpegQuality = 95;
    EXPECT_FALSE(options.Load());
    EXPECT_EQ(options.jpegQuality, 95);
    EXPECT_FALSE(options.Save());
    EXPECT_FALSE(Stored("send_as"));
}

class MailConfigTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(utlStartup(), 1); }
    void TearDown() override { utlShutdown(); }
    kvtest::TempFolder m_folder;
};

TEST_F(MailConfigTest, TheLimitComesFromTheFileOrStaysFiveHundred) {
    const struct {
        const char* body;
        bool loads;
        LONG limit;
    } cases[] = {{"<selection><max_limit>40</max_limit></selection>", true, 40},
                 {"<selection/>", true, 500},
                 {"", true, 500},
                 {"<selection><max_limit>", false, 500}};
    for (const auto& c : cases) {
        const std::string path = m_folder.File("MailPluginCfg.xml");
        std::ofstream(path, std::ios::trunc) << "<?xml version=\"1.0\"?><config>" << c.body << "</config>";
        TConfigSettings config;
        EXPECT_EQ(config.Load(TString(path.c_str())), c.loads) << c.body;
        EXPECT_EQ(config.GetMaxLimit(), c.limit) << c.body;
    }
    TConfigSettings missing;
    EXPECT_FALSE(missing.Load(TString(m_folder.File("none.xml").c_str())));
    EXPECT_FALSE(std::ifstream(m_folder.File("none.xml"))) << "never created";
    TConfigSettings shipped;
    ASSERT_TRUE(shipped.Load(TString(KV_MAIL_CONFIG_FILE)));
    EXPECT_EQ(shipped.GetMaxLimit(), 500);
}

} // namespace
