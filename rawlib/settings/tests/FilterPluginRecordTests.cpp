#include "RecordConformance.h"

#include "platform/plugins/testplugins/KvTestPluginProbe.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/CPluginWin.h"
#include "rawlib/settings/CKvFilterPluginList.h"
#include "rawlib/settings/CKvUSM.h"
#include "rawlib/settings/KvPluginInfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

using kvtest::Bytes;
using kvtest::Hex;
using kvtest::RecordBytes;
using kvtest::RecordDescription;

const DWORD kInvertId = static_cast<DWORD>(FourCC("KvIv"));
const DWORD kBlurId = static_cast<DWORD>(FourCC("KvBl"));
const DWORD kGainId = static_cast<DWORD>(FourCC("KvDg"));
const DWORD kGoneId = static_cast<DWORD>(FourCC("Gone"));  // installed, but its file is not there
const DWORD kNeverId = static_cast<DWORD>(FourCC("Nevr")); // not installed

KvPluginInfo Installed(const std::string& path, DWORD id) {
    KvPluginInfo info;
    info.path = path.c_str();
    info.scriptingId = id;
    return info;
}

void InstallTestPlugins(bool withEmptyPath = false) {
    std::vector<KvPluginInfo> table = {
        Installed(KvTestPlugins::PathOf("KvInvert"), kInvertId),
        Installed(KvTestPlugins::PathOf("KvBlur"), kBlurId),
        Installed(KvTestPlugins::PathOf("KvDialogGain"), kGainId),
        Installed(KvTestPlugins::PathOf("KvRemovedSinceItWasStored"), kGoneId)};
    if (withEmptyPath)
        table.push_back(Installed("", 0));
    KvInstalledPlugins::Set(std::move(table));
}

// A step holding a fresh plug-in object of the library, with its own parameter block.
CKvFilterPlugins Step(const std::string& library, BYTE flag, const Bytes& parameters) {
    CKvFilterPlugins step;
    CPluginWin* plugin = CPluginWin::Create();
    if (!step.Attach(KvTestPlugins::PathOf(library).c_str(), plugin)) {
        delete plugin;
        ADD_FAILURE() << "cannot attach " << library;
        return step;
    }
    step.SetFlag(flag);
    step.GetPlugin()->SetParameters(parameters.empty() ? nullptr : parameters.data(),
                                    static_cast<LONG>(parameters.size()));
    return step;
}

Bytes ParametersOf(const CKvFilterPlugins& step) {
    Bytes bytes(static_cast<std::size_t>(step.GetPlugin() ? step.GetPlugin()->GetParameterSize() : 0));
    if (!bytes.empty())
        step.GetPlugin()->GetParameters(bytes.data(), static_cast<LONG>(bytes.size()));
    return bytes;
}

// A step's record built by hand: scripting id, flag, parameter size and block, name and its zero.
Bytes StepBytes(DWORD id, BYTE flag, const Bytes& parameters, const std::string& name, WORD version = 1) {
    return RecordBytes(KvStateIds::kFilterPlugins, version)
        .Length()
        .U32(id)
        .U8(flag)
        .U32(static_cast<DWORD>(parameters.size()))
        .Raw(parameters)
        .Raw(Bytes(name.begin(), name.end()))
        .U8(0);
}

const Bytes kSampleParameters = {0x11, 0x22, 0x33};

// A step of one of three plug-ins with a random flag and up to `longest` random parameter bytes.
CKvFilterPlugins RandomStep(std::mt19937& random, unsigned longest) {
    static const char* const kLibraries[] = {"KvInvert", "KvBlur", "KvDialogGain"};
    Bytes parameters(random() % (longest + 1));
    for (BYTE& b : parameters)
        b = static_cast<BYTE>(random());
    return Step(kLibraries[random() % 3], static_cast<BYTE>(random()), parameters);
}

