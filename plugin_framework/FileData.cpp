#include "FileData.h"

#include "platform/win/utf16.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FileOwner = std::unique_ptr<FILE, FileCloser>;

// The file's length, found by seeking to its end (and back); -1 when it cannot be told.
long long LengthOf(FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0)
        return -1;
    const off_t length = ftello(file);
    if (length < 0 || fseeko(file, 0, SEEK_SET) != 0)
        return -1;
    return static_cast<long long>(length);
}

// Files are read whole into memory: beyond this a read fails instead of asking for all of memory.
constexpr long long kMaxReadBytes = 0x7FFFFFF0;

bool WriteAll(const TFilePath& location, const char* mode, const void* data, std::size_t size) {
    FileOwner file(OpenFile(location, mode));
    if (!file)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file.get()) == size;
    return std::fclose(file.release()) == 0 && written;
}

struct MimeRow {
    const wchar_t* type;
    const wchar_t* extension;
};
constexpr MimeRow kMimeTypes[] = {
    {L"image/jpeg", L"jpg"},
    {L"image/bmp", L"bmp"},
    {L"image/gif", L"gif"},
    {L"image/tiff", L"tiff"},
};

// The number of bytes the text stands for: three per group of four, less what the padding of the last group
// stands for. A missing character at the end counts as padding.
std::size_t DecodedLength(const wchar_t* text, LONG count) {
    if (count <= 0)
        return 0;
    const std::size_t groups = (static_cast<std::size_t>(count) + 3) / 4;
    std::size_t meaningful = static_cast<std::size_t>(count) - (groups - 1) * 4;
    const wchar_t* last = text + (groups - 1) * 4;
    for (std::size_t i = 0; i < meaningful; ++i) {
        if (last[i] == L'=') {
            meaningful = i;
            break;
        }
    }
    return (groups - 1) * 3 + meaningful * 6 / 8;
}

} // namespace

FILE* OpenFile(const TFilePath& location, const char* mode) {
    const TString path = location.GetPath();
    if (path.IsEmpty() || !mode)
        return nullptr;
    return std::fopen(TFilePathDetail::NativePath(path).c_str(), mode);
}

bool ReadTextFile(const TFilePath& location, char*& text) {
    FileOwner file(OpenFile(location, "rt"));
    if (!file)
        return false;
    const long long length = LengthOf(file.get());
    if (length < 0 || length > kMaxReadBytes)
        return false;
    auto* buffer = new char[static_cast<std::size_t>(length) + 1];
    const std::size_t read = std::fread(buffer, 1, static_cast<std::size_t>(length), file.get());
    buffer[read] = 0;
    text = buffer;
    return read == static_cast<std::size_t>(length);
}

bool ReadUnicodeTextFile(const TFilePath& location, wchar_t*& text, bool swap) {
    FileOwner file(OpenFile(location, "rb"));
    if (!file)
        return false;
    long long length = LengthOf(file.get());
    if (length < 0 || length > kMaxReadBytes)
        length = 0;
    std::string bytes(static_cast<std::size_t>(length), '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    // An odd last byte gets a zero partner, as reading an even size gives it.
    if (bytes.size() & 1)
        bytes.push_back('\0');
    std::u16string units = Utf::Utf16FromLEBytes(bytes.data(), bytes.size());
    const bool bigEndian = !bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0xFE;
    std::size_t start = 0;
    if (!units.empty() && (units[0] == 0xFEFF || units[0] == 0xFFFE))
        start = 1;
    if (bigEndian && swap) {
        for (char16_t& unit : units)
            unit = static_cast<char16_t>((unit >> 8) | (unit << 8));
    }
    const std::wstring wide = Utf::Utf16ToWide(std::u16string_view(units).substr(start));
    auto* out = new wchar_t[wide.size() + 1];
    std::copy(wide.begin(), wide.end(), out);
    out[wide.size()] = 0;
    text = out;
    return true;
}

bool ReadBinaryFile(const TFilePath& location, BYTE*& data, DWORD& size) {
    FileOwner file(OpenFile(location, "rb"));
    if (!file)
        return false;
    const long long length = LengthOf(file.get());
    if (length < 0 || length > kMaxReadBytes)
        return false;
    auto* buffer = new BYTE[static_cast<std::size_t>(length)];
    const std::size_t read = std::fread(buffer, 1, static_cast<std::size_t>(length), file.get());
    data = buffer;
    size = static_cast<DWORD>(length);
    return read == static_cast<std::size_t>(length);
}

bool WriteTextFile(const TFilePath& location, const char* text) {
    return WriteAll(location, "wt", text, text ? std::strlen(text) : 0);
}

bool WriteBinaryFile(const TFilePath& location, const void* data, DWORD size) {
    if (!data && size > 0)
        return false;
    return WriteAll(location, "wb", data, size);
}

bool WriteUnicodeTextFile(const TFilePath& location, const wchar_t* text) {
    FileOwner file(OpenFile(location, "wb"));
    if (!file)
        return false;
    std::vector<std::uint8_t> bytes;
    Utf::AppendUtf16LE(bytes, Utf::WideToUtf16(text ? text : L""));
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    return true;
}

bool WriteStringFile(const TString& text, const TFilePath& location) {
    std::vector<std::uint8_t> bytes;
    Utf::AppendUtf16LE(bytes,
                       Utf::WideToUtf16(std::wstring_view(text, static_cast<std::size_t>(text.GetLength()))));
    return WriteAll(location, "wb", bytes.data(), bytes.size());
}

bool MimeTypeToExtension(const wchar_t* mimeType, TString& extension) {
    extension.Empty();
    if (!mimeType)
        return false;
    for (const MimeRow& row : kMimeTypes) {
        if (std::wcscmp(row.type, mimeType) == 0) {
            extension = row.extension;
            return true;
        }
    }
    return false;
}

bool SaveBase64ToTempFile(const wchar_t* text, LONG count, const wchar_t* mimeType, TString& path) {
    TString extension;
    if (!MimeTypeToExtension(mimeType, extension) || !text || count < 0)
        return false;
    TFilePath location;
    if (!MakeUniqueFileName(L"tre", extension, location))
        return false;
    unsigned char* block = nullptr;
    LONG length = 0;
    if (!Base64Decode(block, length, text, count)) {
        location.Delete();
        return false;
    }
    std::unique_ptr<unsigned char[]> owner(block);
    const std::size_t real =
        std::min<std::size_t>(DecodedLength(text, count), static_cast<std::size_t>(length));
    if (!WriteAll(location, "wb", owner.get(), real)) {
        location.Delete();
        return false;
    }
    path = location.GetPath();
    return true;
}
