#include "CCMLEngMgr.h"

#include "platform/win/FourCC.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr LONG kComponent = FourCC("CEMg");

CCMLEngMgr* g_instance = nullptr;

// A destination whose file name begins with "%_" is proofed against the same name without the prefix.
// The file name follows the last separator of either kind, or is the whole path when there is none.
std::string ProofPath(const std::string& destination) {
    const std::size_t separator = destination.find_last_of("\\/");
    const std::size_t name = separator == std::string::npos ? 0 : separator + 1;
    std::string proof = destination;
    if (destination.compare(name, 2, "%_") == 0)
        proof.erase(name, 2);
    return proof;
}

} // namespace

CCMLEngMgr::CCMLEngMgr() {
    g_instance = this;
}

CCMLEngMgr::~CCMLEngMgr() {
    if (g_instance == this)
        g_instance = nullptr;
    m_idle.clear();
    while (!m_entries.empty())
        Erase(m_entries.begin());
}

CCMLEngMgr* CCMLEngMgr::GetInstance() {
    return g_instance;
}

CPravonFilterCMLEngine* CCMLEngMgr::NewEngine() {
    return new (std::nothrow) CPravonFilterCMLEngine();
}

IPravonError* CCMLEngMgr::AcquireEngine(const char* source, const char* destination, Holder* holder) {
    if (!source || !destination || !holder)
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "an engine needs two profile paths and a holder");
    if (std::strlen(source) > kMaxPathLength || std::strlen(destination) > kMaxPathLength)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "a profile path is longer than a path may be");

    // Letting the old engine go may retire idle entries, so it happens before the search.
    *holder = nullptr;

    const auto found = Find(source, destination);
    // The entry being set up lives here, out of the list, until it succeeds; on failure it goes with it.
    EntryList pending;
    if (found != m_entries.end()) {
        LeaveIdle(found);
        if (CPravonFilterCMLEngine* engine = found->holder->Get()) {
            *holder = engine;
            return nullptr;
        }
        pending.splice(pending.end(), m_entries, found);
    } else if (!m_idle.empty()) {
        // The oldest idle entry keeps its engine and only gets the new pair.
        const auto oldest = m_idle.back();
        m_idle.pop_back();
        oldest->idle = false;
        pending.splice(pending.end(), m_entries, oldest);
    } else {
        try {
            pending.emplace_back();
            pending.back().holder = std::make_unique<Holder>();
        } catch (const std::bad_alloc&) {
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for an engine entry");
        }
    }

    Entry& entry = pending.front();
    try {
        entry.key.source = source;
        entry.key.destination = destination;
    } catch (const std::bad_alloc&) {
        delete entry.holder->Get();
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for an engine entry");
    }

    CPravonFilterCMLEngine* engine = entry.holder->Get();
    if (!engine) {
        engine = NewEngine();
        if (!engine)
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a colour engine");
        *entry.holder = engine;
    }
    if (IPravonError* error = Configure(engine, entry.key)) {
        delete engine;
        // The engine's error goes below the cache's own entry, so that the chain names the cache first.
        return IPravonError::AddWorker(
            IPravonError::Add(nullptr, kComponent, __LINE__, "configuring a colour engine"), error);
    }

    engine->SetManager(this);
    m_entries.splice(m_entries.begin(), pending);
    *holder = engine;
    return nullptr;
}

IPravonError* CCMLEngMgr::Configure(CPravonFilterCMLEngine* engine, const CCMLCriteria& key) {
    engine->SetAutoDeleteThreshold(1);
    try {
        const PravonFile proof{ProofPath(key.destination)};
        if (IPravonError* error = engine->SetProfiles({key.source}, {key.destination}, proof))
            return error;
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the engine's profile paths");
    }
    if (IPravonError* error = engine->SetProofMode(true))
        return error;
    return engine->SetRenderingIntent(0);
}

void CCMLEngMgr::ReleaseEngine(CPravonFilterCMLEngine* engine, LONG holders) {
    // The cache's own holder is one of the count and the threshold is 1: the engine is still in use
    // while any other holder keeps it.
    if (!engine || engine->GetAutoDeleteThreshold() < holders)
        return;

    // Held here and reported on below any threshold, the engine cannot go while the cache works on it.
    const LONG threshold = engine->GetAutoDeleteThreshold();
    engine->SetAutoDeleteThreshold(-1);
    Holder keep(engine);

    const auto entry = Find(engine);
    if (entry != m_entries.end() && !entry->idle) {
        if (m_idleLimit == 0) {
            Erase(entry);
        } else {
            entry->idle = true;
            RetireIdle(static_cast<std::size_t>(m_idleLimit));
            m_idle.push_front(entry);
        }
    }

    // Whatever happened above, an engine that is still there gets its threshold back, so that it can go
    // idle again once it is handed out and released.
    if (keep) {
        keep = nullptr;
        engine->SetAutoDeleteThreshold(threshold);
    }
}

IPravonError* CCMLEngMgr::SetIdleLimit(LONG limit) {
    if (limit < 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "a negative idle limit");
    m_idleLimit = limit;
    RetireIdle(static_cast<std::size_t>(limit));
    return nullptr;
}

CCMLEngMgr::EntryList::iterator CCMLEngMgr::Find(const char* source, const char* destination) {
    return std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& entry) {
        return entry.key.source == source && entry.key.destination == destination;
    });
}

CCMLEngMgr::EntryList::iterator CCMLEngMgr::Find(const CPravonFilterCMLEngine* engine) {
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [&](const Entry& entry) { return entry.holder->Get() == engine; });
}

void CCMLEngMgr::LeaveIdle(EntryList::iterator entry) {
    if (!entry->idle)
        return;
    entry->idle = false;
    const auto queued = std::find(m_idle.begin(), m_idle.end(), entry);
    if (queued != m_idle.end())
        m_idle.erase(queued);
}

void CCMLEngMgr::Erase(EntryList::iterator entry) {
    LeaveIdle(entry);
    delete entry->holder->Get();
    m_entries.erase(entry);
}

void CCMLEngMgr::RetireIdle(std::size_t count) {
    while (!m_idle.empty() && m_idle.size() >= count)
        Erase(m_idle.back());
}
