#include "platform/dadadud/CDocTransform.h"
#include "platform/dadadud/DadaDud.h"

#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using kvtest::TempFolder;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The source document the modules transform: the declaration says UTF-16, the text is already wide.
constexpr wchar_t kSource[] = L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><template>aaa</template>";

// A stylesheet whose text output shows its parameters, each between brackets, and the source's text.
std::wstring Echo(std::initializer_list<const char*> names, const std::string& extra = "") {
    std::string text = "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                       "<xsl:output method=\"text\" encoding=\"UTF-8\"/>";
    for (const char* name : names)
        text += std::string("<xsl:param name=\"") + name + "\" select=\"'unset'\"/>";
    text += "<xsl:template match=\"/\">";
    for (const char* name : names)
        text += std::string("[<xsl:value-of select=\"$") + name + "\"/>]";
    text += "<xsl:value-of select=\"template\"/>" + extra + "</xsl:template></xsl:stylesheet>";
    return Utf::Utf8ToWide(text);
}

std::string Transform(const std::wstring& stylesheet, const std::wstring& parameters, bool* ok = nullptr) {
    std::vector<std::uint8_t> result;
    const bool done = CDocTransform::Run(kSource, stylesheet, parameters, result);
    if (ok)
        *ok = done;
    return done ? std::string(result.begin(), result.end()) : std::string("<failed>");
}

TEST(TransformParameters, TheStringIsSplitAtEverySeparatorAndQuotedValuesAreLiteral) {
    using P = CDocTransform::Parameter;
    const struct {
        const wchar_t* text;
        bool accepted;
        std::vector<P> parameters;
    } cases[] = {
        {L"", true, {}},
        {L"a='x'", true, {{"a", "x", true}}},
        {L"a=\"x\"", true, {{"a", "x", true}}},
        {L"n=3", true, {{"n", "3", false}}},
        {L"a='x'<;/>b=2<;/>", true, {{"a", "x", true}, {"b", "2", false}}},
        {L"a='it's'", true, {{"a", "it's", true}}},
        {L"a=\"say \"hi\" <now>\"", true, {{"a", "say \"hi\" <now>", true}}},
        {L"a='x\"", true, {{"a", "'x\"", false}}},
        {L"a='", true, {{"a", "'", false}}},
        {L"a=''", true, {{"a", "", true}}},
        {L"a=x=y", true, {{"a", "x=y", false}}},
        {L"a='one<;/>two'", false, {}},
        {L"<;/>a=1", false, {}},
        {L"a=1<;/><;/>b=2", false, {}},
        {L"=x", false, {}},
        {L"noequals", false, {}},
    };
    for (const auto& c : cases) {
        std::vector<P> split;
        ASSERT_EQ(CDocTransform::SplitParameters(c.text, split), c.accepted) << Utf::WideToUtf8(c.text);
        if (!c.accepted)
            continue;
        ASSERT_EQ(split.size(), c.parameters.size()) << Utf::WideToUtf8(c.text);
        for (std::size_t i = 0; i < split.size(); ++i) {
            EXPECT_EQ(split[i].name, c.parameters[i].name);
            EXPECT_EQ(split[i].value, c.parameters[i].value);
            EXPECT_EQ(split[i].literal, c.parameters[i].literal);
        }
    }
}

TEST(Transform, LiteralStringsAreNeverEvaluatedAndExpressionsAre) {
    const std::wstring style = Echo({"s", "n"});
    EXPECT_EQ(Transform(style, L"s='plain'<;/>n=1+2"), "[plain][3]aaa");
    EXPECT_EQ(
        Transform(style, L"s=\"concat('a', 'b') | document('/etc/passwd')\"<;/>n=string-length('abcd')"),
        "[concat('a', 'b') | document('/etc/passwd')][4]aaa");
    EXPECT_EQ(Transform(style, L"s=\"it's \"quoted\" & <tagged>\""),
              "[it's \"quoted\" & <tagged>][unset]aaa");
    EXPECT_EQ(Transform(style, L""), "[unset][unset]aaa");
    bool ok = true;
    Transform(style, L"n=1+", &ok);
    EXPECT_FALSE(ok) << "an expression that does not compile";
    Transform(style, L"s='a'<;/>broken", &ok);
    EXPECT_FALSE(ok);
}

TEST(Transform, TheSourceIsReadAsTheWideTextItIsWhateverItsDeclarationSays) {
    const std::wstring style = Echo({});
    const std::wstring sources[] = {
        L"<?xml version=\"1.0\" encoding=\"utf-16\" ?><template>\u00E9t\u00E9 \u4E2D</template>",
        L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><template>\u00E9t\u00E9 \u4E2D</template>",
        L"<template>\u00E9t\u00E9 \u4E2D</template>",
    };
    for (const std::wstring& source : sources) {
        std::vector<std::uint8_t> result;
        ASSERT_TRUE(CDocTransform::Run(source, style, L"", result));
        EXPECT_EQ(std::string(result.begin(), result.end()), "\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD");
    }
}

