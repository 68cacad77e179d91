#include "rawlib/filters/KvPluginResources.h"

#include "platform/plugins/KvFilterPlugin.h"
#include "platform/plugins/KvPluginResourceWriter.h"
#include "platform/win/FourCC.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace KvPlugin;
using Bytes = std::vector<BYTE>;

std::uint32_t Code(const char (&code)[5]) {
    return static_cast<std::uint32_t>(FourCC(code));
}

// A property list laid out by hand: version, count, then vendor, key, id, length and padded data.
const Bytes kHandMadePipl = {
    0x01, 0x00,                                                   // version
    0x03, 0x00, 0x00, 0x00,                                       // three properties
    'v',  'k',  0,    0,    0x67, 0x74, 0x61, 0x63, 0,   0, 0, 0, // vendor, "catg", id 0
    0x05, 0x00, 0x00, 0x00, 0x04, 'T',  'o',  'o',  'l', 0, 0, 0, // length 5: "Tool" padded to 8
    'v',  'k',  0,    0,    0x64, 0x6E, 0x69, 0x6B, 0,   0, 0, 0, // an unknown key, "kind"
    0x02, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0x00, 0x00,               // length 2, padded to 4
    'v',  'k',  0,    0,    0x65, 0x6D, 0x61, 0x6E, 0,   0, 0, 0, // "name"
    0x04, 0x00, 0x00, 0x00, 0x03, 'S',  'e',  'e',                // length 4: "See"
};

TEST(PluginResources, AHandMadePropertyListGivesItsNameAndCategory) {
    KvPluginNames names{"?", "?"};
    ASSERT_TRUE(KvReadPluginPipl(kHandMadePipl.data(), kHandMadePipl.size(), &names));
    EXPECT_EQ(names.name, "See");
    EXPECT_EQ(names.category, "Tool");
    EXPECT_EQ(
        WritePipl({PiplText(kKeyCategory, "Tool", 0x6B76),
                   PiplProperty{0x6B76, Code("kind"), 0, {0xAA, 0xBB}}, PiplText(kKeyName, "See", 0x6B76)}),
        kHandMadePipl)
        << "the writer lays the list out the same way";
}

TEST(PluginResources, AListWithoutOneOfTheKeysLeavesThatOneAlone) {
    const Bytes onlyName = WritePipl({PiplText(kKeyName, "Only")});
    KvPluginNames names{"?", "?"};
    ASSERT_TRUE(KvReadPluginPipl(onlyName.data(), onlyName.size(), &names));
    EXPECT_EQ(names.name, "Only");
    EXPECT_EQ(names.category, "?");
    const Bytes none = WritePipl({});
    ASSERT_TRUE(KvReadPluginPipl(none.data(), none.size(), &names));
    EXPECT_EQ(names.name, "Only");
}

Bytes WithValue(Bytes bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<BYTE>(value >> (8 * i));
    return bytes;
}

TEST(PluginResources, EveryDamageToAListGivesNothingAndKeepsTheNames) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    std::vector<Case> cases = {
        {"a count beyond the properties", WithValue(kHandMadePipl, 2, 4)},
        {"the largest count", WithValue(kHandMadePipl, 2, 0xFFFFFFFF)},
        {"a length beyond the resource", WithValue(kHandMadePipl, 6 + 12, 200)},
        {"the largest length", WithValue(kHandMadePipl, 6 + 12, 0xFFFFFFFF)},
        {"a text longer than its property", WithValue(kHandMadePipl, 6 + 12, 3)},
        {"no bytes", {}},
    };
    for (std::size_t cut = 0; cut < kHandMadePipl.size(); ++cut)
        cases.push_back({"a cut list", Bytes(kHandMadePipl.begin(), kHandMadePipl.begin() + cut)});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " of " + std::to_string(c.bytes.size()) + " bytes");
        // An exact block, so that a read past the end is caught.
        const std::unique_ptr<BYTE[]> exact(new BYTE[c.bytes.size() + 1]);
        std::copy(c.bytes.begin(), c.bytes.end(), exact.get());
        KvPluginNames names{"kept", "kept too"};
        EXPECT_FALSE(KvReadPluginPipl(c.bytes.empty() ? nullptr : exact.get(), c.bytes.size(), &names));
        EXPECT_EQ(names.name, "kept");
        EXPECT_EQ(names.category, "kept too");
    }
}

// One suite, one event with an odd-length name (so alignment bytes appear), then a second event.
const Bytes kHandMadeAete = {
    1,   0,   0,   0,   0,   0,   1,   0,         // versions, language, script, one suite
    3,   'S', 'u', 'i', 0,                        // name "Sui", empty description: offset 13, aligned to 14
    0,                                            // alignment
    'e', 't', 'i', 'u', 1,   0,   1,   0,   2, 0, // suite id, level, version, two events
    2,   'E', 'v', 1,   'd',                      // name "Ev", description "d": offset 29, aligned to 30
    0,                                            // alignment
    'r', 't', 'l', 'F', 'v', 'E', 'v', 'K',       // event class, event id "KvEv"
    0,   0,                                       // no parameters
    0,   0,   0,   0,   0,   0,   0,   0,   0, 0, 0, 0, 0, // the second event, as far as anyone reads
};

TEST(PluginResources, TheScriptingIdIsTheFirstEventOfTheFirstSuite) {
    EXPECT_EQ(KvReadPluginAete(kHandMadeAete.data(), kHandMadeAete.size()),
              static_cast<DWORD>(FourCC("KvEv")));

    AeteEvent first{"Go", "", Code("Fltr"), Code("Frst"), {{Code("long"), 7, 1}}};
    AeteEvent second{"Later", "x", Code("Fltr"), Code("Scnd"), {}};
    const Bytes written = WriteAete(
        {{"First suite", "", Code("Sut1"), 1, 1, {first, second}}, {"Second", "", 2, 1, 1, {second}}});
    EXPECT_EQ(KvReadPluginAete(written.data(), written.size()), Code("Frst"));
    const Bytes noEvents = WriteAete({{"Empty", "", 1, 1, 1, {}}, {"Full", "", 2, 1, 1, {first}}});
    EXPECT_EQ(KvReadPluginAete(noEvents.data(), noEvents.size()), 0u) << "only the first suite counts";
    const Bytes noSuites = WriteAete({});
    EXPECT_EQ(KvReadPluginAete(noSuites.data(), noSuites.size()), 0u);
}

TEST(PluginResources, ADescriptionCutBeforeItsFirstEventIdGivesNoId) {
    const std::size_t idEnd = 38;
    for (std::size_t cut = 0; cut <= kHandMadeAete.size(); ++cut) {
        const std::unique_ptr<BYTE[]> exact(new BYTE[cut + 1]);
        std::copy(kHandMadeAete.begin(), kHandMadeAete.begin() + cut, exact.get());
        EXPECT_EQ(KvReadPluginAete(cut ? exact.get() : nullptr, cut),
                  cut < idEnd ? 0u : static_cast<DWORD>(FourCC("KvEv")))
            << "cut to " << cut;
    }
    Bytes longName = kHandMadeAete;
    longName[8] = 0xFF;
    EXPECT_EQ(KvReadPluginAete(longName.data(), longName.size()), 0u);
}

} // namespace