// The length of the text at `at`, up to its zero or the end of the first `cut` bytes.
int TextLength(const Bytes& bytes, int at, int cut) {
    int n = 0;
    while (at + n < cut && bytes[static_cast<std::size_t>(at + n)] != 0)
        ++n;
    return n;
}

struct FilterPluginsRecord {
    using Record = CKvFilterPlugins;
    static RecordDescription<CKvFilterPlugins> Describe() {
        InstallTestPlugins();
        RecordDescription<CKvFilterPlugins> s;
        s.policy = KvVersionPolicy::kZeroResets;
        s.version = 1;
        s.sample = [] { return Step("KvInvert", 0, kSampleParameters); };
        const auto attachLike = [](CKvFilterPlugins& to, const CKvFilterPlugins& from) {
            if (!to.GetPlugin())
                to = Step("KvInvert", to.GetFlag(), {});
            (void)from;
        };
        s.fields = {
            {"scripting id", 22, 4, attachLike},
            {"flag", 26, 1, [](auto& to, const auto& from) { to.SetFlag(from.GetFlag()); }},
            {"parameter size", 27, 4, nullptr},
            {"parameters", 31, 3,
             [attachLike](auto& to, const auto& from) {
                 attachLike(to, from);
                 to.GetPlugin()->SetParameters(kSampleParameters.data(), 3);
             }},
            {"the plug-in's name", 34, 7, nullptr},
        };
        s.defaultRecord = Hex("F2 B6 6C 97 8B 92 31 45 BF A4 78 0E 8D F2 F4 E7  01 00  0E 00 00 00"
                              "00 00 00 00  01  00 00 00 00  00");
        // Size n + s + 32: the parameter size read (0 before it), and the name found where the record
        // puts it, at 31 + n when the parameters are all there and at 31 otherwise, up to its zero or the
        // end of what is there.
        s.cutResult = [](int cut) {
            CKvFilterPlugins sample = Step("KvInvert", 0, kSampleParameters);
            const Bytes bytes = kvtest::WriteRecord(sample);
            const int n = cut >= 31 ? 3 : 0;
            const int nameAt = cut >= 31 + n ? 31 + n : 31;
            return n + TextLength(bytes, nameAt, cut) + 32;
        };
        const KvStateId& id = KvStateIds::kFilterPlugins;
        s.cases = {
            {"the name stored is the plug-in's own, whatever the record says",
             StepBytes(kBlurId, 1, {7, 0, 0, 0}, "Some other name"), 4 + 15 + 32,
             [] {
                 return Step("KvBlur", 1, {7, 0, 0, 0});
             }},
            {"parameters cut short are not handed over",
             RecordBytes(id, 1).Length().U32(kBlurId).U8(2).U32(10).U8(0x41).U8(0x42), 10 + 2 + 32,
             [] { return Step("KvBlur", 2, {}); }},
            {"the largest parameter size saturates the result",
             RecordBytes(id, 1).Length().U32(kGainId).U8(1).U32(0xFFFFFFFF).U8(0), INT_MAX,
             [] { return Step("KvDialogGain", 1, {}); }},
            {"a step without parameters hands over none", StepBytes(kInvertId, 5, {}, "Invert"), 38,
             [] { return Step("KvInvert", 5, {}); }},
        };
        s.randomize = [](CKvFilterPlugins& step, std::mt19937& random) { step = RandomStep(random, 23); };
        return s;
    }
};

Bytes StepRecord(CKvFilterPlugins step) {
    return kvtest::WriteRecord(step);
}

CKvFilterPluginList List(std::initializer_list<CKvFilterPlugins> steps) {
    CKvFilterPluginList list;
    for (const CKvFilterPlugins& step : steps)
        list.Append(step);
    return list;
}

CKvFilterPluginList SampleList() {
    return List({Step("KvInvert", 0, {1, 2}), Step("KvBlur", 1, {3}), Step("KvDialogGain", 9, {})});
}

