// The installed module loaded by the scripted host: a design opened from the first template and three
// photos, its first page previewed by the real renderer, saved, closed, and after the module was loaded
// again opened from the host's record database with the same pages and the same preview; and the same
// design shown in the single-page pane, clicked, paged and given the other template in the panel.
#include "design_module/TKvwDesignModule.h"

#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using namespace KvwDesign;

constexpr KvwItemId kDesign = 0x0202000000000007ull;
constexpr DWORD kShownItems = 0x10000091;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;
// The preview is a fifth of the A4 template's page (2100 x 2970).
constexpr LONG kWidth = 420;
constexpr LONG kHeight = 594;

// The first template's three boxes at the preview's scale, each with a photo of its proportions.
struct Photo {
    KvwItemId id;
    LONG x, y, cx, cy;
    std::array<std::uint32_t, 4> quadrants;
    LONG pictureWidth, pictureHeight;
};
const Photo kPhotos[] = {
    {201, 30, 30, 360, 160, {0xC80000, 0x00C800, 0x0000C8, 0xC8C800}, 90, 40},
    {202, 30, 210, 170, 140, {0x00C8C8, 0xC800C8, 0x804000, 0x408000}, 85, 70},
    {203, 220, 210, 170, 140, {0x202020, 0xE0E0E0, 0x800080, 0x008080}, 85, 70},
};

class DesignLayoutEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        const fs::path built(KV_DESIGN_MODULE_DIR);
        const fs::path folder(m_install.Path());
        fs::create_directories(folder / "Module");
        fs::copy_file(built / "KvwDesign.md7", folder / "KvwDesign.md7");
        fs::copy_file(built / "Module" / "KvtDesignLang.so", folder / "Module" / "KvtDesignLang.so");
        fs::copy_file(built / "DesignModuleCfg.xml", folder / "DesignModuleCfg.xml");
        fs::copy(built / "templates", folder / "templates");
        m_path = (folder / "KvwDesign.md7").string();

        m_host = std::make_unique<CScriptedHost>();
        m_paneHost =
            m_host->Panes().MakeWindow(kComponentKind, m_host->MainWindow(), kPaneWidth, kPaneHeight);
        m_host->Windows().SetWindow(kComponentKind, 1, m_host->MainWindow());
        CHostItemRecord design;
        design.id = kDesign;
        m_host->AddItem(design);
        for (const Photo& photo : kPhotos)
            m_host->AddItem(CHostPhotos::QuadrantItem(
                photo.id,
                CHostPhotos::QuadrantPicture(photo.pictureWidth, photo.pictureHeight, photo.quadrants)));
        m_host->Browse().SetCurrentGroup(kDesign);
        m_host->Browse().SetSelectedItems({201, 202, 203});
        m_host->SetScript(KvwRecordRequest::kCreate, [this](const CHostRequest& request) {
            const KvwResult result = m_host->Records().OnRequest(KvwRecordRequest::kCreate, request.words);
            const auto* input = reinterpret_cast<const CKvwInputData*>(request.words[2]);
            if (result == kKvwOk && (input->flags & 0x400000) != 0)
                m_pages.push_back(input->id);
            return CHostReply{result, {}};
        });
        m_host->SetScript(kShownItems, [this](const CHostRequest& request) {
            const auto* ids = reinterpret_cast<const KvwItemId*>(request.words[2]);
            m_shown.assign(ids, ids + request.words[3]);
            return CHostReply{};
        });
        m_host->SetScript(kCommandUpdate, [this](const CHostRequest& request) {
            if (request.words[0] == kPageLabel && request.words[4] == kUpdateText)
                m_label.assign(reinterpret_cast<const wchar_t*>(request.words[2]), request.words[3]);
            // The loading progress: {percent, 100}, or the end form without a record.
            if (request.words[0] == kPageLabel && request.words[4] == kUpdateStateWord) {
                const auto* words = reinterpret_cast<const DWORD*>(request.words[2]);
                m_progress.push_back(words && request.words[3] == 2 ? Progress{words[0], words[1], false}
                                                                    : Progress{0, 0, request.words[3] == 0});
            }
            return CHostReply{};
        });
        m_host->SetScript(kPreviewImage, [this](const CHostRequest& request) {
            const auto* record = reinterpret_cast<const CKvwProfileImage*>(request.words[2]);
            m_image.clear();
            LONG width = 0, height = 0;
            if (record->image && !record->image->GetSize(&width, &height) && width == kWidth &&
                height == kHeight)
                for (LONG y = 0; y < height; ++y)
                    for (LONG x = 0; x < width; ++x) {
                        PravonPixel pixel;
                        record->image->GetPixel(x, y, &pixel);
                        const int c = pixel.channels == 4 ? 1 : 0;
                        m_image.push_back(0xFF000000u | pixel.sample[c] << 16 | pixel.sample[c + 1] << 8 |
                                          pixel.sample[c + 2]);
                    }
            ++m_previews;
            // The host keeps the page's picture, as it does for any page's.
            return m_host->DefaultReply(request);
        });
    }
    void TearDown() override {
        m_host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }
    std::size_t LoadAndOpen() {
        const std::size_t module = m_host->Load(m_path);
        EXPECT_NE(module, CScriptedHost::kNoModule) << m_host->LastError();
        if (module == CScriptedHost::kNoModule)
            return module;
        EXPECT_EQ(m_host->Initialize(module), kKvwOk);
        m_host->Send(module, kStartup);
        EXPECT_EQ(m_host->Send(module, kOpenDesign), kKvwOk);
        return module;
    }
    // The preview of the page item, checked against the template's boxes.
    void CheckPreview(std::size_t module, KvwItemId page) {
        LONG size[2] = {kWidth, kHeight};
        const int before = m_previews;
        ASSERT_EQ(m_host->Send(module, kPagePreview, KvwItemIdLow(page), KvwItemIdHigh(page),
                               reinterpret_cast<KvwWord>(size), 1, kKvwRecordSize, kWantsCompletion, 0, 0x77),
                  kKvwQueued);
        ASSERT_TRUE(WinUserTest::PumpUntil([&] { return m_previews > before; },
                                           static_cast<DWORD>(kvtest::kThreadDeadline.count())));
        ASSERT_EQ(m_image.size(), static_cast<std::size_t>(kWidth) * kHeight);
        const auto at = [&](LONG x, LONG y) { return m_image[static_cast<std::size_t>(y) * kWidth + x]; };
        for (const Photo& photo : kPhotos)
            for (int q = 0; q < 4; ++q) {
                const LONG x = photo.x + photo.cx / 4 + (q % 2) * photo.cx / 2;
                const LONG y = photo.y + photo.cy / 4 + (q / 2) * photo.cy / 2;
                EXPECT_EQ(at(x, y), 0xFF000000u | photo.quadrants[q])
                    << "photo " << photo.id << " quadrant " << q;
            }
        for (auto [x, y] : {std::pair{10, 10}, {210, 20}, {410, 580}, {210, 400}, {10, 300}})
            EXPECT_EQ(at(x, y), kWhite) << x << "," << y;
    }

    // The first window of the class among the descendants of the parent, or null.
    static HWND FindChild(HWND parent, const wchar_t* className) {
        struct Search {
            const wchar_t* name;
            HWND found;
        } search{className, nullptr};
        EnumChildWindows(
            parent,
            [](HWND window, LPARAM context) -> BOOL {
                auto* s = reinterpret_cast<Search*>(context);
                wchar_t name[64] = {};
                GetClassNameW(window, name, 64);
                if (std::wcscmp(name, s->name) != 0)
                    return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    // A pane's pixels as they are now (the whole client area, row by row).
    struct Shown {
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        std::uint32_t At(LONG x, LONG y) const {
            return x >= 0 && y >= 0 && x < width && y < height
                       ? pixels[static_cast<std::size_t>(y) * width + x]
                       : 0;
        }
    };
    static Shown PanePixels(HWND pane) {
        Shown shown;
        if (!WinGdiTest::ReadWindowPixels(pane, &shown.width, &shown.height, &shown.pixels))
            shown = Shown{};
        return shown;
    }
    static std::uint32_t PanePixel(HWND pane, LONG x, LONG y) { return PanePixels(pane).At(x, y); }
    // Focus-frame pixels of the pane within the rectangle.
    static int FocusPixels(HWND pane, LONG x0, LONG y0, LONG x1, LONG y1) {
        const Shown shown = PanePixels(pane);
        int count = 0;
        for (LONG y = y0; y < y1; ++y)
            for (LONG x = x0; x < x1; ++x)
                count += shown.At(x, y) == kFocusPixel ? 1 : 0;
        return count;
    }
    bool PumpFor(const std::function<bool()>& condition) {
        return WinUserTest::PumpUntil(condition, static_cast<DWORD>(kvtest::kThreadDeadline.count()));
    }
    // A click at the pane point of the template's preview point.
    static LPARAM PanePoint(LONG previewX, LONG previewY) {
        return MAKELPARAM(static_cast<WORD>(kPageLeft + previewX * kPageScale),
                          static_cast<WORD>(kPageTop + previewY * kPageScale));
    }

    // The pane shows the 2100 x 2970 page fitted into 600 x 440, centred: 311 x 440 from (164, 20), about
    // three quarters of the preview's scale.
    static constexpr LONG kPaneWidth = 640;
    static constexpr LONG kPaneHeight = 480;
    static constexpr double kPageScale = 440.0 / kHeight;
    static constexpr LONG kPageLeft = 164;
    static constexpr LONG kPageTop = 20;
    static constexpr std::uint32_t kFocusPixel = 0xFF1860A2;
    static constexpr WPARAM kShiftKey = 4;

    // Six photos of one colour each, two to a page of the second template: its three pages show photos
    // (1, 2), (3, 4) and (5, 6).
    static constexpr std::uint32_t kSolid[6] = {0xC80000, 0x00C800, 0x0000C8, 0xC8C800, 0x00C8C8, 0xC800C8};
    void SelectSixSolidPhotos() {
        KvwItemIdList ids;
        for (int n = 0; n < 6; ++n) {
            const std::uint32_t c = kSolid[n];
            // The second template's boxes are 1800 x 1250: the photos have their proportions.
            m_host->AddItem(CHostPhotos::QuadrantItem(kFirstSolid + n,
                                                      CHostPhotos::QuadrantPicture(72, 50, {c, c, c, c})));
            ids.push_back(kFirstSolid + n);
        }
        m_host->Browse().SetSelectedItems(ids);
    }
    // The properties panel's template choice (0: three photos a page, 1: two).
    void ChooseTemplate(int index) {
        const HWND combo = FindChild(m_host->MainWindow(), L"ComboBox");
        ASSERT_NE(combo, nullptr);
        SendMessageW(combo, CB_SETCURSEL, index, 0);
        SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(2001, CBN_SELENDOK),
                     reinterpret_cast<LPARAM>(combo));
    }
    // Opens the six photos' design with the second template: three pages, the last three page records.
    std::size_t OpenThreePages() {
        SelectSixSolidPhotos();
        const std::size_t module = LoadAndOpen();
        if (module == CScriptedHost::kNoModule)
            return module;
        ChooseTemplate(1);
        EXPECT_EQ(m_label, L"Page 1 of 3");
        return module;
    }
    KvwItemIdList CurrentPages() const {
        return m_pages.size() < 3 ? KvwItemIdList{} : KvwItemIdList(m_pages.end() - 3, m_pages.end());
    }
    static bool Near(std::uint32_t pixel, std::uint32_t rgb) {
        for (int shift : {16, 8, 0})
            if (std::abs(static_cast<int>(pixel >> shift & 0xFF) - static_cast<int>(rgb >> shift & 0xFF)) > 6)
                return false;
        return true;
    }
    // The sheet's cell of the picture (from 0), in the sheet's window: a row of 100 x 100 cells, 10 pixels
    // apart, 10 from the edges. A page's picture stands in it fitted (71 x 100, centred), its two photos'
    // centres at these points.
    static LONG CellLeft(int cell) { return 10 + 110 * cell; }
    static std::pair<LONG, LONG> PhotoCentre(int cell, int photo) {
        return {CellLeft(cell) + 50, photo == 0 ? 36 : 83};
    }
    bool SheetShowsPage(HWND sheet, int cell, int page) {
        const Shown shown = PanePixels(sheet);
        for (int photo = 0; photo < 2; ++photo) {
            const auto [x, y] = PhotoCentre(cell, photo);
            if (!Near(shown.At(x, y), kSolid[(page - 1) * 2 + photo]))
                return false;
        }
        return true;
    }
    // A design a mark was saved with: its stored text as narrow characters (the layout is ASCII).
    std::string StoredLayout() const {
        const KvwItemIdList layouts = m_host->Records().Attached(kDesign);
        CHostRecordDatabase::Record record;
        if (layouts.size() != 1 || !m_host->Records().Find(layouts[0], &record))
            return std::string();
        std::string text;
        for (std::size_t i = 0; i + 1 < record.data.size(); i += 2)
            text += record.data[i + 1] == 0 ? static_cast<char>(record.data[i]) : '?';
        return text;
    }

    struct Progress {
        DWORD percent, whole;
        bool end;
    };
    static constexpr KvwItemId kFirstSolid = 301;

    kvtest::TempSystemRoot m_root;
    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_install;
    HWND m_paneHost = nullptr;
    std::wstring m_label;
    std::string m_path;
    std::unique_ptr<CScriptedHost> m_host;
    KvwItemIdList m_pages;
    KvwItemIdList m_shown;
    std::vector<std::uint32_t> m_image;
    int m_previews = 0;
    std::vector<Progress> m_progress;
};

TEST_F(DesignLayoutEndToEnd, ADesignIsPreviewedSavedAndReopenedFromTheHostsStore) {
    kvtest::Watchdog watchdog("a design opened, previewed, saved and reopened");
    const std::size_t module = LoadAndOpen();
    ASSERT_NE(module, CScriptedHost::kNoModule);
    ASSERT_EQ(m_pages.size(), 1u);
    CheckPreview(module, m_pages[0]);

    EXPECT_EQ(m_host->Send(module, kCommand, kSave), kKvwHandled);
    const KvwItemIdList layouts = m_host->Records().Attached(kDesign);
    ASSERT_EQ(layouts.size(), 1u);
    const KvwItemId layout = layouts[0];
    const KvwItemIdList children = m_host->Records().Attached(layout);
    EXPECT_NE(std::find(children.begin(), children.end(), m_pages[0]), children.end());
    m_host->Send(module, kCloseDesign);
    EXPECT_TRUE(m_host->Records().Find(m_pages[0], nullptr)) << "saved pages stay";
    m_host->Close(module);
    m_host->Unload(module);

    const KvwItemIdList saved = m_pages;
    m_pages.clear();
    m_host->Records().ClearRequestLog();
    const std::size_t again = LoadAndOpen();
    ASSERT_NE(again, CScriptedHost::kNoModule);
    // The layout read, then its template path read from the preferences under it; nothing made.
    EXPECT_EQ(m_host->Records().Requests(),
              (std::vector<DWORD>{KvwRecordRequest::kRead, KvwRecordRequest::kRead}));
    EXPECT_TRUE(m_pages.empty()) << "no page registered again";
    // The only bundle built is the contact sheet's, of the page items: none of the selected photos.
    for (const auto& entry : fs::recursive_directory_iterator(m_temp.Path())) {
        if (entry.path().filename().string().rfind("bndl", 0) != 0)
            continue;
        std::ifstream file(entry.path());
        const std::string bundle((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (const Photo& photo : kPhotos)
            EXPECT_EQ(bundle.find("refType=\"NUID\">" + std::to_string(photo.id) + "<"), std::string::npos)
                << "no bundle of the selection built: " << entry.path();
        EXPECT_NE(bundle.find("refType=\"NUID\">" + std::to_string(saved[0]) + "<"), std::string::npos)
            << "the sheet's bundle of the page: " << entry.path();
    }
    m_host->Send(again, kSelectionChanged);
    EXPECT_EQ(m_shown, saved) << "its pages are listed";
    CheckPreview(again, saved[0]);
    m_host->Close(again);
}

TEST_F(DesignLayoutEndToEnd, ThePaneShowsClicksAndPagesTheDesignAndThePanelChangesItsTemplate) {
    kvtest::Watchdog watchdog("a design shown in its pane, clicked, paged and given another template");
    // Loaded from another working directory: the module's language library lies beside the module.
    kvtest::TempFolder elsewhere;
    const fs::path before = fs::current_path();
    fs::current_path(elsewhere.Path());
    const std::size_t module = LoadAndOpen();
    fs::current_path(before);
    ASSERT_NE(module, CScriptedHost::kNoModule);
    const HWND pane = FindChild(m_paneHost, L"SinglePagePane");
    ASSERT_NE(pane, nullptr);
    // 1. The framed page: the white gap between photos 2 and 3, the frame, the background beside.
    ASSERT_TRUE(PumpFor([&] { return PanePixel(pane, 320, 240) == kWhite; }));
    EXPECT_EQ(PanePixel(pane, 0, 0), 0xFF404040u);
    EXPECT_EQ(PanePixel(pane, 10, kPaneHeight / 2), 0xFFE5E5E5u);
    const auto centre = [&](const Photo& photo) {
        return PanePixel(pane, static_cast<LONG>(kPageLeft + (photo.x + photo.cx / 4) * kPageScale),
                         static_cast<LONG>(kPageTop + (photo.y + photo.cy / 4) * kPageScale));
    };
    std::vector<std::uint32_t> plain;
    for (const Photo& photo : kPhotos)
        plain.push_back(centre(photo));

    // 2. Photo 2 focused: the pane shows the frame, the host's preview of the page does not.
    SendMessageW(pane, WM_LBUTTONDOWN, 0, PanePoint(100, 280));
    ASSERT_TRUE(PumpFor([&] { return FocusPixels(pane, 160, 160, 330, 300) > 0; }));
    ASSERT_EQ(m_pages.size(), 1u);
    CheckPreview(module, m_pages[0]);
    EXPECT_EQ(std::count(m_image.begin(), m_image.end(), kFocusPixel), 0);

    // Photo 1, then Shift on photo 3: all three selected, the focus frame around photo 3 only.
    SendMessageW(pane, WM_LBUTTONDOWN, 0, PanePoint(200, 100));
    SendMessageW(pane, WM_LBUTTONDOWN, kShiftKey, PanePoint(300, 280));
    ASSERT_TRUE(PumpFor([&] { return FocusPixels(pane, 320, 160, 480, 300) > 0; }));
    EXPECT_EQ(FocusPixels(pane, 160, 160, 318, 300), 0) << "photo 2 lost its frame";
    EXPECT_EQ(FocusPixels(pane, 160, 30, 480, 150), 0) << "photo 1 has none";
    for (std::size_t i = 0; i < std::size(kPhotos); ++i)
        EXPECT_NE(centre(kPhotos[i]), plain[i]) << "photo " << kPhotos[i].id << " has its overlay";

    // 3. The second template (two slots a page) chosen in the panel: two pages; Right goes to page 2.
    const HWND combo = FindChild(m_host->MainWindow(), L"ComboBox");
    ASSERT_NE(combo, nullptr);
    SendMessageW(combo, CB_SETCURSEL, 1, 0);
    SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(2001, CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(m_pages.size(), 3u) << "two pages of the second template";
    EXPECT_EQ(m_label, L"Page 1 of 2");
    SendMessageW(pane, WM_KEYDOWN, 39, 0);
    EXPECT_EQ(m_label, L"Page 2 of 2");

    // 4. Saved, closed and reopened from the host's store: the second template's layout, chosen in the panel.
    EXPECT_EQ(m_host->Send(module, kCommand, kSave), kKvwHandled);
    m_host->Send(module, kCloseDesign);
    m_host->Close(module);
    m_host->Unload(module);
    m_label.clear();
    const std::size_t again = LoadAndOpen();
    ASSERT_NE(again, CScriptedHost::kNoModule);
    EXPECT_EQ(m_label, L"Page 1 of 2");
    const HWND reopened = FindChild(m_host->MainWindow(), L"ComboBox");
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(SendMessageW(reopened, CB_GETCURSEL, 0, 0), 1);
    m_host->Close(again);
}

TEST_F(DesignLayoutEndToEnd, TheContactSheetShowsEveryPageThroughTheHostsPreviewRoad) {
    kvtest::Watchdog watchdog("the contact sheet of a three-page design");
    const std::size_t module = OpenThreePages();
    ASSERT_NE(module, CScriptedHost::kNoModule);
    const KvwItemIdList pages = CurrentPages();
    ASSERT_EQ(pages.size(), 3u);
    m_host->ClearRequests();
    m_host->Send(module, kMenuCommand, kContactSheetView);
    const HWND sheet = FindChild(m_paneHost, L"MultiPagePane");
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(PumpFor([&] {
        return SheetShowsPage(sheet, 0, 1) && SheetShowsPage(sheet, 1, 2) && SheetShowsPage(sheet, 2, 3);
    })) << "each page's picture in its cell, in page order";
    // No fourth picture: the sheet's background where one would stand, as beside the first.
    EXPECT_EQ(PanePixel(sheet, CellLeft(3) + 50, 60), PanePixel(sheet, CellLeft(0) - 5, 60));
    // Each picture was asked of the host, which had the module draw it and keeps it as the page's preview,
    // in the page's proportions (2100 x 2970, to within a pixel).
    for (KvwItemId page : pages) {
        const auto asked = m_host->RequestsOf(kPagePreview);
        EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [&](const CHostRequest& request) {
            return request.module == module && KvwMakeItemId(request.words[0], request.words[1]) == page;
        })) << page;
        IKvwImage* image = nullptr;
        ASSERT_EQ(
            m_host->Items().GetPreviewImage(KvwItemIdLow(page), KvwItemIdHigh(page), &image, 0, nullptr),
            kKvwOk)
            << page;
        EXPECT_EQ(image->GetHeight(), 100) << "the sheet's box is 100 high";
        EXPECT_LE(std::abs(image->GetWidth() * 2970 - image->GetHeight() * 2100), 2970) << image->GetWidth();
        image->Release();
    }
    m_host->Close(module);
}

TEST_F(DesignLayoutEndToEnd, AClickOnAPageInTheSheetShowsItAndTheSheetFollowsThePageShown) {
    kvtest::Watchdog watchdog("a page clicked in the contact sheet");
    const std::size_t module = OpenThreePages();
    ASSERT_NE(module, CScriptedHost::kNoModule);
    m_host->Send(module, kMenuCommand, kContactSheetView);
    const HWND sheet = FindChild(m_paneHost, L"MultiPagePane");
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(PumpFor([&] { return SheetShowsPage(sheet, 1, 2); }));
    const auto framed = [&](int cell) {
        return FocusPixels(sheet, CellLeft(cell) - 4, 4, CellLeft(cell) + 104, 116);
    };

    SendMessageW(sheet, WM_LBUTTONDOWN, 0, MAKELPARAM(CellLeft(1) + 50, 60));
    EXPECT_EQ(m_label, L"Page 2 of 3") << "the single page shows the page clicked";
    ASSERT_TRUE(PumpFor([&] { return framed(1) > 0; }));
    EXPECT_EQ(framed(0), 0);

    m_host->Send(module, kCommand, kNextPage);
    EXPECT_EQ(m_label, L"Page 3 of 3");
    ASSERT_TRUE(PumpFor([&] { return framed(2) > 0 && framed(1) == 0; }))
        << "the sheet follows the page shown";

    // The single-page view shows page 3: its first photo at the centre of its box (the page fitted into
    // the pane as 311 x 440 from (164, 20)).
    m_host->Send(module, kMenuCommand, kSinglePageView);
    const HWND pane = FindChild(m_paneHost, L"SinglePagePane");
    ASSERT_NE(pane, nullptr);
    ASSERT_TRUE(PumpFor([&] {
        return Near(PanePixel(pane, kPageLeft + 1050 * 311 / 2100, kPageTop + 775 * 440 / 2970), kSolid[4]);
    }));
    m_host->Close(module);
}

TEST_F(DesignLayoutEndToEnd, ALayoutSavedAfterAClickHoldsNoFocusOrSelectionMarks) {
    kvtest::Watchdog watchdog("a layout saved after a click");
    const std::size_t module = LoadAndOpen();
    ASSERT_NE(module, CScriptedHost::kNoModule);
    const HWND pane = FindChild(m_paneHost, L"SinglePagePane");
    ASSERT_NE(pane, nullptr);
    ASSERT_TRUE(PumpFor([&] { return PanePixel(pane, 320, 240) == kWhite; }));
    SendMessageW(pane, WM_LBUTTONDOWN, 0, PanePoint(100, 280));
    ASSERT_TRUE(PumpFor([&] { return FocusPixels(pane, 160, 160, 330, 300) > 0; }));

    // A selection change writes the layout back.
    m_host->Send(module, kSelectionChanged);
    const std::string stored = StoredLayout();
    ASSERT_NE(stored.find("refType"), std::string::npos) << "the layout with its photos is stored";
    EXPECT_EQ(stored.find("UI_Focus"), std::string::npos);
    EXPECT_EQ(stored.find("UI_Selector"), std::string::npos);
    EXPECT_GT(FocusPixels(pane, 160, 160, 330, 300), 0) << "the pane keeps showing the marks";

    m_host->Send(module, kCloseDesign);
    m_host->Close(module);
    m_host->Unload(module);
    const std::size_t again = LoadAndOpen();
    ASSERT_NE(again, CScriptedHost::kNoModule);
    const HWND reopened = FindChild(m_paneHost, L"SinglePagePane");
    ASSERT_NE(reopened, nullptr);
    ASSERT_TRUE(PumpFor([&] { return PanePixel(reopened, 320, 240) == kWhite; }));
    ASSERT_TRUE(PumpFor([&] { return m_host->PendingMessages() == 0; }));
    WinUserTest::PumpPending();
    EXPECT_EQ(FocusPixels(reopened, 0, 0, kPaneWidth, kPaneHeight), 0) << "the reopened design has no frame";
    m_host->Close(again);
}

TEST_F(DesignLayoutEndToEnd, TheSinglePagesLoadingProgressArrivesInOrderAndEndsWithTheEndForm) {
    kvtest::Watchdog watchdog("the loading progress of the single page");
    const std::size_t module = LoadAndOpen();
    ASSERT_NE(module, CScriptedHost::kNoModule);
    const HWND pane = FindChild(m_paneHost, L"SinglePagePane");
    ASSERT_NE(pane, nullptr);
    // The page with its three photos drawn, and the progress of its renders ended.
    const auto photosShown = [&] {
        return std::all_of(std::begin(kPhotos), std::end(kPhotos), [&](const Photo& photo) {
            return PanePixel(pane, static_cast<LONG>(kPageLeft + (photo.x + photo.cx / 4) * kPageScale),
                             static_cast<LONG>(kPageTop + (photo.y + photo.cy / 4) * kPageScale)) ==
                   (0xFF000000u | photo.quadrants[0]);
        });
    };
    ASSERT_TRUE(PumpFor([&] { return photosShown() && !m_progress.empty() && m_progress.back().end; }));
    ASSERT_TRUE(PumpFor([&] { return m_host->PendingMessages() == 0; }));
    WinUserTest::PumpPending();
    ASSERT_FALSE(m_progress.empty());
    EXPECT_TRUE(m_progress.back().end) << "the last message is the end form";
    DWORD last = 0;
    bool open = false;
    for (std::size_t i = 0; i < m_progress.size(); ++i) {
        const Progress& p = m_progress[i];
        if (p.end) {
            EXPECT_TRUE(open && last == 100) << "the end form follows 100, at " << i;
            open = false;
            last = 0;
            continue;
        }
        EXPECT_EQ(p.whole, 100u) << i;
        EXPECT_LE(p.percent, 100u) << i;
        EXPECT_GE(p.percent, last) << "in order within a render, at " << i;
        last = p.percent;
        open = true;
    }
    m_host->Close(module);
}

} // namespace
