#include "TDesignPanes.h"

#include "TKvwDesignModule.h"

void TDesignPaneBase::RequestPreviousPage() {
    m_module.GoToPage(m_module.GetShownPage() - 1);
}

void TDesignPaneBase::RequestNextPage() {
    m_module.GoToPage(m_module.GetShownPage() + 1);
}

void TDesignPaneBase::GoToPage(LONG page) {
    m_module.GoToPage(page);
}

void TDesignPaneBase::UpdatePageLabel() {
    m_module.SendPageLabel();
}

bool TDesignSinglePane::Create(HWND parent, const TWindow::TRect& rect) {
    m_window->SetReferenceSize(TGenericPane::TLSize(rect.Width(), rect.Height()));
    return m_window->Create(parent, rect, kControlId);
}

LONG TDesignSinglePane::GetShownPage() const {
    const TDBufPageIterator* iterator = m_window->GetPageIterator();
    return iterator && iterator->GetCurrentPage() >= 1 ? iterator->GetCurrentPage() : 1;
}
