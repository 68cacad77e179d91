#include "CommaLocale.h"

#include "print_plugin/TUserOptions.h"

#include "plugin_framework/TBasicQWComp.h"

#include "platform/host/CScriptedHost.h"
#include "testing/ScriptedModuleTest.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

namespace {

class OptionsModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Print options test module"; }
    TString GetLanguageDllName() override { return L"NoPrintTestLang.dll"; }
};

// This program's module object, started by the scripted host, whose registry service keeps the options.
class UserOptionsTest : public ScriptedModuleTest<OptionsModule> {
protected:
    // Keys are whole paths below "PrintPI" with the value name "Default".
    void Put(const std::string& path, const std::string& text) {
        m_host->Registry().PutText("PrintPI\\" + path, "Default", text);
    }
    std::optional<std::string> Stored(const std::string& path) const {
        return m_host->Registry().Text("PrintPI\\" + path, "Default");
    }
};

TEST_F(UserOptionsTest, WithoutARegistryServiceLoadAndSaveFailAndNothingChanges) {
    m_host->WithholdService(KvwService::kRegistry, 0x1101);
    TUserOptions options;
    options.columns = 8;
    EXPECT_FALSE(options.Load());
    EXPECT_EQ(options.columns, 8);
    EXPECT_FALSE(options.Save());
    EXPECT_FALSE(Stored("print_as"));
}

TEST_F(UserOptionsTest, AnEmptySectionKeepsEveryFieldButThreeFlags) {
    TUserOptions options;
    options.printAs = 1;
    options.columns = 7;
    options.rotateToFit = true;
    options.metadataEnabled = true;
    options.metadata.imprintEnabled = true;
    options.metadata.imprintDateAndTime = true;
    options.metadata.captionFlags = TMetadataSettings::kDetailed;
    ASSERT_TRUE(options.Load());
    EXPECT_EQ(options.printAs, 1);
    EXPECT_EQ(options.columns, 7);
    EXPECT_TRUE(options.rotateToFit);
    EXPECT_EQ(options.metadata.captionFlags, TMetadataSettings::kDetailed);
    EXPECT_FALSE(options.metadataEnabled);
    EXPECT_FALSE(options.metadata.imprintEnabled);
    EXPECT_FALSE(options.metadata.imprintDateAndTime);
}

