// Writes the corpus of the page render fuzz target with the document library's own writer: layouts whose
// items reach each way the renderer draws (marks filled and framed, text in its styles, picture items and
// their placeholders, many items, odd pages), each opened from its UTF-8 text and saved as the library
// stores documents. Usage: page_render_corpus <folder>.
#include "platform/dadadud/DadaDud.h"

#include "platform/win/utf16.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Box(const std::string& x, const std::string& y, const std::string& cx, const std::string& cy) {
    return "<bounding-box x='" + x + "' y='" + y + "' cx='" + cx + "' cy='" + cy + "'/>";
}

std::string Mark(const std::string& box, const char* colour, const char* fill, const char* width) {
    return "<item id='4194305'>" + box + "<content><rectangle color='" + colour + "' fill='" + fill +
           "' width='" + width + "'/></content></item>";
}

std::string Text(const std::string& box, const char* text, const char* size, const char* colour,
                 const char* alignment, const char* bold, const char* italic) {
    return "<item kind='text'>" + box + "<content><text>" + text +
           "</text></content><property name='text'><attr name='font-family'>DejaVu Sans</attr>"
           "<attr name='font-size'>" +
           size + "</attr><attr name='bold'>" + bold + "</attr><attr name='italic'>" + italic +
           "</attr><attr name='color'>" + colour + "</attr><attr name='alignment'>" + alignment +
           "</attr></property></item>";
}

std::string Picture(const std::string& box, const char* nuid, const char* fit, const char* rotation) {
    return "<item kind='image'>" + box + "<content><image refType='NUID'>" + nuid +
           "</image></content><property name='fit'><attr name='mode'>" + fit +
           "</attr></property><property name='rotation'><attr name='mode'>" + rotation +
           "</attr></property></item>";
}

std::string Page(const char* id, const char* cx, const char* cy, const std::string& items) {
    return std::string("<page id='") + id + "' cx='" + cx + "' cy='" + cy + "'>" + items + "</page>";
}

std::string Grid() {
    std::string items;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column) {
            const std::string x = std::to_string(column * 120), y = std::to_string(row * 106);
            items += (row + column) % 3 == 0 ? Mark(Box(x, y, "100", "90"), "#30609080", "true", "1")
                     : (row + column) % 3 == 1
                         ? Picture(Box(x, y, "100", "90"), "7", "inside", "")
                         : Text(Box(x, y, "100", "90"), "Wq", "20", "#000000", "", "", "");
        }
    return items;
}

struct Layout {
    std::string name;
    std::string text;
};

