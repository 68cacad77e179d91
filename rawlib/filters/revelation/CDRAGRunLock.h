// Holds the process-wide lock "DORARevWholeThing", which serialises whole runs of the Revelation library
// across all sessions. A start takes it into a local holder, so that every failure on the way lets it go,
// and moves it into the session once the run is under way; the run's end releases it. The lock belongs to
// the thread that took it: the same thread drives the run and releases it.
#pragma once

#include <thread>

class CDRAGRunLock {
public:
    CDRAGRunLock() = default;
    // Blocks until the lock is free (or already held by this thread).
    static CDRAGRunLock Take();

    CDRAGRunLock(CDRAGRunLock&& other) noexcept;
    CDRAGRunLock& operator=(CDRAGRunLock&& other) noexcept;
    CDRAGRunLock(const CDRAGRunLock&) = delete;
    CDRAGRunLock& operator=(const CDRAGRunLock&) = delete;
    ~CDRAGRunLock() { Release(); }

    void Release();
    bool IsHeld() const { return m_held; }
    // Whether the lock is held by a thread other than the calling one.
    bool IsHeldElsewhere() const { return m_held && m_owner != std::this_thread::get_id(); }

private:
    bool m_held = false;
    std::thread::id m_owner;
};
