#include "TString.h"

#include "platform/win/WinDebug.h"
#include "platform/win/WinResources.h"
#include "platform/win/utf16.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <new>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

namespace {

// No string grows past this through Format or LoadString: a text that keeps failing stops here.
constexpr long long kMaxGrownLength = 1 << 20;
// Lengths are 32-bit in the representation.
constexpr long long kMaxLength = INT_MAX - 64;

void Trace(const char* text) {
    OutputDebugStringA(text);
}

// Formatting runs in the C locale with UTF-8 as its character encoding, whatever the host's locale is:
// numbers always use '.', and narrow texts in wide formats (and wide texts in narrow ones) are UTF-8.
locale_t FormatLocale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!l)
            l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
        return l;
    }();
    return locale;
}

class FormatLocaleScope {
public:
    FormatLocaleScope() {
        if (locale_t locale = FormatLocale())
            m_previous = uselocale(locale);
    }
    ~FormatLocaleScope() {
        if (m_previous)
            uselocale(m_previous);
    }
    FormatLocaleScope(const FormatLocaleScope&) = delete;
    FormatLocaleScope& operator=(const FormatLocaleScope&) = delete;

private:
    locale_t m_previous = static_cast<locale_t>(0);
};

int FormatInto(wchar_t* buffer, std::size_t size, const wchar_t* format, va_list args) {
    return std::vswprintf(buffer, size, format, args);
}

int FormatInto(char* buffer, std::size_t size, const char* format, va_list args) {
    return std::vsnprintf(buffer, size, format, args);
}

int CompareText(const wchar_t* a, const wchar_t* b) {
    return std::wcscmp(a, b);
}
int CompareText(const char* a, const char* b) {
    return std::strcmp(a, b);
}
int CompareTextNoCase(const wchar_t* a, const wchar_t* b) {
    return wcscasecmp(a, b);
}
int CompareTextNoCase(const char* a, const char* b) {
    return strcasecmp(a, b);
}

int LoadStringInto(HINSTANCE module, UINT id, wchar_t* buffer, int size) {
    return LoadStringW(module, id, buffer, size);
}
int LoadStringInto(HINSTANCE module, UINT id, char* buffer, int size) {
    return LoadStringA(module, id, buffer, size);
}

std::wstring Convert(std::string_view text, const wchar_t*) {
    return Utf::Utf8ToWide(text);
}
std::string Convert(std::wstring_view text, const char*) {
    return Utf::WideToUtf8(text);
}

std::u16string ToUtf16(std::wstring_view text) {
    return Utf::WideToUtf16(text);
}
std::u16string ToUtf16(std::string_view text) {
    return Utf::Utf8ToUtf16(text);
}

} // namespace

template <class CharT>
constinit typename TStringT<CharT>::EmptyRep TStringT<CharT>::s_empty = {{{-1}, 0, 0}, 0};

template <class CharT>
CharT* TStringT<CharT>::Allocate(long long capacity) {
    static_assert(offsetof(EmptyRep, zero) == sizeof(TStringData), "characters follow the header");
    if (capacity < 0 || capacity > kMaxLength)
        throw std::bad_alloc();
    void* block =
        ::operator new(sizeof(TStringData) + (static_cast<std::size_t>(capacity) + 1) * sizeof(CharT));
    auto* data = new (block) TStringData{{1}, 0, static_cast<LONG>(capacity)};
    auto* chars = reinterpret_cast<CharT*>(data + 1);
    chars[0] = 0;
    return chars;
}

template <class CharT>
void TStringT<CharT>::ReleaseData(CharT* chars) noexcept {
    if (chars == &s_empty.zero)
        return;
    TStringData* data = reinterpret_cast<TStringData*>(chars) - 1;
    if (data->refs.fetch_sub(1, std::memory_order_acq_rel) <= 1) {
        data->~TStringData();
        ::operator delete(data);
    }
}

template <class CharT>
bool TStringT<CharT>::IsShared() const noexcept {
    return !IsEmptyRep() && GetData()->refs.load(std::memory_order_acquire) > 1;
}

