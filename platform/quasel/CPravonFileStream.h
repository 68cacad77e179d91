// The file stream over a POSIX file descriptor.
#pragma once

#include "IPravonFileStream.h"

#include <atomic>

class CPravonFileStream final : public IPravonFileStream {
public:
    // Error component code of the file stream.
    static constexpr LONG kComponent = 0x46537472; // "FStr"
    // Secondary code of errors that carry a C runtime error number as their kind.
    static constexpr LONG kRuntime = 1;

    CPravonFileStream() = default;

    IPravonError* Open(const PravonFile& file, LONG mode) override;
    IPravonError* Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    // The open file's descriptor, -1 when closed; it stays the stream's own.
    int Descriptor() const { return m_fd; }
    IPravonError* Read(void* buffer, ULONG count, ULONG* done) override;
    IPravonError* Write(const void* data, ULONG count) override;
    IPravonError* Seek(ULONGLONG position) override;
    IPravonError* GetPosition(ULONGLONG* position) override;
    IPravonError* GetSize(ULONGLONG* size) override;

    ULONG AddRef() override;
    ULONG Release() override;

private:
    ~CPravonFileStream() override;

    std::atomic<ULONG> m_references{1};
    int m_fd = -1;
};
