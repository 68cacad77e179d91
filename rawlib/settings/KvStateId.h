// The 16-byte type id at the start of every settings record, as it is stored. Ids are written from
// their printed text in one of two ways: as a GUID (first group a little-endian 32-bit value, second and
// third little-endian 16-bit values, the last eight bytes in text order) or, for ids that were always
// printed as their stored bytes, digit pair by digit pair. Where the printed text leaves the form in
// doubt, the id also keeps the other form, and readers accept either.
#pragma once

#include "platform/win/wintypes.h"

#include <array>

struct KvStateId {
    std::array<BYTE, 16> stored{};    // what writers put at offset 0
    std::array<BYTE, 16> alternate{}; // a second form readers accept; equal to `stored` when there is none

    const BYTE* Data() const { return stored.data(); }
    bool HasAlternate() const { return alternate != stored; }
    // `bytes` must hold at least 16 bytes.
    bool Matches(const BYTE* bytes) const;
};

namespace KvStateIdText {

constexpr BYTE HexDigit(char c) {
    return static_cast<BYTE>(c >= '0' && c <= '9'   ? c - '0'
                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : throw "not a hexadecimal digit");
}

// The 32 hexadecimal digits of an id text, dashes skipped, as 16 bytes in text order.
constexpr std::array<BYTE, 16> StraightBytes(const char* text) {
    std::array<BYTE, 16> bytes{};
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == '-')
            continue;
        if (digits >= 32)
            throw "id text too long";
        const BYTE d = HexDigit(*p);
        bytes[digits / 2] = static_cast<BYTE>(digits % 2 ? bytes[digits / 2] | d : d << 4);
        ++digits;
    }
    if (digits != 32)
        throw "id text too short";
    return bytes;
}

// The same digits read as GUID text: the first three groups change to little-endian order.
constexpr std::array<BYTE, 16> GuidBytes(const char* text) {
    const std::array<BYTE, 16> t = StraightBytes(text);
    return {t[3], t[2], t[1],  t[0],  t[5],  t[4],  t[7],  t[6],
            t[8], t[9], t[10], t[11], t[12], t[13], t[14], t[15]};
}

} // namespace KvStateIdText

// An id printed as GUID text.
constexpr KvStateId KvGuidId(const char* text) {
    return {KvStateIdText::GuidBytes(text), KvStateIdText::GuidBytes(text)};
}

// An id printed as GUID text that may also have been stored digit by digit.
constexpr KvStateId KvGuidIdEitherForm(const char* text) {
    return {KvStateIdText::GuidBytes(text), KvStateIdText::StraightBytes(text)};
}

// An id printed as its stored bytes; the GUID reading of the same digits is accepted on input.
constexpr KvStateId KvBytesId(const char* text) {
    return {KvStateIdText::StraightBytes(text), KvStateIdText::GuidBytes(text)};
}
