// The host side of one filter plug-in: the filter record handed to it, the callback suites (handles,
// buffers, progress, abort, drawing, colour services, advance state), its stored parameter block, the
// protocol of a run and its use count. How the library is loaded, how its entry is called and how pixels
// are drawn belong to the platform's implementation, CPluginWin.
//
// A run: PrepareForSource fills the image fields, SetupRun sets up the output rectangle, the output
// buffer and the parameters, Prepare, Run and Process drive the plug-in, the output buffer then holds
// its output, and Finish ends the run and keeps the parameters the plug-in left.
#pragma once

#include "platform/plugins/KvFilterPlugin.h"
#include "platform/pravon/IPravonImage.h"
#include "rawlib/foundation/CKvString.h"
#include "rawlib/foundation/CSyncCritical.h"

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

class CFltPlugin;

// One buffer handed out through the buffer suite.
struct C_PI_Buffer {
    std::unique_ptr<BYTE[]> data;
    LONG size = 0;
    bool locked = false;
};

class IPlugin {
public:
    // Told about progress: kind 0 when a run starts, 1 with the percent of the image read since the last
    // PrepareForSource, 2 with 100 when it ends. Answering false asks the plug-in to stop: its abort test
    // answers true from then on, until the next PrepareForSource.
    using ProgressCallback = bool (*)(LONG kind, LONG value, void* user);

    // The host's output of a run: the set-up rectangle's pixels, every plane, interleaved or (when the
    // plug-in asked for it) plane after plane.
    struct Output {
        const BYTE* data = nullptr;
        CPravonRect rect;
        LONG planes = 0;
        LONG bytesPerSample = 0;
        bool planar = false;
        LONG rowBytes = 0;
        std::int64_t planeBytes = 0;
    };

    IPlugin();
    IPlugin(const IPlugin&) = delete;
    IPlugin& operator=(const IPlugin&) = delete;
    // Releases the buffers, handles, parameter block and work buffers.
    virtual ~IPlugin();

    // The callbacks, in the order of the record's slots. The abort test answers false unless the run's
    // progress callback asked to stop; progress, the host procedure and events do nothing.
    virtual BOOL TestAbort();
    virtual void UpdateProgress(LONG done, LONG total) {}
    virtual void HostProcedure(SHORT selector, std::intptr_t* data) {}
    virtual void ProcessEvent(void* event) {}
    virtual SHORT DisplayPixels(const KvPixelMap* source, const KvPluginRect* rect, LONG row, LONG column,
                                void* context) = 0;

    // Loads the library at the path (unloading first), finds its entry and reads its resources: 0, or
    // KvPlugin::kErrNoModule with nothing loaded.
    virtual SHORT Load() = 0;
    virtual void Unload() = 0;
    // Calls the loaded entry: kErrNotLoaded without a library, kErrNoEntry without an entry.
    virtual SHORT CallEntry(SHORT selector, void* record, std::intptr_t* data) = 0;

    // Nothing changes (0) when this file, compared without regard to case, is loaded already. Otherwise
    // the buffers go, the plug-in counts as not initialised and the file is loaded; the result is Load's.
    virtual SHORT SetPluginFile(const char* path);
    virtual void ReleaseBuffers();

    // The handle suite. A handle is a record of the host's that keeps its bytes and the size asked for;
    // resizing moves the bytes, never the handle. Handles the host did not issue are ignored.
    virtual KvHandle NewHandle(LONG size);
    virtual void DisposeHandle(KvHandle handle);
    virtual void DisposeRegularHandle(KvHandle handle) { DisposeHandle(handle); }
    virtual LONG GetHandleSize(KvHandle handle);
    // kErrMemory when the bytes cannot be had and kErrParameter for a negative size or a foreign handle;
    // the handle is then as it was.
    virtual SHORT SetHandleSize(KvHandle handle, LONG size);
    virtual void* LockHandle(KvHandle handle, BOOL moveHigh);
    virtual void UnlockHandle(KvHandle handle) {}
    virtual void RecoverSpace(LONG size) {}

