// Stopwatches for time-bounded work: a tick of the performance counter (CTalvoTime), a named stopwatch
// with a counter (CTalvoChrono), and trackers that collect the named stopwatches for a report.
#pragma once

#include "platform/win/wintypes.h"

#include <cstdint>
#include <string>
#include <vector>

class CTalvoTime {
public:
    CTalvoTime() : m_ticks(Now()) {}
    CTalvoTime(ULONGLONG ticks) : m_ticks(ticks) {}
    CTalvoTime(const CTalvoTime&) = default;
    CTalvoTime& operator=(const CTalvoTime&) = default;

    // The counter now; never 0, since a pause tick of 0 means that a stopwatch runs.
    static ULONGLONG Now();
    // Ticks per second, or 0 when the platform has no performance counter.
    static ULONGLONG PerSec();

    // For tests: the counter reads clock() instead of the system's clock; null restores the system's.
    using Clock = ULONGLONG (*)();
    static void SetClockForTesting(Clock clock);

    LONGLONG Since(const CTalvoTime& earlier) const {
        return static_cast<LONGLONG>(m_ticks - earlier.m_ticks);
    }
    LONGLONG Until(const CTalvoTime& later) const { return static_cast<LONGLONG>(later.m_ticks - m_ticks); }

    operator ULONGLONG() const { return m_ticks; }
    CTalvoTime& operator+=(const CTalvoTime& o) {
        m_ticks += o.m_ticks;
        return *this;
    }
    CTalvoTime& operator-=(const CTalvoTime& o) {
        m_ticks -= o.m_ticks;
        return *this;
    }
    CTalvoTime operator+(const CTalvoTime& o) const { return CTalvoTime(m_ticks + o.m_ticks); }
    CTalvoTime operator-(const CTalvoTime& o) const { return CTalvoTime(m_ticks - o.m_ticks); }
    bool operator==(const CTalvoTime& o) const { return m_ticks == o.m_ticks; }
    bool operator!=(const CTalvoTime& o) const { return m_ticks != o.m_ticks; }
    bool operator<(const CTalvoTime& o) const { return m_ticks < o.m_ticks; }
    bool operator<=(const CTalvoTime& o) const { return m_ticks <= o.m_ticks; }
    bool operator>(const CTalvoTime& o) const { return m_ticks > o.m_ticks; }
    bool operator>=(const CTalvoTime& o) const { return m_ticks >= o.m_ticks; }

private:
    ULONGLONG m_ticks;
};

// A stopwatch. A named one joins the collecting tracker, if there is one, and leaves it when it is
// destroyed or loses its name. A copy owns its own copy of the name.
class CTalvoChrono {
public:
    explicit CTalvoChrono(const char* name = nullptr);
    CTalvoChrono(const CTalvoChrono& other);
    CTalvoChrono& operator=(const CTalvoChrono& other);
    ~CTalvoChrono();

    void Start();
    void Pause();
    void Resume();
    ULONGLONG Elapsed() const;
    // Paused with nothing elapsed; the counter stays.
    void Reset();

    int Counter() const { return m_counter; }
    void Increment() { ++m_counter; }
    // Null when the stopwatch has no name.
    const char* Name() const { return m_hasName ? m_name.c_str() : nullptr; }
    void SetName(const char* name);
    bool IsRegistered() const { return m_registered; }

private:
    friend class CTalvoChronoTracker;

    ULONGLONG m_start = 1;
    ULONGLONG m_pause = 1; // 0 while running
    int m_counter = 0;
    bool m_registered = false;
    bool m_hasName = false;
    std::string m_name;
};

// Collects named stopwatches. Trackers are kept in creation order; the newest collects unless another
// was chosen with AddToMe.
class CTalvoChronoTracker {
public:
    using ChronoList = std::vector<CTalvoChrono*>;
    using TrackerList = std::vector<CTalvoChronoTracker*>;

    CTalvoChronoTracker();
    ~CTalvoChronoTracker();
    CTalvoChronoTracker(const CTalvoChronoTracker&) = delete;
    CTalvoChronoTracker& operator=(const CTalvoChronoTracker&) = delete;

    void AddToMe();
    // Appends the stopwatch to the collecting tracker; false when no tracker collects.
    static bool Add(CTalvoChrono* chrono);
    // Removes the stopwatch from the first tracker that holds it.
    static void Del(CTalvoChrono* chrono);

    const ChronoList& ChronoArray() const { return m_chronos; }
    static const TrackerList& TrackerArray();
    // Index in TrackerArray of the collecting tracker, -1 when there is none.
    static LONG TrackerToAddTo() { return s_nTrackerToAddTo; }

private:
    static TrackerList* Trackers();

    ChronoList m_chronos;
    static LONG s_nTrackerToAddTo;
};

// The library's own stopwatch: unnamed and reset when the library is loaded.
extern CTalvoChrono talvoChrono;
