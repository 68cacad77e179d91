// The pages of the open design rendered for the host: the requests, the renders' notices and the answers.
#include "TKvwDesignModule.h"

#include "plugin_framework/CodecTable.h"
#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/HostLink.h"
#include "plugin_framework/TAsyncRenderer.h"
#include "plugin_framework/TFilePath.h"

#include "platform/kvtrtl/KvwRecords.h"

#include "platform/win/WinDebug.h"

#include <cinttypes>
#include <cstdio>

using namespace KvwDesign;

namespace {

constexpr DWORD kAllSourceData = 0xFFFFFFFF;
constexpr DWORD kProgressScale = 100;
// The result of a request that the renderer skipped, refusing renders until it was ready again.
constexpr LONG kRenderSkipped = -1;
constexpr int kMaxRequeues = 3;

void TraceItem(const char* format, KvwItemId item) {
    char text[96];
    std::snprintf(text, sizeof(text), format, static_cast<std::uint64_t>(item));
    OutputDebugStringA(text);
}

} // namespace

std::size_t TKvwDesignModule::GetPendingRenders() const {
    std::size_t pending = 0;
    for (const auto& [id, task] : m_pageTasks)
        pending += task.discarded ? 0 : 1;
    return pending;
}

KvwResult TKvwDesignModule::AcceptPageRequest(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p5,
                                              KvwWord p6, KvwWord p8) {
    const KvwItemId item = KvwMakeItemId(static_cast<DWORD>(p1), static_cast<DWORD>(p2));
    CKvwSourceData source;
    if (GetItemService())
        GetItemService()->GetSourceData(KvwItemIdLow(item), KvwItemIdHigh(item), &source, kAllSourceData);
    const auto* wanted = reinterpret_cast<const LONG*>(p3);
    if (!wanted || wanted[0] == 0 || wanted[1] == 0 || p5 != kKvwRecordSize ||
        source.type != HostRequests::kDesignPageType)
        return kKvwBadPageRequest;
    // Only the open design's own pages are drawn: a page of another design, closed or never opened here,
    // would be drawn from this design's layout under its id.
    if (GetPageOfItem(item) == 0)
        return kKvwBadPageRequest;
    const graphtypes::TSize_T<double> size(static_cast<double>(wanted[0]), static_cast<double>(wanted[1]));
    PageTask task;
    task.item = item;
    task.requestId = id;
    task.tag = static_cast<DWORD>(p8);
    task.preview = id == kPagePreview;
    task.completion = (p6 & kWantsCompletion) != 0;
    task.progress = (p6 & kWantsProgress) != 0 && id == kPageFull;
    m_pendingRequest = &task;
    const KvwResult result = OnRenderPage(item, &size, task.preview);
    m_pendingRequest = nullptr;
    return result;
}

KvwResult TKvwDesignModule::OnRenderPage(KvwItemId item, const graphtypes::TSize_T<double>* size,
                                         bool preview) {
    if (!size || !(size->cx > 0.0) || !(size->cy > 0.0))
        return kKvwHandled;
    TraceItem("MainFrame OnRenderPage called for NUID=%" PRIu64 "\n", item);
    CKvwSourceData source;
    if (!GetItemService() || !KvwSucceeded(GetItemService()->GetSourceData(
                                 KvwItemIdLow(item), KvwItemIdHigh(item), &source, kAllSourceData)))
        return kKvwHandled;
    // A renderer that never started (or has stopped) would keep the request for ever.
    if (!m_renderer || !m_renderer->IsRunning() || !UpdateRenderDocument())
        return kKvwInvalidArgument;
    m_renderer->SetDocument(m_renderDocument.get());

    const auto page = static_cast<LONG>(source.value);
    auto request = TRefPtr<TRndrData>::Adopt(new TRndrData);
    request->m_pageNumber = page;
    TString path;
    if (!ClaimPagePath(page, path))
        return kKvwInvalidArgument;
    // The renderer is told the file by a path its context string can carry; the module keeps its own.
    TFilePath location;
    location.Set(m_pageFolder.ContextPath(path));
    BuildFilePageContext(location, request->m_context, size);

    TString codec;
    BuildCodecParameters(codec, preview, kPageProfile, 0);
    m_renderer->SetMediaContext(codec);
    m_renderer->SetReady();

    PageTask task = m_pendingRequest ? *m_pendingRequest : PageTask{};
    task.item = item;
    task.preview = preview;
    task.path = path;
    task.page = page;
    task.pageContext = request->m_context;
    OutputDebugStringA("MainFrame OnRenderPage Starting rendering task...\n");
    const DWORD id = request->GetId();
    m_pageTasks[id] = task;
    if (!m_renderer->QueueRequest(request.Get())) {
        // Refused: the request is answered now and its claimed file goes.
        m_pageTasks.erase(id);
        DeleteRenderedFile(path);
        return kKvwInvalidArgument;
    }
    return kKvwQueued;
}

