#include "CommaLocale.h"

#include "print_plugin/CaptionAlignment.h"
#include "print_plugin/TConfigSettings.h"

#include "platform/davuzozi/davuzOzi.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

const char* kLimits = "<index_print_advanced><minimum_size>0</minimum_size><maximum_size>10</maximum_size>"
                      "<increment_size>1</increment_size></index_print_advanced>";

class ConfigSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(utlStartup(), 1); }
    void TearDown() override { utlShutdown(); }

    // Loads a configuration whose root holds the body.
    bool LoadBody(TConfigSettings& config, const std::string& body) {
        const std::string path = m_folder.File("PrintPluginCfg.xml");
        std::ofstream(path) << "<?xml version=\"1.0\"?><config>" << body << "</config>";
        return config.Load(TString(path.c_str()));
    }

    kvtest::TempFolder m_folder;
};

TEST(CaptionAlignmentTest, OnlyTheThreeExactWordsAreKnown) {
    const std::pair<const wchar_t*, LONG> cases[] = {{L"left", 0},    {L"center", 1}, {L"right", 2},
                                                     {L"middle", -1}, {L"Left", -1},  {L"", -1},
                                                     {L"left ", -1}};
    for (auto [word, code] : cases)
        EXPECT_EQ(CaptionAlignment(word), code) << word;
}

TEST_F(ConfigSettingsTest, OnlyTheIndexPrintLimitsLoadWithEveryOtherDefault) {
    TConfigSettings config;
    ASSERT_TRUE(LoadBody(config, kLimits));
    EXPECT_EQ(config.GetUnit(), LengthUnit::kInch);
    EXPECT_TRUE(config.GetPrinterTypes().empty());
    EXPECT_TRUE(config.GetStandardLayouts().empty());
    EXPECT_EQ(config.GetLargestColumnCount(), 5);
    EXPECT_DOUBLE_EQ(config.GetImageSpacing().cx, 0.05);
    EXPECT_DOUBLE_EQ(config.GetImageSpacing().cy, 0.05);
    EXPECT_EQ(config.GetCaptionMaxSize(), 16);
    EXPECT_DOUBLE_EQ(config.GetCaptionAutoSizeRatio(), 0.1);
    EXPECT_DOUBLE_EQ(config.GetItemAspectRatio(), 1.33);
    EXPECT_EQ(config.GetCaptionAlignment(), 0);
    EXPECT_DOUBLE_EQ(config.GetIndexPrintMinSize(), 0);
    EXPECT_DOUBLE_EQ(config.GetIndexPrintMaxSize(), 10);
    EXPECT_DOUBLE_EQ(config.GetIndexPrintSizeIncrement(), 1);
    EXPECT_EQ(config.GetMaxLimit(), 500);
}

TEST_F(ConfigSettingsTest, AFailingLimitEndsTheLoadKeepingWhatWasReadBeforeIt) {
    struct Case {
        const char* limits;
        double min, max, increment; // what stays
    } cases[] = {
        {"<minimum_size>2</minimum_size><maximum_size>2</maximum_size><increment_size>1</increment_size>", 2,
         0, 0},
        {"<minimum_size>1</minimum_size><maximum_size>3</maximum_size><increment_size>0</increment_size>", 1,
         3, 0},
        {"<minimum_size>-1</minimum_size><maximum_size>3</maximum_size><increment_size>1</increment_size>", 0,
         0, 0},
        {"<maximum_size>3</maximum_size><increment_size>1</increment_size>", 0, 0, 0},
        {"<minimum_size>1</minimum_size><maximum_size>nan</maximum_size><increment_size>1</increment_size>",
         1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limits);
        TConfigSettings config;
        const std::string body =
            std::string("<units><current>cm</current></units><standard_layouts><nb_rows_cols>"
                        "<layout><name>A</name><data>2x2</data></layout></nb_rows_cols>"
                        "</standard_layouts><index_print_advanced>") +
            c.limits + "</index_print_advanced><selection><max_limit>7</max_limit></selection>";
        EXPECT_FALSE(LoadBody(config, body));
        EXPECT_EQ(config.GetUnit(), LengthUnit::kCentimetre) << "read before the limits";
        EXPECT_EQ(config.GetStandardLayouts().size(), 1u);
        EXPECT_DOUBLE_EQ(config.GetIndexPrintMinSize(), c.min);
        EXPECT_DOUBLE_EQ(config.GetIndexPrintMaxSize(), c.max);
        EXPECT_DOUBLE_EQ(config.GetIndexPrintSizeIncrement(), c.increment);
        EXPECT_EQ(config.GetMaxLimit(), 500) << "read after them";
    }
}

TEST_F(ConfigSettingsTest, AMissingOrMalformedFileFailsWithTheDefaultsIntact) {
    TConfigSettings config;
    EXPECT_FALSE(config.Load(TString(m_folder.File("absent.xml").c_str())));
    const std::string path = m_folder.File("broken.xml");
    std::ofstream(path) << "<config><units><current>cm</current></units>";
    EXPECT_FALSE(config.Load(TString(path.c_str())));
    EXPECT_EQ(config.GetUnit(), LengthUnit::kInch);
    EXPECT_EQ(config.GetMaxLimit(), 500);
}

