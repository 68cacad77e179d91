#include "TDesignPanes.h"

#include "TKvwDesignModule.h"

#include <algorithm>

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

void TDesignContactSheetPane::ShowPages(const KvwItemIdList& pages) {
    m_pages = pages;
    m_window->RefreshPageNUIDS(pages);
}

void TDesignContactSheetPane::ShowPage(LONG page) {
    const KvwItemId item = m_module.GetPageItem(page);
    auto it = std::find(m_pages.begin(), m_pages.end(), item);
    if (item != 0 && it != m_pages.end())
        m_window->FocusItem(static_cast<LONG>(it - m_pages.begin()) + 1);
}

void TDesignContactSheetPane::GoToPage(LONG picture) {
    if (picture < 1 || static_cast<std::size_t>(picture) > m_pages.size())
        return;
    const LONG page = m_module.GetPageOfItem(m_pages[static_cast<std::size_t>(picture) - 1]);
    if (page >= 1)
        m_module.GoToPage(page);
}
