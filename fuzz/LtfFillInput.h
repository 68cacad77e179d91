// What the LTF fuzz targets share: the filling of a template with a bundle, and the invariants of a
// filled document (an LDF document, pages numbered 1, 2, ... in order, a save that reads back).
#pragma once

#include "platform/dadadud/CDocDocument.h"
#include "platform/dadadud/CLtfFill.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace ltffuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "LTF invariant broken: %s\n", what);
    std::abort();
}

inline void FillAndCheck(const std::uint8_t* ltf, std::size_t ltfSize, const std::uint8_t* bundle,
                         std::size_t bundleSize) {
    std::shared_ptr<CDocDocument> document =
        CDocDocument::Adopt(CLtfFill::Fill(ltf, ltfSize, bundle, bundleSize));
    if (!document)
        return;
    std::vector<std::uint8_t> saved;
    {
        std::lock_guard<std::mutex> guard(document->Lock());
        const LONG pages = CDocDocument::CountChildren(document->Root(), "page");
        if (static_cast<std::size_t>(pages) > CLtfFill::kMaxPages)
            Fail("more pages than allowed");
        for (LONG p = 0; p < pages && p < 64; ++p) {
            const xmlNodePtr page = CDocDocument::Child(document->Root(), "page", p);
            if (document->Evaluate(page, L"@id") != std::to_wstring(p + 1))
                Fail("pages are not numbered in order");
            document->Evaluate(page, L"item[1]/content/image[@refType='NUID']");
        }
        if (!document->Serialize(saved))
            Fail("a filled document cannot be saved");
    }
    if (!CDocDocument::Parse(saved.data(), saved.size()))
        Fail("a saved filled document is refused");
}

// A template of two slots on one page, with a picture and a caption per slot.
constexpr char kTemplate[] =
    "<template><cluster id='1'><dynObjects><mm-object id='0'/><mm-object id='1'/></dynObjects>"
    "<page id='1' cx='100' cy='100'><item id='1'><bounding-box x='0' y='0' cx='10' cy='10'/><content>"
    "<image mime-type='image/jpeg'>#0/content</image></content></item><item id='2'><bounding-box x='0' "
    "y='10' cx='10' cy='5'/><content><text>#0/caption/basic</text></content></item><item id='3'>"
    "<bounding-box x='20' y='0' cx='10' cy='10'/><content><image>#1/content</image></content></item>"
    "</page></cluster></template>";

constexpr char kBundle[] =
    "<bundle><object><content>1</content><caption kind='basic'>a</caption></object>"
    "<object><content>2</content></object><object><content>3</content></object></bundle>";

} // namespace ltffuzz
