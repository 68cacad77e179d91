#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CKvRawDecoderProcess.h"
#include "platform/quasel/CPravonCameraRawLoad.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/DngWriter.h"
#include "testing/LoadedFile.h"
#include "testing/MemoryFileStream.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <lcms2.h>

#include <cmath>
#include <cstring>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace kvtest;

constexpr std::uint32_t kWidth = 64, kHeight = 48;
constexpr std::uint32_t kBlack = 512, kWhite = 16383; // a 14-bit sensor with a black level

// A sensor sample of the 12-bit level v, as a camera with the test's black and white levels records it.
std::uint16_t Sensor(int v) {
    return static_cast<std::uint16_t>(std::lround(kBlack + v * double(kWhite - kBlack) / 4095.0));
}

DngContent Mosaic(const std::string& pattern) {
    DngContent content;
    content.width = kWidth;
    content.height = kHeight;
    content.pattern = pattern;
    content.black = kBlack;
    content.white = kWhite;
    content.calibrations.push_back({21, {1, 0, 0, 0, 1, 0, 0, 0, 1}});
    content.asShotNeutral = {0.5, 1, 0.625};
    content.iso = 400;
    content.exposureTime = 0.008;
    content.fNumber = 5.6;
    for (std::uint32_t y = 0; y < kHeight; ++y)
        for (std::uint32_t x = 0; x < kWidth; ++x)
            content.samples.push_back(Sensor(static_cast<int>((x * 61 + y * 17) % 4096)));
    return content;
}

// A file of `channels` samples a pixel (1: a mosaic), every sensor level from black to white in turn by
// steps of `stride`.
DngContent Sweep(const std::string& pattern, std::uint32_t channels, std::uint32_t width, std::uint32_t height,
                 std::size_t stride) {
    DngContent content = Mosaic(pattern);
    content.channels = channels;
    content.width = width;
    content.height = height;
    content.samples.clear();
    const std::size_t count = std::size_t{width} * height * channels;
    for (std::size_t i = 0; i < count; ++i)
        content.samples.push_back(static_cast<std::uint16_t>(kBlack + (i * stride) % (kWhite - kBlack + 1)));
    return content;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(dir))
            count += e->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

TEST(CameraRawLoad, GivesTheMosaicPatternBalanceAndExposureOfADng) {
    TempFolder folder;
    for (const std::string pattern : {"RGGB", "BGGR", "GRBG", "GBRG"}) {
        const DngContent content = Mosaic(pattern);
        const LoadedFile loaded(folder.Write(pattern + ".dng", WriteDng(content).bytes));
        ASSERT_FALSE(loaded.error) << loaded.error->Describe();
        LONG w = 0, h = 0, code = 0;
        ASSERT_PV_OK(loaded.image->GetSize(&w, &h));
        ASSERT_PV_OK(loaded.image->GetColorSpace(&code));
        EXPECT_EQ(w, LONG(kWidth));
        EXPECT_EQ(h, LONG(kHeight));
        EXPECT_EQ(code, 0x10020401);
        TestPlane plane;
        ASSERT_PV_OK(PullAll(loaded.image.get(), &plane));
        int worst = 0;
        for (std::uint32_t y = 0; y < kHeight; ++y)
            for (std::uint32_t x = 0; x < kWidth; ++x)
                worst = std::max(
                    worst, std::abs(int(plane.Sample(LONG(x), LONG(y), 0)) - int((x * 61 + y * 17) % 4096)));
        EXPECT_LE(worst, 1) << pattern << ": black removed and scaled to 12 bits";

        BYTE cfa[8];
        ASSERT_PV_OK(loaded.tags->ReadTag(0xA302, 1, 8, cfa));
        const BYTE header[4] = {0, 2, 0, 2};
        EXPECT_EQ(std::memcmp(cfa, header, 4), 0);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(cfa[4 + i], pattern[i] == 'R' ? 0 : pattern[i] == 'G' ? 1 : 2) << pattern;
        BYTE info[32];
        ASSERT_PV_OK(loaded.tags->ReadTag(0x8000C, 4, 32, info));
        double red = 0, blue = 0, exposure = 0, fNumber = 0;
        std::memcpy(&red, info, 8);
        std::memcpy(&blue, info + 8, 8);
        EXPECT_NEAR(red, 1 / 0.5, 1e-4) << "the gain that balances the as-shot neutral";
        EXPECT_NEAR(blue, 1 / 0.625, 1e-4);
        ASSERT_PV_OK(loaded.tags->ReadTag(0x829A, 12, 8, &exposure));
        ASSERT_PV_OK(loaded.tags->ReadTag(0x829D, 12, 8, &fNumber));
        EXPECT_NEAR(exposure, 0.008, 1e-6);
        EXPECT_NEAR(fNumber, 5.6, 1e-6);
        WORD sensitivity[2] = {1, 0};
        ASSERT_PV_OK(loaded.tags->ReadTag(0x80002, 3, sizeof sensitivity, sensitivity));
        EXPECT_EQ(sensitivity[0], 0);
        EXPECT_EQ(sensitivity[1], 400);
        WORD model = 1;
        ASSERT_PV_OK(loaded.tags->GetCameraModel(&model));
        EXPECT_EQ(model, CPravonCameraRawLoad::kOtherCameraModel);
        EXPECT_FALSE(loaded.tags->TagExists(0x10005)) << "an upright file needs no turn";
    }
}

