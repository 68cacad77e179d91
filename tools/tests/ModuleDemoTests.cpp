// module-demo as the README runs it: the draft it names holds the three photos as JPEG attachments of at
// most 640 x 480, the page it names decodes with libpng at the preview's size with the photos in it, and
// the PDF it prints holds one A4 page per photo.
#include "platform/host/CHostPhotos.h"
#include "platform/zizoraz/IproPngCodec.h"
#include "testing/CupsTestQueue.h"
#include "testing/MimeMessage.h"
#include "testing/PdfPages.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What a run of the program left: its exit code, the first line it printed and what it said on stderr.
struct DemoRun {
    int code = -1;
    std::string printed;
    std::string said;
};

// The arguments quoted for the shell.
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

DemoRun RunDemo(const std::string& command, const std::string& out, const std::vector<std::string>& photos) {
    std::error_code ec;
    fs::create_directories(out, ec);
    const std::string errors = out + "/stderr.txt";
    std::string line = Quoted(KV_MODULE_DEMO) + " " + command + " " + Quoted(out);
    for (const std::string& photo : photos)
        line += " " + Quoted(photo);
    line += " 2>" + Quoted(errors);
    DemoRun run;
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe)
        return run;
    char text[4096];
    if (fgets(text, sizeof text, pipe))
        run.printed = text;
    while (fgets(text, sizeof text, pipe)) {
    }
    const int status = pclose(pipe);
    if (!run.printed.empty() && run.printed.back() == '\n')
        run.printed.pop_back();
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream said(errors);
    std::stringstream all;
    all << said.rdbuf();
    run.said = all.str();
    return run;
}

std::pair<int, std::string> RunDemo(const std::string& command, const std::string& out) {
    const DemoRun run = RunDemo(command, out, {});
    return {run.code, run.printed};
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

// HOME pointed at a folder of the test's own while it lives, so that the print server's per-user options
// (its default printer among them) are the test's.
class HomeFolder {
public:
    explicit HomeFolder(const std::string& path) {
        if (const char* home = std::getenv("HOME"))
            m_previous = home;
        setenv("HOME", path.c_str(), 1);
    }
    ~HomeFolder() {
        if (m_previous)
            setenv("HOME", m_previous->c_str(), 1);
        else
            unsetenv("HOME");
    }
    HomeFolder(const HomeFolder&) = delete;
    HomeFolder& operator=(const HomeFolder&) = delete;

private:
    std::optional<std::string> m_previous;
};

// What lpstat, which is not ours, calls the user's default printer ("" for none).
std::string DefaultDestination() {
    FILE* pipe = popen("lpstat -d 2>/dev/null", "r");
    if (!pipe)
        return "";
    char text[512] = {};
    const bool read = fgets(text, sizeof text, pipe) != nullptr;
    pclose(pipe);
    const std::string line = read ? text : "";
    const std::string::size_type colon = line.find(": ");
    if (colon == std::string::npos)
        return "";
    std::string name = line.substr(colon + 2);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
        name.pop_back();
    return name;
}

TEST(ModuleDemo, PrintKeepsToTheVirtualPrinterWhenTheServerHasADefaultPrinter) {
    // The machine first: it shuts the print server out, and the queue lets the machine's own one back in.
    kvtest::TempSystemRoot machine;
    kvtest::CupsTestQueue queue;
    KV_REQUIRE_CUPS_QUEUE(queue);
    // The user's default is the queue that refuses every job: a demo that printed there would fail, and no
    // other test's job can be taken for the demo's.
    kvtest::TempFolder out, home;
    fs::create_directories(home.File(".cups"));
    std::ofstream(home.File(".cups/lpoptions")) << "Default " << queue.RefusingName() << "\n";
    const HomeFolder user(home.Path());
    ASSERT_EQ(DefaultDestination(), queue.RefusingName()) << "the refusing queue is the user's default printer";

    const DemoRun run = RunDemo("print", out.Path(), {});
    ASSERT_EQ(run.code, 0) << run.said;
    EXPECT_EQ(run.printed, machine.File("spool/Korvel PDF/Pictures.pdf"));
    EXPECT_EQ(kvtest::ReadPdfInfo(run.printed).pages, 3);
}

} // namespace