template <class CharT>
bool TStringT<CharT>::IsSpace(CharT ch) noexcept {
    if constexpr (std::is_same_v<CharT, wchar_t>)
        return std::iswspace(static_cast<wint_t>(ch)) != 0;
    else
        return ch == ' ';
}

template <class CharT>
long long TStringT<CharT>::Length(const CharT* text) noexcept {
    return text ? static_cast<long long>(std::char_traits<CharT>::length(text)) : 0;
}

template <class CharT>
void TStringT<CharT>::ReleaseMine() noexcept {
    ReleaseData(m_pchData);
    m_pchData = &s_empty.zero;
}

template <class CharT>
void TStringT<CharT>::SetLength(long long length) {
    GetData()->length = static_cast<LONG>(length);
    m_pchData[length] = 0;
}

// The text may lie inside this string's buffer: it is moved in place, or copied into the new block
// before the old one is released.
template <class CharT>
void TStringT<CharT>::AssignCopy(const CharT* text, long long count) {
    if (count <= 0) {
        if (IsShared())
            ReleaseMine();
        else if (!IsEmptyRep())
            SetLength(0);
        return;
    }
    if (!IsEmptyRep() && !IsShared() && count <= GetData()->capacity) {
        std::char_traits<CharT>::move(m_pchData, text, static_cast<std::size_t>(count));
        SetLength(count);
        return;
    }
    CharT* fresh = Allocate(count);
    std::char_traits<CharT>::copy(fresh, text, static_cast<std::size_t>(count));
    ReleaseData(m_pchData);
    m_pchData = fresh;
    SetLength(count);
}

template <class CharT>
void TStringT<CharT>::Append(const CharT* text, long long count) {
    if (count <= 0)
        return;
    const long long length = GetLength();
    if (length + count > kMaxLength)
        throw std::bad_alloc();
    if (!IsEmptyRep() && !IsShared() && length + count <= GetData()->capacity) {
        std::char_traits<CharT>::move(m_pchData + length, text, static_cast<std::size_t>(count));
        SetLength(length + count);
        return;
    }
    CharT* fresh = Allocate(length + count);
    std::char_traits<CharT>::copy(fresh, m_pchData, static_cast<std::size_t>(length));
    std::char_traits<CharT>::copy(fresh + length, text, static_cast<std::size_t>(count));
    ReleaseData(m_pchData);
    m_pchData = fresh;
    SetLength(length + count);
}

template <class CharT>
void TStringT<CharT>::CopyBeforeWrite() {
    if (!IsShared())
        return;
    const long long length = GetLength();
    CharT* fresh = Allocate(length);
    std::char_traits<CharT>::copy(fresh, m_pchData, static_cast<std::size_t>(length) + 1);
    ReleaseData(m_pchData);
    m_pchData = fresh;
    GetData()->length = static_cast<LONG>(length);
}

template <class CharT>
TStringT<CharT>::TStringT() noexcept : m_pchData(&s_empty.zero) {}

template <class CharT>
TStringT<CharT>::TStringT(const CharT* text) : m_pchData(&s_empty.zero) {
    if (!text)
        return;
    const auto value = reinterpret_cast<std::uintptr_t>(text);
    if (value < 0x10000) {
        LoadString(nullptr, static_cast<UINT>(value % 0x10000));
        return;
    }
    AssignCopy(text, Length(text));
}

template <class CharT>
TStringT<CharT>::TStringT(const CharT* text, int count) : m_pchData(&s_empty.zero) {
    if (text && count > 0)
        AssignCopy(text, count);
}

template <class CharT>
TStringT<CharT>::TStringT(CharT ch, int count) : m_pchData(&s_empty.zero) {
    if (count < 1)
        return;
    m_pchData = Allocate(count);
    std::char_traits<CharT>::assign(m_pchData, static_cast<std::size_t>(count), ch);
    SetLength(count);
}

template <class CharT>
TStringT<CharT>::TStringT(const OtherChar* text) : m_pchData(&s_empty.zero) {
    if (!text)
        return;
    const auto converted =
        Convert(std::basic_string_view<OtherChar>(text), static_cast<const CharT*>(nullptr));
    AssignCopy(converted.data(), static_cast<long long>(converted.size()));
}