TEST(Transform, NoFileNoNetworkAndNoDocumentTypeIsReached) {
    TempFolder folder;
    const std::string secret = folder.Write("secret.xml", std::string("<s>the secret</s>"));
    const std::string url = "file://" + secret;
    const std::string written = folder.File("written.txt");
    const struct {
        const char* name;
        std::string stylesheet;
    } cases[] = {
        {"document() of a file",
         "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"text\"/><xsl:template match=\"/\"><xsl:value-of select=\"document('" +
             secret + "')\"/></xsl:template></xsl:stylesheet>"},
        {"document() of a file URL",
         "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"text\"/><xsl:template match=\"/\"><xsl:value-of select=\"document('" +
             url + "')\"/></xsl:template></xsl:stylesheet>"},
        {"document() of the network",
         "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"text\"/><xsl:template match=\"/\"><xsl:value-of "
         "select=\"document('http://127.0.0.1:9/x.xml')\"/></xsl:template></xsl:stylesheet>"},
        {"an include", "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                       "<xsl:include href=\"" +
                           secret + "\"/><xsl:template match=\"/\">x</xsl:template></xsl:stylesheet>"},
        {"an import", "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                      "<xsl:import href=\"" +
                          url + "\"/><xsl:template match=\"/\">x</xsl:template></xsl:stylesheet>"},
        {"a written document",
         "<xsl:stylesheet version=\"1.1\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:template match=\"/\"><xsl:document href=\"" +
             written + "\">x</xsl:document></xsl:template></xsl:stylesheet>"},
        {"a written document (EXSLT)",
         "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
         "xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
         "<xsl:template match=\"/\"><exsl:document href=\"" +
             written + "\">x</exsl:document></xsl:template></xsl:stylesheet>"},
        {"a stylesheet with a document type",
         "<!DOCTYPE xsl:stylesheet [<!ENTITY e SYSTEM \"" + url +
             "\">]>"
             "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
             "<xsl:template match=\"/\">&e;</xsl:template></xsl:stylesheet>"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> result;
        const bool ran = CDocTransform::Run(kSource, Utf::Utf8ToWide(c.stylesheet), L"", result);
        const std::string output(result.begin(), result.end());
        EXPECT_EQ(output.find("the secret"), std::string::npos) << c.name;
        EXPECT_FALSE(ran) << c.name << ": " << output;
        EXPECT_FALSE(std::filesystem::exists(written)) << c.name;
    }
    std::vector<std::uint8_t> result;
    EXPECT_FALSE(CDocTransform::Run(L"<!DOCTYPE t SYSTEM \"" + Utf::Utf8ToWide(url) + L"\"><t/>", Echo({}),
                                    L"", result))
        << "a source with a document type";
}

TEST(Transform, TheLibraryCallWritesTheResultOnlyWhenTheTransformSucceeds) {
    TempFolder folder;
    const std::string out = folder.File("out.txt");
    const std::wstring outPath = Utf::Utf8ToWide(out);
    const std::wstring style = Echo({"s"});
    EXPECT_EQ(docXSLTTransform2(kSource, outPath.c_str(), style.c_str(), L"s='x'", nullptr), 0)
        << "the library is not started";
    ASSERT_EQ(docStartup(), 1);
    ASSERT_EQ(docXSLTTransform2(kSource, outPath.c_str(), style.c_str(), L"s='x'", nullptr), 1);
    EXPECT_EQ(ReadAll(out), "[x]aaa");
    ASSERT_EQ(docXSLTTransform2(kSource, outPath.c_str(), style.c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(ReadAll(out), "[unset]aaa") << "replaced";

    EXPECT_EQ(docXSLTTransform2(kSource, outPath.c_str(), L"<not a stylesheet/>", L"", nullptr), 0);
    EXPECT_EQ(docXSLTTransform2(L"<unclosed>", outPath.c_str(), style.c_str(), L"", nullptr), 0);
    EXPECT_EQ(docXSLTTransform2(kSource, outPath.c_str(), style.c_str(), L"=1", nullptr), 0);
    EXPECT_EQ(ReadAll(out), "[unset]aaa") << "a failed transform leaves the file as it was";
    const std::string fresh = folder.File("fresh.txt");
    EXPECT_EQ(docXSLTTransform2(kSource, Utf::Utf8ToWide(fresh).c_str(), L"<x/>", L"", nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_EQ(docXSLTTransform2(nullptr, outPath.c_str(), style.c_str(), L"", nullptr), 0);
    EXPECT_EQ(docXSLTTransform2(kSource, nullptr, style.c_str(), L"", nullptr), 0);
    docShutdown();
}

} // namespace
