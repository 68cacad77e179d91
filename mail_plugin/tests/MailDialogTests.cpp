// The mail dialog from end to end, as a user mails: KvtMail.qw7 loaded by the scripted host with its
// language library, the host's photos selected, the dialog driven by its commands inside its modal loop,
// the attachments written by the saver or the page renderer and handed to simple MAPI, whose draft in the
// outbox is read back with Python's email package and the attachments with libjpeg.
#include "MailTestModule.h"
#include "SavedJpeg.h"

#include "mail_plugin/TMailPlugin.h"

#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using mailtest::ReadSavedJpeg;

constexpr DWORD kDeadline = 60000;
constexpr DWORD kFullImageRequest = 0x10000103;

struct Attachment {
    std::string name;
    std::string type;
    std::string path;
};

class MailDialogTest : public kvtest::PluginModuleTest {
protected:
    MailDialogTest() : PluginModuleTest(MailModuleFiles(), kDeadline) {}

    // The mail dialog needs no configuration file.
    void Start() { PluginModuleTest::Start(""); }

    std::vector<fs::path> Outbox() const {
        std::vector<fs::path> drafts;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_machine.File("Outbox"), ec))
            drafts.push_back(entry.path());
        return drafts;
    }
    // The attachments of the only draft, as Python's email package reads them.
    std::vector<Attachment> Attachments() {
        const std::vector<fs::path> drafts = Outbox();
        EXPECT_EQ(drafts.size(), 1u);
        if (drafts.size() != 1)
            return {};
        const std::string command =
            "python3 '" KV_MAIL_READ_DRAFT "' '" + drafts[0].string() + "' '" + m_parts.Path() + "'";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::vector<Attachment> parts;
        char line[4096];
        bool first = true;
        while (pipe && fgets(line, sizeof line, pipe.get())) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            if (first) {
                EXPECT_EQ(text, "defects=0");
                first = false;
                continue;
            }
            const std::size_t a = text.find('|'), b = text.find('|', a + 1);
            parts.push_back(Attachment{text.substr(0, a), text.substr(a + 1, b - a - 1), text.substr(b + 1)});
        }
        return parts;
    }
    static LONG Count(HWND dialog, int id) {
        return static_cast<LONG>(SendMessageW(GetDlgItem(dialog, id), CB_GETCOUNT, 0, 0));
    }

    kvtest::TempFolder m_parts;
};

// Every attachment decodes to its size, keeps its colour and carries libjpeg's tables of the quality.
void ExpectJpegs(const std::vector<Attachment>& parts, const std::vector<std::string>& names,
                 const std::vector<std::pair<int, int>>& sizes,
                 const std::vector<std::array<BYTE, 3>>& colours, int quality) {
    ASSERT_EQ(parts.size(), names.size());
    const auto tables = mailtest::ReferenceTables(quality);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].name, names[i]);
        EXPECT_EQ(parts[i].type, "image/jpeg");
        const auto saved = ReadSavedJpeg(parts[i].path);
        ASSERT_TRUE(saved) << names[i];
        EXPECT_EQ(std::make_pair(saved->width, saved->height), sizes[i]) << names[i];
        EXPECT_EQ(saved->luma, tables[0]) << names[i];
        EXPECT_EQ(saved->chroma, tables[1]) << names[i];
        for (std::size_t c = 0; c < colours.size() && i < colours.size() && c < 3; ++c)
            EXPECT_NEAR(saved->meanRgb[c], colours[i][c], 2.0) << names[i] << " channel " << c;
    }
}

TEST_F(MailDialogTest, ThreePicturesMailedOneByOneAt640x480) {
    Put("send_as", "individual");
    Put("image_attachments\\image_size", "2");
    Put("output_jpeg_quality", "80");
    AddPhoto("C:\\Pictures\\IMG_1.jpg", 4000, 3000, {200, 40, 40});
    AddPhoto("/home/user/Pictures/IMG_2.jpg", 3000, 4000, {40, 160, 60});
    AddPhoto("IMG_3.jpg", 500, 400, {50, 60, 220});
    Start();
    RunDialog({[](HWND dialog) { return Click(dialog, CMailDlg::kSendButton); }});
    EXPECT_TRUE(Boxes().empty());
    ExpectJpegs(Attachments(), {"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"}, {{640, 480}, {360, 480}, {500, 400}},
                {{200, 40, 40}, {40, 160, 60}, {50, 60, 220}}, 80);
    EXPECT_EQ(Stored("Show_more_options"), "0") << "the options were saved after the hand-over";
}

