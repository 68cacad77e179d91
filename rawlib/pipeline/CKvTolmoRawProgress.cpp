#include "CKvTolmoFilterChain.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::int64_t kWhole = 100;

} // namespace

void CKvTolmoFilterChain::SetRawProcessor(CProcessRawVendor1* processor) {
    if (processor)
        processor->AddRef();
    if (m_rawProcessor) {
        // A processor let go of mid-update must not keep reporting to this chain.
        if (m_rawProcessor->GetProgressReceiver() == &m_rawProgress)
            m_rawProcessor->SetProgressReceiver(nullptr);
        m_rawProcessor->Release();
    }
    m_rawProcessor = processor;
}

bool CKvTolmoFilterChain::RawProgressOf(LONG current, LONG total, LONG* state, LONG* percent) {
    if (current == CProcessRawVendor1::kProgressStart) {
        *state = kProgressStart;
        *percent = 0;
        return true;
    }
    if (current == CProcessRawVendor1::kProgressEnd) {
        *state = kProgressEnd;
        *percent = kWhole;
        return true;
    }
    if (current < 0)
        return false;
    // 64 bits, so that neither the product nor total + 1 wraps; a total below 0 has no share to give.
    const std::int64_t share = std::int64_t{total} + 1;
    *state = kProgressStep;
    *percent = share > 0 ? static_cast<LONG>(std::min(std::int64_t{current} * kWhole / share, kWhole)) : 0;
    return true;
}

int CKvTolmoFilterChain::RawProgress::Progress(LONG current, LONG total) {
    LONG state = 0, percent = 0;
    if (RawProgressOf(current, total, &state, &percent))
        m_chain.ReportProgress(state, percent, kModeChanged);
    return 1;
}

CKvTolmoFilterChain::RawProgressScope::RawProgressScope(CKvTolmoFilterChain& chain, bool processedRaw) {
    if (!processedRaw || !chain.m_rawProcessor)
        return;
    processor = chain.m_rawProcessor;
    processor->AddRef();
    former = processor->GetProgressReceiver();
    processor->SetProgressReceiver(&chain.m_rawProgress);
}

CKvTolmoFilterChain::RawProgressScope::~RawProgressScope() {
    if (!processor)
        return;
    processor->SetProgressReceiver(former);
    processor->Release();
}
