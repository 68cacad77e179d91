#include "WinVirtualPrinters.h"

#include "WinCupsPrinters.h"
#include "WinFileIO.h"
#include "WinSystemRoot.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

namespace WinPrint {
namespace {

struct TreeReleaser {
    void operator()(xmlDocPtr tree) const { xmlFreeDoc(tree); }
};

bool IsElement(xmlNodePtr node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::optional<std::string> Attribute(xmlNodePtr node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value)
        return std::nullopt;
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

// A whole decimal number in [low, high], or nothing.
std::optional<LONG> Number(const std::string& text, LONG low, LONG high) {
    LONG value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < low || value > high)
        return std::nullopt;
    return value;
}

// The attribute's number; the fallback when it is absent; nothing when it is there but not a number in range.
std::optional<LONG> NumberAttribute(xmlNodePtr node, const char* name, LONG low, LONG high,
                                    std::optional<LONG> fallback) {
    std::optional<std::string> text = Attribute(node, name);
    if (!text)
        return fallback;
    return Number(*text, low, high);
}

bool GoodName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes)
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

std::optional<VirtualPaper> ReadPaper(xmlNodePtr node) {
    VirtualPaper paper;
    std::optional<std::string> name = Attribute(node, "name");
    std::optional<LONG> id = NumberAttribute(node, "id", 1, 0x7FFF, std::nullopt);
    std::optional<LONG> width = NumberAttribute(node, "width", 1, kMaxPaperSide, std::nullopt);
    std::optional<LONG> height = NumberAttribute(node, "height", 1, kMaxPaperSide, std::nullopt);
    if (!name || !GoodName(*name) || name->size() >= 64 || !id || !width || !height)
        return std::nullopt;
    std::optional<LONG> margins[4];
    const char* names[4] = {"left", "top", "right", "bottom"};
    for (int i = 0; i < 4; ++i) {
        margins[i] = NumberAttribute(node, names[i], 0, kMaxPaperSide, 0);
        if (!margins[i])
            return std::nullopt;
    }
    // Margins that leave no printable area make the paper unusable.
    if (*margins[0] + *margins[2] >= *width || *margins[1] + *margins[3] >= *height)
        return std::nullopt;
    paper.id = static_cast<WORD>(*id);
    paper.name = *name;
    paper.width = *width;
    paper.height = *height;
    paper.left = *margins[0];
    paper.top = *margins[1];
    paper.right = *margins[2];
    paper.bottom = *margins[3];
    return paper;
}

std::optional<VirtualPrinter> ReadPrinter(xmlNodePtr node) {
    VirtualPrinter printer;
    std::optional<std::string> name = Attribute(node, "name");
    if (!name || !GoodName(*name))
        return std::nullopt;
    printer.name = *name;
    for (auto [field, key] : {std::pair{&printer.driver, "driver"}, std::pair{&printer.port, "port"}}) {
        if (std::optional<std::string> text = Attribute(node, key)) {
            if (!GoodName(*text))
                return std::nullopt;
            *field = *text;
        }
    }
    std::optional<LONG> dpiX = NumberAttribute(node, "dpi", 1, kMaxDpi, 300);
    std::optional<LONG> dpiY = dpiX ? NumberAttribute(node, "dpi_y", 1, kMaxDpi, *dpiX) : std::nullopt;
    std::optional<LONG> isDefault = NumberAttribute(node, "default", 0, 1, 0);
    if (!dpiX || !dpiY || !isDefault)
        return std::nullopt;
    printer.dpiX = *dpiX;
    printer.dpiY = *dpiY;
    printer.isDefault = *isDefault == 1;
    for (xmlNodePtr child = node->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (!IsElement(child, "paper") || printer.papers.size() >= kMaxPapers)
            return std::nullopt;
        std::optional<VirtualPaper> paper = ReadPaper(child);
        if (!paper)
            return std::nullopt;
        printer.papers.push_back(std::move(*paper));
    }
    if (printer.papers.empty())
        return std::nullopt;
    // A paper must leave at least one printable pixel at the printer's resolution, either way up.
    for (const VirtualPaper& paper : printer.papers) {
        for (bool landscape : {false, true}) {
            const PageMetrics page = MeasurePage(printer, paper, landscape);
            if (page.horzRes < 1 || page.vertRes < 1)
                return std::nullopt;
        }
    }
    return printer;
}

// A printers file larger than this is refused.
constexpr std::size_t kMaxFileBytes = 1 << 20;

std::vector<VirtualPrinter> BuiltInPrinters() {
    VirtualPrinter printer;
    printer.name = "Korvel PDF";
    printer.isDefault = true;
    printer.papers.push_back(
        VirtualPaper{static_cast<WORD>(DMPAPER_A4), "A4", 2100, 2970, 50, 50, 50, 50, ""});
    printer.papers.push_back(
        VirtualPaper{static_cast<WORD>(DMPAPER_LETTER), "Letter", 2159, 2794, 50, 50, 50, 50, ""});
    return {printer};
}

LONG Pixels(LONG tenthsOfMm, LONG dpi) {
    return static_cast<LONG>(std::lround(tenthsOfMm / 254.0 * dpi));
}

} // namespace

