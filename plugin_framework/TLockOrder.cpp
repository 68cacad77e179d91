#include "TLockOrder.h"

#include "platform/win/WinDebug.h"

#include <array>
#include <atomic>
#include <cassert>
#include <cstdio>

namespace {

constexpr std::size_t kRanks = 3;

thread_local std::array<int, kRanks> t_held{};

std::atomic<LockOrder::ViolationHandler> g_handler{nullptr};

std::size_t IndexOf(TLockRank rank) {
    return static_cast<std::size_t>(rank);
}

const char* NameOf(TLockRank rank) {
    switch (rank) {
    case TLockRank::kDocument:
        return "document lock";
    case TLockRank::kPreviews:
        return "preview lock";
    case TLockRank::kPreview:
        return "lock of a preview";
    }
    return "lock";
}

// Whether a lock of the wanted rank may be taken while one of the held rank is held.
bool Allowed(TLockRank held, TLockRank wanted) {
    if (held == wanted)
        return true;
    // Only a preview's own lock may be taken inside another, and only inside the preview lock.
    return held == TLockRank::kPreviews && wanted == TLockRank::kPreview;
}

void DefaultViolation(TLockRank held, TLockRank wanted) {
    char text[160];
    std::snprintf(text, sizeof text, "Lock order: the %s is taken while the %s is held\n", NameOf(wanted),
                  NameOf(held));
    OutputDebugStringA(text);
    assert(!"the page iterator's locks are taken in a wrong order");
}

} // namespace

namespace LockOrder {

void Enter(TLockRank wanted) {
    for (std::size_t i = 0; i < kRanks; ++i) {
        const auto held = static_cast<TLockRank>(i);
        if (t_held[i] > 0 && !Allowed(held, wanted)) {
            const ViolationHandler handler = g_handler.load();
            (handler ? handler : &DefaultViolation)(held, wanted);
        }
    }
    ++t_held[IndexOf(wanted)];
}

void Leave(TLockRank rank) {
    int& count = t_held[IndexOf(rank)];
    if (count > 0)
        --count;
}

int HeldCount(TLockRank rank) {
    return t_held[IndexOf(rank)];
}

void SetViolationHandler(ViolationHandler handler) {
    g_handler.store(handler);
}

} // namespace LockOrder
