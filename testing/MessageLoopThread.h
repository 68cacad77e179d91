// A thread with a message loop of its own, as the host's user-interface thread is: it runs the set-up it is
// given (windows and objects made there belong to it), then dispatches its messages until the object goes.
#pragma once

#include "platform/win/WinKernel.h"
#include "platform/win/WinUser.h"
#include "testing/Deadline.h"

#include <atomic>
#include <functional>
#include <thread>

namespace kvtest {

class MessageLoopThread {
public:
    explicit MessageLoopThread(std::function<void()> setUp) {
        m_thread = std::thread([this, setUp = std::move(setUp)] {
            setUp();
            m_id.store(GetCurrentThreadId());
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
        });
        WaitUntil([this] { return m_id.load() != 0; });
    }
    ~MessageLoopThread() {
        PostThreadMessageW(m_id.load(), WM_QUIT, 0, 0);
        m_thread.join();
    }
    MessageLoopThread(const MessageLoopThread&) = delete;
    MessageLoopThread& operator=(const MessageLoopThread&) = delete;

    // The thread's id; it is known, and the set-up done, once the constructor returns.
    DWORD Id() const { return m_id.load(); }

private:
    std::atomic<DWORD> m_id{0};
    std::thread m_thread;
};

} // namespace kvtest
