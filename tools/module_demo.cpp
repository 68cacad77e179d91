// module-demo: runs a host module from end to end under the scripted host, as a user would.
//
//   module-demo mail OUTDIR [PHOTO...]     the photos selected, the mail dialog sent with the pictures one
//                                          by one at 640 x 480, quality 80; prints the path of the draft in
//                                          the machine's outbox
//   module-demo design OUTDIR [PHOTO...]   a design opened from the photos; page 1's preview written as
//                                          OUTDIR/design-page-1.png, whose path it prints, and the contact
//                                          sheet of its pages, as its pane shows it, as
//                                          OUTDIR/design-sheet.png
//   module-demo print OUTDIR [PHOTO...]    the photos printed one to a page with the machine's virtual A4
//                                          printer at 300 dpi; prints the path of the PDF in the machine's
//                                          spool
//
// The photos are the user's JPEG and PNG files, in the order given, named after their files; a file that
// cannot be used is reported (on stderr) and left out, and when none is left the demo fails. Without any,
// each demo makes three photos of its own (one portrait). The modules run from copies in OUTDIR (an
// installed module-demo runs the installed modules in place), with the machine folder OUTDIR/machine
// (KV_SYSTEM_ROOT) unless the environment names one.
#include "CKvPngFile.h"

#include "design_module/TKvwDesignModule.h"

#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinGdi.h"
#include "platform/win/WinPrintDialogs.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A dialog or a page that takes longer than this has gone wrong; the demo says so instead of hanging.
constexpr DWORD kDeadline = 60000;
// The design's first template is A4 (2100 x 2970); its preview is a fifth of that.
constexpr LONG kPreviewWidth = 420;
constexpr LONG kPreviewHeight = 594;
constexpr KvwItemId kDesignItem = 0x0202000000000007ull;
constexpr KvwItemId kFirstDesignPhoto = 201;
// The record flag of a design page the module registers with the host.
constexpr DWORD kPageRecordFlag = 0x400000;
constexpr LONG kPaneWidth = 640;
constexpr LONG kPaneHeight = 480;
// The contact sheet is taken once it has stayed the same this long after its pictures were read.
constexpr std::chrono::milliseconds kSheetSettleTime{300};
// The mail module's command and its dialog's Send button (its headers and the design module's both name a
// class TUserOptions, so one program cannot include both).
constexpr KvwWord kMailCommand = 0x2004;
constexpr int kMailSendButton = 1005;
// The print module's command, for the same reason.
constexpr KvwWord kPrintCommand = 0x2001;
// The virtual printer that writes PDF files into the machine's spool.
constexpr const char* kDemoPrinter = "Korvel PDF";

// The machine folder: the environment's, or one of the demo's own in the output folder.
std::string MachineFolder(const fs::path& out) {
    if (const char* root = std::getenv("KV_SYSTEM_ROOT"); root && *root)
        return root;
    const fs::path own = out / "machine";
    fs::create_directories(own);
    setenv("KV_SYSTEM_ROOT", own.c_str(), 1);
    return own.string();
}

// The installed tree's module folder when the program runs from one (KV_INSTALLED_MODULES, relative to the
// program's folder, set by cmake/KvInstall.cmake): its modules run where they are, since their run paths
// lead from there to the installed libraries. Empty for a program in the build tree.
fs::path InstalledModuleFolder() {
#ifdef KV_INSTALLED_MODULES
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    const fs::path installed = program.parent_path() / KV_INSTALLED_MODULES;
    if (!ec && fs::is_directory(installed, ec))
        return installed.lexically_normal();
#endif
    return {};
}

