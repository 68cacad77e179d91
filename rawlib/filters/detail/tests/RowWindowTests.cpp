// The row windows of the windowed filters: every row starts its lead value on a cache line whatever the
// width, rows never share memory, and pushing keeps the rows in order from the oldest to the newest.
#include "rawlib/filters/detail/KvRowWindow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace {

constexpr std::uintptr_t kLine = 64;

struct Layout {
    std::size_t count;
    std::size_t width;
    std::size_t lead;
};

// Widths below, at and past a line's values, odd ones, and leads within and beyond a line.
constexpr Layout kLayouts[] = {{1, 1, 0},    {3, 15, 1},   {3, 16, 0}, {3, 17, 1},   {5, 33, 0},
                               {35, 290, 1}, {33, 288, 0}, {4, 7, 15}, {2, 100, 17}, {6, 64, 5}};

template <class T>
void ExpectLayout(const Layout& layout) {
    SCOPED_TRACE(::testing::Message() << "value bytes " << sizeof(T) << ", " << layout.count << " rows of "
                                      << layout.width << ", lead " << layout.lead);
    TRowWindow<T> window;
    window.Reset(layout.count, layout.width, layout.lead);
    ASSERT_EQ(window.Count(), layout.count);
    EXPECT_EQ(window.Width(), layout.width);
    EXPECT_EQ(window.Pushed(), 0u);
    std::set<const T*> values;
    for (std::size_t r = 0; r < layout.count; ++r) {
        T* row = window.Row(r);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(row + layout.lead) % kLine, 0u) << "row " << r;
        for (std::size_t x = 0; x < layout.width; ++x) {
            EXPECT_EQ(row[x], T{}) << "row " << r << " column " << x;
            EXPECT_TRUE(values.insert(row + x).second) << "row " << r << " column " << x << " is shared";
        }
    }
    // Each pushed row filled with its number: every earlier row keeps its own, oldest first.
    const std::size_t pushes = layout.count + 2;
    for (std::size_t n = 1; n <= pushes; ++n) {
        T* row = window.Push();
        EXPECT_EQ(row, window.Newest());
        for (std::size_t x = 0; x < layout.width; ++x)
            row[x] = static_cast<T>(n);
    }
    EXPECT_EQ(window.Pushed(), pushes);
    EXPECT_TRUE(window.Full());
    for (std::size_t r = 0; r < layout.count; ++r) {
        const T expected = static_cast<T>(pushes - layout.count + 1 + r);
        for (std::size_t x = 0; x < layout.width; ++x)
            ASSERT_EQ(window.Row(r)[x], expected) << "row " << r << " column " << x;
    }
}

TEST(RowWindow, RowsStartTheirLeadOnACacheLineAndKeepTheirOwnValues) {
    for (const Layout& layout : kLayouts) {
        ExpectLayout<LONG>(layout);
        ExpectLayout<WORD>(layout);
        ExpectLayout<BYTE>(layout);
    }
}

} // namespace
