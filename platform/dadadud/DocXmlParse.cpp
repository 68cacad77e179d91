#include "DocXmlParse.h"

#include <libxml/parser.h>

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

} // namespace

DocTreePtr DocParseXml(const std::uint8_t* data, std::size_t size, const char* encoding) {
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
    DocTreePtr tree(xmlCtxtReadMemory(parser.get(), reinterpret_cast<const char*>(data),
                                      static_cast<int>(size), nullptr, encoding, options));
    if (!tree || watch.sawDocumentType || !parser->wellFormed || tree->intSubset || tree->extSubset)
        return nullptr;
    return tree;
}