// Copies the files (relative to the build folder) into a fresh install folder under OUTDIR; from an
// installed tree, `to` becomes the installed module folder instead.
bool Install(const fs::path& from, fs::path& to, const std::vector<std::string>& files, std::string* error) {
    if (const fs::path installed = InstalledModuleFolder(); !installed.empty()) {
        to = installed;
        return true;
    }
    std::error_code ec;
    fs::remove_all(to, ec);
    for (const std::string& file : files) {
        fs::create_directories((to / file).parent_path(), ec);
        fs::copy(from / file, to / file, fs::copy_options::recursive, ec);
        if (ec) {
            *error = "cannot install " + (from / file).string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

// The host, its module and the platform's seams for one run; everything is put back when it ends.
class DemoSession {
public:
    explicit DemoSession(const fs::path& out) {
        fs::create_directories(out / "temp");
        WinSeams::SetTempBase((out / "temp").string());
        WinDialogTest::SetModalLoopDeadline(kDeadline);
        WinDialogTest::ResetMessageBoxes();
        host = std::make_unique<CScriptedHost>();
    }
    ~DemoSession() {
        if (module != CScriptedHost::kNoModule)
            host->Close(module);
        WinDialogTest::ClearModalSteps();
        WinDialogTest::SetModalLoopDeadline(INFINITE);
        host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }
    DemoSession(const DemoSession&) = delete;
    DemoSession& operator=(const DemoSession&) = delete;

    bool Load(const std::string& path) {
        module = host->Load(path);
        if (module == CScriptedHost::kNoModule) {
            std::fprintf(stderr, "module-demo: %s does not load: %s\n", path.c_str(),
                         host->LastError().c_str());
            return false;
        }
        if (host->Initialize(module) != kKvwOk) {
            std::fprintf(stderr, "module-demo: %s does not initialise\n", path.c_str());
            return false;
        }
        return true;
    }

    std::unique_ptr<CScriptedHost> host;
    std::size_t module = CScriptedHost::kNoModule;
};

// The host's items of the user's photo files, in the order given, the id of the n-th (from 0) made by the
// demo's rule; each file that cannot be used is reported and left out.
std::vector<CHostItemRecord> PhotoItems(const std::vector<std::string>& files,
                                        KvwItemId (*idOf)(std::size_t)) {
    std::vector<CHostItemRecord> items;
    for (const std::string& file : files) {
        CHostItemRecord item;
        std::string error;
        if (CHostPhotos::FileItem(idOf(items.size()), file, item, error))
            items.push_back(std::move(item));
        else
            std::fprintf(stderr, "module-demo: %s %s: left out\n", file.c_str(), error.c_str());
    }
    if (items.empty() && files.size() == 1)
        std::fprintf(stderr, "module-demo: the one photo given cannot be used\n");
    else if (items.empty() && !files.empty())
        std::fprintf(stderr, "module-demo: none of the %zu photos given can be used\n", files.size());
    return items;
}

// The items added to the host, their ids in order.
KvwItemIdList AddItems(CScriptedHost& host, const std::vector<CHostItemRecord>& items) {
    KvwItemIdList ids;
    for (const CHostItemRecord& item : items) {
        host.AddItem(item);
        ids.push_back(item.id);
    }
    return ids;
}

// The mail and print demos' item ids: the n-th (from 0) is n + 1 in the first group.
KvwItemId SelectionId(std::size_t n) {
    return KvwMakeItemId(static_cast<DWORD>(n + 1), 1);
}

// The design demo's item ids, after the design's own.
KvwItemId DesignPhotoId(std::size_t n) {
    return kFirstDesignPhoto + n;
}

// The first window of the class among the parent's descendants, or null.
HWND FindChildWindow(HWND parent, const wchar_t* className) {
    struct Search {
        const wchar_t* name;
        HWND found;
    } search{className, nullptr};
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (std::wcscmp(name, s->name) != 0)
                return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The contact sheet of the design's pages, as its pane shows it once every page's picture has been read
// (which the host has the module draw) and the pane has stopped changing; written as a PNG.
bool WriteContactSheet(DemoSession& session, HWND panes, const KvwItemIdList& pages, const fs::path& png,
                       std::string* error) {
    CScriptedHost& host = *session.host;
    host.ClearRequests();
    host.Send(session.module, KvwDesign::kMenuCommand, KvwDesign::kContactSheetView);
    const HWND sheet = FindChildWindow(panes, L"MultiPagePane");
    if (!sheet) {
        *error = "the design shows no contact sheet";
        return false;
    }
    // A picture is drawn from what the sheet's reading of it (a request that also wants progress) got.
    const auto read = [&] {
        const std::vector<CHostRequest> asked = host.RequestsOf(KvwPluginRequest::kPreview);
        return std::all_of(pages.begin(), pages.end(), [&](KvwItemId page) {
            return std::any_of(asked.begin(), asked.end(), [&](const CHostRequest& request) {
                return KvwMakeItemId(request.words[0], request.words[1]) == page &&
                       (request.words[5] & 2) != 0;
            });
        });
    };
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> shown, last;
    auto since = std::chrono::steady_clock::now();
    const bool settled = WinUserTest::PumpUntil(
        [&] {
            if (!WinGdiTest::ReadWindowPixels(sheet, &width, &height, &shown))
                return false;
            const auto now = std::chrono::steady_clock::now();
            if (shown != last || !read() || host.PendingMessages() != 0 || host.OpenPageRequests() != 0)
                since = now;
            last = shown;
            return now - since >= kSheetSettleTime;
        },
        kDeadline);
    if (!settled || shown.empty()) {
        *error = "the contact sheet did not show every page";
        return false;
    }
    std::vector<BYTE> rgb;
    rgb.reserve(shown.size() * 3);
    for (std::uint32_t pixel : shown)
        for (int shift : {16, 8, 0})
            rgb.push_back(static_cast<BYTE>(pixel >> shift));
    return CKvPngFile::WriteSrgb8(png.string(), width, height, rgb, error);
}

// The files of the extension anywhere under the folder.
std::vector<fs::path> FilesUnder(const fs::path& folder, const char* extension) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->path().extension() == extension)
            files.push_back(it->path());
    return files;
}

// Runs the module's command with the user's pressing of the button queued for its dialog; the one file of
// the extension that the command left under the folder, or an empty path after saying what went wrong.
fs::path RunDialogCommand(DemoSession& session, KvwWord command, int button, const fs::path& folder,
                          const char* extension) {
    const std::vector<fs::path> before = FilesUnder(folder, extension);
    WinDialogTest::RunInModalLoop([button](HWND dialog) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(button), 0), 0);
        return true;
    });
    const DWORD late = WinDialogTest::ModalLoopsPastDeadline();
    if (session.host->Send(session.module, KvwHostMessage::kCommand, command, 0) != kKvwHandled) {
        std::fprintf(stderr, "module-demo: the module did not take its command\n");
        return {};
    }
    for (const auto& box : WinDialogTest::MessageBoxCalls())
        std::fprintf(stderr, "module-demo: the module said: %ls\n", box.text.c_str());
    if (WinDialogTest::PendingModalSteps() != 0 || WinDialogTest::ModalLoopsPastDeadline() != late) {
        std::fprintf(stderr, "module-demo: the dialog did not finish its work\n");
        return {};
    }
    std::vector<fs::path> made;
    for (const fs::path& file : FilesUnder(folder, extension))
        if (std::find(before.begin(), before.end(), file) == before.end())
            made.push_back(file);
    if (made.size() != 1) {
        std::fprintf(stderr, "module-demo: %zu new %s files in %s, not one\n", made.size(), extension,
                     folder.c_str());
        return {};
    }
    return made[0];
}

