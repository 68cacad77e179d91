// The module's link to the host for small requests about one item, made on the user-interface thread: the
// host interface, the item service and the module object that sends requests. The module object's
// Initialize binds it and its Close unbinds it; every request fails while it is not bound. Beside them:
// the host's services asked through the link (its number, its registry, its panes' sizes, its imaging
// manager) and the texts built from the host's answers about items.
#pragma once

#include "GraphTypes.h"
#include "IKvwMessage.h"
#include "TString.h"

#include "platform/kvtrtl/IKvwHost.h"

class HostLink {
public:
    // The module's one link, made on first use.
    static HostLink* Instance();

    // Null values unbind it.
    void Bind(IKvwHost* host, IKvwItemService* items, IKvwMessage* module);
    // Both the item service and the module object are set.
    bool IsBound() const { return m_items && m_module; }

    IKvwHost* GetHost() const { return m_host; }
    IKvwItemService* GetItemService() const { return m_items; }
    IKvwMessage* GetModule() const { return m_module; }

    // The host's item, with a reference for the caller. An item the host does not hold is made available
    // (KvwPluginRequest::kMakeAvailable) and asked for once more; null when that fails too.
    IKvwItem* AcquireItem(KvwItemId item);
    // The item's property as the host shows it, as text; false (the text untouched) when the item or the
    // property cannot be had.
    bool GetItemProperty(KvwItemId item, DWORD property, TString& text);
    // The number of the host's pane service (20 for a host that restricts the plug-ins); 0 without it.
    DWORD QueryNumber();
    // The host's registry service with a reference for the caller (who releases it), or null.
    IKvwRegistryService* GetRegistryService();
    // The main window of the calling user-interface thread, the parent of the plug-ins' dialogs, or null.
    HWND GetMainWindowHandle() const;
    // The largest pane the component's window may have: the desktop's client width less 47, and its height
    // less the main window's client height plus the component's window client height, less 46. False
    // without the pane service or the component's window data, or when a window is missing (the calling
    // thread needs a main window).
    bool MaxPaneSize(DWORD component, graphtypes::TSize_T<LONG>& size);
    // Loads the image file (PNG, or any other the I/O library loads) into the record's image, made by the
    // host's imaging manager, step by step: true once the loader reports the whole image loaded. Any
    // failing step answers false; the file stays where it is.
    bool ReadPngIntoImage(CKvwProfileImage& record, const wchar_t* path);

private:
    IKvwHost* m_host = nullptr;
    IKvwItemService* m_items = nullptr;
    IKvwMessage* m_module = nullptr;
};

// The id as unsigned decimal text.
TString NuidToString(KvwItemId item);
// The item id of a whole unsigned decimal text of 64 bits (no sign, space or other character); false for
// any other text, with the id unchanged.
bool NuidFromString(const wchar_t* text, KvwItemId& id);

// What the host says of one item, in the order that metadata texts use: the file name (the text after the
// last separator of the item's path), the item's property texts 2, 1001, 1010, the pixel size ("%d x %d"
// of its width and height records), and property texts 1008, 1015, 1009, 1011, 1007, 1025, 1014. A field
// the host does not give stays empty.
struct TItemMetadata {
    static constexpr int kFieldCount = 12;
    static constexpr int kFileName = 0;
    static constexpr int kPixelSize = 4;
    // The host property of each field (0 for the two that are not properties).
    static constexpr DWORD kProperties[kFieldCount] = {0,    2,    1001, 1010, 0,    1008,
                                                       1015, 1009, 1011, 1007, 1025, 1014};

    TString fields[kFieldCount];
};

// Requests about one item through the host link.
class HostRequests {
public:
    // The type word of a page that the design module renders for the host.
    static constexpr DWORD kDesignPageType = 0x1400;
    // Metadata text lines (BuildMetadataText): bit 1 the file name, else bit 2 the basic line; bit 4 the
    // additional, bit 8 the detailed line.
    static constexpr DWORD kFileNameLine = 1;
    static constexpr DWORD kBasicLine = 2;
    static constexpr DWORD kAdditionalLine = 4;
    static constexpr DWORD kDetailedLine = 8;
    // The XSLT resource that turns metadata texts into caption lines.
    static constexpr UINT kCaptionStylesheet = 1001;

    // True when the host describes the item (all of its source data) with the design page's type word;
    // false when it does not, or the link is not bound.
    static bool IsDesignPage(KvwItemId item);
    // A copy of the item's record in a new array the caller frees with delete[]; false (buffer null, length
    // 0) when the item or the record cannot be had.
    static bool GetItemRecord(KvwItemId item, DWORD record, BYTE*& buffer, DWORD& length);
    // The path of the item's file as the host gives it; false (the path untouched) when it does not.
    static bool GetItemData(KvwItemId item, TString& path);
    // The size of the item's source (each side taken modulo 0x10000), (0, 0) when the host does not
    // describe it; true when it does.
    static bool GetSourceInfo(KvwItemId item, graphtypes::TSize_T<LONG>& size);
    // Fills every field it can; always true.
    static bool GetItemMetadata(KvwItemId item, TItemMetadata& metadata);
    // "NUID:<id>" and the lines the flags ask for, each followed by the separator: "Filename:<0>" or
    // "Basic:<0>,<1>", "Additional:<2>,...,<6>", "Detailed:<7>,...,<11>".
    static TString BuildMetadataText(KvwItemId item, const TItemMetadata& metadata, DWORD flags,
                                     const wchar_t* separator);
    // The caption lines of the items (each id copies times in a row) made by the module's caption
    // stylesheet from their metadata texts, in a new file "bndl.xml" (or the next free numbered name) of
    // the module's temporary folder, whose path is given back. The host's texts reach the stylesheet
    // literally: only a "<;/>", "@&@" or "$&$" inside them is broken by a blank, so that no separator
    // of the parameters or the texts is cut inside them. False (no file left, the path untouched) when the
    // stylesheet is missing, the file cannot be made or the transform fails.
    static bool TransformCaption(const KvwItemIdList& items, DWORD flags, TString& path, LONG copies);
    // The source document transformed by the module's own XSLT resource with the parameters into a new
    // file "bndl.xml" (or the next free numbered name) of the module's temporary folder, whose path is
    // given back. False (no file left, the path untouched) when the stylesheet is missing, the file cannot
    // be made or the transform fails.
    static bool TransformIntoBundle(const wchar_t* source, UINT stylesheet, const TString& parameters,
                                    TString& path);
    // The text with a blank put after the '&' of every "@&@" and "$&$" and after the ';' of every "<;/>":
    // none of them is left, and nothing else changes.
    static TString DefuseSeparators(const TString& text);
};