TEST_F(UserOptionsTest, StoredTextsFollowTheReadingRules) {
    struct Case {
        const char* path;
        const char* text;
        std::function<bool(const TUserOptions&, const PrinterOptionRecord&)> holds;
    } cases[] = {
        {"standard_print\\layout_index", "-1", [](auto& o, auto&) { return o.layoutIndex == 3; }},
        {"standard_print\\layout_index", "99", [](auto& o, auto&) { return o.layoutIndex == 99; }},
        {"index_print\\index_print_type", "-1", [](auto& o, auto&) { return o.indexPrintType == 1; }},
        {"index_print\\easy\\nb_cols", "many", [](auto& o, auto&) { return o.columns == 5; }},
        {"index_print\\easy\\nb_cols", "4294967297", [](auto& o, auto&) { return o.columns == 5; }},
        {"index_print\\advanced\\item_w", "2.5", [](auto& o, auto&) { return o.itemSize.cx == 2.5; }},
        {"metadata\\enabled", "2", [](auto& o, auto&) { return !o.metadataEnabled; }},
        {"metadata\\enabled", "1", [](auto& o, auto&) { return o.metadataEnabled; }},
        {"metadata\\caption\\flags\\additional", "1",
         [](auto& o, auto&) { return o.metadata.captionFlags == (TMetadataSettings::kBasic | 4); }},
        {"metadata\\caption\\flags\\basic", "0",
         [](auto& o, auto&) { return o.metadata.captionFlags == TMetadataSettings::kBasic; }},
        {"metadata\\caption\\font\\face", "",
         [](auto& o, auto&) { return o.metadata.captionFont.face == L"Arial"; }},
        {"metadata\\caption\\font\\face", "DejaVu Sans",
         [](auto& o, auto&) { return o.metadata.captionFont.face == L"DejaVu Sans"; }},
        {"metadata\\caption\\font\\style", "italic,bold,underline",
         [](auto& o, auto&) { return o.metadata.captionFont.style == 3; }},
        {"metadata\\imprints\\font\\style", "underline",
         [](auto& o, auto&) { return o.metadata.imprintFont.style == 2; }},
        {"metadata\\imprints\\color", "#ff8000",
         [](auto& o, auto&) { return o.metadata.imprintColour == 0xFF0080FFu; }},
        {"metadata\\imprints\\color", "#ff80",
         [](auto& o, auto&) { return o.metadata.imprintColour == 0x11223344u; }},
        {"metadata\\imprints\\color", "red",
         [](auto& o, auto&) { return o.metadata.imprintColour == 0x11223344u; }},
        {"rotate_to_fit", "yes", [](auto& o, auto&) { return !o.rotateToFit; }},
        {"borderless_print", "1", [](auto& o, auto&) { return o.borderlessPrint; }},
        {"printer_options\\printer_name", "", [](auto&, auto& r) { return r.printerName.IsEmpty(); }},
        {"printer_options\\paper_orientation", "portrait", [](auto&, auto& r) { return r.portrait == 1; }},
        {"printer_options\\paper_orientation", "Portrait", [](auto&, auto& r) { return r.portrait == 0; }},
        {"printer_options\\paper_orientation", "landscape", [](auto&, auto& r) { return r.portrait == 0; }},
        {"printer_options\\user_margins\\right", "8.5",
         [](auto&, auto& r) { return r.pageRect.right == 8.5; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " = " + c.text);
        m_host->Registry().PutText("PrintPI\\" + std::string(c.path), "Default", c.text);
        {
            // The options hold the host's service: they go before the host does.
            TUserOptions options;
            PrinterOptionRecord record;
            record.printerName = L"Before";
            record.portrait = 1;
            options.layoutIndex = 3;
            options.indexPrintType = 1;
            options.rotateToFit = true;
            options.metadata.captionFlags = TMetadataSettings::kBasic;
            options.metadata.imprintFont.style = 2;
            options.metadata.imprintColour = 0x11223344u;
            options.SetPrinterSettings(&record);
            ASSERT_TRUE(options.Load());
            EXPECT_TRUE(c.holds(options, record));
        }
        // Each case starts from an empty section again.
        m_host.reset();
        SetUp();
    }
}

TEST_F(UserOptionsTest, SavedOptionsLoadIntoAFreshRecordEqual) {
    PrinterOptionRecord record;
    record.printerName = L"Office PDF";
    record.paperName = L"A5";
    record.portrait = 0;
    record.pageRect = graphtypes::TRect_T<double>(0, 0, 5.826772, 8.267717);
    TUserOptions saved;
    saved.SetPrinterSettings(&record);
    ASSERT_TRUE(saved.Load());
    saved.printAs = TUserOptions::kIndexPrint;
    saved.layoutIndex = 4;
    saved.indexPrintType = 1;
    saved.columns = 9;
    saved.itemSize = graphtypes::TSize_T<double>(1.25, 2.5);
    saved.printerKindIndex = 2;
    saved.metadataEnabled = true;
    saved.metadata.captionFlags = TMetadataSettings::kBasic | TMetadataSettings::kDetailed;
    saved.metadata.captionFont = TFontInfo{L"DejaVu Serif", TFontInfo::kBold | TFontInfo::kItalic, 12};
    saved.metadata.imprintEnabled = true;
    saved.metadata.imprintDateAndTime = true;
    saved.metadata.imprintColour = 0xFF0080FFu;
    saved.metadata.imprintFont = TFontInfo{L"DejaVu Sans", TFontInfo::kItalic, -1};
    saved.rotateToFit = true;
    saved.borderlessPrint = true;
    saved.useReplicate = true;
    saved.replicas = 3;
    ASSERT_TRUE(saved.Save());
    EXPECT_EQ(Stored("printer_options\\paper_orientation"), "landcape");
    EXPECT_EQ(Stored("printer_options\\port_name"), "A5");
    EXPECT_EQ(Stored("metadata\\imprints\\color"), "#ff8000");
    EXPECT_EQ(Stored("metadata\\caption\\font\\style"), "bold,italic");
    EXPECT_EQ(Stored("metadata\\imprints\\font\\style"), "italic");
    EXPECT_EQ(Stored("index_print\\advanced\\item_w"), "1.250000");
    EXPECT_EQ(m_host->Registry().Commits(), 1);

    PrinterOptionRecord loadedRecord;
    TUserOptions loaded;
    loaded.SetPrinterSettings(&loadedRecord);
    ASSERT_TRUE(loaded.Load());
    EXPECT_EQ(loaded.printAs, saved.printAs);
    EXPECT_EQ(loaded.layoutIndex, 4);
    EXPECT_EQ(loaded.indexPrintType, 1);
    EXPECT_EQ(loaded.columns, 9);
    EXPECT_EQ(loaded.itemSize, saved.itemSize);
    EXPECT_EQ(loaded.printerKindIndex, 2);
    EXPECT_TRUE(loaded.metadataEnabled);
    EXPECT_EQ(loaded.metadata.captionFlags, saved.metadata.captionFlags);
    EXPECT_EQ(loaded.metadata.captionFont.face, L"DejaVu Serif");
    EXPECT_EQ(loaded.metadata.captionFont.style, 3);
    EXPECT_EQ(loaded.metadata.captionFont.size, 12);
    EXPECT_TRUE(loaded.metadata.imprintEnabled);
    EXPECT_TRUE(loaded.metadata.imprintDateAndTime);
    EXPECT_EQ(loaded.metadata.imprintColour, 0xFF0080FFu);
    EXPECT_EQ(loaded.metadata.imprintFont.size, -1);
    EXPECT_TRUE(loaded.rotateToFit);
    EXPECT_TRUE(loaded.borderlessPrint);
    EXPECT_TRUE(loaded.useReplicate);
    EXPECT_EQ(loaded.replicas, 3);
    EXPECT_EQ(loadedRecord.printerName, L"Office PDF");
    EXPECT_EQ(loadedRecord.paperName, L"A5");
    EXPECT_EQ(loadedRecord.portrait, 0);
    EXPECT_FALSE(loadedRecord.pageRect != record.pageRect);
}

TEST_F(UserOptionsTest, RealsAreWrittenWithAPointWhateverTheLocale) {
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    options.itemSize = graphtypes::TSize_T<double>(1.5, 0.25);
    {
        CommaLocale comma;
        ASSERT_TRUE(comma.Active()) << "localedef made no locale with a decimal comma";
        ASSERT_TRUE(options.Save());
        TUserOptions loaded;
        ASSERT_TRUE(loaded.Load());
        EXPECT_EQ(loaded.itemSize, options.itemSize);
    }
    EXPECT_EQ(Stored("index_print\\advanced\\item_w"), "1.500000");
    EXPECT_EQ(Stored("index_print\\advanced\\item_h"), "0.250000");
}

TEST_F(UserOptionsTest, ARestrictedHostReportsFixedValuesAndSavesMetadataOff) {
    m_host->Panes().SetNumber(TUserOptions::kRestrictedHostNumber);
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    options.printAs = TUserOptions::kIndexPrint;
    options.layoutIndex = 2;
    options.rotateToFit = false;
    options.borderlessPrint = true;
    options.useReplicate = true;
    options.metadataEnabled = true;
    EXPECT_TRUE(options.IsRestrictedHost());
    EXPECT_EQ(options.GetPrintAs(), 0);
    EXPECT_EQ(options.GetLayoutIndex(), 0);
    EXPECT_TRUE(options.GetRotateToFit());
    EXPECT_FALSE(options.GetBorderlessPrint());
    EXPECT_FALSE(options.GetUseReplicate());
    EXPECT_FALSE(options.IsMetadataEnabled());
    ASSERT_TRUE(options.Save());
    EXPECT_EQ(Stored("metadata\\enabled"), "0");
    EXPECT_EQ(Stored("print_as"), "1") << "the stored field";
    EXPECT_EQ(Stored("rotate_to_fit"), "0");
    EXPECT_EQ(options.printAs, TUserOptions::kIndexPrint) << "the fields stay";

    m_host->Panes().SetNumber(0);
    EXPECT_FALSE(options.IsRestrictedHost());
    EXPECT_EQ(options.GetPrintAs(), TUserOptions::kIndexPrint);
    EXPECT_TRUE(options.GetBorderlessPrint());
}

TEST_F(UserOptionsTest, WithoutAPrinterRecordThePrinterKeysAreLeftAlone) {
    Put("printer_options\\printer_name", "Kept");
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    ASSERT_TRUE(options.Save());
    EXPECT_EQ(Stored("printer_options\\printer_name"), "Kept");
    EXPECT_FALSE(Stored("printer_options\\paper_orientation"));
    options.SetDefaults();
    EXPECT_EQ(options.columns, 5);
    EXPECT_EQ(options.replicas, 1);
}

TEST_F(UserOptionsTest, AFailingFinalCallFailsTheSave) {
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    m_host->Registry().FailEntry(CHostRegistryService::kCommit, 0x1101);
    EXPECT_FALSE(options.Save());
    EXPECT_EQ(Stored("print_as"), "0") << "the single writes went through";
}

TEST(StyleWordsTest, WordsAddBitsAndBitsGiveWords) {
    const std::tuple<const wchar_t*, LONG, LONG> reads[] = {{L"bold", 0, 1},        {L"italic", 0, 2},
                                                            {L"bold,italic", 0, 3}, {L"", 2, 2},
                                                            {L"Bold", 0, 0},        {L"x,,italic", 1, 3}};
    for (auto [text, before, after] : reads)
        EXPECT_EQ(AddStyleWords(text, before), after) << text;
    EXPECT_EQ(StyleWords(0), L"");
    EXPECT_EQ(StyleWords(1), L"bold");
    EXPECT_EQ(StyleWords(2), L"italic");
    EXPECT_EQ(StyleWords(3), L"bold,italic");
}

} // namespace
