// Writes the resources a filter plug-in carries (KvFilterPlugin.h gives their byte layouts): a property
// list with the plug-in's name and category, and a scripting description with its suites and events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace KvPlugin {

using ResourceBytes = std::vector<std::uint8_t>;

struct PiplProperty {
    std::uint32_t vendor = 0;
    std::uint32_t key = 0;
    std::uint32_t id = 0;
    ResourceBytes data;
};

// A property whose data is a text with its length byte; a text above 255 bytes is cut to 255.
PiplProperty PiplText(std::uint32_t key, const std::string& text, std::uint32_t vendor = 0);
ResourceBytes WritePipl(const std::vector<PiplProperty>& properties, std::uint16_t version = 1);

struct AeteParameter {
    std::uint32_t eventClass = 0;
    std::uint32_t id = 0;
    std::uint16_t flags = 0;
};

struct AeteEvent {
    std::string name;
    std::string description;
    std::uint32_t eventClass = 0;
    std::uint32_t id = 0;
    std::vector<AeteParameter> parameters;
};

struct AeteSuite {
    std::string name;
    std::string description;
    std::uint32_t id = 0;
    std::uint16_t level = 1;
    std::uint16_t version = 1;
    std::vector<AeteEvent> events;
};

ResourceBytes WriteAete(const std::vector<AeteSuite>& suites);

} // namespace KvPlugin
