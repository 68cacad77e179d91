#include "CDocTransform.h"

#include "platform/xml/KvXml.h"

#include "platform/win/utf16.h"

#include <libexslt/exslt.h>
#include <libxml/xmlerror.h>
#include <libxslt/documents.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <memory>
#include <mutex>

namespace {

constexpr wchar_t kSeparator[] = L"<;/>";
constexpr std::size_t kSeparatorLength = 4;

void Silent(void*, const char*, ...) {}

// Every document that a stylesheet asks for (imports, includes, document()) is refused.
xmlDocPtr RefuseLoad(const xmlChar*, xmlDictPtr, int, void*, xsltLoadType) {
    return nullptr;
}

xsltSecurityPrefsPtr ForbidEverything() {
    xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
    if (!prefs)
        return nullptr;
    for (xsltSecurityOption option :
         {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
          XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK})
        xsltSetSecurityPrefs(prefs, option, xsltSecurityForbid);
    return prefs;
}

// The process-wide settings of libxslt, made once: no loading, nothing allowed, no messages. The
// preferences live as long as the process.
xsltSecurityPrefsPtr Security() {
    static xsltSecurityPrefsPtr prefs = [] {
        xmlInitParser();
        xsltInit();
        // The extension functions (str:split for whole-delimiter splits); their writes are forbidden below
        // like the standard ones.
        exsltRegisterAll();
        xsltSetLoaderFunc(&RefuseLoad);
        xsltSetGenericErrorFunc(nullptr, &Silent);
        xsltSecurityPrefsPtr made = ForbidEverything();
        if (made)
            xsltSetDefaultSecurityPrefs(made);
        return made;
    }();
    return prefs;
}

// libxml2's messages go to the calling thread's handler; they are silenced for the length of a transform.
class SilentXmlErrors {
public:
    SilentXmlErrors() : m_previous(xmlGenericError), m_previousContext(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, &Silent);
    }
    ~SilentXmlErrors() { xmlSetGenericErrorFunc(m_previousContext, m_previous); }
    SilentXmlErrors(const SilentXmlErrors&) = delete;
    SilentXmlErrors& operator=(const SilentXmlErrors&) = delete;

private:
    xmlGenericErrorFunc m_previous;
    void* m_previousContext;
};

struct StylesheetReleaser {
    void operator()(xsltStylesheetPtr style) const { xsltFreeStylesheet(style); }
};
struct ContextReleaser {
    void operator()(xsltTransformContextPtr context) const { xsltFreeTransformContext(context); }
};
struct XmlMemoryReleaser {
    void operator()(xmlChar* memory) const { xmlFree(memory); }
};

// The wide text as a tree: its characters are already decoded, so whatever encoding its declaration names
// (the form it was kept in) the UTF-8 form is read.
KvXmlTreePtr ParseWide(const std::wstring& text) {
    const std::string utf8 = Utf::WideToUtf8(text);
    return KvXmlParse(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size(), "UTF-8");
}

bool IsQuote(wchar_t c) {
    return c == L'\'' || c == L'"';
}

} // namespace

bool CDocTransform::SplitParameters(const std::wstring& text, std::vector<Parameter>& parameters) {
    parameters.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t found = text.find(kSeparator, start);
        const std::size_t end = found == std::wstring::npos ? text.size() : found;
        const std::wstring pair = text.substr(start, end - start);
        const bool last = found == std::wstring::npos;
        if (!(last && pair.empty())) {
            const std::size_t equals = pair.find(L'=');
            if (equals == 0 || equals == std::wstring::npos)
                return false;
            std::wstring value = pair.substr(equals + 1);
            Parameter parameter;
            parameter.name = Utf::WideToUtf8(pair.substr(0, equals));
            parameter.literal = value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front();
            if (parameter.literal)
                value = value.substr(1, value.size() - 2);
            parameter.value = Utf::WideToUtf8(value);
            parameters.push_back(std::move(parameter));
        }
        if (last)
            return true;
        start = end + kSeparatorLength;
    }
}

bool CDocTransform::Run(const std::wstring& source, const std::wstring& stylesheet,
                        const std::wstring& parameters, std::vector<std::uint8_t>& result) {
    if (source.size() > kMaxTextLength || stylesheet.size() > kMaxTextLength ||
        parameters.size() > kMaxTextLength)
        return false;
    xsltSecurityPrefsPtr security = Security();
    std::vector<Parameter> split;
    if (!security || !SplitParameters(parameters, split))
        return false;
    SilentXmlErrors silent;
    KvXmlTreePtr document = ParseWide(source);
    KvXmlTreePtr styleTree = ParseWide(stylesheet);
    if (!document || !styleTree)
        return false;
    std::unique_ptr<xsltStylesheet, StylesheetReleaser> style(xsltParseStylesheetDoc(styleTree.get()));
    if (!style)
        return false;
    // The stylesheet owns its tree from here on.
    styleTree.release();
    if (style->errors > 0)
        return false;
    std::unique_ptr<xsltTransformContext, ContextReleaser> context(
        xsltNewTransformContext(style.get(), document.get()));
    if (!context || xsltSetCtxtSecurityPrefs(security, context.get()) != 0)
        return false;
    xsltSetTransformErrorFunc(context.get(), nullptr, &Silent);
    for (const Parameter& parameter : split) {
        const auto* name = reinterpret_cast<const xmlChar*>(parameter.name.c_str());
        const auto* value = reinterpret_cast<const xmlChar*>(parameter.value.c_str());
        const int added = parameter.literal ? xsltQuoteOneUserParam(context.get(), name, value)
                                            : xsltEvalOneUserParam(context.get(), name, value);
        if (added != 0 || context->state != XSLT_STATE_OK)
            return false;
    }
    KvXmlTreePtr output(
        xsltApplyStylesheetUser(style.get(), document.get(), nullptr, nullptr, nullptr, context.get()));
    if (!output || context->state != XSLT_STATE_OK)
        return false;
    xmlChar* memory = nullptr;
    int length = 0;
    if (xsltSaveResultToString(&memory, &length, output.get(), style.get()) != 0)
        return false;
    std::unique_ptr<xmlChar, XmlMemoryReleaser> owned(memory);
    if (length < 0 || (length > 0 && !memory))
        return false;
    result.assign(memory, memory + length);
    return true;
}
