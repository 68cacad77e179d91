// Writes the corpora of the LTF template and bundle targets with the print plug-in's own writers: its
// sheet stylesheet over its page template for a few sheets, and its caption stylesheet for a few
// selections. Usage: ltf_corpus <print plug-in resource folder> <corpus folder>.
#include "platform/dadadud/DadaDud.h"

#include "platform/win/utf16.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::wstring ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Utf::Utf8ToWide(std::string(std::istreambuf_iterator<char>(in), {}));
}

const struct {
    const char* name;
    const wchar_t* parameters;
} kSheets[] = {
    {"a4-index",
     L"pageW=2480.000000<;/>pageH=3508.000000<;/>itemW=448.076923<;/>itemH=336.899942<;/>nbCols=5<;/>"
     L"nbRows=9<;/>borderL=75.000000<;/>borderT=75.000000<;/>borderR=75.000000<;/>borderB=75.000000"
     L"<;/>spaceW=22.403846<;/>spaceH=16.844997<;/>bestFit=1<;/>borderlessPrint=0<;/>textHeight="
     L"50.000000<;/>fontName='O'Neil & $'<;/>italic=1<;/>bold=0<;/>useBasicInfo=1<;/>"
     L"useAdditionalInfo=1<;/>useDetailedInfo=1<;/>bkColor='#dcdcdcff'<;/>textColor='#000000ff'"},
    {"one-cell", L"pageW=1200<;/>pageH=1800<;/>itemW=1200<;/>itemH=1800<;/>nbCols=1<;/>nbRows=1<;/>"
                 L"borderlessPrint=1"},
    {"mail", L"pageW=640<;/>pageH=480<;/>itemW=70<;/>itemH=50<;/>nbCols=8<;/>nbRows=6<;/>textHeight=20"},
    {"no-cells", L"pageW=100<;/>pageH=100<;/>nbCols=0<;/>nbRows=3<;/>"},
};

const struct {
    const char* name;
    const wchar_t* images;
} kSelections[] = {
    {"one", L"NUID:4294967301@&@Basic:IMG_0001.jpg,Harbour@&@$&$"},
    {"captions", L"NUID:7@&@Filename:Tom & Jerry's \"best\".jpg@&@$&$NUID:8@&@Additional:a,b,c,d,e@&@"
                 L"Detailed:f/2.8,1/60,ISO 100,50 mm,on@&@$&$"},
    {"empty", L""},
    {"no-id", L"Basic:lost@&@$&$NUID:@&@$&$NUID:12345678901234567890@&@$&$"},
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s resource-folder corpus-folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path resources = argv[1], corpus = argv[2];
    std::filesystem::create_directories(corpus / "ltf_template");
    std::filesystem::create_directories(corpus / "ltf_bundle");
    if (docStartup() != 1)
        return 1;
    int failed = 0;
    const std::wstring page = ReadText(resources / "SheetTemplate.xml");
    const std::wstring sheet = ReadText(resources / "Sheet.xslt");
    for (const auto& s : kSheets) {
        const std::wstring out = (corpus / "ltf_template" / (std::string(s.name) + ".xml")).wstring();
        failed += docXSLTTransform2(page.c_str(), out.c_str(), sheet.c_str(), s.parameters, nullptr) != 1;
    }
    const std::wstring captions = ReadText(resources / "CaptionBundle.xslt");
    for (const auto& s : kSelections) {
        const std::wstring out = (corpus / "ltf_bundle" / (std::string(s.name) + ".xml")).wstring();
        const std::wstring parameters =
            std::wstring(L"intraItemDelimiter='@&@'<;/>interItemDelimiter='$&$'<;/>imageStr=\"") + s.images +
            L"\"";
        failed += docXSLTTransform2(L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><template>aaa</template>",
                                    out.c_str(), captions.c_str(), parameters.c_str(), nullptr) != 1;
    }
    docShutdown();
    return failed == 0 ? 0 : 1;
}
