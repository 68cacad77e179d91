#include "album_uploader/KvUploadResult.h"
#include "album_uploader/KvUploadText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MapResult, EveryServiceResultHasItsCodeAndNoFailureReadsAsSuccess) {
    struct Case {
        std::int32_t service;
        std::int32_t code;
    };
    const Case cases[] = {{0, 0},       {-1, 31265},  {-2, 31266},   {-3, 31267},
                          {-4, 31268},  {-5, 31269},  {-6, 31270},   {-7, 31271},
                          {-8, 31272},  {-9, 4098},   {-100, 31273}, {-10, 31273},
                          {-50, 31273}, {-99, 31273}, {-101, 31273}, {INT32_MIN, 31273},
                          {1, 0},       {5, 0},       {INT32_MAX, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(MapResult(c.service), c.code) << c.service;
}

TEST(KvUploadText, LowerCasingWorksOnWholeCharactersAndKeepsOtherBytes) {
    struct Case {
        std::string text;
        std::string lowered;
    };
    const Case cases[] = {
        {"ABC xyz 019", "abc xyz 019"},
        {"\xc3\x84\xc3\x96\xc3\x9c", "\xc3\xa4\xc3\xb6\xc3\xbc"}, // ÄÖÜ
        {"\xce\xa3\xce\xa9", "\xcf\x83\xcf\x89"},                 // ΣΩ
        {"\xe2\x84\xaa", "k"},                                    // Kelvin sign
        {"\xd0\x96\xd0\x9b", "\xd0\xb6\xd0\xbb"},                 // ЖЛ
        {"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8"},                 // Deseret capital long I
        {"A\xff"
         "B\xc3",
         "a\xff"
         "b\xc3"},                // stray bytes stay
        {"\xc0\x81", "\xc0\x81"}, // an overlong form is not a character
    };
    for (const Case& c : cases)
        EXPECT_EQ(KvUploadText::LowerCase(c.text), c.lowered) << c.text;
}

TEST(KvUploadText, AFieldGetsTheTextCutWholeAndAlwaysATerminator) {
    char field[8];
    std::memset(field, 'x', sizeof field);
    KvUploadText::CopyInto(field, "abcdefghij", 255);
    EXPECT_EQ(std::string(field), "abcdefg") << "never past the field";
    KvUploadText::CopyInto(field,
                           "ab\xe2\x82\xac"
                           "cd",
                           4);
    EXPECT_EQ(std::string(field), "ab") << "the euro sign does not fit in 4 bytes";
    EXPECT_EQ(field[7], '\0');
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(KvUploadText::FieldText(unterminated), "abcd");
}

} // namespace
