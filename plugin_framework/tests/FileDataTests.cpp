#include "plugin_framework/FileData.h"

#include "platform/win/WinSeams.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

class WholeFiles : public ::testing::Test {
protected:
    TFilePath Location(const std::string& name) {
        TFilePath location;
        location.Set(TString(m_folder.File(name).c_str()));
        return location;
    }
    std::string Bytes(const std::string& name) {
        std::ifstream in(m_folder.File(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::wstring ReadUnicode(const std::string& bytes, bool swap) {
        m_folder.Write("u.txt", bytes);
        wchar_t* text = nullptr;
        EXPECT_TRUE(ReadUnicodeTextFile(Location("u.txt"), text, swap));
        std::unique_ptr<wchar_t[]> owner(text);
        return text ? std::wstring(text) : std::wstring(L"(none)");
    }

    kvtest::TempFolder m_folder;
};

TEST_F(WholeFiles, UnicodeTextLosesItsMarkAndIsSwappedOnlyWhenBigEndianAndAsked) {
    EXPECT_EQ(ReadUnicode(std::string("\xFF\xFE"
                                      "A\0B\0",
                                      6),
                          false),
              L"AB");
    EXPECT_EQ(ReadUnicode(std::string("\xFE\xFF\0A\0B", 6), true), L"AB");
    EXPECT_EQ(ReadUnicode(std::string("A\0B\0", 4), true), L"AB") << "no mark, nothing to swap";
    EXPECT_EQ(ReadUnicode(std::string("A\0B", 3), false), L"AB") << "an odd last byte is padded with a zero";
}

TEST_F(WholeFiles, StringFileHoldsTwoBytesPerCharacterWithoutMarkOrTerminator) {
    EXPECT_TRUE(WriteStringFile(TString(L"abc"), Location("s.bin")));
    EXPECT_EQ(Bytes("s.bin"), std::string("a\0b\0c\0", 6));
    EXPECT_TRUE(WriteUnicodeTextFile(Location("w.bin"), L"\x20AC"));
    EXPECT_EQ(Bytes("w.bin"), std::string("\xAC\x20", 2));
}

TEST_F(WholeFiles, EmptyBinaryFileReadsAsAnEmptyArray) {
    m_folder.Write("empty", std::string());
    BYTE* data = reinterpret_cast<BYTE*>(1);
    DWORD size = 7;
    EXPECT_TRUE(ReadBinaryFile(Location("empty"), data, size));
    EXPECT_EQ(size, 0u);
    delete[] data;
}

TEST_F(WholeFiles, MissingFileLeavesTheOutValuesAlone) {
    char* text = reinterpret_cast<char*>(1);
    EXPECT_FALSE(ReadTextFile(Location("missing"), text));
    EXPECT_EQ(text, reinterpret_cast<char*>(1));
    EXPECT_EQ(OpenFile(TFilePath(), "rb"), nullptr);
}

TEST_F(WholeFiles, TextRoundTripsAndIsTerminated) {
    ASSERT_TRUE(WriteTextFile(Location("t.txt"), "line one\nline two"));
    char* text = nullptr;
    ASSERT_TRUE(ReadTextFile(Location("t.txt"), text));
    std::unique_ptr<char[]> owner(text);
    EXPECT_STREQ(text, "line one\nline two");
}

TEST(MimeTypes, OnlyTheTableRowsCompareExactly) {
    TString extension = L"old";
    EXPECT_TRUE(MimeTypeToExtension(L"image/tiff", extension));
    EXPECT_EQ(extension, L"tiff");
    EXPECT_FALSE(MimeTypeToExtension(L"image/png", extension));
    EXPECT_TRUE(extension.IsEmpty());
    EXPECT_FALSE(MimeTypeToExtension(L"IMAGE/JPEG", extension));
}

TEST(Base64Files, SavedFileHoldsOnlyTheDecodedBytes) {
    kvtest::TempFolder base;
    WinSeams::SetTempBase(base.Path());
    TString path;
    // "QUJDRA==" is the four bytes ABCD; the padding stands for no bytes at all.
    ASSERT_TRUE(SaveBase64ToTempFile(L"QUJDRA==", 8, L"image/gif", path));
    std::ifstream in(std::string(TStringA(static_cast<const wchar_t*>(path))), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "ABCD");
    EXPECT_NE(std::wstring(path).find(L"/Korvel/Test plugin/tre.gif"), std::wstring::npos);
    TString untouched = L"kept";
    EXPECT_FALSE(SaveBase64ToTempFile(L"QUJDRA==", 8, L"image/png", untouched));
    EXPECT_EQ(untouched, L"kept");
    WinSeams::ResetAll();
}

} // namespace
