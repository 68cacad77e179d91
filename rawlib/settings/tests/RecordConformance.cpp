#include "RecordConformance.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kvtest {

Bytes Hex(std::string_view text) {
    Bytes bytes;
    int pending = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw std::invalid_argument("not a hexadecimal digit in a test vector");
        const int digit =
            std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(c) - 'A' + 10);
        if (pending < 0) {
            pending = digit;
        } else {
            bytes.push_back(static_cast<BYTE>(pending * 16 + digit));
            pending = -1;
        }
    }
    if (pending >= 0)
        throw std::invalid_argument("odd number of digits in a test vector");
    return bytes;
}

std::string HexText(const Bytes& bytes) {
    std::string text;
    char two[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i)
            text += ' ';
        text += two;
    }
    return text;
}

RecordBytes::RecordBytes(const std::array<BYTE, 16>& id, WORD version) : m_bytes(id.begin(), id.end()) {
    Put(version, 2);
}

RecordBytes& RecordBytes::Length() {
    m_length = true;
    return Put(0, 4);
}

RecordBytes& RecordBytes::F64(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return Put(bits, 8);
}

RecordBytes& RecordBytes::Raw(const Bytes& bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

RecordBytes& RecordBytes::Put(std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        m_bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    return *this;
}

RecordBytes::operator Bytes() const {
    Bytes bytes = m_bytes;
    if (m_length) {
        const std::uint64_t length = bytes.size() - 18;
        for (int i = 0; i < 4; ++i)
            bytes[18 + i] = static_cast<BYTE>(length >> (8 * i));
    }
    return bytes;
}

} // namespace kvtest
