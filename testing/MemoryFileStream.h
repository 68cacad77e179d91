// A file stream over bytes in memory, read exactly as a file of those bytes would be, and what a writer
// writes can be read back.
#pragma once

#include "platform/quasel/IPravonFileStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

class MemoryFileStream final : public IPravonFileStream {
public:
    explicit MemoryFileStream(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
    ~MemoryFileStream() override = default;

    IPravonError* Open(const PravonFile&, LONG) override { return nullptr; }
    IPravonError* Close() override { return nullptr; }
    bool IsOpen() const override { return true; }
    IPravonError* Read(void* buffer, ULONG count, ULONG* done) override {
        const std::size_t left = m_at < m_bytes.size() ? m_bytes.size() - m_at : 0;
        const std::size_t n = std::min<std::size_t>(count, left);
        if (n > 0)
            std::memcpy(buffer, m_bytes.data() + m_at, n);
        m_at += n;
        if (done)
            *done = static_cast<ULONG>(n);
        return nullptr;
    }
    IPravonError* Write(const void* data, ULONG count) override {
        if (m_at > m_bytes.size())
            m_bytes.resize(m_at);
        const auto* from = static_cast<const BYTE*>(data);
        for (ULONG i = 0; i < count; ++i, ++m_at) {
            if (m_at < m_bytes.size())
                m_bytes[m_at] = from[i];
            else
                m_bytes.push_back(from[i]);
        }
        return nullptr;
    }
    IPravonError* Seek(ULONGLONG position) override {
        m_at = static_cast<std::size_t>(position);
        return nullptr;
    }
    IPravonError* GetPosition(ULONGLONG* position) override {
        *position = m_at;
        return nullptr;
    }
    IPravonError* GetSize(ULONGLONG* size) override {
        *size = m_bytes.size();
        return nullptr;
    }
    // Lives on the stack of one input; references are counted only to satisfy the interface.
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; }

    const std::vector<BYTE>& Bytes() const { return m_bytes; }

private:
    std::vector<BYTE> m_bytes;
    std::size_t m_at = 0;
    ULONG m_references = 1;
};