TEST(CameraRawLoad, GivesTheLinearSamplesOfAFileWithoutAMosaic) {
    TempFolder folder;
    DngContent content = Mosaic("RGGB");
    content.channels = 3;
    content.samples.clear();
    for (std::uint32_t i = 0; i < kWidth * kHeight * 3; ++i)
        content.samples.push_back(static_cast<std::uint16_t>(kBlack + (i * 97) % (kWhite - kBlack + 1)));
    const LoadedFile loaded(folder.Write("linear.dng", WriteDng(content).bytes));
    ASSERT_FALSE(loaded.error) << loaded.error->Describe();
    LONG code = 0;
    ASSERT_PV_OK(loaded.image->GetColorSpace(&code));
    EXPECT_EQ(code, 0x10060201);
    EXPECT_FALSE(loaded.tags->TagExists(0xA302));
    TestPlane plane;
    ASSERT_PV_OK(PullAll(loaded.image.get(), &plane));
    int worst = 0;
    for (std::uint32_t i = 0; i < kWidth * kHeight * 3; ++i) {
        const double expected = (content.samples[i] - kBlack) * 65535.0 / (kWhite - kBlack);
        const LONG x = LONG(i / 3 % kWidth), y = LONG(i / 3 / kWidth);
        worst = std::max(worst, int(std::lround(std::fabs(plane.Sample(x, y, int(i % 3)) - expected))));
    }
    EXPECT_LE(worst, 1);
}

// The decoder hands its samples over a piece of rows at a time: pictures of many pieces, their last one
// short, come whole and in place, mosaic and linear, every sample as the file holds it.
TEST(CameraRawLoad, APictureOfManyPiecesOfSamplesComesWholeAndInPlace) {
    TempFolder folder;
    struct Case {
        std::uint32_t channels, width, height;
    };
    // A piece is a mebibyte: about 2.2 and 3.1 of them, and one row short of one.
    const Case cases[] = {{1, 1100, 1000}, {3, 700, 801}, {1, 2048, 255}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, " << c.width << " x " << c.height);
        const DngContent content = Sweep("GRBG", c.channels, c.width, c.height, 7919);
        const std::size_t count = content.samples.size();
        const LoadedFile loaded(folder.Write("pieces.dng", WriteDng(content).bytes));
        ASSERT_FALSE(loaded.error) << loaded.error->Describe();
        TestPlane plane;
        ASSERT_PV_OK(PullAll(loaded.image.get(), &plane));
        // Black removed, white scaled to 12 bits (a mosaic) or 16 bits (linear samples).
        const double top = c.channels == 1 ? 4095.0 : 65535.0;
        int worst = 0;
        std::size_t firstWrong = count;
        for (std::size_t i = 0; i < count; ++i) {
            const double expected = (content.samples[i] - kBlack) * top / (kWhite - kBlack);
            const LONG x = LONG(i / c.channels % c.width), y = LONG(i / c.channels / c.width);
            const int off = int(std::lround(std::fabs(plane.Sample(x, y, int(i % c.channels)) - expected)));
            worst = std::max(worst, off);
            if (off > 1 && firstWrong == count)
                firstWrong = i;
        }
        EXPECT_LE(worst, 1) << "first wrong sample " << firstWrong;
    }
}