TEST_F(ConfigSettingsTest, UnitsAndAlignmentWords) {
    struct Case {
        const char* unit;
        LONG code;
        const char* alignment;
        LONG aligned;
    } cases[] = {
        {"pixel", 0, "right", 2}, {"mm", 1, "center", 1},     {"cm", 2, "left", 0},
        {"inch", 3, "middle", 0}, {"points", -1, "Right", 0},
    };
    for (const Case& c : cases) {
        TConfigSettings config;
        ASSERT_TRUE(LoadBody(config, std::string("<units><current>") + c.unit + "</current></units>" +
                                         kLimits + "<caption><alignment><crt_value>" + c.alignment +
                                         "</crt_value></alignment></caption>"));
        EXPECT_EQ(config.GetUnit(), c.code) << c.unit;
        EXPECT_EQ(config.GetCaptionAlignment(), c.aligned) << c.alignment;
    }
}

TEST_F(ConfigSettingsTest, LayoutListsKeepTheFilesOrderAndSkipNamelessOnes) {
    TConfigSettings config;
    ASSERT_TRUE(
        LoadBody(config, std::string(kLimits) +
                             "<standard_layouts>"
                             "<image_size><layout><name>Big</name><data>4.5x6</data></layout></image_size>"
                             "<nb_rows_cols>"
                             "<layout><name>Three by four</name><data>3x4</data></layout>"
                             "<layout><data>5x5</data></layout>"
                             "<layout><name>Crossless</name><data>34</data></layout>"
                             "<layout><name>Empty</name><data></data></layout>"
                             "<layout><name>Half</name><data>x7</data></layout>"
                             "</nb_rows_cols></standard_layouts>"));
    const std::vector<LayoutRecord>& layouts = config.GetStandardLayouts();
    ASSERT_EQ(layouts.size(), 4u);
    struct Expected {
        const wchar_t* name;
        bool byRowsCols;
        double first, second;
    } expected[] = {{L"Three by four", true, 3, 4},
                    {L"Crossless", true, 0, 0},
                    {L"Half", true, 0, 7},
                    {L"Big", false, 4.5, 6}};
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        EXPECT_EQ(layouts[i].name, expected[i].name) << i;
        EXPECT_EQ(layouts[i].byRowsCols, expected[i].byRowsCols) << i;
        EXPECT_DOUBLE_EQ(layouts[i].size.cx, expected[i].first) << i;
        EXPECT_DOUBLE_EQ(layouts[i].size.cy, expected[i].second) << i;
    }
    config.Clear();
    EXPECT_TRUE(config.GetStandardLayouts().empty());
}

TEST_F(ConfigSettingsTest, PrinterTypesReadTheirResolutionsAsWholeNumbers) {
    TConfigSettings config;
    ASSERT_TRUE(
        LoadBody(config, std::string(kLimits) +
                             "<printer_types>"
                             "<printer_type><name>Fine</name><res_dpi>300x600</res_dpi></printer_type>"
                             "<printer_type><name>Plain</name><res_dpi>300</res_dpi></printer_type>"
                             "<printer_type><name>Huge</name><res_dpi>99999999999x5</res_dpi></printer_type>"
                             "<printer_type><res_dpi>1x1</res_dpi></printer_type>"
                             "</printer_types>"));
    const std::vector<PrinterTypeRecord>& types = config.GetPrinterTypes();
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0].name, L"Fine");
    EXPECT_EQ(types[0].resolution, (graphtypes::TSize_T<LONG>(300, 600)));
    EXPECT_EQ(types[1].resolution, (graphtypes::TSize_T<LONG>(0, 0)));
    EXPECT_EQ(types[2].resolution, (graphtypes::TSize_T<LONG>(0, 5))) << "a side beyond 32 bits stays 0";
}

TEST_F(ConfigSettingsTest, TheShippedFileLoads) {
    TConfigSettings config;
    ASSERT_TRUE(config.Load(TString(KV_PRINT_CONFIG_FILE)));
    EXPECT_EQ(config.GetUnit(), LengthUnit::kInch);
    ASSERT_EQ(config.GetStandardLayouts().size(), 9u);
    EXPECT_TRUE(config.GetStandardLayouts()[4].byRowsCols);
    EXPECT_EQ(config.GetStandardLayouts()[4].size, (graphtypes::TSize_T<double>(3, 4)));
    EXPECT_FALSE(config.GetStandardLayouts()[5].byRowsCols);
    ASSERT_EQ(config.GetPrinterTypes().size(), 3u);
    EXPECT_EQ(config.GetPrinterTypes()[0].resolution, (graphtypes::TSize_T<LONG>(150, 150)));
    EXPECT_DOUBLE_EQ(config.GetIndexPrintSizeIncrement(), 0.25);
    EXPECT_EQ(config.GetMaxLimit(), 500);
}

TEST_F(ConfigSettingsTest, RealsReadTheSameInALocaleWithADecimalComma) {
    TConfigSettings config;
    bool loaded = false;
    {
        CommaLocale comma;
        ASSERT_TRUE(comma.Active()) << "localedef made no locale with a decimal comma";
        loaded =
            LoadBody(config, std::string(kLimits) + "<itemAspectRatio>1.5</itemAspectRatio>"
                                                    "<standard_layouts><image_size><layout><name>A</name>"
                                                    "<data>2.5x3.25</data></layout></image_size>"
                                                    "</standard_layouts>");
    }
    ASSERT_TRUE(loaded);
    EXPECT_DOUBLE_EQ(config.GetItemAspectRatio(), 1.5);
    EXPECT_DOUBLE_EQ(config.GetStandardLayouts()[0].size.cx, 2.5);
    EXPECT_DOUBLE_EQ(config.GetStandardLayouts()[0].size.cy, 3.25);
}

} // namespace
