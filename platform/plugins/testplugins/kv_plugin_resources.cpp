// Writes the resources of one test plug-in and the manifest that compiles them into its library:
// kv_plugin_resources <library> <folder> writes <library>.pipl, <library>.aete (empty when the library
// carries none) and <library>.kvrc into the folder.
#include "TestPluginResources.h"

#include "platform/plugins/KvFilterPlugin.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "kv_plugin_resources: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

std::string AsText(const KvPlugin::ResourceBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s library folder\n", argv[0]);
        return 2;
    }
    const std::string library = argv[1];
    const KvTestPlugins::Resources* resources = KvTestPlugins::ResourcesOf(library);
    if (!resources) {
        std::fprintf(stderr, "kv_plugin_resources: %s is not a test plug-in\n", library.c_str());
        return 2;
    }
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    const std::string id = std::to_string(KvPlugin::kPluginResourceId);
    std::string manifest = "# The resources of the test plug-in " + library + ".\n";
    if (!resources->pipl.empty())
        manifest += std::string("data ") + KvPlugin::kPiplType + " " + id + " " + library + ".pipl\n";
    if (!resources->aete.empty())
        manifest += std::string("data ") + KvPlugin::kAeteType + " " + id + " " + library + ".aete\n";
    const bool written = WriteFile(folder / (library + ".pipl"), AsText(resources->pipl)) &&
                         WriteFile(folder / (library + ".aete"), AsText(resources->aete)) &&
                         WriteFile(folder / (library + ".kvrc"), manifest);
    return written ? 0 : 1;
}