// EXIF orientation code, then the source tags' turn (counter-clockwise) and mirror: the orientation codes'
// own table, which the development turns back to stand the picture upright.
struct OrientationCase {
    std::uint16_t code;
    double angle;
    LONG flip;
};

TEST(CameraRawLoad, TheFilesOrientationBecomesTheTurnThatStandsItUpright) {
    const OrientationCase cases[] = {{2, 0, 1},   {3, 180, 0}, {4, 180, 1}, {5, 270, 1},
                                     {6, 270, 0}, {7, 90, 1},  {8, 90, 0}};
    TempFolder folder;
    for (const OrientationCase& c : cases) {
        DngContent content = Mosaic("RGGB");
        content.orientation = c.code;
        const LoadedFile loaded(folder.Write("turned.dng", WriteDng(content).bytes));
        ASSERT_FALSE(loaded.error) << loaded.error->Describe();
        double angle = -1;
        LONG flip = -1;
        ASSERT_PV_OK(loaded.tags->ReadTag(0x10005, 12, sizeof angle, &angle));
        ASSERT_PV_OK(loaded.tags->ReadTag(0x10004, 4, sizeof flip, &flip));
        EXPECT_EQ(angle, c.angle) << "code " << c.code;
        EXPECT_EQ(flip, c.flip) << "code " << c.code;
    }
}

TEST(CameraRawLoad, AFileCutShortInItsImageDataIsRefusedAsDamaged) {
    TempFolder folder;
    const DngFile file = WriteDng(Mosaic("RGGB"));
    const std::size_t data = file.bytes.size() - file.imageDataOffset;
    for (const std::size_t keep :
         {file.imageDataOffset + 1, file.imageDataOffset + data / 2, file.bytes.size() - 200}) {
        const std::string path = folder.Write(
            "cut.dng", std::vector<std::uint8_t>(file.bytes.begin(), file.bytes.begin() + long(keep)));
        const LoadedFile loaded(path);
        ASSERT_TRUE(loaded.error) << "kept " << keep << " of " << file.bytes.size();
        EXPECT_EQ(loaded.error->GetKind(), PravonKind::kMissingInput);
        EXPECT_NE(loaded.error->Describe().find("the file ends before its image data does"),
                  std::string::npos)
            << loaded.error->Describe();
        EXPECT_FALSE(loaded.image);
    }
}

TEST(CameraRawLoad, ABigFileCutShortInItsImageDataIsRefusedAsDamaged) {
    TempFolder folder;
    DngContent content = Mosaic("RGGB");
    content.width = 1600;
    content.height = 1500;
    content.samples.assign(std::size_t{content.width} * content.height, Sensor(1000));
    const DngFile file = WriteDng(content);
    ASSERT_GT(file.bytes.size(), std::size_t{4} << 20) << "big enough to be read by name";
    for (const std::size_t keep : {file.bytes.size() - 200, file.bytes.size() - 5000, std::size_t{4} << 20}) {
        const std::string path = folder.Write(
            "cut.dng", std::vector<std::uint8_t>(file.bytes.begin(), file.bytes.begin() + long(keep)));
        const LoadedFile loaded(path);
        ASSERT_TRUE(loaded.error) << "kept " << keep << " of " << file.bytes.size();
        EXPECT_NE(loaded.error->Describe().find("the file ends before its image data does"),
                  std::string::npos)
            << loaded.error->Describe();
    }
}

// A 700-byte DNG, mutated from the fuzz corpus, on which LibRaw reads a wild pointer while it parses the
// file's directories: the decoder dies of it, the loader refuses the file and this process goes on.
TEST(CameraRawLoad, AFileThatCrashesLibRawIsARefusedFile) {
    for (int again = 0; again < 2; ++again) {
        const LoadedFile loaded(KV_CAMERA_RAW_CORPUS "/libraw-crash.dng");
        ASSERT_TRUE(loaded.error);
        EXPECT_EQ(loaded.error->GetKind(), PravonKind::kMissingInput);
        EXPECT_NE(loaded.error->Describe().find("the decoder stopped on damaged data"), std::string::npos)
            << loaded.error->Describe();
        EXPECT_FALSE(loaded.tags);
    }
}

