#include "platform/win/WinPath.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(WinPath, BackslashesBecomeSlashes) {
    EXPECT_EQ(WinPath::ToNative("Korvel\\Profiles\\KVsRGB.icm"), "Korvel/Profiles/KVsRGB.icm");
    EXPECT_EQ(WinPath::ToNative(""), "");
}

TEST(WinPath, AMissingNameIsFoundInAnotherLetterCase) {
    kvtest::TempFolder folder;
    std::filesystem::create_directory(folder.File("Profiles"));
    const std::string real = folder.Write("Profiles/KVLch2.icm", "x");
    EXPECT_EQ(WinPath::ToNative(folder.Path() + "\\profiles\\KvLch2.icm"), real);
    EXPECT_EQ(WinPath::ToNative(real), real) << "an exact name is taken as it stands";
}

TEST(WinPath, APathThatNamesNothingKeepsItsSpelling) {
    kvtest::TempFolder folder;
    const std::string missing = folder.Path() + "/Nowhere/KVsRGB.icm";
    EXPECT_EQ(WinPath::ToNative(missing), missing);
}

TEST(WinPath, AnExactMatchWinsOverOneInAnotherCase) {
    kvtest::TempFolder folder;
    folder.Write("a.icm", "lower");
    const std::string upper = folder.Write("A.icm", "upper");
    EXPECT_EQ(WinPath::ToNative(upper), upper);
}

} // namespace
