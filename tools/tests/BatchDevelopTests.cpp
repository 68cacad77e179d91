// The batch: several pictures developed at once, one filter chain per worker thread, each picture as it
// develops alone; a file that fails is named and the others go on; a worker's chain takes its next
// picture's tile memory from the last one's.
#include "tools/CKvBatchDevelop.h"
#include "tools/CKvSampleMaker.h"

#include "testing/DngWriter.h"
#include "testing/PravonTestSupport.h"
#include "testing/ProfileMachine.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <png.h>
#include <random>
#include <utility>
#include <vector>

namespace {

std::string MakeSample(const kvtest::TempFolder& folder, const std::string& name, LONG width, LONG height,
                       const char* pattern) {
    CKvSampleMaker::Options options;
    options.width = width;
    options.height = height;
    options.pattern = pattern;
    options.samplePath = folder.File(name);
    PravonErrorPtr err(CKvSampleMaker::Make(options));
    EXPECT_FALSE(err) << err->Describe();
    return options.samplePath;
}

// The 8-bit RGB pixels of a PNG file; empty when it cannot be read.
std::vector<BYTE> ReadPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<BYTE> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    return pixels;
}

// The picture as one development alone gives it.
std::vector<BYTE> Alone(const std::string& path) {
    CKvChainDevelop chain;
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    EXPECT_PV_OK(chain.Open(path));
    EXPECT_PV_OK(chain.Develop(&rgb, &width, &height, nullptr));
    return rgb;
}

TEST(BatchDevelop, EveryPictureDevelopsAsAloneAndAFileThatFailsIsNamed) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::vector<std::string> samples = {MakeSample(folder, "a.kvraw", 140, 100, "RGGB"),
                                              MakeSample(folder, "b.kvraw", 96, 160, "GBRG"),
                                              MakeSample(folder, "c.kvraw", 200, 72, "BGGR")};
    // A file cut short: refused by its loader, named in its outcome.
    std::ifstream in(samples[0], std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string damaged = folder.Write("damaged.kvraw", whole.substr(0, whole.size() / 3));
    std::vector<std::vector<BYTE>> alone;
    for (const std::string& sample : samples)
        alone.push_back(Alone(sample));

    for (const unsigned workers : {1u, 3u, 8u}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        std::vector<CKvBatchDevelop::Job> jobs;
        for (const std::string& input : {samples[0], damaged, samples[1], samples[2]})
            jobs.push_back({input, input + "-" + std::to_string(workers) + ".png"});
        std::vector<std::size_t> heard;
        const std::vector<CKvBatchDevelop::Outcome> outcomes =
            CKvBatchDevelop::Run(jobs, workers, nullptr,
                                 [&](std::size_t done, std::size_t total, const CKvBatchDevelop::Outcome&) {
                                     EXPECT_EQ(total, jobs.size());
                                     heard.push_back(done);
                                 });
        EXPECT_EQ(heard, (std::vector<std::size_t>{1, 2, 3, 4}));
        ASSERT_EQ(outcomes.size(), jobs.size());
        EXPECT_EQ(outcomes[1].input, damaged);
        EXPECT_FALSE(outcomes[1].error.empty());
        EXPECT_FALSE(std::ifstream(jobs[1].output).good()) << "no picture of a file that failed";
        for (const std::size_t i : {std::size_t{0}, std::size_t{2}, std::size_t{3}}) {
            EXPECT_EQ(outcomes[i].error, "") << outcomes[i].input;
            EXPECT_EQ(ReadPng(jobs[i].output), alone[i == 0 ? 0 : i - 1]) << outcomes[i].input;
        }
    }
}

// A camera file of another maker, read through the decoder program: a 14-bit random mosaic of the size.
std::string MakeDng(const kvtest::TempFolder& folder, const std::string& name, std::uint32_t width,
                    std::uint32_t height, unsigned seed) {
    kvtest::DngContent content;
    content.width = width;
    content.height = height;
    content.white = 16383;
    content.calibrations.push_back({21, {0.70, 0.25, -0.10, -0.30, 1.20, 0.05, 0.02, -0.15, 0.95}});
    std::mt19937 rng(seed);
    for (std::uint32_t i = 0; i < width * height; ++i)
        content.samples.push_back(static_cast<std::uint16_t>(rng() % 16384));
    return folder.Write(name, kvtest::WriteDng(content).bytes);
}

