#include "platform/renderers/RendrContext.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(RendrContext, KeysBeginTheirPairsAndTheFirstPairOfAKeyWins) {
    const RendrContext context(
        L"page_width=640.500000;iProImg=7;iProImg=8;file_name=C:\\a;b=1;noequals;empty=;"
        L"cancel_event=140737488355328");
    EXPECT_TRUE(context.Has(L"page_width"));
    EXPECT_FALSE(context.Has(L"width")) << "no key matches inside another";
    EXPECT_FALSE(context.Has(L"noequals"));
    EXPECT_EQ(context.Text(L"file_name"), L"C:\\a");
    EXPECT_EQ(context.Text(L"empty"), L"");
    EXPECT_EQ(context.Text(L"missing"), L"");
    LONG number = 0;
    EXPECT_TRUE(context.Long(L"iProImg", number));
    EXPECT_EQ(number, 7);
    double real = 0;
    EXPECT_TRUE(context.Double(L"page_width", real));
    EXPECT_DOUBLE_EQ(real, 640.5);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(context.Address(L"cancel_event")), std::uintptr_t{1} << 47)
        << "the last pair needs no semicolon";
    EXPECT_EQ(RendrContext(nullptr).Text(L"a"), L"");
}

TEST(RendrContext, NumbersAreReadWholeAndInRange) {
    const struct {
        const wchar_t* value;
        bool isLong;
        LONG longValue;
        bool isDouble;
        double doubleValue;
    } cases[] = {
        {L"42", true, 42, true, 42},
        {L"-2147483648", true, INT_MIN, true, -2147483648.0},
        {L"2147483648", false, 0, true, 2147483648.0},
        {L"12px", false, 0, false, 0},
        {L"", false, 0, false, 0},
        {L" 5", false, 0, false, 0},
        {L"0.25", false, 0, true, 0.25},
        {L"1e3", false, 0, true, 1000},
        {L"1e999", false, 0, false, 0},
        {L"nan", false, 0, false, 0},
        {L"inf", false, 0, false, 0},
        {L"3,5", false, 0, false, 0},
        {L"\u0665", false, 0, false, 0},
    };
    for (const auto& c : cases) {
        const std::wstring text = std::wstring(L"v=") + c.value + L";";
        const RendrContext context(text.c_str());
        LONG number = -1;
        double real = -1;
        EXPECT_EQ(context.Long(L"v", number), c.isLong) << text;
        EXPECT_EQ(context.Double(L"v", real), c.isDouble) << text;
        if (c.isLong) {
            EXPECT_EQ(number, c.longValue) << text;
        }
        if (c.isDouble) {
            EXPECT_DOUBLE_EQ(real, c.doubleValue) << text;
        }
    }
}

} // namespace
