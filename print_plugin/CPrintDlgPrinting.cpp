// The print job: the printer's print dialog, the printer document, one page after the other rendered
// into the printer's context by the renderer's worker, with progress and cancel.
#include "CPrintDlg.h"

#include "plugin_framework/ContextStrings.h"

#include <cmath>
#include <new>

namespace {

using graphtypes::TRect_T;
using graphtypes::TSize_T;

constexpr UINT kDocumentNameText = 1017;
constexpr UINT kPrintFailedText = 1019;
constexpr UINT kProgressDetailText = 1022;
constexpr UINT kProgressText = 1023;
constexpr UINT kProgressTemplate = 1014;
constexpr LONG kStepRange = 100;
constexpr LONG kRendered = 1;

} // namespace

bool CPrintDlg::RenderResolution(const TSize_T<LONG>& printer, const std::vector<PrinterTypeRecord>& types,
                                 LONG kind, TSize_T<LONG>& render) {
    if (printer.cx <= 0 || printer.cy <= 0)
        return false;
    render = printer;
    if (kind < 0 || static_cast<std::size_t>(kind) >= types.size())
        return true;
    const TSize_T<LONG>& wanted = types[static_cast<std::size_t>(kind)].resolution;
    if (wanted.cx <= 0 || wanted.cy <= 0)
        return true;
    if (printer.cx >= wanted.cx && printer.cy >= wanted.cy) {
        render = wanted;
        return true;
    }
    const double ratio = static_cast<double>(printer.cx) / printer.cy;
    if (printer.cx <= printer.cy)
        render = TSize_T<LONG>(static_cast<LONG>(std::trunc(wanted.cy * ratio)), wanted.cy);
    else
        render = TSize_T<LONG>(wanted.cx, static_cast<LONG>(std::trunc(wanted.cx / ratio)));
    if (render.cx <= 0 || render.cy <= 0)
        render = printer;
    return true;
}

LONG CPrintDlg::DefaultPrinterKind(const TSize_T<LONG>& printer,
                                   const std::vector<PrinterTypeRecord>& types) {
    LONG finest = TUserOptions::kNoPrinterKind;
    double finestDots = 0;
    for (std::size_t i = 0; i < types.size(); ++i) {
        const LONG kind = static_cast<LONG>(i);
        TSize_T<LONG> render;
        if (!RenderResolution(printer, types, kind, render))
            continue;
        if (render == printer)
            return kind;
        const double dots = static_cast<double>(render.cx) * render.cy;
        if (finest == TUserOptions::kNoPrinterKind || dots > finestDots) {
            finest = kind;
            finestDots = dots;
        }
    }
    return finest;
}

void CPrintDlg::OnOK() {
    if (m_iterator)
        m_iterator->CancelRendering(false);
    m_printer.PrintDialog(GetHandle(), m_pageCount, &CPrintDlg::OnPrintDialogDone, this);
}

void CPrintDlg::OnPrintDialogDone(bool accepted, const std::vector<LONG>& pages, void* context) {
    auto* dialog = static_cast<CPrintDlg*>(context);
    if (accepted && !pages.empty() && dialog->IsWindow() && dialog->IsIdle())
        dialog->StartJob(pages);
}

void CPrintDlg::StartJob(const std::vector<LONG>& pages) {
    if (!m_printer.StartDocument(LoadText(kDocumentNameText)))
        return;
    m_pageList = pages;
    m_cancelled = false;
    m_printPosition = 0;
    m_idle = false;
    if (!PrintPage()) {
        FailJob(false);
        return;
    }
    ShowProgress(true);
    if (!m_progress)
        return;
    SetProgressMessage();
    m_progress->SetStepRange(kStepRange);
    m_progress->SetTotalPos(0);
    m_progress->SetTotalRange(static_cast<LONG>(m_pageList.size()) - 1);
}

void CPrintDlg::SetProgressMessage() {
    if (!m_progress)
        return;
    TString text;
    text.Format(LoadText(kProgressText), static_cast<int>(m_printPosition + 1),
                static_cast<int>(m_pageList.size()));
    m_progress->SetMessageText(text);
}