    // The buffer suite. Ids are slot indexes; a freed slot is the first to be reused. An id that names no
    // slot acts as a slot without data: lock answers null, unlock and free do nothing.
    virtual SHORT AllocateBuffer(LONG size, KvBufferId* id);
    virtual void* LockBuffer(KvBufferId id, BOOL moveHigh);
    virtual void UnlockBuffer(KvBufferId id);
    virtual void FreeBuffer(KvBufferId id);
    virtual LONG BufferSpace() { return GetFreeMemory(); }

    // Moves the input rectangle the record asks for into the input buffer and points the record's output
    // at the host's output buffer (see IPluginAdvanceState.cpp for what is checked).
    virtual SHORT AdvanceState();
    // 0 unless a conversion between two different spaces is asked for, which this host does not do.
    virtual SHORT CheckColorServices(KvColorServicesInfo* info);
    // Zeroes the records and suites and fills the host's fields and callbacks.
    virtual void ResetFilterRecord();
    // Bytes of memory still to be had, at most the largest positive 32-bit number.
    virtual LONG GetFreeMemory() = 0;
    // Calls the plug-in with a selector, preceded once per loaded file by the initial call; 0 when
    // nothing is loaded. kSelectorAbout gets the about record, every other selector the filter record.
    virtual SHORT CallSelector(SHORT selector);

    LONG BeginUse() { return ++m_useCount; }
    LONG EndUse() { return m_useCount > 0 ? --m_useCount : 0; }
    LONG GetUseCount() const { return m_useCount; }

    // Copies the stored block out when the buffer holds it; answers the block's size.
    LONG GetParameters(BYTE* buffer, LONG size) const;
    // Replaces the stored block by a copy; size 0 clears it. False when memory runs out (block unchanged).
    bool SetParameters(const BYTE* bytes, LONG size);
    LONG GetParameterSize() const { return static_cast<LONG>(m_parameters.size()); }

    // The filters that use this plug-in; registering twice counts once.
    void RegisterFilter(CFltPlugin* filter);
    void UnregisterFilter(CFltPlugin* filter);
    std::size_t GetFilterCount() const { return m_filters.size(); }

    // Fills the image fields of the record from the source (size, colour space) and the scale and
    // resolution given; false for a colour space the plug-in format has no mode for. Starts the count of
    // pixels read and forgets a request to stop.
    bool PrepareForSource(IPravonDataSource* source, double scale, double resolution);
    // Sets up a run over rect of the source: the output rectangle, every plane, no padding, the output
    // buffer for rect and the stored parameter block as the parameters handle. The manager makes the
    // scaler when the plug-in asks for its input scaled down.
    SHORT SetupRun(IPravonDataSource* source, IPravonManager* manager, const PravonRect& rect);
    // The prepare call; an answer of kPrepareDone is left to the caller.
    SHORT Prepare();
    // True until the first prepare; afterwards while a source is set and a run is asked for.
    bool IsReady() const;
    // The run call, made only with a source and a run asked for (else 0): reports (0, 0), calls the
    // plug-in and reports (2, 100). The callback also hears the progress of the processing that follows.
    SHORT Run(ProgressCallback callback, void* user);
    // The processing step: the start call when processing must start afresh, the input rectangle (the
    // output widened by the plug-in's padding, cut to the image), every plane, input rate 1, advance
    // state and the process call.
    SHORT Process();
    // The finish call; frees the work buffers, forgets the source and keeps the plug-in's parameters when
    // they differ from the stored block. Answers the call's result.
    SHORT Finish();
    // Ends a run that failed before its finish step without calling the plug-in: the work buffers go,
    // the source is forgotten and the stored parameter block stays as it was.
    void Abandon();
    // The settings of the image changed: the next run calls the plug-in's run step and starts afresh.
    void SettingsChanged();
    // The output buffer of the run set up last (data null before the first set-up and after Finish).
    Output GetOutput() const;