std::optional<std::vector<VirtualPrinter>> ParseVirtualPrinters(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > 0x7FFFFFFF)
        return std::nullopt;
    // Well-formed documents only; nothing fetched, no entity expanded, no messages.
    std::unique_ptr<xmlDoc, TreeReleaser> tree(
        xmlReadMemory(reinterpret_cast<const char*>(data), static_cast<int>(size), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA));
    if (!tree || tree->intSubset || tree->extSubset)
        return std::nullopt;
    xmlNodePtr root = xmlDocGetRootElement(tree.get());
    if (!root || !IsElement(root, "printers"))
        return std::nullopt;
    std::vector<VirtualPrinter> printers;
    for (xmlNodePtr child = root->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (!IsElement(child, "printer") || printers.size() >= kMaxPrinters)
            return std::nullopt;
        std::optional<VirtualPrinter> printer = ReadPrinter(child);
        if (!printer)
            return std::nullopt;
        for (const VirtualPrinter& other : printers) {
            if (other.name == printer->name)
                return std::nullopt;
        }
        printers.push_back(std::move(*printer));
    }
    return printers;
}

std::vector<VirtualPrinter> FilePrinters() {
    const std::string root = WinSystem::GetSystemRoot();
    if (root.empty())
        return {};
    std::vector<BYTE> bytes;
    const std::string path = root + "/printers.xml";
    if (!WinFileIO::ReadWholeFile(path, kMaxFileBytes, bytes)) {
        std::error_code error;
        return std::filesystem::exists(path, error) || error ? std::vector<VirtualPrinter>{}
                                                             : BuiltInPrinters();
    }
    return ParseVirtualPrinters(bytes.data(), bytes.size()).value_or(std::vector<VirtualPrinter>{});
}

std::vector<VirtualPrinter> MachinePrinters() {
    std::vector<VirtualPrinter> printers = FilePrinters();
    std::optional<CupsDestinations> cups = CupsPrinters();
    if (!cups)
        return printers;
    bool cupsDefault = false;
    for (VirtualPrinter& destination : cups->printers) {
        if (std::any_of(printers.begin(), printers.end(),
                        [&](const VirtualPrinter& printer) { return printer.name == destination.name; }))
            continue;
        destination.isDefault = destination.name == cups->defaultName;
        cupsDefault = cupsDefault || destination.isDefault;
        printers.push_back(std::move(destination));
    }
    if (cupsDefault) {
        for (VirtualPrinter& printer : printers)
            printer.isDefault = printer.isCups && printer.name == cups->defaultName;
    }
    return printers;
}

std::optional<VirtualPrinter> FindPrinter(const char* name) {
    if (!name || !*name)
        return std::nullopt;
    for (VirtualPrinter& printer : MachinePrinters()) {
        if (printer.name == name)
            return std::move(printer);
    }
    return std::nullopt;
}

std::optional<VirtualPrinter> DefaultPrinter() {
    std::vector<VirtualPrinter> printers = MachinePrinters();
    for (VirtualPrinter& printer : printers) {
        if (printer.isDefault)
            return std::move(printer);
    }
    if (printers.empty())
        return std::nullopt;
    return std::move(printers.front());
}

const VirtualPaper* FindPaper(const VirtualPrinter& printer, SHORT id) {
    for (const VirtualPaper& paper : printer.papers) {
        if (paper.id == static_cast<WORD>(id))
            return &paper;
    }
    return printer.papers.empty() ? nullptr : &printer.papers.front();
}

PageMetrics MeasurePage(const VirtualPrinter& printer, const VirtualPaper& paper, bool landscape) {
    LONG width = paper.width, height = paper.height;
    LONG left = paper.left, top = paper.top, right = paper.right, bottom = paper.bottom;
    if (landscape) {
        std::swap(width, height);
        const LONG oldLeft = left;
        left = top;
        top = right;
        right = bottom;
        bottom = oldLeft;
    }
    PageMetrics metrics;
    metrics.physicalWidth = Pixels(width, printer.dpiX);
    metrics.physicalHeight = Pixels(height, printer.dpiY);
    metrics.offsetX = Pixels(left, printer.dpiX);
    metrics.offsetY = Pixels(top, printer.dpiY);
    metrics.horzRes = metrics.physicalWidth - metrics.offsetX - Pixels(right, printer.dpiX);
    metrics.vertRes = metrics.physicalHeight - metrics.offsetY - Pixels(bottom, printer.dpiY);
    return metrics;
}

} // namespace WinPrint