template <class CharT>
TStringT<CharT>::TStringT(const OtherChar* text, int count) : m_pchData(&s_empty.zero) {
    if (!text || count <= 0)
        return;
    const auto converted = Convert(std::basic_string_view<OtherChar>(text, static_cast<std::size_t>(count)),
                                   static_cast<const CharT*>(nullptr));
    AssignCopy(converted.data(), static_cast<long long>(converted.size()));
}

template <class CharT>
TStringT<CharT>::TStringT(const TStringT& other) noexcept : m_pchData(other.m_pchData) {
    if (!IsEmptyRep())
        GetData()->refs.fetch_add(1, std::memory_order_relaxed);
}

template <class CharT>
TStringT<CharT>::TStringT(TStringT&& other) noexcept : m_pchData(other.m_pchData) {
    other.m_pchData = &s_empty.zero;
}

template <class CharT>
TStringT<CharT>::~TStringT() {
    ReleaseData(m_pchData);
}

template <class CharT>
TStringT<CharT>& TStringT<CharT>::operator=(const TStringT& other) noexcept {
    if (m_pchData == other.m_pchData)
        return *this;
    if (!other.IsEmptyRep())
        other.GetData()->refs.fetch_add(1, std::memory_order_relaxed);
    ReleaseData(m_pchData);
    m_pchData = other.m_pchData;
    return *this;
}

template <class CharT>
TStringT<CharT>& TStringT<CharT>::operator=(TStringT&& other) noexcept {
    if (this != &other) {
        ReleaseData(m_pchData);
        m_pchData = other.m_pchData;
        other.m_pchData = &s_empty.zero;
    }
    return *this;
}

template <class CharT>
TStringT<CharT>& TStringT<CharT>::operator=(const CharT* text) {
    AssignCopy(text, Length(text));
    return *this;
}

template <class CharT>
TStringT<CharT>& TStringT<CharT>::operator=(const OtherChar* text) {
    if (!text) {
        AssignCopy(nullptr, 0);
        return *this;
    }
    const auto converted =
        Convert(std::basic_string_view<OtherChar>(text), static_cast<const CharT*>(nullptr));
    AssignCopy(converted.data(), static_cast<long long>(converted.size()));
    return *this;
}

template <class CharT>
int TStringT<CharT>::Compare(const CharT* text) const {
    static const CharT kNothing = 0;
    return CompareText(m_pchData, text ? text : &kNothing);
}

template <class CharT>
int TStringT<CharT>::CompareNoCase(const CharT* text) const {
    static const CharT kNothing = 0;
    return CompareTextNoCase(m_pchData, text ? text : &kNothing);
}

template <class CharT>
int TStringT<CharT>::Find(CharT ch, int start) const {
    start = std::max(start, 0);
    if (start >= GetLength())
        return -1;
    const std::basic_string_view<CharT> view(m_pchData, static_cast<std::size_t>(GetLength()));
    const auto pos = view.find(ch, static_cast<std::size_t>(start));
    return pos == view.npos ? -1 : static_cast<int>(pos);
}

template <class CharT>
int TStringT<CharT>::Find(const CharT* sub, int start) const {
    start = std::max(start, 0);
    if (!sub || start >= GetLength())
        return -1;
    const std::basic_string_view<CharT> view(m_pchData, static_cast<std::size_t>(GetLength()));
    const auto pos = view.find(std::basic_string_view<CharT>(sub), static_cast<std::size_t>(start));
    return pos == view.npos ? -1 : static_cast<int>(pos);
}

template <class CharT>
int TStringT<CharT>::FindOneOf(const CharT* set) const {
    if (!set || !*set)
        return -1;
    const std::basic_string_view<CharT> view(m_pchData, static_cast<std::size_t>(GetLength()));
    const auto pos = view.find_first_of(std::basic_string_view<CharT>(set));
    return pos == view.npos ? -1 : static_cast<int>(pos);
}

template <class CharT>
int TStringT<CharT>::ReverseFind(CharT ch, int offset) const {
    offset = std::max(offset, 0);
    for (long long i = static_cast<long long>(GetLength()) - 1 - offset; i >= 0; --i) {
        if (m_pchData[i] == ch)
            return static_cast<int>(i);
    }
    return -1;
}

