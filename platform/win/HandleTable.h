// A table of 32-bit handles with generations: the low 20 bits name a slot, the high 12 bits count how
// often the slot was reused, so a handle that was closed fails instead of naming its slot's next object.
// Freed slots wait in a long FIFO before reuse, so a stale value needs millions of closes to come back.
// Not locked: the owner of a table holds its own lock around every call.
#pragma once

#include "wintypes.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

template <class T>
class HandleTable {
public:
    static constexpr std::uint32_t kIndexBits = 20;
    static constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
    static constexpr std::uint32_t kGenerationMask = (1u << (32 - kIndexBits)) - 1;
    // Slot numbers run 1..kMaxSlots, so no handle is 0 and none is 0xFFFFFFFF.
    static constexpr std::uint32_t kMaxSlots = kIndexMask - 1;
    static constexpr std::size_t kReuseDelay = 4096;

    // The new handle, or 0 when every slot is taken.
    std::uint32_t Insert(std::shared_ptr<T> object) {
        std::uint32_t slot;
        if (m_free.size() > kReuseDelay || (m_slots.size() >= kMaxSlots && !m_free.empty())) {
            slot = m_free.front();
            m_free.pop_front();
        } else if (m_slots.size() < kMaxSlots) {
            m_slots.push_back(Slot{});
            slot = static_cast<std::uint32_t>(m_slots.size());
        } else {
            return 0;
        }
        Slot& s = m_slots[slot - 1];
        s.object = std::move(object);
        ++m_count;
        return (s.generation << kIndexBits) | slot;
    }

    std::shared_ptr<T> Find(std::uint32_t handle) const {
        const Slot* s = Lookup(handle);
        return s ? s->object : nullptr;
    }

    // The object that was stored under the handle, or null when the handle is not (or no longer) valid.
    std::shared_ptr<T> Erase(std::uint32_t handle) {
        Slot* s = const_cast<Slot*>(Lookup(handle));
        if (!s)
            return nullptr;
        std::shared_ptr<T> object = std::move(s->object);
        s->object.reset();
        s->generation = (s->generation + 1) & kGenerationMask;
        m_free.push_back(handle & kIndexMask);
        --m_count;
        return object;
    }

    std::size_t Count() const { return m_count; }

    // Calls visit(handle, object) for every object in the table, in slot order.
    template <class Visit>
    void ForEach(Visit visit) const {
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            const Slot& s = m_slots[i];
            if (s.object)
                visit((s.generation << kIndexBits) | static_cast<std::uint32_t>(i + 1), s.object);
        }
    }

private:
    struct Slot {
        std::uint32_t generation = 0;
        std::shared_ptr<T> object;
    };

    const Slot* Lookup(std::uint32_t handle) const {
        const std::uint32_t slot = handle & kIndexMask;
        if (slot == 0 || slot > m_slots.size())
            return nullptr;
        const Slot& s = m_slots[slot - 1];
        if (!s.object || s.generation != (handle >> kIndexBits))
            return nullptr;
        return &s;
    }

    std::vector<Slot> m_slots;
    std::deque<std::uint32_t> m_free;
    std::size_t m_count = 0;
};
