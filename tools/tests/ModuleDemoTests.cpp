// module-demo as the README runs it: the draft it names holds the three photos as JPEG attachments of at
// most 640 x 480, the page it names decodes with libpng at the preview's size with the photos in it, and
// the PDF it prints holds one A4 page per photo.
#include "platform/host/CHostPhotos.h"
#include "testing/MimeMessage.h"
#include "testing/PdfPages.h"
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
        const auto picture =
            CHostPhotos::Decode(std::vector<BYTE>(part.content.begin(), part.content.end()), nullptr);
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

TEST(ModuleDemo, PrintLeavesAPdfOfOneA4PagePerPhotoInTheSpool) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder out;
    const auto [code, pdf] = RunDemo("print", out.Path());
    ASSERT_EQ(code, 0);
    EXPECT_EQ(pdf, machine.File("spool/Korvel PDF/Pictures.pdf"));
    const kvtest::PdfInfo info = kvtest::ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 3);
    // A4 in points: 210 x 297 mm at 72 / 25.4.
    EXPECT_NEAR(info.width, 210 * 72 / 25.4, 1);
    EXPECT_NEAR(info.height, 297 * 72 / 25.4, 1);
    // The demo's photos: red, green (the portrait one), blue, each at the centre of its page.
    const std::array<std::array<int, 3>, 3> colours = {{{220, 40, 40}, {40, 180, 60}, {50, 60, 210}}};
    for (int page = 1; page <= 3; ++page) {
        const kvtest::PageRaster raster = kvtest::DrawPdfPage(pdf, page, 30, out.Path());
        ASSERT_GT(raster.width, 0) << "page " << page;
        const std::array<int, 3> centre = raster.At(raster.width / 2, raster.height / 2);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(centre[c], colours[page - 1][c], 24) << "page " << page << " channel " << c;
    }
}

} // namespace
