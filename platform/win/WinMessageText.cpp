#include "WinMessageText.h"

#include "WinKernel.h"
#include "WinModule.h"
#include "WinUser.h"

#include <cstdlib>
#include <cwchar>

namespace {

struct SystemText {
    DWORD code;
    const wchar_t* text;
};

constexpr SystemText kSystemTexts[] = {
    {ERROR_SUCCESS, L"The operation completed successfully.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {ERROR_ACCESS_DENIED, L"Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, L"The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, L"Not enough memory resources are available to process this command.\r\n"},
    {13, L"The data is invalid.\r\n"},
    {14, L"Not enough memory resources are available to complete this operation.\r\n"},
    {29, L"The system cannot write to the specified device.\r\n"},
    {ERROR_NOT_SUPPORTED, L"The request is not supported.\r\n"},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, L"The data area passed to a system call is too small.\r\n"},
    {ERROR_MOD_NOT_FOUND, L"The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, L"The specified procedure could not be found.\r\n"},
    {234, L"More data is available.\r\n"},
    {WAIT_TIMEOUT, L"The wait operation timed out.\r\n"},
    {ERROR_TOO_MANY_POSTS, L"Too many posts were made to a semaphore.\r\n"},
    {ERROR_INVALID_WINDOW_HANDLE, L"Invalid window handle.\r\n"},
    {ERROR_CANNOT_FIND_WND_CLASS, L"Cannot find window class.\r\n"},
    {ERROR_CLASS_ALREADY_EXISTS, L"Class already exists.\r\n"},
    {ERROR_CLASS_DOES_NOT_EXIST, L"Class does not exist.\r\n"},
    {ERROR_CLASS_HAS_WINDOWS, L"Class still has open windows.\r\n"},
    {ERROR_INVALID_THREAD_ID, L"Invalid thread identifier.\r\n"},
    {ERROR_NOT_ENOUGH_QUOTA, L"Not enough quota is available to process this command.\r\n"},
};

const wchar_t* FindSystemText(DWORD code) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}

} // namespace

DWORD FormatMessageW(DWORD flags, const void*, DWORD messageId, DWORD, wchar_t* buffer, DWORD size,
                     va_list*) {
    if (!buffer || !(flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const wchar_t* text = FindSystemText(messageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const std::size_t length = std::wcslen(text);
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        const std::size_t room = length + 1 > size ? length + 1 : size;
        auto* copy = static_cast<wchar_t*>(std::malloc(room * sizeof(wchar_t)));
        if (!copy) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::wmemcpy(copy, text, length + 1);
        *reinterpret_cast<wchar_t**>(buffer) = copy;
        return static_cast<DWORD>(length);
    }
    if (length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
