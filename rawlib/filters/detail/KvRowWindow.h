// The sliding row windows of the windowed filters: a fixed number of rows of one width in one block, kept
// in order from the oldest to the newest; pushing a row reuses the oldest one's memory, so moving the
// window down by a row copies nothing.
#pragma once

#include "platform/win/wintypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

template <class T>
class TRowWindow {
public:
    // Rows start on cache lines (from their lead value on, see Reset): a vector load as wide as a line at
    // the same column of every row then lies in one line or straddles two alike, and one that straddles
    // costs a second read.
    static constexpr std::size_t kLineBytes = 64;
    static_assert(kLineBytes % sizeof(T) == 0);

    // Room for count rows of width values each, all zero, none pushed yet; value lead of every row (below
    // a line's values) starts a cache line. May throw std::bad_alloc.
    void Reset(std::size_t count, std::size_t width, std::size_t lead = 0) {
        constexpr std::size_t perLine = kLineBytes / sizeof(T);
        const std::size_t stride = (width + perLine - 1) / perLine * perLine;
        m_storage.assign(count * stride + perLine, T{});
        T* first = m_storage.data();
        const std::size_t past = reinterpret_cast<std::uintptr_t>(first + lead % perLine) % kLineBytes;
        if (past != 0)
            first += (kLineBytes - past) / sizeof(T);
        m_rows.resize(count);
        for (std::size_t r = 0; r < count; ++r)
            m_rows[r] = first + r * stride;
        m_width = width;
        m_pushed = 0;
    }

    // No row pushed, the memory and its old contents kept: for a window that fills all its rows again
    // before it reads one.
    void Restart() { m_pushed = 0; }

    // The memory of the next row: the oldest row's, which becomes the newest.
    T* Push() {
        std::rotate(m_rows.begin(), m_rows.begin() + 1, m_rows.end());
        ++m_pushed;
        return m_rows.back();
    }

    // Row i, 0 the oldest held; the newest is Row(Count() - 1).
    T* Row(std::size_t i) const { return m_rows[i]; }
    T* Newest() const { return m_rows.back(); }
    const T* const* Rows() const { return m_rows.data(); }
    std::size_t Count() const { return m_rows.size(); }
    std::size_t Width() const { return m_width; }
    // Rows pushed since Reset; while fewer than Count(), the newest ones are the last rows.
    std::size_t Pushed() const { return m_pushed; }
    // Whether every row holds a pushed row.
    bool Full() const { return m_pushed >= m_rows.size(); }

private:
    std::vector<T> m_storage;
    std::vector<T*> m_rows;
    std::size_t m_width = 0;
    std::size_t m_pushed = 0;
};