namespace {

// The user's photos as the tests write them: a landscape and a portrait JPEG of solid colours, of sizes
// that fit 640 x 480 exactly (640 x 400 and 320 x 480), a file that is no picture between them, and a PNG.
struct UserPhotos {
    explicit UserPhotos(const kvtest::TempFolder& folder)
        : harbour(folder.Write("harbour.jpg", CHostPhotos::SolidJpeg(1280, 800, kHarbour))),
          tower(folder.Write("tower at dusk.jpg", CHostPhotos::SolidJpeg(600, 900, kTower))),
          notes(folder.Write("notes.jpg", std::string("Shopping: bread, milk, film for the camera.\n"))) {}
    std::vector<std::string> All() const { return {harbour, notes, tower}; }

    static constexpr std::array<BYTE, 3> kHarbour{200, 60, 40};
    static constexpr std::array<BYTE, 3> kTower{40, 90, 200};
    std::string harbour, tower, notes;
};

// Within a JPEG's rounding of a solid colour.
void ExpectColour(const std::array<int, 3>& got, const std::array<BYTE, 3>& expected, int tolerance,
                  const std::string& what) {
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got[c], expected[c], tolerance) << what << " channel " << c;
}

TEST(ModuleDemo, PrintPrintsTheUsersPhotosInTheirOrderAndNamesTheFileThatIsNoPicture) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder photos, out;
    const UserPhotos user(photos);
    const DemoRun run = RunDemo("print", out.Path(), user.All());
    ASSERT_EQ(run.code, 0) << run.said;
    EXPECT_NE(run.said.find(user.notes), std::string::npos) << run.said;
    EXPECT_EQ(run.said.find(user.harbour), std::string::npos) << run.said;
    const kvtest::PdfInfo info = kvtest::ReadPdfInfo(run.printed);
    EXPECT_EQ(info.pages, 2) << "one page a photo, the file that is no picture left out";
    const std::array<std::array<BYTE, 3>, 2> colours{UserPhotos::kHarbour, UserPhotos::kTower};
    for (int page = 1; page <= 2; ++page) {
        const kvtest::PageRaster raster = kvtest::DrawPdfPage(run.printed, page, 30, out.Path());
        ASSERT_GT(raster.width, 0) << "page " << page;
        ExpectColour(raster.At(raster.width / 2, raster.height / 2), colours[page - 1], 24,
                     "page " + std::to_string(page));
    }
}

TEST(ModuleDemo, MailAttachesTheUsersPhotosUnderTheirNamesAndLeavesOutTheFileThatIsNoPicture) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder photos, out;
    const UserPhotos user(photos);
    const DemoRun run = RunDemo("mail", out.Path(), user.All());
    ASSERT_EQ(run.code, 0) << run.said;
    EXPECT_NE(run.said.find(user.notes), std::string::npos) << run.said;
    std::ifstream file(run.printed, std::ios::binary);
    ASSERT_TRUE(file) << run.printed;
    std::stringstream text;
    text << file.rdbuf();
    const kvtest::MimeMessage message = kvtest::ParseMime(text.str());
    ASSERT_TRUE(message.error.empty()) << message.error;
    const struct {
        const char* name;
        LONG width, height;
        std::array<BYTE, 3> colour;
    } expected[] = {{"harbour.jpg", 640, 400, UserPhotos::kHarbour},
                    {"tower at dusk.jpg", 320, 480, UserPhotos::kTower}};
    std::size_t jpegs = 0;
    for (const kvtest::MimePart& part : message.parts) {
        if (part.headers.MainValue("Content-Type") != "image/jpeg")
            continue;
        ASSERT_LT(jpegs, std::size(expected));
        const auto& e = expected[jpegs];
        EXPECT_EQ(part.headers.Parameter("Content-Disposition", "filename"), std::string(e.name));
        const auto picture =
            CHostPhotos::Decode(std::vector<BYTE>(part.content.begin(), part.content.end()), nullptr);
        ASSERT_TRUE(picture) << e.name;
        EXPECT_EQ(std::make_pair(picture->width, picture->height), std::make_pair(e.width, e.height))
            << e.name;
        ExpectColour({static_cast<int>(picture->Sample(picture->width / 2, picture->height / 2, 0)),
                      static_cast<int>(picture->Sample(picture->width / 2, picture->height / 2, 1)),
                      static_cast<int>(picture->Sample(picture->width / 2, picture->height / 2, 2))},
                     e.colour, 8, e.name);
        ++jpegs;
    }
    EXPECT_EQ(jpegs, 2u);
}

