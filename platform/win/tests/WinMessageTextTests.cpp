#include "platform/win/WinKernel.h"
#include "platform/win/WinMessageText.h"
#include "platform/win/WinModule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kSystemFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(SystemMessageText, AllocatedTextsAreTheSystemsSentencesWithTheirLineEnd) {
    const struct {
        DWORD code;
        const wchar_t* text;
    } cases[] = {
        {ERROR_SUCCESS, L"The operation completed successfully.\r\n"},
        {2, L"The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, L"Access is denied.\r\n"},
        {ERROR_MOD_NOT_FOUND, L"The specified module could not be found.\r\n"},
    };
    for (const auto& c : cases) {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, c.code,
                                            0x400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        ASSERT_NE(text, nullptr) << c.code;
        EXPECT_EQ(std::wstring(text), c.text);
        EXPECT_EQ(length, std::wstring(c.text).size());
        EXPECT_EQ(LocalFree(text), nullptr);
    }
}

TEST(SystemMessageText, UnknownCodesAndShortBuffersGiveNothing) {
    wchar_t* text = nullptr;
    EXPECT_EQ(FormatMessageW(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0x7FFFFFFF, 0,
                             reinterpret_cast<wchar_t*>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(text, nullptr);

    wchar_t buffer[20] = L"untouched";
    // "Access is denied.\r\n" is 19 characters: with its terminator it needs all 20.
    EXPECT_EQ(FormatMessageW(kSystemFlags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 20, nullptr), 19u);
    EXPECT_EQ(std::wstring(buffer), L"Access is denied.\r\n");
    EXPECT_EQ(FormatMessageW(kSystemFlags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 19, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(FormatMessageW(0, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 20, nullptr), 0u)
        << "only the system's texts are kept";
}

} // namespace
