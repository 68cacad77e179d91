#include "CKvFilterPluginList.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <algorithm>
#include <climits>
#include <cstring>

bool CKvFilterPluginList::SameMissingNames(const CKvFilterPluginList& other) const {
    return std::equal(m_missing.begin(), m_missing.end(), other.m_missing.begin(), other.m_missing.end(),
                      [](const CKvString& a, const CKvString& b) { return std::strcmp(a, b) == 0; });
}

bool CKvFilterPluginList::IsEmpty() const {
    return std::all_of(m_steps.begin(), m_steps.end(), [](const CKvFilterPlugins& s) { return s.IsEmpty(); });
}

int CKvFilterPluginList::WriteState(BYTE* buffer, int size) {
    const std::size_t count = std::min(m_steps.size(), kMaxStoredSteps);
    CKvRecordWriter w(buffer, size, KvStateIds::kFilterPluginList, kVersion);
    w.PutU16(static_cast<WORD>(count));
    for (std::size_t i = 0; i < count; ++i) {
        // A step is a field of its own: written whole or not at all.
        std::vector<BYTE> step(static_cast<std::size_t>(m_steps[i].GetStateSize()));
        m_steps[i].WriteState(step.data(), static_cast<int>(step.size()));
        w.PutBytes(step.data(), step.size());
    }
    return w.Finish();
}

int CKvFilterPluginList::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 16)
        return 0;
    CKvRecordReader header(buffer, size);
    if (!header.IsRecordOf(KvStateIds::kFilterPluginList))
        return 0;
    if (header.GetVersion() == 0) {
        m_steps.clear();
        m_missing.clear();
        return 0;
    }
    return KvReadRecord(*this, buffer, size, KvStateIds::kFilterPluginList, KvVersionPolicy::kZeroRejects,
                        kVersion, [](CKvRecordReader& r, WORD, CKvFilterPluginList& t) {
                            WORD count = 0;
                            if (!r.Has(2) || r.GetPosition() != 22)
                                return 24;
                            r.GetU16(count);
                            std::int64_t consumed = 24;
                            for (WORD i = 0; i < count && r.GetRemaining() > 0; ++i) {
                                const std::uint64_t remaining = r.GetRemaining();
                                const int available =
                                    remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining);
                                CKvFilterPlugins step;
                                const int stepSize = step.ReadState(r.Here(), available);
                                if (stepSize <= 0 || static_cast<std::uint64_t>(stepSize) > remaining)
                                    break;
                                if (step.GetMissingName().IsEmpty())
                                    t.m_steps.push_back(step);
                                else
                                    t.m_missing.push_back(step.GetMissingName());
                                r.Skip(static_cast<std::uint64_t>(stepSize));
                                consumed += stepSize;
                            }
                            return static_cast<int>(std::min<std::int64_t>(consumed, INT_MAX));
                        });
}

const BYTE* CKvFilterPluginList::GetStateId() {
    return KvStateIds::kFilterPluginList.Data();
}
