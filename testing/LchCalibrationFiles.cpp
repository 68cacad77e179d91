#include "LchCalibrationFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace kvtest {

std::vector<std::uint8_t> LchCalibrationBytes(const std::vector<KvHuePoint>& points, double level, int tail) {
    std::vector<std::uint8_t> bytes{1, 0, static_cast<std::uint8_t>(points.size()),
                                    static_cast<std::uint8_t>(points.size() >> 8)};
    const auto put = [&](double v) {
        std::uint8_t b[8];
        std::memcpy(b, &v, sizeof b); // this target is little-endian, as the file is
        bytes.insert(bytes.end(), b, b + 8);
    };
    for (const KvHuePoint& p : points) {
        put(p.x);
        put(p.y);
        put(p.z);
    }
    put(level);
    bytes.insert(bytes.end(), static_cast<std::size_t>(tail), 0x5A);
    return bytes;
}

std::string ProfileFolder(const TempSystemRoot& machine) {
    const std::string folder = machine.Path() + "/Common Files/Korvel/Profiles/";
    std::filesystem::create_directories(folder);
    return folder;
}

void WriteProfileFile(const TempSystemRoot& machine, const std::string& name,
                      const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(ProfileFolder(machine) + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out) << "cannot write " << name;
}

} // namespace kvtest
