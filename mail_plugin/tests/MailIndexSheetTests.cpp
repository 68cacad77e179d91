// The index sheets of the mail dialog without the dialog: item sizes worked out by hand from the rule,
// the text colour, the layouts each page size offers, the parameter string, the caption height read from
// an item template, the page file names and the size estimate.
#include "mail_plugin/CMailDlg.h"
#include "mail_plugin/MailIndexSheet.h"

#include "platform/win/WinSeams.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

namespace {

using graphtypes::TSize_T;
namespace sheet = MailIndexSheet;

TEST(MailIndexSheet, ItemSidesOfTheRuleWorkedByHand) {
    const struct {
        LONG pageSize, layout;
        double textHeight;
        double side;
        LONG columns, rows;
    } cases[] = {
        // (640 + 20 - 20 - 8 x 20) / 8 = 60; then down until (s + 20 + 40) x 6 + 20 <= 520: 23.
        {0, 7, 20, 23, 8, 6},
        // No captions: spacing 30, (s + 30) x 6 + 20 <= 510: 51.
        {0, 7, 0, 51, 8, 6},
        // 5 x 3 on 800 x 600 with captions: (800 - 100) / 5 = 140; (s + 60) x 3 + 20 <= 640: 146 > 140.
        {1, 4, 20, 140, 5, 3},
        // One picture on 640 x 480: 620 is taller than 480 - 20, so 460 on one row.
        {0, 0, 0, 460, 1, 1},
    };
    for (const auto& c : cases) {
        sheet::Sheet record;
        ASSERT_TRUE(sheet::ComposeSheet(c.pageSize, c.layout, c.textHeight, 0xFFFFFFFFu, record)) << c.layout;
        EXPECT_EQ(record.itemSize.cx, c.side) << c.pageSize << "/" << c.layout << "/" << c.textHeight;
        EXPECT_EQ(record.itemSize.cy, c.side);
        EXPECT_EQ(record.layout.cx, c.columns);
        EXPECT_EQ(record.layout.cy, c.rows);
    }
}

TEST(MailIndexSheet, AnItemTallerThanThePageForcesOneRow) {
    LONG rows = 3;
    double side = 0;
    ASSERT_TRUE(sheet::ItemSide(TSize_T<double>(640, 480), 1, rows, TSize_T<double>(20, 20), 20, side));
    EXPECT_EQ(side, 440) << "480 - 20 - 20";
    EXPECT_EQ(rows, 1);
    // No side above 0 fits: nothing changes and the sheet is refused.
    rows = 4;
    EXPECT_FALSE(sheet::ItemSide(TSize_T<double>(640, 30), 2, rows, TSize_T<double>(20, 20), 20, side));
    EXPECT_EQ(rows, 4);
    sheet::Sheet record;
    EXPECT_FALSE(sheet::ComposeSheet(4, 0, 0, 0xFFFFFFFFu, record)) << "a page size outside the table";
    EXPECT_FALSE(sheet::ComposeSheet(0, 21, 0, 0xFFFFFFFFu, record)) << "a layout outside the table";
}

TEST(MailIndexSheet, TextColourAndLayoutsOffered) {
    EXPECT_EQ(sheet::TextColour(0xFFFFFFFFu), sheet::kBlackText);
    EXPECT_EQ(sheet::TextColour(0xFF000000u), sheet::kWhiteText);
    EXPECT_EQ(sheet::TextColour(0xFFFF0000u), sheet::kWhiteText) << "blue: 0 + 0 + 255 / 3 = 85";
    EXPECT_EQ(sheet::TextColour(0xFF008080u), sheet::kBlackText) << "128 + 128 + 0";
    EXPECT_EQ(sheet::TextColour(0xFF802020u), sheet::kWhiteText) << "32 + 32 + 128 / 3 = 106";
    const LONG offered[] = {8, 10, 13, 21};
    for (LONG size = 0; size < 4; ++size)
        EXPECT_EQ(sheet::OfferedLayoutCount(size), offered[size]);
    EXPECT_EQ(sheet::OfferedLayoutCount(9), 8);
    const auto layouts = sheet::BuildLayouts();
    ASSERT_EQ(layouts.size(), 21u);
    EXPECT_EQ(layouts[4].label, 1041u);
    EXPECT_EQ(layouts[20].columns, 21);
    EXPECT_EQ(layouts[20].rows, 15);
    EXPECT_EQ(sheet::PageSize(3), TSize_T<LONG>(1600, 1200));
    EXPECT_EQ(sheet::PageSize(4), TSize_T<LONG>(0, 0));
}

TEST(MailIndexSheet, TheParameterStringAndThePageNames) {
    sheet::Sheet record;
    ASSERT_TRUE(sheet::ComposeSheet(0, 7, 20, 0xFFFFFFFFu, record));
    EXPECT_EQ(
        std::wstring(record.FormatParameters()),
        L"pageW=640.000000<;/>pageH=480.000000<;/>itemW=23.000000<;/>itemH=23.000000<;/>nbCols=8<;/>"
        L"nbRows=6<;/>borderL=10.000000<;/>borderT=10.000000<;/>borderR=10.000000<;/>borderB=10.000000<;/>"
        L"spaceW=20.000000<;/>spaceH=20.000000<;/>textHeight=20.000000<;/>bkColor='#ffffffff'<;/>"
        L"textColor='#000000ff'");
    EXPECT_EQ(std::wstring(sheet::PageFileName(0)), L"index.jpg");
    EXPECT_EQ(std::wstring(sheet::PageFileName(1)), L"index_001.jpg");
    EXPECT_EQ(std::wstring(sheet::PageFileName(12)), L"index_012.jpg");
}

TEST(MailIndexSheet, TheCaptionHeightComesFromTheTemplatesFontSize) {
    kvtest::TempFolder folder;
    WinSeams::SetTempBase(folder.Path());
    const struct {
        const wchar_t* attr;
        LONG size;
    } cases[] = {{L"<attr name='font-size'>20</attr>", 20},
                 {L"<attr name='font-size'>0</attr>", 10},
                 {L"<attr name='font-size'></attr>", 10},
                 {L"<attr name='font-family'>Sans</attr>", 10}};
    for (const auto& c : cases) {
        const TString text =
            TString(L"<?xml version='1.0' encoding='utf-8'?><template><property name='font'>") +
            TString(c.attr) + TString(L"</property></template>");
        EXPECT_EQ(sheet::ReadTemplateFontSize(text), c.size) << std::wstring(c.attr);
    }
    EXPECT_EQ(sheet::ReadTemplateFontSize(TString(L"not xml")), 10);
    WinSeams::ResetAll();
}

// The estimate counts the pixels that will be sent: each picture fitted into the attachment box (never
// enlarged), the pictures added up, index sheets page by page; a higher quality costs more bytes a pixel.
// What a pixel costs is the dialog's own guess, so only these properties are checked, not its value.
TEST(MailIndexSheet, TheEstimateCountsThePixelsThatWillBeSent) {
    std::vector<CMailDlg::TItem> large(1), small(1), both(2);
    large[0].pictureSize = both[0].pictureSize = TSize_T<LONG>(4000, 3000);
    small[0].pictureSize = both[1].pictureSize = TSize_T<LONG>(300, 400);
    const auto estimate = [](const std::vector<CMailDlg::TItem>& items, LONG size, LONG quality = 80) {
        return CMailDlg::EstimateMegabytes(items, size, false, 0, 0, quality);
    };
    for (LONG size = 1; size < CMailDlg::kAttachmentSizeCount; ++size) {
        const TSize_T<LONG> box = CMailDlg::AttachmentSize(size);
        if (box.cx <= 0 || box.cy <= 0)
            continue;
        SCOPED_TRACE(std::to_string(box.cx) + " x " + std::to_string(box.cy));
        EXPECT_NEAR(estimate(both, size), estimate(large, size) + estimate(small, size), 1e-12);
        // The picture fitted into the box: its cost goes with the fitted area.
        const auto fitted = [](const TSize_T<LONG>& b) {
            const double fill = std::min(1.0, std::min(double(b.cx) / 4000, double(b.cy) / 3000));
            return (4000 * fill) * (3000 * fill);
        };
        EXPECT_NEAR(estimate(large, size) / estimate(large, 1),
                    fitted(box) / fitted(CMailDlg::AttachmentSize(1)), 1e-3);
        // Smaller than the box, the picture is sent at its own size.
        if (box.cx >= 300 && box.cy >= 400) {
            EXPECT_NEAR(estimate(small, size), estimate(small, CMailDlg::kAttachmentSizeCount - 1), 1e-12);
        }
        EXPECT_GT(estimate(large, size, 100), estimate(large, size, 80));
    }
    EXPECT_NEAR(CMailDlg::EstimateMegabytes(both, 2, true, 2, 1, 80),
                2 * CMailDlg::EstimateMegabytes(both, 2, true, 1, 1, 80), 1e-12);
    EXPECT_EQ(CMailDlg::EstimateMegabytes(both, 2, true, 0, 1, 80), 0);
}

} // namespace
