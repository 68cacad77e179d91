#include "platform/win/utf16.h"
#include "platform/win/wintypes.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf16, TheDesignWidthsAreThirtyTwoBit) {
    static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4);
    static_assert(sizeof(WPARAM) == sizeof(void*) && sizeof(LPARAM) == sizeof(void*));
}

TEST(Utf16, RoundTripsEveryPlaneThroughEachEncoding) {
    const std::wstring wide = L"A\u00e9\u20ac\U0001F600z";
    const std::string utf8 = Utf::WideToUtf8(wide);
    EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(Utf::Utf8ToWide(utf8), wide);
    const std::u16string utf16 = Utf::WideToUtf16(wide);
    ASSERT_EQ(utf16.size(), 6u);
    EXPECT_EQ(utf16[3], 0xD83D);
    EXPECT_EQ(utf16[4], 0xDE00);
    EXPECT_EQ(Utf::Utf16ToWide(utf16), wide);
    EXPECT_EQ(Utf::Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(Utf::Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(Utf::Utf16Length(wide), 6u);
}

TEST(Utf16, MalformedInputBecomesReplacementCharacters) {
    const wchar_t bad = static_cast<wchar_t>(0xFFFD);
    EXPECT_EQ(Utf::Utf8ToWide("a\x80"
                              "b"),
              (std::wstring{L'a', bad, L'b'}))
        << "stray continuation byte";
    EXPECT_EQ(Utf::Utf8ToWide("\xC0\xAF"), (std::wstring{bad})) << "overlong slash";
    EXPECT_EQ(Utf::Utf8ToWide("\xED\xA0\x80"), (std::wstring{bad})) << "encoded surrogate";
    EXPECT_EQ(Utf::Utf8ToWide("x\xE2\x82"), (std::wstring{L'x', bad, bad})) << "truncated at the end";
    EXPECT_EQ(Utf::Utf8ToWide("\xF8\x88\x80\x80\x80"), std::wstring(5, bad)) << "five-byte form";
    const std::u16string lone = {u'x', char16_t(0xDC00), char16_t(0xD800)};
    EXPECT_EQ(Utf::Utf16ToWide(lone), std::wstring(L"x\uFFFD\uFFFD"));
    const std::wstring tooBig(1, static_cast<wchar_t>(0x110000));
    EXPECT_EQ(Utf::WideToUtf8(tooBig), "\xEF\xBF\xBD");
}

TEST(Utf16, LittleEndianBytesAreReadAndWrittenUnitByUnit) {
    std::vector<std::uint8_t> bytes;
    Utf::AppendUtf16LE(bytes, u"H\u00e9");
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{'H', 0, 0xE9, 0}));
    bytes.push_back(0x41); // a dangling half unit is dropped
    EXPECT_EQ(Utf::Utf16FromLEBytes(bytes.data(), bytes.size()), u"H\u00e9");
    EXPECT_EQ(Utf::Utf16FromLEBytes(nullptr, 0), u"");
}

TEST(Utf16, APrefixOfUtf8NeverEndsInsideACharacter) {
    // "aé€𝄞": a (1 byte), é (2), € (3), 𝄞 (4): the boundaries are 0, 1, 3, 6 and 10.
    const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e";
    const std::size_t expected[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
    for (std::size_t limit = 0; limit < std::size(expected); ++limit)
        EXPECT_EQ(Utf::Utf8PrefixLength(text, limit), expected[limit]) << "limit " << limit;
    EXPECT_EQ(Utf::Utf8PrefixLength("\x80\x80\x80", 2), 0u) << "stray continuation bytes are not kept";
}

} // namespace
