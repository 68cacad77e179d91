// Deadlines for tests with threads. A Watchdog ends the process with a message when a test runs past its
// limit, so a deadlock fails that one test instead of hanging the suite; WaitUntil waits for a condition
// and gives up at a deadline. Neither is a timing assertion: the limits only bound a hang.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace kvtest {

// Generous: sanitizer builds on a loaded machine run a hundred times slower than a plain build alone.
constexpr std::chrono::milliseconds kThreadDeadline{60000};

class Watchdog {
public:
    explicit Watchdog(std::string what, std::chrono::milliseconds limit = kThreadDeadline)
        : m_what(std::move(what)), m_thread([this, limit] { Watch(limit); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Watch(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
            std::fprintf(stderr, "watchdog: \"%s\" did not finish within %lld ms\n", m_what.c_str(),
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
        }
    }

    std::string m_what;
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// Polls the condition until it holds; false when the deadline came first.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kThreadDeadline) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (int polls = 0; !condition(); ++polls) {
        if (std::chrono::steady_clock::now() > deadline)
            return condition();
        if (polls < 1000)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

} // namespace kvtest
