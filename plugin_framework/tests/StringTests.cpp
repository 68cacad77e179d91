#include "platform/win/WinDebug.h"
#include "platform/win/utf16.h"
#include "plugin_framework/TString.h"
#include "testing/Deadline.h"
#include "testing/TraceCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring W(const TString& s) {
    return std::wstring(static_cast<const wchar_t*>(s), s.GetLength());
}
std::string N(const TStringA& s) {
    return std::string(static_cast<const char*>(s), s.GetLength());
}

TEST(TString, EmptyStringsShareOneRepresentationAndCopiesAllocateNothing) {
    TString a;
    TString b(L"");
    TString c(static_cast<const wchar_t*>(nullptr));
    TString d(L'x', 0);
    TString e(a);
    EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b));
    EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(c));
    EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(d));
    EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(e));
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(*static_cast<const wchar_t*>(a), L'\0');
    TStringA n;
    EXPECT_EQ(static_cast<const char*>(n), static_cast<const char*>(TStringA("")));
}

TEST(TString, AResourceIdPointerIsLoadedNotRead) {
    // No string resources are present, so the text is empty; what matters is that 101 is not read.
    TString fromId(reinterpret_cast<const wchar_t*>(101));
    EXPECT_TRUE(fromId.IsEmpty());
    TStringA narrowFromId(reinterpret_cast<const char*>(0xFFFF));
    EXPECT_TRUE(narrowFromId.IsEmpty());
    TString s(L"keep");
    EXPECT_FALSE(s.LoadString(nullptr, 101));
    EXPECT_TRUE(s.IsEmpty());
}

// The program's texts of resources/FrameworkTests.kvrc that cross the loader's buffer ends, rebuilt here.
struct LongText {
    UINT id;
    std::string text;
};

std::vector<LongText> LongTexts() {
    std::vector<LongText> texts = {
        {201, std::string(254, 'a')}, {202, std::string(255, 'b')}, {203, std::string(256, 'c')}};
    std::string euros;
    for (int i = 0; i < 333; ++i)
        euros += "\xE2\x82\xAC";
    texts.push_back({204, euros + "!"});
    // A 3-byte or a 4-byte character that starts at byte n, so that it crosses byte 255 or 511.
    for (UINT n : {251, 252, 253, 254, 255, 256, 507, 508, 509, 510, 511})
        texts.push_back({3000 + n, std::string(n, 'x') + "\xE2\x82\xAC" + "end"});
    for (UINT n : {250, 251, 252, 253, 254, 255, 256, 506, 507, 508, 509, 510, 511})
        texts.push_back({4000 + n, std::string(n, 'y') + "\xF0\x9F\x98\x80" + "end"});
    return texts;
}

TEST(TString, ResourceTextsLoadWholeWhateverTheirLengthAndCharacters) {
    const std::vector<LongText> texts = LongTexts();
    ASSERT_EQ(texts.front().text.size(), 254u);
    ASSERT_EQ(texts[3].text.size(), 1000u);
    for (const LongText& t : texts) {
        SCOPED_TRACE(t.id);
        TStringA narrow("stale");
        ASSERT_TRUE(narrow.LoadString(nullptr, t.id));
        EXPECT_EQ(N(narrow), t.text);
        TString wide(L"stale");
        ASSERT_TRUE(wide.LoadString(nullptr, t.id));
        EXPECT_EQ(W(wide), Utf::Utf8ToWide(t.text));
    }
}

TEST(TString, CopiesShareTheBufferUntilOneIsWritten) {
    TString a(L"shared text");
    TString b(a);
    EXPECT_EQ(static_cast<const wchar_t*>(a), static_cast<const wchar_t*>(b));
    TString c;
    c = b;
    EXPECT_EQ(static_cast<const wchar_t*>(c), static_cast<const wchar_t*>(a));
    c.SetAt(0, L'S');
    EXPECT_NE(static_cast<const wchar_t*>(c), static_cast<const wchar_t*>(a));
    EXPECT_EQ(W(a), L"shared text");
    EXPECT_EQ(W(c), L"Shared text");
}

