#include "CPiUploader.h"

std::atomic<std::int32_t> CPiUploader::s_abort{0};
std::atomic<std::int32_t> CPiUploader::s_progressDone{0};
std::atomic<std::int32_t> CPiUploader::s_progressTotal{0};

void CPiUploader::GetProgress(std::int32_t* done, std::int32_t* total) const {
    if (done)
        *done = s_progressDone.load(std::memory_order_relaxed);
    if (total)
        *total = s_progressTotal.load(std::memory_order_relaxed);
}

void CPiUploader::SetProgress(std::int32_t done, std::int32_t total) {
    s_progressDone.store(done, std::memory_order_relaxed);
    s_progressTotal.store(total, std::memory_order_relaxed);
}
