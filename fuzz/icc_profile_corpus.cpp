// Writes the corpus of the colour-profile fuzz target: the test profiles made with lcms2 and a few
// hand-made matrix/curve profiles. Usage: icc_profile_corpus <folder>.
#include "testing/IccBytesWriter.h"
#include "testing/IccTestProfiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    kvtest::TempFolder folder;
    const std::pair<kvtest::IccTestProfile, const char*> made[] = {
        {kvtest::IccTestProfile::SRGB, "srgb.icc"},       {kvtest::IccTestProfile::WideGamut, "wide.icc"},
        {kvtest::IccTestProfile::Grey, "grey.icc"},       {kvtest::IccTestProfile::Lab, "lab.icc"},
    };
    for (const auto& [which, name] : made)
        std::filesystem::copy_file(kvtest::WriteIccTestProfile(folder, which, name), out / name,
                                   std::filesystem::copy_options::overwrite_existing);
    const std::pair<std::vector<std::uint8_t>, const char*> written[] = {
        {kvtest::IccBytesWriter().Bytes(), "matrix_shaper.icc"},
        {kvtest::IccBytesWriter().SampledCurve("gTRC", 4).Bytes(), "sampled_curve.icc"},
        {kvtest::IccBytesWriter().Tag("A2B0", std::vector<std::uint8_t>(32, 0)).Bytes(), "table_tag.icc"},
        {kvtest::IccBytesWriter(true).Bytes(), "header_only.icc"},
    };
    for (const auto& [bytes, name] : written)
        std::ofstream(out / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::printf("wrote the colour-profile corpus to %s\n", out.c_str());
    return 0;
}
