// Writes the corpus of the option-colour fuzz target as the options write colours ("#%02x%02x%02x" of red,
// green and blue), with a flag byte added to some and a few texts that are cut short. Usage:
// option_colour_corpus <folder>.
#include "plugin_framework/TString.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    const unsigned colours[] = {0x000000, 0xFFFFFF, 0x0080FF, 0x123456, 0xC8D4D0};
    int written = 0;
    for (unsigned colour : colours) {
        TString text;
        text.Format(L"#%02x%02x%02x", colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
        const TString withFlag = text + L"80";
        for (const TString& t : {text, withFlag, text.Left(4)}) {
            const TStringA bytes(static_cast<const wchar_t*>(t));
            std::ofstream out(folder / ("colour-" + std::to_string(written++)), std::ios::binary);
            out.write(bytes, bytes.GetLength());
        }
    }
    std::printf("%d texts in %s\n", written, folder.c_str());
    return 0;
}