struct FilterPluginListRecord {
    using Record = CKvFilterPluginList;
    static RecordDescription<CKvFilterPluginList> Describe() {
        InstallTestPlugins();
        RecordDescription<CKvFilterPluginList> s;
        s.policy = KvVersionPolicy::kZeroRejects;
        s.version = 1;
        s.zeroVersionEmpties = true;
        s.sample = SampleList;
        s.fields = {{"step count", 22, 2, nullptr}};
        std::vector<int> ends;
        int at = 24;
        const CKvFilterPluginList sample = SampleList();
        for (std::size_t i = 0; i < sample.GetCount(); ++i) {
            const int size = static_cast<int>(StepRecord(sample.GetStep(i)).size());
            static const char* const kNames[] = {"first step", "second step", "third step"};
            s.fields.push_back(
                {kNames[i], at, size, [i](auto& to, const auto& from) { to.Append(from.GetStep(i)); }});
            at += size;
            ends.push_back(at);
        }
        s.defaultRecord = Hex("23 A0 2C 1C 25 C3 2C 4A 80 4A 57 80 56 2F DE 63  01 00  06 00 00 00  00 00");
        // 24 and the steps that are wholly there: a cut step claims more than remains and ends the list.
        s.cutResult = [ends](int cut) {
            int result = 24;
            for (int end : ends)
                if (end <= cut)
                    result = end;
            return result;
        };
        const KvStateId& id = KvStateIds::kFilterPluginList;
        const Bytes invert = StepRecord(Step("KvInvert", 0, {1, 2}));
        const Bytes blur = StepRecord(Step("KvBlur", 1, {3}));
        const Bytes empty = StepRecord(CKvFilterPlugins());
        s.cases = {
            {"a count beyond the steps present keeps those present",
             RecordBytes(id, 1).Length().U16(5).Raw(invert).Raw(blur),
             static_cast<int>(24 + invert.size() + blur.size()),
             [] {
                 return List({Step("KvInvert", 0, {1, 2}), Step("KvBlur", 1, {3})});
             }},
            {"a record of another type among the steps ends the list",
             RecordBytes(id, 1)
                 .Length()
                 .U16(3)
                 .Raw(invert)
                 .Raw(kvtest::WithId(blur, KvStateIds::kUsm.stored))
                 .Raw(blur),
             static_cast<int>(24 + invert.size()),
             [] {
                 return List({Step("KvInvert", 0, {1, 2})});
             }},
            {"a step without a plug-in stays a step", RecordBytes(id, 1).Length().U16(1).Raw(empty), 24 + 32,
             [] { return List({CKvFilterPlugins()}); }},
            {"a step that claims more than the list holds ends it",
             RecordBytes(id, 1).Length().U16(2).Raw(invert).Raw(Bytes(blur.begin(), blur.end() - 1)),
             static_cast<int>(24 + invert.size()),
             [] {
                 return List({Step("KvInvert", 0, {1, 2})});
             }},
        };
        s.randomize = [](CKvFilterPluginList& list, std::mt19937& random) {
            for (int count = static_cast<int>(random() % 5); count > 0; --count)
                list.Append(RandomStep(random, 8));
        };
        return s;
    }
};

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(FilterPlugins, RecordConformance, FilterPluginsRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(FilterPluginList, RecordConformance, FilterPluginListRecord);
} // namespace kvtest