TEST_F(MailDialogTest, ThirtyPicturesMailedAsTwoIndexSheets) {
    Put("send_as", "index_sheet");
    Put("index_print\\page_size", "1");
    Put("index_print\\page_layout", "4");
    Put("index_print\\use_caption", "1");
    Put("output_jpeg_quality", "80");
    for (int i = 1; i <= 30; ++i)
        AddPhoto("IMG_" + std::to_string(i) + ".jpg", 320, 240, {90, 90, 200});
    Start();
    RunDialog({[](HWND dialog) {
                   // Two pages previewed: only forward from the first, only back from the second, and
                   // the label names the page as soon as it turns.
                   EXPECT_FALSE(Enabled(dialog, CMailDlg::kPreviousPage));
                   EXPECT_TRUE(Enabled(dialog, CMailDlg::kNextPage));
                   Click(dialog, CMailDlg::kNextPage);
                   EXPECT_TRUE(Enabled(dialog, CMailDlg::kPreviousPage));
                   EXPECT_FALSE(Enabled(dialog, CMailDlg::kNextPage));
                   EXPECT_EQ(Text(dialog, CMailDlg::kPageLabel), L"Page 2 of 2");
                   Click(dialog, CMailDlg::kNextPage);
                   EXPECT_EQ(Text(dialog, CMailDlg::kPageLabel), L"Page 2 of 2") << "no page past the last";
                   Click(dialog, CMailDlg::kPreviousPage);
                   EXPECT_EQ(Text(dialog, CMailDlg::kPageLabel), L"Page 1 of 2");
                   EXPECT_FALSE(Enabled(dialog, CMailDlg::kPreviousPage));
                   return true;
               },
               [](HWND dialog) { return Click(dialog, CMailDlg::kSendButton); }});
    EXPECT_TRUE(Boxes().empty());
    ExpectJpegs(Attachments(), {"index.jpg", "index_001.jpg"}, {{800, 600}, {800, 600}}, {}, 80);
    EXPECT_EQ(Stored("Show_more_options"), "0") << "the options were saved after the hand-over";
}

TEST_F(MailDialogTest, TwoPicturesOfOneBaseNameAndOneThatFails) {
    Put("send_as", "individual");
    Put("image_attachments\\image_size", "0");
    AddPhoto("/a/IMG_0001.jpg", 320, 240, {250, 250, 250});
    AddPhoto("/b/IMG_0001.jpg", 320, 240, {10, 10, 10});
    AddPhoto("/c/broken.jpg", 320, 240, {10, 10, 10}, false);
    AddPhoto("", 200, 100, {120, 120, 120});
    const DWORD broken = KvwItemIdLow(m_ids[2]);
    m_host->SetScript(kFullImageRequest, [&](const CHostRequest& request) {
        // The host says the picture is ready without having it.
        if (static_cast<DWORD>(request.words[0]) == broken)
            return CHostReply{kKvwOk,
                              {CScriptedHost::CompletionOf(request, KvwHostMessage::kFullImageReady)}};
        return m_host->DefaultReply(request);
    });
    Start();
    RunDialog({[](HWND dialog) { return Click(dialog, CMailDlg::kSendButton); }});
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{L"A picture could not be prepared for the e-mail."});
    ExpectJpegs(Attachments(), {"IMG_0001.jpg", "IMG_0001_001.jpg", "image.jpg"},
                {{160, 120}, {160, 120}, {160, 80}}, {{250, 250, 250}, {10, 10, 10}, {120, 120, 120}}, 80);
    for (const auto& entry : fs::recursive_directory_iterator(m_temp.Path()))
        EXPECT_NE(entry.path().filename(), "broken.jpg") << "the failed file is not left behind";
}

TEST(MailAttachmentNameTest, EveryPictureGetsANameTheTemporaryFolderCanHold) {
    const struct {
        const wchar_t* itemPath;
        const wchar_t* base;
    } cases[] = {{L"C:\\Pictures\\Sunset...jpg", L"Sunset"},
                 {L"/home/user/a..b.jpg", L"a.b"},
                 {L"/p/IMG_1.jpg", L"IMG_1"},
                 {L"/p/x.tar.gz", L"x.tar"},
                 {L"/p/.hidden.jpg", L"hidden"},
                 {L"/p/..jpg", L"image"},
                 {L"/p/...", L"image"},
                 {L"noextension", L"noextension"},
                 {L"", L"image"}};
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(CMailDlg::AttachmentBaseName(TString(c.itemPath))), c.base) << c.itemPath;
}

TEST_F(MailDialogTest, PicturesWithDotsInTheirNamesAreMailedToo) {
    Put("send_as", "individual");
    Put("image_attachments\\image_size", "0");
    AddPhoto("/p/Sunset...jpg", 320, 240, {220, 120, 40});
    AddPhoto("/p/a..b.jpg", 320, 240, {40, 120, 220});
    Start();
    RunDialog({[](HWND dialog) { return Click(dialog, CMailDlg::kSendButton); }});
    EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
    ExpectJpegs(Attachments(), {"Sunset.jpg", "a.b.jpg"}, {{160, 120}, {160, 120}},
                {{220, 120, 40}, {40, 120, 220}}, 80);
}

