#include "design_module/DesignTextFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kFixed = L"Page %d of %d";

struct FormatCase {
    const wchar_t* format;
    std::wstring expected;
};

TEST(DesignTextFormat, AcceptsAtMostTheExpectedIntegerConversions) {
    const std::vector<FormatCase> cases = {
        {L"Page %d of %d", L"Page 3 of 12"},
        {L"Seite %i von %u", L"Seite 3 von 12"},
        {L"Page %d", L"Page 3"},
        {L"no numbers", L"no numbers"},
        {L"", L""},
        {L"%ld/%hd", L"3/12"},
        {L"[%-4d|%04d]", L"[3   |0012]"},
        {L"%+d %%", L"+3 %"},
        {L"100%% %d", L"100% 3"},
        // Hostile or broken texts fall back to the fixed one.
        {L"%s%n", L"Page 3 of 12"},
        {L"%d %d %d", L"Page 3 of 12"},
        {L"%x", L"Page 3 of 12"},
        {L"%.2d", L"Page 3 of 12"},
        {L"%*d", L"Page 3 of 12"},
        {L"%lld", L"Page 3 of 12"},
        {L"%99999999999d", L"Page 3 of 12"},
        {L"50%", L"Page 3 of 12"},
        {L"%", L"Page 3 of 12"},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.format)));
        EXPECT_EQ(std::wstring(designtext::Format(c.format, kFixed, {3, 12})), c.expected);
    }
}

TEST(DesignTextFormat, PrintsThirtyTwoBitValuesAsTheTextAsks) {
    EXPECT_EQ(std::wstring(designtext::Format(L"%d", kFixed, {-2147483647 - 1})), L"-2147483648");
    EXPECT_EQ(std::wstring(designtext::Format(L"%u", kFixed, {-1})), L"4294967295");
    EXPECT_EQ(std::wstring(designtext::Format(L"%hd", kFixed, {65537})), L"1");
    EXPECT_EQ(std::wstring(designtext::Format(L"%255d", kFixed, {1})).size(), 255u);
    EXPECT_FALSE(designtext::IsAcceptedFormat(L"%256d", 1));
}

TEST(DesignTextFormat, ANullTextOrABadFixedTextGivesTheFixedTextOrNothing) {
    EXPECT_EQ(std::wstring(designtext::Format(nullptr, kFixed, {1, 2})), L"Page 1 of 2");
    EXPECT_EQ(std::wstring(designtext::Format(L"%s", L"%s", {1})), L"");
}

} // namespace
