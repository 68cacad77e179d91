// Fills a layout template (LTF) with the objects of a bundle into a new LDF tree: each cluster of the
// template is repeated once for every group of as many objects as it has dynamic objects, and the
// references of its items ("#i/content", "#i/caption/<kind>") are replaced by what the bound objects hold.
// The formats are in LtfFormat.md beside this header.
#pragma once

#include "platform/xml/KvXml.h"

#include <cstddef>
#include <cstdint>

class CLtfFill {
public:
    // No filled document has more pages or copied items than these, nor copies of pages that weigh more
    // (a node counting as 128 bytes, with its text).
    static constexpr std::size_t kMaxPages = 100000;
    static constexpr std::size_t kMaxItems = 2000000;
    static constexpr std::size_t kMaxCopiedBytes = std::size_t{256} << 20;

    // The LDF tree, or null when either text is not a well-formed document of its kind or the result would
    // be too large.
    static KvXmlTreePtr Fill(const std::uint8_t* ltf, std::size_t ltfSize, const std::uint8_t* bundle,
                             std::size_t bundleSize);
    // The same of trees already read (the template's and the bundle's); either may be null. Neither tree
    // changes.
    static KvXmlTreePtr Fill(xmlDocPtr ltf, xmlDocPtr bundle);
};
