// The raw library's named locks: Kv::CSyncBase, an abstract lock with a name (kept for diagnostics) and a
// spin count, and Kv::CSyncCritical, a re-entrant critical section. CKvSyncGuard holds a lock for a
// scope, spinning on the non-blocking attempt before it blocks. Process-wide locks are declared as
// Kv::CSyncGlobal (CSyncGlobal.h), which is safe to use from other static initialisers.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace Kv {

// The number of processors, read once per process. A test may stand in another count (0 restores the
// machine's); it applies to locks constructed afterwards.
int GetProcessorCount();
void SetProcessorCountForTesting(int count);

class CSyncBase {
public:
    static constexpr int kDefaultSpinCount = 1000;

    // A null name is kept as "". A negative spin count becomes 1000; on a one-processor machine the spin
    // count is 0, since spinning there only delays the holder.
    CSyncBase(const char* name, int spinCount);
    CSyncBase(const CSyncBase&) = delete;
    CSyncBase& operator=(const CSyncBase&) = delete;
    virtual ~CSyncBase() = default;

    virtual bool Init() = 0;
    virtual void Delete() = 0;
    // One attempt that does not block; true when it entered.
    virtual bool TryLock() = 0;
    // Blocks until it enters; true.
    virtual bool Lock() = 0;
    // Leaves once; false when the calling thread does not hold the lock.
    virtual bool Unlock() = 0;

    // Up to count non-blocking attempts (a negative count means the spin count), then a blocking Lock.
    bool SpinLock(int count = -1);

    const std::string& GetName() const { return m_name; }
    int GetSpinCount() const { return m_spinCount; }

private:
    std::string m_name;
    int m_spinCount;
};

// Re-entrant for the owning thread: it may enter again and leaves as often as it entered.
class CSyncCritical : public CSyncBase {
public:
    CSyncCritical(const char* name, int spinCount = -1);
    ~CSyncCritical() override;

    // Picks the non-blocking entry. The mutex itself needs no set-up or tear-down.
    bool Init() override;
    void Delete() override;
    // With the non-blocking entry, one attempt; without it, Lock.
    bool TryLock() override;
    bool Lock() override;
    // Only the owning thread leaves; a call from any other thread changes nothing and answers false.
    bool Unlock() override;

protected:
    using TryEnterFunction = bool (*)(std::recursive_mutex&);
    // Null when the platform offers no non-blocking entry; TryLock then blocks.
    TryEnterFunction m_tryEnter = nullptr;

private:
    void Entered();

    std::recursive_mutex m_section;
    std::atomic<std::thread::id> m_owner{};
    int m_depth = 0; // touched only by the owner
};

} // namespace Kv

// Holds a lock from construction to the end of the scope.
class CKvSyncGuard {
public:
    explicit CKvSyncGuard(Kv::CSyncBase& lock) : m_lock(lock) { m_lock.SpinLock(-1); }
    ~CKvSyncGuard() { m_lock.Unlock(); }
    CKvSyncGuard(const CKvSyncGuard&) = delete;
    CKvSyncGuard& operator=(const CKvSyncGuard&) = delete;

private:
    Kv::CSyncBase& m_lock;
};
