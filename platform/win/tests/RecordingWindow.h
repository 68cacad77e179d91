// Windows for the user-services tests: each records the messages it receives and may answer some of them
// through a handler. The recorder is the window's creation parameter and lives in its user data.
#pragma once

#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace usertest {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};

struct Recorder {
    // Answers a message itself when it returns true (with the result in its last argument).
    std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)> handler;

    void Add(const Seen& seen) {
        std::lock_guard<std::mutex> guard(lock);
        all.push_back(seen);
    }
    std::vector<Seen> Of(UINT message) const {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Seen> out;
        for (const Seen& s : all) {
            if (s.message == message)
                out.push_back(s);
        }
        return out;
    }
    std::vector<UINT> Messages() const {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<UINT> out;
        for (const Seen& s : all)
            out.push_back(s.message);
        return out;
    }
    // The messages of the kinds given, in the order they came: what a test's expected sequence lists.
    std::vector<UINT> Messages(std::initializer_list<UINT> among) const {
        std::vector<UINT> out;
        for (UINT message : Messages()) {
            if (std::find(among.begin(), among.end(), message) != among.end())
                out.push_back(message);
        }
        return out;
    }
    int Count(UINT message) const { return static_cast<int>(Of(message).size()); }

    mutable std::mutex lock;
    std::vector<Seen> all;
};

inline LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (recorder) {
        recorder->Add(Seen{window, message, wParam, lParam, GetCurrentThreadId()});
        LRESULT result = 0;
        if (recorder->handler && recorder->handler(window, message, wParam, lParam, result))
            return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A module instance of its own for each test, so that class registrations never meet.
inline HINSTANCE NewInstance() {
    static std::atomic<std::uintptr_t> next{0x7f0000000000};
    return reinterpret_cast<HINSTANCE>(next.fetch_add(0x1000));
}

inline ATOM RegisterRecordingClass(HINSTANCE instance, const wchar_t* name = L"TestWnd") {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = name;
    return RegisterClassW(&windowClass);
}

inline HWND MakeWindow(HINSTANCE instance, Recorder& recorder, DWORD style = 0, HWND parent = nullptr,
                       const wchar_t* className = L"TestWnd") {
    return CreateWindowExW(0, className, L"", style, 0, 0, 100, 50, parent, nullptr, instance, &recorder);
}

} // namespace usertest
