#include "rawlib/foundation/CKvString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

TEST(KvString, ANewStringHoldsNothingInFourBytes) {
    CKvString s;
    EXPECT_EQ(s.GetCapacity(), 4);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STREQ(s, "");
    EXPECT_EQ(s.GetMaxLength(), -1);
    CKvString fromNull(static_cast<const char*>(nullptr));
    EXPECT_TRUE(fromNull.IsEmpty());
}

TEST(KvString, CapacityGrowsToTheTextAndNeverShrinks) {
    CKvString s;
    s.Assign("abcdef");
    EXPECT_EQ(s.GetCapacity(), 7);
    EXPECT_EQ(s.GetLength(), 6);
    s = "ab";
    EXPECT_EQ(s.GetCapacity(), 7);
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_STREQ(s, "ab");
    s.Append("cdefghij");
    EXPECT_EQ(s.GetCapacity(), 11);
    EXPECT_STREQ(s, "abcdefghij");
}

TEST(KvString, CopyTakesTheWholeBufferOfTheOther) {
    CKvString a("abcdefgh");
    a = "x";
    const CKvString b(a);
    EXPECT_EQ(b.GetCapacity(), 9);
    EXPECT_STREQ(b, "x");
    CKvString c("a much longer text than the other");
    c = b;
    EXPECT_STREQ(c, "x");
    EXPECT_EQ(c.GetCapacity(), 34);
    c = c;
    EXPECT_STREQ(c, "x");
}