template <class CharT>
TStringT<CharT> TStringT<CharT>::FromRange(int first, int count) const {
    if (first == 0 && count == GetLength())
        return *this;
    return TStringT(m_pchData + first, count);
}

template <class CharT>
TStringT<CharT> TStringT<CharT>::Mid(int first, int count) const {
    first = std::max(first, 0);
    count = std::max(count, 0);
    if (first > GetLength())
        return TStringT();
    if (static_cast<long long>(first) + count > GetLength())
        count = GetLength() - first;
    return FromRange(first, count);
}

template <class CharT>
TStringT<CharT> TStringT<CharT>::Mid(int first) const {
    first = std::max(first, 0);
    if (first > GetLength())
        return TStringT();
    return FromRange(first, GetLength() - first);
}

template <class CharT>
TStringT<CharT> TStringT<CharT>::Left(int count) const {
    count = std::max(count, 0);
    return FromRange(0, std::min(count, GetLength()));
}

template <class CharT>
TStringT<CharT> TStringT<CharT>::Right(int count) const {
    if (count <= 0)
        return TStringT();
    count = std::min(count, GetLength());
    return FromRange(GetLength() - count, count);
}

template <class CharT>
TStringT<CharT> TStringT<CharT>::Concat(const CharT* a, long long aCount, const CharT* b, long long bCount) {
    TStringT result;
    if (aCount + bCount <= 0)
        return result;
    result.m_pchData = Allocate(aCount + bCount);
    std::char_traits<CharT>::copy(result.m_pchData, a, static_cast<std::size_t>(aCount));
    std::char_traits<CharT>::copy(result.m_pchData + aCount, b, static_cast<std::size_t>(bCount));
    result.SetLength(aCount + bCount);
    return result;
}

template <class CharT>
TStringT<CharT>& TStringT<CharT>::operator+=(const TStringT& text) {
    Append(text.m_pchData, text.GetLength());
    return *this;
}

template <class CharT>
TStringT<CharT>& TStringT<CharT>::operator+=(const CharT* text) {
    Append(text, Length(text));
    return *this;
}

template <class CharT>
void TStringT<CharT>::AppendChar(CharT ch) {
    Append(&ch, 1);
}

template <class CharT>
void TStringT<CharT>::SetAt(int index, CharT ch) {
    if (index < 0 || index >= GetLength()) {
        char text[96];
        std::snprintf(text, sizeof(text),
                      "TString::SetAt: index %d outside a text of %d characters ignored\n", index,
                      GetLength());
        Trace(text);
        return;
    }
    CopyBeforeWrite();
    m_pchData[index] = ch;
}

template <class CharT>
void TStringT<CharT>::Empty() {
    ReleaseMine();
}

template <class CharT>
int TStringT<CharT>::Replace(const CharT* oldText, const CharT* newText) {
    if (!oldText || !*oldText || IsEmpty())
        return 0;
    // Own copies, since either text may point into this string.
    const std::basic_string<CharT> from(oldText);
    const std::basic_string<CharT> to =
        newText ? std::basic_string<CharT>(newText) : std::basic_string<CharT>();
    const std::basic_string_view<CharT> view(m_pchData, static_cast<std::size_t>(GetLength()));

    std::basic_string<CharT> result;
    int replaced = 0;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = view.find(from, pos);
        if (hit == view.npos)
            break;
        result.append(view.substr(pos, hit - pos));
        result.append(to);
        pos = hit + from.size();
        ++replaced;
    }
    if (replaced == 0)
        return 0;
    result.append(view.substr(pos));
    if (static_cast<long long>(result.size()) > kMaxLength)
        throw std::bad_alloc();
    const auto newLength = static_cast<long long>(result.size());
    if (IsEmptyRep() || IsShared() || GetData()->capacity < newLength) {
        CharT* fresh = Allocate(newLength);
        ReleaseData(m_pchData);
        m_pchData = fresh;
    }
    std::char_traits<CharT>::copy(m_pchData, result.data(), result.size());
    SetLength(newLength);
    if (newLength == 0)
        Empty();
    return replaced;
}