// The decoder reads a file on disk by itself and any other stream through a shared copy: both give the
// samples the test wrote, and reading a file leaves its stream where it was.
TEST(CameraRawLoad, AFileOnDiskAndTheSameBytesInMemoryDecodeAlike) {
    TempFolder folder;
    struct Case {
        const char* name;
        std::uint32_t channels, width, height;
    };
    // The decoder copies a small file whole and reads a big one (a few mebibytes on) by name.
    const Case cases[] = {{"mosaic", 1, 301, 203}, {"linear", 3, 64, 47}, {"big mosaic", 1, 1600, 1403}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DngContent content = Sweep("GBRG", c.channels, c.width, c.height, 4099);
        const std::size_t count = content.samples.size();
        const std::vector<std::uint8_t> bytes = WriteDng(content).bytes;
        const std::string path = folder.Write(std::string(c.name) + ".dng", bytes);

        IPravonFileStream* raw = nullptr;
        ASSERT_PV_OK(IPravonFileStream::CreateFileStream(&raw));
        PravonFileStreamPtr onDisk(raw);
        ASSERT_PV_OK(onDisk->Open(PravonFile{path}, IPravonFileStream::kRead));
        const ULONGLONG from = 17;
        ASSERT_PV_OK(onDisk->Seek(from));
        // No file the decoder could read by itself: the loader shares a copy.
        MemoryFileStream inMemory(std::vector<BYTE>(bytes.begin(), bytes.end()));
        std::unique_ptr<CKvRawDecodedFile> decoded[2];
        ASSERT_PV_OK(CKvRawDecoderProcess::Decode(onDisk.get(), bytes.size(), &decoded[0]));
        ASSERT_PV_OK(CKvRawDecoderProcess::Decode(&inMemory, bytes.size(), &decoded[1]));
        ULONGLONG position = 0;
        ASSERT_PV_OK(onDisk->GetPosition(&position));
        EXPECT_EQ(position, from) << "the decoder reads the file through an opening of its own";

        const double top = c.channels == 1 ? 4095.0 : 65535.0;
        std::vector<WORD> samples[2];
        for (int k = 0; k < 2; ++k) {
            const CKvRawDecodedFile& file = *decoded[k];
            ASSERT_EQ(file.GetAnswer().width, c.width);
            ASSERT_EQ(file.GetAnswer().height, c.height);
            ASSERT_EQ(file.GetAnswer().channels, c.channels);
            ASSERT_EQ(file.GetSampleCount(), count);
            samples[k].resize(count);
            ASSERT_TRUE(file.ReadSamples(0, count, samples[k].data()));
            int worst = 0;
            for (std::size_t i = 0; i < count; ++i) {
                const double expected = (content.samples[i] - kBlack) * top / (kWhite - kBlack);
                worst = std::max(worst, int(std::lround(std::fabs(samples[k][i] - expected))));
            }
            EXPECT_LE(worst, 1) << "black removed, white scaled";
            // Reads that reach past the last sample take nothing.
            WORD spare[2] = {7, 7};
            EXPECT_FALSE(file.ReadSamples(count - 1, 2, spare));
            EXPECT_FALSE(file.ReadSamples(count + 1, 0, spare));
            EXPECT_TRUE(file.ReadSamples(count - 1, 1, spare));
            EXPECT_EQ(spare[0], samples[k][count - 1]);
        }
        EXPECT_EQ(samples[0], samples[1]);
    }
}

// A decoder program that misbehaves, and the cause the refusal must name.
struct Misbehaviour {
    const char* mode;
    const char* cause;
};

class MisbehavingDecoder : public ::testing::Test {
protected:
    void TearDown() override { CKvRawDecoderProcess::Configure({}); }

