// The installed module loaded by the scripted host: a design opened from the first template and three
// photos, its first page previewed by the real renderer, saved, closed, and after the module was loaded
// again opened from the host's record database with the same pages and the same preview.
#include "design_module/TKvwDesignModule.h"

#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

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
        m_host->Panes().MakeWindow(kComponentKind, m_host->MainWindow(), 640, 480);
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
            return CHostReply{};
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

    kvtest::TempSystemRoot m_root;
    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_install;
    std::string m_path;
    std::unique_ptr<CScriptedHost> m_host;
    KvwItemIdList m_pages;
    KvwItemIdList m_shown;
    std::vector<std::uint32_t> m_image;
    int m_previews = 0;
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
    for (const auto& entry : fs::recursive_directory_iterator(m_temp.Path()))
        EXPECT_NE(entry.path().filename().string().rfind("bndl", 0), 0u)
            << "no bundle built: " << entry.path();
    m_host->Send(again, kSelectionChanged);
    EXPECT_EQ(m_shown, saved) << "its pages are listed";
    CheckPreview(again, saved[0]);
    m_host->Close(again);
}

} // namespace
