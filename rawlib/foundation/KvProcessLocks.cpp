#include "KvProcessLocks.h"

namespace KvLibrary {

constinit Kv::CSyncGlobal g_revelationLocal("DORARevLocal");
constinit Kv::CSyncGlobal g_revelationWhole("DORARevWholeThing");
constinit Kv::CSyncGlobal g_lchTables("CFltLch-RatLInit-Guard");
constinit Kv::CSyncGlobal g_lensInformation("CKvLensInformation");
constinit Kv::CSyncGlobal g_fisheyeCache("CFisheyeFilter-InitSection");
constinit Kv::CSyncGlobal g_filterLibrary("");

void MakeProcessLocks() {
    for (const Kv::CSyncGlobal* lock : {&g_revelationLocal, &g_revelationWhole, &g_lchTables,
                                        &g_lensInformation, &g_fisheyeCache, &g_filterLibrary})
        lock->Get();
}

} // namespace KvLibrary
