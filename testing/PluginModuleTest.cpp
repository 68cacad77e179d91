#include "PluginModuleTest.h"

#include "platform/host/CHostPhotos.h"
#include "platform/win/WinBitmaps.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSeams.h"

#include <filesystem>
#include <utility>

namespace kvtest {

namespace fs = std::filesystem;

namespace {

// Items selected by Select stand for photos of this size.
constexpr LONG kItemWidth = 400;
constexpr LONG kItemHeight = 300;
// Room for the longest control text the dialogs show.
constexpr int kTextLength = 512;

} // namespace

PluginModuleTest::PluginModuleTest(PluginModuleFiles files, DWORD modalDeadline)
    : m_files(std::move(files)), m_deadline(modalDeadline) {}

void PluginModuleTest::SetUp() {
    WinSeams::SetTempBase(m_temp.Path());
    WinDialogTest::SetModalLoopDeadline(m_deadline);
    WinDialogTest::ResetMessageBoxes();
    WinPrintTest::Reset();
    m_host = std::make_unique<CScriptedHost>();
    Install();
}

void PluginModuleTest::TearDown() {
    if (m_module != CScriptedHost::kNoModule)
        m_host->Close(m_module);
    WinDialogTest::ClearModalSteps();
    WinDialogTest::SetModalLoopDeadline(INFINITE);
    WinDialogTest::ResetMessageBoxes();
    WinPrintTest::Reset();
    m_host.reset();
    WinUserTest::PumpPending();
    WinSeams::ResetAll();
}

void PluginModuleTest::Install() {
    for (const std::string& file : {m_files.module, m_files.language})
        fs::copy_file(m_files.folder + "/" + file, m_install.File(file));
}

std::size_t PluginModuleTest::Start(const std::string& configuration) {
    if (!configuration.empty())
        m_install.Write(m_files.configuration, configuration);
    m_module = m_host->Load(m_install.File(m_files.module));
    EXPECT_NE(m_module, CScriptedHost::kNoModule) << m_host->LastError();
    if (m_module != CScriptedHost::kNoModule) {
        EXPECT_EQ(m_host->Initialize(m_module), kKvwOk);
    }
    return m_module;
}

void PluginModuleTest::StartOver() {
    if (m_module != CScriptedHost::kNoModule) {
        m_host->Close(m_module);
        m_host->Unload(m_module);
        m_module = CScriptedHost::kNoModule;
    }
    m_ids.clear();
    fs::remove_all(m_install.Path());
    fs::create_directory(m_install.Path());
    Install();
}

KvwItemId PluginModuleTest::AddPhoto(const std::string& path, LONG width, LONG height,
                                     const std::array<BYTE, 3>& rgb, bool held) {
    const KvwItemId id = KvwMakeItemId(static_cast<DWORD>(m_ids.size() + 1), 1);
    CHostItemRecord item = CHostPhotos::JpegItem(id, path, CHostPhotos::SolidJpeg(width, height, rgb));
    item.fullHeld = held;
    m_host->AddItem(item);
    m_ids.push_back(id);
    m_host->Browse().SetSelectedItems(m_ids);
    return id;
}

void PluginModuleTest::Select(DWORD count) {
    KvwItemIdList ids;
    for (DWORD i = 1; i <= count; ++i) {
        CHostItemRecord item;
        item.id = KvwMakeItemId(i, 1);
        item.source.width = kItemWidth;
        item.source.height = kItemHeight;
        m_host->AddItem(item);
        ids.push_back(item.id);
    }
    m_host->Browse().SetSelectedItems(ids);
}

void PluginModuleTest::Put(const std::string& path, const std::string& text) {
    m_host->Registry().PutText(m_files.optionsKey + "\\" + path, "Default", text);
}

std::optional<std::string> PluginModuleTest::Stored(const std::string& path) const {
    return m_host->Registry().Text(m_files.optionsKey + "\\" + path, "Default");
}

std::vector<std::wstring> PluginModuleTest::Command(DWORD command, KvwResult expected) {
    WinDialogTest::ResetMessageBoxes();
    EXPECT_EQ(m_host->Send(m_module, KvwHostMessage::kCommand, command, 0), expected);
    return Boxes();
}

void PluginModuleTest::RunDialog(const std::vector<std::function<bool(HWND)>>& steps) {
    for (const auto& step : steps)
        WinDialogTest::RunInModalLoop(step);
    const DWORD late = WinDialogTest::ModalLoopsPastDeadline();
    EXPECT_EQ(m_host->Send(m_module, KvwHostMessage::kCommand, m_files.dialogCommand, 0), kKvwHandled);
    EXPECT_EQ(WinDialogTest::PendingModalSteps(), 0u)
        << "the dialog closed before its steps ran" << ::testing::PrintToString(Boxes());
    EXPECT_EQ(WinDialogTest::ModalLoopsPastDeadline(), late) << "the dialog ran past its deadline";
}

std::vector<std::wstring> PluginModuleTest::Boxes() {
    std::vector<std::wstring> texts;
    for (const auto& box : WinDialogTest::MessageBoxCalls())
        texts.push_back(box.text);
    return texts;
}

bool PluginModuleTest::Click(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
    return true;
}

void PluginModuleTest::Choose(HWND dialog, int id, LONG index) {
    HWND combo = GetDlgItem(dialog, id);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(combo));
}

std::vector<std::wstring> PluginModuleTest::Entries(HWND dialog, int id) {
    HWND combo = GetDlgItem(dialog, id);
    std::vector<std::wstring> entries;
    const LONG count = static_cast<LONG>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (LONG i = 0; i < count; ++i) {
        wchar_t text[kTextLength] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

LONG PluginModuleTest::Selected(HWND dialog, int id) {
    return static_cast<LONG>(SendMessageW(GetDlgItem(dialog, id), CB_GETCURSEL, 0, 0));
}

bool PluginModuleTest::Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

std::wstring PluginModuleTest::Text(HWND dialog, int id) {
    wchar_t text[kTextLength] = {};
    GetWindowTextW(GetDlgItem(dialog, id), text, kTextLength);
    return text;
}

PluginModuleTest::ButtonFaceTable PluginModuleTest::ButtonFaces(DWORD command) {
    CKvwBitmapTable table;
    EXPECT_EQ(m_host->ReadButtonBitmaps(m_module, command, 0, table), kKvwHandled);
    ButtonFaceTable faces;
    for (const auto& [state, face] : table) {
        LONG width = 0, height = 0;
        std::vector<std::uint32_t> pixels;
        const bool read =
            WinGdiTest::ReadBitmapPixels(face.bitmap, &width, &height, &pixels) && !pixels.empty();
        faces[state] = {face.width, read ? pixels[0] : 0};
    }
    return faces;
}

} // namespace kvtest
