#include "CDocDocument.h"

#include "platform/win/utf16.h"
#include "platform/xml/KvXml.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr const char* kRootName = "ldf";
constexpr const char* kItemName = "item";
constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n";

struct BufferReleaser {
    void operator()(xmlBufferPtr buffer) const { xmlBufferFree(buffer); }
};

bool IsElement(xmlNodePtr node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

} // namespace

std::shared_ptr<CDocDocument> CDocDocument::Parse(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > kMaxFileBytes)
        return nullptr;
    return Adopt(KvXmlParse(data, size));
}

bool CDocDocument::IsLdf(xmlDocPtr tree) {
    const xmlNodePtr root = tree ? xmlDocGetRootElement(tree) : nullptr;
    return root && IsElement(root, kRootName) && !root->ns;
}

std::shared_ptr<CDocDocument> CDocDocument::Adopt(KvXmlTreePtr tree) {
    if (!IsLdf(tree.get()))
        return nullptr;
    return std::shared_ptr<CDocDocument>(new CDocDocument(tree.release()));
}

bool CDocDocument::ReplaceTree(KvXmlTreePtr tree) {
    if (!IsLdf(tree.get()))
        return false;
    m_retired.emplace_back(m_tree);
    m_tree = tree.release();
    return true;
}

CDocDocument::~CDocDocument() {
    // Before the trees whose dictionaries their names may come from.
    for (xmlNodePtr node : m_unlinked)
        xmlFreeNode(node);
    for (xmlNodePtr node : m_removed)
        xmlFreeNode(node);
    xmlFreeDoc(m_tree);
}

xmlNodePtr CDocDocument::CreateItem(std::wstring_view text) {
    const std::string utf8 = Utf::WideToUtf8(text);
    if (utf8.empty() || utf8.size() > kMaxFileBytes)
        return nullptr;
    const KvXmlTreePtr parsed = KvXmlParse(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size());
    const xmlNodePtr root = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
    if (!root || !IsElement(root, kItemName) || root->ns)
        return nullptr;
    const xmlNodePtr copy = xmlDocCopyNode(root, m_tree, 1);
    if (!copy)
        return nullptr;
    m_unlinked.push_back(copy);
    return copy;
}

bool CDocDocument::InsertAfter(xmlNodePtr reference, xmlNodePtr item) {
    const auto it = std::find(m_unlinked.begin(), m_unlinked.end(), item);
    if (it == m_unlinked.end() || !reference || reference->doc != m_tree || !reference->parent ||
        !IsElement(reference, kItemName))
        return false;
    if (!xmlAddNextSibling(reference, item))
        return false;
    m_unlinked.erase(it);
    return true;
}

bool CDocDocument::RemoveItem(xmlNodePtr item) {
    if (!item || item->doc != m_tree || !item->parent || !IsElement(item, kItemName))
        return false;
    m_removed.reserve(m_removed.size() + 1);
    xmlUnlinkNode(item);
    m_removed.push_back(item);
    return true;
}

xmlNodePtr CDocDocument::Root() const {
    return xmlDocGetRootElement(m_tree);
}

xmlNodePtr CDocDocument::Child(xmlNodePtr parent, const char* name, LONG index) {
    if (!parent || index < 0)
        return nullptr;
    for (xmlNodePtr node = parent->children; node; node = node->next) {
        if (IsElement(node, name) && index-- == 0)
            return node;
    }
    return nullptr;
}

LONG CDocDocument::CountChildren(xmlNodePtr parent, const char* name) {
    LONG count = 0;
    for (xmlNodePtr node = parent ? parent->children : nullptr; node; node = node->next) {
        if (IsElement(node, name) && count < std::numeric_limits<LONG>::max())
            ++count;
    }
    return count;
}

std::optional<std::wstring> CDocDocument::Evaluate(xmlNodePtr node, const wchar_t* path) const {
    return KvXmlValue(m_tree, node, path);
}

bool CDocDocument::Serialize(std::vector<std::uint8_t>& out) const {
    std::unique_ptr<xmlBuffer, BufferReleaser> buffer(xmlBufferCreate());
    if (!buffer)
        return false;
    // Written as UTF-8 without a declaration, then given the UTF-16 declaration and converted here.
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer.get(), "UTF-8", XML_SAVE_NO_DECL);
    if (!save)
        return false;
    const bool saved = xmlSaveDoc(save, m_tree) >= 0;
    if (xmlSaveClose(save) < 0 || !saved)
        return false;
    const std::string text =
        kDeclaration + std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                                   static_cast<std::size_t>(xmlBufferLength(buffer.get())));
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    Utf::AppendUtf16LE(bytes, Utf::Utf8ToUtf16(text));
    out = std::move(bytes);
    return true;
}
