// The filter plug-in steps of the development in the order they run, and the names of the stored steps
// whose plug-ins are not installed. Only the steps are written: a missing plug-in's step is left out.
#pragma once

#include "CKvFilterPlugins.h"

#include <cstddef>
#include <vector>

class CKvFilterPluginList : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    // The record counts its steps in 16 bits: a longer list is written with its first steps.
    static constexpr std::size_t kMaxStoredSteps = 0xFFFF;

    bool operator==(const CKvFilterPluginList& other) const {
        return m_steps == other.m_steps && m_missing.size() == other.m_missing.size() &&
               SameMissingNames(other);
    }

    int WriteState(BYTE* buffer, int size) override;
    // A record of another type gives 0 and changes nothing; one of version 0, or too short to hold a
    // version, empties both lists and gives 0. Steps are read one after the other until one is refused
    // or claims more bytes than remain; a step whose plug-in is missing adds its name to the missing
    // names instead.
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    void Append(const CKvFilterPlugins& step) { m_steps.push_back(step); }
    std::size_t GetCount() const { return m_steps.size(); }
    // `index` must be below GetCount().
    const CKvFilterPlugins& GetStep(std::size_t index) const { return m_steps[index]; }
    CKvFilterPlugins& GetStep(std::size_t index) { return m_steps[index]; }
    // True when no step holds a plug-in.
    bool IsEmpty() const;
    const std::vector<CKvString>& GetMissingNames() const { return m_missing; }

private:
    bool SameMissingNames(const CKvFilterPluginList& other) const;

    std::vector<CKvFilterPlugins> m_steps;
    std::vector<CKvString> m_missing;
};
