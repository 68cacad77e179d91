// Writes the corpus of the plug-in resource fuzz target: the resources of every test plug-in, each file
// prefixed with its reader byte (0: property list, 1: scripting description). Run it as
// `plugin_resources_corpus <folder>`.
#include "platform/plugins/testplugins/TestPluginResources.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

bool Save(const std::filesystem::path& file, char reader, const KvPlugin::ResourceBytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.put(reader);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    bool written = true;
    for (const KvTestPlugins::Resources& r : KvTestPlugins::AllResources()) {
        if (!r.pipl.empty())
            written = Save(folder / (r.library + "-pipl"), 0, r.pipl) && written;
        if (!r.aete.empty())
            written = Save(folder / (r.library + "-aete"), 1, r.aete) && written;
    }
    return written ? 0 : 1;
}
