// The open design's layout: built from a template and a bundle of the selection, or read back from the
// layout record the host keeps for the design item; its pages registered with the host as page records,
// and the layout written back to the host's record database. Runs on the host's user-interface thread.
#pragma once

#include "DesignParts.h"

#include "plugin_framework/TString.h"
#include "plugin_framework/TdocObject.h"

#include "platform/kvtrtl/KvwRecords.h"

#include <map>
#include <memory>
#include <vector>

namespace KvwDesign {
constexpr DWORD kLayoutRecordKind = 0x1400;
constexpr DWORD kPageRecordFlag = kKvwDesignPageFlag;
constexpr DWORD kSourceRecordSelector = 0x80;
// Stored layouts above this many bytes are not read: the open fails instead.
constexpr DWORD kMaxStoredLayoutBytes = 64u << 20;
constexpr UINT kSelectionLimitString = 2016;
constexpr DWORD kShownItems = 0x10000091;
constexpr DWORD kShownItemsToo = 0x10000092;
constexpr DWORD kShownItem = 0x10000093;
constexpr DWORD kNoLimit = 0xFFFFFFFF;
constexpr const wchar_t* kSavedLayoutPathKey = L"Saved_Ltf_Path";
} // namespace KvwDesign

class TDesignLayouts : public IDesignLayouts {
public:
    explicit TDesignLayouts(TKvwDesignModule& module);
    ~TDesignLayouts() override;

    // IDesignLayouts.
    KvwResult Open() override { return OpenDesign(); }
    void Close() override { CloseDesign(); }
    bool WriteBack() override { return SaveLayout(); }
    void AnnouncePages() override { AnnouncePageSet(); }
    LONG GetPageCount() const override;
    void ForgetLayoutFile() override;
    bool HasLayoutDocument() const override { return m_document != nullptr; }
    std::unique_ptr<TdocDocument> CopyLayoutDocument() const override;
    unsigned GetLayoutGeneration() const override { return m_generation; }
    TdocDocument* GetLayoutDocument() const override { return m_document.get(); }
    TString GetTemplatePath() const override { return TemplateInUse(); }
    std::map<LONG, KvwItemId> GetPageItems() const override { return m_pages; }

    KvwResult OpenDesign();
    void CloseDesign();
    // Writes a changed layout back; true when it was written (or there was nothing to write).
    bool SaveLayout();
    void AnnouncePageSet();
    bool RegisterPages();
    bool FindDesignRecord(KvwItemId item, KvwItemId& record, CKvwSourceData& source) const;
    bool CreateLayoutFromTemplate();
    bool LoadLayoutFile(const TString& templatePath);
    bool SetLayoutDocument(std::unique_ptr<TdocDocument> document);
    // The template chosen in the properties panel; while no design is open only remembered as the last.
    void ChangeTemplate(const TString& templatePath) override;
    KvwResult RequestSelection(KvwItemIdList& ids, bool skipDesignPages);

    // The document of a stored layout's bytes: UTF-16LE units up to the first zero unit or the end (an odd
    // last byte is no unit); null when they hold no layout. The document library must be started.
    static std::unique_ptr<TdocDocument> DocumentOfStoredLayout(const std::vector<BYTE>& bytes);

    KvwItemId GetLayoutRecord() const { return m_layoutRecord; }
    // The page records by page number.
    const std::map<LONG, KvwItemId>& GetPageRecords() const { return m_pages; }
    bool ArePagesRegistered() const { return m_registered; }
    bool IsLayoutChanged() const { return m_changed; }
    const TString& GetLayoutPath() const { return m_layoutPath; }
    const KvwItemIdList& GetOpeningSelection() const { return m_openingSelection; }

private:
    KvwResult Send(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0, KvwWord p5 = 0,
                   KvwWord p6 = 0) const;
    KvwResult ReadStoredLayout(KvwItemId record, DWORD size);
    void ListStoredPages();
    void UnregisterPages();
    void DeleteLayoutFile();
    bool StoredPageChildren(KvwItemIdList& pages) const;
    bool IsRecord(KvwItemId id, bool page) const;
    bool StoreNewLayoutRecord(const std::vector<BYTE>& data);
    bool ReplaceLayoutRecord(const std::vector<BYTE>& data, KvwItemIdList& attached);
    bool AttachPages(const KvwItemIdList& attached);
    void SendShownItems(const KvwItemIdList& ids, KvwItemId current);
    TString TemplateInUse() const;

    TKvwDesignModule& m_module;
    std::unique_ptr<TdocDocument> m_document;
    KvwItemId m_layoutRecord = 0;
    std::map<LONG, KvwItemId> m_pages;
    bool m_registered = false;
    bool m_changed = false;
    TString m_layoutPath;
    TString m_templatePath;
    KvwItemIdList m_openingSelection;
    // The limit message was shown since the open (or the template change) began: it shows once each.
    bool m_limitTold = false;
    unsigned m_generation = 0;
};
