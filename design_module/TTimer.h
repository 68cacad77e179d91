// An interval timer that calls back on the thread that made it, through a hidden window of its own. It is
// created stopped; the destructor stops it and destroys the window.
#pragma once

#include "plugin_framework/TBaseObject.h"
#include "plugin_framework/TWindow.h"

class TTimer;

// The hidden window of class "TimerWnd" whose WM_TIMER ticks reach the timer.
class TTimerWnd : public TWindow {
public:
    explicit TTimerWnd(TTimer* timer) : m_timer(timer) {}
    LONG OnCreate() override;

private:
    static LONG OnTimerTick(TMessageInfo* info, void* context);

    TTimer* m_timer;
};

class TTimer : public TBaseObject {
public:
    using TCallback = void (*)(void* context);

    TTimer();
    ~TTimer() override;

    void SetCallback(TCallback callback, void* context);
    void SetInterval(UINT milliseconds) { m_interval = milliseconds; }
    // True when the timer runs (already running: nothing changes).
    bool Start();
    bool IsRunning() const { return m_timerId != 0; }
    // True when it was running.
    bool Stop();

private:
    friend class TTimerWnd;
    void Tick();

    TCallback m_callback = nullptr;
    void* m_context = nullptr;
    UINT m_interval = 1000;
    UINT_PTR m_timerId = 0;
    TRefPtr<TTimerWnd> m_window;
};