int Mail(const fs::path& out, const std::vector<std::string>& files) {
    const fs::path outbox = fs::path(MachineFolder(out)) / "Outbox";
    std::string error;
    fs::path install = out / "mail-module";
    if (!Install(KV_MAIL_MODULE_DIR, install, {"KvtMail.qw7", "KvtEmailLang.so"}, &error)) {
        std::fprintf(stderr, "module-demo: %s\n", error.c_str());
        return 1;
    }
    DemoSession session(out);
    CScriptedHost& host = *session.host;
    // The pictures one by one, at the size list's 640 x 480, quality 80.
    host.Registry().PutText("MailPI\\send_as", "Default", "individual");
    host.Registry().PutText("MailPI\\image_attachments\\image_size", "Default", "2");
    host.Registry().PutText("MailPI\\output_jpeg_quality", "Default", "80");
    std::vector<CHostItemRecord> items = PhotoItems(files, &SelectionId);
    if (files.empty()) {
        const struct {
            const char* name;
            LONG width, height;
        } photos[] = {
            {"IMG_0001.jpg", 1600, 1200}, {"IMG_0002.jpg", 1200, 1600}, {"IMG_0003.jpg", 2000, 1500}};
        for (const auto& photo : photos)
            items.push_back(CHostPhotos::JpegItem(SelectionId(items.size()),
                                                  std::string("/home/user/Pictures/") + photo.name,
                                                  CHostPhotos::SceneJpeg(photo.width, photo.height)));
    }
    if (items.empty())
        return 1;
    host.Browse().SetSelectedItems(AddItems(host, items));
    if (!session.Load((install / "KvtMail.qw7").string()))
        return 1;

    // The user presses Send as soon as the dialog is up.
    const fs::path draft = RunDialogCommand(session, kMailCommand, kMailSendButton, outbox, ".eml");
    if (draft.empty())
        return 1;
    std::printf("%s\n", draft.c_str());
    return 0;
}

