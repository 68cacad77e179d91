#include "WinCupsPrinters.h"

#include "WinDebug.h"

#include <cups/cups.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

namespace WinPrint {
namespace {

// A server that does not accept the connection within this time counts as absent.
constexpr int kConnectTimeoutMs = 2000;
// A server that stops answering in the middle of a request gives up after this time instead of holding the
// dialog that waits on it.
constexpr double kRequestTimeoutSeconds = 30.0;
// CUPS gives sizes and margins in hundredths of a millimetre, the papers hold tenths.
constexpr int kHundredthsPerTenth = 10;
// Without a default resolution, the destination is taken to print at this one.
constexpr LONG kFallbackDpi = 300;
constexpr double kCentimetresPerInch = 2.54;
// The suffix CUPS gives the borderless entry of a size that it also lists with margins.
constexpr std::string_view kBorderless = "_borderless";
constexpr std::size_t kMaxPaperNameBytes = 63;
// Ids for the media sizes the platform has none for.
constexpr SHORT kFirstUserPaperId = 256;
constexpr std::size_t kCopyBlockBytes = 65536;

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

struct DestinationsFree {
    int count = 0;
    void operator()(cups_dest_t* dests) const { cupsFreeDests(count, dests); }
};
using Destinations = std::unique_ptr<cups_dest_t, DestinationsFree>;

struct InfoFree {
    void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};
using DestInfo = std::unique_ptr<cups_dinfo_t, InfoFree>;

void Trace(const std::string& text) {
    OutputDebugStringA(("CUPS: " + text + "\n").c_str());
}

Http Connect() {
    // libcups keeps the server it looked up once per thread; looked up again, CUPS_SERVER is read as it is
    // now.
    cupsSetServer(nullptr);
    Http http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                           kConnectTimeoutMs, nullptr));
    if (http)
        httpSetTimeout(http.get(), kRequestTimeoutSeconds, nullptr, nullptr);
    return http;
}

