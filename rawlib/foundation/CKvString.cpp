#include "rawlib/foundation/CKvString.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The comparison rule of CompareNoCase over two texts of known length.
int MatchNoCase(const char* s, std::size_t sLength, const char* t, std::size_t tLength, int count) {
    std::size_t n = sLength;
    if (count < 0) {
        if (sLength != tLength)
            return 0;
    } else {
        n = static_cast<std::size_t>(count);
        if (sLength < n || tLength < n)
            return 0;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (Upper(s[i]) != Upper(t[i]))
            return 0;
    }
    return 1;
}

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

} // namespace

int CKvStringBase::GetLength() const {
    const char* buffer = GetBuffer();
    const int capacity = GetCapacity();
    if (!buffer || capacity <= 0)
        return 0;
    const void* nul = std::memchr(buffer, 0, static_cast<std::size_t>(capacity));
    return nul ? static_cast<int>(static_cast<const char*>(nul) - buffer) : 0;
}

CKvString::CKvString() {
    Assign("");
}
CKvString::CKvString(const char* text) {
    Assign(text);
}
CKvString::CKvString(const CKvString& other) : CKvStringBase() {
    Assign(other);
}

CKvString& CKvString::operator=(const char* text) {
    Assign(text);
    return *this;
}

CKvString& CKvString::operator=(const CKvString& other) {
    Assign(other);
    return *this;
}

CKvString::~CKvString() {
    Free(m_buffer);
}

bool CKvString::Allocate(int n) {
    const int size = std::max(n, 4);
    char* buffer = static_cast<char*>(std::calloc(static_cast<std::size_t>(size), 1));
    if (!buffer)
        return false;
    m_buffer = buffer;
    m_capacity = size;
    return true;
}

void CKvString::Free(char* buffer) {
    std::free(buffer);
}

bool CKvString::Reserve(int n) {
    if (GetCapacity() >= n)
        return true;
    char* old = m_buffer;
    const int oldCapacity = m_capacity;
    if (!Allocate(n))
        return false;
    if (old) {
        std::memcpy(m_buffer, old, static_cast<std::size_t>(oldCapacity));
        Free(old);
    }
    return true;
}

int CKvString::GetCapacity() const {
    return m_capacity;
}
const char* CKvString::GetBuffer() const {
    return m_buffer;
}
int CKvString::GetMaxLength() const {
    return -1;
}

std::ptrdiff_t CKvString::OffsetInBuffer(const char* p) const {
    if (!m_buffer || !p)
        return -1;
    const auto begin = reinterpret_cast<std::uintptr_t>(m_buffer);
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    if (at < begin || at >= begin + static_cast<std::uintptr_t>(m_capacity))
        return -1;
    return static_cast<std::ptrdiff_t>(at - begin);
}

std::size_t CKvString::TextLength(const char* text) const {
    const std::ptrdiff_t offset = OffsetInBuffer(text);
    if (offset >= 0)
        return strnlen(text, static_cast<std::size_t>(m_capacity - offset));
    return std::strlen(text);
}

bool CKvString::AssignBytes(const char* p, std::size_t n) {
    if (n > static_cast<std::size_t>(INT_MAX - 1))
        return false;
    const std::ptrdiff_t offset = OffsetInBuffer(p);
    if (!Reserve(static_cast<int>(n + 1)) || !m_buffer)
        return false;
    const char* source = offset >= 0 ? m_buffer + offset : p;
    std::memmove(m_buffer, source, n);
    m_buffer[n] = '\0';
    return true;
}

bool CKvString::AppendBytes(const char* p, std::size_t n) {
    const auto length = static_cast<std::size_t>(GetLength());
    if (n > static_cast<std::size_t>(INT_MAX - 1) - length)
        return false;
    const std::ptrdiff_t offset = OffsetInBuffer(p);
    if (!Reserve(static_cast<int>(length + n + 1)) || !m_buffer)
        return false;
    const char* source = offset >= 0 ? m_buffer + offset : p;
    std::memmove(m_buffer + length, source, n);
    m_buffer[length + n] = '\0';
    return true;
}

bool CKvString::Assign(const char* text) {
    if (!text)
        text = "";
    return AssignBytes(text, TextLength(text));
}

