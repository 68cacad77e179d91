// The framework's text type: a reference-counted, copy-on-write string. `TString` holds wide characters,
// `TStringA` narrow UTF-8 ones; both share one representation. A string is one pointer to its first
// character; in front of the characters, in the same block, lie the reference count, the length and the
// capacity. Every empty string points at one static empty representation that is never counted or freed.
// Copies of one buffer may live on different threads; a single string object is for one thread at a time.
#pragma once

#include "platform/win/wintypes.h"

#include <atomic>
#include <cstdarg>
#include <type_traits>

template <class CharT>
class TStringT {
public:
    using OtherChar = std::conditional_t<std::is_same_v<CharT, wchar_t>, char, wchar_t>;

    TStringT() noexcept;
    // Null or "" gives an empty string; a non-null value below 0x10000 is the id of a string resource of
    // the program, loaded with LoadString.
    TStringT(const CharT* text);
    TStringT(const CharT* text, int count);
    TStringT(CharT ch, int count);
    // Converted between UTF-8 and wide text; malformed sequences become U+FFFD.
    TStringT(const OtherChar* text);
    TStringT(const OtherChar* text, int count);
    TStringT(const TStringT& other) noexcept;
    TStringT(TStringT&& other) noexcept;
    ~TStringT();

    TStringT& operator=(const TStringT& other) noexcept;
    TStringT& operator=(TStringT&& other) noexcept;
    // The text may point into this string's own buffer.
    TStringT& operator=(const CharT* text);
    TStringT& operator=(const OtherChar* text);

    int GetLength() const noexcept { return GetData()->length; }
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    operator const CharT*() const noexcept { return m_pchData; }

    int Compare(const CharT* text) const;
    int CompareNoCase(const CharT* text) const;

    // Searches: -1 when absent; a negative start counts as 0, a start not below the length finds nothing.
    int Find(CharT ch, int start = 0) const;
    int Find(const CharT* sub, int start = 0) const;
    int FindOneOf(const CharT* set) const;
    // The last ch at or before index length - 1 - offset; a negative offset counts as 0.
    int ReverseFind(CharT ch, int offset = 0) const;

    TStringT Mid(int first, int count) const;
    TStringT Mid(int first) const;
    TStringT Left(int count) const;
    TStringT Right(int count) const;

    TStringT& operator+=(const TStringT& text);
    TStringT& operator+=(const CharT* text);
    void AppendChar(CharT ch);

    // An index outside the characters is ignored (and traced): the terminator is never overwritten.
    void SetAt(int index, CharT ch);
    void Empty();
    int Replace(const CharT* oldText, const CharT* newText);
    int Remove(CharT ch);
    // Without a set: `TString` trims what iswspace calls white space, `TStringA` the blank only.
    void TrimLeft();
    void TrimRight();
    void TrimLeft(const CharT* set);
    void TrimRight(const CharT* set);
    void MakeReverse();

    // A writable buffer of at least count characters plus the terminator, unshared.
    CharT* GetBuffer(int count);
    // Sets the length to count, or up to the first zero character when count is -1.
    void ReleaseBuffer(int count = -1);

    // printf-style formatting, in the C locale with UTF-8 as the narrow encoding (wide formats take
    // "%ls" for wide texts and "%s" for narrow ones). A text that cannot be formatted, or that would
    // pass a million characters, leaves the string empty and is traced.
    void Format(const CharT* format, ...);
    void FormatV(const CharT* format, va_list args);

    // Loads a string resource of the module (null: the program); true when a non-empty text came.
    bool LoadString(HINSTANCE module, UINT id);

    // A new zero-terminated UTF-16 copy that the caller releases with delete[]; null when empty.
    char16_t* AllocSysCopy() const;

    friend TStringT operator+(const TStringT& a, const TStringT& b) {
        return Concat(a.m_pchData, a.GetLength(), b.m_pchData, b.GetLength());
    }
    friend TStringT operator+(const TStringT& a, const CharT* b) {
        return Concat(a.m_pchData, a.GetLength(), b, Length(b));
    }
    friend TStringT operator+(const CharT* a, const TStringT& b) {
        return Concat(a, Length(a), b.m_pchData, b.GetLength());
    }
    friend TStringT operator+(const TStringT& a, CharT b) {
        return Concat(a.m_pchData, a.GetLength(), &b, 1);
    }
    friend bool operator==(const TStringT& a, const TStringT& b) { return a.Compare(b.m_pchData) == 0; }
    friend bool operator==(const TStringT& a, const CharT* b) { return a.Compare(b) == 0; }

private:
    struct TStringData {
        std::atomic<LONG> refs; // 1 one owner, more shared, negative the static empty representation
        LONG length;
        LONG capacity;
    };
    struct EmptyRep {
        TStringData data;
        CharT zero;
    };
    static EmptyRep s_empty;

    TStringData* GetData() const noexcept { return reinterpret_cast<TStringData*>(m_pchData) - 1; }
    bool IsEmptyRep() const noexcept { return m_pchData == &s_empty.zero; }
    bool IsShared() const noexcept;

    static CharT* Allocate(long long capacity);
    static void ReleaseData(CharT* data) noexcept;
    static bool IsSpace(CharT ch) noexcept;
    void ReleaseMine() noexcept;
    void AssignCopy(const CharT* text, long long count);
    void Append(const CharT* text, long long count);
    void CopyBeforeWrite();
    void SetLength(long long length);
    TStringT FromRange(int first, int count) const;
    static long long Length(const CharT* text) noexcept;
    static TStringT Concat(const CharT* a, long long aCount, const CharT* b, long long bCount);

    CharT* m_pchData;
};

using TString = TStringT<wchar_t>;
using TStringA = TStringT<char>;

extern template class TStringT<wchar_t>;
extern template class TStringT<char>;

// Base64 of RFC 4648 (standard alphabet, "=" fill). Encode gives a new zero-terminated text whose
// length counts the terminator. Decode reads groups of four characters ("=", a character outside the
// alphabet and a missing character at the end all count as 0) into three bytes per group; the length
// is three times the number of groups. Blocks are released with delete[]. False only when the result
// would not fit a 32-bit length.
bool Base64Encode(char*& out, LONG& length, const unsigned char* data, LONG count);
bool Base64Decode(unsigned char*& out, LONG& length, const wchar_t* text, LONG count);