// Every operation that writes must leave the strings that shared its buffer as they were, and the
// written one must not see later writes to them either.
TEST(TString, EveryWritingOperationCopiesASharedBufferFirst) {
    const std::vector<std::pair<const char*, std::function<void(TString&)>>> writers = {
        {"+= string", [](TString& s) { s += TString(L"!"); }},
        {"+= text", [](TString& s) { s += L"!"; }},
        {"AppendChar", [](TString& s) { s.AppendChar(L'!'); }},
        {"SetAt", [](TString& s) { s.SetAt(1, L'#'); }},
        {"Replace", [](TString& s) { s.Replace(L"b", L"XYZ"); }},
        {"Replace shrinking", [](TString& s) { s.Replace(L" b ", L""); }},
        {"Remove", [](TString& s) { s.Remove(L' '); }},
        {"TrimLeft", [](TString& s) { s.TrimLeft(); }},
        {"TrimRight", [](TString& s) { s.TrimRight(); }},
        {"TrimLeft set", [](TString& s) { s.TrimLeft(L" a"); }},
        {"TrimRight set", [](TString& s) { s.TrimRight(L" c"); }},
        {"MakeReverse", [](TString& s) { s.MakeReverse(); }},
        {"GetBuffer",
         [](TString& s) {
             s.GetBuffer(2)[0] = L'#';
             s.ReleaseBuffer();
         }},
        {"ReleaseBuffer", [](TString& s) { s.ReleaseBuffer(2); }},
        {"Format", [](TString& s) { s.Format(L"%d", 7); }},
        {"Empty", [](TString& s) { s.Empty(); }},
        {"= text", [](TString& s) { s = L"other"; }},
        {"= narrow", [](TString& s) { s = "o"; }},
    };
    for (const auto& [name, write] : writers) {
        TString original(L" a b c ");
        TString copy(original);
        write(copy);
        EXPECT_EQ(W(original), L" a b c ") << name << " changed the string it shared with";
        const std::wstring written = W(copy);
        TString copy2(original);
        write(original);
        EXPECT_EQ(W(copy2), L" a b c ") << name << " (other way round)";
        EXPECT_EQ(W(copy), written) << name;
    }
}

TEST(TString, AssigningFromItsOwnCharactersKeepsTheText) {
    TString s(L"0123456789");
    s = static_cast<const wchar_t*>(s) + 3;
    EXPECT_EQ(W(s), L"3456789") << "unshared, in place";

    TString t(L"0123456789");
    TString keeper(t);
    t = static_cast<const wchar_t*>(t) + 5;
    EXPECT_EQ(W(t), L"56789") << "shared";
    EXPECT_EQ(W(keeper), L"0123456789");

    TString u(L"abc");
    u = static_cast<const wchar_t*>(u);
    EXPECT_EQ(W(u), L"abc");

    TStringA n("narrow text");
    n = static_cast<const char*>(n) + 7;
    EXPECT_EQ(N(n), "text");
}

TEST(TString, AppendingItselfOrItsOwnTailWorks) {
    TString s(L"ab");
    s += s;
    EXPECT_EQ(W(s), L"abab");
    s.GetBuffer(20);
    s.ReleaseBuffer();
    s += static_cast<const wchar_t*>(s) + 2;
    EXPECT_EQ(W(s), L"ababab") << "in place, with room to spare";
    TString t(L"xy");
    t += static_cast<const wchar_t*>(t) + 1;
    EXPECT_EQ(W(t), L"xyy") << "reallocating";
}

TEST(TString, ReplaceHandlesGrowthShrinkageAndItsOwnTexts) {
    TString s(L"one two one");
    EXPECT_EQ(s.Replace(L"one", L"three"), 2);
    EXPECT_EQ(W(s), L"three two three");
    EXPECT_EQ(s.Replace(L"three ", L""), 1);
    EXPECT_EQ(W(s), L"two three");
    EXPECT_EQ(s.Replace(L"", L"x"), 0);
    EXPECT_EQ(s.Replace(L"absent", L"x"), 0);
    EXPECT_EQ(s.Replace(L"o", nullptr), 1);
    EXPECT_EQ(W(s), L"tw three");

    TString big(L"aaaa");
    TString sharer(big);
    EXPECT_EQ(big.Replace(L"aa", L"b"), 2) << "shrinking a shared buffer";
    EXPECT_EQ(W(big), L"bb");
    EXPECT_EQ(W(sharer), L"aaaa");

    TString self(L"xyab");
    EXPECT_EQ(self.Replace(static_cast<const wchar_t*>(self) + 2, static_cast<const wchar_t*>(self) + 3), 1);
    EXPECT_EQ(W(self), L"xyb") << "both texts point into the string";
    TString all(L"xx");
    EXPECT_EQ(all.Replace(L"x", L""), 2);
    EXPECT_TRUE(all.IsEmpty());
}

