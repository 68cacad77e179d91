#include "TTimer.h"

namespace {

constexpr UINT_PTR kTimerId = 1;
const TWindow::TRect kTimerWindowRect{1, 1, 3, 3};

} // namespace

LONG TTimerWnd::OnCreate() {
    AddMessageHandler(WM_TIMER, TMessageHandler{this, &TTimerWnd::OnTimerTick});
    return 0;
}

LONG TTimerWnd::OnTimerTick(TMessageInfo*, void* context) {
    auto* window = static_cast<TTimerWnd*>(context);
    if (window->m_timer)
        window->m_timer->Tick();
    return 1;
}

TTimer::TTimer() : m_window(TRefPtr<TTimerWnd>::Adopt(new TTimerWnd(this))) {
    m_window->Create(L"TimerWnd", 0, kTimerWindowRect, nullptr);
}

TTimer::~TTimer() {
    Stop();
    m_window->Destroy();
}

void TTimer::SetCallback(TCallback callback, void* context) {
    m_callback = callback;
    m_context = context;
}

bool TTimer::Start() {
    if (!IsRunning() && m_window->IsWindow())
        m_timerId = ::SetTimer(m_window->GetHandle(), kTimerId, m_interval, nullptr);
    return IsRunning();
}

bool TTimer::Stop() {
    if (!IsRunning())
        return false;
    ::KillTimer(m_window->GetHandle(), m_timerId);
    m_timerId = 0;
    return true;
}

void TTimer::Tick() {
    if (m_callback)
        m_callback(m_context);
}
