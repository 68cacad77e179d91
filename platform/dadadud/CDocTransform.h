// The document library's XSLT transforms: a source document and a stylesheet, both given as wide texts,
// and a parameter string, applied by libxslt with every file and network access forbidden (document(),
// imports and includes, written documents), no document type in either text, and a result that stays in
// memory for the caller to store. The EXSLT extension functions are available.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CDocTransform {
public:
    // No source, stylesheet or parameter text longer than this is taken.
    static constexpr std::size_t kMaxTextLength = std::size_t{16} << 20;

    struct Parameter {
        std::string name;  // UTF-8
        std::string value; // UTF-8: the string itself, or the XPath expression
        bool literal = false;
    };

    // The parameters of a string of "name=value" pairs joined by "<;/>". The split is made at every
    // separator, whatever quotes stand around it. A value whose first and last characters are the same
    // quote (' or ") is a literal string, its quotes removed; any other value is an XPath expression. An
    // empty last pair is allowed; any other pair without a name (the text before its first '=') fails.
    static bool SplitParameters(const std::wstring& text, std::vector<Parameter>& parameters);

    // The transform's serialised result (in the stylesheet's output method and encoding), or false when a
    // text does not parse, the stylesheet does not compile, a parameter is refused or the transform fails.
    static bool Run(const std::wstring& source, const std::wstring& stylesheet,
                    const std::wstring& parameters, std::vector<std::uint8_t>& result);
};
