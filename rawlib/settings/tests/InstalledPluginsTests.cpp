// The table of installed filter plug-ins as a user meets it: libraries laid in the plug-ins folder of the
// machine's common files, read once, damaged ones left out with a trace; and a development by the demo host
// (a program of its own, which fills its table when it starts developing) whose stored settings hold a step
// of an installed plug-in.
#include "rawlib/filters/CPluginWin.h"
#include "rawlib/settings/CKvImageAttributes.h"
#include "rawlib/settings/CKvImageProcSet.h"
#include "rawlib/settings/KvPluginInfo.h"

#include "platform/plugins/testplugins/KvTestPluginProbe.h"
#include "platform/quasel/CKvRawSampleFile.h"
#include "platform/win/FourCC.h"
#include "testing/ProfileMachine.h"
#include "testing/RunProgram.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"
#include "testing/TraceCapture.h"
#include "tools/CKvSampleMaker.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr LONG kWidth = 96, kHeight = 64;

std::string PluginFolderOf(const std::string& machine) {
    return machine + "/Common Files/Korvel/Plug-ins";
}

void InstallPlugin(const std::string& folder, const std::string& library, const std::string& as = "") {
    fs::create_directories(folder);
    fs::copy_file(KvTestPlugins::PathOf(library), folder + "/" + (as.empty() ? library + ".so" : as),
                  fs::copy_options::overwrite_existing);
}

// An 8-bit RGB picture read with libpng; empty when it cannot be read.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

Picture ReadPng(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return picture;
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return picture;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb = std::move(rgb);
    return picture;
}

// The synthetic scene as a raw sample, with the settings record given in its settings tag (none: none).
void WriteSample(const std::string& path, const std::vector<BYTE>& settings) {
    BYTE cells[4];
    ASSERT_TRUE(CKvSampleScene::CellsFromName("RGGB", cells));
    const CKvSampleScene scene(kWidth, kHeight);
    const CKvSampleMaker::Options options;
    CKvRawSampleFile::Content content;
    content.width = kWidth;
    content.height = kHeight;
    content.samples =
        CKvSampleScene::Mosaic(scene.Render(), kWidth, kHeight, cells, options.redGain, options.blueGain);
    content.hasCameraModel = true;
    content.cameraModel = options.cameraModel;
    const auto bytes = [](const void* data, std::size_t size) {
        const auto* p = static_cast<const BYTE*>(data);
        return std::vector<BYTE>(p, p + size);
    };
    content.tags.push_back(
        {CKvSampleMaker::kCfaPatternTag, 1, {0, 2, 0, 2, cells[0], cells[1], cells[2], cells[3]}});
    BYTE cameraInfo[32] = {};
    std::memcpy(cameraInfo, &options.redGain, 8);
    std::memcpy(cameraInfo + 8, &options.blueGain, 8);
    content.tags.push_back({CKvSampleMaker::kCameraInfoTag, 4, bytes(cameraInfo, sizeof cameraInfo)});
    const WORD sensitivity[2] = {0, options.sensitivity};
    content.tags.push_back({CKvSampleMaker::kSensitivityTag, 3, bytes(sensitivity, sizeof sensitivity)});
    content.tags.push_back(
        {CKvSampleMaker::kColorModeTag, 9, bytes(&CKvSampleMaker::kSrgbColorMode, sizeof(LONG))});
    const LONG automatic[2] = {0, 0};
    content.tags.push_back({CKvSampleMaker::kWhiteBalanceTag, 9, bytes(automatic, sizeof automatic)});
    if (!settings.empty())
        content.tags.push_back({CKvSampleMaker::kSettingsTag, 1, settings});
    IPravonFileStream* raw = nullptr;
    ASSERT_EQ(IPravonFileStream::CreateFileStream(&raw), nullptr);
    PravonFileStreamPtr stream(raw);
    ASSERT_EQ(stream->Open(PravonFile{path}, IPravonFileStream::kWrite), nullptr);
    ASSERT_EQ(CKvRawSampleFile::Write(stream.get(), content), nullptr);
    ASSERT_EQ(stream->Close(), nullptr);
}