namespace {

TEST(FilterPluginRecords, AStepWhosePluginIsNotInstalledComesBackAsItsNameAndIsLeftOutWhenWritten) {
    InstallTestPlugins();
    const Bytes stored = RecordBytes(KvStateIds::kFilterPluginList, 1)
                             .Length()
                             .U16(3)
                             .Raw(StepBytes(kInvertId, 0, {1}, "Invert"))
                             .Raw(StepBytes(kNeverId, 1, {5, 6, 7}, "Never Installed"))
                             .Raw(StepBytes(kBlurId, 1, {}, "Box Blur"));
    CKvFilterPluginList list;
    ASSERT_EQ(kvtest::ReadRecord(list, stored), static_cast<int>(stored.size()));
    ASSERT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.GetStep(0).GetScriptingId(), kInvertId);
    EXPECT_EQ(list.GetStep(1).GetScriptingId(), kBlurId);
    ASSERT_EQ(list.GetMissingNames().size(), 1u);
    EXPECT_STREQ(list.GetMissingNames()[0], "Never Installed");
    EXPECT_EQ(kvtest::HexText(kvtest::WriteRecord(list)),
              kvtest::HexText(RecordBytes(KvStateIds::kFilterPluginList, 1)
                                  .Length()
                                  .U16(2)
                                  .Raw(StepBytes(kInvertId, 0, {1}, "Invert"))
                                  .Raw(StepBytes(kBlurId, 1, {}, "Box Blur"))));
}

