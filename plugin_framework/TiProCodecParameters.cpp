#include "TiProCodecParameters.h"

TiProCodecParameters::TiProCodecParameters() : m_list{sizeof(IproCodecParamList), 0, nullptr} {}

IproCodecParam& TiProCodecParameters::operator[](LONG position) {
    return m_entries.try_emplace(position, IproCodecParam{0, 0}).first->second;
}

void TiProCodecParameters::Flatten(const IproCodecParamList*& list) {
    m_array.reset();
    m_list.entries = nullptr;
    m_list.count = static_cast<DWORD>(m_entries.size());
    if (m_entries.empty()) {
        list = nullptr;
        return;
    }
    m_array = std::make_unique<IproCodecParam*[]>(m_entries.size());
    std::size_t at = 0;
    for (auto& [position, entry] : m_entries)
        m_array[at++] = &entry;
    m_list.entries = m_array.get();
    list = &m_list;
}