// The server's destinations; nothing when the request failed.
std::optional<Destinations> GetDestinations(http_t* http) {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    Destinations owned(dests, DestinationsFree{count});
    if (count <= 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        return std::nullopt;
    return owned;
}

bool IsUsableText(const std::string& text, std::size_t limit) {
    return !text.empty() && text.size() <= limit && std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::string SizeName(std::string media) {
    if (media.size() > kBorderless.size() && media.ends_with(kBorderless))
        media.resize(media.size() - kBorderless.size());
    return media;
}

// The paper's name: the size's standard short name ("A4", "Letter"), else its self-describing name.
std::string PaperName(const std::string& media) {
    const pwg_media_t* known = pwgMediaForPWG(media.c_str());
    return known && known->ppd ? std::string(known->ppd) : media;
}

LONG Tenths(int hundredths) {
    return static_cast<LONG>(std::lround(hundredths / static_cast<double>(kHundredthsPerTenth)));
}

// Margins are rounded up, so that the printable area never reaches past what the printer can mark.
LONG MarginTenths(int hundredths) {
    return static_cast<LONG>((std::max(hundredths, 0) + kHundredthsPerTenth - 1) / kHundredthsPerTenth);
}

LONG DefaultDpi(http_t* http, cups_dest_t* dest, cups_dinfo_t* info) {
    ipp_attribute_t* attribute = cupsFindDestDefault(http, dest, info, "printer-resolution");
    if (!attribute || ippGetValueTag(attribute) != IPP_TAG_RESOLUTION)
        return kFallbackDpi;
    int y = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    double x = ippGetResolution(attribute, 0, &y, &units);
    if (units == IPP_RES_PER_CM)
        x *= kCentimetresPerInch;
    const auto dpi = static_cast<LONG>(std::lround(x));
    return dpi >= 1 && dpi <= kMaxDpi ? dpi : kFallbackDpi;
}

std::string DefaultMedia(http_t* http, cups_dest_t* dest, cups_dinfo_t* info) {
    ipp_attribute_t* attribute = cupsFindDestDefault(http, dest, info, "media");
    const char* name = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
    if (name && *name)
        return SizeName(name);
    cups_size_t size{};
    return cupsGetDestMediaDefault(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &size) ? SizeName(size.media)
                                                                                      : std::string();
}

// The destination's papers, its default media first: one per size, the entry with the hardware's margins
// before a borderless one. Sizes that a virtual printer could not hold either are left out.
std::vector<VirtualPaper> Papers(http_t* http, cups_dest_t* dest, cups_dinfo_t* info,
                                 const VirtualPrinter& printer) {
    std::vector<VirtualPaper> papers;
    std::vector<bool> borderless;
    SHORT nextUserId = kFirstUserPaperId;
    const int count = cupsGetDestMediaCount(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT);
    for (int i = 0; i < count && papers.size() < kMaxPapers; ++i) {
        cups_size_t size{};
        if (!cupsGetDestMediaByIndex(http, dest, info, i, CUPS_MEDIA_FLAGS_DEFAULT, &size))
            continue;
        const std::string raw(size.media, strnlen(size.media, sizeof size.media));
        VirtualPaper paper;
        paper.media = SizeName(raw);
        paper.name = PaperName(paper.media);
        paper.width = Tenths(size.width);
        paper.height = Tenths(size.length);
        paper.left = MarginTenths(size.left);
        paper.top = MarginTenths(size.top);
        paper.right = MarginTenths(size.right);
        paper.bottom = MarginTenths(size.bottom);
        const bool isBorderless = raw.size() != paper.media.size();
        if (!IsUsableText(paper.name, kMaxPaperNameBytes) || paper.width < 1 || paper.height < 1 ||
            paper.width > kMaxPaperSide || paper.height > kMaxPaperSide ||
            paper.left + paper.right >= paper.width || paper.top + paper.bottom >= paper.height)
            continue;
        bool printable = true;
        for (bool landscape : {false, true}) {
            const PageMetrics page = MeasurePage(printer, paper, landscape);
            printable = printable && page.horzRes >= 1 && page.vertRes >= 1;
        }
        if (!printable)
            continue;
        const auto same = std::find_if(papers.begin(), papers.end(),
                                       [&](const VirtualPaper& p) { return p.media == paper.media; });
        if (same != papers.end()) {
            const std::size_t at = static_cast<std::size_t>(same - papers.begin());
            if (borderless[at] && !isBorderless) {
                paper.id = same->id;
                *same = paper;
                borderless[at] = false;
            }
            continue;
        }
        paper.id = static_cast<WORD>(PaperIdOfMedia(paper.media));
        if (paper.id == 0)
            paper.id = static_cast<WORD>(nextUserId++);
        papers.push_back(std::move(paper));
        borderless.push_back(isBorderless);
    }
    const std::string wanted = DefaultMedia(http, dest, info);
    const auto first =
        std::find_if(papers.begin(), papers.end(), [&](const VirtualPaper& p) { return p.media == wanted; });
    if (first != papers.end())
        std::rotate(papers.begin(), first, first + 1);
    return papers;
}

std::optional<VirtualPrinter> Describe(http_t* http, cups_dest_t* dest) {
    VirtualPrinter printer;
    printer.name = dest->name ? dest->name : "";
    if (!IsUsableText(printer.name, kMaxNameBytes))
        return std::nullopt;
    printer.driver = "CUPS";
    printer.port = "CUPS:";
    printer.isCups = true;
    DestInfo info(cupsCopyDestInfo(http, dest));
    if (!info) {
        Trace("no information on " + printer.name + ": " + cupsLastErrorString());
        return std::nullopt;
    }
    printer.dpiX = printer.dpiY = DefaultDpi(http, dest, info.get());
    printer.papers = Papers(http, dest, info.get(), printer);
    if (printer.papers.empty()) {
        Trace(printer.name + " has no paper that can be printed on");
        return std::nullopt;
    }
    return printer;
}

bool Succeeded(ipp_status_t status) {
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

// Sends the file's bytes as the job's one document.
bool SendDocument(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, int job, const std::string& pdfPath,
                  const std::string& title) {
    const int file = ::open(pdfPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        Trace("cannot read " + pdfPath);
        return false;
    }
    bool sent = cupsStartDestDocument(http, dest, info, job, title.c_str(), CUPS_FORMAT_PDF, 0, nullptr, 1) ==
                HTTP_STATUS_CONTINUE;
    std::vector<char> block(kCopyBlockBytes);
    while (sent) {
        const ssize_t got = ::read(file, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            sent = got == 0;
            break;
        }
        sent =
            cupsWriteRequestData(http, block.data(), static_cast<std::size_t>(got)) == HTTP_STATUS_CONTINUE;
    }
    ::close(file);
    // The answer is read even after a failed write, so that the server's reason can be traced.
    const ipp_status_t finished = cupsFinishDestDocument(http, dest, info);
    return sent && Succeeded(finished);
}

} // namespace

SHORT PaperIdOfMedia(const std::string& media) {
    static constexpr struct {
        const char* media;
        SHORT id;
    } kKnown[] = {{"na_letter_8.5x11in", 1},        {"na_ledger_11x17in", 3},       {"na_legal_8.5x14in", 5},
                  {"na_executive_7.25x10.5in", 7},  {"iso_a3_297x420mm", 8},        {"iso_a4_210x297mm", 9},
                  {"iso_a5_148x210mm", 11},         {"jis_b4_257x364mm", 12},       {"jis_b5_182x257mm", 13},
                  {"na_number-10_4.125x9.5in", 20}, {"iso_dl_110x220mm", 27},       {"iso_c5_162x229mm", 28},
                  {"iso_c4_229x324mm", 30},         {"na_monarch_3.875x7.5in", 37}, {"iso_a2_420x594mm", 66},
                  {"iso_a6_105x148mm", 70}};
    for (const auto& known : kKnown) {
        if (media == known.media)
            return known.id;
    }
    return 0;
}

std::optional<CupsDestinations> CupsPrinters() {
    Http http = Connect();
    if (!http)
        return std::nullopt;
    std::optional<Destinations> dests = GetDestinations(http.get());
    if (!dests)
        return std::nullopt;
    CupsDestinations found;
    const int count = dests->get_deleter().count;
    for (int i = 0; i < count && found.printers.size() < kMaxPrinters; ++i) {
        cups_dest_t* dest = dests->get() + i;
        // Instances are the user's saved option sets of a destination, not printers of their own.
        if (dest->instance)
            continue;
        std::optional<VirtualPrinter> printer = Describe(http.get(), dest);
        if (!printer)
            continue;
        if (dest->is_default)
            found.defaultName = printer->name;
        found.printers.push_back(std::move(*printer));
    }
    return found;
}

bool SubmitToCups(const VirtualPrinter& printer, const VirtualPaper& paper, const std::string& pdfPath,
                  const std::string& title) {
    Http http = Connect();
    if (!http) {
        Trace("no server answers for " + printer.name);
        return false;
    }
    std::optional<Destinations> dests = GetDestinations(http.get());
    cups_dest_t* dest =
        dests ? cupsGetDest(printer.name.c_str(), nullptr, dests->get_deleter().count, dests->get())
              : nullptr;
    if (!dest) {
        Trace("the destination " + printer.name + " is gone");
        return false;
    }
    DestInfo info(cupsCopyDestInfo(http.get(), dest));
    if (!info) {
        Trace("no information on " + printer.name + ": " + cupsLastErrorString());
        return false;
    }
    cups_option_t* options = nullptr;
    int optionCount = 0;
    if (!paper.media.empty())
        optionCount = cupsAddOption("media", paper.media.c_str(), optionCount, &options);
    // The pages are drawn at the paper's own size: nothing is to be scaled to fit.
    optionCount = cupsAddOption("print-scaling", "none", optionCount, &options);
    int job = 0;
    const ipp_status_t created =
        cupsCreateDestJob(http.get(), dest, info.get(), &job, title.c_str(), optionCount, options);
    cupsFreeOptions(optionCount, options);
    if (!Succeeded(created) || job <= 0) {
        Trace(printer.name + " refused the job: " + cupsLastErrorString());
        return false;
    }
    if (SendDocument(http.get(), dest, info.get(), job, pdfPath, title))
        return true;
    Trace(printer.name + " did not take the document of job " + std::to_string(job) + ": " +
          cupsLastErrorString());
    // The connection may be left in the middle of a request: the job is cancelled over a new one.
    if (Http again = Connect())
        cupsCancelDestJob(again.get(), dest, job);
    return false;
}

} // namespace WinPrint
