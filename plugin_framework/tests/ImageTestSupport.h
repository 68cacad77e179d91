// What the image-loading suites share: this program's own module object, started by the scripted host as
// a module of the process, on the test's thread, which is the user-interface thread and pumps its
// messages while workers wait for it; codec calls through the module's codec table; and a sink that keeps
// what a codec reads.
#pragma once

#include "plugin_framework/CodecTable.h"
#include "plugin_framework/TBasicQWComp.h"
#include "plugin_framework/TImgLoadMng.h"
#include "plugin_framework/TSyncObject.h"

#include "platform/host/CScriptedHost.h"
#include "testing/Deadline.h"
#include "testing/ScriptedModuleTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace imagetest {

class ImageModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Image test module"; }
    TString GetLanguageDllName() override { return L"NoImageTestLang.dll"; }
};

// Keeps the bytes a codec's Read hands over.
class BytesSink : public IIproCodecSink {
public:
    BOOL SetSize(std::size_t bytes) override {
        sizes.push_back(bytes);
        data.assign(bytes, 0xEE);
        return TRUE;
    }
    BOOL Write(const void* bytes, std::size_t count, std::size_t offset) override {
        if (offset > data.size() || count > data.size() - offset)
            return FALSE;
        std::copy_n(static_cast<const BYTE*>(bytes), count,
                    data.begin() + static_cast<std::ptrdiff_t>(offset));
        return TRUE;
    }
    std::vector<std::size_t> sizes;
    std::vector<BYTE> data;
};

// The codec table's calls for one codec, made on a worker.
class Codec {
public:
    explicit Codec(TSyncObject* cancel = nullptr) { created = Table().Create(&handle, cancel) == TRUE; }
    ~Codec() {
        if (created)
            Table().Destroy(handle);
    }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    static const IproCodecTable& Table() { return *GetCodecTable(); }
    bool Open(KvwItemId item) { return Table().Open(handle, std::to_wstring(item).c_str()) == TRUE; }
    bool SetSize(LONG width, LONG height) {
        LONG size[2] = {height, width};
        return Table().SetOption(handle, IPRO_OPTION_SIZE, size) == TRUE;
    }
    bool SetParameter(std::uintptr_t type, LONG value) {
        IproCodecParam entry{type, reinterpret_cast<std::uintptr_t>(&value)};
        IproCodecParam* entries[] = {&entry};
        const IproCodecParamList list{sizeof(IproCodecParamList), 1, entries};
        return Table().SetParameters(handle, &list) == TRUE;
    }
    bool Read(DWORD format, LONG alignment, BytesSink& sink) {
        return Table().Read(handle, format, alignment, &sink) == TRUE;
    }
    bool Info(IproCodecInfo& info) { return Table().GetInfo(handle, IPRO_INFO_IMAGE, &info) == TRUE; }

    IproCodecHandle handle = 0;
    bool created = false;
};

class ImageHostTest : public ScriptedModuleTest<ImageModule> {
protected:
    void TearDown() override {
        ScriptedModuleTest::TearDown();
        EXPECT_EQ(CHostImage::Live(), 0) << "every image the host handed out was given back";
    }

    // An item whose full image and preview are pictures the host holds (null: none).
    void AddItem(KvwItemId id, std::shared_ptr<const CHostPicture> full,
                 std::shared_ptr<const CHostPicture> preview = nullptr, DWORD type = 0, DWORD subtype = 0) {
        CHostItemRecord item;
        item.id = id;
        item.source.type = type;
        item.source.subtype = subtype;
        if (full) {
            item.source.width = static_cast<DWORD>(full->width);
            item.source.height = static_cast<DWORD>(full->height);
        }
        item.fullPicture = std::move(full);
        item.fullHeld = item.fullPicture != nullptr;
        item.previewPicture = std::move(preview);
        item.previewHeld = item.previewPicture != nullptr;
        m_host->AddItem(item);
    }
    static std::shared_ptr<const CHostPicture> Pattern(LONG width, LONG height, LONG channels = 3) {
        return std::make_shared<const CHostPicture>(CHostPicture::Pattern(width, height, channels));
    }
    static std::shared_ptr<const CHostPicture> Solid(LONG width, LONG height,
                                                     const std::vector<BYTE>& pixel) {
        return std::make_shared<const CHostPicture>(CHostPicture::Solid(width, height, pixel));
    }
    static TCodecHidWnd* CodecWindow() { return KvwGetModuleObject()->GetCodecWindow(); }
    std::size_t RequestsOf(DWORD id) const { return m_host->RequestsOf(id).size(); }
    KvwResult Send(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0, KvwWord p5 = 0,
                   KvwWord p6 = 0, KvwWord p7 = 0) {
        return m_host->Send(m_module, id, p1, p2, p3, p4, p5, p6, p7);
    }

    // Runs the body on a worker while this thread pumps its messages until it is done. Past the deadline
    // the cancel object (when given) is signalled so that the worker can end, and the test fails.
    template <class Body>
    auto OnWorker(Body body, TSyncEvent* cancel = nullptr) -> decltype(body()) {
        using Result = decltype(body());
        std::atomic<bool> done{false};
        Result result{};
        std::thread worker([&] {
            result = body();
            done.store(true);
        });
        const bool finished =
            WinUserTest::PumpUntil([&] { return done.load(); }, kvtest::kThreadDeadline.count());
        if (!finished && cancel)
            cancel->Unlock();
        worker.join();
        EXPECT_TRUE(finished) << "the worker did not finish in time";
        return result;
    }
    // Pumps until the condition holds; false past the deadline.
    bool PumpUntil(const std::function<bool()>& condition) {
        return WinUserTest::PumpUntil(condition, kvtest::kThreadDeadline.count());
    }
};

} // namespace imagetest
