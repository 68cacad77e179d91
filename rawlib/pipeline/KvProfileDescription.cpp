#include "KvProfileDescription.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr long kHeaderSize = 128;
constexpr std::size_t kTagEntrySize = 12;
// Type signature and reserved word before the text's byte count.
constexpr long kTextTypeFields = 8;
constexpr char kVersionedPrefix[] = "KORVEL";

// A big-endian field of 1, 2, 4 or 8 bytes in the machine's order; false for another length.
bool FromFileOrder(const unsigned char* bytes, std::size_t length, std::uint64_t* value) {
    if (length != 1 && length != 2 && length != 4 && length != 8)
        return false;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < length; ++i)
        v = v << 8 | bytes[i];
    *value = v;
    return true;
}

bool ReadU32(std::FILE* file, std::uint32_t* value) {
    unsigned char bytes[4];
    std::uint64_t v = 0;
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes || !FromFileOrder(bytes, sizeof bytes, &v))
        return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

std::int64_t FileSize(std::FILE* file) {
    const long at = std::ftell(file);
    if (at < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long size = std::ftell(file);
    return std::fseek(file, at, SEEK_SET) == 0 ? size : -1;
}

// Cuts a trailing version ("KORVEL sRGB 1.2.3" -> "KORVEL sRGB"), keeping at least the first character.
void DropVersion(std::string* text) {
    std::size_t end = text->size();
    while (end > 1) {
        const char c = (*text)[end - 1];
        if (!(c == '.' || c == ' ' || (c >= '0' && c <= '9')))
            break;
        --end;
    }
    text->resize(end);
}

} // namespace

bool ReadProfileDescription(std::FILE* file, CKvString* text, bool keepVersion) {
    if (!file || !text)
        return false;
    const std::int64_t fileSize = FileSize(file);
    std::uint32_t tagCount = 0;
    if (fileSize < 0 || std::fseek(file, kHeaderSize, SEEK_SET) != 0 || !ReadU32(file, &tagCount))
        return false;
    std::uint32_t offset = 0;
    bool found = false;
    // A count larger than the file ends at the first short read.
    for (std::uint32_t i = 0; i < tagCount && !found; ++i) {
        unsigned char entry[kTagEntrySize];
        if (std::fread(entry, 1, sizeof entry, file) != sizeof entry)
            return false;
        if (std::memcmp(entry, "desc", 4) == 0) {
            std::uint64_t v = 0;
            FromFileOrder(entry + 4, 4, &v);
            offset = static_cast<std::uint32_t>(v);
            found = true;
        }
    }
    if (!found || offset == 0)
        return false;
    const std::int64_t countAt = std::int64_t{offset} + kTextTypeFields;
    std::uint32_t count = 0;
    if (countAt + 4 > fileSize || std::fseek(file, static_cast<long>(countAt), SEEK_SET) != 0 ||
        !ReadU32(file, &count))
        return false;
    // The count is believed only as far as the file goes.
    if (std::int64_t{count} > fileSize - (countAt + 4))
        return false;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[std::size_t{count} + 1]);
    if (!buffer || std::fread(buffer.get(), 1, count, file) != count)
        return false;
    std::string read(buffer.get(), strnlen(buffer.get(), count));
    if (!keepVersion && read.rfind(kVersionedPrefix, 0) == 0)
        DropVersion(&read);
    return text->Assign(read.c_str());
}

bool ReadProfileDescription(const char* path, CKvString* text, bool keepVersion) {
    if (!path || !text)
        return false;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    const bool read = ReadProfileDescription(file, text, keepVersion);
    std::fclose(file);
    return read;
}