TEST(TString, SearchesStayInsideTheText) {
    const TString s(L"abca");
    EXPECT_EQ(s.Find(L'a'), 0);
    EXPECT_EQ(s.Find(L'a', 1), 3);
    EXPECT_EQ(s.Find(L'a', -5), 0) << "a negative start counts as 0";
    EXPECT_EQ(s.Find(L'a', 4), -1);
    EXPECT_EQ(s.Find(L"ca"), 2);
    EXPECT_EQ(s.Find(L"", 2), 2);
    EXPECT_EQ(s.Find(L"ca", -1), 2);
    EXPECT_EQ(s.Find(L"ab", 1), -1);
    EXPECT_EQ(TString().Find(L""), -1);
    EXPECT_EQ(s.FindOneOf(L"xc"), 2);
    EXPECT_EQ(s.FindOneOf(L"xyz"), -1);
    EXPECT_EQ(s.ReverseFind(L'a'), 3);
    EXPECT_EQ(s.ReverseFind(L'a', 1), 0);
    EXPECT_EQ(s.ReverseFind(L'a', -3), 3) << "a negative offset counts as 0";
    EXPECT_EQ(s.ReverseFind(L'a', 4), -1);
    EXPECT_EQ(s.ReverseFind(L'z'), -1);
}

TEST(TString, PiecesAreCutToTheText) {
    const TString s(L"abcd");
    EXPECT_EQ(W(s.Mid(2, 100)), L"cd");
    EXPECT_TRUE(s.Mid(5, 1).IsEmpty());
    EXPECT_TRUE(s.Mid(4).IsEmpty());
    EXPECT_EQ(W(s.Mid(-2, 2)), L"ab");
    EXPECT_EQ(W(s.Mid(1)), L"bcd");
    EXPECT_TRUE(s.Mid(1, -3).IsEmpty());
    EXPECT_TRUE(s.Left(-1).IsEmpty());
    EXPECT_EQ(W(s.Left(2)), L"ab");
    EXPECT_TRUE(s.Right(-1).IsEmpty());
    EXPECT_EQ(W(s.Right(1)), L"d");
    const TString three(L"xyz");
    EXPECT_EQ(static_cast<const wchar_t*>(three.Right(10)), static_cast<const wchar_t*>(three));
    EXPECT_EQ(static_cast<const wchar_t*>(three.Left(3)), static_cast<const wchar_t*>(three));
    EXPECT_EQ(static_cast<const wchar_t*>(three.Mid(0)), static_cast<const wchar_t*>(three));
}