TEST_F(MailDialogTest, APictureThatCannotBeQueuedIsNamedAndNothingIsMailed) {
    Put("send_as", "individual");
    Put("image_attachments\\image_size", "0");
    // No file system takes a name of 300 characters.
    const std::string longName = std::string(300, 'x') + ".jpg";
    AddPhoto("/p/IMG_1.jpg", 320, 240, {10, 200, 10});
    AddPhoto("/p/" + longName, 320, 240, {200, 10, 10});
    Start();
    RunDialog({[](HWND dialog) { return Click(dialog, CMailDlg::kSendButton); },
               [&](HWND dialog) {
                   EXPECT_TRUE(IsWindowEnabled(dialog)) << "the dialog stays open for another try";
                   return Click(dialog, IDCANCEL);
               }});
    EXPECT_EQ(Boxes(),
              std::vector<std::wstring>{L"These pictures could not be prepared, so nothing was sent: " +
                                        std::wstring(longName.begin(), longName.end())});
    EXPECT_TRUE(Outbox().empty());
    for (const auto& entry : fs::recursive_directory_iterator(m_temp.Path()))
        EXPECT_NE(entry.path().extension(), ".jpg") << "no attachment is left behind: " << entry.path();
}

// Along the middle row of the preview: the width of the page's item (between the outer pixels of its dark
// frame) and of the page (between its outer white pixels, which show on both sides of an item narrower
// than the page); 0 for what is not there.
struct PreviewRow {
    int item = 0;
    int page = 0;
};
PreviewRow MeasurePreview(HWND control) {
    constexpr std::uint32_t kItemFrame = 0x404040, kPage = 0xFFFFFF;
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> argb;
    PreviewRow row;
    if (!WinGdiTest::ReadWindowPixels(control, &width, &height, &argb) || height <= 0)
        return row;
    int frameFirst = -1, frameLast = -1, pageFirst = -1, pageLast = -1;
    for (LONG x = 0; x < width; ++x) {
        const std::uint32_t p = argb[static_cast<std::size_t>(height / 2) * width + x] & 0xFFFFFF;
        if (p == kItemFrame) {
            frameFirst = frameFirst < 0 ? x : frameFirst;
            frameLast = x;
        }
        if (p == kPage) {
            pageFirst = pageFirst < 0 ? x : pageFirst;
            pageLast = x;
        }
    }
    row.item = frameFirst < 0 ? 0 : frameLast - frameFirst + 1;
    row.page = pageFirst < 0 ? 0 : pageLast - pageFirst + 1;
    return row;
}

TEST_F(MailDialogTest, ThePreviewShowsAPictureSmallerThanTheBoxAtItsOwnSize) {
    Put("send_as", "individual");
    Put("image_attachments\\image_size", "2");
    // 320 x 240 in the box of 640 x 480: it is attached at its own size, half the box's width.
    AddPhoto("/p/small.jpg", 320, 240, {200, 40, 40});
    Start();
    PreviewRow row;
    RunDialog({[&](HWND dialog) {
        row = MeasurePreview(GetDlgItem(dialog, CMailDlg::kPreviewArea));
        return row.item > 0 && Click(dialog, IDCANCEL);
    }});
    EXPECT_GT(row.page, 100) << "the page shows round the picture";
    EXPECT_NEAR(row.item * 2, row.page, 3);
    EXPECT_TRUE(Outbox().empty());
}

TEST_F(MailDialogTest, CancelWhileSavingThenAFreshSend) {
    Put("send_as", "individual");
    Put("image_attachments\\image_size", "1");
    AddPhoto("/p/IMG_1.jpg", 640, 480, {100, 150, 200}, false);
    AddPhoto("/p/IMG_2.jpg", 640, 480, {200, 150, 100}, false);
    bool hold = true;
    int asked = 0;
    m_host->SetScript(kFullImageRequest, [&](const CHostRequest& request) {
        ++asked;
        return hold ? CHostReply{kKvwOk, {}} : m_host->DefaultReply(request);
    });
    Start();
    RunDialog({[](HWND dialog) { return Click(dialog, CMailDlg::kSendButton); },
               [&](HWND dialog) {
                   if (asked == 0)
                       return false;
                   EXPECT_FALSE(IsWindowEnabled(dialog)) << "the progress dialog holds the dialog";
                   PostMessageW(dialog, 46116, 0, 0);
                   return true;
               },
               [&](HWND dialog) {
                   if (!IsWindowEnabled(dialog))
                       return false;
                   EXPECT_TRUE(Outbox().empty());
                   EXPECT_FALSE(Stored("Show_more_options")) << "nothing saved without a hand-over";
                   hold = false;
                   return Click(dialog, CMailDlg::kSendButton);
               }});
    EXPECT_TRUE(Boxes().empty());
    ExpectJpegs(Attachments(), {"IMG_1.jpg", "IMG_2.jpg"}, {{320, 240}, {320, 240}},
                {{100, 150, 200}, {200, 150, 100}}, 80);
}

