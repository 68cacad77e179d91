#include "TPluginProgressDlg.h"

#include "TProgCtrl.h"

void TPluginProgressDlg::SetMessageText(const TString& text) {
    m_messageText = text;
    ShowText(kMessageTextId, text);
}

void TPluginProgressDlg::SetDetailText(const TString& text) {
    m_detailText = text;
    ShowText(kDetailTextId, text);
}

void TPluginProgressDlg::SetStepRange(LONG maximum) {
    m_stepMaximum = maximum;
    ShowRange(kStepBarId, maximum);
}

void TPluginProgressDlg::SetTotalRange(LONG maximum) {
    m_totalMaximum = maximum;
    ShowRange(kTotalBarId, maximum);
}

void TPluginProgressDlg::SetStepPos(LONG position) {
    m_stepPosition = position;
    ShowPos(kStepBarId, position);
}

void TPluginProgressDlg::SetTotalPos(LONG position) {
    m_totalPosition = position;
    ShowPos(kTotalBarId, position);
}

void TPluginProgressDlg::AdvanceStep(LONG change) {
    OffsetPos(kStepBarId, change);
}

void TPluginProgressDlg::AdvanceTotal(LONG change) {
    OffsetPos(kTotalBarId, change);
}

LONG TPluginProgressDlg::OnInit() {
    if (TDialog::OnInit() != 1)
        return 0;
    ShowText(kMessageTextId, m_messageText);
    ShowText(kDetailTextId, m_detailText);
    ShowRange(kStepBarId, m_stepMaximum);
    ShowRange(kTotalBarId, m_totalMaximum);
    ShowPos(kStepBarId, m_stepPosition);
    ShowPos(kTotalBarId, m_totalPosition);
    return 1;
}

void TPluginProgressDlg::Show(bool show) {
    if (!show && IsWindow()) {
        SetStepPos(0);
        SetTotalPos(0);
    }
    TDialog::Show(show);
}

void TPluginProgressDlg::OnCancel() {
    if (m_notifyTarget)
        m_notifyTarget->PostMessage(kProgressCancelledMessage, 0);
}

void TPluginProgressDlg::ShowText(int id, const TString& text) {
    if (TControl* control = IsWindow() ? GetControl(id) : nullptr)
        control->SetText(text);
}

void TPluginProgressDlg::ShowRange(int id, LONG maximum) {
    if (auto* bar = IsWindow() ? dynamic_cast<TProgCtrl*>(GetControl(id)) : nullptr) {
        bar->SetMin(0);
        bar->SetMax(maximum);
    }
}

void TPluginProgressDlg::ShowPos(int id, LONG position) {
    if (auto* bar = IsWindow() ? dynamic_cast<TProgCtrl*>(GetControl(id)) : nullptr)
        bar->SetPos(position);
}

void TPluginProgressDlg::OffsetPos(int id, LONG change) {
    if (auto* bar = IsWindow() ? dynamic_cast<TProgCtrl*>(GetControl(id)) : nullptr)
        bar->OffsetPos(change);
}
