#include "filters/CPravonFilterCMLEngine.h"
#include "platform/win/FourCC.h"
#include "testing/IccBytesWriter.h"
#include "testing/IccTestProfiles.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

using kvtest::IccBytesWriter;

// The error a file operation of the engine gives: component "cmle", secondary 1, the error number.
::testing::AssertionResult FileError(IPravonError* error, int number) {
    PravonErrorPtr owned(error);
    if (!owned)
        return ::testing::AssertionFailure() << "succeeded, expected error number " << number;
    const IPravonError::Entry& first = owned->GetEntry(0);
    if (first.component != FourCC("cmle") || first.secondary != 1 || first.kind != number)
        return ::testing::AssertionFailure() << "expected error number " << number << ", got:\n"
                                             << owned->Describe();
    return ::testing::AssertionSuccess();
}

class EngineProfiles : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const IccBytesWriter& writer) {
        return folder.Write(name, writer.Bytes());
    }
    // Whether the engine finds the two profiles equivalent; the setting itself must succeed.
    bool Equivalent(const IccBytesWriter& a, const IccBytesWriter& b) {
        CPravonFilterCMLEngine engine;
        EXPECT_PV_OK(engine.SetProfiles({Write("a.icc", a)}, {Write("b.icc", b)}));
        return engine.AreProfilesEquivalent();
    }

    kvtest::TempFolder folder;
};

TEST_F(EngineProfiles, TheColourSpaceSignatureGivesTheChannelCount) {
    const std::pair<const char*, LONG> table[] = {{"RGB ", 3}, {"CMYK", 4}, {"GRAY", 1},
                                                  {"Lab ", 3}, {"HLS ", 3}, {"Lch ", 3},
                                                  {"YCbr", 3}, {"XYZ ", 0}, {"rgb ", 0}};
    for (const auto& [signature, channels] : table) {
        IccBytesWriter writer(true);
        writer.ColorSpace(signature);
        char read[4] = {};
        LONG count = -1;
        EXPECT_PV_OK(CPravonFilterCMLEngine::ReadProfileInfo({Write("p.icc", writer)}, read, &count));
        EXPECT_EQ(std::string(read, 4), signature);
        EXPECT_EQ(count, channels) << signature;
    }
}

TEST_F(EngineProfiles, FilesThatAreMissingEmptyCutOrNotProfilesAreErrors) {
    const std::vector<std::uint8_t> whole = IccBytesWriter().Bytes();
    std::vector<std::uint8_t> notAProfile = whole;
    std::memcpy(notAProfile.data() + 36, "xxxx", 4);
    const std::pair<std::string, int> cases[] = {
        {folder.File("missing.icc"), ENOENT},
        {folder.Write("empty.icc", std::vector<std::uint8_t>{}), EIO},
        {folder.Write("header.icc", std::vector<std::uint8_t>(whole.begin(), whole.begin() + 20)), EIO},
        {folder.Write("cut.icc", std::vector<std::uint8_t>(whole.begin(), whole.end() - 4)), EIO},
        {folder.Write("text.icc", std::string(300, 'k')), EINVAL},
        {folder.Write("magic.icc", notAProfile), EINVAL},
        {folder.Path(), EISDIR},
    };
    for (const auto& [path, number] : cases) {
        char read[4] = {'x', 'x', 'x', 'x'};
        LONG count = -1;
        EXPECT_TRUE(FileError(CPravonFilterCMLEngine::ReadProfileInfo({path}, read, &count), number)) << path;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(std::string(read, 4), std::string(4, '\0'));
    }
}

TEST_F(EngineProfiles, ColorantsAndWhitePointsWithin655UnitsAreEquivalent) {
    const std::int32_t red[3] = {IccBytesWriter::kRed[0] + 655, IccBytesWriter::kRed[1] - 655,
                                 IccBytesWriter::kRed[2]};
    const std::int32_t white[3] = {IccBytesWriter::kWhite[0], IccBytesWriter::kWhite[1],
                                   IccBytesWriter::kWhite[2] - 655};
    EXPECT_TRUE(Equivalent(IccBytesWriter(), IccBytesWriter().Xyz("rXYZ", red).Xyz("wtpt", white)));
    const std::int32_t further[3] = {IccBytesWriter::kBlue[0], IccBytesWriter::kBlue[1] + 656,
                                     IccBytesWriter::kBlue[2]};
    EXPECT_FALSE(Equivalent(IccBytesWriter(), IccBytesWriter().Xyz("bXYZ", further)));
    const std::int32_t whiter[3] = {IccBytesWriter::kWhite[0] - 656, IccBytesWriter::kWhite[1],
                                    IccBytesWriter::kWhite[2]};
    EXPECT_FALSE(Equivalent(IccBytesWriter().Xyz("wtpt", whiter), IccBytesWriter()));
}

