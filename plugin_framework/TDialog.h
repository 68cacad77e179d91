// The framework's dialog: a window made from a dialog template of its resource module (the module's
// language library, as a rule) and run modally or modelessly through one dialog procedure. When it opens,
// every child control of a known class gets its wrapper (TControl), which belongs to the dialog; commands,
// notifications, scroll and draw requests are offered to the sending control's wrapper before the dialog's
// own handler maps, and the platform's default processing follows every message. The command IDOK ends the
// dialog with 1 (OnOK), IDCANCEL with 0 (OnCancel), IDCLOSE closes it as it is.
//
// The dialog also shows the framework's message boxes, with the module's caption (TModuleValues).
#pragma once

#include "TControl.h"
#include "TWindow.h"

class TDialog : public TWindow {
public:
    // What a child control is, read from its window class (and a button's style), and so which wrapper it
    // gets: none for kUnreadable, kOther and kListBox.
    enum ControlKindCode : LONG {
        kUnreadable = -1,
        kOther = 0,
        kStatic = 1,
        kEdit = 2,
        kButton = 3,
        kRadioButton = 4,
        kCheckBox = 5,
        kProgress = 6,
        kTrackbar = 7,
        kListBox = 8,
        kComboBox = 9,
        kOwnerDraw = 11,
        kUpDown = 13,
    };
    // The kinds of ShowMessageBox: an error, an information, a yes-or-no question; any other kind is a
    // plain box with OK.
    enum MessageKind : LONG { kErrorMessage = 0, kInformationMessage = 1, kQuestionMessage = 2 };

    static LONG ControlKind(HWND control);

    TDialog() = default;
    // A dialog that is still open goes with its object: its wrappers are released and its window ended
    // (modal) or destroyed (modeless), without calling back into this object.
    ~TDialog() override;

    // False without a window. Otherwise the wrappers of the controls are released; a modal dialog is ended
    // with the stored result (true when the platform ended it: a dialog ended already answers false and
    // keeps its first result), a modeless one destroyed.
    bool Destroy() override;
    // A dialog is created by its template: this runs OnInit, at WM_INITDIALOG.
    LONG OnCreate() final;
    // The dialog's initialisation: the handlers of IDOK, IDCANCEL and IDCLOSE (registered first, so a
    // later registration of those ids is refused) and a wrapper for every child control. Answers 1.
    virtual LONG OnInit();

    // The dialog of the template of the resource module, owned by parent when one is given, run until it
    // ends; the answer is its result (1 for OK, 0 for Cancel, or what a subclass passed), or -1 when there
    // is no resource module or template id, the template cannot be made, or this object has a window open.
    virtual LONG DoModal(UINT templateId, HWND parent);
    // The same dialog left to the thread's message loop; true when its window was made.
    virtual bool CreateModeless(UINT templateId, HWND parent);
    // Result 1, then Close.
    virtual void OnOK();
    // Result 0, then Close.
    virtual void OnCancel();

    // Null without a window.
    HWND GetDlgItem(int id) const;
    // The wrapper of the control with the id, made (and attached without owning the control) on first
    // asking; null when there is no such control, its kind has no wrapper, or the dialog is closing. The
    // wrapper belongs to the dialog.
    TControl* GetControl(int id);
    // Copies the module, parent, procedure, parameter and type into the dialog's resource; answers 0.
    LONG SetResource(const TResource& resource);
    // A message box of the kind with the module's caption, always topmost; true when the answer is OK or
    // Yes.
    static bool ShowMessageBox(const TString& text, LONG kind, HWND owner);

    bool IsModal() const { return m_modal; }
    bool IsClosing() const { return m_closing; }
    LONG GetResult() const { return m_result; }

    // The procedure of every framework dialog. It answers FALSE to everything but WM_INITDIALOG and the
    // colour messages a wrapper answered, so that the default processing follows.
    static INT_PTR DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    void SetResult(LONG result) { m_result = result; }

private:
    INT_PTR Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Sets the resource for a run; false when this object has a window open.
    bool Prepare(HWND parent);
    // The child's own wrapper, made by its kind unless the dialog is closing.
    TControl* WrapperOf(HWND child);
    // Each child's wrapper is detached from its control and released (one that is handling a message of
    // its own goes when that message is done).
    void ReleaseWrappers();
    static LONG OnOKCommand(TMessageInfo* info, void* context);
    static LONG OnCancelCommand(TMessageInfo* info, void* context);
    static LONG OnCloseCommand(TMessageInfo* info, void* context);

    bool m_closing = false;
    bool m_modal = false;
    LONG m_result = 0;
};
