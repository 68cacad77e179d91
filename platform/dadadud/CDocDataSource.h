// A data source of the document library: the text a later call makes a document of (a layout template,
// a picture bundle, a stored document), copied when the source is made, so that the caller's text or
// file may change or go and the source may be released as soon as a document was made of it.
#pragma once

#include "platform/win/wintypes.h"
#include "platform/xml/KvXml.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CDocDataSource {
public:
    // No source is larger than this, as a file or in memory.
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;

    // The bytes of the file as they are stored, or null when it is missing, empty or too large.
    static std::shared_ptr<const CDocDataSource> FromFile(const wchar_t* path);
    // The length characters of the text (which need not end there), or null for no text, a length not
    // above 0 or a text too large.
    static std::shared_ptr<const CDocDataSource> FromText(const wchar_t* text, LONG length);

    // The source's XML tree, or null when it is not well-formed. A file is read in the encoding that its
    // byte-order mark or declaration gives; a text in memory is already decoded, so what its declaration
    // says ("utf-16" in the modules' texts) is not read again.
    KvXmlTreePtr Parse() const;
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    CDocDataSource(std::vector<std::uint8_t> bytes, bool decoded)
        : m_bytes(std::move(bytes)), m_decoded(decoded) {}

    std::vector<std::uint8_t> m_bytes;
    // UTF-8 converted from a wide text, whatever its declaration names.
    bool m_decoded;
};
