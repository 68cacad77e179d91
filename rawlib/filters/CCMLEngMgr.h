// The raw library's process-wide cache of colour-management engines, keyed by the pair of source and
// destination profile paths. Engines that no holder outside the cache keeps stay idle, up to the idle
// limit, and are handed out again for their pair or reused, oldest first, for a new pair. The cache is the
// manager of every engine it hands out and decides when an idle one goes.
//
// Callers use the cache, and the engines it hands out, from one thread at a time.
#pragma once

#include "filters/CPravonFilterCMLEngine.h"
#include "platform/pravon/IPravonError.h"

#include <deque>
#include <list>
#include <memory>
#include <string>

class CCMLEngMgr : public CPravonFilterCMLEngine::IMgr {
public:
    using Holder = CPravonFilterCMLEngine::Holder;

    // The longest profile path a key takes, in bytes; a longer path is refused rather than cut short.
    static constexpr std::size_t kMaxPathLength = 259;

    // The pair of profile paths an engine is cached under, compared exactly (letter case counts).
    struct CCMLCriteria {
        std::string source;
        std::string destination;
    };

    // Becomes the process's cache (GetInstance) until it is destroyed.
    CCMLEngMgr();
    // Deletes every engine, held or idle; holders outside the cache are cleared.
    ~CCMLEngMgr() override;
    CCMLEngMgr(const CCMLEngMgr&) = delete;
    CCMLEngMgr& operator=(const CCMLEngMgr&) = delete;

    // The cache that exists now, or null.
    static CCMLEngMgr* GetInstance();

    // Gives the holder the engine for the pair, configured with proof mode on and intent 0. The holder's
    // previous engine is let go first. When the destination's file name begins with "%_", the proof
    // profile is the destination without those two characters. On failure the holder is left empty, the
    // engine is deleted and the cache keeps no entry for the pair. A null argument or an overlong path is
    // refused before anything changes.
    IPravonError* AcquireEngine(const char* source, const char* destination, Holder* holder);

    // Told by an engine of every holder added or removed; when only the cache's own holder is left, the
    // engine becomes idle, and the oldest idle engines go while the idle queue is full.
    void ReleaseEngine(CPravonFilterCMLEngine* engine, LONG holders) override;

    // Stores the number of idle engines kept and retires the oldest idle ones while at least that many
    // remain; 0 keeps none. A negative limit is refused and changes nothing.
    IPravonError* SetIdleLimit(LONG limit);
    LONG GetIdleLimit() const { return m_idleLimit; }

    LONG GetEntryCount() const { return static_cast<LONG>(m_entries.size()); }
    LONG GetIdleCount() const { return static_cast<LONG>(m_idle.size()); }

protected:
    // Makes a new engine; null when there is no memory for it.
    virtual CPravonFilterCMLEngine* NewEngine();

private:
    struct Entry {
        CCMLCriteria key;
        // Registered with the engine and never moved, since the engine keeps its address.
        std::unique_ptr<Holder> holder;
        bool idle = false;
    };
    using EntryList = std::list<Entry>;

    EntryList::iterator Find(const char* source, const char* destination);
    EntryList::iterator Find(const CPravonFilterCMLEngine* engine);
    // Takes the entry out of the idle queue when it is there.
    void LeaveIdle(EntryList::iterator entry);
    // Deletes the entry's engine (clearing every holder of it) and the entry.
    void Erase(EntryList::iterator entry);
    // Erases the oldest idle entries while the queue holds at least count of them.
    void RetireIdle(std::size_t count);
    IPravonError* Configure(CPravonFilterCMLEngine* engine, const CCMLCriteria& key);

    // Most recently inserted first.
    EntryList m_entries;
    // Newest idle entry at the front, oldest at the back.
    std::deque<EntryList::iterator> m_idle;
    LONG m_idleLimit = 0;
};
