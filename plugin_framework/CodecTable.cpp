#include "CodecTable.h"

#include "TObjectManager.h"
#include "TQwCodecPravon.h"

#include <cstdint>

namespace {

// The codec of the handle with a reference of the caller's, or null.
TRefPtr<TQwCodecPravon> Find(IproCodecHandle handle) {
    TObjectManager* manager = TObjectManager::Instance();
    TBaseObject* object = manager ? manager->FindHeld(handle) : nullptr;
    auto* codec = dynamic_cast<TQwCodecPravon*>(object);
    if (!codec && object)
        object->Release();
    return TRefPtr<TQwCodecPravon>::Adopt(codec);
}

// Callers are other libraries: nothing thrown gets past a function of the table.
template <class Body>
BOOL Guarded(Body body) noexcept {
    try {
        return body() ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

template <class Body>
BOOL OnCodec(IproCodecHandle handle, Body body) noexcept {
    return Guarded([&] {
        TRefPtr<TQwCodecPravon> codec = Find(handle);
        return codec && body(*codec);
    });
}

BOOL Create(IproCodecHandle* handle, void* cancel) {
    return Guarded([&] {
        TRefPtr<TCodecHidWnd> window = TQwCodecPravon::GetContextWindow();
        // Without a module object there is no manager to make either.
        TObjectManager* manager = handle && window ? TObjectManager::Instance() : nullptr;
        if (!manager)
            return false;
        auto codec =
            TRefPtr<TQwCodecPravon>::Adopt(new TQwCodecPravon(window, static_cast<TSyncObject*>(cancel)));
        *handle = manager->Register(codec.Get());
        // The object manager's entry holds the creator's reference until Destroy.
        codec.Detach();
        return true;
    });
}

BOOL Open(IproCodecHandle handle, const wchar_t* itemId) {
    return OnCodec(handle, [&](TQwCodecPravon& codec) { return codec.Open(itemId); });
}

BOOL Read(IproCodecHandle handle, DWORD format, LONG alignment, IIproCodecSink* sink) {
    return OnCodec(handle, [&](TQwCodecPravon& codec) { return codec.Read(format, alignment, sink); });
}

BOOL Write(IproCodecHandle handle, const wchar_t* path, const IproCodecParamList* params) {
    return OnCodec(handle, [&](TQwCodecPravon& codec) { return codec.Write(path, params); });
}

BOOL GetInfo(IproCodecHandle handle, LONG kind, void* data) {
    return OnCodec(handle, [&](TQwCodecPravon& codec) { return codec.GetInfo(kind, data); });
}

BOOL SetOption(IproCodecHandle handle, LONG kind, void* data) {
    return OnCodec(handle, [&](TQwCodecPravon& codec) { return codec.SetOption(kind, data); });
}

BOOL SetParameters(IproCodecHandle handle, const IproCodecParamList* params) {
    return OnCodec(handle, [&](TQwCodecPravon& codec) { return codec.SetParameters(params); });
}

BOOL Destroy(IproCodecHandle handle) {
    return OnCodec(handle, [&](TQwCodecPravon& codec) {
        // Of two Destroys of one handle at once, only one gives the creator's reference back.
        if (!codec.ClaimDestroy())
            return false;
        TObjectManager::UnregisterFromExisting(&codec);
        codec.Release();
        return true;
    });
}

const IproCodecTable kTable{sizeof(IproCodecTable), &Create, &Open, &Read, &Write, &GetInfo, &SetOption,
                            &SetParameters,         &Destroy};

} // namespace

const IproCodecTable* GetCodecTable() {
    return &kTable;
}

bool BuildCodecParameters(TString& out, bool preview, DWORD profile, DWORD quality) {
    out.Format(L"pravon_codec_addr=%llu;preview=%u;profile=%u;out_compress_quality=%u",
               static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(GetCodecTable())),
               preview ? 1u : 0u, profile, quality);
    return true;
}
