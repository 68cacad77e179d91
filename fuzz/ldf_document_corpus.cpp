// Writes the corpus of the LDF fuzz target with the document library's own writer: each layout below is
// opened from its UTF-8 text and saved as the library stores documents (UTF-16 with a mark). Usage:
// ldf_document_corpus <folder>.
#include "platform/dadadud/DadaDud.h"

#include "platform/win/utf16.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const struct {
    const char* name;
    const char* text;
} kLayouts[] = {
    {"empty", "<ldf version='1'/>"},
    {"one-page", "<ldf version='1'><page id='1' cx='800' cy='600'/></ldf>"},
    {"items",
     "<ldf version='1'><page id='1' cx='2100' cy='2970'>"
     "<item id='1' kind='image'><bounding-box x='100' y='100' cx='1900' cy='1300'/>"
     "<content><image refType='NUID'>4294967301</image></content></item>"
     "<item id='2' kind='text'><bounding-box x='100' y='1500' cx='1900' cy='200'/>"
     "<content><text>Harbour at dawn</text></content>"
     "<metadata><property name='kind'>UI_Helper</property></metadata></item></page>"
     "<page id='2' cx='2970' cy='2100'><item id='1' kind='shape'><bounding-box x='0' y='0' cx='10' cy='10'/>"
     "</item></page></ldf>"},
    {"non-ascii",
     "<ldf version='1'><page id='1' cx='1' cy='1' title='Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC'>"
     "<item id='1' kind='text'><content><text>&lt;\xF0\x9F\x8C\x85&gt; &amp; &#233;</text></content></item>"
     "</page></ldf>"},
    // Boxes a renderer must survive: empty, negative, enormous, unreadable, missing, on odd pages.
    {"odd-boxes",
     "<ldf version='1'><page id='1' cx='100' cy='50'>"
     "<item id='1' kind='image'><bounding-box x='10' y='10' cx='0' cy='20'/></item>"
     "<item id='2' kind='image'><bounding-box x='90' y='40' cx='-80' cy='-30'/></item>"
     "<item id='3' kind='shape'><bounding-box x='-1e300' y='0' cx='1e308' cy='1e308'/></item>"
     "<item id='4' kind='text'><bounding-box x='abc' y='1,5' cx='NaN' cy='inf'/></item>"
     "<item id='5' kind='image'/>"
     "<item id='6' kind='image'><bounding-box x='99.6' y='49.6' cx='0.2' cy='0.2'/></item></page>"
     "<page id='2' cx='1e-300' cy='1e300'><item id='1' kind='text'><bounding-box x='0' y='0' cx='1' cy='1'/>"
     "</item></page><page id='3' cx='-5' cy='5'/><page id='4'/></ldf>"},
    {"comments-and-cdata",
     "<?xml version='1.0' encoding='UTF-8'?><!-- made by hand --><ldf version='1'><?renderer hint?>"
     "<page id='1' cx='5' cy='5'><item id='1' kind='text'><content><text><![CDATA[a < b]]></text>"
     "</content></item></page></ldf>"},
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    const std::filesystem::path source = out / "source.tmp";
    docStartup();
    bool ok = true;
    for (const auto& layout : kLayouts) {
        std::ofstream(source, std::ios::binary) << layout.text;
        DocHandle document = kDocNoHandle;
        const std::wstring target = Utf::Utf8ToWide((out / (std::string(layout.name) + ".ldf")).string());
        ok = docCreateDocumentFromLDF(Utf::Utf8ToWide(source.string()).c_str(), &document) == 1 &&
             docSaveLDF(document, target.c_str()) == 1 && ok;
        docReleaseHandle(document);
    }
    std::filesystem::remove(source);
    docShutdown();
    if (!ok) {
        std::fprintf(stderr, "a corpus file could not be written\n");
        return 1;
    }
    std::printf("wrote the LDF corpus to %s\n", out.c_str());
    return 0;
}
