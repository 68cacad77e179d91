// One preference document of the XML library: the parsed tree, owned, with the lock that every reader and
// writer holds, and the rules of the library's calls (davuzOzi.h) on it. The reader never fetches nor
// expands a document type, nor reaches the network.
#pragma once

#include "platform/win/wintypes.h"

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CUtlXmlDocument {
public:
    // No file larger than this is read.
    static constexpr std::size_t kMaxFileBytes = std::size_t{16} << 20;
    static constexpr const char* kEmptyRootName = "root";

    // The document of the bytes, or null for bytes that are not well-formed XML, declare a document type or
    // have no root element.
    static std::unique_ptr<CUtlXmlDocument> Parse(const std::uint8_t* data, std::size_t size);
    // A document of an empty root element.
    static std::unique_ptr<CUtlXmlDocument> Empty();
    ~CUtlXmlDocument();
    CUtlXmlDocument(const CUtlXmlDocument&) = delete;
    CUtlXmlDocument& operator=(const CUtlXmlDocument&) = delete;

    // Each takes the document's lock.
    std::optional<std::wstring> GetValue(const wchar_t* key);
    bool SetValue(const wchar_t* key, const wchar_t* value);
    // The stored form: UTF-8 with its declaration.
    bool Serialize(std::vector<std::uint8_t>& out);

private:
    explicit CUtlXmlDocument(xmlDocPtr tree) : m_tree(tree) {}

    std::mutex m_lock;
    xmlDocPtr m_tree;
};
