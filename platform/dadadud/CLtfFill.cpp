#include "CLtfFill.h"

#include <libxml/tree.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const xmlChar* X(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

bool IsElement(const xmlNode* node, const char* name) {
    return node && node->type == XML_ELEMENT_NODE && !node->ns &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::vector<xmlNodePtr> Children(xmlNodePtr parent, const char* name) {
    std::vector<xmlNodePtr> found;
    for (xmlNodePtr node = parent ? parent->children : nullptr; node; node = node->next) {
        if (IsElement(node, name))
            found.push_back(node);
    }
    return found;
}

std::string Text(xmlNodePtr node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

std::string Attribute(xmlNodePtr node, const char* name) {
    xmlChar* value = xmlGetNoNsProp(node, X(name));
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

// What one bundle object offers to references: its content (the host's item id) and its captions by kind.
struct BundleObject {
    std::string content;
    std::vector<std::pair<std::string, std::string>> captions;
};

// A reference "#<index>/content" or "#<index>/caption/<kind>" (surrounding blanks allowed).
struct Reference {
    std::size_t index = 0;
    bool content = false;
    std::string kind;
};

bool ParseReference(std::string text, Reference& reference) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos || text[first] != '#')
        return false;
    text = text.substr(first + 1, last - first);
    std::size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0 || digits == text.size() || text[digits] != '/')
        return false;
    reference.index = std::strtoul(text.substr(0, digits).c_str(), nullptr, 10);
    const std::string rest = text.substr(digits + 1);
    if (rest == "content") {
        reference.content = true;
        return true;
    }
    constexpr const char* kCaption = "caption/";
    if (rest.compare(0, std::strlen(kCaption), kCaption) != 0 || rest.size() == std::strlen(kCaption))
        return false;
    reference.kind = rest.substr(std::strlen(kCaption));
    return true;
}

// The value a reference names in the instance whose first object is at base, or false when it has none.
bool Resolve(const Reference& reference, std::size_t base, std::size_t clusterObjects,
             const std::vector<BundleObject>& objects, std::string& value) {
    if (reference.index >= clusterObjects || base + reference.index >= objects.size())
        return false;
    const BundleObject& object = objects[base + reference.index];
    if (reference.content) {
        value = object.content;
        return !value.empty();
    }
    for (const auto& [kind, text] : object.captions) {
        if (kind == reference.kind) {
            value = text;
            return true;
        }
    }
    return false;
}

// Resolves the references inside the copied item's content; false when one names nothing, so that the
// item goes.
bool ResolveItem(xmlNodePtr item, std::size_t base, std::size_t clusterObjects,
                 const std::vector<BundleObject>& objects) {
    for (xmlNodePtr content : Children(item, "content")) {
        for (xmlNodePtr node = content->children; node; node = node->next) {
            if (node->type != XML_ELEMENT_NODE)
                continue;
            Reference reference;
            if (!ParseReference(Text(node), reference))
                continue;
            std::string value;
            if (!Resolve(reference, base, clusterObjects, objects, value))
                return false;
            xmlNodeSetContent(node, nullptr);
            xmlNodeAddContent(node, X(value.c_str()));
            const bool picture = reference.content && IsElement(node, "image");
            if (picture) {
                xmlUnsetProp(node, X("mime-type"));
                xmlSetProp(node, X("refType"), X("NUID"));
            }
            // What the item shows, for renderers, unless the template says it.
            if (!xmlHasProp(item, X("kind")))
                xmlSetProp(item, X("kind"), X(picture ? "image" : "text"));
        }
    }
    return true;
}

// What a copy of the subtree costs, roughly in bytes: a node's own size for each node and attribute, and its
// text.
std::size_t Weight(xmlNodePtr top) {
    constexpr std::size_t kNodeBytes = 128;
    std::size_t weight = 0;
    for (xmlNodePtr node = top; node;) {
        weight +=
            kNodeBytes + (node->content ? std::strlen(reinterpret_cast<const char*>(node->content)) : 0);
        if (node->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
                weight += kNodeBytes +
                          (attribute->children && attribute->children->content
                               ? std::strlen(reinterpret_cast<const char*>(attribute->children->content))
                               : 0);
        }
        if (node->children && node->type == XML_ELEMENT_NODE) {
            node = node->children;
            continue;
        }
        while (node != top && !node->next)
            node = node->parent;
        node = node == top ? nullptr : node->next;
    }
    return weight;
}

// The caption kinds of a picture bundle's properties ("mm-object" form).
constexpr std::pair<const char*, const char*> kBundleCaptionProperties[] = {
    {"Basic", "basic"}, {"Additional", "additional"}, {"Detailed", "detailed"}};