template <class CharT>
int TStringT<CharT>::Remove(CharT ch) {
    if (IsEmpty())
        return 0;
    CopyBeforeWrite();
    CharT* end = std::remove(m_pchData, m_pchData + GetLength(), ch);
    const int removed = static_cast<int>(m_pchData + GetLength() - end);
    SetLength(end - m_pchData);
    return removed;
}

template <class CharT>
void TStringT<CharT>::TrimRight() {
    int end = GetLength();
    while (end > 0 && IsSpace(m_pchData[end - 1]))
        --end;
    if (end == GetLength())
        return;
    CopyBeforeWrite();
    SetLength(end);
}

template <class CharT>
void TStringT<CharT>::TrimLeft() {
    int first = 0;
    while (first < GetLength() && IsSpace(m_pchData[first]))
        ++first;
    if (first == 0)
        return;
    CopyBeforeWrite();
    const int rest = GetLength() - first;
    std::char_traits<CharT>::move(m_pchData, m_pchData + first, static_cast<std::size_t>(rest));
    SetLength(rest);
}

template <class CharT>
void TStringT<CharT>::TrimRight(const CharT* set) {
    if (!set || !*set)
        return;
    const std::basic_string_view<CharT> members(set);
    int end = GetLength();
    while (end > 0 && members.find(m_pchData[end - 1]) != members.npos)
        --end;
    if (end == GetLength())
        return;
    CopyBeforeWrite();
    SetLength(end);
}

template <class CharT>
void TStringT<CharT>::TrimLeft(const CharT* set) {
    if (!set || !*set)
        return;
    const std::basic_string_view<CharT> members(set);
    int first = 0;
    while (first < GetLength() && members.find(m_pchData[first]) != members.npos)
        ++first;
    if (first == 0)
        return;
    CopyBeforeWrite();
    const int rest = GetLength() - first;
    std::char_traits<CharT>::move(m_pchData, m_pchData + first, static_cast<std::size_t>(rest));
    SetLength(rest);
}

template <class CharT>
void TStringT<CharT>::MakeReverse() {
    if (GetLength() < 2)
        return;
    CopyBeforeWrite();
    std::reverse(m_pchData, m_pchData + GetLength());
}

template <class CharT>
CharT* TStringT<CharT>::GetBuffer(int count) {
    count = std::max(count, 0);
    // The empty representation is never handed out for writing.
    if (!IsEmptyRep() && !IsShared() && count <= GetData()->capacity)
        return m_pchData;
    const long long length = GetLength();
    CharT* fresh = Allocate(std::max<long long>(count, length));
    std::char_traits<CharT>::copy(fresh, m_pchData, static_cast<std::size_t>(length) + 1);
    ReleaseData(m_pchData);
    m_pchData = fresh;
    GetData()->length = static_cast<LONG>(length);
    return m_pchData;
}

template <class CharT>
void TStringT<CharT>::ReleaseBuffer(int count) {
    if (IsEmptyRep())
        return;
    CopyBeforeWrite();
    const long long capacity = GetData()->capacity;
    long long length;
    if (count < 0) {
        length = 0;
        while (length < capacity && m_pchData[length] != 0)
            ++length;
    } else {
        length = std::min<long long>(count, capacity);
    }
    SetLength(length);
}

