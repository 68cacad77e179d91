#include "plugin_framework/TBasicQWComp.h"
#include "plugin_framework/TResource.h"
#include "testing/AllocationSeam.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinModule.h"
#include "testing/Deadline.h"
#include "testing/MessageLoopThread.h"
#include "testing/TraceCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr const char* kLanguageLibrary = "FrameworkTestLang.so";

// A module object whose own parts allocate, as every real module's do: a note per message, an
// information text, a closing note.
class AllocatingModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Allocating module"; }
    TString GetLanguageDllName() override { return TString(kLanguageLibrary); }

    KvwResult OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                        KvwWord p7, KvwWord p8) override {
        TBasicQWComp::OnMessage(id, p1, p2, p3, p4, p5, p6, p7, p8);
        TString note;
        note.Format(L"message %#x", id);
        m_notes.push_back(note);
        return kKvwOk;
    }
    KvwResult GetInformation(DWORD* kind, DWORD* version) override {
        m_notes.push_back(GetName() + L" asked for its information");
        return TBasicQWComp::GetInformation(kind, version);
    }
    void Close() override {
        m_notes.push_back(GetName() + L" closing");
        TBasicQWComp::Close();
    }

private:
    std::vector<TString> m_notes;
};

KvwResult AnswerNothing(DWORD, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord, KvwWord) {
    return kKvwOk;
}

TBasicQWComp* MakeAllocatingModule() {
    return new AllocatingModule;
}

// The exports of this program's own framework copy, driven with a scripted host.
class ModuleExports : public ::testing::Test {
protected:
    void SetUp() override { Fresh(false); }
    void TearDown() override {
        KvwClose();
        WinUserTest::PumpPending();
    }

    // A new module object, initialised when asked.
    void Fresh(bool initialised) {
        KvwClose();
        KvwSetModuleFactory(&MakeAllocatingModule);
        ASSERT_NE(KvwGetModuleObject(), nullptr);
        if (initialised) {
            ASSERT_EQ(KvwInitialize(&AnswerNothing, &m_host), kKvwOk);
        }
    }
    // After KvwClose: the object is gone and so is everything it held.
    void ExpectAllGivenBack() {
        EXPECT_EQ(KvwGetModuleObject(), nullptr);
        EXPECT_EQ(m_host.Items().HeldByModules(), 0);
        EXPECT_EQ(m_host.Browse().HeldByModules(), 0);
        EXPECT_EQ(GetModuleHandleA(kLanguageLibrary), nullptr) << "the language library was not freed";
    }

    CScriptedHost m_host;
    kvtest::TraceCapture m_trace;
};

TEST_F(ModuleExports, CloseFreesTheLanguageLibraryThatInitializeLoaded) {
    ASSERT_EQ(GetModuleHandleA(kLanguageLibrary), nullptr);
    ASSERT_EQ(KvwInitialize(&AnswerNothing, &m_host), kKvwOk);
    EXPECT_NE(GetModuleHandleA(kLanguageLibrary), nullptr);
    TString text;
    EXPECT_TRUE(TResource::Instance()->LoadString(1084, text)) << "strings come from the language library";
    KvwClose();
    ExpectAllGivenBack();
    EXPECT_FALSE(TResource::Instance()->LoadString(1084, text)) << "nor from a library that is gone";
}

// Each export runs with its n-th allocation failing, for n = 0, 1, ... until it makes fewer allocations
// than that: every run ends in a result word (a failure, or a success where the code made do without the
// allocation), never in an exception, and KvwClose then gives back everything.
TEST_F(ModuleExports, AnAllocationThatFailsInsideAnExportBecomesAFailureWordAndATraceLine) {
    const std::vector<KvwItemId> ids = {KvwMakeItemId(1, 0x02020000), KvwMakeItemId(2, 0), 3};
    struct Export {
        const char* name;
        bool initialised; // the module object is initialised before the call
        // The export's result word; KvwClose has none, and answers whether the object is gone.
        std::function<KvwResult()> call;
        bool hasResult = true;
    };
    DWORD kind = 0, version = 0;
    const std::vector<Export> exports = {
        {"KvwInitialize", false, [&] { return KvwInitialize(&AnswerNothing, &m_host); }},
        {"KvwMessage", true,
         [&] {
             return KvwMessage(KvwHostMessage::kFullImageReady, 0, 0, reinterpret_cast<KvwWord>(ids.data()),
                               ids.size(), 0, 0, KvwPluginRequest::kFullImage, 0);
         }},
        {"KvwGetInformation", true, [&] { return KvwGetInformation(&kind, &version); }},
        {"KvwClose", true,
         [&] {
             KvwClose();
             return KvwGetModuleObject() ? kKvwInvalidArgument : kKvwOk;
         },
         false},
    };
    constexpr int kMaxAllocations = 2000;
    for (const Export& e : exports) {
        SCOPED_TRACE(e.name);
        const std::string line = std::string(e.name) + ": failed (std::bad_alloc)";
        int failedRuns = 0;
        for (int n = 0;; ++n) {
            ASSERT_LT(n, kMaxAllocations) << "the export never ran without a failure";
            Fresh(e.initialised);
            const int linesBefore = m_trace.Count(line);
            kvtest::FailNthAllocation(n);
            KvwResult result = kKvwInvalidArgument;
            EXPECT_NO_THROW(result = e.call()) << "at allocation " << n;
            if (!kvtest::StopFailingAllocations()) {
                EXPECT_LT(result, kKvwFirstFailure) << "without a failure";
                break;
            }
            ++failedRuns;
            const int lines = m_trace.Count(line) - linesBefore;
            if (!e.hasResult) {
                EXPECT_EQ(result, kKvwOk) << "the module object outlived its close, at allocation " << n;
                EXPECT_LE(lines, 1);
            } else if (result >= kKvwFirstFailure) {
                EXPECT_EQ(lines, 1) << "a failure without its trace line, at allocation " << n;
            } else {
                EXPECT_EQ(lines, 0) << "a success with a failure's trace line, at allocation " << n;
            }
            KvwClose();
            ExpectAllGivenBack();
            if (HasFailure())
                return;
        }
        EXPECT_GT(failedRuns, 0) << "the export allocates nothing, so nothing was tested";
    }
}

// The module object is made on a thread of its own (the host's user-interface thread) and deleted on
// another: its codec window, which only its own thread may destroy, must not lead to the deleted object.
TEST(ModuleObject, DeletedOnAnotherThreadLeavesNoWindowBoundToIt) {
    kvtest::Watchdog watchdog("module object deleted on another thread");
    AllocatingModule* module = nullptr;
    HWND codecWindow = nullptr;
    kvtest::MessageLoopThread owner([&] {
        module = new AllocatingModule;
        codecWindow = module->GetCodecWindow()->GetHandle();
    });
    ASSERT_TRUE(IsWindow(codecWindow));
    delete module;
    EXPECT_EQ(TWindow::FromHandle(codecWindow), nullptr) << "the codec window leads to a deleted object";
    // Taken by the owning thread, if the window is still there, with the object gone.
    PostMessageW(codecWindow, WM_APP, 0, 0);
    EXPECT_TRUE(kvtest::WaitUntil([&] { return !IsWindow(codecWindow); }))
        << "the owning thread did not close the window";
}

} // namespace
