#include "CDocDataSource.h"

#include "platform/win/WinFileIO.h"
#include "platform/win/utf16.h"

#include <string_view>

std::shared_ptr<const CDocDataSource> CDocDataSource::FromFile(const wchar_t* path) {
    std::vector<std::uint8_t> bytes;
    if (!path || !*path || !WinFileIO::ReadWholeFile(WinFileIO::NativePath(path), kMaxBytes, bytes) ||
        bytes.empty())
        return nullptr;
    return std::shared_ptr<const CDocDataSource>(new CDocDataSource(std::move(bytes), false));
}

std::shared_ptr<const CDocDataSource> CDocDataSource::FromText(const wchar_t* text, LONG length) {
    // A UTF-8 character takes at most 4 bytes, so the cap on characters keeps the bytes within it.
    if (!text || length <= 0 || static_cast<std::size_t>(length) > kMaxBytes / 4)
        return nullptr;
    const std::string utf8 = Utf::WideToUtf8(std::wstring_view(text, static_cast<std::size_t>(length)));
    return std::shared_ptr<const CDocDataSource>(
        new CDocDataSource(std::vector<std::uint8_t>(utf8.begin(), utf8.end()), true));
}

KvXmlTreePtr CDocDataSource::Parse() const {
    return KvXmlParse(m_bytes.data(), m_bytes.size(), m_decoded ? "UTF-8" : nullptr);
}
