// What the dialog suites share: the test language library with its templates, a dialog that counts how it
// ends, a window that records the messages posted to it, and steps for the modal loop.
#pragma once

#include "plugin_framework/TDialog.h"

#include "platform/win/WinDialogs.h"
#include "platform/win/WinModule.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace dialogtest {

constexpr UINT kControlsDialog = 2000;
constexpr UINT kProgressDialog = 2001;
constexpr DWORD kDeadline = 10000;

// A step of the next modal loop that acts once.
inline void Once(std::function<void(HWND)> action) {
    WinDialogTest::RunInModalLoop([action](HWND dialog) {
        action(dialog);
        return true;
    });
}

// A dialog that counts its ends.
class CountingDialog : public TDialog {
public:
    void OnOK() override {
        ++oks;
        TDialog::OnOK();
    }
    void OnCancel() override {
        ++cancels;
        TDialog::OnCancel();
    }
    void Finish(LONG result) {
        SetResult(result);
        Close();
    }
    int oks = 0;
    int cancels = 0;
};

// Records the messages posted to it that the test names.
class PostedWindow : public TWindow {
public:
    explicit PostedWindow(UINT message) {
        Create(L"DialogTestPostedWnd", 0, TRect(0, 0, 2, 2), nullptr);
        AddMessageHandler(message, TMessageHandler{this, &PostedWindow::OnPosted});
    }
    struct Posted {
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Posted> posted;

private:
    static LONG OnPosted(TMessageInfo* info, void* context) {
        static_cast<PostedWindow*>(context)->posted.push_back(Posted{info->wParam, info->lParam});
        return 1;
    }
};

// Loads the test language library for each test, with a deadline on every modal loop.
class DialogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_language = LoadLibraryA(KV_TEST_DIALOG_LIBRARY);
        ASSERT_NE(m_language, nullptr);
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinDialogTest::ResetMessageBoxes();
        m_loopsPastDeadline = WinDialogTest::ModalLoopsPastDeadline();
    }
    void TearDown() override {
        EXPECT_EQ(WinDialogTest::PendingModalSteps(), 0u) << "a step was never run";
        EXPECT_EQ(WinDialogTest::ModalLoopsPastDeadline(), m_loopsPastDeadline) << "a dialog never ended";
        WinDialogTest::ClearModalSteps();
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        WinDialogTest::ResetMessageBoxes();
        FreeLibrary(m_language);
    }

    // A new dialog of the kind with the test library as its resource module.
    template <class Dialog = CountingDialog>
    Dialog* Make() {
        auto* dialog = new Dialog;
        dialog->GetResource().SetModule(m_language);
        return dialog;
    }

    HMODULE m_language = nullptr;
    DWORD m_loopsPastDeadline = 0;
};

} // namespace dialogtest