bool TKvwDesignModule::UpdateRenderDocument() {
    if (!m_renderSource)
        m_renderSource = m_parts->MakeRenderSource(*this);
    if (!m_renderSource)
        return m_renderDocument != nullptr;
    if (m_renderDocument && !m_renderSource->IsDocumentChanged())
        return true;
    std::unique_ptr<TdocDocument> fresh = m_renderSource->CopyDocument();
    if (!fresh)
        return false;
    if (m_renderDocument) {
        // Renders queued so far may draw from the document the renderer has: it goes once the newest
        // of them came back.
        if (m_pageTasks.empty())
            m_renderDocument.reset();
        else
            m_retiredDocuments.push_back(
                RetiredDocument{m_pageTasks.rbegin()->first, std::move(m_renderDocument)});
    }
    m_renderDocument = std::move(fresh);
    return true;
}

bool TKvwDesignModule::ClaimPagePath(LONG page, TString& path) {
    TString base;
    base.Format(L"design_p%d", page);
    TFilePath location;
    if (!m_pageFolder.Open() || !MakeUniqueFileNameIn(m_pageFolder.GetPath(), base, L"png", location))
        return false;
    path = location.GetPath();
    return true;
}

void TKvwDesignModule::DeleteRenderedFile(const TString& path) const {
    // Only what the module claimed in its own folder is ever deleted.
    const TString& own = m_pageFolder.GetPath();
    if (path.IsEmpty() || own.IsEmpty() || path.GetLength() <= own.GetLength())
        return;
    const std::wstring text = static_cast<const wchar_t*>(path);
    const std::wstring folder = static_cast<const wchar_t*>(own);
    if (text.compare(0, folder.size(), folder) != 0 || text.find(L'/', folder.size()) != std::wstring::npos ||
        text.find(L"..", folder.size()) != std::wstring::npos)
        return;
    TFilePath location;
    location.Set(path);
    location.Delete();
}

void TKvwDesignModule::SendCompletion(const PageTask& task, KvwResult result) {
    DWORD word = static_cast<DWORD>(result);
    const bool failed = !KvwSucceeded(result);
    Send(kPageCompleted, KvwItemIdLow(task.item), KvwItemIdHigh(task.item),
         failed ? reinterpret_cast<KvwWord>(&word) : 0, failed ? 1 : 0, failed ? kCompletionError : 0, 0,
         task.requestId, task.tag);
}

void TKvwDesignModule::DiscardTask(DWORD, PageTask& task, bool written) {
    if (written) {
        // Nothing writes the file any more: it goes now, and its name may be claimed again.
        DeleteRenderedFile(task.path);
        task.path = TString();
    }
    if (task.discarded)
        return;
    task.discarded = true;
    if (task.completion && task.tag != 0)
        SendCompletion(task, kKvwCancelled);
}

void TKvwDesignModule::DiscardAllTasks() {
    // The render still running writes on: every file keeps its name until its task is forgotten.
    for (auto& [id, task] : m_pageTasks)
        DiscardTask(id, task, false);
}

void TKvwDesignModule::CancelQueuedRenders() {
    if (!m_renderer)
        return;
    m_renderer->CancelQueued();
    // The cleared requests never come back: each is answered now.
    DiscardAllTasks();
}

void TKvwDesignModule::ForgetTasksUpTo(DWORD id) {
    for (auto it = m_pageTasks.begin(); it != m_pageTasks.end() && it->first <= id;) {
        // A task before the one that came back was cleared from the queue unrendered.
        DiscardTask(it->first, it->second, true);
        it = m_pageTasks.erase(it);
    }
    std::erase_if(m_retiredDocuments,
                  [id](const RetiredDocument& retired) { return retired.lastTask <= id; });
}

