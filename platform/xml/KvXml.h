// What the document and preference libraries share of libxml2: the one guarded way of reading XML (well-
// formed documents only, no network, no messages, no document type: the parse stops at a declaration, so
// nothing is fetched and no entity is expanded; the parser's size limits in force) and XPath values as text.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct KvXmlTreeReleaser {
    void operator()(xmlDocPtr tree) const { xmlFreeDoc(tree); }
};
using KvXmlTreePtr = std::unique_ptr<xmlDoc, KvXmlTreeReleaser>;

// The tree of the bytes, or null. With an encoding, the bytes are read in it whatever the document
// declares; without one, as the byte-order mark or declaration says.
KvXmlTreePtr KvXmlParse(const std::uint8_t* data, std::size_t size, const char* encoding = nullptr);

// The XPath expression evaluated at the node of the tree: the text of the first node it selects, or the
// text of a number, string or boolean; nothing for an expression that fails or selects no node.
std::optional<std::wstring> KvXmlValue(xmlDocPtr tree, xmlNodePtr node, const wchar_t* expression);
