#include "KvPluginResourceWriter.h"

#include <algorithm>

namespace KvPlugin {

namespace {

void PutValue(ResourceBytes& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutText(ResourceBytes& out, const std::string& text) {
    const std::size_t length = std::min<std::size_t>(text.size(), 255);
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

void PadTo(ResourceBytes& out, std::size_t multiple) {
    while (out.size() % multiple != 0)
        out.push_back(0);
}

} // namespace

PiplProperty PiplText(std::uint32_t key, const std::string& text, std::uint32_t vendor) {
    PiplProperty property;
    property.vendor = vendor;
    property.key = key;
    PutText(property.data, text);
    return property;
}

ResourceBytes WritePipl(const std::vector<PiplProperty>& properties, std::uint16_t version) {
    ResourceBytes out;
    PutValue(out, version, 2);
    PutValue(out, properties.size(), 4);
    for (const PiplProperty& p : properties) {
        PutValue(out, p.vendor, 4);
        PutValue(out, p.key, 4);
        PutValue(out, p.id, 4);
        PutValue(out, p.data.size(), 4);
        out.insert(out.end(), p.data.begin(), p.data.end());
        for (std::size_t padded = p.data.size(); padded % 4 != 0; ++padded)
            out.push_back(0);
    }
    return out;
}

ResourceBytes WriteAete(const std::vector<AeteSuite>& suites) {
    ResourceBytes out;
    PutValue(out, 1, 1);
    PutValue(out, 0, 1);
    PutValue(out, 0, 2);
    PutValue(out, 0, 2);
    PutValue(out, suites.size(), 2);
    for (const AeteSuite& suite : suites) {
        PutText(out, suite.name);
        PutText(out, suite.description);
        PadTo(out, 2);
        PutValue(out, suite.id, 4);
        PutValue(out, suite.level, 2);
        PutValue(out, suite.version, 2);
        PutValue(out, suite.events.size(), 2);
        for (const AeteEvent& event : suite.events) {
            PutText(out, event.name);
            PutText(out, event.description);
            PadTo(out, 2);
            PutValue(out, event.eventClass, 4);
            PutValue(out, event.id, 4);
            PutValue(out, event.parameters.size(), 2);
            for (const AeteParameter& parameter : event.parameters) {
                PutValue(out, parameter.eventClass, 4);
                PutValue(out, parameter.id, 4);
                PutValue(out, parameter.flags, 2);
            }
        }
    }
    return out;
}

} // namespace KvPlugin
