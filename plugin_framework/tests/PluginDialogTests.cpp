// The plug-in dialog base and the progress dialog; a render worker's notice handled while a dialog runs
// modally.
#include "DialogTestSupport.h"
#include "RendererTestSupport.h"

#include "plugin_framework/TGenPluginDlg.h"
#include "plugin_framework/TPluginProgressDlg.h"

#include "platform/renderers/CScriptRenderer.h"
#include "platform/win/WinControls.h"
#include "platform/win/WinKeyboard.h"
#include "testing/Deadline.h"

#include <string>

namespace {

using dialogtest::kProgressDialog;
using dialogtest::Once;
using dialogtest::PostedWindow;

std::wstring TextOf(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    return text;
}

struct Bar {
    LRESULT position;
    int low;
    int high;
    bool operator==(const Bar&) const = default;
};

Bar BarOf(HWND bar) {
    PBRANGE range{};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    return Bar{SendMessageW(bar, PBM_GETPOS, 0, 0), range.iLow, range.iHigh};
}

class ProgressDialogTest : public dialogtest::DialogFixture {
protected:
    TRefPtr<TPluginProgressDlg> MakeProgress() {
        return TRefPtr<TPluginProgressDlg>::Adopt(Make<TPluginProgressDlg>());
    }
};

TEST(PluginDialog, KeepsACopyOfANonEmptySelectionOnly) {
    TRefPtr<TGenPluginDlg> dialog = TRefPtr<TGenPluginDlg>::Adopt(new TGenPluginDlg);
    EXPECT_FALSE(dialog->SetSelection(nullptr));
    TNuidList empty;
    EXPECT_FALSE(dialog->SetSelection(&empty));
    EXPECT_EQ(dialog->GetSelection(), nullptr);
    TNuidList items = {0x0000000100000002ull, 7, 0x0202000000000009ull};
    ASSERT_TRUE(dialog->SetSelection(&items));
    items[0] = 99;
    ASSERT_NE(dialog->GetSelection(), nullptr);
    EXPECT_EQ(*dialog->GetSelection(), (TNuidList{0x0000000100000002ull, 7, 0x0202000000000009ull}));
    EXPECT_FALSE(dialog->SetSelection(&empty));
    EXPECT_EQ(dialog->GetSelection()->size(), 3u) << "an empty list leaves the selection as it was";
}

TEST_F(ProgressDialogTest, ValuesSetBeforeTheWindowExistsAppearWhenItOpens) {
    TRefPtr<TPluginProgressDlg> progress = MakeProgress();
    EXPECT_EQ(progress->GetStepRange(), 100);
    EXPECT_EQ(progress->GetTotalRange(), 100);
    progress->SetMessageText(L"Printing");
    progress->SetDetailText(L"Page 3 of 7");
    progress->SetStepRange(50);
    progress->SetTotalRange(7);
    progress->SetStepPos(20);
    progress->SetTotalPos(3);
    progress->AdvanceStep(5); // no bar yet: nothing moves
    ASSERT_TRUE(progress->CreateModeless(kProgressDialog, nullptr));
    EXPECT_EQ(TextOf(progress->GetDlgItem(TPluginProgressDlg::kMessageTextId)), L"Printing");
    EXPECT_EQ(TextOf(progress->GetDlgItem(TPluginProgressDlg::kDetailTextId)), L"Page 3 of 7");
    EXPECT_EQ(BarOf(progress->GetDlgItem(TPluginProgressDlg::kStepBarId)), (Bar{20, 0, 50}));
    EXPECT_EQ(BarOf(progress->GetDlgItem(TPluginProgressDlg::kTotalBarId)), (Bar{3, 0, 7}));

    // Once open, every setter shows its value; advancing moves a bar, not the stored position.
    progress->SetDetailText(L"Page 4 of 7");
    progress->SetTotalPos(4);
    progress->AdvanceStep(5);
    progress->AdvanceTotal(-1);
    progress->SetStepRange(40);
    EXPECT_EQ(TextOf(progress->GetDlgItem(TPluginProgressDlg::kDetailTextId)), L"Page 4 of 7");
    EXPECT_EQ(BarOf(progress->GetDlgItem(TPluginProgressDlg::kStepBarId)), (Bar{25, 0, 40}));
    EXPECT_EQ(BarOf(progress->GetDlgItem(TPluginProgressDlg::kTotalBarId)), (Bar{3, 0, 7}));
    EXPECT_EQ(progress->GetStepPos(), 20);
    EXPECT_EQ(progress->GetTotalPos(), 4);
    progress->Close();
}

TEST_F(ProgressDialogTest, HidingPutsBothBarsBackToZero) {
    TRefPtr<TPluginProgressDlg> progress = MakeProgress();
    ASSERT_TRUE(progress->CreateModeless(kProgressDialog, nullptr));
    progress->Show(true);
    progress->SetStepPos(60);
    progress->SetTotalPos(30);
    progress->Show(true);
    EXPECT_EQ(BarOf(progress->GetDlgItem(TPluginProgressDlg::kStepBarId)).position, 60)
        << "showing keeps them";
    progress->Show(false);
    EXPECT_FALSE(progress->IsVisible());
    EXPECT_EQ(BarOf(progress->GetDlgItem(TPluginProgressDlg::kStepBarId)).position, 0);
    EXPECT_EQ(BarOf(progress->GetDlgItem(TPluginProgressDlg::kTotalBarId)).position, 0);
    EXPECT_EQ(progress->GetStepPos(), 0);
    EXPECT_EQ(progress->GetTotalPos(), 0);
    progress->Close();
}

TEST_F(ProgressDialogTest, ACancelIsPostedToTheTargetOnlyAndLeavesTheDialogOpen) {
    PostedWindow owner(kProgressCancelledMessage);
    TAutoHandle target;
    ASSERT_TRUE(target.Attach(&owner));
    TRefPtr<TPluginProgressDlg> progress = MakeProgress();
    ASSERT_TRUE(progress->CreateModeless(kProgressDialog, nullptr));
    HWND window = progress->GetHandle();

    // Without a target nothing is told, and the dialog stays.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    WinUserTest::PumpPending();
    EXPECT_TRUE(owner.posted.empty());
    EXPECT_TRUE(progress->IsWindow());

    progress->SetNotifyTarget(&target);
    const struct {
        const char* what;
        std::function<void()> cancel;
    } cancels[] = {
        {"the Cancel button", [&] { SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }},
        {"closing", [&] { SendMessageW(window, WM_CLOSE, 0, 0); }},
    };
    for (const auto& c : cancels) {
        owner.posted.clear();
        c.cancel();
        ASSERT_TRUE(WinUserTest::PumpUntil([&] { return !owner.posted.empty(); }, dialogtest::kDeadline))
            << c.what;
        WinUserTest::PumpPending();
        ASSERT_EQ(owner.posted.size(), 1u) << c.what;
        EXPECT_EQ(owner.posted[0].wParam, 0u);
        EXPECT_EQ(owner.posted[0].lParam, 0);
        EXPECT_TRUE(progress->IsWindow()) << "closing is the owner's decision: " << c.what;
    }
    progress->Close();
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ProgressDialogTest, EscapeInAModalProgressDialogTellsTheOwnerWhoEndsIt) {
    PostedWindow owner(kProgressCancelledMessage);
    TAutoHandle target;
    ASSERT_TRUE(target.Attach(&owner));
    TRefPtr<TPluginProgressDlg> progress = MakeProgress();
    progress->SetNotifyTarget(&target);
    Once([](HWND) { WinUserTest::InjectKey(nullptr, VK_ESCAPE); });
    WinDialogTest::RunInModalLoop([&](HWND dialog) {
        if (owner.posted.empty())
            return false;
        EndDialog(dialog, 5);
        return true;
    });
    EXPECT_EQ(progress->DoModal(kProgressDialog, nullptr), 5);
    EXPECT_EQ(owner.posted.size(), 1u);
}

// A main dialog that shows its progress window as the plug-ins' dialogs do.
class ProgressOwner : public TGenPluginDlg {
public:
    using TGenPluginDlg::ShowProgressDialog;
};

TEST_F(ProgressDialogTest, AMainDialogMakesItsProgressOnceAndIsDisabledWhileItShows) {
    PostedWindow owner(kProgressCancelledMessage);
    TAutoHandle notify;
    ASSERT_TRUE(notify.Attach(&owner));
    TRefPtr<ProgressOwner> dialog = TRefPtr<ProgressOwner>::Adopt(Make<ProgressOwner>());
    ASSERT_TRUE(dialog->CreateModeless(dialogtest::kControlsDialog, nullptr));
    TRefPtr<TPluginProgressDlg> progress;
    int prepared = 0;
    const auto prepare = [&](TPluginProgressDlg& made) {
        ++prepared;
        EXPECT_FALSE(made.IsVisible()) << "prepared before it first shows";
        made.SetDetailText(L"Page 1 of 2");
    };
    // A template the resource lacks makes no window, nor does hiding before the first show; once made,
    // the window is kept and prepared once.
    const UINT kMissingTemplate = 9999;
    const struct {
        UINT templateId;
        bool show, made;
        int prepared;
    } steps[] = {{kMissingTemplate, true, false, 0}, {kProgressDialog, false, false, 0},
                 {kProgressDialog, true, true, 1},   {kProgressDialog, true, true, 1},
                 {kProgressDialog, false, true, 1},  {kProgressDialog, true, true, 1}};
    TPluginProgressDlg* first = nullptr;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        dialog->ShowProgressDialog(progress, notify, steps[i].templateId, steps[i].show, prepare);
        ASSERT_EQ(static_cast<bool>(progress), steps[i].made) << i;
        EXPECT_EQ(prepared, steps[i].prepared) << i;
        EXPECT_EQ(dialog->IsEnabled(), !(steps[i].made && steps[i].show)) << i;
        if (!progress)
            continue;
        first = first ? first : progress.Get();
        EXPECT_EQ(progress.Get(), first) << i;
        EXPECT_EQ(progress->IsVisible(), steps[i].show) << i;
    }
    EXPECT_EQ(TextOf(progress->GetDlgItem(TPluginProgressDlg::kDetailTextId)), L"Page 1 of 2");
    SendMessageW(progress->GetHandle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(WinUserTest::PumpUntil([&] { return !owner.posted.empty(); }, dialogtest::kDeadline))
        << "a cancel reaches the given notify target";
    progress->Close();
    dialog->Close();
}

class ModalRendering : public dialogtest::DialogFixture {
protected:
    void SetUp() override {
        dialogtest::DialogFixture::SetUp();
        CScriptRenderer::Instance().Reset();
        m_threadsBefore = WinKernelTest::RunningThreads();
    }
    void TearDown() override {
        CScriptRenderer::Instance().OpenLatch();
        EXPECT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::RunningThreads() == m_threadsBefore; }));
        CScriptRenderer::Instance().Reset();
        dialogtest::DialogFixture::TearDown();
    }
    kvtest::Watchdog watchdog{"a render during a modal dialog"};
    DWORD m_threadsBefore = 0;
};

