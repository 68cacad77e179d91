// Turns a resource manifest into the C++ source of a library's resource table (see WinResources.h for the
// manifest's lines and the table). Usage: kv_rescomp <manifest> <output.cpp> <depfile>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct StringResource {
    unsigned long id;
    std::string text;
};

struct DataResource {
    unsigned long typeId;
    std::string typeName;
    unsigned long id;
    std::string file;
    std::vector<unsigned char> bytes;
};

struct Failure {
    std::string what;
};

[[noreturn]] void Fail(const std::string& manifest, int line, const std::string& what) {
    throw Failure{manifest + ":" + std::to_string(line) + ": " + what};
}

bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty())
        return false;
    std::size_t used = 0;
    try {
        value = std::stoul(text, &used, 0);
    } catch (...) {
        return false;
    }
    return used == text.size() && value <= 0xFFFFFFFFul;
}

// The next word of the line from pos on; pos ends after the single blank that follows it.
std::string NextWord(const std::string& line, std::size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')
        ++pos;
    std::string word = line.substr(start, pos - start);
    if (pos < line.size())
        ++pos;
    return word;
}

std::string Unescape(const std::string& text, const std::string& manifest, int line) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            Fail(manifest, line, "a text ends in a lone backslash");
        switch (text[i]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            Fail(manifest, line, std::string("unknown escape \\") + text[i]);
        }
    }
    return out;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::vector<unsigned char> ReadFile(const std::string& path, const std::string& manifest, int line) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(manifest, line, "cannot read " + path);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

void Compile(const std::string& manifest, std::vector<StringResource>& strings,
             std::vector<DataResource>& data) {
    std::ifstream in(manifest);
    if (!in)
        throw Failure{"cannot read " + manifest};
    std::set<unsigned long> stringIds;
    std::set<std::pair<std::string, unsigned long>> dataKeys;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t pos = 0;
        const std::string keyword = NextWord(line, pos);
        if (keyword.empty() || keyword[0] == '#')
            continue;
        if (keyword == "string") {
            unsigned long id;
            if (!ParseNumber(NextWord(line, pos), id))
                Fail(manifest, number, "a string needs a numeric id");
            if (!stringIds.insert(id).second)
                Fail(manifest, number, "string " + std::to_string(id) + " is defined twice");
            strings.push_back({id, Unescape(line.substr(std::min(pos, line.size())), manifest, number)});
        } else if (keyword == "data") {
            DataResource resource{};
            const std::string type = NextWord(line, pos);
            if (type.empty())
                Fail(manifest, number, "data needs a type");
            if (!ParseNumber(type, resource.typeId)) {
                resource.typeId = 0;
                resource.typeName = type;
            } else if (resource.typeId == 0) {
                Fail(manifest, number, "type 0 is not a type");
            }
            if (!ParseNumber(NextWord(line, pos), resource.id))
                Fail(manifest, number, "data needs a numeric id");
            std::string file = line.substr(std::min(pos, line.size()));
            if (file.empty())
                Fail(manifest, number, "data needs a file");
            if (file[0] != '/')
                file = FolderOf(manifest) + "/" + file;
            std::string key = resource.typeName;
            for (char& c : key)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (!dataKeys.insert({key + "#" + std::to_string(resource.typeId), resource.id}).second)
                Fail(manifest, number,
                     "resource " + type + " " + std::to_string(resource.id) + " is defined twice");
            resource.file = file;
            resource.bytes = ReadFile(file, manifest, number);
            if (resource.bytes.size() > 0xFFFFFFFFu)
                Fail(manifest, number, file + " is too large for a resource");
            data.push_back(std::move(resource));
        } else {
            Fail(manifest, number, "unknown line \"" + keyword + "\"");
        }
    }
}

std::string Generate(const std::string& manifest, const std::vector<StringResource>& strings,
                     const std::vector<DataResource>& data) {
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
        for (const StringResource& s : strings)
            out << "    {" << s.id << "u, " << Literal(s.text) << "},\n";
        out << "};\n\n";
    }
    if (!data.empty()) {
        out << "const KvwResourceEntry kResources[] = {\n";
        for (std::size_t i = 0; i < data.size(); ++i) {
            const DataResource& d = data[i];
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
        std::vector<StringResource> strings;
        std::vector<DataResource> data;
        Compile(manifest, strings, data);
        const std::string source = Generate(manifest, strings, data);
        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out << source;
        if (!out)
            throw Failure{"cannot write " + output};
        std::ofstream dep(argv[3], std::ios::trunc);
        dep << DepfilePath(output) << ":";
        dep << " " << DepfilePath(manifest);
        for (const DataResource& d : data)
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
