#include "CTalvoChrono.h"

#include <algorithm>
#include <chrono>
#include <new>

namespace {

CTalvoTime::Clock g_testClock = nullptr;

// Set when the tracker list is destroyed at exit, so that stopwatches destroyed later in other
// libraries' statics find no list instead of a freed one.
bool g_trackersGone = false;

struct TrackerRegistry {
    CTalvoChronoTracker::TrackerList list;
    ~TrackerRegistry() { g_trackersGone = true; }
};

} // namespace

ULONGLONG CTalvoTime::Now() {
    ULONGLONG ticks = 0;
    if (g_testClock)
        ticks = g_testClock();
    else
        ticks = static_cast<ULONGLONG>(std::chrono::steady_clock::now().time_since_epoch().count());
    return ticks == 0 ? 1 : ticks;
}

ULONGLONG CTalvoTime::PerSec() {
    using Period = std::chrono::steady_clock::period;
    return static_cast<ULONGLONG>(Period::den / Period::num);
}

void CTalvoTime::SetClockForTesting(Clock clock) {
    g_testClock = clock;
}

CTalvoChrono talvoChrono;

CTalvoChrono::CTalvoChrono(const char* name) {
    SetName(name);
}

CTalvoChrono::CTalvoChrono(const CTalvoChrono& other)
    : m_start(other.m_start), m_pause(other.m_pause), m_counter(other.m_counter), m_hasName(other.m_hasName),
      m_name(other.m_name) {
    // The copy is a stopwatch of its own: it is registered only when it joined a tracker itself.
    if (other.m_registered)
        m_registered = CTalvoChronoTracker::Add(this);
}

CTalvoChrono& CTalvoChrono::operator=(const CTalvoChrono& other) {
    if (this == &other)
        return *this;
    m_start = other.m_start;
    m_pause = other.m_pause;
    m_counter = other.m_counter;
    m_hasName = other.m_hasName;
    m_name = other.m_name;
    // Membership follows the other stopwatch's, but a tracker's list only ever holds live members.
    if (m_registered && !other.m_registered) {
        CTalvoChronoTracker::Del(this);
        m_registered = false;
    } else if (!m_registered && other.m_registered) {
        m_registered = CTalvoChronoTracker::Add(this);
    }
    return *this;
}

CTalvoChrono::~CTalvoChrono() {
    if (m_registered)
        CTalvoChronoTracker::Del(this);
}

void CTalvoChrono::Start() {
    m_start = CTalvoTime::Now();
    m_pause = 0;
}

void CTalvoChrono::Pause() {
    if (m_pause == 0)
        m_pause = CTalvoTime::Now();
}

void CTalvoChrono::Resume() {
    if (m_pause != 0)
        m_start += CTalvoTime::Now() - m_pause;
    m_pause = 0;
}

ULONGLONG CTalvoChrono::Elapsed() const {
    return (m_pause != 0 ? m_pause : CTalvoTime::Now()) - m_start;
}

void CTalvoChrono::Reset() {
    m_start = 1;
    m_pause = 1;
}

void CTalvoChrono::SetName(const char* name) {
    const bool hadName = m_hasName;
    if (!name) {
        m_hasName = false;
        m_name.clear();
        if (hadName && m_registered)
            CTalvoChronoTracker::Del(this);
        m_registered = false;
        return;
    }
    m_name = name;
    m_hasName = true;
    if (!hadName)
        m_registered = CTalvoChronoTracker::Add(this);
}

LONG CTalvoChronoTracker::s_nTrackerToAddTo = -1;

CTalvoChronoTracker::TrackerList* CTalvoChronoTracker::Trackers() {
    if (g_trackersGone)
        return nullptr;
    static TrackerRegistry s_aryTracker;
    return &s_aryTracker.list;
}

const CTalvoChronoTracker::TrackerList& CTalvoChronoTracker::TrackerArray() {
    static const TrackerList* const none = new TrackerList();
    const TrackerList* list = Trackers();
    return list ? *list : *none;
}

CTalvoChronoTracker::CTalvoChronoTracker() {
    TrackerList* list = Trackers();
    if (!list)
        return;
    try {
        list->push_back(this);
    } catch (const std::bad_alloc&) {
        return; // a tracker that could not be listed collects nothing
    }
    s_nTrackerToAddTo = static_cast<LONG>(list->size()) - 1;
}

CTalvoChronoTracker::~CTalvoChronoTracker() {
    for (CTalvoChrono* chrono : m_chronos)
        chrono->m_registered = false;
    TrackerList* list = Trackers();
    if (!list)
        return;
    auto it = std::find(list->begin(), list->end(), this);
    if (it == list->end())
        return;
    const LONG removed = static_cast<LONG>(it - list->begin());
    list->erase(it);
    // The collecting tracker stays the same one; when it is this one, the one made before it collects.
    if (removed <= s_nTrackerToAddTo)
        --s_nTrackerToAddTo;
}

void CTalvoChronoTracker::AddToMe() {
    const TrackerList* list = Trackers();
    if (!list)
        return;
    auto it = std::find(list->begin(), list->end(), this);
    if (it != list->end())
        s_nTrackerToAddTo = static_cast<LONG>(it - list->begin());
}

bool CTalvoChronoTracker::Add(CTalvoChrono* chrono) {
    TrackerList* list = Trackers();
    if (!list || !chrono || s_nTrackerToAddTo < 0 || s_nTrackerToAddTo >= static_cast<LONG>(list->size()))
        return false;
    try {
        (*list)[static_cast<std::size_t>(s_nTrackerToAddTo)]->m_chronos.push_back(chrono);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CTalvoChronoTracker::Del(CTalvoChrono* chrono) {
    TrackerList* list = Trackers();
    if (!list)
        return;
    for (CTalvoChronoTracker* tracker : *list) {
        auto it = std::find(tracker->m_chronos.begin(), tracker->m_chronos.end(), chrono);
        if (it != tracker->m_chronos.end()) {
            tracker->m_chronos.erase(it);
            return;
        }
    }
}