template <class CharT>
void TStringT<CharT>::Format(const CharT* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

// The text is built in a buffer of its own, so arguments that point into this string stay valid.
// Every attempt formats from a fresh copy of the arguments.
template <class CharT>
void TStringT<CharT>::FormatV(const CharT* format, va_list args) {
    if (!format) {
        Empty();
        return;
    }
    FormatLocaleScope locale;
    std::vector<CharT> buffer;
    long long size = 256;
    for (;;) {
        buffer.resize(static_cast<std::size_t>(size));
        va_list attempt;
        va_copy(attempt, args);
        errno = 0;
        const int written = FormatInto(buffer.data(), buffer.size(), format, attempt);
        va_end(attempt);
        if constexpr (std::is_same_v<CharT, char>) {
            // The narrow formatter reports the length it needs.
            if (written >= 0 && written < size) {
                AssignCopy(buffer.data(), written);
                return;
            }
            if (written < 0 || written + 1LL > kMaxGrownLength)
                break;
            size = written + 1LL;
        } else {
            // The wide one only says -1, for a short buffer and for a text it cannot convert alike.
            if (written >= 0) {
                AssignCopy(buffer.data(), written);
                return;
            }
            if (errno == EILSEQ || size >= kMaxGrownLength)
                break;
            size = size < 4096 ? size + 256 : std::min(size * 2, kMaxGrownLength);
        }
    }
    Empty();
    Trace("TString::Format: the text could not be formatted\n");
}

template <class CharT>
bool TStringT<CharT>::LoadString(HINSTANCE module, UINT id) {
    // A text that fills the buffer may go on beyond it. A narrow one is cut before a character that does
    // not fit whole, and a UTF-8 character has up to 4 bytes, so it may stop up to 3 bytes short of the
    // buffer's end and is known to be whole only with more room than that left.
    constexpr int kSpare = std::is_same_v<CharT, wchar_t> ? 1 : 4;
    for (int size = 256;; size += 256) {
        CharT* buffer = GetBuffer(size - 1);
        const int loaded = LoadStringInto(module, id, buffer, size);
        if (size - loaded > kSpare || size >= kMaxGrownLength)
            break;
    }
    ReleaseBuffer(-1);
    if (IsEmpty()) {
        Empty();
        return false;
    }
    return true;
}

template <class CharT>
char16_t* TStringT<CharT>::AllocSysCopy() const {
    if (IsEmpty())
        return nullptr;
    const std::u16string units =
        ToUtf16(std::basic_string_view<CharT>(m_pchData, static_cast<std::size_t>(GetLength())));
    auto* copy = new char16_t[units.size() + 1];
    std::copy(units.begin(), units.end(), copy);
    copy[units.size()] = 0;
    return copy;
}

template class TStringT<wchar_t>;
template class TStringT<char>;

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a base64 character; "=" and anything outside the alphabet (any width) count as 0.
unsigned Base64Value(wchar_t ch) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return 0;
}

} // namespace

bool Base64Encode(char*& out, LONG& length, const unsigned char* data, LONG count) {
    out = nullptr;
    length = 0;
    if (!data || count < 0)
        count = 0;
    const long long groups = (static_cast<long long>(count) + 2) / 3;
    const long long textLength = groups * 4 + 1;
    if (textLength > INT_MAX)
        return false;
    out = new char[static_cast<std::size_t>(textLength)];
    char* p = out;
    for (long long i = 0; i < count; i += 3) {
        const long long left = count - i;
        const unsigned b0 = data[i];
        const unsigned b1 = left > 1 ? data[i + 1] : 0;
        const unsigned b2 = left > 2 ? data[i + 2] : 0;
        *p++ = kAlphabet[b0 >> 2];
        *p++ = kAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        *p++ = left > 1 ? kAlphabet[((b1 & 0x0F) << 2) | (b2 >> 6)] : '=';
        *p++ = left > 2 ? kAlphabet[b2 & 0x3F] : '=';
    }
    *p = 0;
    length = static_cast<LONG>(textLength);
    return true;
}

bool Base64Decode(unsigned char*& out, LONG& length, const wchar_t* text, LONG count) {
    out = nullptr;
    length = 0;
    if (!text || count < 0)
        count = 0;
    const long long groups = (static_cast<long long>(count) + 3) / 4;
    const long long bytes = groups * 3;
    if (bytes > INT_MAX)
        return false;
    if (bytes == 0)
        return true;
    out = new unsigned char[static_cast<std::size_t>(bytes)];
    for (long long g = 0; g < groups; ++g) {
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const long long i = g * 4 + k;
            value = (value << 6) | (i < count ? Base64Value(text[i]) : 0);
        }
        out[g * 3] = static_cast<unsigned char>(value >> 16);
        out[g * 3 + 1] = static_cast<unsigned char>(value >> 8);
        out[g * 3 + 2] = static_cast<unsigned char>(value);
    }
    length = static_cast<LONG>(bytes);
    return true;
}