bool TKvwDesignModule::OnMsgPageRendered(TRndrData* finished) {
    auto owned = TRefPtr<TRndrData>::Adopt(finished);
    if (!finished)
        return true;
    const DWORD id = finished->GetId();
    auto it = m_pageTasks.find(id);
    if (it == m_pageTasks.end() || it->second.discarded) {
        if (it != m_pageTasks.end())
            DeleteRenderedFile(it->second.path);
        ForgetTasksUpTo(id);
        return true;
    }
    // Skipped, or ended by an abort meant for another item's render (this task was not cancelled, or it
    // would have been discarded): rendered again.
    const bool endedByAnother =
        finished->m_result == kRenderSkipped || finished->m_result == kRenderCancelled;
    if (endedByAnother && it->second.requeued < kMaxRequeues && Requeue(id)) {
        ForgetTasksUpTo(id);
        return true;
    }
    PageTask task = it->second;
    TraceItem("MainFrame OnMsgPageRendered notif called for NUID=%" PRIu64 "\n", task.item);
    OutputDebugStringA(finished->m_result == 1 ? "MainFrame OnMsgPageRendered code = success\n"
                                               : "MainFrame OnMsgPageRendered code = failure\n");
    KvwResult result = kKvwInvalidArgument;
    if (finished->m_result == 1) {
        CKvwProfileImage image;
        if (HostLink::Instance()->ReadPngIntoImage(image, static_cast<const wchar_t*>(task.path)) &&
            image.image) {
            image.first = 1;
            image.profile = kPageProfile;
            result =
                Send(task.preview ? kPreviewImage : kFullImage, KvwItemIdLow(task.item),
                     KvwItemIdHigh(task.item), reinterpret_cast<KvwWord>(&image), 1, kProfileImageRecord);
        }
    } else if (finished->m_result == kRenderCancelled || finished->m_result == kRenderSkipped) {
        // Ended, or skipped again and again, by the cancels of other items' renders.
        result = kKvwCancelled;
    }
    // Answered: a later cancel finds nothing to complete, and the file is not the task's to delete.
    it->second.discarded = true;
    it->second.path = TString();
    ForgetTasksUpTo(id);
    if (task.completion)
        SendCompletion(task, result);
    return true;
}

bool TKvwDesignModule::Requeue(DWORD id) {
    auto node = m_pageTasks.extract(id);
    PageTask& task = node.mapped();
    auto request = TRefPtr<TRndrData>::Adopt(new TRndrData);
    request->m_pageNumber = task.page;
    request->m_context = task.pageContext;
    ++task.requeued;
    const DWORD fresh = request->GetId();
    node.key() = fresh;
    m_pageTasks.insert(std::move(node));
    if (m_renderer && m_renderer->QueueRequest(request.Get()))
        return true;
    node = m_pageTasks.extract(fresh);
    node.key() = id;
    m_pageTasks.insert(std::move(node));
    return false;
}

bool TKvwDesignModule::ReportRenderProgress(std::optional<DWORD> value) {
    if (!value)
        return true;
    // The one worker posts a render's notices before its finished page: they belong to the oldest
    // request still outstanding.
    for (const auto& [id, task] : m_pageTasks) {
        if (task.discarded)
            continue;
        if (task.progress) {
            DWORD words[2] = {*value, kProgressScale};
            Send(kPageProgress, KvwItemIdLow(task.item), KvwItemIdHigh(task.item),
                 reinterpret_cast<KvwWord>(words), 2, 2, 0, task.requestId, task.tag);
        }
        break;
    }
    return true;
}

KvwResult TKvwDesignModule::CancelPageRender(KvwItemId item) {
    bool any = false;
    bool running = false;
    const DWORD oldest = m_pageTasks.empty() ? 0 : m_pageTasks.begin()->first;
    for (const auto& [id, task] : m_pageTasks) {
        if (!task.discarded && (item == 0 || task.item == item)) {
            any = true;
            running = running || id == oldest;
        }
    }
    if (!any || !m_renderer)
        return kKvwHandled;
    if (item == 0) {
        m_renderer->CancelQueued();
        m_renderer->Abort();
        m_renderer->SetReady();
    } else if (running) {
        // Only the item's own render is ended; the others go on once the renderer is ready again.
        m_renderer->Abort();
        m_renderer->SetReady();
    }
    // After a cancel of all, nothing renders any more; a task of one item may still render into its
    // file, which therefore keeps its name until the task comes back.
    for (auto& [id, task] : m_pageTasks)
        if (item == 0 || task.item == item)
            DiscardTask(id, task, item == 0);
    return kKvwHandled;
}

void TKvwDesignModule::FreeRenderDocuments() {
    m_retiredDocuments.clear();
    m_renderDocument.reset();
    for (auto& [id, task] : m_pageTasks)
        DiscardTask(id, task, true);
    m_pageTasks.clear();
}