bool CPrintDlg::PrintPage() {
    if (m_printPosition >= m_pageList.size())
        return false;
    TSize_T<LONG> render;
    const TSize_T<LONG>& resolution = m_printer.GetResolution();
    if (!RenderResolution(resolution, m_config.GetPrinterTypes(), m_options.printerKindIndex, render))
        return false;
    const TSize_T<double> scale(static_cast<double>(resolution.cx) / render.cx,
                                static_cast<double>(resolution.cy) / render.cy);
    if (m_printPosition == 0) {
        if (!BuildSheet(false) || !m_printDocument)
            return false;
        // The sheet was laid out in the printer's pixels from the device's origin: its page is drawn at
        // its own size, so that every cell lands where the preview shows it, whatever the margins.
        m_printPageSize = m_sheet.pageSize;
        m_renderer->SetReady();
        TString documentContext;
        const TSize_T<double> documentSize(m_printPageSize.cx / scale.cx, m_printPageSize.cy / scale.cy);
        if (!BuildDocContext(documentSize, TString(), documentContext, &scale) ||
            !m_renderer->SetDocument(m_printDocument.get(), documentContext))
            return false;
    }
    HDC dc = nullptr;
    if (!m_printer.StartPage(&dc) || !dc)
        return false;
    auto request = TRefPtr<TRndrData>::Adopt(new (std::nothrow) TRndrData);
    if (!request)
        return false;
    request->m_pageNumber = m_pageList[m_printPosition];
    if (!BuildDrawContext(dc, request->m_context,
                          TRect_T<double>(0, 0, m_printPageSize.cx, m_printPageSize.cy), nullptr, &scale))
        return false;
    m_pageRequest = request;
    if (!m_renderer->QueueRequest(request.Get())) {
        // The page was never drawn: the document is aborted by the caller, no blank page is ended.
        m_pageRequest = TRefPtr<TRndrData>();
        return false;
    }
    return true;
}

void CPrintDlg::FailJob(bool silent) {
    m_pageRequest = TRefPtr<TRndrData>();
    m_printer.AbortDocument();
    m_idle = true;
    if (!silent) {
        m_renderer->Cancel(true, true);
        ShowProgress(false);
    }
    BuildSheet(true);
    if (!silent)
        ShowMessageBox(LoadText(kPrintFailedText), kErrorMessage, GetHandle());
}

void CPrintDlg::ShowProgress(bool show) {
    ShowProgressDialog(m_progress, m_notify, kProgressTemplate, show, [this](TPluginProgressDlg& progress) {
        progress.SetDetailText(LoadText(kProgressDetailText));
        progress.SetTotalRange(static_cast<LONG>(m_pageList.size()));
    });
}

LONG CPrintDlg::OnRenderFinished(TMessageInfo& info) {
    auto* request = reinterpret_cast<TRndrData*>(info.lParam);
    if (!request)
        return 1;
    // Only the notice of the job's current page counts; any other is let go.
    if (m_idle || request != m_pageRequest.Get()) {
        request->Release();
        return 1;
    }
    m_pageRequest = TRefPtr<TRndrData>();
    const bool rendered = request->m_result == kRendered && !m_cancelled;
    request->Release();
    bool failed = !rendered;
    if (rendered) {
        CompleteProgressStep();
        if (!m_printer.EndPage()) {
            failed = true;
        } else if (m_printPosition + 1 >= m_pageList.size()) {
            if (!m_printer.EndDocument()) {
                failed = true;
            } else {
                ShowProgress(false);
                m_idle = true;
                SetResult(1);
                PostMessage(kCloseMessage, 0, 0);
                return 1;
            }
        } else {
            ++m_printPosition;
            SetProgressMessage();
            failed = !PrintPage();
        }
    }
    if (failed)
        FailJob(m_cancelled);
    return 1;
}

LONG CPrintDlg::OnCancelMessage() {
    if (m_idle)
        return 1;
    m_cancelled = true;
    m_renderer->Cancel(true, true);
    if (m_progress)
        m_progress->Show(false);
    TWindow::Enable(true);
    // A request the queue let go unrendered sends no notice: the job ends here, silently.
    if (m_pageRequest && m_pageRequest->m_result == -1 && m_renderer->IsIdle())
        FailJob(true);
    return 1;
}
