#include "KvPluginResources.h"

#include "platform/plugins/KvFilterPlugin.h"

#include <cstdint>
#include <optional>

namespace {

// A bounded cursor over resource bytes: a read that does not fit fails and moves nothing.
class ResourceCursor {
public:
    ResourceCursor(const BYTE* bytes, std::size_t size) : m_bytes(bytes), m_size(bytes ? size : 0) {}

    bool Value(int width, std::uint32_t* value) {
        if (!Has(static_cast<std::uint64_t>(width)))
            return false;
        std::uint32_t v = 0;
        for (int i = 0; i < width; ++i)
            v |= static_cast<std::uint32_t>(m_bytes[m_position + i]) << (8 * i);
        m_position += static_cast<std::size_t>(width);
        *value = v;
        return true;
    }
    // A length byte and its letters.
    bool Text(std::string* text) {
        std::uint32_t length = 0;
        if (!Value(1, &length) || !Has(length))
            return false;
        if (text)
            text->assign(reinterpret_cast<const char*>(m_bytes + m_position), length);
        m_position += length;
        return true;
    }
    bool Skip(std::uint64_t count) {
        if (!Has(count))
            return false;
        m_position += static_cast<std::size_t>(count);
        return true;
    }
    // Moves to the next even offset.
    bool AlignEven() { return m_position % 2 == 0 || Skip(1); }
    bool Has(std::uint64_t count) const { return count <= m_size - m_position; }
    std::size_t Position() const { return m_position; }

private:
    const BYTE* m_bytes;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// The text of a name or category property: a length byte and letters within the property's data.
bool PropertyText(const BYTE* data, std::uint32_t length, std::string* text) {
    ResourceCursor cursor(data, length);
    return cursor.Text(text);
}

} // namespace

bool KvReadPluginPipl(const BYTE* bytes, std::size_t size, KvPluginNames* names) {
    ResourceCursor cursor(bytes, size);
    std::uint32_t count = 0;
    if (!cursor.Skip(2) || !cursor.Value(4, &count))
        return false;
    std::optional<std::string> name, category;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t vendor = 0, key = 0, id = 0, length = 0;
        if (!cursor.Value(4, &vendor) || !cursor.Value(4, &key) || !cursor.Value(4, &id) ||
            !cursor.Value(4, &length))
            return false;
        const BYTE* data = bytes + cursor.Position();
        const std::uint64_t padded = (static_cast<std::uint64_t>(length) + 3) & ~std::uint64_t{3};
        if (!cursor.Has(padded))
            return false;
        if (key == KvPlugin::kKeyName || key == KvPlugin::kKeyCategory) {
            std::string text;
            if (!PropertyText(data, length, &text))
                return false;
            (key == KvPlugin::kKeyName ? name : category) = std::move(text);
        }
        cursor.Skip(padded);
    }
    if (name)
        names->name = *name;
    if (category)
        names->category = *category;
    return true;
}

DWORD KvReadPluginAete(const BYTE* bytes, std::size_t size) {
    ResourceCursor cursor(bytes, size);
    std::uint32_t suites = 0, unused = 0;
    if (!cursor.Skip(6) || !cursor.Value(2, &suites) || suites == 0)
        return 0;
    std::uint32_t events = 0;
    if (!cursor.Text(nullptr) || !cursor.Text(nullptr) || !cursor.AlignEven() || !cursor.Value(4, &unused) ||
        !cursor.Skip(4) || !cursor.Value(2, &events) || events == 0)
        return 0;
    std::uint32_t eventId = 0;
    if (!cursor.Text(nullptr) || !cursor.Text(nullptr) || !cursor.AlignEven() || !cursor.Value(4, &unused) ||
        !cursor.Value(4, &eventId))
        return 0;
    return eventId;
}