TEST(KvString, AppendAddsBehindTheTextAndEmptyTextChangesNothing) {
    CKvString s("path");
    s.Append("/");
    s.Append(CKvString("name"));
    EXPECT_STREQ(s, "path/name");
    const int capacity = s.GetCapacity();
    EXPECT_TRUE(s.Append(""));
    EXPECT_TRUE(s.Append(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(s.Append(CKvString()));
    EXPECT_STREQ(s, "path/name");
    EXPECT_EQ(s.GetCapacity(), capacity);
    CKvString empty;
    empty.Append("x");
    EXPECT_STREQ(empty, "x");
}

TEST(KvString, AppendingItselfDoublesTheTextWhetherOrNotTheBufferMoves) {
    CKvString grows("abc");
    ASSERT_EQ(grows.GetCapacity(), 4);
    grows.Append(grows);
    EXPECT_STREQ(grows, "abcabc");
    grows.Append(grows.GetBuffer());
    EXPECT_STREQ(grows, "abcabcabcabc");

    CKvString roomy("0123456789abcdef");
    roomy = "ab";
    ASSERT_EQ(roomy.GetCapacity(), 17);
    roomy.Append(roomy);
    EXPECT_STREQ(roomy, "abab");
    EXPECT_EQ(roomy.GetLength(), 4);
    roomy.Append(roomy.GetBuffer() + 1);
    EXPECT_STREQ(roomy, "ababbab");
    EXPECT_EQ(roomy.GetCapacity(), 17);
}

TEST(KvString, AssignFromInsideItsOwnBufferKeepsTheTail) {
    CKvString s("prefix/name");
    s.Assign(s.GetBuffer() + 7);
    EXPECT_STREQ(s, "name");
    s.Assign(s.GetBuffer());
    EXPECT_STREQ(s, "name");
}

TEST(KvString, CompareNoCaseMatchesWholeTextsOrAPrefixOfCountLetters) {
    const CKvString abc("abc");
    EXPECT_EQ(abc.CompareNoCase("ABC"), 1);
    EXPECT_EQ(abc.CompareNoCase("aBc"), 1);
    EXPECT_EQ(CKvString("abcd").CompareNoCase("ABC"), 0);
    EXPECT_EQ(abc.CompareNoCase("ABCD"), 0);
    EXPECT_EQ(abc.CompareNoCase("ABD"), 0);
    EXPECT_EQ(CKvString("abcd").CompareNoCase("ABC", 3), 1);
    EXPECT_EQ(abc.CompareNoCase("ABCD", 3), 1);
    EXPECT_EQ(CKvString("ab").CompareNoCase("AB", 3), 0) << "the string must be at least count long";
    EXPECT_EQ(abc.CompareNoCase("AB", 3), 0) << "a shorter text cannot match count letters";
    EXPECT_EQ(abc.CompareNoCase(CKvString("ABC")), 1);
    EXPECT_EQ(abc.CompareNoCase("xyz", 0), 1);
    EXPECT_EQ(CKvString().CompareNoCase(""), 1);
    EXPECT_EQ(CKvString().CompareNoCase(static_cast<const char*>(nullptr)), 1);
    EXPECT_EQ(CKvString().CompareNoCase("a"), 0);
    EXPECT_EQ(CKvString("[@]").CompareNoCase("{`}"), 0) << "only letters fold";
    EXPECT_EQ(CKvString("\xc3\xa9").CompareNoCase("\xc3\x89"), 0) << "UTF-8 bytes compare as they are";
}

TEST(KvString, CompareNoCaseOfLongTexts) {
    const std::string lower(100000, 'q');
    std::string upper(100000, 'Q');
    const CKvString s(lower.c_str());
    EXPECT_EQ(s.CompareNoCase(upper.c_str()), 1);
    upper[99999] = 'R';
    EXPECT_EQ(s.CompareNoCase(upper.c_str()), 0);
    EXPECT_EQ(s.CompareNoCase(upper.c_str(), 99999), 1);
}

TEST(KvString, MidTakesAPieceAndLeavesTheOutStringWhenStartIsBeyondTheText) {
    const CKvString s("abcdef");
    CKvString out("keep");
    s.Mid(out, 2, 10);
    EXPECT_STREQ(out, "cdef");
    s.Mid(out, 1, 2);
    EXPECT_STREQ(out, "bc");
    s.Mid(out, 2);
    EXPECT_STREQ(out, "cdef");
    out = "keep";
    s.Mid(out, 7, 1);
    EXPECT_STREQ(out, "keep");
    s.Mid(out, 6, 1);
    EXPECT_STREQ(out, "") << "a start at the end is not beyond it";
}

TEST(KvString, MidCountsANegativeStartAsZeroAndANegativeCountAsTheRest) {
    const CKvString s("abcdef");
    CKvString out;
    s.Mid(out, -3, 2);
    EXPECT_STREQ(out, "ab");
    s.Mid(out, 1, -7);
    EXPECT_STREQ(out, "bcdef");
    EXPECT_STREQ(s.Left(-5), "abcdef");
    EXPECT_STREQ(s.Right(-5), "abcdef");
}

TEST(KvString, MidIntoItselfKeepsThePiece) {
    CKvString s("abcdef");
    s.Mid(s, 2, 3);
    EXPECT_STREQ(s, "cde");
}

TEST(KvString, LeftAndRightTakeAtMostTheWholeText) {
    const CKvString s("abcdef");
    EXPECT_STREQ(s.Left(2), "ab");
    EXPECT_STREQ(s.Left(0), "");
    EXPECT_STREQ(s.Left(99), "abcdef");
    EXPECT_STREQ(s.Right(2), "ef");
    EXPECT_STREQ(s.Right(99), "abcdef");
    EXPECT_STREQ(s.Right(0), "");
    EXPECT_STREQ(CKvString().Right(3), "");
}

TEST(KvString, GetAtAnswersNulOutsideTheText) {
    const CKvString s("ab");
    EXPECT_EQ(s.GetAt(0), 'a');
    EXPECT_EQ(s.GetAt(1), 'b');
    EXPECT_EQ(s.GetAt(2), '\0');
    EXPECT_EQ(s.GetAt(3), '\0');
    EXPECT_EQ(s.GetAt(-1), '\0');
}

TEST(KvString, LengthIsZeroWhenTheBufferHoldsNoNul) {
    CKvString s;
    char* end = s.GetBufferEnd(8);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end, s.GetBuffer() + 8);
    EXPECT_EQ(s.GetCapacity(), 8);
    std::memset(s.GetBuffer(), 'x', 8);
    EXPECT_EQ(s.GetLength(), 0);
    s.Append("ab");
    EXPECT_STREQ(s, "ab") << "appending goes behind the length the rule gives";
    EXPECT_EQ(s.GetBufferEnd(-1), nullptr);
}

TEST(KvString, PascalBytesRoundTripAndCutAt255) {
    const std::string letters(300, 'p');
    const CKvString s(letters.c_str());
    std::vector<BYTE> bytes(256, 0xEE);
    EXPECT_EQ(s.ToPascal(bytes.data()), 256);
    EXPECT_EQ(bytes[0], 255);
    EXPECT_EQ(std::string(bytes.begin() + 1, bytes.end()), std::string(255, 'p'));

    CKvString back("old");
    EXPECT_TRUE(back.FromPascal(bytes.data()));
    EXPECT_EQ(back.GetLength(), 255);
    EXPECT_EQ(back.GetCapacity(), 256);

    const BYTE shortForm[] = {3, 'a', 'b', 'c', 'Z'};
    EXPECT_TRUE(back.FromPascal(shortForm, sizeof shortForm));
    EXPECT_STREQ(back, "abc");
    BYTE out[8] = {};
    EXPECT_EQ(back.ToPascal(out), 4);
    EXPECT_EQ(std::memcmp(out, shortForm, 4), 0);
    EXPECT_EQ(out[4], 0) << "no NUL is written";

    const BYTE empty[] = {0};
    EXPECT_TRUE(back.FromPascal(empty, 1));
    EXPECT_TRUE(back.IsEmpty());
}

TEST(KvString, PascalBytesClaimingMoreThanTheyHoldAreRefused) {
    CKvString s("kept");
    const BYTE truncated[] = {9, 'a', 'b'};
    EXPECT_FALSE(s.FromPascal(truncated, sizeof truncated));
    EXPECT_FALSE(s.FromPascal(truncated, 0));
    EXPECT_FALSE(s.FromPascal(nullptr, 4));
    EXPECT_STREQ(s, "kept");
}

TEST(KvString, FormatPrintsIntoTheString) {
    CKvString s("old text");
    const LONG mode = 3;
    EXPECT_TRUE(s.Format("%sMA_%d_%04d_%02d_%d.icm", "Kvx_", mode, 812, 6, 308));
    EXPECT_STREQ(s, "Kvx_MA_3_0812_06_308.icm");
    EXPECT_TRUE(s.Format("%d %d", std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
    EXPECT_STREQ(s, "-2147483648 2147483647");
    EXPECT_TRUE(s.Format("%s", ""));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_FALSE(s.Format(nullptr));
}

TEST(KvString, FormatGrowsForLongTexts) {
    CKvString s;
    const std::string word(255, 'w');
    EXPECT_TRUE(s.Format("%s", word.c_str()));
    EXPECT_EQ(s.GetLength(), 255);
    EXPECT_TRUE(s.Format("%s!", word.c_str()));
    EXPECT_EQ(s.GetLength(), 256);
    EXPECT_EQ(s.GetAt(255), '!');
    const std::string big(200000, 'b');
    EXPECT_TRUE(s.Format("[%s][%d]", big.c_str(), 42));
    EXPECT_EQ(s.GetLength(), 200006);
    EXPECT_EQ(std::string(s.GetBuffer() + 200000), "b][42]");
}

TEST(KvString, FormatMayReadItsOwnText) {
    CKvString s("abc");
    EXPECT_TRUE(s.Format("%s-%s", s.GetBuffer(), static_cast<const char*>(s)));
    EXPECT_STREQ(s, "abc-abc");
    const std::string big(1000, 'x');
    s = big.c_str();
    EXPECT_TRUE(s.Format("<%s>", s.GetBuffer()));
    EXPECT_EQ(s.GetLength(), 1002);
}

TEST(KvString, FormatBeyondTheCapRefusesAndKeepsTheText) {
    CKvString s("kept");
    EXPECT_FALSE(s.Format("%*s", CKvString::kMaxFormatLength + 1, "x"));
    EXPECT_STREQ(s, "kept");
    EXPECT_TRUE(s.Format("%*s", 70000, "x"));
    EXPECT_EQ(s.GetLength(), 70000);
}

TEST(KvString, VeryLongTextsGrowByAppending) {
    CKvString s;
    std::string chunk;
    for (int i = 0; i < 64; ++i)
        chunk += "0123456789abcdef";
    std::string expected;
    for (int i = 0; i < 1024; ++i) {
        ASSERT_TRUE(s.Append(chunk.c_str()));
        expected += chunk;
    }
    EXPECT_EQ(s.GetLength(), 1 << 20);
    EXPECT_EQ(std::string(s), expected);
    EXPECT_STREQ(s.Right(3), "def");
    CKvString tail;
    s.Mid(tail, (1 << 20) - 20, 4);
    EXPECT_STREQ(tail, "cdef");
}

// Allocation through the virtual slots: a subclass rounds every buffer up and counts what it frees.
class CRoundedString : public CKvString {
public:
    explicit CRoundedString(int* freed) : m_freed(freed) {}
    ~CRoundedString() override = default;
    bool Allocate(int n) override { return CKvString::Allocate((n + 31) / 32 * 32); }
    void Free(char* buffer) override {
        if (buffer)
            ++*m_freed;
        CKvString::Free(buffer);
    }

private:
    int* m_freed;
};

TEST(KvString, ReserveAllocatesAndFreesThroughTheVirtualSlots) {
    int freed = 0;
    CRoundedString s(&freed);
    s.Assign("abcdefgh");
    EXPECT_EQ(s.GetCapacity(), 32);
    EXPECT_EQ(freed, 1) << "the constructor's four bytes went back through Free";
    s.Append(std::string(40, 'z').c_str());
    EXPECT_EQ(s.GetCapacity(), 64);
    EXPECT_EQ(freed, 2);
    EXPECT_EQ(s.GetLength(), 48);
    EXPECT_TRUE(s.Reserve(10));
    EXPECT_EQ(s.GetCapacity(), 64);
}

// A string whose memory has run out: every Allocate after the first fails.
class CExhaustedString : public CKvString {
public:
    bool Allocate(int n) override { return false; }
};

TEST(KvString, FailedAllocationLeavesTheStringAsItWas) {
    CExhaustedString s;
    EXPECT_TRUE(s.Assign("abc")) << "fits the constructor's four bytes";
    EXPECT_FALSE(s.Assign("abcdefgh"));
    EXPECT_STREQ(s, "abc");
    EXPECT_FALSE(s.Append("defgh"));
    EXPECT_STREQ(s, "abc");
    EXPECT_FALSE(s.Format("%s", "longer than four"));
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(s.GetBufferEnd(100), nullptr);
    EXPECT_EQ(s.GetCapacity(), 4);
}

} // namespace
