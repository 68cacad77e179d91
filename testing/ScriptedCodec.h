// An item codec table for the tests of what drives one (the canvas library's loader, the page renderers):
// pictures by item id text, every call logged, any call made to fail, and the bytes or the size that Read
// reports made wrong on purpose. The table's functions are plain functions, so there is one script per
// process; calls may come from any thread.
#pragma once

#include "platform/zizoraz/zIzoRaz.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kvtest {

class ScriptedCodec {
public:
    // Pixels as Read delivers them in IPRO_FORMAT_BGRA32: blue, green, red, alpha, row after row.
    struct Picture {
        LONG width = 0;
        LONG height = 0;
        std::vector<BYTE> bgra;
        // The size GetInfo reports before a size is set, when not 0 (a size the codec only states, as a
        // host's source record may): Read still resamples the pixels above.
        LONG statedWidth = 0;
        LONG statedHeight = 0;
    };
    static Picture Solid(LONG width, LONG height, BYTE red, BYTE green, BYTE blue);

    static ScriptedCodec& Instance();
    static const IproCodecTable* Table();

    // Forgets pictures, failures, changes and the log.
    void Reset();
    void SetPicture(const std::wstring& itemId, Picture picture);
    // The call of that name ("Create", "Open", "Read", "GetInfo", "SetOption", "SetParameters", "Destroy")
    // answers FALSE from now on.
    void FailAt(const std::string& call);
    // Read hands the sink this many bytes more (or fewer) than the size asked for has.
    void ChangeReadBytes(long delta);
    // GetInfo reports this size once Read has run.
    void ReportAfterRead(LONG width, LONG height);

    // "Create", "SetParameters preview=1", "Open 5", "GetInfo", "SetOption 100x25", "Read 270336 4",
    // "Destroy", in the order they came.
    std::vector<std::string> Calls() const;
    void* LastCancel() const;
    // Codecs created and not yet destroyed.
    int Live() const;

private:
    struct Codec {
        std::wstring item;
        LONG wantedWidth = 0;
        LONG wantedHeight = 0;
        bool read = false;
    };

    static BOOL Create(IproCodecHandle* codec, void* cancel);
    static BOOL Open(IproCodecHandle codec, const wchar_t* itemId);
    static BOOL Read(IproCodecHandle codec, DWORD format, LONG alignment, IIproCodecSink* sink);
    static BOOL Write(IproCodecHandle codec, const wchar_t* path, const IproCodecParamList* params);
    static BOOL GetInfo(IproCodecHandle codec, LONG kind, void* data);
    static BOOL SetOption(IproCodecHandle codec, LONG kind, void* data);
    static BOOL SetParameters(IproCodecHandle codec, const IproCodecParamList* params);
    static BOOL Destroy(IproCodecHandle codec);

    // Logs the call; false when it is to fail or the codec is not held (then codec is null).
    bool Enter(const std::string& call, IproCodecHandle handle, Codec** codec);

    mutable std::mutex m_lock;
    std::map<std::wstring, Picture> m_pictures;
    std::map<IproCodecHandle, Codec> m_codecs;
    std::vector<std::string> m_failing;
    std::vector<std::string> m_calls;
    IproCodecHandle m_next = 1;
    void* m_lastCancel = nullptr;
    long m_readDelta = 0;
    LONG m_afterReadWidth = 0;
    LONG m_afterReadHeight = 0;
};

} // namespace kvtest