TEST(ModuleDemo, DesignShowsTheUsersPhotosInTheBoxesOfPageOneInTheirOrder) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder photos, out;
    const UserPhotos user(photos);
    // The portrait first, then a PNG of the landscape's colour.
    std::vector<BYTE> bytes;
    IproPixels pixels;
    ASSERT_TRUE(IproLimits::MakePixels(300, 200, pixels));
    std::fill(pixels.argb.begin(), pixels.argb.end(), 0xFF000000u | 200u << 16 | 60u << 8 | 40u);
    ASSERT_TRUE(IproPngCodec::Encode(pixels, bytes));
    const std::string png = photos.Write("harbour.png", bytes);
    const DemoRun run = RunDemo("design", out.Path(), {user.tower, png});
    ASSERT_EQ(run.code, 0) << run.said;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, run.printed.c_str())) << image.message;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
    const auto at = [&](unsigned x, unsigned y) {
        const png_byte* p = &rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    // The first box (30, 30 to 390, 190) shows the first photo, the second (30, 210 to 200, 350) the second.
    ExpectColour(at(210, 110), UserPhotos::kTower, 12, "the first box");
    ExpectColour(at(115, 280), UserPhotos::kHarbour, 12, "the second box");
}

// Beside page 1, the contact sheet as its pane shows it: the design's one page fitted into the first 100 x
// 100 cell (71 x 100 from (24, 10)), its first photo's red quadrant in the page's top box, and no second
// picture; and nothing said on stderr.
TEST(ModuleDemo, DesignWritesTheContactSheetOfItsPagesBesidePageOne) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder out;
    const DemoRun run = RunDemo("design", out.Path(), {});
    ASSERT_EQ(run.code, 0) << run.said;
    EXPECT_TRUE(run.said.empty()) << run.said;
    const std::string sheet = (fs::path(out.Path()) / "design-sheet.png").string();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, sheet.c_str())) << image.message;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
    ASSERT_EQ(image.width, 640u) << "the pane's width";
    const auto at = [&](unsigned x, unsigned y) {
        const png_byte* p = &rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    // The top box spans 150 .. 1950 across and 150 .. 950 down of the 2100 x 2970 page, shown a thirtieth
    // as large: its top left quadrant's middle is near (45, 22).
    ExpectColour(at(45, 22), {0xC8, 0, 0}, 12, "the first photo's red quadrant");
    EXPECT_EQ(at(60, 90), (std::array<int, 3>{255, 255, 255})) << "the page below its photos";
    EXPECT_EQ(at(170, 60), at(5, 60)) << "no second picture";
}

TEST(ModuleDemo, WithoutAPhotoThatCanBeUsedTheDemoSaysSoAndFails) {
    kvtest::TempSystemRoot machine;
    kvtest::TempFolder photos, out;
    const UserPhotos user(photos);
    const std::string missing = photos.Path() + "/not there.jpg";
    std::vector<BYTE> half = CHostPhotos::SolidJpeg(320, 240, UserPhotos::kTower);
    half.resize(half.size() / 2);
    const std::string cut = photos.Write("cut.jpg", half);
    for (const char* demo : {"mail", "print", "design"}) {
        const DemoRun run = RunDemo(demo, out.Path() + "/" + demo, {user.notes, missing, cut});
        EXPECT_NE(run.code, 0) << demo;
        EXPECT_TRUE(run.printed.empty()) << demo << ": " << run.printed;
        for (const std::string& file : {user.notes, missing, cut})
            EXPECT_NE(run.said.find(file), std::string::npos)
                << demo << " names " << file << ": " << run.said;
        EXPECT_NE(run.said.find("none of the 3 photos"), std::string::npos) << demo << ": " << run.said;
    }
}

} // namespace
