#include "KvXml.h"

#include "platform/win/utf16.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <mutex>

namespace {

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

void IgnoreError(void*, xmlErrorPtr) {}

struct ParseWatch {
    bool sawDocumentType = false;
};

// Called for every document type declaration, before its subset or any entity in it is read: the parse
// stops there, so no external subset is fetched and no entity is ever expanded.
void RefuseDocumentType(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    static_cast<ParseWatch*>(parser->_private)->sawDocumentType = true;
    xmlStopParser(parser);
}

struct ParserReleaser {
    void operator()(xmlParserCtxtPtr parser) const { xmlFreeParserCtxt(parser); }
};
struct XPathContextReleaser {
    void operator()(xmlXPathContextPtr context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectReleaser {
    void operator()(xmlXPathObjectPtr object) const { xmlXPathFreeObject(object); }
};
struct XmlTextReleaser {
    void operator()(xmlChar* text) const { xmlFree(text); }
};

} // namespace

KvXmlTreePtr KvXmlParse(const std::uint8_t* data, std::size_t size, const char* encoding) {
    InitialiseOnce();
    if (!data || size == 0 || size > static_cast<std::size_t>(INT_MAX))
        return nullptr;
    std::unique_ptr<xmlParserCtxt, ParserReleaser> parser(xmlNewParserCtxt());
    if (!parser || !parser->sax)
        return nullptr;
    ParseWatch watch;
    parser->_private = &watch;
    parser->sax->internalSubset = RefuseDocumentType;
    parser->sax->externalSubset = RefuseDocumentType;
    parser->sax->serror = IgnoreError;
    // No network, no messages; entities stay unexpanded and no document type is loaded (no NOENT, no
    // DTDLOAD), and the size limits of the parser stay in force (no HUGE).
    int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    if (encoding)
        options |= XML_PARSE_IGNORE_ENC;
    KvXmlTreePtr tree(xmlCtxtReadMemory(parser.get(), reinterpret_cast<const char*>(data),
                                        static_cast<int>(size), nullptr, encoding, options));
    if (!tree || watch.sawDocumentType || !parser->wellFormed || tree->intSubset || tree->extSubset)
        return nullptr;
    return tree;
}

std::optional<std::wstring> KvXmlValue(xmlDocPtr tree, xmlNodePtr node, const wchar_t* expression) {
    if (!tree || !node || !expression)
        return std::nullopt;
    std::unique_ptr<xmlXPathContext, XPathContextReleaser> context(xmlXPathNewContext(tree));
    if (!context)
        return std::nullopt;
    context->node = node;
    context->error = IgnoreError;
    const std::string utf8 = Utf::WideToUtf8(expression);
    std::unique_ptr<xmlXPathObject, XPathObjectReleaser> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(utf8.c_str()), context.get()));
    if (!result)
        return std::nullopt;
    std::unique_ptr<xmlChar, XmlTextReleaser> text;
    switch (result->type) {
    case XPATH_NODESET:
        if (xmlXPathNodeSetIsEmpty(result->nodesetval))
            return std::nullopt;
        text.reset(xmlXPathCastNodeToString(xmlXPathNodeSetItem(result->nodesetval, 0)));
        break;
    case XPATH_BOOLEAN:
    case XPATH_NUMBER:
    case XPATH_STRING:
        text.reset(xmlXPathCastToString(result.get()));
        break;
    default:
        return std::nullopt;
    }
    if (!text)
        return std::nullopt;
    return Utf::Utf8ToWide(reinterpret_cast<const char*>(text.get()));
}
