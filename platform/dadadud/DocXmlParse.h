// The document library's one way of reading XML: well-formed documents only, no network, no messages, no
// document type (the parse stops at a declaration, so nothing is fetched and no entity is expanded), the
// parser's size limits in force.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <memory>

struct DocTreeReleaser {
    void operator()(xmlDocPtr tree) const { xmlFreeDoc(tree); }
};
using DocTreePtr = std::unique_ptr<xmlDoc, DocTreeReleaser>;

// The tree of the bytes, or null. With an encoding, the bytes are read in it whatever the document
// declares; without one, as the byte-order mark or declaration says.
DocTreePtr DocParseXml(const std::uint8_t* data, std::size_t size, const char* encoding = nullptr);