    // Opens a small good DNG through the decoder program of `mode`.
    PravonErrorPtr OpenWith(const std::string& mode, CPravonTagControl* tags, LONG* width = nullptr) {
        const std::string program = m_folder.File(mode);
        if (mode != "missing") {
            EXPECT_EQ(symlink(KV_FAKE_DECODER, program.c_str()), 0);
        }
        CKvRawDecoderProcess::Configure({program, 0.5});
        const std::string path = m_folder.Write(mode + ".dng", WriteDng(Mosaic("RGGB")).bytes);
        IPravonFileStream* raw = nullptr;
        EXPECT_PV_OK(IPravonFileStream::CreateFileStream(&raw));
        PravonFileStreamPtr stream(raw);
        EXPECT_PV_OK(stream->Open(PravonFile{path}, IPravonFileStream::kRead));
        PravonLoadPtr load(new CPravonCameraRawLoad());
        PravonErrorPtr error(load->Open(stream.get(), tags));
        if (width)
            *width = static_cast<CPravonCameraRawLoad*>(load.get())->GetWidth();
        return error;
    }

    TempFolder m_folder;
};

TEST_F(MisbehavingDecoder, IsRefusedWithItsCauseAndLeavesNothingBehind) {
    const Misbehaviour cases[] = {
        {"crash", "the decoder stopped on damaged data (signal 11)"},
        {"hang", "the decoder took longer than 0.5 s"},
        {"silent", "the decoder ended without an answer"},
        {"exit3", "the decoder failed (exit 3)"},
        {"garbage", "the decoder's answer is not one this loader reads"},
        {"short", "the decoder's answer is too short"},
        {"overclaim", "the decoder's answer does not hold the samples it announces"},
        {"hot", "the decoder's answer holds samples above their white level"},
        {"huge", "the decoder's answer has an impossible size"},
        {"missing", "could not be started"},
    };
    const int descriptors = OpenDescriptors();
    for (const Misbehaviour& c : cases) {
        CPravonTagControl* tags = new CPravonTagControl();
        const PravonErrorPtr error = OpenWith(c.mode, tags);
        ASSERT_TRUE(error) << c.mode;
        EXPECT_EQ(error->GetKind(), PravonKind::kMissingInput) << c.mode;
        EXPECT_NE(error->Describe().find(c.cause), std::string::npos) << c.mode << ": " << error->Describe();
        EXPECT_EQ(tags->GetTagCount(), 0u) << c.mode;
        tags->Release();
        EXPECT_EQ(OpenDescriptors(), descriptors) << c.mode << " left a descriptor open";
        int status = 0;
        EXPECT_LE(waitpid(-1, &status, WNOHANG), 0) << c.mode << " left a child to reap";
    }
}

TEST_F(MisbehavingDecoder, FindsNoDescriptorButItsOwnThree) {
    CPravonTagControl* tags = new CPravonTagControl();
    LONG width = 0;
    const PravonErrorPtr error = OpenWith("descriptors", tags, &width);
    tags->Release();
    ASSERT_FALSE(error) << error->Describe();
    EXPECT_EQ(width, 6) << "standard input, output and error, the file, the answer and the pipe";
}

// ---- The file's own colour, checked through lcms2 against colorimetry worked out here ----

using Matrix = std::array<double, 9>;
using Vec = std::array<double, 3>;