// A worker keeps its band and tile memory from one camera file to the next, whatever their sizes, and
// after a file that failed: every picture is the one a development of its own gives.
TEST(BatchDevelop, CameraFilesOfEverySizeDevelopAsAloneAroundAFileThatFails) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    struct Size {
        std::uint32_t width, height;
    };
    // Bigger and smaller than the one before, narrower than a tile and several tiles wide and high.
    const Size sizes[] = {{180, 120}, {700, 530}, {96, 300}, {520, 140}, {700, 530}};
    std::vector<std::string> inputs;
    for (std::size_t i = 0; i < std::size(sizes); ++i)
        inputs.push_back(MakeDng(folder, "camera-" + std::to_string(i) + ".dng", sizes[i].width,
                                 sizes[i].height, static_cast<unsigned>(i + 1)));
    std::vector<std::vector<BYTE>> alone;
    for (const std::string& input : inputs)
        alone.push_back(Alone(input));
    // Cut inside its image data: the decoder answers that it is damaged.
    const std::vector<std::uint8_t> whole =
        kvtest::WriteDng([&] {
            kvtest::DngContent content;
            content.width = 400;
            content.height = 300;
            content.white = 16383;
            content.calibrations.push_back({21, {0.70, 0.25, -0.10, -0.30, 1.20, 0.05, 0.02, -0.15, 0.95}});
            content.samples.assign(std::size_t{400} * 300, 5000);
            return content;
        }())
            .bytes;
    const std::string damaged =
        folder.Write("damaged.dng", std::vector<std::uint8_t>(whole.begin(), whole.end() - whole.size() / 3));
    const std::size_t failing = 2;
    inputs.insert(inputs.begin() + failing, damaged);

    for (const unsigned workers : {1u, 2u}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        std::vector<CKvBatchDevelop::Job> jobs;
        for (const std::string& input : inputs)
            jobs.push_back({input, input + "-" + std::to_string(workers) + ".png"});
        const std::vector<CKvBatchDevelop::Outcome> outcomes =
            CKvBatchDevelop::Run(jobs, workers, nullptr, nullptr);
        ASSERT_EQ(outcomes.size(), jobs.size());
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            SCOPED_TRACE(jobs[i].input);
            EXPECT_EQ(outcomes[i].input, jobs[i].input);
            if (i == failing) {
                EXPECT_NE(outcomes[i].error.find("damaged"), std::string::npos) << outcomes[i].error;
                EXPECT_FALSE(std::ifstream(jobs[i].output).good()) << "no picture of a file that failed";
                continue;
            }
            EXPECT_EQ(outcomes[i].error, "");
            const std::vector<BYTE>& expected = alone[i < failing ? i : i - 1];
            ASSERT_FALSE(expected.empty());
            EXPECT_TRUE(ReadPng(jobs[i].output) == expected) << "pixels differ from a development alone";
        }
    }
}

// One chain develops one picture after another: the next takes the tile memory the last left behind, and
// gives the pixels a chain of its own gives.
TEST(BatchDevelop, AWorkersNextPictureTakesTheTileMemoryTheLastOneLeft) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    const std::string first = MakeSample(folder, "first.kvraw", 300, 200, "RGGB");
    const std::string second = MakeSample(folder, "second.kvraw", 300, 200, "GRBG");
    CKvChainDevelop chain;
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    ASSERT_PV_OK(chain.Open(first));
    ASSERT_PV_OK(chain.Develop(&rgb, &width, &height, nullptr));
    const std::size_t whileDeveloped = chain.GetKeptTileMemory();
    ASSERT_PV_OK(chain.Open(second));
    const std::size_t left = chain.GetKeptTileMemory();
    EXPECT_GT(left, whileDeveloped) << "the first picture's tiles were kept";
    ASSERT_PV_OK(chain.Develop(&rgb, &width, &height, nullptr));
    EXPECT_LT(chain.GetKeptTileMemory(), left) << "the second picture took them";
    EXPECT_EQ(rgb, Alone(second));
}

// Developed once, as the batch develops, the stages keep a few bands of tiles: a picture many tiles wide
// and high gives the pixels a chain keeping every tile gives, upright and turned, upright without making
// any tile twice, and leaves less tile memory behind.
TEST(BatchDevelop, ASinglePassGivesThePixelsOfAChainThatKeepsEveryTile) {
    kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    kvtest::TempFolder folder;
    // 11 x 6 tiles of 256 pixels: more than the few bands a single pass keeps.
    const std::string sample = MakeSample(folder, "wide.kvraw", 2700, 1400, "GRBG");
    const std::string next = MakeSample(folder, "next.kvraw", 100, 100, "GRBG");
    // Sharpened, a windowed stage follows the conversions: the stages before it keep the bands around
    // the one being made, so that again no tile is made twice.
    struct Road {
        LONG degrees;
        bool sharpened;
        bool sameTileCounts;
    };
    for (const Road road : {Road{0, false, true}, Road{0, true, true}, Road{90, false, false}}) {
        SCOPED_TRACE(testing::Message() << road.degrees << " degrees" << (road.sharpened ? ", sharpened" : ""));
        std::vector<BYTE> rgb[2];
        std::vector<std::pair<int, std::uint64_t>> counts[2];
        std::size_t left[2] = {};
        for (const bool once : {false, true}) {
            CKvChainDevelop chain;
            chain.SetSinglePass(once);
            LONG width = 0, height = 0;
            ASSERT_PV_OK(chain.Open(sample));
            ASSERT_PV_OK(chain.SetOutput(road.degrees, 1.0));
            if (road.sharpened)
                ASSERT_PV_OK(chain.SetSharpening(2.0, 1.0));
            ASSERT_PV_OK(chain.Develop(&rgb[once], &width, &height, nullptr));
            // The development trims a few edge pixels the demosaicing cannot make; turned, it stands.
            EXPECT_EQ(width > height, road.degrees == 0);
            EXPECT_GT(std::min(width, height), 1300);
            counts[once] = chain.StageCounts();
            ASSERT_PV_OK(chain.Open(next));
            left[once] = chain.GetKeptTileMemory();
        }
        ASSERT_FALSE(rgb[0].empty());
        EXPECT_TRUE(rgb[1] == rgb[0]) << "the single pass changed pixels";
        if (road.sameTileCounts) {
            EXPECT_EQ(counts[1], counts[0]);
        }
        EXPECT_LT(left[1], left[0]);
    }
}

} // namespace