// A stored step whose plug-in file went away is not installed any more; the steps after it survive.
TEST(FilterPluginRecords, AStepWhosePluginCannotBeLoadedDoesNotEndTheList) {
    InstallTestPlugins();
    const Bytes stored = RecordBytes(KvStateIds::kFilterPluginList, 1)
                             .Length()
                             .U16(3)
                             .Raw(StepBytes(kGoneId, 1, {9}, "Gone"))
                             .Raw(StepBytes(kBlurId, 1, {2, 0, 0, 0}, "Box Blur"))
                             .Raw(StepBytes(kGainId, 0, {}, "Gain"));
    CKvFilterPluginList list;
    ASSERT_EQ(kvtest::ReadRecord(list, stored), static_cast<int>(stored.size()));
    ASSERT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(ParametersOf(list.GetStep(0)), (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(list.GetStep(1).GetFlag(), 0);
    ASSERT_EQ(list.GetMissingNames().size(), 1u);
    EXPECT_STREQ(list.GetMissingNames()[0], "Gone");
}

TEST(FilterPluginRecords, AStepWithoutAScriptingIdIsNotFound) {
    for (bool withEmptyPath : {false, true}) {
        InstallTestPlugins(withEmptyPath);
        CKvFilterPlugins step;
        const Bytes stored = StepBytes(0, 1, {}, "Unscripted");
        EXPECT_EQ(kvtest::ReadRecord(step, stored), static_cast<int>(stored.size()));
        EXPECT_TRUE(step.IsEmpty());
        EXPECT_STREQ(step.GetMissingName(), "Unscripted")
            << (withEmptyPath ? "the entry without a path cannot be loaded" : "no entry matches");
    }
    InstallTestPlugins();
}

TEST(FilterPluginRecords, CopiesShareThePluginObjectAndCountTheirUses) {
    InstallTestPlugins();
    CKvFilterPluginList list = SampleList();
    IPlugin* invert = list.GetStep(0).GetPlugin();
    ASSERT_EQ(invert->GetUseCount(), 1);
    {
        CKvFilterPluginList copy(list);
        EXPECT_EQ(copy.GetStep(0).GetPlugin(), invert);
        EXPECT_EQ(invert->GetUseCount(), 2);
        CKvFilterPluginList another;
        another = copy;
        EXPECT_EQ(invert->GetUseCount(), 3);
        EXPECT_TRUE(another == list);
    }
    EXPECT_EQ(invert->GetUseCount(), 1);

    // Assigning a step to itself, or to a copy of itself, keeps the plug-in it holds.
    CKvFilterPlugins& step = list.GetStep(0);
    CKvFilterPlugins& alias = step;
    step = alias;
    EXPECT_EQ(step.GetPlugin(), invert);
    EXPECT_EQ(invert->GetUseCount(), 1);
    const CKvFilterPlugins copy(step);
    step = copy;
    EXPECT_EQ(step.GetPlugin(), invert);
    EXPECT_EQ(invert->GetUseCount(), 2);
    EXPECT_EQ(ParametersOf(step), (Bytes{1, 2}));
}

TEST(FilterPluginRecords, DetachingLetsThePluginGoWithItsLastUse) {
    InstallTestPlugins();
    CKvFilterPlugins step = Step("KvBlur", 0, {4});
    CKvFilterPlugins copy(step);
    IPlugin* blur = step.GetPlugin();
    step.Detach();
    EXPECT_TRUE(step.IsEmpty());
    EXPECT_EQ(step.GetFlag(), 1);
    EXPECT_EQ(step.GetScriptingId(), 0u);
    EXPECT_EQ(blur->GetUseCount(), 1) << "the copy still holds it";
    copy.Detach(); // the last use: the plug-in object goes (the leak check sees it go)
    EXPECT_EQ(StepRecord(copy).size(), static_cast<std::size_t>(CKvFilterPlugins::kEmptyRecordSize));

    CKvFilterPlugins failed;
    CPluginWin unloadable;
    EXPECT_FALSE(failed.Attach(KvTestPlugins::PathOf("KvNoEntry").c_str(), &unloadable));
    EXPECT_TRUE(failed.IsEmpty());
    EXPECT_EQ(unloadable.GetUseCount(), 0);
}

TEST(FilterPluginRecords, ARecordOfAnotherTypeLeavesTheMissingNamesAlone) {
    InstallTestPlugins();
    CKvFilterPlugins step;
    ASSERT_GT(kvtest::ReadRecord(step, StepBytes(kNeverId, 1, {}, "Kept")), 0);
    CKvUSM usm;
    const Bytes foreign = kvtest::WriteRecord(usm);
    EXPECT_EQ(kvtest::ReadRecord(step, foreign), 0);
    EXPECT_STREQ(step.GetMissingName(), "Kept");

    CKvFilterPluginList list;
    ASSERT_GT(kvtest::ReadRecord(list, RecordBytes(KvStateIds::kFilterPluginList, 1)
                                           .Length()
                                           .U16(1)
                                           .Raw(StepBytes(kNeverId, 1, {}, "Kept"))),
              0);
    EXPECT_EQ(kvtest::ReadRecord(list, foreign), 0);
    EXPECT_EQ(list.GetMissingNames().size(), 1u);
    EXPECT_EQ(kvtest::ReadRecord(list, RecordBytes(KvStateIds::kFilterPluginList, 0).Length().U16(0)), 0);
    EXPECT_TRUE(list.GetMissingNames().empty()) << "a list's own record of version 0 empties it";
}

TEST(FilterPluginRecords, AListIsEmptyWhenNoStepHoldsAPlugin) {
    InstallTestPlugins();
    EXPECT_TRUE(CKvFilterPluginList().IsEmpty());
    EXPECT_TRUE(List({CKvFilterPlugins(), CKvFilterPlugins()}).IsEmpty());
    EXPECT_FALSE(List({CKvFilterPlugins(), Step("KvInvert", 1, {})}).IsEmpty());
}

TEST(FilterPluginRecords, InstalledPluginsMatchByScriptingIdElseByPathIgnoringCase) {
    struct Case {
        DWORD idA;
        const char* pathA;
        DWORD idB;
        const char* pathB;
        bool same;
    };
    const Case cases[] = {
        {5, "/a/x.so", 5, "/b/y.so", true},
        {5, "/a/x.so", 6, "/a/x.so", true},
        {5, "/a/x.so", 6, "/b/y.so", false},
        {0, "/a/X.SO", 0, "/a/x.so", true},
        {0, "", 7, "", true},
        {0, "/a/x.so", 0, "/a/x.s", false},
    };
    for (const Case& c : cases) {
        KvPluginInfo a = Installed(c.pathA, c.idA), b = Installed(c.pathB, c.idB);
        EXPECT_EQ(a == b, c.same) << c.pathA << " " << c.idA << " / " << c.pathB << " " << c.idB;
    }
}

} // namespace
