#include "TProgCtrl.h"

#include "platform/win/WinControls.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

LONG Saturated(long long value) {
    return static_cast<LONG>(
        std::clamp<long long>(value, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

} // namespace

bool TProgCtrl::SetPos(LONG position) {
    m_position = position;
    HWND window = Bound();
    if (!window)
        return false;
    ::SendMessageW(window, PBM_SETPOS, static_cast<WPARAM>(static_cast<std::intptr_t>(position)), 0);
    return true;
}

bool TProgCtrl::SetStep(LONG step) {
    m_step = step;
    return Bound() != nullptr;
}

bool TProgCtrl::StepIt() {
    return SetPos(Saturated(std::min<long long>(static_cast<long long>(m_position) + m_step, m_maximum)));
}

bool TProgCtrl::OffsetPos(LONG change) {
    return SetPos(Saturated(static_cast<long long>(m_position) + change));
}

bool TProgCtrl::SetMin(LONG minimum) {
    m_minimum = minimum;
    return SendRange();
}

bool TProgCtrl::SetMax(LONG maximum) {
    m_maximum = maximum;
    return SendRange();
}

bool TProgCtrl::SendRange() {
    HWND window = Bound();
    if (!window)
        return false;
    ::SendMessageW(window, PBM_SETRANGE32, static_cast<WPARAM>(static_cast<std::intptr_t>(m_minimum)),
                   m_maximum);
    return true;
}