Vec Apply(const Matrix& m, const Vec& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

Matrix Inverse(const Matrix& m) {
    const double d = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                     m[2] * (m[3] * m[7] - m[4] * m[6]);
    return {
        (m[4] * m[8] - m[5] * m[7]) / d, (m[2] * m[7] - m[1] * m[8]) / d, (m[1] * m[5] - m[2] * m[4]) / d,
        (m[5] * m[6] - m[3] * m[8]) / d, (m[0] * m[8] - m[2] * m[6]) / d, (m[2] * m[3] - m[0] * m[5]) / d,
        (m[3] * m[7] - m[4] * m[6]) / d, (m[1] * m[6] - m[0] * m[7]) / d, (m[0] * m[4] - m[1] * m[3]) / d};
}

// Bradford's adaptation from D65 to D50, as published.
constexpr Matrix kD65ToD50{1.0478112,  0.0228866,  -0.0501270, 0.0295424, 0.9904844,
                           -0.0170491, -0.0092345, 0.0150436,  0.7521316};
constexpr Vec kD65{0.95047, 1.0, 1.08883};
// A camera of the test's own: XYZ (D65-lit scene) to its raw channels.
constexpr Matrix kCamera{0.70, 0.25, -0.10, -0.30, 1.20, 0.05, 0.02, -0.15, 0.95};

double SrgbEncode(double v) {
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

// The XYZ (D50) the loaded file's profile gives for a scene colour of XYZ (D65), sampled as the
// development samples it: balanced by the loader's gains and sRGB-encoded.
Vec ThroughProfile(CPravonTagControl* tags, const Vec& sceneXyz, const Vec& neutral) {
    std::vector<BYTE> icc(tags->GetTagSize(CPravonCameraRawLoad::kCameraColorProfileTag));
    EXPECT_PV_OK(
        tags->ReadTag(CPravonCameraRawLoad::kCameraColorProfileTag, 1, ULONG(icc.size()), icc.data()));
    cmsHPROFILE profile = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE xyz = cmsCreateXYZProfile();
    cmsHTRANSFORM t =
        cmsCreateTransform(profile, TYPE_RGB_DBL, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    EXPECT_NE(t, nullptr);
    const Vec raw = Apply(kCamera, sceneXyz);
    const double rgb[3] = {SrgbEncode(raw[0] / neutral[0]), SrgbEncode(raw[1] / neutral[1]),
                           SrgbEncode(raw[2] / neutral[2])};
    cmsCIEXYZ out{};
    cmsDoTransform(t, rgb, &out, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(xyz);
    cmsCloseProfile(profile);
    return {out.X, out.Y, out.Z};
}

TEST(CameraRawLoad, TheFilesProfileTakesItsCameraValuesToTheSceneColours) {
    const Vec neutral = Apply(kCamera, kD65);
    const Vec unitNeutral{neutral[0] / neutral[1], 1, neutral[2] / neutral[1]};
    // The forward matrix of the same camera: balanced values to XYZ (D50), the balanced white to D50.
    Matrix forward{};
    {
        const Matrix toXyz = Inverse(kCamera);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int k = 0; k < 3; ++k)
                    v += kD65ToD50[3 * r + k] * toXyz[3 * k + c];
                forward[3 * r + c] = v * unitNeutral[c];
            }
    }
    // An illuminant-A matrix that, weighted in, would turn every colour: only D65 may count here.
    const Matrix tungsten{0.90, 0.10, -0.20, -0.20, 1.10, 0.10, 0.10, -0.30, 1.40};
    // A colour matrix that is wrong on purpose: a forward matrix, when given, decides.
    const Matrix skewed{0.80, 0.20, -0.10, -0.20, 1.10, 0.05, 0.10, -0.20, 0.90};
    struct Case {
        const char* what;
        std::vector<DngCalibration> calibrations;
    } const cases[] = {
        {"one D65 colour matrix", {{21, kCamera}}},
        {"illuminant A and D65, a daylight neutral", {{17, tungsten}, {21, kCamera}}},
        {"a forward matrix beside a colour matrix", {{21, skewed, true, forward}}},
    };
    const Vec colours[] = {{0.4124, 0.2126, 0.0193}, {0.3576, 0.7152, 0.1192}, {0.1805, 0.0722, 0.9505},
                           {0.20, 0.18, 0.10},       {0.30, 0.35, 0.40},       {0.475, 0.5, 0.544}};
    TempFolder folder;
    for (const Case& c : cases) {
        DngContent content = Mosaic("RGGB");
        content.calibrations = c.calibrations;
        content.asShotNeutral = unitNeutral;
        const LoadedFile loaded(folder.Write("colour.dng", WriteDng(content).bytes));
        ASSERT_FALSE(loaded.error) << loaded.error->Describe();
        auto* tags = static_cast<CPravonTagControl*>(loaded.tags.get());
        for (const Vec& colour : colours) {
            // Exposed so that the white's green is the sensor's white level: the profile gives that white
            // the luminance 1, and every colour in proportion.
            const Vec scene{colour[0] / neutral[1], colour[1] / neutral[1], colour[2] / neutral[1]};
            const Vec expected = Apply(kD65ToD50, colour);
            const Vec got = ThroughProfile(tags, scene, unitNeutral);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(got[i], expected[i], 0.004) << c.what << ", component " << i;
        }
    }
}

} // namespace