    // A result as an error of the component: null for 0, the error string's text for kErrWithText, kind
    // PravonKind::kInvalidState for any other.
    IPravonError* TranslateResult(SHORT result, LONG component) const;

    const CKvString& GetPluginFile() const { return m_path; }
    // "?" until read from the plug-in's resources.
    const CKvString& GetDisplayName() const { return m_name; }
    const CKvString& GetCategory() const { return m_category; }
    // 0 when the plug-in has no scripting event.
    DWORD GetScriptingId() const { return m_scriptingId; }
    bool IsLoaded() const { return m_loaded; }
    bool IsInitialised() const { return m_initialised; }
    KvFilterRecord& GetFilterRecord() { return m_record; }
    std::intptr_t GetData() const { return m_data; }
    // The text in the record's error string.
    std::string GetErrorText() const;

    // The main window that plug-ins get as their platform data (set by the library's interface).
    static void SetMainWindow(void* window);
    static void* GetMainWindow();

protected:
    // What Load finds in the plug-in's resources.
    void SetResourceNames(const char* name, const char* category, DWORD scriptingId);
    void SetLoaded(bool loaded) { m_loaded = loaded; }
    void SetErrorText(const char* text);

private:
    struct WorkBuffer {
        std::unique_ptr<BYTE[]> data;
        std::size_t size = 0;
        bool Allocate(std::size_t bytes);
        void Free();
    };
    class Scaler;

    bool IsIssued(KvHandle handle) const;
    // The stored block into the record's parameters handle.
    SHORT HandOverParameters();
    // Copies the part of the input rectangle inside the reading source into the input buffer, and into
    // the output buffer where the output needs a copy of the input.
    SHORT CopyInput(IPravonDataSource* reader, const CPravonRect& inRect, const CPravonRect& part,
                    const CPravonRect& outRect);
    SHORT FailWith(const char* text);
    // Tells the run's callback; a false answer makes the abort test answer true.
    void ReportProgress(LONG kind, LONG value);
    // Adds pixels read to the run's count and reports the percent of the image read so far.
    void ReportRead(std::int64_t pixels);
    // Points the record's output at outRect (inside the output buffer) and plane outLoPlane.
    SHORT PointOutput(const CPravonRect& outRect);

    CKvString m_path;
    CKvString m_name;
    CKvString m_category;
    DWORD m_scriptingId = 0;
    bool m_loaded = false;
    bool m_initialised = false;
    LONG m_useCount = 0;

    KvFilterRecord m_record{};
    KvAboutRecord m_about{};
    std::intptr_t m_data = 0;
    std::vector<BYTE> m_parameters;
    KvBufferSuite m_bufferSuite{};
    KvHandleSuite m_handleSuite{};
    std::intptr_t m_propertySuite[8] = {};
    std::intptr_t m_descriptorParameters[8] = {};
    BYTE m_errorString[KvPlugin::kErrorStringLength + 1] = {};

    std::vector<std::unique_ptr<C_PI_Buffer>> m_buffers;
    std::unordered_set<KvHandleRecord*> m_handles;
    std::vector<CFltPlugin*> m_filters;
    Kv::CSyncCritical m_lock;

    // The run.
    IPravonDataSource* m_source = nullptr;
    IPravonManager* m_manager = nullptr;
    WorkBuffer m_input;
    WorkBuffer m_output;
    CPravonRect m_outputRect;
    bool m_prepared = false;
    bool m_runRequested = true;
    bool m_restartPending = true;
    bool m_running = false;
    bool m_cancelled = false;
    ProgressCallback m_progress = nullptr;
    void* m_progressUser = nullptr;
    std::int64_t m_pixelsRead = 0;
};
