#include "CUtlXmlDocument.h"

#include "platform/win/utf16.h"
#include "platform/xml/KvXml.h"

#include <libxml/chvalid.h>
#include <libxml/parser.h>

#include <climits>
#include <cstring>

namespace {

// The most elements of one name that a position may count to.
constexpr LONG kMaxPosition = 1 << 20;

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

struct XmlTextReleaser {
    void operator()(xmlChar* text) const { xmlFree(text); }
};

const xmlChar* Xml(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

bool IsElement(xmlNodePtr node, const std::string& name) {
    return node->type == XML_ELEMENT_NODE && !node->ns &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name.c_str()) == 0;
}

// One step of a settable path: an element of a name at a position (from 1), or the last step's attribute.
struct PathStep {
    std::string name;
    LONG position = 1;
    bool attribute = false;
};

bool IsName(const std::string& name) {
    return !name.empty() && xmlValidateNCName(Xml(name), 0) == 0;
}

bool ParsePosition(const std::string& digits, LONG& position) {
    if (digits.empty() || digits.size() > 7)
        return false;
    LONG value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kMaxPosition)
        return false;
    position = value;
    return true;
}

bool ParsePath(const std::string& key, std::vector<PathStep>& steps) {
    std::size_t start = 0;
    while (start <= key.size()) {
        const std::size_t end = std::min(key.find('/', start), key.size());
        const std::string segment = key.substr(start, end - start);
        PathStep step;
        if (!segment.empty() && segment[0] == '@') {
            step.attribute = true;
            step.name = segment.substr(1);
            if (end != key.size())
                return false;
        } else {
            const std::size_t open = segment.find('[');
            step.name = segment.substr(0, open);
            if (open != std::string::npos &&
                (segment.back() != ']' ||
                 !ParsePosition(segment.substr(open + 1, segment.size() - open - 2), step.position)))
                return false;
        }
        if (!IsName(step.name))
            return false;
        steps.push_back(step);
        start = end + 1;
    }
    return !steps.empty();
}

// The position-th child element of the name, and how many of that name there are.
xmlNodePtr FindChild(xmlNodePtr parent, const PathStep& step, LONG& count) {
    count = 0;
    xmlNodePtr found = nullptr;
    for (xmlNodePtr node = parent->children; node; node = node->next) {
        if (IsElement(node, step.name) && ++count == step.position)
            found = node;
    }
    return found;
}

// Walks the elements of the path below the root; with make, makes the missing ones. Without make it only
// says whether a walk with make would succeed, changing nothing.
xmlNodePtr WalkElements(xmlNodePtr root, const std::vector<PathStep>& steps, bool make) {
    xmlNodePtr node = root;
    bool made = false;
    for (const PathStep& step : steps) {
        if (step.attribute)
            break;
        LONG count = 0;
        xmlNodePtr child = made ? nullptr : FindChild(node, step, count);
        if (!child) {
            if (step.position != count + 1)
                return nullptr;
            made = true;
            if (!make)
                continue;
            child = xmlNewChild(node, nullptr, Xml(step.name), nullptr);
            if (!child)
                return nullptr;
        }
        node = child;
    }
    return node;
}

bool XmlCanHold(const std::wstring& value) {
    for (wchar_t c : value) {
        if (!xmlIsCharQ(static_cast<unsigned int>(c)))
            return false;
    }
    return true;
}

} // namespace

std::unique_ptr<CUtlXmlDocument> CUtlXmlDocument::Parse(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxFileBytes)
        return nullptr;
    KvXmlTreePtr tree = KvXmlParse(data, size);
    if (!tree || !xmlDocGetRootElement(tree.get()))
        return nullptr;
    return std::unique_ptr<CUtlXmlDocument>(new CUtlXmlDocument(tree.release()));
}

std::unique_ptr<CUtlXmlDocument> CUtlXmlDocument::Empty() {
    InitialiseOnce();
    KvXmlTreePtr tree(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    if (!tree)
        return nullptr;
    xmlNodePtr root =
        xmlNewDocNode(tree.get(), nullptr, reinterpret_cast<const xmlChar*>(kEmptyRootName), nullptr);
    if (!root)
        return nullptr;
    xmlDocSetRootElement(tree.get(), root);
    return std::unique_ptr<CUtlXmlDocument>(new CUtlXmlDocument(tree.release()));
}

CUtlXmlDocument::~CUtlXmlDocument() {
    xmlFreeDoc(m_tree);
}

std::optional<std::wstring> CUtlXmlDocument::GetValue(const wchar_t* key) {
    std::lock_guard<std::mutex> guard(m_lock);
    return KvXmlValue(m_tree, xmlDocGetRootElement(m_tree), key);
}

bool CUtlXmlDocument::SetValue(const wchar_t* key, const wchar_t* value) {
    if (!key || !value)
        return false;
    const std::wstring wideValue(value);
    std::vector<PathStep> steps;
    if (!XmlCanHold(wideValue) || !ParsePath(Utf::WideToUtf8(key), steps))
        return false;
    const std::string text = Utf::WideToUtf8(wideValue);
    std::lock_guard<std::mutex> guard(m_lock);
    xmlNodePtr root = xmlDocGetRootElement(m_tree);
    if (!root || !WalkElements(root, steps, false))
        return false;
    xmlNodePtr node = WalkElements(root, steps, true);
    if (!node)
        return false;
    if (steps.back().attribute)
        return xmlSetProp(node, Xml(steps.back().name), Xml(text)) != nullptr;
    // Text nodes keep their content literally; it is escaped when saved.
    xmlNodeSetContent(node, nullptr);
    if (text.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    xmlNodeAddContentLen(node, Xml(text), static_cast<int>(text.size()));
    return true;
}

bool CUtlXmlDocument::Serialize(std::vector<std::uint8_t>& out) {
    std::lock_guard<std::mutex> guard(m_lock);
    xmlChar* memory = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(m_tree, &memory, &size, "UTF-8", 1);
    std::unique_ptr<xmlChar, XmlTextReleaser> owned(memory);
    if (!memory || size <= 0)
        return false;
    out.assign(memory, memory + size);
    return true;
}
