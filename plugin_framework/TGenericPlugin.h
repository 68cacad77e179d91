// The base of a plug-in that the host shows as a button: it answers the host's information request with
// its name and commands, hands the host its button's bitmaps, and, when the user runs its command, reads
// the host's selection and opens the plug-in's modal dialog on it. The print and mail plug-ins derive from
// it; the derived class makes the dialog in its Initialize.
#pragma once

#include "TBasicQWComp.h"
#include "TGenPluginDlg.h"

#include "platform/kvtrtl/KvwModuleRecords.h"

#include <array>
#include <vector>

class TGenericPlugin : public TBasicQWComp {
public:
    // Subtype word of the items a selection leaves out when asked to (design pages).
    static constexpr DWORD kSkippedSubtype = 0x400000;
    // The language library's text shown when more items are selected than the limit ("%d": the limit).
    static constexpr UINT kTooManyItemsText = 1084;
    // Containers nested deeper than this are not expanded.
    static constexpr int kMaxGroupDepth = 64;

    TGenericPlugin() = default;
    // Deletes the button bitmaps, and a dialog that is still there.
    ~TGenericPlugin() override;

    // Deletes the dialog, then the base Close.
    void Close() override;
    // The pre-dispatch, then: 0 fills the information record at p3 (kKvwInvalidArgument for none);
    // KvwHostMessage::kCommand runs OnCommand(p1, p2); KvwHostMessage::kButtonBitmaps hands the bitmaps into
    // the table at p3 when (p1, p2) is (the plug-in component kind, 0) or (the second kind, 0) and answers 1
    // (kKvwInvalidArgument without a table), 0 for any other (p1, p2); any other id: 0.
    KvwResult OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                        KvwWord p7, KvwWord p8) override;

    // The resource id of the plug-in dialog's template in the language library.
    virtual WORD GetDialogTemplateId() = 0;
    // The ids of the plug-in's commands, in the order the host lists them.
    virtual void GetCommandList(std::vector<DWORD>& commands) = 0;
    // The default command: the selection (skipping design pages) goes to the dialog, which runs modally
    // over the thread's main window; 1 whether or not a dialog opened (none opens for a selection the host
    // refuses, an empty one or one over the limit).
    virtual KvwResult OnCommand(DWORD command, DWORD second);

    // The dialog takes its template, strings and bitmaps from the resource accessor's module (the language
    // library). True.
    bool InitDialogResource();
    // The host's selection: the selected items, or the items of the current group when none are selected,
    // in the host's order; with skip set, design pages are left out (they still count as positions).
    // kKvwInvalidArgument without a browse service; kKvwNothingToWorkOn when the host refuses to bring the
    // selection up to date, gives no usable list, or nothing is left; 0 otherwise. A position at or past the
    // selection limit shows the language library's text 1084 in a message box and leaves the list empty.
    KvwResult GetSelection(TNuidList& list, bool skip);
    // Appends the items the item stands for: the members of a container in order, a member container's
    // own members in its place (depth first). A container already being expanded further up (one that
    // lists itself, directly or through another) is skipped, and containers below kMaxGroupDepth levels are
    // not expanded; a container under two parents is expanded under each. Nothing is appended for an item
    // the host does not describe or that has no members; the list is not cleared first.
    void ExpandGroupItems(KvwItemId item, TNuidList& list);

    TGenPluginDlg* GetDialog() const { return m_dialog.Get(); }

protected:
    TRefPtr<TGenPluginDlg> m_dialog;

private:
    KvwResult FillInformation(CKvwModuleInformation* record);
    KvwResult HandBitmaps(CKvwBitmapTable* table);
    void Expand(KvwItemId item, TNuidList& list, std::vector<KvwItemId>& path);

    // In the order of host button states 1, 3, 2 and KvwButtonState::kState100; each is loaded at the host's
    // first request.
    std::array<HBITMAP, 4> m_bitmaps{};
};