TEST_F(EngineProfiles, GammasOneUnitApartAreEquivalentTwoAreNot) {
    EXPECT_TRUE(Equivalent(IccBytesWriter(), IccBytesWriter().Gamma("gTRC", IccBytesWriter::kGamma22 + 1)));
    EXPECT_FALSE(Equivalent(IccBytesWriter(), IccBytesWriter().Gamma("gTRC", IccBytesWriter::kGamma22 + 2)));
    EXPECT_FALSE(Equivalent(IccBytesWriter().Gamma("rTRC", IccBytesWriter::kGamma22 - 2), IccBytesWriter()));
}

TEST_F(EngineProfiles, ProfilesWithATableTagAreNeverEquivalent) {
    for (const char* table : {"A2B0", "B2A2"}) {
        EXPECT_FALSE(Equivalent(IccBytesWriter().Tag(table, std::vector<std::uint8_t>(32)),
                                IccBytesWriter().Tag(table, std::vector<std::uint8_t>(32))))
            << table;
    }
}

TEST_F(EngineProfiles, MissingItemsOrSampledCurvesMakeProfilesDifferent) {
    EXPECT_FALSE(Equivalent(IccBytesWriter().Remove("wtpt"), IccBytesWriter().Remove("wtpt")));
    EXPECT_FALSE(Equivalent(IccBytesWriter().Remove("gXYZ"), IccBytesWriter().Remove("gXYZ")));
    EXPECT_FALSE(
        Equivalent(IccBytesWriter().SampledCurve("bTRC", 2), IccBytesWriter().SampledCurve("bTRC", 2)));
}

// Every tag entry is read at its own place, whatever the curve before it held.
TEST_F(EngineProfiles, TagsAfterASampledCurveAreReadInTheirPlace) {
    IccBytesWriter sampledFirst(true);
    sampledFirst.SampledCurve("rTRC", 256);
    sampledFirst.Xyz("rXYZ", IccBytesWriter::kRed).Xyz("gXYZ", IccBytesWriter::kGreen);
    sampledFirst.Xyz("bXYZ", IccBytesWriter::kBlue).Xyz("wtpt", IccBytesWriter::kWhite);
    sampledFirst.Gamma("gTRC", IccBytesWriter::kGamma22).Gamma("bTRC", IccBytesWriter::kGamma22);
    CPravonFilterCMLEngine engine;
    EXPECT_PV_OK(engine.SetProfiles({Write("a.icc", sampledFirst)}, {Write("b.icc", sampledFirst)}));
    EXPECT_FALSE(engine.AreProfilesEquivalent());
}

TEST_F(EngineProfiles, DifferentColourSpacesAreNeverEquivalent) {
    EXPECT_FALSE(Equivalent(IccBytesWriter(), IccBytesWriter().ColorSpace("GRAY")));
}

TEST_F(EngineProfiles, ATagCountBeyondTheFileIsCutToTheEntriesThere) {
    EXPECT_TRUE(
        Equivalent(IccBytesWriter().DeclareTagCount(0xFFFFFFFF), IccBytesWriter().DeclareTagCount(1000000)));
}

TEST_F(EngineProfiles, TagsThatPointPastTheFileAreErrors) {
    std::vector<std::uint8_t> lying = IccBytesWriter().Bytes();
    const std::size_t offsetField = 128 + 4 + 4; // first entry, rXYZ
    const std::uint32_t past = static_cast<std::uint32_t>(lying.size() - 8);
    for (int i = 0; i < 4; ++i)
        lying[offsetField + i] = static_cast<std::uint8_t>(past >> (24 - 8 * i));
    CPravonFilterCMLEngine engine;
    EXPECT_TRUE(FileError(
        engine.SetProfiles({folder.Write("a.icc", lying)}, {Write("b.icc", IccBytesWriter())}), EIO));
    EXPECT_FALSE(engine.AreProfilesEquivalent());
}