// Settings that hold one step: the plug-in at the path, attached as the settings of a picture attach it.
std::vector<BYTE> SettingsWithStep(const std::string& pluginPath) {
    CKvImageAttributes edited;
    CKvFilterPlugins step;
    EXPECT_TRUE(step.Attach(pluginPath.c_str(), CPluginWin::Create()));
    edited.filterPlugins.Append(step);
    CKvImageProcSet set;
    edited.GetStateTable(set);
    std::vector<BYTE> record(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(record.data(), static_cast<int>(record.size()));
    return record;
}

TEST(InstalledPlugins, AFoldersGoodLibrariesAreEnteredAndTheOthersLeftOutWithATrace) {
    kvtest::TempFolder folder;
    const std::string plugins = folder.File("Plug-ins");
    for (const char* library : {"KvInvert", "KvBlur", "KvNoEntry", "KvNoResources", "KvBadPipl", "KvBadAete"})
        InstallPlugin(plugins, library);
    InstallPlugin(plugins, "KvInvert", "UPPER.SO");
    std::ofstream(plugins + "/notes.so") << "not a library";
    std::ofstream(plugins + "/readme.txt") << "not a library either";
    fs::create_directory(plugins + "/folder.so");

    kvtest::TraceCapture trace;
    const std::vector<KvPluginInfo> table = KvInstalledPlugins::ReadFolder(plugins);
    const struct {
        const char* file;
        const char* name;
        const char* category;
        DWORD id;
    } expected[] = {{"KvBlur.so", "Box Blur", "Test Filters", static_cast<DWORD>(FourCC("KvBl"))},
                    {"KvInvert.so", "Invert", "Test Filters", static_cast<DWORD>(FourCC("KvIv"))},
                    {"UPPER.SO", "Invert", "Test Filters", static_cast<DWORD>(FourCC("KvIv"))}};
    ASSERT_EQ(table.size(), std::size(expected));
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_STREQ(table[i].path, (plugins + "/" + expected[i].file).c_str());
        EXPECT_STREQ(table[i].name, expected[i].name);
        EXPECT_STREQ(table[i].category, expected[i].category);
        EXPECT_EQ(table[i].scriptingId, expected[i].id);
    }
    for (const char* skipped :
         {"KvNoEntry.so", "KvNoResources.so", "KvBadPipl.so", "KvBadAete.so", "notes.so"})
        EXPECT_EQ(trace.Count(std::string(skipped) + " left out"), 1) << skipped;
    EXPECT_EQ(trace.Count("left out"), 5);
    EXPECT_TRUE(KvInstalledPlugins::ReadFolder(folder.File("no such folder")).empty());
}

TEST(InstalledPlugins, TheFolderLiesUnderTheMachinesCommonFiles) {
    kvtest::TempSystemRoot machine;
    EXPECT_EQ(KvInstalledPlugins::PluginFolder(), PluginFolderOf(machine.Path()));
}

TEST(InstalledPlugins, ADevelopmentAppliesTheStepOfAnInstalledPluginAndPassesOverAMissingOne) {
    kvtest::ProfileMachine machine{KV_MAKE_PROFILES};
    ASSERT_TRUE(machine.Installed());
    const std::string root = std::getenv("KV_SYSTEM_ROOT");
    kvtest::TempFolder work;
    const std::string plain = work.File("plain.kvraw"), stepped = work.File("stepped.kvraw");
    WriteSample(plain, {});
    WriteSample(stepped, SettingsWithStep(KvTestPlugins::PathOf("KvInvert")));

    const auto develop = [&](const std::string& sample, const std::string& png) {
        std::string output;
        EXPECT_EQ(kvtest::RunProgram({KV_DEMO_HOST, sample, png}, &output), 0) << output;
        return ReadPng(png);
    };
    // Not installed: the step comes back as a missing plug-in and the development is the plain one.
    const Picture reference = develop(plain, work.File("plain.png"));
    const Picture missing = develop(stepped, work.File("missing.png"));
    ASSERT_GT(reference.width, 0);
    EXPECT_EQ(missing.rgb, reference.rgb);

    // Installed under a name of its own: the stored step finds it by its scripting id and inverts the
    // picture.
    InstallPlugin(PluginFolderOf(root), "KvInvert", "Negative.so");
    InstallPlugin(PluginFolderOf(root), "KvBlur");
    const Picture inverted = develop(stepped, work.File("inverted.png"));
    ASSERT_EQ(inverted.rgb.size(), reference.rgb.size());
    int worst = 0;
    for (std::size_t i = 0; i < reference.rgb.size(); ++i)
        worst = std::max(worst, std::abs(255 - reference.rgb[i] - inverted.rgb[i]));
    EXPECT_LE(worst, 1) << "each sample is the plain development's negative";
}

} // namespace
