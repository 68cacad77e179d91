#include "testing/ProfileMachine.h"

#include "rawlib/pipeline/KvProfileDescription.h"

#include "testing/TempFolder.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

void PutU32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t v) {
    if (bytes.size() < at + 4)
        bytes.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// A header, a tag table of one entry (signature, offset 144) and a text record stating `count` bytes.
std::vector<unsigned char> Profile(const std::string& text, std::uint32_t count,
                                   const char* signature = "desc") {
    std::vector<unsigned char> bytes(128, 0);
    PutU32(bytes, 128, 1);
    bytes.insert(bytes.end(), signature, signature + 4);
    PutU32(bytes, 136, 144);
    PutU32(bytes, 140, static_cast<std::uint32_t>(12 + text.size()));
    bytes.insert(bytes.end(), {'d', 'e', 's', 'c', 0, 0, 0, 0});
    PutU32(bytes, 152, count);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::string Write(const kvtest::TempFolder& folder, const std::vector<unsigned char>& bytes) {
    const std::string path = folder.File("p.icc");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(ProfileDescription, GeneratedProfilesReadBackAsLcms2ReadsThem) {
    kvtest::ProfileMachine machine{KV_MAKE_PROFILES};
    for (const char* name : {"KVsRGB.icm", "KVAdobe.icm", "KVNTSC.icm", "KVGrayG22.icm", "KVLab.icm",
                             "KVLch2.icm", "KvCMYK.icm"}) {
        const std::string path = machine.Profile(name);
        cmsHPROFILE profile = cmsOpenProfileFromFile(path.c_str(), "r");
        ASSERT_NE(profile, nullptr) << name;
        char expected[256] = {};
        cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", expected, sizeof expected);
        cmsCloseProfile(profile);
        CKvString whole, cut;
        ASSERT_TRUE(ReadProfileDescription(path.c_str(), &whole, true)) << name;
        EXPECT_STREQ(whole, expected);
        ASSERT_TRUE(ReadProfileDescription(path.c_str(), &cut, false)) << name;
        EXPECT_EQ(std::string(expected), std::string(cut) + " 1.0") << "only the version goes";
    }
}

TEST(ProfileDescription, TheVersionGoesOnlyAfterTheMakersPrefix) {
    kvtest::TempFolder folder;
    struct Case {
        std::string text;
        std::uint32_t count;
        const char* expected;
    } const cases[] = {
        {"KORVEL Lab 2.0.1", 16, "KORVEL Lab"},
        {"KORVEL Lab 2.0.1", 20, "KORVEL Lab"}, // zero bytes after the text end it
        {"Other Lab 2.0", 13, "Other Lab 2.0"},
        {"KORVEL 1.0", 10, "KORVEL"},
        {"K1.0", 4, "K1.0"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        text.resize(c.count, '\0');
        CKvString read("before");
        ASSERT_TRUE(ReadProfileDescription(Write(folder, Profile(text, c.count)).c_str(), &read, false))
            << c.text;
        EXPECT_STREQ(read, c.expected);
    }
}

TEST(ProfileDescription, TruncatedOrLyingProfilesAreRefusedAndLeaveTheTextAlone) {
    kvtest::TempFolder folder;
    const std::vector<unsigned char> good = Profile("KORVEL sRGB 1.0", 15);
    std::vector<std::vector<unsigned char>> bad;
    for (std::size_t cut : {0, 100, 130, 140, 150, 155, 160})
        bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    bad.push_back(Profile("KORVEL sRGB 1.0", 0xFFFFFFFF));
    bad.push_back(Profile("KORVEL sRGB 1.0", 16));
    bad.push_back(Profile("KORVEL sRGB 1.0", 15, "cprt"));
    std::vector<unsigned char> noOffset = good;
    PutU32(noOffset, 136, 0);
    bad.push_back(noOffset);
    std::vector<unsigned char> farOffset = good;
    PutU32(farOffset, 136, 0xFFFFFFF0);
    bad.push_back(farOffset);
    std::vector<unsigned char> manyTags = good;
    PutU32(manyTags, 128, 0xFFFFFFFF);
    PutU32(manyTags, 132, 0x636F7079); // not "desc": the count runs past the file
    bad.push_back(manyTags);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        CKvString read("before");
        EXPECT_FALSE(ReadProfileDescription(Write(folder, bad[i]).c_str(), &read, true)) << "case " << i;
        EXPECT_STREQ(read, "before") << "case " << i;
    }
    CKvString read;
    EXPECT_FALSE(ReadProfileDescription(folder.File("missing.icc").c_str(), &read, true));
    EXPECT_FALSE(ReadProfileDescription(static_cast<const char*>(nullptr), &read, true));
}

} // namespace
