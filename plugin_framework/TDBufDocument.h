// A document with a private copy for rendering: the renderer reads the copy while the owner goes on
// changing the source. The copy is made by saving the source to a claimed temporary file and opening that
// file again. The holder shares its copy with whoever renders from it (the copy goes with its last holder);
// it deletes the source only when told to (ReleaseAll), since the source is the owner's document. The lock
// is for the holder's users: no operation here takes it.
#pragma once

#include "TSyncObject.h"
#include "TdocObject.h"

#include <memory>

class TDBufDocument {
public:
    explicit TDBufDocument(TdocDocument* source);
    TDBufDocument(const TDBufDocument&) = delete;
    TDBufDocument& operator=(const TDBufDocument&) = delete;
    ~TDBufDocument();

    // Replaces the copy by a new one of the source; true when a copy was made.
    bool Refresh();
    // Lets go of the copy and deletes the source.
    void ReleaseAll();

    TdocDocument* GetCopy() const { return m_copy.get(); }
    std::shared_ptr<TdocDocument> ShareCopy() const { return m_copy; }
    // The holder's copy becomes this one; the one before goes with its last holder.
    void SetCopy(std::shared_ptr<TdocDocument> copy) { m_copy = std::move(copy); }
    TdocDocument* GetSource() const { return m_source; }
    TCritSection& GetLock() { return m_lock; }

    // A new copy through the unique name "tmpNoSelect.xml" in the module's temporary folder, which is
    // deleted whether the copy is made or not; null when no name can be claimed, the save or the load fails.
    static std::unique_ptr<TdocDocument> Copy(const TdocDocument& source);

private:
    std::shared_ptr<TdocDocument> m_copy;
    TdocDocument* m_source;
    TCritSection m_lock;
    DWORD m_flags = 0;
};