// An "mm-object" of a picture bundle: its "content" property holds the item id, its "Basic", "Additional"
// and "Detailed" properties the captions of those kinds.
BundleObject ReadPictureObject(xmlNodePtr node) {
    BundleObject object;
    for (xmlNodePtr property : Children(node, "property")) {
        const std::string name = Attribute(property, "name");
        if (name == "content") {
            object.content = Text(property);
            continue;
        }
        for (const auto& [propertyName, kind] : kBundleCaptionProperties) {
            if (name == propertyName)
                object.captions.emplace_back(kind, Text(property));
        }
    }
    return object;
}

std::vector<BundleObject> ReadBundle(xmlNodePtr root) {
    std::vector<BundleObject> objects;
    for (xmlNodePtr node = root ? root->children : nullptr; node; node = node->next) {
        if (IsElement(node, "mm-object")) {
            objects.push_back(ReadPictureObject(node));
            continue;
        }
        if (!IsElement(node, "object"))
            continue;
        BundleObject object;
        for (xmlNodePtr content : Children(node, "content"))
            object.content = Text(content);
        for (xmlNodePtr caption : Children(node, "caption"))
            object.captions.emplace_back(Attribute(caption, "kind"), Text(caption));
        objects.push_back(std::move(object));
    }
    return objects;
}

} // namespace

KvXmlTreePtr CLtfFill::Fill(const std::uint8_t* ltf, std::size_t ltfSize, const std::uint8_t* bundle,
                            std::size_t bundleSize) {
    KvXmlTreePtr source = KvXmlParse(ltf, ltfSize);
    KvXmlTreePtr items = KvXmlParse(bundle, bundleSize);
    return Fill(source.get(), items.get());
}

KvXmlTreePtr CLtfFill::Fill(xmlDocPtr ltf, xmlDocPtr bundle) {
    if (!ltf || !bundle)
        return nullptr;
    const xmlNodePtr templateRoot = xmlDocGetRootElement(ltf);
    const xmlNodePtr bundleRoot = xmlDocGetRootElement(bundle);
    if (!IsElement(templateRoot, "template") || !IsElement(bundleRoot, "bundle"))
        return nullptr;
    const std::vector<BundleObject> objects = ReadBundle(bundleRoot);

    KvXmlTreePtr out(xmlNewDoc(X("1.0")));
    if (!out)
        return nullptr;
    const xmlNodePtr root = xmlNewDocNode(out.get(), nullptr, X("ldf"), nullptr);
    if (!root)
        return nullptr;
    xmlDocSetRootElement(out.get(), root);
    xmlSetProp(root, X("version"), X("1"));
    // The template's own properties (its caption font) go with the document.
    for (xmlNodePtr property : Children(templateRoot, "property"))
        xmlAddChild(root, xmlDocCopyNode(property, out.get(), 1));

    std::size_t pageCount = 0, itemCount = 0, copied = 0;
    for (xmlNodePtr cluster : Children(templateRoot, "cluster")) {
        std::size_t clusterObjects = 0;
        for (xmlNodePtr dynamic : Children(cluster, "dynObjects"))
            clusterObjects += Children(dynamic, "mm-object").size();
        // A cluster without dynamic objects is a page of its own, made once.
        const std::size_t instances =
            clusterObjects == 0 ? 1 : (objects.size() + clusterObjects - 1) / clusterObjects;
        const std::vector<xmlNodePtr> pages = Children(cluster, "page");
        std::vector<std::size_t> weights;
        for (xmlNodePtr page : pages)
            weights.push_back(Weight(page));
        for (std::size_t instance = 0; instance < instances && !pages.empty(); ++instance) {
            const std::size_t base = instance * clusterObjects;
            for (std::size_t p = 0; p < pages.size(); ++p) {
                const xmlNodePtr page = pages[p];
                copied += weights[p];
                if (++pageCount > kMaxPages || copied > kMaxCopiedBytes)
                    return nullptr;
                const xmlNodePtr copy = xmlDocCopyNode(page, out.get(), 1);
                if (!copy)
                    return nullptr;
                xmlAddChild(root, copy);
                xmlSetProp(copy, X("id"), X(std::to_string(pageCount).c_str()));
                for (xmlNodePtr item : Children(copy, "item")) {
                    if (++itemCount > kMaxItems)
                        return nullptr;
                    if (!ResolveItem(item, base, clusterObjects, objects)) {
                        xmlUnlinkNode(item);
                        xmlFreeNode(item);
                    }
                }
            }
        }
    }
    return out;
}
