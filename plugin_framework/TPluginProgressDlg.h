// A modeless progress window: a message, a detail line, a bar for the current step and one for the whole
// task. Its values may be set before its window exists and are shown when it opens; hiding it puts both
// bars back to 0. A cancel (its Cancel button, Escape, closing) is only told to its owner, by the message
// kProgressCancelledMessage posted to the notify target: whether to close is the owner's decision.
#pragma once

#include "TAutoHandle.h"
#include "TDialog.h"

constexpr UINT kProgressCancelledMessage = 0xB424;

class TPluginProgressDlg : public TDialog {
public:
    // The controls of the progress template.
    static constexpr int kMessageTextId = 1027;
    static constexpr int kDetailTextId = 1028;
    static constexpr int kStepBarId = 1011;
    static constexpr int kTotalBarId = 1009;

    // Not owned; null (the default) tells nobody.
    void SetNotifyTarget(TAutoHandle* target) { m_notifyTarget = target; }

    // Each setter stores the value and, while the window exists, shows it.
    void SetMessageText(const TString& text);
    void SetDetailText(const TString& text);
    // The range 0 to maximum.
    void SetStepRange(LONG maximum);
    void SetTotalRange(LONG maximum);
    void SetStepPos(LONG position);
    void SetTotalPos(LONG position);
    // Moves the bar by the change; the stored positions stay as they are.
    void AdvanceStep(LONG change);
    void AdvanceTotal(LONG change);

    // After the dialog's own initialisation, the stored texts, ranges and positions go into the controls.
    LONG OnInit() override;
    // Hiding an open dialog first sets both positions to 0.
    void Show(bool show) override;
    // Posts kProgressCancelledMessage (0, 0) to the notify target when there is one; the dialog stays.
    void OnCancel() override;

    LONG GetStepRange() const { return m_stepMaximum; }
    LONG GetTotalRange() const { return m_totalMaximum; }
    LONG GetStepPos() const { return m_stepPosition; }
    LONG GetTotalPos() const { return m_totalPosition; }
    const TString& GetMessageText() const { return m_messageText; }
    const TString& GetDetailText() const { return m_detailText; }

private:
    void ShowText(int id, const TString& text);
    void ShowRange(int id, LONG maximum);
    void ShowPos(int id, LONG position);
    void OffsetPos(int id, LONG change);

    LONG m_stepMaximum = 100;
    LONG m_totalMaximum = 100;
    LONG m_stepPosition = 0;
    LONG m_totalPosition = 0;
    TString m_messageText;
    TString m_detailText;
    TAutoHandle* m_notifyTarget = nullptr;
};
