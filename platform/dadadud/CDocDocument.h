// One layout document of the document library: the parsed tree, owned, and the lock that every reader
// and writer of the tree holds, so threads may share a document. The reader refuses what is not an LDF
// document and never fetches nor expands a document type; the writer gives the stored UTF-16 form.
#pragma once

#include "platform/win/wintypes.h"

#include "platform/xml/KvXml.h"

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CDocDocument {
public:
    // No LDF file larger than this is read.
    static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

    // The document of the bytes, or null for bytes that are not well-formed XML (in any encoding the
    // parser knows from a byte-order mark or declaration), that declare a document type, or whose root is
    // not "ldf".
    static std::shared_ptr<CDocDocument> Parse(const std::uint8_t* data, std::size_t size);
    // The document of a tree whose root is "ldf"; null otherwise.
    static std::shared_ptr<CDocDocument> Adopt(KvXmlTreePtr tree);
    // With the lock held: the tree becomes the document's, when its root is "ldf" (false otherwise, the
    // document unchanged). The previous tree is kept until the document goes, since handles of its pages
    // and items may still point into it.
    bool ReplaceTree(KvXmlTreePtr tree);
    ~CDocDocument();
    CDocDocument(const CDocDocument&) = delete;
    CDocDocument& operator=(const CDocDocument&) = delete;

    // Held by whoever walks or reads the tree.
    std::mutex& Lock() { return m_lock; }
    // With the lock held.
    xmlNodePtr Root() const;
    // The index-th element child of the parent with the name, or null.
    static xmlNodePtr Child(xmlNodePtr parent, const char* name, LONG index);
    static LONG CountChildren(xmlNodePtr parent, const char* name);
    // The value of the XPath expression at the node; nothing when it fails or selects no node.
    std::optional<std::wstring> Evaluate(xmlNodePtr node, const wchar_t* path) const;
    // Item editing, with the lock held. A new item is made from the text of one "item" element (refused
    // like a document: not well-formed, a document type, another element) and belongs to the document,
    // unlinked, until it is inserted after a linked item of its tree. A removed item is only unlinked: it
    // stays allocated, and readable through the handles that still name it, until the document goes.
    xmlNodePtr CreateItem(std::wstring_view text);
    bool InsertAfter(xmlNodePtr reference, xmlNodePtr item);
    bool RemoveItem(xmlNodePtr item);
    // The document as stored: a byte-order mark, then UTF-16 little-endian text declaring that encoding.
    bool Serialize(std::vector<std::uint8_t>& out) const;

private:
    explicit CDocDocument(xmlDocPtr tree) : m_tree(tree) {}
    static bool IsLdf(xmlDocPtr tree);

    std::mutex m_lock;
    xmlDocPtr m_tree;
    std::vector<KvXmlTreePtr> m_retired;
    std::vector<xmlNodePtr> m_unlinked; // made and not yet inserted
    std::vector<xmlNodePtr> m_removed;
};
