#include "TestPluginResources.h"

#include "platform/plugins/KvFilterPlugin.h"
#include "platform/win/FourCC.h"

namespace KvTestPlugins {

namespace {

using namespace KvPlugin;

constexpr std::uint32_t kVendor = static_cast<std::uint32_t>(FourCC("KvTs"));
constexpr std::uint32_t kSuite = static_cast<std::uint32_t>(FourCC("KvTP"));

ResourceBytes NameAndCategory(const std::string& name, const std::string& category) {
    return WritePipl({PiplText(kKeyCategory, category, kVendor), PiplText(kKeyName, name, kVendor)});
}

// One suite whose first event names the plug-in; a second event and a parameter, as real descriptions
// carry more than the host reads.
ResourceBytes ScriptingEvent(const std::string& name, const char (&eventId)[5]) {
    AeteEvent event{name,
                    name + " the image",
                    static_cast<std::uint32_t>(FourCC("Fltr")),
                    static_cast<std::uint32_t>(FourCC(eventId)),
                    {{static_cast<std::uint32_t>(FourCC("long")), 1, 0}}};
    AeteEvent later{"Later",
                    "not the first event",
                    static_cast<std::uint32_t>(FourCC("Fltr")),
                    static_cast<std::uint32_t>(FourCC("Ltr ")),
                    {}};
    return WriteAete({{"Test filters", "filters of the test suite", kSuite, 1, 1, {event, later}}});
}

std::vector<Resources> Build() {
    std::vector<Resources> all = {
        {"KvInvert", NameAndCategory("Invert", "Test Filters"), ScriptingEvent("Invert", "KvIv")},
        {"KvBlur", NameAndCategory("Box Blur", "Test Filters"), ScriptingEvent("Blur", "KvBl")},
        {"KvDialogGain", NameAndCategory("Gain…", "Test Filters"), ScriptingEvent("Gain", "KvDg")},
        {"KvSuites", NameAndCategory("Suites", "Test Host"), ScriptingEvent("Suites", "KvSt")},
        {"KvProgress", NameAndCategory("Banded Invert", "Test Host"), ScriptingEvent("Bands", "KvPg")},
        {"KvMisbehave", NameAndCategory("Misbehave", "Test Host"), ScriptingEvent("Misbehave", "KvMb")},
        {"KvNoEntry", NameAndCategory("No Entry", "Test Host"), {}},
        {"KvNoResources", {}, {}},
    };

    // A property list whose second property claims more data than the resource holds: the high byte of
    // its length, behind the version, the count, the first property's header and its padded text.
    const std::string category = "Test Host";
    Resources badPipl{"KvBadPipl", NameAndCategory("Bad List", category), ScriptingEvent("Bad", "KvBp")};
    const std::size_t second = 2 + 4 + 16 + ((1 + category.size() + 3) & ~std::size_t{3});
    badPipl.pipl[second + 12 + 3] = 0x7F;
    all.push_back(badPipl);

    // A description whose first suite's name claims more letters than the resource holds.
    Resources badAete{"KvBadAete", NameAndCategory("Bad Description", category),
                      ScriptingEvent("Bad", "KvBa")};
    badAete.aete[8] = 0xFF;
    all.push_back(badAete);
    return all;
}

} // namespace

const std::vector<Resources>& AllResources() {
    static const std::vector<Resources> all = Build();
    return all;
}

const Resources* ResourcesOf(const std::string& library) {
    for (const Resources& r : AllResources())
        if (r.library == library)
            return &r;
    return nullptr;
}

} // namespace KvTestPlugins
