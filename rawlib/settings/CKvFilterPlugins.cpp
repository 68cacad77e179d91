#include "CKvFilterPlugins.h"

#include "KvPluginInfo.h"
#include "KvRecordCursor.h"
#include "KvStateIds.h"
#include "rawlib/filters/CPluginWin.h"

#include <climits>
#include <cstring>
#include <memory>

CKvFilterPlugins::CKvFilterPlugins(const CKvFilterPlugins& other)
    : m_flag(other.m_flag), m_missingName(other.m_missingName) {
    if (other.m_plugin)
        Attach(other.m_plugin->GetPluginFile(), other.m_plugin.Get());
}

CKvFilterPlugins& CKvFilterPlugins::operator=(const CKvFilterPlugins& other) {
    if (this == &other)
        return *this;
    if (other.m_plugin)
        Attach(other.m_plugin->GetPluginFile(), other.m_plugin.Get());
    else
        Detach();
    m_flag = other.m_flag;
    m_missingName = other.m_missingName;
    return *this;
}

bool CKvFilterPlugins::operator==(const CKvFilterPlugins& other) const {
    return GetScriptingId() == other.GetScriptingId() && m_flag == other.m_flag &&
           Parameters() == other.Parameters() && std::strcmp(StoredName(), other.StoredName()) == 0 &&
           std::strcmp(m_missingName, other.m_missingName) == 0;
}

bool CKvFilterPlugins::Attach(const char* path, IPlugin* plugin) {
    if (!plugin || plugin->SetPluginFile(path) != KvPlugin::kNoError) {
        Detach();
        return false;
    }
    m_plugin = CPluginRef(plugin);
    m_scriptingId = plugin->GetScriptingId();
    return true;
}

void CKvFilterPlugins::Detach() {
    m_flag = 1;
    m_plugin.Reset();
}

std::vector<BYTE> CKvFilterPlugins::Parameters() const {
    if (!m_plugin)
        return {};
    std::vector<BYTE> bytes(static_cast<std::size_t>(m_plugin->GetParameterSize()));
    m_plugin->GetParameters(bytes.data(), static_cast<LONG>(bytes.size()));
    return bytes;
}

CKvString CKvFilterPlugins::StoredName() const {
    return m_plugin ? m_plugin->GetDisplayName() : CKvString();
}

int CKvFilterPlugins::WriteState(BYTE* buffer, int size) {
    const std::vector<BYTE> parameters = Parameters();
    const CKvString name = StoredName();
    CKvRecordWriter w(buffer, size, KvStateIds::kFilterPlugins, kVersion);
    w.PutU32(GetScriptingId());
    w.PutU8(m_flag);
    w.PutU32(static_cast<DWORD>(parameters.size()));
    w.PutBytes(parameters.data(), parameters.size());
    w.PutBytes(static_cast<const char*>(name), static_cast<std::uint64_t>(name.GetLength()) + 1);
    return w.Finish();
}

namespace {

// The letters of a zero-ended text at the reader's position, within the record; the length counts up to
// the zero or to the record's end.
CKvString ReadName(const CKvFieldReader& r, std::uint64_t* length) {
    const std::uint64_t remaining = r.GetRemaining();
    const char* at = remaining ? reinterpret_cast<const char*>(r.Here()) : nullptr;
    const std::uint64_t n = at ? strnlen(at, remaining) : 0;
    *length = n;
    return n ? CKvString(std::string(at, n).c_str()) : CKvString();
}

int SaturatedSize(std::uint64_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

} // namespace

int CKvFilterPlugins::ReadState(const BYTE* buffer, int size) {
    return KvReadRecord(*this, buffer, size, KvStateIds::kFilterPlugins, KvVersionPolicy::kZeroResets,
                        kVersion, [](CKvRecordReader& r, WORD, CKvFilterPlugins& t) {
                            DWORD scriptingId = 0, count = 0;
                            BYTE flag = 1;
                            r.GetU32(scriptingId);
                            r.GetU8(flag);
                            r.GetU32(count);
                            const bool holdsParameters = r.Has(count);
                            const BYTE* parameters = holdsParameters ? r.Here() : nullptr;
                            if (holdsParameters)
                                r.Skip(count);
                            std::uint64_t nameLength = 0;
                            const CKvString name = ReadName(r, &nameLength);
                            const int consumed = SaturatedSize(std::uint64_t{count} + nameLength + 32);

                            KvPluginInfo probe;
                            probe.scriptingId = scriptingId;
                            KvPluginInfo installed;
                            std::unique_ptr<CPluginWin> plugin;
                            if (KvInstalledPlugins::Find(probe, &installed))
                                plugin.reset(CPluginWin::Create());
                            if (!plugin || !t.Attach(installed.path, plugin.get())) {
                                t.m_missingName = name;
                                t.m_flag = flag;
                                return consumed;
                            }
                            plugin.release();
                            if (count != 0 && parameters)
                                t.m_plugin->SetParameters(parameters, static_cast<LONG>(count));
                            t.m_flag = flag;
                            return consumed;
                        });
}

const BYTE* CKvFilterPlugins::GetStateId() {
    return KvStateIds::kFilterPlugins.Data();
}
