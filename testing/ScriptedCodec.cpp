#include "ScriptedCodec.h"

#include <algorithm>
#include <sstream>

namespace kvtest {

ScriptedCodec::Picture ScriptedCodec::Solid(LONG width, LONG height, BYTE red, BYTE green, BYTE blue) {
    Picture picture{width, height, {}};
    for (LONG i = 0; i < width * height; ++i)
        picture.bgra.insert(picture.bgra.end(), {blue, green, red, 0xFF});
    return picture;
}

ScriptedCodec& ScriptedCodec::Instance() {
    static auto* codec = new ScriptedCodec;
    return *codec;
}

const IproCodecTable* ScriptedCodec::Table() {
    static const IproCodecTable table{
        sizeof(IproCodecTable), &Create, &Open, &Read, &Write, &GetInfo, &SetOption,
        &SetParameters,         &Destroy};
    return &table;
}

void ScriptedCodec::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pictures.clear();
    m_codecs.clear();
    m_failing.clear();
    m_calls.clear();
    m_lastCancel = nullptr;
    m_readDelta = 0;
    m_afterReadWidth = m_afterReadHeight = 0;
}

void ScriptedCodec::SetPicture(const std::wstring& itemId, Picture picture) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pictures[itemId] = std::move(picture);
}

void ScriptedCodec::FailAt(const std::string& call) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failing.push_back(call);
}

void ScriptedCodec::ChangeReadBytes(long delta) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_readDelta = delta;
}

void ScriptedCodec::ReportAfterRead(LONG width, LONG height) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_afterReadWidth = width;
    m_afterReadHeight = height;
}

std::vector<std::string> ScriptedCodec::Calls() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

void* ScriptedCodec::LastCancel() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastCancel;
}

int ScriptedCodec::Live() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_codecs.size());
}

bool ScriptedCodec::Enter(const std::string& call, IproCodecHandle handle, Codec** codec) {
    m_calls.push_back(call);
    const std::string name = call.substr(0, call.find(' '));
    if (std::find(m_failing.begin(), m_failing.end(), name) != m_failing.end())
        return false;
    if (!codec)
        return true;
    auto it = m_codecs.find(handle);
    *codec = it == m_codecs.end() ? nullptr : &it->second;
    return *codec != nullptr;
}

BOOL ScriptedCodec::Create(IproCodecHandle* codec, void* cancel) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    self.m_lastCancel = cancel;
    if (!codec || !self.Enter("Create", 0, nullptr))
        return FALSE;
    *codec = self.m_next++;
    self.m_codecs[*codec] = Codec{};
    return TRUE;
}

BOOL ScriptedCodec::Open(IproCodecHandle handle, const wchar_t* itemId) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    const std::wstring id = itemId ? itemId : L"";
    Codec* codec = nullptr;
    if (!self.Enter("Open " + std::string(id.begin(), id.end()), handle, &codec))
        return FALSE;
    auto picture = self.m_pictures.find(id);
    if (picture == self.m_pictures.end())
        return FALSE;
    codec->item = id;
    const bool stated = picture->second.statedWidth > 0 && picture->second.statedHeight > 0;
    codec->wantedWidth = stated ? picture->second.statedWidth : picture->second.width;
    codec->wantedHeight = stated ? picture->second.statedHeight : picture->second.height;
    return TRUE;
}

BOOL ScriptedCodec::Read(IproCodecHandle handle, DWORD format, LONG alignment, IIproCodecSink* sink) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    auto held = self.m_codecs.find(handle);
    const Codec wanted = held == self.m_codecs.end() ? Codec{} : held->second;
    std::ostringstream call;
    call << "Read " << static_cast<std::size_t>(wanted.wantedWidth) * wanted.wantedHeight * 4 << " "
         << alignment;
    Codec* codec = nullptr;
    if (!self.Enter(call.str(), handle, &codec) || format != IPRO_FORMAT_BGRA32 || !sink)
        return FALSE;
    auto picture = self.m_pictures.find(codec->item);
    if (picture == self.m_pictures.end())
        return FALSE;
    // The picture at the wanted size, by its nearest pixels.
    const Picture& from = picture->second;
    std::vector<BYTE> out;
    for (LONG y = 0; y < codec->wantedHeight; ++y) {
        for (LONG x = 0; x < codec->wantedWidth; ++x) {
            const std::size_t sx = static_cast<std::size_t>(x) * from.width / codec->wantedWidth;
            const std::size_t sy = static_cast<std::size_t>(y) * from.height / codec->wantedHeight;
            const BYTE* pixel = from.bgra.data() + (sy * from.width + sx) * 4;
            out.insert(out.end(), pixel, pixel + 4);
        }
    }
    out.resize(static_cast<std::size_t>(std::max<long>(0, static_cast<long>(out.size()) + self.m_readDelta)));
    codec->read = true;
    return sink->SetSize(out.size()) && sink->Write(out.data(), out.size(), 0);
}

BOOL ScriptedCodec::Write(IproCodecHandle handle, const wchar_t*, const IproCodecParamList*) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    Codec* codec = nullptr;
    return self.Enter("Write", handle, &codec) ? TRUE : FALSE;
}

BOOL ScriptedCodec::GetInfo(IproCodecHandle handle, LONG kind, void* data) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    Codec* codec = nullptr;
    if (!self.Enter("GetInfo", handle, &codec) || kind != IPRO_INFO_IMAGE || !data)
        return FALSE;
    auto* info = static_cast<IproCodecInfo*>(data);
    const bool changed = codec->read && self.m_afterReadWidth > 0;
    *info = IproCodecInfo{changed ? self.m_afterReadHeight : codec->wantedHeight,
                          changed ? self.m_afterReadWidth : codec->wantedWidth, 0x08060201, 24};
    return TRUE;
}

BOOL ScriptedCodec::SetOption(IproCodecHandle handle, LONG kind, void* data) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    const LONG* size = static_cast<const LONG*>(data);
    std::ostringstream call;
    call << "SetOption";
    if (size)
        call << " " << size[1] << "x" << size[0];
    Codec* codec = nullptr;
    if (!self.Enter(call.str(), handle, &codec) || kind != IPRO_OPTION_SIZE || !size)
        return FALSE;
    codec->wantedHeight = size[0];
    codec->wantedWidth = size[1];
    return TRUE;
}

BOOL ScriptedCodec::SetParameters(IproCodecHandle handle, const IproCodecParamList* params) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    std::ostringstream call;
    call << "SetParameters";
    if (params && params->size == sizeof(IproCodecParamList)) {
        for (DWORD i = 0; i < params->count; ++i) {
            const IproCodecParam* entry = params->entries[i];
            if (entry && entry->type == IPRO_PARAM_USE_PREVIEW && entry->value)
                call << " preview=" << *reinterpret_cast<const LONG*>(entry->value);
        }
    }
    Codec* codec = nullptr;
    return self.Enter(call.str(), handle, &codec) ? TRUE : FALSE;
}

BOOL ScriptedCodec::Destroy(IproCodecHandle handle) {
    ScriptedCodec& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    Codec* codec = nullptr;
    const bool held = self.Enter("Destroy", handle, &codec);
    self.m_codecs.erase(handle);
    return held ? TRUE : FALSE;
}

} // namespace kvtest