TEST(TString, SetAtOutsideTheTextIsIgnoredAndTraced) {
    kvtest::TraceCapture trace;
    TString s(L"ab");
    s.SetAt(2, L'x');
    s.SetAt(-1, L'x');
    EXPECT_EQ(W(s), L"ab");
    EXPECT_EQ(static_cast<const wchar_t*>(s)[2], L'\0');
    EXPECT_EQ(trace.Count("SetAt"), 2);
    TString empty;
    empty.SetAt(0, L'x');
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(TString, TrimmingFollowsTheWidthsRules) {
    TString s(L"ab   ");
    s.TrimRight();
    EXPECT_EQ(W(s), L"ab");
    TString blanks(L"    ");
    blanks.TrimRight();
    EXPECT_TRUE(blanks.IsEmpty());
    TString tabs(L"\t\n x \r\n");
    tabs.TrimLeft();
    tabs.TrimRight();
    EXPECT_EQ(W(tabs), L"x");
    TStringA narrow("\t x \t");
    narrow.TrimLeft();
    narrow.TrimRight();
    EXPECT_EQ(N(narrow), "\t x \t") << "the narrow string trims blanks only";
    TStringA blanked("  y  ");
    blanked.TrimLeft();
    blanked.TrimRight();
    EXPECT_EQ(N(blanked), "y");
    TString set(L"--=x=--");
    set.TrimLeft(L"-");
    set.TrimRight(L"-=");
    EXPECT_EQ(W(set), L"=x");
}

TEST(TString, BuffersGrowExactlyAndReleaseToTheirTerminator) {
    TString s;
    wchar_t* buffer = s.GetBuffer(10);
    std::wcscpy(buffer, L"filled");
    s.ReleaseBuffer();
    EXPECT_EQ(W(s), L"filled");
    EXPECT_EQ(s.GetBuffer(10), buffer) << "a buffer that fits is reused";
    s.ReleaseBuffer(3);
    EXPECT_EQ(W(s), L"fil");
    s.ReleaseBuffer(99);
    EXPECT_EQ(s.GetLength(), 10) << "a length beyond the capacity is cut to it";
    TString empty;
    empty.ReleaseBuffer(5);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(TString, ComparisonsAndJoins) {
    const TString a(L"Alpha");
    EXPECT_EQ(a.CompareNoCase(L"aLPHA"), 0);
    EXPECT_GT(a.Compare(nullptr), 0);
    EXPECT_TRUE(a == L"Alpha" && a != L"alpha" && a == TString(L"Alpha"));
    EXPECT_EQ(W(L">" + a + L"-" + a + L'!'), L">Alpha-Alpha!");
    EXPECT_TRUE((TString() + TString()).IsEmpty());
    EXPECT_EQ(N(TStringA("x") + 'y' + "z"), "xyz");
}

TEST(TString, ConvertsBetweenUtf8AndWideText) {
    const char* utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const TString wide(utf8);
    EXPECT_EQ(W(wide), L"A\u00e9\u20ac\U0001F600");
    const TStringA back(static_cast<const wchar_t*>(wide));
    EXPECT_EQ(N(back), utf8) << "four UTF-8 bytes for one wide character";
    EXPECT_EQ(N(TStringA(L"\U0001F600\U0001F600\U0001F600", 2)), "\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    EXPECT_EQ(W(TString("bad \xFF byte")), L"bad \uFFFD byte");
    EXPECT_EQ(W(TString("a\0b", 3)), std::wstring(L"a\0b", 3)) << "a counted text keeps its zero";
    TString assigned;
    assigned = "caf\xC3\xA9";
    EXPECT_EQ(W(assigned), L"caf\u00e9");
    TStringA narrow;
    narrow = L"\u00fc";
    EXPECT_EQ(N(narrow), "\xC3\xBC");
}

TEST(TString, SystemCopiesAreUtf16) {
    const TString wide(L"x\u00e9\U0001F600");
    std::unique_ptr<char16_t[]> copy(wide.AllocSysCopy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(std::u16string(copy.get()), u"x\u00e9\U0001F600");
    EXPECT_EQ(Utf::Utf16ToWide(copy.get()), W(wide));
    std::unique_ptr<char16_t[]> narrowCopy(TStringA("caf\xC3\xA9").AllocSysCopy());
    EXPECT_EQ(std::u16string(narrowCopy.get()), u"caf\u00e9");
    EXPECT_EQ(TString().AllocSysCopy(), nullptr);
}

TEST(TString, FormatsWideAndNarrowTexts) {
    TString s;
    s.Format(L"%ls=%s, %d, %lc, %.2f", L"wide \u00e9", "narrow \xC3\xA9", -12, L'\u20ac', 0.5);
    EXPECT_EQ(W(s), L"wide \u00e9=narrow \u00e9, -12, \u20ac, 0.50");
    TStringA n;
    n.Format("%s|%ls|%d", "n", L"\u00e9\U0001F600", 32);
    EXPECT_EQ(N(n), "n|\xC3\xA9\xF0\x9F\x98\x80|32");
    TString own(L"self");
    own.Format(L"%ls and %ls", static_cast<const wchar_t*>(own), static_cast<const wchar_t*>(own));
    EXPECT_EQ(W(own), L"self and self") << "an argument that points into the string itself";
}

TEST(TString, FormatsTextsOfEveryLength) {
    for (const int length : {0, 255, 256, 257, 767, 5000, 70000}) {
        const std::wstring expected(static_cast<std::size_t>(length), L'w');
        TString wide;
        wide.Format(L"%ls", expected.c_str());
        EXPECT_EQ(W(wide), expected) << length;
        const std::string narrowExpected(static_cast<std::size_t>(length), 'n');
        TStringA narrow;
        narrow.Format("%s", narrowExpected.c_str());
        EXPECT_EQ(N(narrow), narrowExpected) << length;
    }
}

TEST(TString, AFormatThatCannotSucceedEndsEmptyAndTraced) {
    kvtest::TraceCapture trace;
    TString wide(L"old");
    wide.Format(L"%s", "invalid \xFF UTF-8");
    EXPECT_TRUE(wide.IsEmpty());
    TStringA narrow("old");
    const wchar_t lone[] = {0xD800, 0};
    narrow.Format("%ls", lone);
    EXPECT_TRUE(narrow.IsEmpty());
    const std::wstring huge((1 << 20) + 1, L'h');
    TString tooLong(L"old");
    tooLong.Format(L"%ls", huge.c_str());
    EXPECT_TRUE(tooLong.IsEmpty());
    EXPECT_EQ(trace.Count("could not be formatted"), 3);
}

TEST(TString, CopiesOfOneBufferMayLiveOnDifferentThreads) {
    kvtest::Watchdog watchdog("string copies");
    const TString shared(L"a text shared between threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 2000; ++i) {
                TString copy(shared);
                TString other;
                other = copy;
                if (i % 100 == 0)
                    other += L"!";
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(W(shared), L"a text shared between threads");
}

} // namespace
