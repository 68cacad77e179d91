#include "WinColorDialog.h"

#include <deque>
#include <mutex>
#include <utility>

namespace {

constexpr std::size_t kCustomColours = 16;

struct Answer {
    bool confirm;
    COLORREF colour;
};

struct DialogState {
    std::mutex lock;
    std::deque<Answer> answers;
    std::vector<WinUserTest::ColorDialogCall> calls;
    DWORD lastError = 0;
};

DialogState& State() {
    static DialogState* state = new DialogState;
    return *state;
}

} // namespace

BOOL ChooseColorW(CHOOSECOLORW* choice) {
    std::lock_guard<std::mutex> guard(State().lock);
    if (!choice || choice->lStructSize != sizeof(CHOOSECOLORW) || !choice->lpCustColors) {
        State().lastError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    State().lastError = 0;
    State().calls.push_back(WinUserTest::ColorDialogCall{
        choice->hwndOwner, choice->rgbResult, choice->Flags,
        std::vector<COLORREF>(choice->lpCustColors, choice->lpCustColors + kCustomColours)});
    if (State().answers.empty())
        return FALSE;
    const Answer answer = State().answers.front();
    State().answers.pop_front();
    if (!answer.confirm)
        return FALSE;
    choice->rgbResult = answer.colour & 0x00FFFFFF;
    return TRUE;
}

DWORD CommDlgExtendedError() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().lastError;
}

void WinUserTest::QueueColorDialogAnswer(bool confirm, COLORREF colour) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().answers.push_back(Answer{confirm, colour});
}

std::vector<WinUserTest::ColorDialogCall> WinUserTest::ColorDialogCalls() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().calls;
}

void WinUserTest::ResetColorDialog() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().answers.clear();
    State().calls.clear();
    State().lastError = 0;
}
