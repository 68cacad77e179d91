#include "platform/zavoz/ZvReply.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ZvReply, ValuesArePercentDecodedAndBadEscapesRefused) {
    struct Case {
        const char* raw;
        bool ok;
        const char* text;
    };
    const Case cases[] = {
        {"plain", true, "plain"}, {"a%20b", true, "a b"}, {"%e2%82%AC", true, "\xe2\x82\xac"},
        {"100%25", true, "100%"}, {"a+b", true, "a+b"},   {"%", false, ""},
        {"%4", false, ""},        {"%4g", false, ""},     {"x%00y", false, ""},
        {"", true, ""},
    };
    std::string text;
    EXPECT_FALSE(ZvReply::Decode(std::string_view("x\0y", 3), text)) << "a raw NUL";
    for (const Case& c : cases) {
        EXPECT_EQ(ZvReply::Decode(c.raw, text), c.ok) << c.raw;
        if (c.ok) {
            EXPECT_EQ(text, c.text) << c.raw;
        }
    }
}

TEST(ZvReply, AnAlbumListIsItsCountAndExactlyThatManyLines) {
    std::vector<ZvReply::Album> albums;
    ASSERT_EQ(ZvReply::ReadAlbums("count=2\nalbum=k1\tOne%09tab\t\nother=x\nalbum=k%32\t\tdesc%0a\n", albums),
              kPiOk);
    ASSERT_EQ(albums.size(), 2u);
    EXPECT_EQ(albums[0].key, "k1");
    EXPECT_EQ(albums[0].name, "One\ttab") << "an encoded tab is part of the field";
    EXPECT_EQ(albums[0].description, "");
    EXPECT_EQ(albums[1].key, "k2");
    EXPECT_EQ(albums[1].description, "desc\n");
    EXPECT_EQ(ZvReply::ReadAlbums("count=0", albums), kPiOk);
    EXPECT_TRUE(albums.empty());
    for (const char* bad :
         {"count=1\nalbum=\tname\t\n", "count=1\nalbum=k\tn\t\nalbum=k\tn\t\n",
          "count=1\ncount=1\nalbum=k\tn\t\n", "=1\n", "count=01x", "count=1\nalbum=k\tn\td\te\n"})
        EXPECT_EQ(ZvReply::ReadAlbums(bad, albums), kPiMalformedReply) << bad;
}

TEST(ZvReply, SpaceIsClampedToThirtyTwoBitsAndMayBeNegative) {
    struct Case {
        const char* body;
        std::int64_t space;
    };
    const Case cases[] = {{"space=0", 0},
                          {"space=4294968", 4294968},
                          {"space=-12", -12},
                          {"space=99999999999", 2147483647},
                          {"space=-99999999999", -2147483647 - 1}};
    for (const Case& c : cases) {
        std::int64_t space = 1;
        ASSERT_EQ(ZvReply::ReadSpace(c.body, space), kPiOk) << c.body;
        EXPECT_EQ(space, c.space) << c.body;
    }
    std::int64_t space = 0;
    for (const char* bad : {"space=", "space=-", "space=1e3", "space=1234567890123456789"})
        EXPECT_EQ(ZvReply::ReadSpace(bad, space), kPiMalformedReply) << bad;
}

TEST(ZvReply, TokensAndPhotoIdsAreWordsThatFitTheirFields) {
    std::string word;
    EXPECT_EQ(ZvReply::ReadToken("token=" + std::string(19, 'a'), word), kPiOk);
    EXPECT_EQ(ZvReply::ReadToken("token=" + std::string(20, 'a'), word), kPiMalformedReply);
    EXPECT_EQ(ZvReply::ReadToken("token=a%0d%0aX-Other: 1", word), kPiMalformedReply)
        << "a token never brings a header of its own";
    EXPECT_EQ(ZvReply::ReadPhoto("photo=" + std::string(63, 'p'), word), kPiOk);
    EXPECT_EQ(ZvReply::ReadPhoto("photo=" + std::string(64, 'p'), word), kPiMalformedReply);
    EXPECT_EQ(ZvReply::ReadKey("key=%e2%82%ac", word), kPiOk);
    EXPECT_EQ(word, "\xe2\x82\xac");
}

} // namespace