bool CKvString::Assign(const CKvString& other) {
    if (&other == this)
        return true;
    const char* source = other.GetBuffer();
    const int size = other.GetCapacity();
    if (!source || size <= 0)
        return Assign("");
    if (!Reserve(size) || !m_buffer)
        return false;
    std::memcpy(m_buffer, source, static_cast<std::size_t>(size));
    return true;
}

bool CKvString::Append(const char* text) {
    if (!text || !*text)
        return true;
    return AppendBytes(text, TextLength(text));
}

bool CKvString::Append(const CKvString& other) {
    const int n = other.GetLength();
    if (n == 0)
        return true;
    return AppendBytes(other.GetBuffer(), static_cast<std::size_t>(n));
}

int CKvString::CompareNoCase(const char* text, int count) const {
    if (!text)
        text = "";
    return MatchNoCase(*this, static_cast<std::size_t>(GetLength()), text, std::strlen(text), count);
}

int CKvString::CompareNoCase(const CKvString& other, int count) const {
    return MatchNoCase(*this, static_cast<std::size_t>(GetLength()), other,
                       static_cast<std::size_t>(other.GetLength()), count);
}

bool CKvString::IsEmpty() const {
    const char* buffer = GetBuffer();
    return !buffer || buffer[0] == '\0';
}

char CKvString::GetAt(int index) const {
    if (index < 0 || index >= GetLength())
        return '\0';
    return GetBuffer()[index];
}

void CKvString::Mid(CKvString& out, int start, int count) const {
    const int length = GetLength();
    start = std::max(start, 0);
    if (start > length)
        return;
    const int rest = length - start;
    if (count < 0 || count > rest)
        count = rest;
    out.AssignBytes(static_cast<const char*>(*this) + start, static_cast<std::size_t>(count));
}

CKvString CKvString::Left(int count) const {
    CKvString piece;
    Mid(piece, 0, count);
    return piece;
}

CKvString CKvString::Right(int count) const {
    const int length = GetLength();
    if (count < 0 || count > length)
        count = length;
    CKvString piece;
    piece.AssignBytes(static_cast<const char*>(*this) + (length - count), static_cast<std::size_t>(count));
    return piece;
}

char* CKvString::GetBufferEnd(int n) {
    if (n < 0 || !Reserve(n) || !m_buffer)
        return nullptr;
    return m_buffer + n;
}

bool CKvString::FromPascal(const BYTE* bytes) {
    if (!bytes)
        return false;
    return AssignBytes(reinterpret_cast<const char*>(bytes + 1), bytes[0]);
}

bool CKvString::FromPascal(const BYTE* bytes, std::size_t size) {
    if (!bytes || size < 1 || bytes[0] > size - 1)
        return false;
    return FromPascal(bytes);
}

int CKvString::ToPascal(BYTE* out) const {
    if (!out)
        return 0;
    const int n = std::min(GetLength(), 255);
    out[0] = static_cast<BYTE>(n);
    std::memcpy(out + 1, static_cast<const char*>(*this), static_cast<std::size_t>(n));
    return n + 1;
}

bool CKvString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = FormatV(format, args);
    va_end(args);
    return ok;
}

bool CKvString::FormatV(const char* format, va_list args) {
    if (!format)
        return false;
    // Most texts fit the first try; a longer one is formatted again into a buffer of the size the first
    // try reported. Each try works on its own copy of the arguments.
    char small[256];
    va_list attempt;
    va_copy(attempt, args);
    const int n = std::vsnprintf(small, sizeof small, format, attempt);
    va_end(attempt);
    if (n < 0 || n > kMaxFormatLength)
        return false;
    if (static_cast<std::size_t>(n) < sizeof small)
        return AssignBytes(small, static_cast<std::size_t>(n));

    std::unique_ptr<char, FreeDeleter> large(
        static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1)));
    if (!large)
        return false;
    va_copy(attempt, args);
    const int written = std::vsnprintf(large.get(), static_cast<std::size_t>(n) + 1, format, attempt);
    va_end(attempt);
    if (written != n)
        return false;
    return AssignBytes(large.get(), static_cast<std::size_t>(n));
}