// The fuzz target renders into 48 x 32 pixels; pages of 480 x 320 map ten units to a pixel.
const Layout kLayouts[] = {
    {"marks", "<ldf version='1'>" +
                  Page("1", "480", "320",
                       Mark(Box("50", "20", "200", "150"), "#ff000080", "true", "1") +
                           Mark(Box("0", "0", "480", "320"), "#1860a2", "false", "30") +
                           Mark(Box("100", "100", "150", "90"), "#00ff00", "false", "1e300") +
                           Mark(Box("300", "40", "120", "260"), "#0000ffff", "false", "-4") +
                           Mark(Box("10", "10", "5", "5"), "#ffffffff", "false", "2") +
                           Mark(Box("200", "200", "100", "100"), "red", "true", "1") +
                           Mark(Box("220", "10", "60", "60"), "#12345", "true", "1")) +
                  "</ldf>"},
    {"text",
     "<ldf version='1'>" +
         Page("1", "480", "320",
              Text(Box("10", "10", "460", "80"), "Hg 2003/08/08", "60", "#000000ff", "center", "1", "0") +
                  Text(Box("80", "90", "300", "60"),
                       "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", "40", "#ff0000", "right",
                       "0", "1") +
                  Text(Box("80", "160", "300", "150"), "two&#10;lines&#9;and a tab", "30", "#2040c0c0",
                       "left", "1", "1") +
                  Text(Box("0", "0", "480", "320"), "zero", "0", "#000000", "", "", "") +
                  Text(Box("0", "0", "480", "320"), "below zero", "-12", "#000000", "", "", "") +
                  Text(Box("100", "100", "50", "50"), "huge", "1e308", "#000000", "", "", "") +
                  Text(Box("100", "100", "50", "50"), "not a size", "nan", "#000000", "", "", "") +
                  Text(Box("10", "250", "460", "60"), "", "30", "#000000", "center", "", "")) +
         Page("2", "480", "320",
              Text(Box("20", "20", "440", "280"),
                   "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A "
                   "e\xCC\x81\xCC\x81 \xF0\x9F\x8C\x85",
                   "48", "#000000", "center", "0", "0") +
                  "<item kind='text'>" + Box("0", "0", "480", "320") +
                  "<content><text>no style</text></content></item>") +
         "</ldf>"},
    {"pictures", "<ldf version='1'>" +
                     Page("1", "480", "320",
                          "<property name='content-alignment'><attr name='horizontal'>l</attr>"
                          "<attr name='vertical'>t</attr></property>" +
                              Picture(Box("20", "20", "200", "120"), "4294967301", "cover", "best-fit") +
                              Picture(Box("240", "20", "120", "200"), "21", "inside", "") +
                              Picture(Box("400", "250", "200", "200"), "22", "", "best-fit") +
                              Picture(Box("5", "300", "4", "4"), "23", "inside", "") + "<item kind='image'>" +
                              Box("100", "200", "100", "100") + "</item>") +
                     Page("2", "480", "320",
                          "<property name='content-alignment'><attr name='horizontal'>right</attr>"
                          "<attr name='vertical'>bottom</attr></property>" +
                              Picture(Box("0", "0", "480", "320"), "21", "cover", "")) +
                     "</ldf>"},
    {"overlap", "<ldf version='1'>" +
                    Page("1", "480", "320",
                         Picture(Box("40", "40", "400", "240"), "9", "inside", "") +
                             Text(Box("60", "60", "360", "200"), "Over the picture", "50", "#ffffff",
                                  "center", "1", "0") +
                             Mark(Box("30", "30", "420", "260"), "#ffcc00", "false", "20") +
                             Mark(Box("150", "100", "180", "120"), "#00008040", "true", "1")) +
                    "</ldf>"},
    {"grid", "<ldf version='1'>" + Page("1", "480", "320", Grid()) + "</ldf>"},
    // Pages of other shapes and sizes: tall, thin, unusable, enormous, and a fifth the target leaves out.
    {"pages",
     "<ldf version='1'>" +
         Page("1", "2100", "2970", Mark(Box("100", "100", "1900", "2770"), "#808080", "false", "40")) +
         Page("2", "1", "1000", Mark(Box("0", "0", "1", "500"), "#ff0000", "true", "1")) +
         Page("3", "0", "320", Mark(Box("0", "0", "10", "10"), "#ff0000", "true", "1")) +
         Page("4", "1e9", "1e9", Mark(Box("0", "0", "5e8", "5e8"), "#00ff00", "true", "1")) +
         Page("5", "480", "320", Mark(Box("0", "0", "480", "320"), "#0000ff", "true", "1")) + "</ldf>"},
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
    for (const Layout& layout : kLayouts) {
        std::ofstream(source, std::ios::binary | std::ios::trunc) << layout.text;
        DocHandle document = kDocNoHandle;
        const std::wstring target = Utf::Utf8ToWide((out / (layout.name + ".ldf")).string());
        const bool saved =
            docCreateDocumentFromLDF(Utf::Utf8ToWide(source.string()).c_str(), &document) == 1 &&
            docSaveLDF(document, target.c_str()) == 1;
        if (!saved)
            std::fprintf(stderr, "the layout %s could not be written\n", layout.name.c_str());
        ok = saved && ok;
        docReleaseHandle(document);
    }
    std::filesystem::remove(source);
    docShutdown();
    if (!ok)
        return 1;
    std::printf("wrote the page render corpus to %s\n", out.c_str());
    return 0;
}
