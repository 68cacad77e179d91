// The properties panel: a modeless dialog (template 101) in the host's sub-panel whose one control is the
// choice of the layout template; choosing an entry changes the open design's template.
#pragma once

#include "CKvwDialogResource.h"
#include "DesignParts.h"

#include "platform/win/WinGdiObjects.h"

class TSubactPropDlg : public CKvwDialogResource {
public:
    static constexpr UINT kTemplate = 101;
    static constexpr int kTemplateChoice = 2001;
    static constexpr COLORREF kBackground = RGB(242, 242, 242);

    explicit TSubactPropDlg(HWND parent);
    ~TSubactPropDlg() override;

    LONG OnInit() override;
    // The template list's descriptions in its order, the first chosen; false without the control or
    // without templates.
    bool Initialise(TKvwDesignModule& module);
    // The entry chosen, or -1 (also without the control).
    int GetChoice() const;
    void SetChoice(int index);
    // Only the size changes.
    bool Resize(LONG width, LONG height);

protected:
    LRESULT OnControlColor(HWND control, TMessageInfo& info) override;

private:
    static LONG OnTemplateChosen(TMessageInfo* info, void* context);

    TKvwDesignModule* m_module = nullptr;
    HBRUSH m_brush;
};

// The panel as the module drives it.
class TDesignPropertiesPanel : public IDesignPropertiesPanel {
public:
    explicit TDesignPropertiesPanel(TKvwDesignModule&) {}
    ~TDesignPropertiesPanel() override;
    bool Create(HWND parent) override;
    bool Initialise(TKvwDesignModule& module) override { return m_dialog && m_dialog->Initialise(module); }
    bool GetWindowRect(TWindow::TRect& rect) const override;
    bool Resize(LONG width, LONG height) override { return m_dialog && m_dialog->Resize(width, height); }
    void SelectTemplate(int index) override;
    TSubactPropDlg* GetDialog() const { return m_dialog.Get(); }

private:
    TRefPtr<TSubactPropDlg> m_dialog;
};