TEST_F(MailDialogTest, ARestrictedHostOffersNoFullSizeAndNoIndexSheets) {
    m_host->Panes().SetNumber(TUserOptions::kRestrictedHostNumber);
    Put("send_as", "index_sheet");
    Put("image_attachments\\image_size", "7");
    AddPhoto("/p/IMG_1.jpg", 640, 480, {1, 2, 3});
    Start();
    RunDialog({[](HWND dialog) {
        EXPECT_FALSE(Enabled(dialog, CMailDlg::kSendAsCombo));
        EXPECT_EQ(Selected(dialog, CMailDlg::kSendAsCombo), 0) << "read as individual pictures";
        EXPECT_EQ(Count(dialog, CMailDlg::kSizeCombo), 7) << "no full size";
        EXPECT_EQ(Selected(dialog, CMailDlg::kSizeCombo), 2) << "a stored full size acts as 640 x 480";
        EXPECT_FALSE(Enabled(dialog, CMailDlg::kPreviousPage)) << "one page: both page buttons disabled";
        EXPECT_FALSE(Enabled(dialog, CMailDlg::kNextPage));
        return Click(dialog, IDCANCEL);
    }});
    EXPECT_TRUE(Outbox().empty());
    EXPECT_FALSE(Stored("Show_more_options")) << "nothing saved without a hand-over";
}

TEST_F(MailDialogTest, WithoutAMailProgramTheDialogSaysSoAndCloses) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailProfileKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const char zero[] = "0";
    ASSERT_EQ(RegSetValueExA(key, "MAPI", 0, REG_SZ, reinterpret_cast<const BYTE*>(zero), 2), ERROR_SUCCESS);
    RegCloseKey(key);
    AddPhoto("/p/IMG_1.jpg", 64, 48, {1, 2, 3});
    Start();
    RunDialog({});
    EXPECT_EQ(Boxes(), std::vector<std::wstring>{L"No e-mail program is set up."});
}

TEST_F(MailDialogTest, OptionsOutOfRangeActAsTheFirstSizesAndTheEstimateFollowsTheSize) {
    Put("send_as", "individual");
    Put("image_attachments\\image_size", "12");
    Put("index_print\\page_size", "9");
    AddPhoto("/p/IMG_1.jpg", 4000, 3000, {1, 2, 3});
    Start();
    RunDialog({[](HWND dialog) {
        EXPECT_EQ(Selected(dialog, CMailDlg::kSizeCombo), 1)
            << "an image size past the table acts as 320 x 240";
        const std::wstring smallest = Text(dialog, CMailDlg::kEstimateLabel);
        EXPECT_EQ(smallest.rfind(L"Attachments: about ", 0), 0u) << "320 x 240 at quality 80";
        Choose(dialog, CMailDlg::kSizeCombo, 6);
        const std::wstring largest = Text(dialog, CMailDlg::kEstimateLabel);
        EXPECT_GT(std::stod(largest.substr(largest.find(L"about ") + 6)),
                  std::stod(smallest.substr(smallest.find(L"about ") + 6)))
            << "2048 x 1536 costs more than 320 x 240";
        Choose(dialog, CMailDlg::kSendAsCombo, 1);
        EXPECT_EQ(Count(dialog, CMailDlg::kSizeCombo), 4);
        EXPECT_EQ(Selected(dialog, CMailDlg::kSizeCombo), 0)
            << "a page size past the table acts as 640 x 480";
        return Click(dialog, IDCANCEL);
    }});
}

TEST_F(MailDialogTest, ASmallerPageSizeLimitsTheLayout) {
    Put("send_as", "index_sheet");
    Put("index_print\\page_size", "3");
    Put("index_print\\page_layout", "20");
    for (int i = 1; i <= 3; ++i)
        AddPhoto("/p/IMG_" + std::to_string(i) + ".jpg", 64, 48, {9, 9, 9});
    Start();
    RunDialog({[](HWND dialog) {
        EXPECT_EQ(Count(dialog, CMailDlg::kLayoutCombo), 21);
        EXPECT_EQ(Selected(dialog, CMailDlg::kLayoutCombo), 20);
        EXPECT_TRUE(Enabled(dialog, CMailDlg::kSendAsCombo));
        Choose(dialog, CMailDlg::kSizeCombo, 0);
        EXPECT_EQ(Count(dialog, CMailDlg::kLayoutCombo), 8);
        EXPECT_EQ(Selected(dialog, CMailDlg::kLayoutCombo), 7);
        return Click(dialog, IDCANCEL);
    }});
}

} // namespace