int Print(const fs::path& out, const std::vector<std::string>& files) {
    const fs::path spool = fs::path(MachineFolder(out)) / "spool";
    std::string error;
    fs::path install = out / "print-module";
    if (!Install(KV_PRINT_MODULE_DIR, install, {"KvtPrint.qw7", "KvtPrintLang.so", "PrintPluginCfg.xml"},
                 &error)) {
        std::fprintf(stderr, "module-demo: %s\n", error.c_str());
        return 1;
    }
    DemoSession session(out);
    CScriptedHost& host = *session.host;
    // The machine's virtual PDF printer, named, so that a default printer of the machine's print server
    // never takes the demo's pages. A standard print, the configuration's first layout (1 x 1): one photo
    // to a page.
    host.Registry().PutText("PrintPI\\printer_options\\printer_name", "Default", kDemoPrinter);
    host.Registry().PutText("PrintPI\\print_as", "Default", "0");
    host.Registry().PutText("PrintPI\\standard_print\\layout_index", "Default", "0");
    std::vector<CHostItemRecord> items = PhotoItems(files, &SelectionId);
    if (files.empty()) {
        const struct {
            const char* name;
            LONG width, height;
            std::array<BYTE, 3> rgb;
        } photos[] = {{"IMG_0001.jpg", 1500, 1000, {220, 40, 40}},
                      {"IMG_0002.jpg", 1000, 1500, {40, 180, 60}},
                      {"IMG_0003.jpg", 1500, 1000, {50, 60, 210}}};
        for (const auto& photo : photos)
            items.push_back(CHostPhotos::JpegItem(
                SelectionId(items.size()), std::string("/home/user/Pictures/") + photo.name,
                CHostPhotos::SolidJpeg(photo.width, photo.height, photo.rgb)));
    }
    if (items.empty())
        return 1;
    host.Browse().SetSelectedItems(AddItems(host, items));
    if (!session.Load((install / "KvtPrint.qw7").string()))
        return 1;
    // The print dialog is accepted for all pages, with the virtual printer chosen in it.
    WinPrintTest::PrintAnswer answer;
    answer.printer = kDemoPrinter;
    WinPrintTest::QueuePrintAnswer(answer);
    const fs::path pdf = RunDialogCommand(session, kPrintCommand, IDOK, spool, ".pdf");
    WinPrintTest::Reset();
    if (pdf.empty())
        return 1;
    std::printf("%s\n", pdf.c_str());
    return 0;
}