TEST_F(EngineProfiles, TwoCopiesOfALibraryMatrixProfileAreEquivalent) {
    using kvtest::IccTestProfile;
    const std::string a = kvtest::WriteIccTestProfile(folder, IccTestProfile::Gamma22, "a.icc");
    const std::string b = kvtest::WriteIccTestProfile(folder, IccTestProfile::Gamma22, "b.icc");
    const std::string wide = kvtest::WriteIccTestProfile(folder, IccTestProfile::WideGamut, "wide.icc");
    const std::string srgb = kvtest::WriteIccTestProfile(folder, IccTestProfile::SRGB, "srgb.icc");
    const std::string srgb2 = kvtest::WriteIccTestProfile(folder, IccTestProfile::SRGB, "srgb2.icc");
    CPravonFilterCMLEngine engine;
    ASSERT_PV_OK(engine.SetProfiles({a}, {b}));
    EXPECT_TRUE(engine.AreProfilesEquivalent());
    ASSERT_PV_OK(engine.SetProfiles({a}, {wide}));
    EXPECT_FALSE(engine.AreProfilesEquivalent());
    ASSERT_PV_OK(engine.SetProfiles({srgb}, {srgb2}));
    EXPECT_FALSE(engine.AreProfilesEquivalent()) << "parametric curves are no single gamma";
}

TEST_F(EngineProfiles, TheSameFilesSpelledDifferentlyChangeNothing) {
    const std::string a = Write("a.icc", IccBytesWriter());
    const std::string b = Write("Dest.icc", IccBytesWriter().ColorSpace("GRAY"));
    CPravonFilterCMLEngine engine;
    ASSERT_PV_OK(engine.SetProfiles({a}, {b}, {"proof.icc"}));
    ASSERT_EQ(engine.GetChangeCounter(), 1);

    std::string backslashed = folder.Path() + "/sub/../Dest.icc";
    for (char& c : backslashed) {
        if (c == '/')
            c = '\\';
    }
    const std::string relative = std::filesystem::relative(a).string();
    EXPECT_PV_OK(engine.SetProfiles({relative}, {backslashed}, {"other.icc"}));
    EXPECT_PV_OK(engine.SetProfiles({a}, {folder.File("DEST.ICC")}));
    EXPECT_EQ(engine.GetChangeCounter(), 1);
    PravonFile source, destination, proof;
    engine.GetProfiles(&source, &destination, &proof);
    EXPECT_EQ(source.path, a);
    EXPECT_EQ(destination.path, b);
    EXPECT_EQ(proof.path, "proof.icc") << "a call that changes only the proof path stores nothing";

    ASSERT_PV_OK(engine.SetProfiles({b}, {a}));
    EXPECT_EQ(engine.GetChangeCounter(), 2);
    engine.GetProfiles(nullptr, nullptr, &proof);
    EXPECT_EQ(proof.path, a) << "the destination is the proof profile";
    char signature[4];
    LONG channels = 0;
    engine.GetProfileInfo(false, signature, &channels);
    EXPECT_EQ(std::string(signature, 4), "GRAY");
    EXPECT_EQ(channels, 1);
    engine.GetProfileInfo(true, nullptr, &channels);
    EXPECT_EQ(channels, 3);
}

TEST_F(EngineProfiles, AFailedReadLeavesTheProfileInfoUnknownUntilItIsReadAgain) {
    const std::string a = Write("a.icc", IccBytesWriter());
    const std::string b = Write("b.icc", IccBytesWriter());
    const std::string later = folder.File("later.icc");
    CPravonFilterCMLEngine engine;
    ASSERT_PV_OK(engine.SetProfiles({a}, {b}));
    ASSERT_TRUE(engine.AreProfilesEquivalent());

    EXPECT_TRUE(FileError(engine.SetProfiles({a}, {later}), ENOENT));
    EXPECT_FALSE(engine.AreProfilesEquivalent());
    char signature[4];
    LONG channels = -1;
    engine.GetProfileInfo(true, signature, &channels);
    EXPECT_EQ(channels, 0) << "not the old destination's";
    engine.GetProfileInfo(false, signature, &channels);
    EXPECT_EQ(channels, 3) << "the source was read";
    PravonFile destination;
    engine.GetProfiles(nullptr, &destination, nullptr);
    EXPECT_EQ(destination.path, later);
    const LONG counter = engine.GetChangeCounter();

    Write("later.icc", IccBytesWriter());
    EXPECT_PV_OK(engine.SetProfiles({a}, {later}));
    EXPECT_GT(engine.GetChangeCounter(), counter);
    EXPECT_TRUE(engine.AreProfilesEquivalent());

    EXPECT_TRUE(FileError(engine.SetProfiles({folder.File("gone.icc")}, {b}), ENOENT));
    engine.GetProfileInfo(true, signature, &channels);
    EXPECT_EQ(channels, 0) << "a destination never reached is unknown";
}

} // namespace
