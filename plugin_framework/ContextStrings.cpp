#include "ContextStrings.h"

#include "platform/win/WinMessageText.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cwchar>

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

// The language FormatMessage is asked for: the user's default.
constexpr DWORD kUserDefaultLanguage = 0x400;

RendrImageStateProc g_imageStateWord = nullptr;

unsigned long long AddressValue(const void* address) {
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address));
}

// Truncated towards zero and held inside the 32-bit range (a NaN gives 0).
LONG Truncated(double value) {
    if (std::isnan(value))
        return 0;
    const double truncated = std::trunc(value);
    if (truncated >= static_cast<double>(INT32_MAX))
        return INT32_MAX;
    if (truncated <= static_cast<double>(INT32_MIN))
        return INT32_MIN;
    return static_cast<LONG>(truncated);
}

void AppendScale(TString& out, const TSize_T<double>* scale) {
    if (!scale)
        return;
    TString pairs;
    pairs.Format(L"scaleX=%lf;scaleY=%lf;", scale->cx, scale->cy);
    out += pairs;
}

void AppendSize(TString& out, const TSize_T<double>& size) {
    TString pairs;
    pairs.Format(L"page_width=%lf;page_height=%lf;", size.cx, size.cy);
    out += pairs;
}

// The text between the first '=' after the key's first occurrence and the first ';' after that.
bool PairText(const TString& context, const wchar_t* key, TString& text) {
    const int found = context.Find(key);
    if (found < 0)
        return false;
    const int equals = context.Find(L'=', found);
    if (equals < 0)
        return false;
    const int end = context.Find(L';', equals + 1);
    if (end < 0)
        return false;
    text = context.Mid(equals + 1, end - equals - 1);
    return true;
}

LONG PairNumber(const TString& context, const wchar_t* key) {
    TString text;
    if (!PairText(context, key, text) || text.IsEmpty())
        return 0;
    const wchar_t* start = text;
    wchar_t* end = nullptr;
    errno = 0;
    const long long value = std::wcstoll(start, &end, 10);
    if (end == start || errno == ERANGE || value > INT32_MAX || value < INT32_MIN)
        return 0;
    return static_cast<LONG>(value);
}

} // namespace

bool BuildDocContext(const TSize_T<double>& size, const TString& ldfFileName, TString& out,
                     const TSize_T<double>* scale) {
    out.Format(L"ldf_file_name=%ls;doc_width=%lf;doc_height=%lf;", static_cast<const wchar_t*>(ldfFileName),
               size.cx, size.cy);
    AppendScale(out, scale);
    return !out.IsEmpty();
}

bool BuildDrawContext(HDC dc, TString& out, const TRect_T<double>& destination,
                      const TSize_T<double>* drawContextSize, const TSize_T<double>* scale) {
    // Device-context handles are 32-bit ids carried in a pointer type.
    const LONG handle = static_cast<LONG>(reinterpret_cast<std::uintptr_t>(dc));
    out.Format(L"hdc=%d;dst_left=%lf;dst_top=%lf;dst_width=%lf;dst_height=%lf;", handle, destination.left,
               destination.top, destination.Width(), destination.Height());
    if (drawContextSize) {
        TString pairs;
        pairs.Format(L"draw_ctx__width=%lf;draw_ctx_height=%lf;", drawContextSize->cx, drawContextSize->cy);
        out += pairs;
    }
    AppendScale(out, scale);
    return !out.IsEmpty();
}

bool BuildPageContext(IproHandle image, TString& out, const TSize_T<double>* pageSize,
                      const TRect_T<LONG>* invalidRect, RendrImageStateProc imageStateCallback,
                      LONG subscriberId, bool pageSwitch) {
    out.Format(L"iProImg=%d;", static_cast<LONG>(image));
    if (pageSize) {
        AppendSize(out, *pageSize);
        const TRect_T<LONG> invalid =
            invalidRect ? *invalidRect
                        : TRect_T<LONG>(0, 0, Truncated(pageSize->cx), Truncated(pageSize->cy));
        LONG imageWidth = 0, imageHeight = 0;
        if (iproGetImageSize(image, &imageWidth, &imageHeight) != 1)
            imageWidth = imageHeight = 0;
        TString pairs;
        pairs.Format(L"page_invalidRect_left=%d;page_invalidRect_top=%d;page_invalidRect_right=%d;"
                     L"page_invalidRect_bottom=%d;page_viewport_left=%d;page_viewport_top=%d;"
                     L"page_viewport_right=%d;page_viewport_bottom=%d;",
                     invalid.left, invalid.top, invalid.right, invalid.bottom, 0, 0, imageWidth, imageHeight);
        out += pairs;
        if (imageStateCallback) {
            RendrStoreImageStateProc(&g_imageStateWord, imageStateCallback);
            pairs.Format(L"page_img_load_manager_cb=%llu;page_img_load_manager_subscr_id=%d;",
                         AddressValue(&g_imageStateWord), subscriberId);
            out += pairs;
        }
    }
    if (pageSwitch)
        out += L"page_switch=1;";
    return !out.IsEmpty();
}

bool BuildFilePageContext(const TFilePath& location, TString& out, const TSize_T<double>* pageSize) {
    const TString path = location.GetPath();
    out.Format(L"file_name=%ls;", static_cast<const wchar_t*>(path));
    if (pageSize)
        AppendSize(out, *pageSize);
    return !out.IsEmpty();
}

bool BuildImagePageContext(IproHandle image, TString& out, const TSize_T<double>* pageSize) {
    if (pageSize)
        out.Format(L"iProImg=%d;page_width=%lf;page_height=%lf;", static_cast<LONG>(image), pageSize->cx,
                   pageSize->cy);
    else
        out.Format(L"iProImg=%d;", static_cast<LONG>(image));
    return true;
}

RendrImageStateProc* ImageStateCallbackWord() {
    return &g_imageStateWord;
}

TString GetContextFileName(const TString& context) {
    TString text;
    return PairText(context, L"file_name", text) ? text : TString();
}

LONG GetContextImageHandle(const TString& context) {
    return PairNumber(context, L"iProImg");
}

LONG GetContextHdc(const TString& context) {
    return PairNumber(context, L"hdc");
}

TString GetSystemErrorText(DWORD code) {
    wchar_t* message = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, kUserDefaultLanguage, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    TString text;
    text.Format(L"The following error occurred:\r\n%d - %ls ", static_cast<LONG>(code),
                message ? message : L"");
    if (message)
        LocalFree(message);
    return text;
}