int Design(const fs::path& out, const std::vector<std::string>& files) {
    MachineFolder(out);
    std::string error;
    fs::path install = out / "design-module";
    if (!Install(KV_DESIGN_MODULE_DIR, install,
                 {"KvwDesign.md7", "Module/KvtDesignLang.so", "DesignModuleCfg.xml", "templates"}, &error)) {
        std::fprintf(stderr, "module-demo: %s\n", error.c_str());
        return 1;
    }
    DemoSession session(out);
    CScriptedHost& host = *session.host;
    const HWND panes =
        host.Panes().MakeWindow(KvwDesign::kComponentKind, host.MainWindow(), kPaneWidth, kPaneHeight);
    CHostItemRecord design;
    design.id = kDesignItem;
    host.AddItem(design);
    std::vector<CHostItemRecord> items = PhotoItems(files, &DesignPhotoId);
    if (files.empty()) {
        // Three photos of the proportions of the first template's boxes, each of four colours.
        const struct {
            LONG width, height;
            std::array<std::uint32_t, 4> quadrants;
        } photos[] = {
            {900, 400, {0xC80000, 0x00C800, 0x0000C8, 0xC8C800}},
            {850, 700, {0x00C8C8, 0xC800C8, 0x804000, 0x408000}},
            {850, 700, {0x202020, 0xE0E0E0, 0x800080, 0x008080}},
        };
        for (const auto& photo : photos)
            items.push_back(CHostPhotos::QuadrantItem(
                DesignPhotoId(items.size()),
                CHostPhotos::QuadrantPicture(photo.width, photo.height, photo.quadrants)));
    }
    if (items.empty())
        return 1;
    host.Browse().SetCurrentGroup(kDesignItem);
    host.Browse().SetSelectedItems(AddItems(host, items));

    KvwItemIdList pages;
    host.SetScript(KvwRecordRequest::kCreate, [&](const CHostRequest& request) {
        const KvwResult result = host.Records().OnRequest(KvwRecordRequest::kCreate, request.words);
        const auto* input = reinterpret_cast<const CKvwInputData*>(request.words[2]);
        if (result == kKvwOk && (input->flags & kPageRecordFlag) != 0)
            pages.push_back(input->id);
        return CHostReply{result, {}};
    });
    std::vector<BYTE> rgb;
    bool answered = false;
    host.SetScript(KvwDesign::kPreviewImage, [&](const CHostRequest& request) {
        const auto* record = reinterpret_cast<const CKvwProfileImage*>(request.words[2]);
        answered = true;
        LONG width = 0, height = 0;
        if (!record->image || record->image->GetSize(&width, &height) || width != kPreviewWidth ||
            height != kPreviewHeight || !rgb.empty())
            return host.DefaultReply(request);
        rgb.reserve(static_cast<std::size_t>(width) * height * 3);
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width; ++x) {
                PravonPixel pixel;
                record->image->GetPixel(x, y, &pixel);
                // Four channels carry alpha first.
                const int first = pixel.channels == 4 ? 1 : 0;
                for (int c = 0; c < 3; ++c)
                    rgb.push_back(static_cast<BYTE>(pixel.sample[first + c]));
            }
        // The host keeps the page's picture, as it does every page's.
        return host.DefaultReply(request);
    });

    if (!session.Load((install / "KvwDesign.md7").string()))
        return 1;
    host.Send(session.module, KvwDesign::kStartup);
    if (host.Send(session.module, KvwDesign::kOpenDesign) != kKvwOk || pages.empty()) {
        std::fprintf(stderr, "module-demo: the design did not open with a page\n");
        return 1;
    }
    // The design reads its photos from the host as it opens; page 1 is drawn once they are all in, so that
    // a busy machine does not draw it with boxes still empty.
    auto quietSince = std::chrono::steady_clock::now();
    WinUserTest::PumpUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (host.PendingMessages() != 0)
                quietSince = now;
            return now - quietSince >= kSheetSettleTime;
        },
        kDeadline);
    LONG size[2] = {kPreviewWidth, kPreviewHeight};
    if (host.Send(session.module, KvwDesign::kPagePreview, KvwItemIdLow(pages[0]), KvwItemIdHigh(pages[0]),
                  reinterpret_cast<KvwWord>(size), 1, kKvwRecordSize,
                  KvwDesign::kWantsCompletion) != kKvwQueued) {
        std::fprintf(stderr, "module-demo: the module did not take the preview request\n");
        return 1;
    }
    if (!WinUserTest::PumpUntil([&] { return answered; }, kDeadline) || rgb.empty()) {
        std::fprintf(stderr, "module-demo: no %ldx%ld preview of page 1 came\n",
                     static_cast<long>(kPreviewWidth), static_cast<long>(kPreviewHeight));
        return 1;
    }
    const fs::path png = out / "design-page-1.png";
    if (!CKvPngFile::WriteSrgb8(png.string(), kPreviewWidth, kPreviewHeight, rgb, &error) ||
        !WriteContactSheet(session, panes, pages, out / "design-sheet.png", &error)) {
        std::fprintf(stderr, "module-demo: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", png.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const struct {
        const char* name;
        int (*run)(const fs::path& out, const std::vector<std::string>& files);
    } demos[] = {{"mail", &Mail}, {"design", &Design}, {"print", &Print}};
    const auto demo = argc >= 3
                          ? std::find_if(std::begin(demos), std::end(demos),
                                         [&](const auto& d) { return std::strcmp(argv[1], d.name) == 0; })
                          : std::end(demos);
    if (demo == std::end(demos)) {
        std::fprintf(stderr, "usage: module-demo mail|design|print OUTDIR [PHOTO...]\n");
        return 2;
    }
    std::error_code ec;
    const fs::path out = fs::absolute(argv[2], ec);
    fs::create_directories(out, ec);
    if (ec) {
        std::fprintf(stderr, "module-demo: cannot make %s: %s\n", argv[2], ec.message().c_str());
        return 1;
    }
    // The photos' paths are taken as given: the demo does not change its working folder.
    return demo->run(out, std::vector<std::string>(argv + 3, argv + argc));
}
