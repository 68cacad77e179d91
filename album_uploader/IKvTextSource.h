// Where the uploader's texts come from: the language library, or the library's own resources.
#pragma once

#include <cstdint>
#include <string>

class IKvTextSource {
public:
    virtual ~IKvTextSource() = default;
    // The text with the id; false when there is none.
    virtual bool LoadText(std::uint32_t id, std::string& text) const = 0;
};
