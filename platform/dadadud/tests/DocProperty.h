// What the document library's suites share: a property read with a buffer of ample room.
#pragma once

#include "platform/dadadud/DadaDud.h"

#include <optional>
#include <string>
#include <vector>

// Nothing when the library refuses the property.
inline std::optional<std::wstring> Property(DocHandle object, const wchar_t* path) {
    std::vector<wchar_t> buffer(4096, L'#');
    LONG count = static_cast<LONG>(buffer.size() - 1);
    if (docGetPropertyValue(object, path, buffer.data(), &count, 0) != 1)
        return std::nullopt;
    return std::wstring(buffer.data(), static_cast<std::size_t>(count));
}
