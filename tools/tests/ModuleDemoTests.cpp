// module-demo as the README runs it: the draft it names holds the three photos as JPEG attachments of at
// most 640 x 480, and the page it names decodes with libpng at the preview's size with the photos in it.
#include "platform/host/CHostPhotos.h"
#include "testing/MimeMessage.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <png.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// The program's exit code and what it printed on its first line.
std::pair<int, std::string> RunDemo(const std::string& command, const std::string& out) {
    const std::string line = "'" KV_MODULE_DEMO "' " + command + " '" + out + "'";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe)
        return {-1, {}};
    std::string printed;
    char text[4096];
    if (fgets(text, sizeof text, pipe))
        printed = text;
    while (fgets(text, sizeof text, pipe)) {
    }
    const int status = pclose(pipe);
    if (!printed.empty() && printed.back() == '\n')
        printed.pop_back();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, printed};
}

TEST(ModuleDemo, MailLeavesADraftOfThreePicturesInTheMachinesOutbox) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder out;
    const auto [code, draft] = RunDemo("mail", out.Path());
    ASSERT_EQ(code, 0);
    EXPECT_EQ(fs::path(draft).parent_path(), fs::path(machine.File("Outbox"))) << draft;
    std::ifstream file(draft, std::ios::binary);
    ASSERT_TRUE(file) << draft;
    std::stringstream text;
    text << file.rdbuf();
    const kvtest::MimeMessage message = kvtest::ParseMime(text.str());
    ASSERT_TRUE(message.error.empty()) << message.error;
    // The photos are 1600 x 1200, 1200 x 1600 and 2000 x 1500, fitted into 640 x 480.
    const std::array<std::pair<LONG, LONG>, 3> sizes = {{{640, 480}, {360, 480}, {640, 480}}};
    std::size_t jpegs = 0;
    for (const kvtest::MimePart& part : message.parts) {
        if (part.headers.MainValue("Content-Type") != "image/jpeg")
            continue;
        ASSERT_LT(jpegs, sizes.size());
        const auto picture = CHostPhotos::Decode(std::vector<BYTE>(part.content.begin(), part.content.end()),
                                                 nullptr);
        ASSERT_TRUE(picture) << "attachment " << jpegs;
        EXPECT_EQ(std::make_pair(picture->width, picture->height), sizes[jpegs]) << "attachment " << jpegs;
        ++jpegs;
    }
    EXPECT_EQ(jpegs, 3u);
}

TEST(ModuleDemo, DesignWritesPageOneAsAPngOfThePreviewsSize) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder out;
    const auto [code, path] = RunDemo("design", out.Path());
    ASSERT_EQ(code, 0);
    EXPECT_EQ(path, (fs::path(out.Path()) / "design-page-1.png").string());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
    // A fifth of the A4 template's page, 2100 x 2970.
    ASSERT_EQ(image.width, 420u);
    ASSERT_EQ(image.height, 594u);
    const auto at = [&](unsigned x, unsigned y) {
        const png_byte* p = &rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    // The margin stays white; the first box (30,30 to 390,190) shows its photo's top left red quadrant.
    EXPECT_EQ(at(10, 10), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(at(120, 70), (std::array<int, 3>{0xC8, 0, 0}));
}

} // namespace
