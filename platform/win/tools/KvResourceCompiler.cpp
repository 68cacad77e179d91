// Turns a resource manifest into the C++ source of a library's resource table (see WinResources.h for the
// manifest's lines and the table). Dialog, menu and accelerator templates (data of types 5, 4 and 9) must
// read as templates filed under their own id (WinDialogTemplate.h, WinMenuTemplate.h). Usage: kv_rescomp
// <manifest> <output.cpp> <depfile>
#include "platform/win/WinDialogTemplate.h"
#include "platform/win/WinMenuTemplate.h"
#include "platform/win/WinResourceManifest.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using WinResourceManifest::DataLine;
using WinResourceManifest::StringLine;

// The resource types of templates (RT_DIALOG, RT_MENU, RT_ACCELERATOR).
constexpr std::uint32_t kDialogType = 5;
constexpr std::uint32_t kMenuType = 4;
constexpr std::uint32_t kAcceleratorType = 9;

struct Failure {
    std::string what;
};

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// A C++ string literal of the bytes; octal escapes have a fixed length, so no following character can
// extend them.
std::string Literal(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
            out += static_cast<char>(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof(escape), "\\%03o", c);
            out += escape;
        }
    }
    return out + "\"";
}

std::string DepfilePath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#')
            out += '\\';
        out += c;
    }
    return out;
}

// Reads the template with the parser; it must be filed under its own id.
template <class Template, class Parse>
void CheckTemplate(const DataLine& line, const char* kind, Parse parse) {
    Template read;
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(line.bytes.data()), line.bytes.size());
    if (!parse(text, read, error))
        throw Failure{line.file + ":" + error};
    if (read.id != line.id)
        throw Failure{line.file + ": the template is " + kind + " " + std::to_string(read.id) +
                      ", filed as " + std::to_string(line.id)};
}

// Reads the manifest and the files of its data lines (their paths made relative to the manifest's folder).
void Compile(const std::string& manifest, std::vector<StringLine>& strings, std::vector<DataLine>& data) {
    std::ifstream in(manifest, std::ios::binary);
    if (!in)
        throw Failure{"cannot read " + manifest};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WinResourceManifest::Manifest parsed;
    std::string error;
    if (!WinResourceManifest::Parse(text, parsed, error))
        throw Failure{manifest + ":" + error};
    for (DataLine& line : parsed.data) {
        line.file = WinResourceManifest::DataPath(FolderOf(manifest), line.file);
        std::ifstream file(line.file, std::ios::binary);
        if (!file)
            throw Failure{manifest + ": cannot read " + line.file};
        line.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (line.bytes.size() > 0xFFFFFFFFu)
            throw Failure{manifest + ": " + line.file + " is too large for a resource"};
        if (line.typeId == kDialogType)
            CheckTemplate<WinDialogTemplate::Template>(line, "dialog", WinDialogTemplate::Parse);
        else if (line.typeId == kMenuType)
            CheckTemplate<WinMenuTemplate::Menu>(line, "menu", WinMenuTemplate::ParseMenu);
        else if (line.typeId == kAcceleratorType)
            CheckTemplate<WinMenuTemplate::AcceleratorTable>(line, "accelerators",
                                                             WinMenuTemplate::ParseAccelerators);
    }
    strings = std::move(parsed.strings);
    data = std::move(parsed.data);
}

std::string Generate(const std::string& manifest, const std::vector<StringLine>& strings,
                     const std::vector<DataLine>& data) {
    std::ostringstream out;
    out << "// The resource table compiled from " << manifest << ".\n"
        << "#include \"platform/win/WinResources.h\"\n\nnamespace {\n\n";
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i].bytes.empty())
            continue;
        out << "const unsigned char kData" << i << "[] = {";
        for (std::size_t b = 0; b < data[i].bytes.size(); ++b) {
            if (b % 16 == 0)
                out << "\n   ";
            out << " " << static_cast<unsigned>(data[i].bytes[b]) << ",";
        }
        out << "\n};\n\n";
    }
    if (!strings.empty()) {
        out << "const KvwStringEntry kStrings[] = {\n";
        for (const StringLine& s : strings)
            out << "    {" << s.id << "u, " << Literal(s.text) << "},\n";
        out << "};\n\n";
    }
    if (!data.empty()) {
        out << "const KvwResourceEntry kResources[] = {\n";
        for (std::size_t i = 0; i < data.size(); ++i) {
            const DataLine& d = data[i];
            out << "    {" << d.typeId << "u, "
                << (d.typeName.empty() ? std::string("nullptr") : Literal(d.typeName)) << ", " << d.id
                << "u, " << d.bytes.size() << "u, "
                << (d.bytes.empty() ? std::string("nullptr") : "kData" + std::to_string(i)) << "},\n";
        }
        out << "};\n\n";
    }
    out << "} // namespace\n\n"
        << "extern \"C\" __attribute__((visibility(\"default\"))) const KvwResourceTable KvwResources = {\n"
        << "    kKvwResourceTableVersion, " << strings.size() << "u, "
        << (strings.empty() ? "nullptr" : "kStrings") << ", " << data.size() << "u, "
        << (data.empty() ? "nullptr" : "kResources") << "};\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: kv_rescomp <manifest> <output.cpp> <depfile>\n";
        return 2;
    }
    const std::string manifest = argv[1];
    const std::string output = argv[2];
    try {
        std::vector<StringLine> strings;
        std::vector<DataLine> data;
        Compile(manifest, strings, data);
        const std::string source = Generate(manifest, strings, data);
        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out << source;
        if (!out)
            throw Failure{"cannot write " + output};
        std::ofstream dep(argv[3], std::ios::trunc);
        dep << DepfilePath(output) << ":";
        dep << " " << DepfilePath(manifest);
        for (const DataLine& d : data)
            dep << " " << DepfilePath(d.file);
        dep << "\n";
        if (!dep)
            throw Failure{std::string("cannot write ") + argv[3]};
    } catch (const Failure& failure) {
        std::cerr << "kv_rescomp: " << failure.what << "\n";
        return 1;
    }
    return 0;
}
