#include "CDocDocument.h"

#include "platform/win/utf16.h"
#include "platform/xml/KvXml.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <cstring>
#include <limits>

namespace {

constexpr const char* kRootName = "ldf";
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
    xmlFreeDoc(m_tree);
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