TEST_F(ModalRendering, ARenderWorkersFinishNoticeIsHandledWhileTheDialogRuns) {
    rendertest::NoticeWindow notices;
    std::atomic<int> destroyed{0};
    TAsyncRenderer* renderer = new TAsyncRenderer;
    renderer->SetRendererFolder(rendertest::Folder("script"));
    renderer->SetNotifyTarget(notices.Target());
    ASSERT_TRUE(renderer->Start(nullptr));
    renderer->SetReady();

    TRefPtr<dialogtest::CountingDialog> dialog = TRefPtr<dialogtest::CountingDialog>::Adopt(Make());
    bool queued = false;
    Once([&](HWND) {
        auto* request = new rendertest::ProbeRequest(destroyed, 4);
        request->m_context = L"iProImg=1;";
        queued = renderer->QueueRequest(request);
        request->Release();
    });
    // Only the dialog's loop dispatches: the step looks, and ends the dialog once the notice was handled.
    WinDialogTest::RunInModalLoop([&](HWND) {
        if (notices.finished.empty())
            return false;
        dialog->OnOK();
        return true;
    });
    EXPECT_EQ(dialog->DoModal(dialogtest::kControlsDialog, nullptr), 1);
    EXPECT_TRUE(queued);
    ASSERT_EQ(notices.finished.size(), 1u);
    EXPECT_EQ(notices.finished[0].page, 4);
    EXPECT_EQ(notices.finished[0].result, 1);
    EXPECT_EQ(destroyed.load(), 1) << "the notice's receiver released the request";
    renderer->Stop();
    renderer->Release();
}

} // namespace
