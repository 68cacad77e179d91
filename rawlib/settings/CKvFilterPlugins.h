// One filter plug-in step of the development: the plug-in (shared with its copies by use count) with the
// parameter block it keeps, and a flag byte. Its record names the plug-in by its scripting id and display
// name and stores the parameters, so the step is rebuilt on another run from the installed plug-ins; a
// step whose plug-in is not installed comes back as the plug-in's name alone (the missing name).
#pragma once

#include "IKvState.h"
#include "rawlib/filters/CPluginRef.h"

#include <vector>

class CKvFilterPlugins : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    // A step without a plug-in: header, id, flag, size and an empty name.
    static constexpr int kEmptyRecordSize = 32;

    CKvFilterPlugins() = default;
    // A copy shares the plug-in (one use more) and takes the flag and the missing name.
    CKvFilterPlugins(const CKvFilterPlugins& other);
    CKvFilterPlugins& operator=(const CKvFilterPlugins& other);
    // Over what the record stores (scripting id, flag, parameters, name) and the missing name.
    bool operator==(const CKvFilterPlugins& other) const;

    int WriteState(BYTE* buffer, int size) override;
    // Version 0 gives a step without a plug-in (22); later versions are read as version 1. The plug-in is
    // looked up among the installed ones by scripting id; one that is not there, or whose file cannot be
    // loaded, leaves the step without a plug-in and its name as the missing name. Parameters are handed
    // over only when the record holds all of them.
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // Lets the plug-in object use the file and keeps it, with one use; false (and no plug-in) when the
    // file cannot be used. The step's previous plug-in is let go after the new one is taken, so attaching
    // the plug-in a step already holds keeps it.
    bool Attach(const char* path, IPlugin* plugin);
    // Lets the plug-in go (releasing it with its last use) and sets the flag to 1.
    void Detach();

    bool IsEmpty() const { return !m_plugin; }
    IPlugin* GetPlugin() const { return m_plugin.Get(); }
    DWORD GetScriptingId() const { return m_plugin ? m_scriptingId : 0; }
    BYTE GetFlag() const { return m_flag; }
    void SetFlag(BYTE flag) { m_flag = flag; }
    const CKvString& GetMissingName() const { return m_missingName; }

private:
    std::vector<BYTE> Parameters() const;
    CKvString StoredName() const;

    DWORD m_scriptingId = 0;
    BYTE m_flag = 1;
    CKvString m_missingName;
    CPluginRef m_plugin;
};
