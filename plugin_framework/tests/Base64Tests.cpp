#include "plugin_framework/TString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::vector<unsigned char>& data) {
    char* out = nullptr;
    LONG length = -1;
    EXPECT_TRUE(Base64Encode(out, length, data.data(), static_cast<LONG>(data.size())));
    std::unique_ptr<char[]> owner(out);
    EXPECT_EQ(static_cast<std::size_t>(length), std::strlen(out) + 1) << "the length counts the terminator";
    return out;
}

std::vector<unsigned char> Decode(const std::wstring& text) {
    unsigned char* out = nullptr;
    LONG length = -1;
    EXPECT_TRUE(Base64Decode(out, length, text.data(), static_cast<LONG>(text.size())));
    std::unique_ptr<unsigned char[]> owner(out);
    return std::vector<unsigned char>(out, out + length);
}

std::vector<unsigned char> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(Base64, EncodesTheStandardVectors) {
    EXPECT_EQ(Encode({}), "");
    EXPECT_EQ(Encode(Bytes("f")), "Zg==");
    EXPECT_EQ(Encode(Bytes("fo")), "Zm8=");
    EXPECT_EQ(Encode(Bytes("foo")), "Zm9v");
    EXPECT_EQ(Encode(Bytes("foob")), "Zm9vYg==");
    EXPECT_EQ(Encode(Bytes("fooba")), "Zm9vYmE=");
    EXPECT_EQ(Encode(Bytes("foobar")), "Zm9vYmFy");
    EXPECT_EQ(Encode({0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(Base64, DecodeGivesThreeBytesPerGroupWithFillBytesAsZero) {
    EXPECT_EQ(Decode(L"Zm9vYmFy"), Bytes("foobar"));
    EXPECT_EQ(Decode(L"Zm8="), (std::vector<unsigned char>{'f', 'o', 0}));
    EXPECT_EQ(Decode(L"Zg=="), (std::vector<unsigned char>{'f', 0, 0}));
    EXPECT_EQ(Decode(L"Zm8"), (std::vector<unsigned char>{'f', 'o', 0})) << "a missing last character";
    EXPECT_TRUE(Decode(L"").empty());
}

TEST(Base64, RoundTripsEveryLengthOfRandomBytes) {
    std::mt19937 random(20240611);
    for (std::size_t n = 0; n <= 70; ++n) {
        std::vector<unsigned char> data(n);
        for (auto& b : data)
            b = static_cast<unsigned char>(random());
        const std::string text = Encode(data);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        std::vector<unsigned char> back = Decode(std::wstring(text.begin(), text.end()));
        ASSERT_EQ(back.size(), (n + 2) / 3 * 3);
        back.resize(n);
        EXPECT_EQ(back, data) << n;
    }
}

TEST(Base64, CharactersOutsideTheAlphabetCountAsZeroWhateverTheirWidth) {
    const std::wstring hostile = {L'Z',
                                  static_cast<wchar_t>(0x10FFFF),
                                  static_cast<wchar_t>(-5),
                                  L'\u00ff',
                                  static_cast<wchar_t>(0x7FFFFFFF),
                                  L'\n',
                                  L'*',
                                  L'g'};
    EXPECT_EQ(Decode(hostile), (std::vector<unsigned char>{0x64, 0x00, 0x00, 0x00, 0x00, 0x20}));
}

TEST(Base64, NullInputGivesEmptyResults) {
    char* text = nullptr;
    LONG length = 0;
    EXPECT_TRUE(Base64Encode(text, length, nullptr, 5));
    std::unique_ptr<char[]> owner(text);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(length, 1);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(1);
    EXPECT_TRUE(Base64Decode(bytes, length, nullptr, 8));
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(length, 0);
}

} // namespace
